// One epoll descriptor over the notifier's sources: udev's monitor socket (or a netlink
// socket on the kernel's own events), an inotify watch on the simulators' folder and an
// eventfd the virtual-device registry writes.
#include "platform/hid/change_notifier.h"

#ifdef UVC_HAVE_LIBUDEV
#include <libudev.h>
#endif
#include <linux/netlink.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string_view>

#include "platform/hid/hid_library.h"
#include "platform/hid/transport_socket.h"

namespace hidtransport {

namespace {

#ifdef UVC_HAVE_LIBUDEV
// udevd's control socket: present while a udev daemon runs (what libudev itself asks).
constexpr const char* kUdevControl = "/run/udev/control";
#endif

constexpr std::uint32_t kFolderEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// The kernel's uevents go to this multicast group of NETLINK_KOBJECT_UEVENT; udevd's own
// (sent once it has made the node and set its access) to group 2.
constexpr unsigned kKernelEventGroup = 1;
// A uevent is at most a few KiB (the kernel's buffer is 2 KiB of environment).
constexpr std::size_t kUeventBytes = 8192;

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Whether a kernel uevent ("ACTION@DEVPATH", then NUL-separated KEY=value) is a hidraw
// node's.
bool IsHidrawUevent(std::string_view message) {
    while (!message.empty()) {
        const std::size_t end = message.find('\0');
        if (message.substr(0, end) == "SUBSYSTEM=hidraw") return true;
        if (end == std::string_view::npos) break;
        message.remove_prefix(end + 1);
    }
    return false;
}

}  // namespace

struct ChangeNotifier::State {
    std::mutex drain;  // one Drain at a time; guards everything below but the descriptors' numbers
    int epollFd = -1;

#ifdef UVC_HAVE_LIBUDEV
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
#endif
    int kernelFd = -1;  // the kernel's uevents, where no udev daemon runs
    HidrawEvents hidraw = HidrawEvents::None;

    int inotifyFd = -1;
    int watch = -1;  // -1: the folder is not watched (any more)
    std::string folder;
    bool defaultFolder = false;  // the runtime directory, made again if it is removed

    int eventFd = -1;

    bool Add(int fd) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        return epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event) == 0;
    }

    // udev's events when a udev daemon runs: they come after it has made the node and set
    // who may open it, so a consumer woken by one can open the node. Without a daemon
    // nobody sends them; the kernel's own then tell of nodes coming and going (devtmpfs
    // has made the node before the event is sent).
    void SetUpHidraw() {
#ifdef UVC_HAVE_LIBUDEV
        if (::access(kUdevControl, F_OK) == 0 && (context = udev_new()) != nullptr) {
            monitor = udev_monitor_new_from_netlink(context, "udev");
            if (monitor != nullptr && udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr) >= 0 &&
                udev_monitor_enable_receiving(monitor) >= 0 && Add(udev_monitor_get_fd(monitor))) {
                hidraw = HidrawEvents::Udev;
                return;
            }
            if (monitor) udev_monitor_unref(monitor);
            monitor = nullptr;
        }
