// The two control reports that announce a flash burst to the simulator's default device,
// for the benchmarks that drive it without the tool: access mode 1 (the whole flash) at
// address 0, then the burst's length. Each is a whole report: ID, the length byte, the
// command, little-endian parameters, zero after.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/config.h"

namespace benchsupport {

inline std::array<std::vector<std::uint8_t>, 2> BurstFrames(std::uint32_t length) {
    const sim::ReportConfig control = sim::Config().output[static_cast<std::size_t>(sim::ReportKind::Control)];
    auto frame = [&](std::uint8_t lengthByte, std::uint8_t command, std::uint32_t value, bool withMode) {
        std::vector<std::uint8_t> report(std::size_t{control.count} + 1, 0);
        report[0] = control.id, report[1] = lengthByte, report[2] = command;
        std::size_t at = 3;
        if (withMode) report[at++] = 1;
        for (int i = 0; i < 4; ++i) report[at++] = static_cast<std::uint8_t>(value >> (8 * i));
        return report;
    };
    return {frame(0x07, 0x03, 0, true), frame(0x06, 0x05, length, false)};
}

}  // namespace benchsupport
