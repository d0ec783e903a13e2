// The Linux hidraw transport. Interfaces are found through libudev (or a plain scan of
// sysfs, the hidraw class directory, where libudev cannot serve), opened through their /dev/hidrawN nodes, and served by the hidraw ioctls
// (HIDIOCSOUTPUT, HIDIOCGINPUT, HIDIOCSFEATURE, HIDIOCGFEATURE) and read()/write().
// Every Connection member answers a Win32 error number, through Win32ErrorFromErrno.
//
// Its parts, each testable without a kernel device:
//   hidraw_ioctl.h       length limits, ioctl numbers, the answer copy rule, transfer errors
//   hidraw_sysfs.h       the scan of sysfs: nodes, ids, endpoints, descriptors, strings
//   hidraw_udev.h        the same nodes as libudev lists them
//   hidraw_quirks.h      usbhid's quirks parameter, and the advice printed on refusals
//   hidraw_connection.h  the connection over an open node (or any fd, for tests)
// and here the provider, which holds where it looks and how it opens a node.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/hid/hid_transport.h"
#include "platform/hid/hidraw_connection.h"
#include "platform/hid/hidraw_ioctl.h"
#include "platform/hid/hidraw_quirks.h"
#include "platform/hid/hidraw_sysfs.h"

namespace hidraw {

struct ProviderOptions {
    // With the system's roots the nodes are listed through libudev, and by the sysfs walk
    // only when libudev's enumeration fails; with any other roots (a test's fake tree), or
    // with `udev` cleared, by the sysfs walk.
    Roots roots;
    bool udev = true;
    std::string usbhidQuirks = kUsbhidQuirksPath;  // usbhid's quirks parameter file
    // Opens a node for reading and writing, with open(2)'s contract (an fd, or -1 and
    // errno). Empty: open(2) itself. Tests make it fail as the system refuses a node this
    // user may not open, which a test run as root cannot make otherwise.
    std::function<int(const std::string& file)> openNode;
};

// How a provider made with `options` lists nodes: through libudev or by the sysfs walk.
bool ListsThroughUdev(const ProviderOptions& options);

// The provider over the nodes of `options.roots`. The HID library registers one with the
// defaults, the system's sysfs and /dev.
std::shared_ptr<hidtransport::Provider> MakeHidrawProvider(ProviderOptions options = {});

}  // namespace hidraw
