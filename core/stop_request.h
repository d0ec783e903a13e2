// Stop requests: SIGINT, SIGTERM and SIGHUP do not end the program mid-transfer; their
// handler only counts them, and the flash transfers decide where to stop. A burn finishes
// the write in progress and its compare at the first request and stops at the next chunk
// at the second; a read (a dump, a verify, a read-back) stops at the next chunk at the
// first. Every layer may ask; only the front ends install the handlers.
#pragma once

#include <string>

namespace core {

// Requests since the last reset that the runs see: 0 none, 1 one, 2 a repeated one
// (counted up to 2). While a StopHold lives, its first request is not among them.
int StopRequests();
// Every request since the last reset, a held one included (counted up to 3).
int StopRequestsReceived();
// The number of the first signal that asked, 0 when none did.
int StopSignal();
// Whether a burst must stop before its next chunk: a burn's writes and compares at a
// repeated request, every read at the first.
bool StopBeforeNextChunk(bool burnTransfer);

// What the handler does: counts the request, announces a first one on standard error
// while a burn defers it, and wakes the watcher of WakeFd. Async-signal-safe.
void RequestStop(int signal);
// Forgets every request (a test's next run).
void ResetStopRequests();

// While it lives, the first request is the front end's alone: it stops taking new work
// and lets the runs in progress finish, which see only the requests after it (a second
// request reaches a burn as a first would). One at a time.
class StopHold {
public:
    StopHold();
    ~StopHold();
    StopHold(const StopHold&) = delete;
    StopHold& operator=(const StopHold&) = delete;
};

// Lives for the span of a burn: a first request in it finishes the write in progress.
class DeferredStop {
public:
    DeferredStop();
    ~DeferredStop();
    DeferredStop(const DeferredStop&) = delete;
    DeferredStop& operator=(const DeferredStop&) = delete;
};

// While it lives, SIGINT, SIGTERM and SIGHUP request a stop and SIGPIPE is ignored, so a
// write to a closed pipe fails as an output error instead of ending the program. One at
// a time; the previous dispositions come back when it ends.
class StopSignals {
public:
    // `notice` is written on standard error as given (with its line end), at once, when a
    // first request comes during a burn.
    explicit StopSignals(std::string notice);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Readable after each request (one byte per request): an event loop watches it.
    int WakeFd() const { return wakeRead_; }

private:
    std::string notice_;
    int wakeRead_ = -1;
};

// The notice of a first request during a burn.
inline constexpr const char* kStopDeferredNotice =
    "interrupt received: finishing the write so the board is not left half-written; interrupt again to stop now";

}  // namespace core
