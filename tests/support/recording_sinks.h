// Records what the services report (trace lines, boxes, progress), for tests that run them
// with no window. Thread-safe: a run's reports may come from a worker. Notes whether each
// burst's count only grows within its total, and can raise a signal after a chosen post,
// as an interrupt at that chunk would.
#pragma once

#include <csignal>
#include <mutex>
#include <string>
#include <vector>

#include "core/report.h"

namespace testsupport {

class RecordingSinks final : public core::Reporter, public core::ProgressSink {
public:
    void Trace(std::string_view line) override { Add(traces_, std::string(line)); }
    void Show(const core::Box& box) override { Add(boxes_, box); }
    void Start(std::uint32_t total, std::string_view status) override {
        std::lock_guard guard(lock_);
        total_ = total;
        done_ = 0;
        if (!status.empty()) status_ = status;
        ++bursts_;
    }
    void Post(std::uint32_t done) override {
        std::size_t count = 0;
        {
            std::lock_guard guard(lock_);
            if (done < done_ || done > total_) ordered_ = false;
            done_ = done;
            posts_.push_back(done);
            count = posts_.size();
        }
        for (auto [after, signal] : raiseAfterPost)
            if (after == count) std::raise(signal);
    }
    void Flush() override {}
    void Position(std::uint32_t) override {}
    void Status(std::string_view text) override {
        std::lock_guard guard(lock_);
        status_ = text;
    }

    std::vector<std::string> Traces() const { return Get(traces_); }
    std::vector<core::Box> Boxes() const { return Get(boxes_); }
    std::uint32_t Total() const { return Get(total_); }
    std::vector<std::uint32_t> Posts() const { return Get(posts_); }
    std::string StatusText() const { return Get(status_); }
    int Bursts() const { return Get(bursts_); }
    bool Ordered() const { return Get(ordered_); }
    void Clear() {
        std::lock_guard guard(lock_);
        traces_.clear();
        boxes_.clear();
        posts_.clear();
    }

    std::vector<std::pair<std::size_t, int>> raiseAfterPost;  // (posts since Clear, signal); set before a run

private:
    template <class T, class V>
    void Add(std::vector<T>& list, V value) {
        std::lock_guard guard(lock_);
        list.push_back(std::move(value));
    }
    template <class T>
    T Get(const T& value) const {
        std::lock_guard guard(lock_);
        return value;
    }

    mutable std::mutex lock_;
    std::vector<std::string> traces_;
    std::vector<core::Box> boxes_;
    std::vector<std::uint32_t> posts_;
    std::uint32_t total_ = 0, done_ = 0;
    std::string status_;
    int bursts_ = 0;
    bool ordered_ = true;
};

}  // namespace testsupport
