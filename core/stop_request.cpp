#include "core/stop_request.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstddef>

namespace core {

namespace {

// Shared with the signal handler, so lock-free atomics only.
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<const char*>::is_always_lock_free);

std::atomic<int> requests{0};
std::atomic<int> firstSignal{0};
std::atomic<int> deferring{0};  // burns in progress
std::atomic<int> held{0};       // 1 while a StopHold lives
std::atomic<const char*> notice{nullptr};
std::atomic<std::size_t> noticeLength{0};
std::atomic<int> wakeWrite{-1};

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction savedActions[std::size(kStopSignals)];
struct sigaction savedPipeAction;

extern "C" void OnStopSignal(int signal) { RequestStop(signal); }

// write(2) to the end of the text; a closed or full descriptor ends it.
void Put(int fd, const char* text, std::size_t length) {
    while (length > 0) {
        ssize_t n = write(fd, text, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        length -= static_cast<std::size_t>(n);
    }
}

}  // namespace

int StopRequests() {
    const int seen = requests.load(std::memory_order_acquire) - held.load(std::memory_order_acquire);
    return seen < 0 ? 0 : seen > 2 ? 2 : seen;
}

int StopRequestsReceived() { return requests.load(std::memory_order_acquire); }

int StopSignal() { return firstSignal.load(std::memory_order_acquire); }

bool StopBeforeNextChunk(bool burnTransfer) { return StopRequests() >= (burnTransfer ? 2 : 1); }

void RequestStop(int signal) {
    const int savedErrno = errno;
    int expected = 0;
    firstSignal.compare_exchange_strong(expected, signal, std::memory_order_acq_rel);
    int before = requests.load(std::memory_order_relaxed);
    while (before < 3 && !requests.compare_exchange_weak(before, before + 1, std::memory_order_acq_rel)) {
    }
    // Announced when the burns see their first request: after a held one, the second.
    const char* text = notice.load(std::memory_order_acquire);
    if (before == held.load(std::memory_order_acquire) && text != nullptr && deferring.load(std::memory_order_acquire) > 0)
        Put(STDERR_FILENO, text, noticeLength.load(std::memory_order_acquire));
    const char wake = 1;
    if (int fd = wakeWrite.load(std::memory_order_acquire); fd >= 0) Put(fd, &wake, 1);  // a full pipe has wakes enough
    errno = savedErrno;
}

void ResetStopRequests() {
    requests.store(0, std::memory_order_release);
    firstSignal.store(0, std::memory_order_release);
}

StopHold::StopHold() { held.store(1, std::memory_order_release); }

StopHold::~StopHold() { held.store(0, std::memory_order_release); }

DeferredStop::DeferredStop() { deferring.fetch_add(1, std::memory_order_acq_rel); }

DeferredStop::~DeferredStop() { deferring.fetch_sub(1, std::memory_order_acq_rel); }

StopSignals::StopSignals(std::string text) : notice_(std::move(text)) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        wakeRead_ = fds[0];
        wakeWrite.store(fds[1], std::memory_order_release);
    }
    noticeLength.store(notice_.size(), std::memory_order_release);
    notice.store(notice_.c_str(), std::memory_order_release);

    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESTART;  // a transfer's read or write goes on after the handler
    sigemptyset(&action.sa_mask);
    for (int signal : kStopSignals) sigaddset(&action.sa_mask, signal);
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) sigaction(kStopSignals[i], &action, &savedActions[i]);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &savedPipeAction);
}

StopSignals::~StopSignals() {
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) sigaction(kStopSignals[i], &savedActions[i], nullptr);
    sigaction(SIGPIPE, &savedPipeAction, nullptr);
    notice.store(nullptr, std::memory_order_release);
    if (int fd = wakeWrite.exchange(-1, std::memory_order_acq_rel); fd >= 0) close(fd);
    if (wakeRead_ >= 0) close(wakeRead_);
}

}  // namespace core
