// Wakes a program when HID interfaces may have appeared or gone: hidraw nodes (udev's
// events, or the kernel's own where no udev daemon runs), simulators whose sockets come
// and go in the simulators' folder, and in-process virtual devices being published or
// withdrawn.
//
// The notifier says only "look again"; it does not say what changed. A consumer makes the
// notifier first, then enumerates, and on every wake calls Drain() before it enumerates
// again and compares with what it had: a change that happens after Drain() makes Fd()
// readable again, so none is missed between a wake and the next enumeration. Some changes
// raise no event (a simulator killed outright leaves its socket file until the next
// enumeration removes it; a source that could not be set up), so a consumer also
// enumerates again on a timeout of its own, a few seconds, as a safety net.
//
// Fd() and Wait() may be used from any thread; Drain() too, one caller at a time is
// enforced inside. The notifier owns its descriptors and closes them when destroyed.
#pragma once

#include <memory>
#include <string>

namespace hidtransport {

struct NotifierOptions {
    // hidraw nodes: udev's events through libudev's monitor; the kernel's own events (a
    // netlink socket) when /run/udev/control shows no udev daemon, or in a program built
    // without libudev.
    bool hidraw = true;
    // The simulators' socket folder; empty: the folder the socket transport looks in (its
    // runtime directory, created if missing), resolved when the notifier is made.
    bool simulators = true;
    std::string simulatorFolder;
    // In-process virtual devices (vhid::Publish and the end of a publication).
    bool virtualDevices = true;
};

// Where hidraw events come from.
enum class HidrawEvents { None, Udev, Kernel };

class ChangeNotifier {
public:
    explicit ChangeNotifier(NotifierOptions options = {});
    ~ChangeNotifier();
    ChangeNotifier(const ChangeNotifier&) = delete;
    ChangeNotifier& operator=(const ChangeNotifier&) = delete;

    // Readable (poll/epoll POLLIN) while events wait to be drained. Valid for the
    // notifier's life; -1 only when not even the notifier's own descriptor could be made.
    int Fd() const;
    // Consumes every waiting event. True when any of them may have changed the list of
    // interfaces (events of no interest, such as a simulator's temporary file, answer false).
    bool Drain();
    // Waits up to timeoutMs (-1: without limit) for Fd() to become readable; true if it did,
    // false on the timeout and when a signal interrupted the wait (so the caller can look
    // at its stop requests).
    bool Wait(int timeoutMs) const;

    // What the notifier listens to, for messages and tests.
    HidrawEvents HidrawSource() const;
    // The folder watched for simulators; empty when none is.
    const std::string& SimulatorFolder() const;
    bool WatchesVirtualDevices() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace hidtransport
