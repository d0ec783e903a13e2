// A connection over an open hidraw node: the report ioctls (HIDIOCSOUTPUT, HIDIOCGINPUT,
// HIDIOCSFEATURE, HIDIOCGFEATURE), read() and write() of the interrupt pipes, the queue
// drain before requests answered on the input pipe, unplug detection, and the device
// claim. Every member answers a Win32 error number, through Win32ErrorFromErrno and the
// transfer rules of hidraw_ioctl.h.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "platform/hid/hid_transport.h"
#include "platform/hid/hidraw_sysfs.h"

namespace hidraw {

// How long ReadReport waits for an input report. ReadFile on Windows would block until
// one arrives; we wait as long as the kernel waits for a control transfer, so a silent
// device can never hang the tool.
inline constexpr int kReadTimeoutMs = 5000;
// FlushQueue, and the drain before each output or SET_REPORT(Feature) request (so that an
// answer read afterwards is never one queued before the request), read at most this many
// queued reports (the kernel queues 64 per open file), so a device that keeps sending
// cannot keep them busy forever.
inline constexpr int kMaxFlushReads = 256;

struct ConnectionOptions {
    int readTimeoutMs = kReadTimeoutMs;
    // How report and descriptor requests reach the kernel, with ioctl(2)'s contract (the
    // result, or -1 and errno). Empty: ioctl(2) itself. Tests stand in for a device whose
    // requests fail as real ones do.
    std::function<int(int fd, unsigned long request, void* argument)> ioctl;
};

// A connection over an open hidraw file descriptor, which it owns and closes. `node` is
// the node's sysfs view when known; `attributes` are what GetAttributes answers. The
// provider builds one per opened node; tests build one over a socket to exercise read(),
// write() and poll().
std::unique_ptr<hidtransport::Connection> MakeConnection(int fd, std::optional<NodeInfo> node,
                                                         hidtransport::InterfaceInfo attributes,
                                                         ConnectionOptions options = {});

}  // namespace hidraw
