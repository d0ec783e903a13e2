#include "sim/config.h"

#include <set>

#include "platform/hid/hid_transport.h"
#include "sim/flash_geometry.h"

namespace sim {
namespace {

std::string CheckReports(const std::array<ReportConfig, kReportKinds>& reports, const char* direction) {
    std::set<std::uint8_t> ids;
    for (const ReportConfig& report : reports) {
        if (!report.declared) continue;
        if (report.id == 0) return std::string(direction) + " report ID 0 (every report must be numbered)";
        if (!ids.insert(report.id).second) return std::string(direction) + " report ID used twice";
    }
    return {};
}

}  // namespace

std::string Validate(const Config& config) {
    if (std::string error = CheckReports(config.output, "output"); !error.empty()) return error;
    if (std::string error = CheckReports(config.input, "input"); !error.empty()) return error;
    FlashGeometry geometry;
    if (!GeometryForRow(config.partRow, geometry)) return "part row outside the flash part table";
    // A string descriptor holds at most 126 characters.
    for (const std::u16string* text : {&config.manufacturer, &config.product, &config.serialNumber})
        if (text->size() > kMaxStringLength) return "a device string longer than 126 characters";
    if (!config.portPath.empty() && !hidtransport::IsUsbPortPath(config.portPath))
        return "the port path is not of the form BUS-PORT[.PORT...] (1-2.3)";
    std::set<std::uint8_t> addresses;
    for (const IicDeviceConfig& device : config.iicDevices)
        if (!addresses.insert(device.address).second) return "IIC address listed twice";
    return {};
}

}  // namespace sim
