#include "sim/usb/usb_device.h"

#include <algorithm>
#include <cstdio>

#include "sim/descriptor.h"

namespace simusb {
namespace {

// Descriptor types and requests of the USB 2.0 and HID 1.11 definitions.
constexpr std::uint8_t kDeviceType = 0x01;
constexpr std::uint8_t kConfigurationType = 0x02;
constexpr std::uint8_t kStringType = 0x03;
constexpr std::uint8_t kInterfaceType = 0x04;
constexpr std::uint8_t kEndpointType = 0x05;
constexpr std::uint8_t kHidType = 0x21;
constexpr std::uint8_t kReportType = 0x22;

constexpr std::uint8_t kGetStatus = 0x00;
constexpr std::uint8_t kClearFeature = 0x01;
constexpr std::uint8_t kSetFeature = 0x03;
constexpr std::uint8_t kGetDescriptor = 0x06;
constexpr std::uint8_t kGetConfiguration = 0x08;
constexpr std::uint8_t kSetConfiguration = 0x09;
constexpr std::uint8_t kGetInterface = 0x0A;
constexpr std::uint8_t kSetInterface = 0x0B;

constexpr std::uint8_t kGetReport = 0x01;
constexpr std::uint8_t kGetIdle = 0x02;
constexpr std::uint8_t kGetProtocol = 0x03;
constexpr std::uint8_t kSetReport = 0x09;
constexpr std::uint8_t kSetIdle = 0x0A;
constexpr std::uint8_t kSetProtocol = 0x0B;

constexpr std::uint8_t kInputReport = 1;
constexpr std::uint8_t kOutputReport = 2;
constexpr std::uint8_t kFeatureReport = 3;

constexpr std::uint8_t kTypeMask = 0x60;
constexpr std::uint8_t kStandard = 0x00;
constexpr std::uint8_t kClass = 0x20;
constexpr std::uint8_t kDeviceToHost = 0x80;

std::uint8_t Low(unsigned value) { return static_cast<std::uint8_t>(value & 0xFF); }
std::uint8_t High(unsigned value) { return static_cast<std::uint8_t>((value >> 8) & 0xFF); }

Status StatusOf(DWORD result) {
    if (result == ERROR_SUCCESS) return Status::Ok;
    return result == ERROR_DEVICE_NOT_CONNECTED ? Status::Unplugged : Status::Stall;
}

Reply Answer(std::vector<std::uint8_t> data) { return {Status::Ok, std::move(data)}; }
Reply Stalled() { return {Status::Stall, {}}; }

void AppendEndpoint(std::vector<std::uint8_t>& d, std::uint8_t address) {
    d.insert(d.end(), {7, kEndpointType, address, 0x03 /* interrupt */, Low(kMaxPacketSize), High(kMaxPacketSize),
                       kInterruptInterval});
}

std::vector<std::uint8_t> Utf16Descriptor(const std::u16string& text) {
    // bLength is one byte: a longer string is cut at 126 characters.
    std::size_t count = std::min<std::size_t>(text.size(), 126);
    std::vector<std::uint8_t> d{static_cast<std::uint8_t>(2 + 2 * count), kStringType};
    for (std::size_t i = 0; i < count; ++i) d.insert(d.end(), {Low(text[i]), High(text[i])});
    return d;
}

}  // namespace

UsbDevice::UsbDevice(std::shared_ptr<sim::SimulatedDevice> device, UsbOptions options)
    : device_(std::move(device)), options_(options),
      reportDescriptor_(sim::BuildReportDescriptor(device_->Configuration())) {}

std::vector<std::uint8_t> UsbDevice::DeviceDescriptor() const {
    const sim::Config& c = Configuration();
    return {18,   kDeviceType,        0x00,           0x02, 0, 0, 0, Low(kMaxPacketSize), Low(c.vendorId),
            High(c.vendorId), Low(c.productId), High(c.productId), Low(c.versionNumber), High(c.versionNumber),
            1,    2,                  3,              1};
}

std::vector<std::uint8_t> UsbDevice::HidDescriptor() const {
    auto size = static_cast<unsigned>(reportDescriptor_.size());
    return {9, kHidType, 0x11, 0x01, 0, 1, kReportType, Low(size), High(size)};
}

std::vector<std::uint8_t> UsbDevice::ConfigurationDescriptor() const {
    std::uint8_t endpoints = options_.interruptOut ? 2 : 1;
    std::vector<std::uint8_t> d{9, kConfigurationType, 0, 0, 1, 1, 0, 0x80, 50};
    d.insert(d.end(), {9, kInterfaceType, 0, 0, endpoints, 0x03, 0, 0, 0});
    std::vector<std::uint8_t> hid = HidDescriptor();
    d.insert(d.end(), hid.begin(), hid.end());
    AppendEndpoint(d, kInterruptInEndpoint);
    if (options_.interruptOut) AppendEndpoint(d, kInterruptOutEndpoint);
    d[2] = Low(static_cast<unsigned>(d.size()));
    d[3] = High(static_cast<unsigned>(d.size()));
    return d;
}

std::vector<std::uint8_t> UsbDevice::StringDescriptor(std::uint8_t index) const {
    const sim::Config& c = Configuration();
    switch (index) {
    case 0: return {4, kStringType, 0x09, 0x04};  // US English
    case 1: return Utf16Descriptor(c.manufacturer);
    case 2: return Utf16Descriptor(c.product);
    case 3: return Utf16Descriptor(c.serialNumber);
    default: return {};
    }
}

Reply UsbDevice::Control(const Setup& setup, std::span<const std::uint8_t> data) {
    Reply reply;
    switch (setup.requestType & kTypeMask) {
    case kStandard: reply = StandardRequest(setup); break;
    case kClass: reply = ClassRequest(setup, data); break;
    default: reply = Stalled(); break;
    }
    if (reply.data.size() > setup.length) reply.data.resize(setup.length);
    if (!(setup.requestType & kDeviceToHost)) reply.data.clear();
    return reply;
}

Reply UsbDevice::StandardRequest(const Setup& setup) const {
    switch (setup.request) {
    case kGetDescriptor: {
        std::vector<std::uint8_t> d;
        switch (High(setup.value)) {
        case kDeviceType: d = DeviceDescriptor(); break;
        case kConfigurationType: d = ConfigurationDescriptor(); break;
        case kStringType: d = StringDescriptor(Low(setup.value)); break;
        case kHidType: d = HidDescriptor(); break;
        case kReportType: d = reportDescriptor_; break;
        default: break;
        }
        return d.empty() ? Stalled() : Answer(std::move(d));
    }
    case kGetStatus: return Answer({0, 0});
    case kGetConfiguration: return Answer({1});
    case kGetInterface: return Answer({0});
    case kClearFeature:
    case kSetFeature:
    case kSetConfiguration:
    case kSetInterface: return Answer({});
    default: return Stalled();
    }
}

Reply UsbDevice::ClassRequest(const Setup& setup, std::span<const std::uint8_t> data) {
    std::uint8_t type = High(setup.value);
    std::uint8_t id = Low(setup.value);
    Reply reply;
    switch (setup.request) {
    case kGetReport:
        if (type == kInputReport)
            reply.status = StatusOf(device_->OnInputRequest(id, setup.length, reply.data));
        else if (type == kFeatureReport)
            reply.status = StatusOf(device_->OnGetFeature(id, setup.length, reply.data));
        else
            reply.status = Status::Stall;
        return reply;
    case kSetReport:
        if (type == kOutputReport) return {StatusOf(device_->OnOutputReport(data)), {}};
        if (type == kFeatureReport) return {StatusOf(device_->OnSetFeature(data)), {}};
        return Stalled();
    case kSetIdle:
    case kSetProtocol: return Answer({});
    case kGetIdle: return Answer({0});
    case kGetProtocol: return Answer({1});  // report protocol
    default: return Stalled();
    }
}

Status UsbDevice::InterruptOut(std::span<const std::uint8_t> data) {
    if (!options_.interruptOut) return Status::Stall;
    return StatusOf(device_->OnWrite(data));
}

std::string UsbDevice::FormatSetup(const Setup& setup, Status status, std::size_t bytes) {
    static constexpr const char* kStatus[] = {"ok", "stall", "unplugged"};
    char line[128];
    std::snprintf(line, sizeof line, "setup %02x %02x wValue=%04x wIndex=%04x wLength=%04x %s %zu bytes",
                  setup.requestType, setup.request, setup.value, setup.index, setup.length,
                  kStatus[static_cast<int>(status)], bytes);
    return line;
}

}  // namespace simusb
