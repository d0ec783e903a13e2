// The report descriptor the simulated firmware declares.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/config.h"

namespace sim {

// One vendor-defined application collection (usage page 0xFF00, usage 1). Its main items
// are the declared output reports, then the declared input reports, each in ReportKind
// order with one 8-bit Var field of its report count, so that the value capabilities of
// each report type come out in that order (they follow the order of the main items).
std::vector<std::uint8_t> BuildReportDescriptor(const Config& config);

// Usage of the field of each report (output, input), by ReportKind.
inline constexpr std::uint8_t kOutputUsageBase = 0x10;
inline constexpr std::uint8_t kInputUsageBase = 0x20;

}  // namespace sim
