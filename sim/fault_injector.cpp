#include "sim/fault_injector.h"

#include <algorithm>
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

void FaultInjector::SetDelay(std::chrono::microseconds perTransfer) {
    delay_ = std::max(perTransfer, std::chrono::microseconds{0});
}

void FaultInjector::SetInputTruncation(std::optional<std::size_t> bytes) { truncateTo_ = bytes; }

void FaultInjector::SetInputJunk(std::size_t bytes) { junkBytes_ = std::min<std::size_t>(bytes, 4096); }

void FaultInjector::Clear() {
    failAt_.reset();
    unplugAfter_.reset();
    delay_ = std::chrono::microseconds{0};
    truncateTo_.reset();
    junkBytes_ = 0;
}

void PaceTransfer(std::chrono::microseconds delay) {
    constexpr std::chrono::milliseconds kSleepAbove{2};
    if (delay <= std::chrono::microseconds{0}) return;
    if (delay >= kSleepAbove) {
        std::this_thread::sleep_for(delay);
        return;
    }
    auto until = std::chrono::steady_clock::now() + delay;
    while (std::chrono::steady_clock::now() < until) std::this_thread::yield();
}

}  // namespace sim
