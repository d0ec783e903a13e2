#include "tools/cli/session.h"

#include "core/format.h"
#include "device_ids.h"
#include "platform/win/text.h"
#include "tools/cli/device_choice.h"

namespace cli {

Session::Session(ConsoleReporter& reporter)
    : console(reporter), host(reporter), protocol(host, reporter, reporter), programmer(protocol, reporter) {}

Session::~Session() {
    if (claimed) protocol.ReleaseDevice();
    programmer.ReleaseFlashFile();
    host.Close();
}

std::string Session::DevicePath() const {
    const HidDevice& device = host.OpenedDevice();
    return device.path ? Utf16ToUtf8(device.path.get()) : std::string();
}

bool Session::ChooseDevice(const Options& o, DeviceQuery& query) {
    if (o.device.empty()) return true;
    std::vector<InterfaceEntry> present = ListHidInterfaces();
    std::string error;
    std::string path = ResolveDevicePath(o.device, present, error);
    if (path.empty()) {
        console.Fail(kExitNoDevice, error);
        return false;
    }
    query.onlyPath = Utf8ToUtf16(path);
    for (const InterfaceEntry& entry : present)
        if (entry.path == path && entry.accessible) {
            if (!o.vid) query.vendorId = entry.vid;
            if (!o.pid) query.productId = entry.pid;
        }
    return true;
}

bool Session::Open(const Options& o) {
    DeviceQuery query;
    query.vendorId = o.vid.value_or(uvc::kDeviceVendorId);
    query.productId = o.pid.value_or(uvc::kDeviceProductId);
    if (!ChooseDevice(o, query)) return false;
    console.Trace(core::Format("Open Device Info--VID/PID (0x%04x~0x%04x) \n", query.vendorId, query.productId));

    const OpenOutcome outcome = host.OpenDevice(query);
    if (!outcome.IsOpen()) {
        console.Show(OpenFailureBox(outcome, query));
        console.Fail(kExitNoDevice, "HID Device no found !");
        return false;
    }
    if (outcome.kind != OpenOutcome::Kind::Opened) {
        console.Fail(kExitDeviceError, "the device does not offer the reports the commands need");
        return false;
    }
    // A refusal has shown who holds the device, or traced why the claim failed.
    claimed = protocol.ClaimDevice();
    if (!claimed) console.Fail(kExitDeviceError, "the device could not be claimed");
    return claimed;
}

}  // namespace cli
