// Which HID interfaces are present, which boards they belong to, and which one --device
// names.
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
    std::string serial;    // the USB serial number; empty when the device has none
    std::string portPath;  // the USB port path ("1-2.3"); empty when there is none
    std::string plugId;    // which plug-in of the device this is (InterfaceInfo::plugId); empty: unknown
    // Why the interface cannot be used as it stands: "no access", "descriptor does not parse",
    // "cannot open: <OS error>"; empty when it can.
    std::string problem;
    std::uint32_t busyPid = 0;  // the process that holds its claim, 0 when free
};

// Every present HID interface, in enumeration order. `open`: each is opened for its usage,
// product and holder; without, only what the enumeration tells (path, ids, serial, port).
std::vector<InterfaceEntry> ListHidInterfaces(bool open = true);

// The board an interface belongs to: the interfaces of one USB device share its port path;
// an interface without one is a board of its own.
std::string BoardKey(const InterfaceEntry& entry);
// How lines and the log name a device: its port path, else a simulator's socket name, else
// its path.
std::string DeviceLabel(const std::string& path, const std::string& portPath);
// The --device text that names this board: "usb:PORT" when it has a port path, else its path.
std::string DeviceArgument(const InterfaceEntry& entry);

// The interfaces `given` names, in enumeration order: an enumerated path as it stands, a
// simulator's socket file (by its name in the simulators' directory), a device node
// (symbolic links resolved), "usb:PORT" (every interface at that port) or "serial:TEXT"
// (every interface with that serial number). Empty, with `error` set, when none.
std::vector<InterfaceEntry> InterfacesNamed(const std::string& given, const std::vector<InterfaceEntry>& present,
                                            std::string& error);

// The first interface of each board among `entries`, in order: more than one means the
// choice is ambiguous.
std::vector<InterfaceEntry> Boards(const std::vector<InterfaceEntry>& entries);

// The refusal of an ambiguous choice: how many boards, and the --device text of each.
std::string AmbiguityText(const std::string& what, const std::vector<InterfaceEntry>& boards);

}  // namespace cli
