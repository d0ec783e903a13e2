// The hidraw nodes as libudev lists them: the hidraw devices, and walking up from each the
// HID device (HID_ID), the USB interface (interface number, endpoints) and the USB device
// (version, serial number, and its name, the port path "1-2.3").
//
// libudev reads sysfs and the kernel's uevent data itself, so it also serves a system
// without a udev daemon. The plain sysfs walk (hidraw_sysfs.h) stays for what libudev
// cannot serve: a tree other than the system's (tests point the provider at a fake one),
// and a system where libudev's enumeration fails.
#pragma once

#include <optional>
#include <vector>

#include "platform/hid/hidraw_sysfs.h"

namespace hidraw {

// Every node whose /dev node is there, in node-number order; nothing when libudev could
// not enumerate, or the program was built without it (UVC_UDEV=OFF, as a statically
// linked one is).
std::optional<std::vector<NodeInfo>> ScanNodesWithUdev();

}  // namespace hidraw
