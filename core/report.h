// How the services below the front ends report to the user: trace lines, message boxes
// as values, and the progress of a flash burst. The dialog shows them in its window, the
// command line on its streams and in its log; tests record them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace core {

enum class Icon { None, Error, Information, Warning };

// Who owns a message box: the main dialog, or nobody (the workers' outcome boxes).
enum class BoxOwner { Dialog, None };

struct Box {
    BoxOwner owner = BoxOwner::Dialog;
    std::string text;
    std::string caption;
    Icon icon = Icon::None;
    bool operator==(const Box&) const = default;
};

// An error box owned by the dialog, the commonest kind.
inline Box ErrorBox(std::string text) { return {BoxOwner::Dialog, std::move(text), "Error", Icon::Error}; }

class Reporter {
public:
    virtual ~Reporter() = default;
    // One trace line, formatted by the caller (it ends in "\n").
    virtual void Trace(std::string_view line) = 0;
    // Shows a box; returns when it was dismissed (an ownerless box may return at once).
    virtual void Show(const Box& box) = 0;
};

// The progress of a burst: a total, the bytes done and a status text. Post is called once
// per chunk from the transferring thread and must not wait for a display.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    // A burst of `total` bytes begins: done is 0; `status` (when not empty) replaces the status text.
    virtual void Start(std::uint32_t total, std::string_view status) = 0;
    virtual void Post(std::uint32_t done) = 0;
    // Returns once every posted value is shown (the end of a burst).
    virtual void Flush() = 0;
    // Moves only the bar (the burn shows a finished transfer this way).
    virtual void Position(std::uint32_t done) = 0;
    virtual void Status(std::string_view text) = 0;
};

// For callers that show no progress.
class NoProgress final : public ProgressSink {
public:
    void Start(std::uint32_t, std::string_view) override {}
    void Post(std::uint32_t) override {}
    void Flush() override {}
    void Position(std::uint32_t) override {}
    void Status(std::string_view) override {}
};

}  // namespace core
