// The hidraw transport's view of sysfs: which hidraw nodes there are, the HID and USB
// devices behind each (ids, version, interface, interrupt OUT endpoint), their report
// descriptors and USB strings. Every function that reads the tree takes the Roots to read,
// so a test points one at a fake tree without touching anyone else's.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hid/hid_transport.h"

namespace hidraw {

// Where the scan looks: the hidraw class directory, and the directory of the /dev nodes
// that DEVNAME names.
struct Roots {
    std::string sysfs = "/sys/class/hidraw";
    std::string dev = "/dev";
};

// 12 for "hidraw12"; nothing for other names.
std::optional<unsigned> NodeNumber(std::string_view name);
// The hidraw node names among `names`, in node-number order (hidraw2 before hidraw10).
std::vector<std::string> SortedNodeNames(std::vector<std::string> names);

// The value of `key` in a uevent file ("KEY=value" lines), without line end.
std::optional<std::string> UeventValue(std::string_view uevent, std::string_view key);

struct HidId {
    USHORT bus = 0;
    USHORT vendor = 0;
    USHORT product = 0;
};
// HID_ID "0003:0000046D:0000C077" (bus:vendor:product, hex). A value that does not fit
// 16 bits is refused: truncating it could make the node pass for another device.
std::optional<HidId> ParseHidId(std::string_view value);

// A sysfs hex attribute such as bInterfaceNumber ("%02x\n") or bcdDevice ("%04x\n").
std::optional<unsigned> ParseHexAttribute(std::string_view text, unsigned maximum);
// "241:3\n" from a device's `dev` attribute.
std::optional<dev_t> ParseDevNumber(std::string_view text);

// Whether an endpoint directory's `direction` and `type` texts describe an interrupt OUT
// endpoint.
bool IsInterruptOut(std::string_view direction, std::string_view type);
// Whether the USB interface directory has an interrupt OUT endpoint (an ep_XX directory).
bool InterfaceHasInterruptOut(const std::string& interfaceDir);

// A UTF-8 sysfs text as UTF-16, without its trailing newline.
std::u16string SysfsText(std::string_view raw);

// What sysfs tells of one hidraw node.
struct NodeInfo {
    std::string name;        // "hidraw3"
    unsigned number = 0;     // 3
    std::string devicePath;  // dev root + "/" + DEVNAME
    std::optional<dev_t> devNumber;
    std::string hidDir;      // real path of the HID device directory
    HidId id;
    USHORT version = 0;      // bcdDevice of a USB device, else 0
    bool usb = false;        // bus 0003 below a USB interface
    std::string interfaceDir;   // USB only: the interface, hidDir/..
    std::string usbDeviceDir;   // USB only: the device, hidDir/../..
    unsigned interfaceNumber = 0;
    std::string portPath;       // USB only: the USB device's name, "1-2.3"
    std::u16string serialNumber;  // USB only: its serial number string, when it has one
    // This plug-in's identity (InterfaceInfo::plugId): "usb:BUS:DEV" for a USB node, else
    // "hid:" and the HID device's name; empty when a USB device's numbers cannot be read.
    std::string plugId;
    // USB only: output reports (HIDIOCSOUTPUT and write()) go to this endpoint instead of
    // a SET_REPORT(Output) control transfer, unless the usbhid quirk
    // HID_QUIRK_NO_OUTPUT_REPORTS_ON_INTR_EP is set for the device.
    bool hasInterruptOut = false;
};

// Fills the USB part of a node from its HID device directory: the interface is its parent
// (which must have bInterfaceNumber), the USB device the interface's parent; its bcdDevice
// is the version, its directory's name the port path.
void ReadUsbPart(NodeInfo& node);
// The plug identity of a USB device from its busnum and devnum attributes: each plug-in
// gets the next free device number on its bus, so a device plugged in again at the same
// port gets another. Empty when either does not parse.
std::string UsbPlugId(std::string_view busnum, std::string_view devnum);
// The plug identity of a HID device without a USB parent: the name of its directory
// ("0003:1209:0001.000A"), whose last part counts every HID device the kernel makes.
std::string HidPlugId(const std::string& hidDir);

// The /dev node exists (udev creates it a moment after the sysfs node appears) and, when
// it is a character device, is this node's.
bool DevNodeMatches(const NodeInfo& node);

// Reads node `name` of the sysfs root; nothing when any part of it is missing (a node
// that goes away during the scan) or does not parse. `requireDevNode` also asks for the
// /dev node, and for it to be the node's character device when it is one.
std::optional<NodeInfo> ReadNode(const Roots& roots, const std::string& name, bool requireDevNode = true);
// Every readable node, in node-number order.
std::vector<NodeInfo> ScanNodes(const Roots& roots);
// The node whose device path is `path`.
std::optional<NodeInfo> FindNode(const Roots& roots, std::u16string_view path);
// Whether the interface behind `path` has an interrupt OUT endpoint (false when unknown).
bool HasInterruptOut(const Roots& roots, std::u16string_view path);

// The report descriptor from the node's sysfs `report_descriptor` (up to 4096 bytes).
DWORD ReadSysfsDescriptor(const NodeInfo& node, std::vector<std::uint8_t>& descriptor);
// Manufacturer, product and serial number from the USB device's sysfs attributes.
// Indexed strings: ERROR_NOT_SUPPORTED (only a control transfer of our own could fetch
// them, and that needs the interface taken from usbhid). Not a USB node:
// ERROR_NOT_SUPPORTED. A device without that string: ERROR_INVALID_PARAMETER, as
// HidD_Get...String answers for a missing string descriptor.
DWORD ReadString(const NodeInfo& node, hidtransport::StringKind kind, ULONG index, std::u16string& text);

}  // namespace hidraw
