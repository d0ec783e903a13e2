// What the hidraw transport needs of usbhid's quirks, and the advice it prints when a node
// cannot serve: an interrupt OUT endpoint without the quirk, a node the user may not open.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/win/win_types.h"

namespace hidraw {

// With an interrupt OUT endpoint Linux sends output reports on it, where the firmware
// does not read them, unless usbhid's quirk HID_QUIRK_NO_OUTPUT_REPORTS_ON_INTR_EP is set
// for the device; then they go out as SET_REPORT requests, as on Windows.
inline constexpr std::uint32_t kQuirkNoOutputReportsOnInterruptEp = 0x00040000;
// usbhid's `quirks` module parameter as sysfs shows it.
inline constexpr const char* kUsbhidQuirksPath = "/sys/module/usbhid/parameters/quirks";

// Whether usbhid's `quirks` parameter ("0xVVVV:0xPPPP:0xQQQQQQQQ" entries, comma-separated
// as sysfs shows them) sets that quirk for vid:pid.
bool QuirkSendsOutputAsSetReport(std::string_view parameter, USHORT vendor, USHORT product);
// The same, read from the parameter file `quirksPath`; false when it cannot be read.
bool QuirkFileSendsOutputAsSetReport(const std::string& quirksPath, USHORT vendor, USHORT product);

// What the user must set for vid:pid: the kernel parameter and the modprobe option.
std::string InterruptOutAdvice(std::string_view node, USHORT vendor, USHORT product);
// What the user must do when a node may not be opened: the udev rule for vid:pid.
std::string PermissionAdvice(std::string_view node, USHORT vendor, USHORT product);

}  // namespace hidraw
