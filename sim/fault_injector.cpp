#include "sim/fault_injector.h"

#include <sys/prctl.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace sim {

TransferOutcome FaultInjector::Handle(const TransferRequest& request, std::vector<std::uint8_t>* answer) {
    const std::uint64_t sequence = ++transfers_;
    if (unplugAfter_ && sequence > *unplugAfter_) return {ERROR_DEVICE_NOT_CONNECTED, "fault: unplugged"};
    if (failAt_ && sequence == *failAt_) {
        failAt_.reset();
        return {ERROR_GEN_FAILURE, "fault: failed transfer"};
    }
    TransferOutcome outcome = next_.Handle(request, answer);
    if (answer && outcome.result == ERROR_SUCCESS) ApplyAnswerFaults(*answer, outcome.note);
    return outcome;
}

void FaultInjector::ApplyAnswerFaults(std::vector<std::uint8_t>& answer, std::string& note) const {
    if (truncateTo_ && answer.size() > *truncateTo_) {
        answer.resize(*truncateTo_);
        note = "fault: answer truncated";
    }
    if (junkBytes_ > 0) {
        for (std::size_t i = 0; i < junkBytes_; ++i) answer.push_back(static_cast<std::uint8_t>(0xA5 ^ i));
        note = "fault: junk appended";
    }
}

void FaultInjector::FailTransfer(std::uint64_t nth) {
    if (nth == 0)
        failAt_.reset();
    else
        failAt_ = transfers_ + nth;
}

void FaultInjector::UnplugAfter(std::uint64_t transfers) { unplugAfter_ = transfers_ + transfers; }

void FaultInjector::SetDelay(std::chrono::microseconds perTransfer, PaceKind kind) {
    delay_ = std::max(perTransfer, std::chrono::microseconds{0});
    paceKind_ = kind;
}

void FaultInjector::SetInputTruncation(std::optional<std::size_t> bytes) { truncateTo_ = bytes; }

void FaultInjector::SetInputJunk(std::size_t bytes) { junkBytes_ = std::min<std::size_t>(bytes, 4096); }

void FaultInjector::Clear() {
    failAt_.reset();
    unplugAfter_.reset();
    delay_ = std::chrono::microseconds{0};
    paceKind_ = PaceKind::Exact;
    truncateTo_.reset();
    junkBytes_ = 0;
}

void PaceTransfer(std::chrono::microseconds delay, PaceKind kind) {
    constexpr std::chrono::milliseconds kSleepAbove{2};
    if (delay <= std::chrono::microseconds{0}) return;
    if (kind == PaceKind::Idle) {
        // The default slack of 50 us would be a fifth of a 250 us pace.
        thread_local const bool leastSlack = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
        (void)leastSlack;
        timespec until{};
        clock_gettime(CLOCK_MONOTONIC, &until);
        const auto total = std::chrono::nanoseconds(delay).count() + until.tv_nsec;
        until.tv_sec += static_cast<time_t>(total / 1000000000);
        until.tv_nsec = static_cast<long>(total % 1000000000);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
        }
        return;
    }
    if (delay >= kSleepAbove) {
        std::this_thread::sleep_for(delay);
        return;
    }
    auto until = std::chrono::steady_clock::now() + delay;
    while (std::chrono::steady_clock::now() < until) std::this_thread::yield();
}

}  // namespace sim
