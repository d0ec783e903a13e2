// Faults in front of any stage of a simulated device's transfer path: a failed transfer,
// an unplug, short or overlong answers, a pace per transfer. Positions count the
// transfers that pass through the injector, from the moment the fault is set, so
// injectors stack: each counts its own. Not thread-safe: the owner serialises.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "sim/transfer_handler.h"

namespace sim {

// How a pace is kept. Exact waits on the clock below 2 ms, for measurements of the host's
// cost against a short pace in one process; Idle sleeps, leaving the processor to others,
// as a device the host waits on does (many simulators on few cores).
enum class PaceKind { Exact, Idle };

class FaultInjector final : public TransferHandler {
public:
    // `next` is the stage the transfers go on to; it must outlive the injector.
    explicit FaultInjector(TransferHandler& next) : next_(next) {}
    // In front of another injector: stacks on it (an injector is never copied).
    explicit FaultInjector(FaultInjector& next) : next_(next) {}
    FaultInjector(const FaultInjector&) = delete;
    FaultInjector& operator=(const FaultInjector&) = delete;

    // After the unplug every transfer fails with ERROR_DEVICE_NOT_CONNECTED; a failed
    // transfer fails once with ERROR_GEN_FAILURE; neither reaches the next stage. Answer
    // faults act on accepted answers only: first the truncation, then the junk.
    TransferOutcome Handle(const TransferRequest& request, std::vector<std::uint8_t>* answer) override;

    void FailTransfer(std::uint64_t nth);                   // the nth fails once (1 = the next; 0 clears)
    void UnplugAfter(std::uint64_t transfers);              // later ones fail as after an unplug
    void SetDelay(std::chrono::microseconds perTransfer,    // negative counts as none
                  PaceKind kind = PaceKind::Exact);
    void SetInputTruncation(std::optional<std::size_t> bytes);  // answers cut to this
    void SetInputJunk(std::size_t bytes);                   // appended to every answer (up to 4096)
    void Clear();

    // The pace the owner keeps before each transfer, outside its lock (PaceTransfer).
    std::chrono::microseconds Delay() const { return delay_; }
    PaceKind DelayKind() const { return paceKind_; }

private:
    void ApplyAnswerFaults(std::vector<std::uint8_t>& answer, std::string& note) const;

    TransferHandler& next_;
    std::uint64_t transfers_ = 0;
    std::optional<std::uint64_t> failAt_;
    std::optional<std::uint64_t> unplugAfter_;
    std::chrono::microseconds delay_{0};
    PaceKind paceKind_ = PaceKind::Exact;
    std::optional<std::size_t> truncateTo_;
    std::size_t junkBytes_ = 0;
};

// A transfer's time on the bus: waits `delay`. A sleep overshoots by tens of microseconds,
// far too much for an exact pace of a few hundred, so short Exact delays wait on the clock;
// an Idle one sleeps to a deadline with the thread's timer slack at its least.
void PaceTransfer(std::chrono::microseconds delay, PaceKind kind = PaceKind::Exact);

}  // namespace sim
