#include "sim/descriptor.h"

namespace sim {
namespace {

// Short items of the USB HID class definition, section 6.2.2.
constexpr std::uint8_t kUsagePage16 = 0x06;
constexpr std::uint8_t kUsage8 = 0x09;
constexpr std::uint8_t kCollection = 0xA1;
constexpr std::uint8_t kEndCollection = 0xC0;
constexpr std::uint8_t kReportId = 0x85;
constexpr std::uint8_t kLogicalMinimum8 = 0x15;
constexpr std::uint8_t kLogicalMaximum16 = 0x26;
constexpr std::uint8_t kReportSize8 = 0x75;
constexpr std::uint8_t kReportCount16 = 0x96;
constexpr std::uint8_t kInput = 0x81;
constexpr std::uint8_t kOutput = 0x91;
constexpr std::uint8_t kDataVarAbs = 0x02;
constexpr std::uint8_t kApplication = 0x01;

void AppendReport(std::vector<std::uint8_t>& d, const ReportConfig& report, std::uint8_t usage,
                  std::uint8_t mainItem) {
    if (!report.declared) return;
    d.insert(d.end(), {kReportId, report.id, kUsage8, usage});
    d.insert(d.end(), {kReportCount16, static_cast<std::uint8_t>(report.count & 0xFF),
                       static_cast<std::uint8_t>(report.count >> 8)});
    d.insert(d.end(), {mainItem, kDataVarAbs});
}

}  // namespace

std::vector<std::uint8_t> BuildReportDescriptor(const Config& config) {
    std::vector<std::uint8_t> d{kUsagePage16, 0x00, 0xFF, kUsage8, 0x01, kCollection, kApplication};
    // Field shape shared by every report: bytes 0..255.
    d.insert(d.end(), {kLogicalMinimum8, 0x00, kLogicalMaximum16, 0xFF, 0x00, kReportSize8, 0x08});
    for (std::size_t kind = 0; kind < kReportKinds; ++kind)
        AppendReport(d, config.output[kind], static_cast<std::uint8_t>(kOutputUsageBase + kind), kOutput);
    for (std::size_t kind = 0; kind < kReportKinds; ++kind)
        AppendReport(d, config.input[kind], static_cast<std::uint8_t>(kInputUsageBase + kind), kInput);
    d.push_back(kEndCollection);
    return d;
}

}  // namespace sim
