// The simulated device as USB sees it: its descriptors, and the answer to each request on
// the default control pipe and the interrupt pipes. HID class requests go to the device
// model with their lengths as the wire carries them, so its transfer log shows what the
// host's USB stack sent. Knows nothing of how the requests arrive.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "sim/simulated_device.h"

namespace simusb {

inline constexpr std::uint8_t kInterruptInEndpoint = 0x81;
inline constexpr std::uint8_t kInterruptOutEndpoint = 0x02;
inline constexpr std::uint16_t kMaxPacketSize = 64;
// High speed: 2^(4-1) microframes, one report poll per millisecond.
inline constexpr std::uint8_t kInterruptInterval = 4;

struct UsbOptions {
    // An interrupt OUT endpoint in the interface: the Linux HID driver then sends output
    // reports there instead of as SET_REPORT requests.
    bool interruptOut = false;
};

// The setup packet of a control transfer.
struct Setup {
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;
};

enum class Status : std::uint8_t { Ok, Stall, Unplugged };

struct Reply {
    Status status = Status::Ok;
    std::vector<std::uint8_t> data;  // IN requests: the data stage, at most wLength bytes
};

class UsbDevice {
public:
    UsbDevice(std::shared_ptr<sim::SimulatedDevice> device, UsbOptions options);

    const sim::Config& Configuration() const { return device_->Configuration(); }
    bool HasInterruptOut() const { return options_.interruptOut; }

    std::vector<std::uint8_t> DeviceDescriptor() const;
    std::vector<std::uint8_t> ConfigurationDescriptor() const;
    std::vector<std::uint8_t> HidDescriptor() const;
    // Index 0 is the language list; 1-3 manufacturer, product, serial number; others stall.
    std::vector<std::uint8_t> StringDescriptor(std::uint8_t index) const;

    // A control transfer: `data` is the OUT data stage (empty for IN requests).
    Reply Control(const Setup& setup, std::span<const std::uint8_t> data);
    // A packet the host sent on the interrupt OUT endpoint.
    Status InterruptOut(std::span<const std::uint8_t> data);

    // One line per control request: the setup fields and the outcome, for the run's log.
    static std::string FormatSetup(const Setup& setup, Status status, std::size_t bytes);

private:
    Reply StandardRequest(const Setup& setup) const;
    Reply ClassRequest(const Setup& setup, std::span<const std::uint8_t> data);

    std::shared_ptr<sim::SimulatedDevice> device_;
    UsbOptions options_;
    std::vector<std::uint8_t> reportDescriptor_;
};

}  // namespace simusb
