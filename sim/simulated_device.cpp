#include "sim/simulated_device.h"

#include <algorithm>
#include <thread>

#include "sim/descriptor.h"

namespace sim {
namespace {

std::uint32_t Le32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 | std::uint32_t{bytes[at + 2]} << 16 |
           std::uint32_t{bytes[at + 3]} << 24;
}

void PutLe(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

bool IsFirmwareVersionRegister(std::uint32_t address) {
    return std::find(std::begin(kFirmwareVersionRegisters), std::end(kFirmwareVersionRegisters), address) !=
           std::end(kFirmwareVersionRegisters);
}

// Length bytes of the fixed-size control frames, by command.
std::optional<std::uint8_t> ControlLengthByte(std::uint8_t command) {
    switch (command) {
    case 0x00: return 0x0A;
    case 0x01: return 0x06;
    case 0x03: return 0x07;
    case 0x05: return 0x06;
    case 0x08: return 0x04;
    case 0x09: return 0x04;
    case 0x0A: return 0x03;
    default: return std::nullopt;
    }
}

std::string Hex(unsigned value) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text = "0x";
    text += kHex[(value >> 4) & 0xF];
    text += kHex[value & 0xF];
    return text;
}

}  // namespace

std::shared_ptr<SimulatedDevice> SimulatedDevice::Create(Config config, std::string& error) {
    error = Validate(config);
    if (!error.empty()) return nullptr;
    FlashGeometry geometry;
    GeometryForRow(config.partRow, geometry);
    return std::make_shared<SimulatedDevice>(Tag{}, std::move(config), geometry);
}

SimulatedDevice::SimulatedDevice(Tag, Config config, FlashGeometry geometry)
    : config_(std::move(config)), flash_(geometry), hdmi_(config_.hdmiInfo), hdcpEnabled_(config_.hdcpEnabled) {
    for (std::size_t i = 0; i < 4; ++i)
        registers_[kFirmwareVersionRegisters[i]] = config_.firmwareVersionUpperBits | config_.firmwareVersion[i];
    for (const IicDeviceConfig& device : config_.iicDevices) iic_[device.address].memory = device.memory;
    for (std::size_t pin = 0; pin < kGpioPins; ++pin) gpio_[pin].external = config_.gpioExternalLevels[pin] & 1;
}

vhid::DeviceInfo SimulatedDevice::Info() const {
    vhid::DeviceInfo info;
    info.vendorId = config_.vendorId;
    info.productId = config_.productId;
    info.versionNumber = config_.versionNumber;
    info.reportDescriptor = BuildReportDescriptor(config_);
    info.manufacturer = config_.manufacturer;
    info.product = config_.product;
    info.serialNumber = config_.serialNumber;
    return info;
}

// A transfer's time on the bus. A sleep overshoots by tens of microseconds, far too much
// for a modelled pace of a few hundred, so short delays wait on the clock instead.
void SimulatedDevice::Pace(std::chrono::microseconds delay) {
    constexpr std::chrono::milliseconds kSleepAbove{2};
    if (delay >= kSleepAbove) {
        std::this_thread::sleep_for(delay);
        return;
    }
    auto until = std::chrono::steady_clock::now() + delay;
    while (std::chrono::steady_clock::now() < until) std::this_thread::yield();
}

// Every transfer passes here: the pace delay, the fail and unplug faults, the log.
template <class Handle>
DWORD SimulatedDevice::Transfer(Direction direction, std::uint8_t reportId, ULONG length,
                                std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>* answer,
                                Handle&& handle) {
    std::chrono::microseconds delay;
    {
        std::lock_guard guard(mutex_);
        delay = delay_;
    }
    if (delay.count() > 0) Pace(delay);

    std::lock_guard guard(mutex_);
    TransferRecord record;
    record.sequence = ++sequence_;
    record.direction = direction;
    record.reportId = reportId;
    record.requestedLength = length;
    if (answer) answer->clear();
    if (unplugAfter_ && record.sequence > *unplugAfter_) {
        record.result = ERROR_DEVICE_NOT_CONNECTED;
        record.note = "fault: unplugged";
    } else if (failAt_ && record.sequence == *failAt_) {
        failAt_.reset();
        record.result = ERROR_GEN_FAILURE;
        record.note = "fault: failed transfer";
    } else {
        record.note = handle();
        if (!record.note.empty()) {
            record.result = ERROR_GEN_FAILURE;
            if (answer) answer->clear();
        }
    }
    if (answer && record.result == ERROR_SUCCESS) ApplyAnswerFaults(*answer, record.note);
    if (answer)
        record.bytes = *answer;
    else
        record.bytes.assign(bytes.begin(), bytes.end());
    DWORD result = record.result;
    Record(std::move(record));
    return result;
}

