#include "tools/cli/device_choice.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "platform/hid/hidpi.h"
#include "platform/hid/hid_transport.h"
#include "platform/hid/hidsdi.h"
#include "platform/hid/transport_socket.h"
#include "platform/win/file_api.h"
#include "platform/win/text.h"
#include "platform/win/win_error.h"

namespace cli {

namespace {

constexpr ULONG kProductChars = 127;  // a USB string descriptor holds at most 126 characters

std::string ErrorText(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND: return "it is gone";
    case ERROR_DEVICE_NOT_CONNECTED: return "it was unplugged";
    case ERROR_SHARING_VIOLATION: return "another program opened it exclusively";
    case ERROR_SEM_TIMEOUT:
    case ERROR_TIMEOUT: return "it does not answer";
    default: return "Win32 error " + std::to_string(error);
    }
}

void ReadInterface(const std::u16string& path, InterfaceEntry& entry) {
    HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        entry.problem = error == ERROR_ACCESS_DENIED ? "no access" : "cannot open: " + ErrorText(error);
        return;
    }
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetAttributes(handle, &attributes)) {
        entry.problem = "cannot open: " + ErrorText(GetLastError());
    } else if (!HidD_GetPreparsedData(handle, &preparsed)) {
        entry.vid = attributes.VendorID;
        entry.pid = attributes.ProductID;
        entry.problem = "descriptor does not parse";
    } else {
        HIDP_CAPS caps{};
        HidP_GetCaps(preparsed, &caps);
        HidD_FreePreparsedData(preparsed);
        entry.accessible = true;
        entry.vid = attributes.VendorID;
        entry.pid = attributes.ProductID;
        entry.usagePage = caps.UsagePage;
        entry.usage = caps.Usage;
        WCHAR product[kProductChars + 1] = {};
        if (HidD_GetProductString(handle, product, kProductChars * sizeof(WCHAR)))
            entry.product = Utf16ToUtf8(std::u16string_view(product, WideLength(product)));
        ULONG holder = 0;
        if (HidExt_ClaimDevice(handle, HidExtClaim::Query, &holder)) entry.busyPid = holder;
    }
    CloseHandle(handle);
}

}  // namespace

std::vector<InterfaceEntry> ListHidInterfaces(bool open) {
    std::vector<InterfaceEntry> entries;
    // The providers Open Device's walk asks, in its order, with what they tell of each
    // interface without opening it: serial number and port path even where this user may
    // not open the interface.
    for (const hidtransport::InterfaceInfo& info : hidtransport::EnumerateInterfaces()) {
        InterfaceEntry entry;
        entry.path = Utf16ToUtf8(info.path);
        entry.vid = info.vendorId;
        entry.pid = info.productId;
        entry.serial = Utf16ToUtf8(info.serialNumber);
        entry.portPath = Utf16ToUtf8(info.portPath);
        entry.plugId = Utf16ToUtf8(info.plugId);
        if (open) ReadInterface(info.path, entry);
        else entry.accessible = true;
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::string BoardKey(const InterfaceEntry& entry) { return DeviceArgument(entry); }

std::string DeviceLabel(const std::string& path, const std::string& portPath) {
    if (!portPath.empty()) return portPath;
    const std::string prefix = Utf16ToUtf8(simsocket::kPathPrefix);
    return path.starts_with(prefix) ? path.substr(prefix.size()) : path;
}

std::string DeviceArgument(const InterfaceEntry& entry) {
    return entry.portPath.empty() ? entry.path : "usb:" + entry.portPath;
}

std::vector<InterfaceEntry> InterfacesNamed(const std::string& given, const std::vector<InterfaceEntry>& present,
                                            std::string& error) {
    std::vector<InterfaceEntry> named;
    auto take = [&](auto&& matches) {
        for (const InterfaceEntry& entry : present)
            if (matches(entry)) named.push_back(entry);
    };
    if (given.starts_with("usb:")) {
        take([port = given.substr(4)](const InterfaceEntry& e) { return e.portPath == port; });
        if (named.empty()) error = "no HID interface at USB port " + given.substr(4) + " (see uvc-hid list)";
        return named;
    }
    if (given.starts_with("serial:")) {
        take([serial = given.substr(7)](const InterfaceEntry& e) { return e.serial == serial; });
        if (named.empty()) error = "no HID interface has the serial number " + given.substr(7) + " (see uvc-hid list)";
        return named;
    }
    std::string wanted = given;
    struct stat st {};
    if (stat(given.c_str(), &st) == 0) {
        std::error_code ec;
        std::filesystem::path real = std::filesystem::canonical(given, ec);
        if (S_ISSOCK(st.st_mode)) {
            // A simulator is reached by the name of its socket in the simulators' directory.
            std::string directory;
            std::filesystem::path dir;
            if (simsocket::RuntimeDirectory(false, directory) == ERROR_SUCCESS)
                dir = std::filesystem::canonical(directory, ec);
            if (!ec && real.parent_path() == dir)
                wanted = Utf16ToUtf8(simsocket::kPathPrefix) + real.filename().string();
        } else if (!ec) {
            wanted = real.string();
        }
    }
    take([&wanted](const InterfaceEntry& e) { return e.path == wanted; });
    if (named.empty()) error = given + " is not a HID interface (see uvc-hid list)";
    return named;
}

std::vector<InterfaceEntry> Boards(const std::vector<InterfaceEntry>& entries) {
    std::vector<InterfaceEntry> boards;
    for (const InterfaceEntry& entry : entries)
        if (std::none_of(boards.begin(), boards.end(),
                         [&](const InterfaceEntry& b) { return BoardKey(b) == BoardKey(entry); }))
            boards.push_back(entry);
    return boards;
}

std::string AmbiguityText(const std::string& what, const std::vector<InterfaceEntry>& boards) {
    std::string text = std::to_string(boards.size()) + " boards match " + what + "; choose one with --device:";
    for (std::size_t i = 0; i < boards.size(); ++i) {
        text += (i ? ", " : " ") + DeviceArgument(boards[i]);
        if (!boards[i].serial.empty()) text += " (serial " + boards[i].serial + ")";
    }
    return text;
}

}  // namespace cli
