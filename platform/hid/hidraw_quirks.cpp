#include "platform/hid/hidraw_quirks.h"

#include <cstdio>

#include "platform/hid/hidraw_io.h"

namespace hidraw {

bool QuirkSendsOutputAsSetReport(std::string_view parameter, USHORT vendor, USHORT product) {
    auto hex = [](std::string_view text) {
        if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
        return ParseHex32(text);
    };
    parameter = TrimLineEnd(parameter);
    while (!parameter.empty()) {
        std::size_t end = parameter.find(',');
        std::string_view entry = parameter.substr(0, end);
        parameter = end == std::string_view::npos ? std::string_view{} : parameter.substr(end + 1);
        std::size_t first = entry.find(':');
        std::size_t second = first == std::string_view::npos ? first : entry.find(':', first + 1);
        if (second == std::string_view::npos) continue;
        auto v = hex(entry.substr(0, first));
        auto p = hex(entry.substr(first + 1, second - first - 1));
        auto q = hex(entry.substr(second + 1));
        if (v && p && q && *v == vendor && *p == product && (*q & kQuirkNoOutputReportsOnInterruptEp)) return true;
    }
    return false;
}

bool QuirkFileSendsOutputAsSetReport(const std::string& quirksPath, USHORT vendor, USHORT product) {
    auto parameter = ReadAttribute(quirksPath);
    return parameter && QuirkSendsOutputAsSetReport(*parameter, vendor, product);
}

std::string InterruptOutAdvice(std::string_view node, USHORT vendor, USHORT product) {
    char quirk[64];
    std::snprintf(quirk, sizeof quirk, "0x%04x:0x%04x:0x%08x", vendor, product, kQuirkNoOutputReportsOnInterruptEp);
    return std::string(node) +
           ": the device has an interrupt OUT endpoint, and Linux sends output reports there, where the device "
           "does not read them. Not opened. Boot with the kernel parameter usbhid.quirks=" + quirk +
           " or add the line \"options usbhid quirks=" + quirk +
           "\" to a file in /etc/modprobe.d/ (then reload usbhid or reboot), and plug the device in again.";
}

std::string PermissionAdvice(std::string_view node, USHORT vendor, USHORT product) {
    char rule[192];
    std::snprintf(rule, sizeof rule,
                  "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"%04x\", ATTRS{idProduct}==\"%04x\", MODE=\"0660\", "
                  "GROUP=\"plugdev\", TAG+=\"uaccess\"",
                  vendor, product);
    return std::string(node) + ": permission denied. The device is there, but this user may not open it. Add the "
                               "udev rule '" + rule +
           "' to /etc/udev/rules.d/70-uvc-hid-tool.rules, run 'udevadm control --reload-rules && udevadm trigger', "
           "and plug the device in again.";
}

}  // namespace hidraw