void SimulatedDevice::Record(TransferRecord record) {
    if (config_.logLimit == 0) return;
    while (log_.size() >= config_.logLimit) log_.pop_front();
    log_.push_back(std::move(record));
}

void SimulatedDevice::ApplyAnswerFaults(std::vector<std::uint8_t>& answer, std::string& note) {
    if (truncateTo_ && answer.size() > *truncateTo_) {
        answer.resize(*truncateTo_);
        note = "fault: answer truncated";
    }
    if (junkBytes_ > 0) {
        for (std::size_t i = 0; i < junkBytes_; ++i) answer.push_back(static_cast<std::uint8_t>(0xA5 ^ i));
        note = "fault: junk appended";
    }
}

DWORD SimulatedDevice::OnOutputReport(std::span<const std::uint8_t> report) {
    std::uint8_t id = report.empty() ? 0 : report[0];
    return Transfer(Direction::Output, id, static_cast<ULONG>(report.size()), report, nullptr,
                    [&] { return HandleOutput(report); });
}

DWORD SimulatedDevice::OnInputRequest(std::uint8_t reportId, ULONG requestedLength, std::vector<std::uint8_t>& answer) {
    return Transfer(Direction::Input, reportId, requestedLength, {}, &answer,
                    [&] { return HandleInput(reportId, requestedLength, answer); });
}

// The firmware declares no feature reports and answers nothing on the interrupt pipe.
DWORD SimulatedDevice::OnSetFeature(std::span<const std::uint8_t> report) {
    std::uint8_t id = report.empty() ? 0 : report[0];
    return Transfer(Direction::SetFeature, id, static_cast<ULONG>(report.size()), report, nullptr,
                    [] { return std::string("no feature reports"); });
}

DWORD SimulatedDevice::OnGetFeature(std::uint8_t reportId, ULONG requestedLength, std::vector<std::uint8_t>& answer) {
    return Transfer(Direction::GetFeature, reportId, requestedLength, {}, &answer,
                    [] { return std::string("no feature reports"); });
}

DWORD SimulatedDevice::OnWrite(std::span<const std::uint8_t> report) {
    std::uint8_t id = report.empty() ? 0 : report[0];
    return Transfer(Direction::Write, id, static_cast<ULONG>(report.size()), report, nullptr,
                    [&] { return HandleOutput(report); });
}

DWORD SimulatedDevice::OnRead(std::vector<std::uint8_t>& report, ULONG maxLength) {
    return Transfer(Direction::Read, 0, maxLength, {}, &report,
                    [] { return std::string("no interrupt input reports"); });
}

std::optional<ReportKind> SimulatedDevice::OutputKind(std::uint8_t id) const {
    for (std::size_t kind = 0; kind < kReportKinds; ++kind)
        if (config_.output[kind].declared && config_.output[kind].id == id) return static_cast<ReportKind>(kind);
    return std::nullopt;
}

std::optional<ReportKind> SimulatedDevice::InputKind(std::uint8_t id) const {
    for (std::size_t kind = 0; kind < kReportKinds; ++kind)
        if (config_.input[kind].declared && config_.input[kind].id == id) return static_cast<ReportKind>(kind);
    return std::nullopt;
}

std::string SimulatedDevice::CheckPadding(std::span<const std::uint8_t> report, std::size_t frameEnd) const {
    if (!config_.strictPadding) return {};
    for (std::size_t i = frameEnd; i < report.size(); ++i)
        if (report[i] != 0) return "nonzero byte " + std::to_string(i) + " after the frame";
    return {};
}

// ---- output reports

std::string SimulatedDevice::HandleOutput(std::span<const std::uint8_t> report) {
    if (report.empty()) return "empty output report";
    std::optional<ReportKind> kind = OutputKind(report[0]);
    if (!kind) return "unknown output report ID " + Hex(report[0]);
    const std::size_t expected = std::size_t{config_.output[static_cast<std::size_t>(*kind)].count} + 1;
    if (report.size() != expected)
        return "output report of " + std::to_string(report.size()) + " bytes, its length is " +
               std::to_string(expected);
    switch (*kind) {
    case ReportKind::FlashData: return HandleFlashData(report);
    case ReportKind::Control: return HandleControl(report);
    case ReportKind::Iic: return HandleIicOutput(report);
    }
    return "unknown report";
}

