// Hand-built frames for driving the simulated device directly through its handler.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "sim/simulated_device.h"

namespace simtest {

using Bytes = std::vector<std::uint8_t>;
using sim::ReportKind;

inline Bytes Le4(std::uint32_t v) {
    return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
}
inline std::uint32_t Le32(const Bytes& b, std::size_t at = 0) {
    return b.at(at) | std::uint32_t{b.at(at + 1)} << 8 | std::uint32_t{b.at(at + 2)} << 16 |
           std::uint32_t{b.at(at + 3)} << 24;
}
// The first byte (a return code), or -1 for a failed exchange.
inline int First(const Bytes& b) { return b.empty() ? -1 : b[0]; }
inline Bytes Head(const Bytes& b, std::size_t n) {
    return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(std::min(n, b.size())));
}
inline Bytes Pattern(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    return bytes;
}

class Bench {
public:
    explicit Bench(sim::Config config = {}) : config_(config) {
        std::string error;
        device = sim::SimulatedDevice::Create(config, error);
        EXPECT_TRUE(device) << error;
    }
    const sim::ReportConfig& Out(ReportKind kind) const { return config_.output[static_cast<std::size_t>(kind)]; }
    const sim::ReportConfig& In(ReportKind kind) const { return config_.input[static_cast<std::size_t>(kind)]; }

    // A zeroed output report of `kind`: report ID, length byte, command, then `params` from byte 3.
    Bytes Frame(ReportKind kind, std::uint8_t lengthByte, std::uint8_t command,
                std::initializer_list<Bytes> params = {}) const {
        Bytes report(std::size_t{Out(kind).count} + 1, 0);
        report[0] = Out(kind).id, report[1] = lengthByte, report[2] = command;
        std::size_t at = 3;
        for (const Bytes& part : params)
            for (std::uint8_t byte : part) report.at(at++) = byte;
        return report;
    }
    Bytes Control(std::uint8_t lengthByte, std::uint8_t command, std::initializer_list<Bytes> params = {}) const {
        return Frame(ReportKind::Control, lengthByte, command, params);
    }

    DWORD Send(const Bytes& report) { return device->OnOutputReport(report); }
    DWORD Request(ReportKind kind, std::uint8_t command, Bytes& answer) {
        return device->OnInputRequest(In(kind).id, (ULONG{command} << 8) | (ULONG{In(kind).count} + 1), answer);
    }
    // Sends `frame` (if any), then asks for the answer to `command`; empty when either fails.
    Bytes Ask(ReportKind kind, std::uint8_t command, const Bytes& frame = {}) {
        Bytes answer;
        if (!frame.empty() && Send(frame) != ERROR_SUCCESS) return {};
        return Request(kind, command, answer) == ERROR_SUCCESS ? answer : Bytes{};
    }

    DWORD RegisterWrite(std::uint32_t address, std::uint32_t value) {
        return Send(Control(0x0A, 0x00, {Le4(address), Le4(value)}));
    }
    std::optional<std::uint32_t> RegisterRead(std::uint32_t address) {
        Bytes answer = Ask(ReportKind::Control, 0x02, Control(0x06, 0x01, {Le4(address)}));
        return answer.empty() ? std::nullopt : std::optional(Le32(answer));
    }
    int GpioRead(std::uint8_t pin) {
        Bytes answer = Ask(ReportKind::Control, 0x0A, Control(0x03, 0x0A, {{pin}}));
        return answer.empty() ? -1 : answer[0];
    }
    // IIC write (command 0x06: its code) or read (0x07: code, then the bytes read).
    Bytes Iic(std::uint8_t address, const Bytes& data, std::optional<std::uint8_t> readCount = std::nullopt) {
        const std::uint8_t length = static_cast<std::uint8_t>(4 + data.size() + (readCount ? 1 : 0));
        const std::uint8_t command = readCount ? 0x07 : 0x06;
        Bytes tail = readCount ? Bytes{*readCount} : Bytes{};
        return Ask(ReportKind::Iic, command,
                   Frame(ReportKind::Iic, length, command, {{address, std::uint8_t(data.size())}, data, tail}));
    }

    DWORD AccessMode(std::uint8_t mode, std::uint32_t address) {
        return Send(Control(0x07, 0x03, {{mode}, Le4(address)}));
    }
    DWORD Length(std::uint32_t length) { return Send(Control(0x06, 0x05, {Le4(length)})); }
    DWORD Announce(std::uint8_t mode, std::uint32_t address, std::uint32_t length) {
        const DWORD error = AccessMode(mode, address);
        return error != ERROR_SUCCESS ? error : Length(length);
    }
    std::size_t WriteChunkLimit() const { return Out(ReportKind::FlashData).count - 3u; }
    DWORD DataReport(std::span<const std::uint8_t> chunk) {
        Bytes report(std::size_t{Out(ReportKind::FlashData).count} + 1, 0);
        report[0] = Out(ReportKind::FlashData).id;
        EXPECT_LE(chunk.size(), WriteChunkLimit());
        std::copy_n(chunk.begin(), std::min(chunk.size(), WriteChunkLimit()), report.begin() + 4);
        return Send(report);
    }
    DWORD DataRequest(Bytes& answer) {
        return device->OnInputRequest(In(ReportKind::FlashData).id, ULONG{In(ReportKind::FlashData).count} + 1, answer);
    }
    // A whole write burst, chunk by chunk as a host sends it.
    DWORD WriteBurst(std::uint8_t mode, std::uint32_t address, std::span<const std::uint8_t> data) {
        DWORD error = Announce(mode, address, static_cast<std::uint32_t>(data.size()));
        for (std::size_t at = 0; error == ERROR_SUCCESS && at < data.size(); at += WriteChunkLimit())
            error = DataReport(data.subspan(at, std::min(WriteChunkLimit(), data.size() - at)));
        return error;
    }
    // A whole read burst: the first chunk-length bytes of each answer.
    DWORD ReadBurst(std::uint8_t mode, std::uint32_t address, std::uint32_t length, Bytes& out) {
        out.clear();
        DWORD error = Announce(mode, address, length);
        for (Bytes answer; error == ERROR_SUCCESS && out.size() < length;) {
            error = DataRequest(answer);
            const std::size_t chunk =
                std::min<std::size_t>({In(ReportKind::FlashData).count, length - out.size(), answer.size()});
            out.insert(out.end(), answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(chunk));
        }
        return error;
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

}  // namespace simtest
