// Configuration of the simulated device: identity, report layout, what the chip holds at
// power-up. Every field may be changed before the device is built, also into layouts a
// host must refuse (fewer reports, a flash read length of 0 or one longer than a write).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device_ids.h"
#include "platform/win/win_types.h"

namespace sim {

// The ids the tool looks for by default (the build's UVC_DEVICE_VID/UVC_DEVICE_PID), so
// Open Device finds the simulator without --vid/--pid.
struct DeviceIds {
    USHORT vendorId;
    USHORT productId;
};
inline constexpr DeviceIds kDefaultIds{uvc::kDeviceVendorId, uvc::kDeviceProductId};

// The three vendor reports of each direction, in the order their value capabilities are
// listed: flash data, control, IIC/information.
enum class ReportKind : std::uint8_t { FlashData = 0, Control = 1, Iic = 2 };
inline constexpr std::size_t kReportKinds = 3;

struct ReportConfig {
    std::uint8_t id = 0;      // report ID, 1..255
    std::uint16_t count = 0;  // report count of its one 8-bit field (report length - 1)
    bool declared = true;     // false leaves the report out of the descriptor
};

struct IicDeviceConfig {
    std::uint8_t address = 0x90;  // the device byte of the frames, compared as given
    std::array<std::uint8_t, 256> memory{};
};

struct Config {
    USHORT vendorId = kDefaultIds.vendorId;
    USHORT productId = kDefaultIds.productId;
    USHORT versionNumber = 0x0100;
    std::u16string manufacturer = u"Simulated Devices";
    std::u16string product = u"UVC HID bridge (simulated)";
    std::u16string serialNumber = u"SIM0001";
    // The USB port path the simulator pretends to sit at ("1-2.3"), so that devices can be
    // told apart by where they are plugged; empty: none.
    std::u16string portPath;

    // Indexed by ReportKind.
    std::array<ReportConfig, kReportKinds> output{{{1, 259}, {2, 63}, {3, 63}}};
    std::array<ReportConfig, kReportKinds> input{{{1, 256}, {2, 63}, {3, 63}}};

    // Row of the shared flash part table that names the attached flash; it sets the
    // flash geometry and is what Get ID answers.
    std::uint16_t partRow = 29;

    // Low bytes of registers 0x54, 0x58, 0x5C, 0x60.
    std::array<std::uint8_t, 4> firmwareVersion{0x01, 0x00, 0x1a, 0x05};
    // Ored into those registers so that a host that does not mask sees garbage.
    std::uint32_t firmwareVersionUpperBits = 0xA5C3E100;
    std::array<std::uint8_t, 24> hdmiInfo{0x00, 0x0a, 0xff, 0x07, 0x80, 0x04, 0x38, 0x3c,
                                          0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
                                          0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f, 0x10};
    bool hdcpEnabled = true;

    std::vector<IicDeviceConfig> iicDevices{IicDeviceConfig{}};
    // Level an input pin reads, per pin 0..3.
    std::array<std::uint8_t, 4> gpioExternalLevels{};

    // Refuse frames whose bytes beyond their parameters are not 0.
    bool strictPadding = true;
    // Transfer log records kept (oldest dropped first); 0 keeps none.
    std::size_t logLimit = 65536;
};

// The longest device string a USB string descriptor holds.
inline constexpr std::size_t kMaxStringLength = 126;

// Empty when the configuration can be built, else why not. Refused: a report ID of 0 or
// two reports of one direction with the same ID, a part row without a flash geometry
// here, an IIC address listed twice, a device string longer than kMaxStringLength, a port
// path not of the USB form.
std::string Validate(const Config& config);

}  // namespace sim
