#include "platform/hid/hidraw_sysfs.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "platform/hid/hidraw_io.h"
#include "platform/hid/hidraw_ioctl.h"
#include "platform/win/text.h"

namespace hidraw {

namespace {

namespace fs = std::filesystem;

std::string Parent(const std::string& dir) { return fs::path(dir).parent_path().string(); }

void ReadUsbDevice(NodeInfo& node, const std::string& usbDeviceDir) {
    node.usbDeviceDir = usbDeviceDir;
    // A USB device's directory is named by its port path; anything else names none.
    std::string name = fs::path(usbDeviceDir).filename().string();
    node.portPath = hidtransport::IsUsbPortPath(Utf8ToUtf16(name)) ? name : std::string();
    if (auto bcd = ReadAttribute(usbDeviceDir + "/bcdDevice"))
        if (auto version = ParseHexAttribute(*bcd, 0xFFFF)) node.version = static_cast<USHORT>(*version);
    std::u16string serial;
    if (ReadString(node, hidtransport::StringKind::SerialNumber, 0, serial) == ERROR_SUCCESS)
        node.serialNumber = std::move(serial);
    auto busnum = ReadAttribute(usbDeviceDir + "/busnum");
    auto devnum = ReadAttribute(usbDeviceDir + "/devnum");
    node.plugId = busnum && devnum ? UsbPlugId(*busnum, *devnum) : std::string();
}

}  // namespace

void ReadUsbPart(NodeInfo& node) {
    if (node.id.bus != 0x0003) return;
    std::string interfaceDir = Parent(node.hidDir);
    auto interfaceNumber = ReadAttribute(interfaceDir + "/bInterfaceNumber");
    if (!interfaceNumber) return;
    auto number = ParseHexAttribute(*interfaceNumber, 0xFF);
    if (!number) return;
    node.usb = true;
    node.interfaceDir = interfaceDir;
    node.interfaceNumber = *number;
    node.hasInterruptOut = InterfaceHasInterruptOut(interfaceDir);
    ReadUsbDevice(node, Parent(interfaceDir));
}

std::string UsbPlugId(std::string_view busnum, std::string_view devnum) {
    auto bus = ParseDecimal32(TrimLineEnd(busnum));
    auto device = ParseDecimal32(TrimLineEnd(devnum));
    if (!bus || !device) return {};
    return "usb:" + std::to_string(*bus) + ":" + std::to_string(*device);
}

std::string HidPlugId(const std::string& hidDir) { return "hid:" + fs::path(hidDir).filename().string(); }

bool DevNodeMatches(const NodeInfo& node) {
    struct stat st {};
    if (::stat(node.devicePath.c_str(), &st) != 0) return false;
    if (S_ISCHR(st.st_mode) && node.devNumber && st.st_rdev != *node.devNumber) return false;
    return true;
}

std::optional<unsigned> NodeNumber(std::string_view name) {
    constexpr std::string_view prefix = "hidraw";
    if (!name.starts_with(prefix)) return std::nullopt;
    return ParseDecimal32(name.substr(prefix.size()));
}

std::vector<std::string> SortedNodeNames(std::vector<std::string> names) {
    std::erase_if(names, [](const std::string& name) { return !NodeNumber(name); });
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return *NodeNumber(a) < *NodeNumber(b); });
    return names;
}

std::optional<std::string> UeventValue(std::string_view uevent, std::string_view key) {
    while (!uevent.empty()) {
        std::size_t end = uevent.find('\n');
        std::string_view line = uevent.substr(0, end);
        uevent = end == std::string_view::npos ? std::string_view{} : uevent.substr(end + 1);
        line = TrimLineEnd(line);
        if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=')
            return std::string(line.substr(key.size() + 1));
    }
    return std::nullopt;
}

std::optional<HidId> ParseHidId(std::string_view value) {
    value = TrimLineEnd(value);
    std::uint32_t fields[3] = {};
    for (int i = 0; i < 3; ++i) {
        std::size_t end = value.find(':');
        if ((i < 2) != (end != std::string_view::npos)) return std::nullopt;
        auto field = ParseHex32(value.substr(0, end));
        if (!field || *field > 0xFFFF) return std::nullopt;
        fields[i] = *field;
        value = end == std::string_view::npos ? std::string_view{} : value.substr(end + 1);
    }
    return HidId{static_cast<USHORT>(fields[0]), static_cast<USHORT>(fields[1]), static_cast<USHORT>(fields[2])};
}

std::optional<unsigned> ParseHexAttribute(std::string_view text, unsigned maximum) {
    auto value = ParseHex32(TrimLineEnd(text));
    if (!value || *value > maximum) return std::nullopt;
    return *value;
}

std::optional<dev_t> ParseDevNumber(std::string_view text) {
    text = TrimLineEnd(text);
    std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    auto major = ParseDecimal32(text.substr(0, colon));
    auto minor = ParseDecimal32(text.substr(colon + 1));
    if (!major || !minor) return std::nullopt;
    return makedev(*major, *minor);
}