std::string SimulatedDevice::HandleFlashData(std::span<const std::uint8_t> report) {
    if (report.size() < 5) return "flash data report without room for data";
    if (report[1] != 0 || report[2] != 0 || report[3] != 0) return "flash data report with bytes 1-3 not zero";
    return flash_.Program(report.subspan(4), config_.strictPadding);
}

std::string SimulatedDevice::HandleControl(std::span<const std::uint8_t> report) {
    if (report.size() < 3) return "control report too short for a frame";
    const std::uint8_t command = report[2];
    std::optional<std::uint8_t> lengthByte = ControlLengthByte(command);
    if (!lengthByte) return "unknown control command " + Hex(command);
    if (report[1] != *lengthByte) return "length byte " + Hex(report[1]) + " for command " + Hex(command);
    const std::size_t frameEnd = std::size_t{*lengthByte} + 1;
    if (frameEnd > report.size()) return "frame longer than the control report";
    if (std::string error = CheckPadding(report, frameEnd); !error.empty()) return error;

    switch (command) {
    case 0x00: WriteRegister(Le32(report, 3), Le32(report, 7)); return {};
    case 0x01: readAddress_ = Le32(report, 3); return {};
    case 0x03: return flash_.Announce(report[3], Le32(report, 4));
    case 0x05: return flash_.SetLength(Le32(report, 3));
    case 0x08:
    case 0x09: {
        const std::uint8_t pin = report[3], value = report[4];
        if (pin >= kGpioPins) return "GPIO pin " + std::to_string(pin);
        if (value > 1) return "GPIO value " + std::to_string(value);
        if (command == 0x08)
            gpio_[pin].direction = value;
        else
            gpio_[pin].driven = value;
        return {};
    }
    case 0x0A:
        if (report[3] >= kGpioPins) return "GPIO pin " + std::to_string(report[3]);
        gpioReadPin_ = report[3];
        return {};
    default: return "unknown control command " + Hex(command);
    }
}

std::string SimulatedDevice::HandleIicOutput(std::span<const std::uint8_t> report) {
    if (report.size() < 5) return "IIC report too short for a frame";
    const std::uint8_t command = report[2], device = report[3], count = report[4];
    if (command != 0x06 && command != 0x07) return "unknown IIC command " + Hex(command);
    const bool read = command == 0x07;
    const std::size_t lengthByte = 4u + count + (read ? 1u : 0u);
    if (report[1] != lengthByte) return "length byte " + Hex(report[1]) + " for IIC count " + std::to_string(count);
    const std::size_t frameEnd = lengthByte + 1;
    if (frameEnd > report.size()) return "frame longer than the IIC report";
    if (std::string error = CheckPadding(report, frameEnd); !error.empty()) return error;

    std::span<const std::uint8_t> data = report.subspan(5, count);
    if (read)
        iicRead_ = IicRead(device, data, report[5 + count]);
    else
        iicWriteCode_ = IicWrite(device, data);
    return {};
}

void SimulatedDevice::WriteRegister(std::uint32_t address, std::uint32_t value) {
    if (IsFirmwareVersionRegister(address)) return;  // read-only
    if (address == kHdcpRegister) {
        if (value == kHdcpKeyOff) hdcpEnabled_ = false;
        if (value == kHdcpKeyOn) hdcpEnabled_ = true;
    }
    registers_[address] = value;
}

std::uint8_t SimulatedDevice::IicWrite(std::uint8_t device, std::span<const std::uint8_t> data) {
    auto it = iic_.find(device);
    if (it == iic_.end()) return kIicAddressNak;
    IicDevice& target = it->second;
    if (data.empty()) return kIicAck;  // an address probe
    target.pointer = data[0];
    for (std::uint8_t byte : data.subspan(1)) target.memory[target.pointer++] = byte;
    return kIicAck;
}

SimulatedDevice::IicReadResult SimulatedDevice::IicRead(std::uint8_t device, std::span<const std::uint8_t> data,
                                                        std::uint8_t readCount) {
    const std::size_t answerLength = std::size_t{config_.input[static_cast<std::size_t>(ReportKind::Iic)].count} + 1;
    if (std::size_t{readCount} + 1 > answerLength) return {kIicBadCount, {}};
    std::uint8_t code = IicWrite(device, data);
    if (code != kIicAck) return {code, {}};
    IicDevice& target = iic_[device];
    IicReadResult result{kIicAck, {}};
    for (std::uint8_t i = 0; i < readCount; ++i) result.bytes.push_back(target.memory[target.pointer++]);
    return result;
}

