#include "sim/simulated_device.h"

#include <algorithm>

#include "sim/descriptor.h"

namespace sim {

std::shared_ptr<SimulatedDevice> SimulatedDevice::Create(Config config, std::string& error) {
    error = Validate(config);
    if (!error.empty()) return nullptr;
    FlashGeometry geometry;
    GeometryForRow(config.partRow, geometry);
    return std::make_shared<SimulatedDevice>(Tag{}, std::move(config), geometry);
}

SimulatedDevice::SimulatedDevice(Tag, Config config, FlashGeometry geometry)
    : firmware_(std::move(config), geometry), log_(firmware_.Configuration().logLimit) {}

vhid::DeviceInfo SimulatedDevice::Info() const {
    const Config& config = firmware_.Configuration();
    vhid::DeviceInfo info;
    info.vendorId = config.vendorId;
    info.productId = config.productId;
    info.versionNumber = config.versionNumber;
    info.reportDescriptor = BuildReportDescriptor(config);
    info.manufacturer = config.manufacturer;
    info.product = config.product;
    info.serialNumber = config.serialNumber;
    info.portPath = config.portPath;
    return info;
}

DWORD SimulatedDevice::Transfer(const TransferRequest& request, std::vector<std::uint8_t>* answer) {
    std::unique_lock guard(mutex_);
    // The device's time passes outside the lock, so the simulator's state can be read meanwhile.
    if (const std::chrono::microseconds delay = faults_.Delay(); delay > std::chrono::microseconds{0}) {
        const PaceKind kind = faults_.DelayKind();
        guard.unlock();
        PaceTransfer(delay, kind);
        guard.lock();
    }
    if (answer) answer->clear();
    TransferOutcome outcome = faults_.Handle(request, answer);
    ++sequence_;
    if (!log_.Keeps()) return outcome.result;
    TransferRecord record;
    record.sequence = sequence_;
    record.direction = request.direction;
    record.reportId = request.reportId;
    record.requestedLength = request.length;
    if (answer)
        record.bytes = *answer;
    else
        record.bytes.assign(request.report.begin(), request.report.end());
    record.result = outcome.result;
    record.note = std::move(outcome.note);
    log_.Add(std::move(record));
    return outcome.result;
}

namespace {
std::uint8_t FirstByte(std::span<const std::uint8_t> report) { return report.empty() ? 0 : report[0]; }
ULONG Size(std::span<const std::uint8_t> report) { return static_cast<ULONG>(report.size()); }
}  // namespace

DWORD SimulatedDevice::OnOutputReport(std::span<const std::uint8_t> report) {
    return Transfer({Direction::Output, FirstByte(report), Size(report), report}, nullptr);
}

DWORD SimulatedDevice::OnInputRequest(std::uint8_t reportId, ULONG requestedLength, std::vector<std::uint8_t>& answer) {
    return Transfer({Direction::Input, reportId, requestedLength, {}}, &answer);
}

DWORD SimulatedDevice::OnSetFeature(std::span<const std::uint8_t> report) {
    return Transfer({Direction::SetFeature, FirstByte(report), Size(report), report}, nullptr);
}

DWORD SimulatedDevice::OnGetFeature(std::uint8_t reportId, ULONG requestedLength, std::vector<std::uint8_t>& answer) {
    return Transfer({Direction::GetFeature, reportId, requestedLength, {}}, &answer);
}

DWORD SimulatedDevice::OnWrite(std::span<const std::uint8_t> report) {
    return Transfer({Direction::Write, FirstByte(report), Size(report), report}, nullptr);
}

DWORD SimulatedDevice::OnRead(std::vector<std::uint8_t>& report, ULONG maxLength) {
    return Transfer({Direction::Read, 0, maxLength, {}}, &report);
}

// ---- faults

void SimulatedDevice::FailTransfer(std::uint64_t nth) {
    std::lock_guard guard(mutex_);
    faults_.FailTransfer(nth);
}

void SimulatedDevice::UnplugAfter(std::uint64_t transfers) {
    std::lock_guard guard(mutex_);
    faults_.UnplugAfter(transfers);
}

void SimulatedDevice::CorruptReadChunk(std::uint64_t nthChunk, std::size_t byteIndex) {
    std::lock_guard guard(mutex_);
    firmware_.CorruptReadChunk(nthChunk, byteIndex);
}

void SimulatedDevice::SetDelay(std::chrono::microseconds perTransfer, PaceKind kind) {
    std::lock_guard guard(mutex_);
    faults_.SetDelay(perTransfer, kind);
}

void SimulatedDevice::SetGetIdAnswer(std::optional<std::uint16_t> row) {
    std::lock_guard guard(mutex_);
    firmware_.SetGetIdAnswer(row);
}

void SimulatedDevice::SetInputTruncation(std::optional<std::size_t> bytes) {
    std::lock_guard guard(mutex_);
    faults_.SetInputTruncation(bytes);
}

void SimulatedDevice::SetInputJunk(std::size_t bytes) {
    std::lock_guard guard(mutex_);
    faults_.SetInputJunk(bytes);
}

void SimulatedDevice::ClearFaults() {
    std::lock_guard guard(mutex_);
    faults_.Clear();
    firmware_.CorruptReadChunk(0, 0);
    firmware_.SetGetIdAnswer(std::nullopt);
}

// ---- observation

std::vector<TransferRecord> SimulatedDevice::Log() const {
    std::lock_guard guard(mutex_);
    return log_.Records();
}

void SimulatedDevice::ClearLog() {
    std::lock_guard guard(mutex_);
    log_.Clear();
}

std::uint64_t SimulatedDevice::TransferCount() const {
    std::lock_guard guard(mutex_);
    return sequence_;
}

std::vector<std::uint8_t> SimulatedDevice::FlashContents() const {
    std::lock_guard guard(mutex_);
    return firmware_.FlashContents();
}

std::vector<std::uint8_t> SimulatedDevice::FlashBytes(std::uint32_t address, std::uint32_t length) const {
    std::lock_guard guard(mutex_);
    const auto& bytes = firmware_.FlashContents();
    if (address >= bytes.size()) return {};
    const std::size_t end = std::min<std::size_t>(bytes.size(), std::size_t{address} + length);
    return {bytes.begin() + address, bytes.begin() + static_cast<std::ptrdiff_t>(end)};
}

bool SimulatedDevice::LoadFlash(std::span<const std::uint8_t> image) {
    std::lock_guard guard(mutex_);
    return firmware_.LoadFlash(image);
}

FlashGeometry SimulatedDevice::Geometry() const { return firmware_.Geometry(); }

std::uint32_t SimulatedDevice::Register(std::uint32_t address) const {
    std::lock_guard guard(mutex_);
    return firmware_.Register(address);
}

void SimulatedDevice::SetRegister(std::uint32_t address, std::uint32_t value) {
    std::lock_guard guard(mutex_);
    firmware_.SetRegister(address, value);
}

GpioPin SimulatedDevice::Gpio(std::uint8_t pin) const {
    std::lock_guard guard(mutex_);
    return firmware_.Gpio(pin);
}

void SimulatedDevice::SetGpioExternalLevel(std::uint8_t pin, std::uint8_t level) {
    std::lock_guard guard(mutex_);
    firmware_.SetGpioExternalLevel(pin, level);
}

std::array<std::uint8_t, kHdmiInfoBytes> SimulatedDevice::HdmiInfo() const {
    std::lock_guard guard(mutex_);
    return firmware_.HdmiInfo();
}

void SimulatedDevice::SetHdmiInfo(const std::array<std::uint8_t, kHdmiInfoBytes>& info) {
    std::lock_guard guard(mutex_);
    firmware_.SetHdmiInfo(info);
}

bool SimulatedDevice::HdcpEnabled() const {
    std::lock_guard guard(mutex_);
    return firmware_.HdcpEnabled();
}

std::optional<std::array<std::uint8_t, 256>> SimulatedDevice::IicMemory(std::uint8_t address) const {
    std::lock_guard guard(mutex_);
    return firmware_.IicMemory(address);
}

std::unique_ptr<vhid::Publication> Publish(std::shared_ptr<SimulatedDevice> device, std::string_view tag) {
    vhid::DeviceInfo info = device->Info();
    info.path = vhid::MakePath(tag);
    return vhid::Publish(std::move(info), std::move(device));
}

}  // namespace sim
