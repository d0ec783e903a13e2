#include "tools/cli/session.h"

#include "core/format.h"
#include "device_ids.h"
#include "platform/hid/hidsdi.h"
#include "platform/win/win_error.h"
#include "platform/win/text.h"
#include "tools/cli/device_choice.h"
#include "tools/cli/report.h"

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

namespace {

DeviceQuery QueryFor(const Options& o, const InterfaceEntry* entry) {
    DeviceQuery query;
    query.vendorId = o.vid.value_or(entry ? entry->vid : uvc::kDeviceVendorId);
    query.productId = o.pid.value_or(entry ? entry->pid : uvc::kDeviceProductId);
    if (entry) query.onlyPath = Utf8ToUtf16(entry->path);
    return query;
}

}  // namespace

bool Session::ChooseDevice(const Options& o, std::vector<DeviceQuery>& queries) {
    // What the enumeration tells suffices here: ids, serial number and port path.
    present = ListHidInterfaces(false);
    std::vector<InterfaceEntry> named;
    if (o.device.empty()) {
        const DeviceQuery byIds = QueryFor(o, nullptr);
        for (const InterfaceEntry& entry : present)
            if (entry.vid == byIds.vendorId && entry.pid == byIds.productId) named.push_back(entry);
        candidates = Boards(named);
        if (candidates.size() > 1) {
            console.Fail(kExitAmbiguous, AmbiguityText(Hex(byIds.vendorId, 4) + ":" + Hex(byIds.productId, 4), candidates));
            return false;
        }
        candidates.clear();
        if (!named.empty()) console.SetDevice(DeviceLabel(named.front().path, named.front().portPath));
        queries = {byIds};
        return true;
    }
    std::string error;
    named = InterfacesNamed(o.device, present, error);
    if (named.empty()) {
        console.Fail(kExitNoDevice, error);
        return false;
    }
    if (std::vector<InterfaceEntry> boards = Boards(named); boards.size() > 1) {
        candidates = boards;
        console.Fail(kExitAmbiguous, AmbiguityText(o.device, candidates));
        return false;
    }
    console.SetDevice(DeviceLabel(named.front().path, named.front().portPath));
    for (const InterfaceEntry& entry : named) queries.push_back(QueryFor(o, &entry));
    return true;
}

bool Session::Open(const Options& o) {
    std::vector<DeviceQuery> queries;
    return ChooseDevice(o, queries) && OpenFirst(queries);
}

bool Session::OpenBoard(const Options& o, const std::vector<InterfaceEntry>& board) {
    present = board;
    std::vector<DeviceQuery> queries;
    for (const InterfaceEntry& entry : board) queries.push_back(QueryFor(o, &entry));
    return OpenFirst(queries);
}

// Whether the open handle reaches the plug-in the choice looked at: a board swapped at
// its node or socket between the look and the open is another board, chosen by nobody.
bool Session::SamePlugInAsLooked() const {
    if (opened.plugId.empty()) return true;  // the transport could not tell at the look
    WCHAR now[256] = {};
    if (HidExt_GetPlugIdentity(host.OpenedDevice().handle, now, sizeof now))
        return Utf16ToUtf8(std::u16string_view(now, WideLength(now))) == opened.plugId;
    // A device gone since the open fails at its first command, and says so there.
    return GetLastError() != ERROR_INSUFFICIENT_BUFFER;
}

bool Session::OpenFirst(const std::vector<DeviceQuery>& queries) {
    OpenOutcome outcome;
    const DeviceQuery* query = nullptr;
    for (const DeviceQuery& next : queries) {
        query = &next;
        console.Trace(core::Format("Open Device Info--VID/PID (0x%04x~0x%04x) \n", next.vendorId, next.productId));
        outcome = host.OpenDevice(next);
        // A board may have several interfaces; one whose reports cannot serve is passed by.
        if (outcome.kind != OpenOutcome::Kind::CannotServe || &next == &queries.back()) break;
        host.Close();
    }
    if (query == nullptr || !outcome.IsOpen()) {
        if (query) console.Show(OpenFailureBox(outcome, *query));
        console.Fail(kExitNoDevice, "HID Device no found !");
        return false;
    }
    const std::string path = DevicePath();
    for (const InterfaceEntry& entry : present)
        if (entry.path == path) opened = entry;
    opened.path = path;
    console.SetDevice(DeviceLabel(path, opened.portPath));
    if (!SamePlugInAsLooked()) {
        console.Fail(kExitNoDevice, "the device at " + path +
                                        " was plugged in anew since it was chosen; nothing was sent (run again)");
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