// ---- input requests

std::string SimulatedDevice::HandleInput(std::uint8_t reportId, ULONG requestedLength,
                                         std::vector<std::uint8_t>& answer) {
    std::optional<ReportKind> kind = InputKind(reportId);
    if (!kind) return "unknown input report ID " + Hex(reportId);
    const std::size_t reportLength = std::size_t{config_.input[static_cast<std::size_t>(*kind)].count} + 1;
    std::vector<std::uint8_t> payload;
    std::string error;
    if (*kind == ReportKind::FlashData) {
        if (requestedLength != reportLength)
            return "flash data request of length " + std::to_string(requestedLength) + ", its length is " +
                   std::to_string(reportLength);
        error = FlashAnswer(payload);
    } else {
        if (requestedLength > 0xFFFF || (requestedLength & 0xFF) != reportLength)
            return "requested length " + std::to_string(requestedLength) + " does not carry the report length " +
                   std::to_string(reportLength);
        const auto command = static_cast<std::uint8_t>(requestedLength >> 8);
        error = *kind == ReportKind::Control ? ControlAnswer(command, payload) : IicAnswer(command, payload);
    }
    if (!error.empty()) return error;
    // One report: the payload from byte 0, zero after it; never more than the report.
    payload.resize(reportLength, 0);
    answer = std::move(payload);
    return {};
}

std::string SimulatedDevice::ControlAnswer(std::uint8_t command, std::vector<std::uint8_t>& payload) {
    switch (command) {
    case 0x02: {
        if (!readAddress_) return "register value without a register address";
        auto it = registers_.find(*readAddress_);
        PutLe(payload, it == registers_.end() ? 0 : it->second, 4);
        return {};
    }
    case 0x04: PutLe(payload, getIdAnswer_.value_or(config_.partRow), 2); return {};
    case 0x0A: {
        if (!gpioReadPin_) return "GPIO level without a GPIO pin";
        const GpioPin& pin = gpio_[*gpioReadPin_];
        payload.push_back(pin.direction == 1 ? pin.driven : pin.external);
        return {};
    }
    default: return "unknown control request " + Hex(command);
    }
}

std::string SimulatedDevice::IicAnswer(std::uint8_t command, std::vector<std::uint8_t>& payload) {
    switch (command) {
    case 0x06:
        if (!iicWriteCode_) return "IIC write code without an IIC write";
        payload.push_back(*iicWriteCode_);
        return {};
    case 0x07:
        if (!iicRead_) return "IIC read answer without an IIC read";
        payload.push_back(iicRead_->code);
        payload.insert(payload.end(), iicRead_->bytes.begin(), iicRead_->bytes.end());
        return {};
    case 0x0B: payload.assign(hdmi_.begin(), hdmi_.end()); return {};
    case 0x0D:
        PutLe(payload, config_.vendorId, 2);
        PutLe(payload, config_.productId, 2);
        PutLe(payload, config_.versionNumber, 2);
        payload.push_back(0x02);  // high speed
        payload.push_back(0x01);  // configuration value
        return {};
    default: return "unknown IIC request " + Hex(command);
    }
}

std::string SimulatedDevice::FlashAnswer(std::vector<std::uint8_t>& payload) {
    const std::uint32_t limit = config_.input[static_cast<std::size_t>(ReportKind::FlashData)].count;
    if (std::string error = flash_.Read(limit, payload); !error.empty()) return error;
    ++readChunks_;
    if (corruptChunk_ && readChunks_ == *corruptChunk_) {
        corruptChunk_.reset();
        if (corruptByte_ < payload.size()) payload[corruptByte_] ^= 0xFF;
    }
    return {};
}

// ---- faults

void SimulatedDevice::FailTransfer(std::uint64_t nth) {
    std::lock_guard guard(mutex_);
    if (nth == 0)
        failAt_.reset();
    else
        failAt_ = sequence_ + nth;
}

void SimulatedDevice::UnplugAfter(std::uint64_t transfers) {
    std::lock_guard guard(mutex_);
    unplugAfter_ = sequence_ + transfers;
}

void SimulatedDevice::CorruptReadChunk(std::uint64_t nthChunk, std::size_t byteIndex) {
    std::lock_guard guard(mutex_);
    if (nthChunk == 0) {
        corruptChunk_.reset();
        return;
    }
    corruptChunk_ = readChunks_ + nthChunk;
    corruptByte_ = byteIndex;
}

