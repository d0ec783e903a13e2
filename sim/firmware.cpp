#include "sim/firmware.h"

#include <algorithm>

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

Firmware::Firmware(Config config, FlashGeometry geometry)
    : config_(std::move(config)), flash_(geometry), hdmi_(config_.hdmiInfo), hdcpEnabled_(config_.hdcpEnabled) {
    for (std::size_t i = 0; i < 4; ++i)
        registers_[kFirmwareVersionRegisters[i]] = config_.firmwareVersionUpperBits | config_.firmwareVersion[i];
    for (const IicDeviceConfig& device : config_.iicDevices) iic_[device.address].memory = device.memory;
    for (std::size_t pin = 0; pin < kGpioPins; ++pin) gpio_[pin].external = config_.gpioExternalLevels[pin] & 1;
}

TransferOutcome Firmware::Handle(const TransferRequest& request, std::vector<std::uint8_t>* answer) {
    std::string refusal = Respond(request, answer);
    if (refusal.empty()) return {};
    if (answer) answer->clear();
    return {ERROR_GEN_FAILURE, std::move(refusal)};
}

// The firmware declares no feature reports and answers nothing on the interrupt pipe.
std::string Firmware::Respond(const TransferRequest& request, std::vector<std::uint8_t>* answer) {
    switch (request.direction) {
    case Direction::Output:
    case Direction::Write: return HandleOutput(request.report);
    case Direction::Input:
        if (!answer) return "input request without room for an answer";
        return HandleInput(request.reportId, request.length, *answer);
    case Direction::SetFeature:
    case Direction::GetFeature: return "no feature reports";
    case Direction::Read: return "no interrupt input reports";
    }
    return "unknown transfer";
}

std::optional<ReportKind> Firmware::OutputKind(std::uint8_t id) const {
    for (std::size_t kind = 0; kind < kReportKinds; ++kind)
        if (config_.output[kind].declared && config_.output[kind].id == id) return static_cast<ReportKind>(kind);
    return std::nullopt;
}

std::optional<ReportKind> Firmware::InputKind(std::uint8_t id) const {
    for (std::size_t kind = 0; kind < kReportKinds; ++kind)
        if (config_.input[kind].declared && config_.input[kind].id == id) return static_cast<ReportKind>(kind);
    return std::nullopt;
}

std::string Firmware::CheckPadding(std::span<const std::uint8_t> report, std::size_t frameEnd) const {
    if (!config_.strictPadding) return {};
    for (std::size_t i = frameEnd; i < report.size(); ++i)
        if (report[i] != 0) return "nonzero byte " + std::to_string(i) + " after the frame";
    return {};
}

// ---- output reports

std::string Firmware::HandleOutput(std::span<const std::uint8_t> report) {
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

std::string Firmware::HandleFlashData(std::span<const std::uint8_t> report) {
    if (report.size() < 5) return "flash data report without room for data";
    if (report[1] != 0 || report[2] != 0 || report[3] != 0) return "flash data report with bytes 1-3 not zero";
    return flash_.Program(report.subspan(4), config_.strictPadding);
}

std::string Firmware::HandleControl(std::span<const std::uint8_t> report) {
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

std::string Firmware::HandleIicOutput(std::span<const std::uint8_t> report) {
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

void Firmware::WriteRegister(std::uint32_t address, std::uint32_t value) {
    if (IsFirmwareVersionRegister(address)) return;  // read-only
    if (address == kHdcpRegister) {
        if (value == kHdcpKeyOff) hdcpEnabled_ = false;
        if (value == kHdcpKeyOn) hdcpEnabled_ = true;
    }
    registers_[address] = value;
}

std::uint8_t Firmware::IicWrite(std::uint8_t device, std::span<const std::uint8_t> data) {
    auto it = iic_.find(device);
    if (it == iic_.end()) return kIicAddressNak;
    IicDevice& target = it->second;
    if (data.empty()) return kIicAck;  // an address probe
    target.pointer = data[0];
    for (std::uint8_t byte : data.subspan(1)) target.memory[target.pointer++] = byte;
    return kIicAck;
}

Firmware::IicReadResult Firmware::IicRead(std::uint8_t device, std::span<const std::uint8_t> data,
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

std::string Firmware::HandleInput(std::uint8_t reportId, ULONG requestedLength,
                                         std::vector<std::uint8_t>& answer) {
    std::optional<ReportKind> kind = InputKind(reportId);
    if (!kind) return "unknown input report ID " + Hex(reportId);
    const std::size_t reportLength = std::size_t{config_.input[static_cast<std::size_t>(*kind)].count} + 1;
    answer.clear();  // built in place: the caller keeps its buffer from one request to the next
    std::string error;
    if (*kind == ReportKind::FlashData) {
        if (requestedLength != reportLength)
            return "flash data request of length " + std::to_string(requestedLength) + ", its length is " +
                   std::to_string(reportLength);
        error = FlashAnswer(answer);
    } else {
        if (requestedLength > 0xFFFF || (requestedLength & 0xFF) != reportLength)
            return "requested length " + std::to_string(requestedLength) + " does not carry the report length " +
                   std::to_string(reportLength);
        const auto command = static_cast<std::uint8_t>(requestedLength >> 8);
        error = *kind == ReportKind::Control ? ControlAnswer(command, answer) : IicAnswer(command, answer);
    }
    if (!error.empty()) {
        answer.clear();  // a refused request answers nothing
        return error;
    }
    // One report: the answer from byte 0, zero after it; never more than the report.
    answer.resize(reportLength, 0);
    return {};
}

std::string Firmware::ControlAnswer(std::uint8_t command, std::vector<std::uint8_t>& payload) {
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

std::string Firmware::IicAnswer(std::uint8_t command, std::vector<std::uint8_t>& payload) {
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

std::string Firmware::FlashAnswer(std::vector<std::uint8_t>& payload) {
    const std::uint32_t limit = config_.input[static_cast<std::size_t>(ReportKind::FlashData)].count;
    if (std::string error = flash_.Read(limit, payload); !error.empty()) return error;
    ++readChunks_;
    if (corruptChunk_ && readChunks_ == *corruptChunk_) {
        corruptChunk_.reset();
        if (corruptByte_ < payload.size()) payload[corruptByte_] ^= 0xFF;
    }
    return {};
}

// ---- wrong answers, observation and set-up

void Firmware::SetGetIdAnswer(std::optional<std::uint16_t> row) { getIdAnswer_ = row; }

void Firmware::CorruptReadChunk(std::uint64_t nthChunk, std::size_t byteIndex) {
    if (nthChunk == 0) {
        corruptChunk_.reset();
        return;
    }
    corruptChunk_ = readChunks_ + nthChunk;
    corruptByte_ = byteIndex;
}

std::uint32_t Firmware::Register(std::uint32_t address) const {
    auto it = registers_.find(address);
    return it == registers_.end() ? 0 : it->second;
}

void Firmware::SetGpioExternalLevel(std::uint8_t pin, std::uint8_t level) {
    if (pin < kGpioPins) gpio_[pin].external = level & 1;
}

std::optional<std::array<std::uint8_t, 256>> Firmware::IicMemory(std::uint8_t address) const {
    auto it = iic_.find(address);
    if (it == iic_.end()) return std::nullopt;
    return it->second.memory;
}

}  // namespace sim
