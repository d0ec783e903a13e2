// Hand-built frames for driving the simulated device directly through its handler.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "sim/simulated_device.h"

namespace simtest {

inline void PutLe(std::vector<std::uint8_t>& report, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) report[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline std::uint32_t Le32(const std::vector<std::uint8_t>& bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

class Bench {
public:
    explicit Bench(sim::Config config = {}) : config_(config) {
        std::string error;
        device = sim::SimulatedDevice::Create(config, error);
        EXPECT_TRUE(device) << error;
    }

    const sim::ReportConfig& Out(sim::ReportKind kind) const { return config_.output[static_cast<std::size_t>(kind)]; }
    const sim::ReportConfig& In(sim::ReportKind kind) const { return config_.input[static_cast<std::size_t>(kind)]; }

    // A zeroed output report of `kind` with its report ID, length byte and command.
    std::vector<std::uint8_t> Frame(sim::ReportKind kind, std::uint8_t lengthByte, std::uint8_t command) const {
        std::vector<std::uint8_t> report(std::size_t{Out(kind).count} + 1, 0);
        report[0] = Out(kind).id;
        report[1] = lengthByte;
        report[2] = command;
        return report;
    }
    std::vector<std::uint8_t> Control(std::uint8_t lengthByte, std::uint8_t command) const {
        return Frame(sim::ReportKind::Control, lengthByte, command);
    }

    DWORD Send(const std::vector<std::uint8_t>& report) { return device->OnOutputReport(report); }
    DWORD Request(sim::ReportKind kind, std::uint8_t command, std::vector<std::uint8_t>& answer) {
        const ULONG length = ULONG{In(kind).count} + 1;
        return device->OnInputRequest(In(kind).id, (ULONG{command} << 8) | length, answer);
    }

    DWORD RegisterWrite(std::uint32_t address, std::uint32_t value) {
        auto report = Control(0x0A, 0x00);
        PutLe(report, 3, address);
        PutLe(report, 7, value);
        return Send(report);
    }
    DWORD RegisterRead(std::uint32_t address, std::uint32_t& value) {
        auto report = Control(0x06, 0x01);
        PutLe(report, 3, address);
        if (DWORD error = Send(report); error != ERROR_SUCCESS) return error;
        std::vector<std::uint8_t> answer;
        if (DWORD error = Request(sim::ReportKind::Control, 0x02, answer); error != ERROR_SUCCESS) return error;
        value = Le32(answer);
        return ERROR_SUCCESS;
    }
    DWORD Gpio(std::uint8_t command, std::uint8_t pin, std::uint8_t value) {
        auto report = Control(0x04, command);
        report[3] = pin;
        report[4] = value;
        return Send(report);
    }
    DWORD GpioRead(std::uint8_t pin, std::uint8_t& level) {
        auto report = Control(0x03, 0x0A);
        report[3] = pin;
        if (DWORD error = Send(report); error != ERROR_SUCCESS) return error;
        std::vector<std::uint8_t> answer;
        if (DWORD error = Request(sim::ReportKind::Control, 0x0A, answer); error != ERROR_SUCCESS) return error;
        level = answer.at(0);
        return ERROR_SUCCESS;
    }
    DWORD IicWrite(std::uint8_t address, const std::vector<std::uint8_t>& data, std::uint8_t& code) {
        auto report = Frame(sim::ReportKind::Iic, static_cast<std::uint8_t>(4 + data.size()), 0x06);
        report[3] = address;
        report[4] = static_cast<std::uint8_t>(data.size());
        std::copy(data.begin(), data.end(), report.begin() + 5);
        if (DWORD error = Send(report); error != ERROR_SUCCESS) return error;
        std::vector<std::uint8_t> answer;
        if (DWORD error = Request(sim::ReportKind::Iic, 0x06, answer); error != ERROR_SUCCESS) return error;
        code = answer.at(0);
        return ERROR_SUCCESS;
    }
    // The answer: return code, then the bytes read.
    DWORD IicRead(std::uint8_t address, const std::vector<std::uint8_t>& data, std::uint8_t readCount,
                  std::vector<std::uint8_t>& answer) {
        auto report = Frame(sim::ReportKind::Iic, static_cast<std::uint8_t>(5 + data.size()), 0x07);
        report[3] = address;
        report[4] = static_cast<std::uint8_t>(data.size());
        std::copy(data.begin(), data.end(), report.begin() + 5);
        report[5 + data.size()] = readCount;
        if (DWORD error = Send(report); error != ERROR_SUCCESS) return error;
        return Request(sim::ReportKind::Iic, 0x07, answer);
    }

    DWORD AccessMode(std::uint8_t mode, std::uint32_t address) {
        auto report = Control(0x07, 0x03);
        report[3] = mode;
        PutLe(report, 4, address);
        return Send(report);
    }
    DWORD Length(std::uint32_t length) {
        auto report = Control(0x06, 0x05);
        PutLe(report, 3, length);
        return Send(report);
    }
    DWORD Announce(std::uint8_t mode, std::uint32_t address, std::uint32_t length) {
        if (DWORD error = AccessMode(mode, address); error != ERROR_SUCCESS) return error;
        return Length(length);
    }
    std::size_t WriteChunkLimit() const { return Out(sim::ReportKind::FlashData).count - 3u; }
    DWORD DataReport(std::span<const std::uint8_t> chunk) {
        EXPECT_LE(chunk.size(), WriteChunkLimit());
        chunk = chunk.first(std::min(chunk.size(), WriteChunkLimit()));
        std::vector<std::uint8_t> report(std::size_t{Out(sim::ReportKind::FlashData).count} + 1, 0);
        report[0] = Out(sim::ReportKind::FlashData).id;
        std::copy(chunk.begin(), chunk.end(), report.begin() + 4);
        return Send(report);
    }
    DWORD DataRequest(std::vector<std::uint8_t>& answer) {
        const auto& flash = In(sim::ReportKind::FlashData);
        return device->OnInputRequest(flash.id, ULONG{flash.count} + 1, answer);
    }
    // A whole write burst, chunk by chunk as a host sends it.
    DWORD WriteBurst(std::uint8_t mode, std::uint32_t address, std::span<const std::uint8_t> data) {
        if (DWORD error = Announce(mode, address, static_cast<std::uint32_t>(data.size())); error != ERROR_SUCCESS)
            return error;
        for (std::size_t at = 0; at < data.size(); at += WriteChunkLimit())
            if (DWORD error = DataReport(data.subspan(at, std::min(WriteChunkLimit(), data.size() - at)));
                error != ERROR_SUCCESS)
                return error;
        return ERROR_SUCCESS;
    }
    // A whole read burst: the first chunk-length bytes of each answer.
    DWORD ReadBurst(std::uint8_t mode, std::uint32_t address, std::uint32_t length, std::vector<std::uint8_t>& out) {
        out.clear();
        if (DWORD error = Announce(mode, address, length); error != ERROR_SUCCESS) return error;
        const std::size_t limit = In(sim::ReportKind::FlashData).count;
        while (out.size() < length) {
            std::vector<std::uint8_t> answer;
            if (DWORD error = DataRequest(answer); error != ERROR_SUCCESS) return error;
            const std::size_t chunk = std::min<std::size_t>(limit, length - out.size());
            out.insert(out.end(), answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(chunk));
        }
        return ERROR_SUCCESS;
    }

    sim::TransferRecord LastRecord() const {
        auto log = device->Log();
        EXPECT_FALSE(log.empty());
        return log.empty() ? sim::TransferRecord{} : log.back();
    }

    std::shared_ptr<sim::SimulatedDevice> device;

private:
    sim::Config config_;
};

inline std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    return bytes;
}

}  // namespace simtest