#endif
        kernelFd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
        sockaddr_nl address{};
        address.nl_family = AF_NETLINK;
        address.nl_groups = kKernelEventGroup;
        if (kernelFd < 0 || ::bind(kernelFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            !Add(kernelFd)) {
            CloseFd(kernelFd);
            return;
        }
        hidraw = HidrawEvents::Kernel;
    }

    void SetUpFolder(const std::string& given) {
        defaultFolder = given.empty();
        folder = given;
        if (defaultFolder && simsocket::RuntimeDirectory(true, folder) != ERROR_SUCCESS) folder.clear();
        if (folder.empty()) return;
        inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (inotifyFd < 0 || !Add(inotifyFd)) {
            CloseFd(inotifyFd);
            folder.clear();
            return;
        }
        WatchFolder();
    }

    // (Re)places the watch; a removed runtime directory is made again first.
    void WatchFolder() {
        std::string made;
        if (defaultFolder) simsocket::RuntimeDirectory(true, made);
        watch = inotify_add_watch(inotifyFd, folder.c_str(), kFolderEvents);
    }

    void SetUpVirtual() {
        eventFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (eventFd < 0 || !Add(eventFd)) {
            CloseFd(eventFd);
            return;
        }
        vhid::WatchPublications(eventFd);
    }

    bool DrainMonitor() {
        bool changed = false;
#ifdef UVC_HAVE_LIBUDEV
        while (monitor != nullptr) {
            errno = 0;
            udev_device* device = udev_monitor_receive_device(monitor);
            if (device != nullptr) {
                udev_device_unref(device);
                changed = true;
            } else if (errno == ENOBUFS) {
                changed = true;  // events lost to a full socket buffer: anything may have changed
            } else {
                break;
            }
        }
#endif
        return DrainKernel() || changed;
    }

    // Only the kernel's messages count (sender port 0); anyone else's are dropped.
    bool DrainKernel() {
        if (kernelFd < 0) return false;
        bool changed = false;
        std::string buffer(kUeventBytes, '\0');
        for (;;) {
            sockaddr_nl sender{};
            socklen_t senderBytes = sizeof sender;
            const ssize_t n = ::recvfrom(kernelFd, buffer.data(), buffer.size(), MSG_TRUNC,
                                         reinterpret_cast<sockaddr*>(&sender), &senderBytes);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == ENOBUFS) {
                changed = true;
                continue;
            }
            if (n < 0) break;
            if (sender.nl_pid != 0) continue;
            // A message cut short still names its subsystem near its start.
            const std::size_t got = std::min(static_cast<std::size_t>(n), buffer.size());
            if (IsHidrawUevent(std::string_view(buffer.data(), got))) changed = true;
        }
        return changed;
    }

    bool DrainFolder() {
        if (inotifyFd < 0) return false;
        bool changed = false;
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(inotifyFd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
                inotify_event event;
                std::memcpy(&event, buffer + at, sizeof event);
                const char* name = buffer + at + static_cast<ssize_t>(sizeof event);
                at += static_cast<ssize_t>(sizeof event + event.len);
                if (event.mask & (IN_Q_OVERFLOW | IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) changed = true;
                if (event.mask & IN_IGNORED) watch = -1;  // the folder went: every simulator with it
                // Only names the transport lists count; a simulator's hidden bind name does not.
                if (event.len > 0 && simsocket::IsValidSocketName(std::string_view(name, strnlen(name, event.len))))
                    changed = true;
            }
        }
        if (watch < 0) WatchFolder();
        return changed;
    }

    bool DrainVirtual() {
        if (eventFd < 0) return false;
        std::uint64_t count = 0;
        ssize_t n = 0;
        do {
            n = ::read(eventFd, &count, sizeof count);
        } while (n < 0 && errno == EINTR);
        return n == static_cast<ssize_t>(sizeof count);
    }

    ~State() {
        if (eventFd >= 0) vhid::UnwatchPublications(eventFd);
        CloseFd(eventFd);
        CloseFd(inotifyFd);
        CloseFd(kernelFd);
#ifdef UVC_HAVE_LIBUDEV
        if (monitor) udev_monitor_unref(monitor);
        if (context) udev_unref(context);
#endif
        CloseFd(epollFd);
    }
};

ChangeNotifier::ChangeNotifier(NotifierOptions options) : state_(std::make_unique<State>()) {
    hidlibrary::EnsureRegistered();
    state_->epollFd = epoll_create1(EPOLL_CLOEXEC);
    if (state_->epollFd < 0) return;
    if (options.hidraw) state_->SetUpHidraw();
    if (options.simulators) state_->SetUpFolder(options.simulatorFolder);
    if (options.virtualDevices) state_->SetUpVirtual();
}

ChangeNotifier::~ChangeNotifier() = default;

int ChangeNotifier::Fd() const { return state_->epollFd; }

bool ChangeNotifier::Drain() {
    std::lock_guard guard(state_->drain);
    // Every source is drained, whichever woke the caller.
    const bool hidraw = state_->DrainMonitor();
    const bool folder = state_->DrainFolder();
    const bool virtualDevices = state_->DrainVirtual();
    return hidraw || folder || virtualDevices;
}

bool ChangeNotifier::Wait(int timeoutMs) const {
    if (state_->epollFd < 0) return false;
    pollfd fd{state_->epollFd, POLLIN, 0};
    return ::poll(&fd, 1, timeoutMs) > 0;
}

HidrawEvents ChangeNotifier::HidrawSource() const { return state_->hidraw; }

const std::string& ChangeNotifier::SimulatorFolder() const { return state_->folder; }

bool ChangeNotifier::WatchesVirtualDevices() const { return state_->eventFd >= 0; }

}  // namespace hidtransport