void SimulatedDevice::SetDelay(std::chrono::microseconds perTransfer) {
    std::lock_guard guard(mutex_);
    delay_ = std::max(perTransfer, std::chrono::microseconds{0});
}

void SimulatedDevice::SetGetIdAnswer(std::optional<std::uint16_t> row) {
    std::lock_guard guard(mutex_);
    getIdAnswer_ = row;
}

void SimulatedDevice::SetInputTruncation(std::optional<std::size_t> bytes) {
    std::lock_guard guard(mutex_);
    truncateTo_ = bytes;
}

void SimulatedDevice::SetInputJunk(std::size_t bytes) {
    std::lock_guard guard(mutex_);
    junkBytes_ = std::min<std::size_t>(bytes, 4096);
}

void SimulatedDevice::ClearFaults() {
    std::lock_guard guard(mutex_);
    failAt_.reset();
    unplugAfter_.reset();
    corruptChunk_.reset();
    delay_ = std::chrono::microseconds{0};
    getIdAnswer_.reset();
    truncateTo_.reset();
    junkBytes_ = 0;
}

// ---- observation

std::vector<TransferRecord> SimulatedDevice::Log() const {
    std::lock_guard guard(mutex_);
    return {log_.begin(), log_.end()};
}

void SimulatedDevice::ClearLog() {
    std::lock_guard guard(mutex_);
    log_.clear();
}

std::uint64_t SimulatedDevice::TransferCount() const {
    std::lock_guard guard(mutex_);
    return sequence_;
}

std::vector<std::uint8_t> SimulatedDevice::FlashContents() const {
    std::lock_guard guard(mutex_);
    return flash_.Contents();
}

std::vector<std::uint8_t> SimulatedDevice::FlashBytes(std::uint32_t address, std::uint32_t length) const {
    std::lock_guard guard(mutex_);
    const auto& bytes = flash_.Contents();
    if (address >= bytes.size()) return {};
    const std::size_t end = std::min<std::size_t>(bytes.size(), std::size_t{address} + length);
    return {bytes.begin() + address, bytes.begin() + static_cast<std::ptrdiff_t>(end)};
}

bool SimulatedDevice::LoadFlash(std::span<const std::uint8_t> image) {
    std::lock_guard guard(mutex_);
    return flash_.Load(image);
}

FlashGeometry SimulatedDevice::Geometry() const { return flash_.Geometry(); }

std::uint32_t SimulatedDevice::Register(std::uint32_t address) const {
    std::lock_guard guard(mutex_);
    auto it = registers_.find(address);
    return it == registers_.end() ? 0 : it->second;
}

void SimulatedDevice::SetRegister(std::uint32_t address, std::uint32_t value) {
    std::lock_guard guard(mutex_);
    registers_[address] = value;
}

GpioPin SimulatedDevice::Gpio(std::uint8_t pin) const {
    std::lock_guard guard(mutex_);
    return pin < kGpioPins ? gpio_[pin] : GpioPin{};
}

void SimulatedDevice::SetGpioExternalLevel(std::uint8_t pin, std::uint8_t level) {
    std::lock_guard guard(mutex_);
    if (pin < kGpioPins) gpio_[pin].external = level & 1;
}

std::array<std::uint8_t, kHdmiInfoBytes> SimulatedDevice::HdmiInfo() const {
    std::lock_guard guard(mutex_);
    return hdmi_;
}

void SimulatedDevice::SetHdmiInfo(const std::array<std::uint8_t, kHdmiInfoBytes>& info) {
    std::lock_guard guard(mutex_);
    hdmi_ = info;
}

bool SimulatedDevice::HdcpEnabled() const {
    std::lock_guard guard(mutex_);
    return hdcpEnabled_;
}

std::optional<std::array<std::uint8_t, 256>> SimulatedDevice::IicMemory(std::uint8_t address) const {
    std::lock_guard guard(mutex_);
    auto it = iic_.find(address);
    if (it == iic_.end()) return std::nullopt;
    return it->second.memory;
}

std::unique_ptr<vhid::Publication> Publish(std::shared_ptr<SimulatedDevice> device, std::string_view tag) {
    vhid::DeviceInfo info = device->Info();
    info.path = vhid::MakePath(tag);
    return vhid::Publish(std::move(info), std::move(device));
}

}  // namespace sim