bool IsInterruptOut(std::string_view direction, std::string_view type) {
    return TrimLineEnd(direction) == "out" && TrimLineEnd(type) == "Interrupt";
}

bool InterfaceHasInterruptOut(const std::string& interfaceDir) {
    std::error_code ec;
    fs::directory_iterator it(interfaceDir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (!name.starts_with("ep_")) continue;
        auto direction = ReadAttribute(it->path().string() + "/direction");
        auto type = ReadAttribute(it->path().string() + "/type");
        if (direction && type && IsInterruptOut(*direction, *type)) return true;
    }
    return false;
}

std::u16string SysfsText(std::string_view raw) {
    if (raw.ends_with('\n')) raw.remove_suffix(1);
    return Utf8ToUtf16(raw);
}

std::optional<NodeInfo> ReadNode(const Roots& roots, const std::string& name, bool requireDevNode) {
    auto number = NodeNumber(name);
    if (!number) return std::nullopt;
    NodeInfo node;
    node.name = name;
    node.number = *number;
    std::string classDir = roots.sysfs + "/" + name;
    // Every step may meet ENOENT when the device goes away meanwhile: the node is skipped.
    auto uevent = ReadAttribute(classDir + "/uevent");
    if (!uevent) return std::nullopt;
    std::string devName = UeventValue(*uevent, "DEVNAME").value_or(name);
    if (devName.empty() || devName.find("..") != std::string::npos) return std::nullopt;
    node.devicePath = roots.dev + "/" + devName;
    if (auto dev = ReadAttribute(classDir + "/dev")) node.devNumber = ParseDevNumber(*dev);
    std::error_code ec;
    fs::path hidDir = fs::canonical(classDir + "/device", ec);
    if (ec) return std::nullopt;
    node.hidDir = hidDir.string();
    auto hidUevent = ReadAttribute(node.hidDir + "/uevent");
    if (!hidUevent) return std::nullopt;
    auto hidId = UeventValue(*hidUevent, "HID_ID");
    if (!hidId) return std::nullopt;
    auto id = ParseHidId(*hidId);
    if (!id) return std::nullopt;
    node.id = *id;
    ReadUsbPart(node);
    if (!node.usb) node.plugId = HidPlugId(node.hidDir);
    if (requireDevNode && !DevNodeMatches(node)) return std::nullopt;
    return node;
}

std::vector<NodeInfo> ScanNodes(const Roots& roots) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(roots.sysfs, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) names.push_back(it->path().filename().string());
    std::vector<NodeInfo> nodes;
    for (const std::string& name : SortedNodeNames(std::move(names)))
        if (auto node = ReadNode(roots, name)) nodes.push_back(std::move(*node));
    return nodes;
}

std::optional<NodeInfo> FindNode(const Roots& roots, std::u16string_view path) {
    std::string wanted = Utf16ToUtf8(path);
    for (NodeInfo& node : ScanNodes(roots))
        if (node.devicePath == wanted) return node;
    return std::nullopt;
}

bool HasInterruptOut(const Roots& roots, std::u16string_view path) {
    auto node = FindNode(roots, path);
    return node && node->hasInterruptOut;
}

DWORD ReadSysfsDescriptor(const NodeInfo& node, std::vector<std::uint8_t>& descriptor) {
    descriptor.clear();
    if (node.hidDir.empty()) return ERROR_FILE_NOT_FOUND;
    std::string bytes;
    int err = ReadSmallFile(node.hidDir + "/report_descriptor", kMaxDescriptorLength, bytes);
    if (err == EFBIG) return ERROR_INVALID_DATA;
    if (err != 0) return Win32ErrorFromErrno(err);
    descriptor.assign(bytes.begin(), bytes.end());
    return ERROR_SUCCESS;
}

DWORD ReadString(const NodeInfo& node, hidtransport::StringKind kind, ULONG, std::u16string& text) {
    text.clear();
    if (!node.usb) return ERROR_NOT_SUPPORTED;
    const char* attribute = nullptr;
    switch (kind) {
    case hidtransport::StringKind::Manufacturer: attribute = "manufacturer"; break;
    case hidtransport::StringKind::Product: attribute = "product"; break;
    case hidtransport::StringKind::SerialNumber: attribute = "serial"; break;
    case hidtransport::StringKind::Indexed: return ERROR_NOT_SUPPORTED;
    }
    std::string raw;
    int err = ReadSmallFile(node.usbDeviceDir + "/" + attribute, kAttributeLimit, raw);
    if (err == 0) {
        text = SysfsText(raw);
        return ERROR_SUCCESS;
    }
    // USB string attributes are absent when the device has no such string; an absent
    // device directory is an unplug.
    if (err == ENOENT) return Exists(node.usbDeviceDir) ? ERROR_INVALID_PARAMETER : ERROR_DEVICE_NOT_CONNECTED;
    return Win32ErrorFromErrno(err);
}

}  // namespace hidraw
