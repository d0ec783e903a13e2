#include "platform/hid/hidraw_udev.h"

#ifdef UVC_HAVE_LIBUDEV

#include <libudev.h>

#include <algorithm>
#include <memory>
#include <string>

#include "platform/win/text.h"

namespace hidraw {
namespace {

struct UdevUnref {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <class T>
using UdevPtr = std::unique_ptr<T, UdevUnref>;

std::string Text(const char* text) { return text ? text : ""; }

// One hidraw device as a node; nothing when a part is missing or does not parse (a device
// that goes away during the scan, a node not yet made). Parents found by
// udev_device_get_parent_* belong to the child and are not unreferenced here.
std::optional<NodeInfo> ReadUdevNode(udev_device* device) {
    NodeInfo node;
    node.name = Text(udev_device_get_sysname(device));
    auto number = NodeNumber(node.name);
    const char* devnode = udev_device_get_devnode(device);
    if (!number || devnode == nullptr) return std::nullopt;
    node.number = *number;
    node.devicePath = devnode;
    if (dev_t devnum = udev_device_get_devnum(device); devnum != 0) node.devNumber = devnum;

    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(device, "hid", nullptr);
    if (hid == nullptr) return std::nullopt;
    node.hidDir = Text(udev_device_get_syspath(hid));
    auto id = ParseHidId(Text(udev_device_get_property_value(hid, "HID_ID")));
    if (!id) return std::nullopt;
    node.id = *id;

    // The USB route, as the sysfs walk takes it: bus 0003 and the HID device directly below
    // a USB interface.
    udev_device* interface = udev_device_get_parent(hid);
    const std::string interfaceType = interface ? Text(udev_device_get_devtype(interface)) : "";
    udev_device* usbDevice = interface ? udev_device_get_parent(interface) : nullptr;
    if (node.id.bus == 0x0003 && interfaceType == "usb_interface" && usbDevice != nullptr &&
        Text(udev_device_get_devtype(usbDevice)) == "usb_device") {
        auto interfaceNumber = ParseHexAttribute(Text(udev_device_get_sysattr_value(interface, "bInterfaceNumber")), 0xFF);
        if (interfaceNumber) {
            node.usb = true;
            node.interfaceDir = Text(udev_device_get_syspath(interface));
            node.interfaceNumber = *interfaceNumber;
            node.hasInterruptOut = InterfaceHasInterruptOut(node.interfaceDir);
            node.usbDeviceDir = Text(udev_device_get_syspath(usbDevice));
            if (auto version = ParseHexAttribute(Text(udev_device_get_sysattr_value(usbDevice, "bcdDevice")), 0xFFFF))
                node.version = static_cast<USHORT>(*version);
            if (const char* serial = udev_device_get_sysattr_value(usbDevice, "serial"))
                node.serialNumber = SysfsText(serial);
            // A USB device's name is its port path.
            const std::string sysname = Text(udev_device_get_sysname(usbDevice));
            if (hidtransport::IsUsbPortPath(Utf8ToUtf16(sysname))) node.portPath = sysname;
            node.plugId = UsbPlugId(Text(udev_device_get_sysattr_value(usbDevice, "busnum")),
                                    Text(udev_device_get_sysattr_value(usbDevice, "devnum")));
        }
    }
    if (!node.usb) node.plugId = HidPlugId(node.hidDir);
    if (!DevNodeMatches(node)) return std::nullopt;
    return node;
}

}  // namespace

std::optional<std::vector<NodeInfo>> ScanNodesWithUdev() {
    UdevPtr<udev> context(udev_new());
    if (!context) return std::nullopt;
    UdevPtr<udev_enumerate> enumeration(udev_enumerate_new(context.get()));
    if (!enumeration || udev_enumerate_add_match_subsystem(enumeration.get(), "hidraw") < 0 ||
        udev_enumerate_scan_devices(enumeration.get()) < 0)
        return std::nullopt;
    std::vector<NodeInfo> nodes;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
        UdevPtr<udev_device> device(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (!device) continue;  // gone since the scan
        if (auto node = ReadUdevNode(device.get())) nodes.push_back(std::move(*node));
    }
    std::sort(nodes.begin(), nodes.end(), [](const NodeInfo& a, const NodeInfo& b) { return a.number < b.number; });
    return nodes;
}

}  // namespace hidraw

#else  // built without libudev (a statically linked program): the sysfs walk serves

namespace hidraw {
std::optional<std::vector<NodeInfo>> ScanNodesWithUdev() { return std::nullopt; }
}  // namespace hidraw

#endif
