#include "tools/cli/device_choice.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <filesystem>

#include "hid/device_host.h"
#include "platform/hid/hidpi.h"
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

std::vector<InterfaceEntry> ListHidInterfaces() {
    std::vector<InterfaceEntry> entries;
    // The walk Open Device takes, so both see the same interfaces in the same order.
    WalkHidInterfaces([&](ULONG, const WCHAR* path) {
        if (path == nullptr) return true;  // an interface whose details could not be read
        std::u16string wide(path, WideLength(path));
        InterfaceEntry entry;
        entry.path = Utf16ToUtf8(wide);
        ReadInterface(wide, entry);
        entries.push_back(std::move(entry));
        return true;
    });
    return entries;
}

std::string ResolveDevicePath(const std::string& given, const std::vector<InterfaceEntry>& present,
                              std::string& error) {
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
    for (const InterfaceEntry& entry : present)
        if (entry.path == wanted) return wanted;
    error = given + " is not a HID interface (see uvc-hid list)";
    return {};
}

}  // namespace cli
