// Which HID interfaces are present, and which one --device names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

struct InterfaceEntry {
    std::string path;  // as enumerated: "/dev/hidraw3", "\\?\simhid#sim-12.sock", ...
    bool accessible = false;  // false: listed by the system but not opened (see problem)
    std::uint16_t vid = 0, pid = 0, usagePage = 0, usage = 0;
    std::string product;
    // Why the interface cannot be used as it stands: "no access", "descriptor does not parse",
    // "cannot open: <OS error>"; empty when it can.
    std::string problem;
    std::uint32_t busyPid = 0;  // the process that holds its claim, 0 when free
};

// Every present HID interface, in enumeration order.
std::vector<InterfaceEntry> ListHidInterfaces();

// The interface path that `given` names: an enumerated path as it stands, a simulator's
// socket file (by its name in the simulators' directory), or a device node (symbolic
// links resolved). Empty, with `error` set, when it names no present HID interface.
std::string ResolveDevicePath(const std::string& given, const std::vector<InterfaceEntry>& present,
                              std::string& error);

}  // namespace cli
