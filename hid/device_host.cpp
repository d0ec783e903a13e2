#include "hid/device_host.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "core/format.h"
#include "platform/hid/hid_transport.h"
#include "platform/hid/setupapi.h"
#include "platform/win/file_api.h"
#include "platform/win/module.h"
#include "platform/win/text.h"
#include "platform/win/win_error.h"

std::atomic<PFN_HidP_GetExtendedAttributes> pHidP_GetExtendedAttributes{nullptr};
std::atomic<PFN_HidP_InitializeReportForID> pHidP_InitializeReportForID{nullptr};

namespace {

constexpr ULONG kFirstListCapacity = 20;

// Handle 0 is never a live handle here; both it and the invalid value mean "not open".
bool HoldsHandle(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

template <class T>
std::unique_ptr<T[]> ZeroedArray(std::size_t count) {
    std::unique_ptr<T[]> block(new (std::nothrow) T[count == 0 ? 1 : count]());
    return block;
}

CommandBuffer AllocateBuffer(ULONG length) {
    CommandBuffer buffer;
    buffer.data = CommandBufferPtr(static_cast<std::uint8_t*>(HeapAlloc(GetProcessHeap(), 0, length)));
    buffer.length = length;
    return buffer;
}

// The ids of an interface that could not be opened come from the system's listing.
std::u16string FirstListedWithIds(const std::vector<std::u16string>& paths, const DeviceQuery& query) {
    if (paths.empty()) return {};
    const std::vector<hidtransport::InterfaceInfo> listed = hidtransport::EnumerateInterfaces();
    for (const std::u16string& path : paths)
        for (const hidtransport::InterfaceInfo& info : listed)
            if (info.path == path && info.vendorId == query.vendorId && info.productId == query.productId) return path;
    return {};
}

}  // namespace

core::Box OpenFailureBox(const OpenOutcome& outcome, const DeviceQuery& query) {
    if (outcome.kind != OpenOutcome::Kind::NoAccess) return core::ErrorBox("HID Device no found !");
    return core::ErrorBox(core::Format(
        "The HID device (VID 0x%04X, PID 0x%04X) is present, but this user may not open it (%s).\r\n\r\n"
        "To grant access, install the uvc-hid package: its udev rule 70-uvc-hid-tool.rules (in "
        "/usr/lib/udev/rules.d) lets the user logged in at the desktop open the device. Then unplug the device "
        "and plug it in again. A user without a desktop session (ssh, a production-line account) joins the "
        "group plugdev instead (adduser USER plugdev) and logs in again. Ids other than the tool's defaults need "
        "a copy of the rule with those ids in /etc/udev/rules.d/.",
        query.vendorId, query.productId, Utf16ToUtf8(outcome.deniedPath).c_str()));
}

BOOL WalkHidInterfaces(const std::function<bool(ULONG index, const WCHAR* path)>& visit) {
    GUID hidGuid{};
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO set = SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_DEVINFO_HANDLE) return FALSE;
    for (ULONG index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &data)) {
            if (GetLastError() == ERROR_NO_MORE_ITEMS) break;
            if (!visit(index, nullptr)) break;  // any other error skips this index
            continue;
        }
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
        std::vector<std::uint8_t> buffer(std::max<DWORD>(size, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        detail->DevicePath[0] = 0;
        bool read = SetupDiGetDeviceInterfaceDetailW(set, &data, detail, static_cast<DWORD>(buffer.size()), nullptr,
                                                     nullptr);
        if (!visit(index, read ? detail->DevicePath : nullptr)) break;
    }
    SetupDiDestroyDeviceInfoList(set);
    return TRUE;
}

HidDeviceHost::HidDeviceHost(core::Reporter& r) : reporter(r) {
    // The record starts zero-filled, as the design has it: handle 0, not invalid.
    device.handle = nullptr;
}

HidDeviceHost::~HidDeviceHost() { Close(); }

void HidDeviceHost::Close() {
    ReleaseHidDevice(device);
    ReleaseCommandBuffers();
}

OpenOutcome HidDeviceHost::OpenDevice(const DeviceQuery& wanted) {
    query = wanted;
    OpenOutcome outcome;
    std::vector<HidDevice> list;
    ULONG count = 0;
    if (!EnumerateHidInterfaces(list, count)) return outcome;

    deviceOpen = matchedIndex != kNoMatchedDevice ? 1 : 0;
    if (deviceOpen == 0) {
        if (!deniedMatch.empty()) outcome.kind = OpenOutcome::Kind::NoAccess;
        outcome.deniedPath = deniedMatch;
        return outcome;
    }
    // The record held before (possible only after a refused open) is released first, so
    // its handle and buffers are not lost. The device list goes with `list`: its matched
    // entry now belongs to the host and every other entry was released during the search.
    ReleaseHidDevice(device);
    device = std::move(list[matchedIndex]);
    outcome.index = matchedIndex;
    ResolveHidEntryPoints();
    if (!DeviceCanServeCommands()) {
        reporter.Trace("Error initializing flash and RW buffer\n");
        outcome.kind = OpenOutcome::Kind::CannotServe;
        return outcome;
    }
    AllocateCommandBuffers();
    outcome.kind = OpenOutcome::Kind::Opened;
    return outcome;
}

void HidDeviceHost::ResolveHidEntryPoints() {
    HMODULE module = LoadLibraryW(u"HID.DLL");
    FARPROC extended = module != nullptr ? GetProcAddress(module, "HidP_GetExtendedAttributes") : nullptr;
    FARPROC initialize = module != nullptr ? GetProcAddress(module, "HidP_InitializeReportForID") : nullptr;
    pHidP_GetExtendedAttributes = reinterpret_cast<PFN_HidP_GetExtendedAttributes>(extended);
    pHidP_InitializeReportForID = reinterpret_cast<PFN_HidP_InitializeReportForID>(initialize);
    if (extended == nullptr || initialize == nullptr) reporter.Trace("Fail to get HID function\n");
}

// The commands address value capabilities 0 to 2 of both report types, and a flash read
// chunk is copied into the flash write buffer, so a device must offer all six and a read
// chunk of 1 to flashBuffer-length bytes.
bool HidDeviceHost::DeviceCanServeCommands() {
    if (device.caps.NumberOutputValueCaps < 3 || device.caps.NumberInputValueCaps < 3) return false;
    ULONG readLength = device.Tables(HidP_Input).valueCaps[0].ReportCount;
    ULONG writeBufferLength = device.Tables(HidP_Output).valueCaps[0].ReportCount + 1u;
    return readLength != 0 && readLength <= writeBufferLength;
}

void HidDeviceHost::AllocateCommandBuffers() {
    ReleaseCommandBuffers();
    flashBuffer = AllocateBuffer(device.Tables(HidP_Output).valueCaps[0].ReportCount + 1u);
    controlBuffer = AllocateBuffer(device.Tables(HidP_Output).valueCaps[1].ReportCount + 1u);
    iicBuffer = AllocateBuffer(device.Tables(HidP_Output).valueCaps[2].ReportCount + 1u);
    if (!flashBuffer || !controlBuffer || !iicBuffer) reporter.Trace("Error allocating memory\n");
    if (device.caps.NumberInputValueCaps >= 2) flashReadLength = device.Tables(HidP_Input).valueCaps[0].ReportCount;
}

void HidDeviceHost::ReleaseCommandBuffers() {
    flashBuffer = {};
    controlBuffer = {};
    iicBuffer = {};
}

BOOL HidDeviceHost::EnumerateHidInterfaces(std::vector<HidDevice>& list, ULONG& count) {
    list.clear();
    count = 0;
    // Every search starts afresh, so a second press does not stop at a stale index.
    deviceMatched = 0;
    matchedIndex = kNoMatchedDevice;
    deniedMatch.clear();
    std::vector<std::u16string> deniedInterfaces;
    ULONG next = 0;  // the first index not visited
    BOOL walked = WalkHidInterfaces([&](ULONG index, const WCHAR* path) {
        // The list grows in doubling steps, as the design sizes it (20, 40, 80, ...).
        if (index >= list.size()) {
            std::size_t capacity = list.empty() ? kFirstListCapacity : list.size();
            while (capacity <= index) capacity *= 2;
            list.resize(capacity);
        }
        list[index].Clear();
        next = index + 1;
        if (path == nullptr) return true;
        bool opened = false;
        if (query.onlyPath.empty() || query.onlyPath == path) {
            SetLastError(ERROR_SUCCESS);
            opened = OpenHidInterface(path, 0, 0, 0, 0, list[index]) != FALSE;
            if (!opened && deviceMatched == 0 && GetLastError() == ERROR_ACCESS_DENIED)
                deniedInterfaces.emplace_back(path);
        }
        if (deviceMatched == 1) {
            // A match whose record could not be built ends the search as not found, so
            // the host never takes over a released record.
            if (opened) matchedIndex = index;
            return false;
        }
        return true;
    });
    if (!walked) return FALSE;
    count = matchedIndex != kNoMatchedDevice ? matchedIndex : next;
    if (deviceMatched == 0) deniedMatch = FirstListedWithIds(deniedInterfaces, query);
    return TRUE;
}

BOOL HidDeviceHost::OpenHidInterface(const WCHAR* path, ULONG readAccess, ULONG writeAccess, ULONG overlapped,
                                     ULONG exclusive, HidDevice& record) {
    record.Clear();
    if (path == nullptr) return FALSE;
    auto fail = [&] {
        ReleaseHidDevice(record);
        return FALSE;
    };
    std::size_t length = WideLength(path);
    record.path.reset(new (std::nothrow) WCHAR[length + 1]);
    if (!record.path) return fail();
    std::memcpy(record.path.get(), path, (length + 1) * sizeof(WCHAR));

    DWORD access = (readAccess ? GENERIC_READ : 0u) | (writeAccess ? GENERIC_WRITE : 0u);
    DWORD share = exclusive ? 0u : FILE_SHARE_READ | FILE_SHARE_WRITE;
    record.handle = CreateFileW(path, access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (record.handle == INVALID_HANDLE_VALUE) return fail();
    record.readAccess = readAccess;
    record.writeAccess = writeAccess;
    record.overlapped = overlapped;
    record.exclusive = exclusive;

    if (!HidD_GetPreparsedData(record.handle, &record.preparsedData)) return fail();
    if (!HidD_GetAttributes(record.handle, &record.attributes)) return fail();
    HidP_GetCaps(record.preparsedData, &record.caps);

    if (record.attributes.VendorID != query.vendorId || record.attributes.ProductID != query.productId) return fail();
    deviceMatched = 1;
    if (!BuildCapabilityTables(record)) return fail();

    if (overlapped) {
        CloseHandle(record.handle);
        record.handle = CreateFileW(path, access, share, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (record.handle == INVALID_HANDLE_VALUE) return fail();
    }
    return TRUE;
}

namespace {

// The tables of one report type from the preparsed data and the counts in `caps`.
bool BuildTypeTables(HIDP_REPORT_TYPE type, const HIDP_CAPS& caps, ReportTables& t, PHIDP_PREPARSED_DATA preparsed) {
    const USHORT reportLength = type == HidP_Input    ? caps.InputReportByteLength
                                : type == HidP_Output ? caps.OutputReportByteLength
                                                      : caps.FeatureReportByteLength;
    const USHORT buttonCount = type == HidP_Input    ? caps.NumberInputButtonCaps
                               : type == HidP_Output ? caps.NumberOutputButtonCaps
                                                     : caps.NumberFeatureButtonCaps;
    const USHORT valueCount = type == HidP_Input    ? caps.NumberInputValueCaps
                              : type == HidP_Output ? caps.NumberOutputValueCaps
                                                    : caps.NumberFeatureValueCaps;
    t.report = ZeroedArray<std::uint8_t>(reportLength);
    t.buttonCaps = ZeroedArray<HIDP_BUTTON_CAPS>(buttonCount);
    t.valueCaps = ZeroedArray<HIDP_VALUE_CAPS>(valueCount);
    if (!t.report || !t.buttonCaps || !t.valueCaps) return false;
    if (buttonCount > 0) {
        USHORT n = buttonCount;
        if (HidP_GetButtonCaps(type, t.buttonCaps.get(), &n, preparsed) != HIDP_STATUS_SUCCESS) return false;
    }
    if (valueCount > 0) {
        USHORT n = valueCount;
        if (HidP_GetValueCaps(type, t.valueCaps.get(), &n, preparsed) != HIDP_STATUS_SUCCESS) return false;
    }
    // A value range with UsageMin above UsageMax would make the count and the entries
    // disagree; such a capability is refused for every report type.
    std::uint64_t valueUsages = 0;
    for (USHORT i = 0; i < valueCount; ++i) {
        const HIDP_VALUE_CAPS& cap = t.valueCaps[i];
        if (cap.IsRange && cap.Range.UsageMin > cap.Range.UsageMax) return false;
        valueUsages += cap.IsRange ? cap.Range.UsageMax - cap.Range.UsageMin + 1u : 1u;
    }
    std::uint64_t total = buttonCount + valueUsages;
    if (total > std::numeric_limits<ULONG>::max()) return false;
    t.entries = ZeroedArray<UsageEntry>(static_cast<std::size_t>(total));
    if (!t.entries) return false;
    t.entryCount = static_cast<ULONG>(total);

    ULONG next = 0;
    for (USHORT i = 0; i < buttonCount; ++i) {
        const HIDP_BUTTON_CAPS& cap = t.buttonCaps[i];
        UsageEntry& entry = t.entries[next++];
        entry.isButton = 1;
        entry.status = HIDP_STATUS_SUCCESS;
        entry.usagePage = cap.UsagePage;
        entry.reportId = cap.ReportID;
        entry.firstUsage = cap.IsRange ? cap.Range.UsageMin : cap.NotRange.Usage;
        entry.lastUsage = cap.IsRange ? cap.Range.UsageMax : cap.NotRange.Usage;
        entry.usageCapacity = HidP_MaxUsageListLength(type, cap.UsagePage, preparsed);
        entry.usageList = ZeroedArray<USAGE>(entry.usageCapacity);
        if (!entry.usageList) return false;
    }
    for (USHORT i = 0; i < valueCount; ++i) {
        const HIDP_VALUE_CAPS& cap = t.valueCaps[i];
        ULONG first = cap.IsRange ? cap.Range.UsageMin : cap.NotRange.Usage;
        ULONG last = cap.IsRange ? cap.Range.UsageMax : cap.NotRange.Usage;
        for (ULONG usage = first; usage <= last; ++usage) {
            if (next >= t.entryCount) return false;
            UsageEntry& entry = t.entries[next++];
            entry.isButton = 0;
            entry.status = HIDP_STATUS_SUCCESS;
            entry.usagePage = cap.UsagePage;
            entry.reportId = cap.ReportID;
            entry.usage = static_cast<USAGE>(usage);
        }
    }
    return true;
}

}  // namespace

BOOL HidDeviceHost::BuildCapabilityTables(HidDevice& d) {
    for (HIDP_REPORT_TYPE type : {HidP_Input, HidP_Output, HidP_Feature})
        if (!BuildTypeTables(type, d.caps, d.Tables(type), d.preparsedData)) return FALSE;
    return TRUE;
}

void HidDeviceHost::ReleaseHidDevice(HidDevice& d) {
    d.path.reset();
    if (HoldsHandle(d.handle)) CloseHandle(d.handle);
    d.handle = INVALID_HANDLE_VALUE;
    if (d.preparsedData != nullptr) HidD_FreePreparsedData(d.preparsedData);
    d.preparsedData = nullptr;
    for (ReportTables& t : d.tables) t = {};
}

void HidDeviceHost::PrepareHidCall(HidCall& call, const ReportSelector& selector, std::uint8_t* commandBuffer) {
    bool output = selector.reportType == 1;
    USHORT available = output ? device.caps.NumberOutputValueCaps : device.caps.NumberInputValueCaps;
    const HIDP_VALUE_CAPS* caps = output ? device.Tables(HidP_Output).valueCaps.get() : device.Tables(HidP_Input).valueCaps.get();
    call = HidCall{};
    call.reportType = selector.reportType;
    // A row naming a capability the device lacks yields a call with no buffer, which the
    // platform refuses, so the command fails instead of reading past the table.
    if (caps == nullptr || selector.capsIndex >= available) return;
    const HIDP_VALUE_CAPS& cap = caps[selector.capsIndex];

    auto n = static_cast<USHORT>(cap.ReportCount + 1u);
    call.handle = device.handle;
    call.preparsedData = device.preparsedData;
    call.usagePage = cap.UsagePage;
    call.linkCollection = cap.LinkCollection;
    call.reportId = cap.ReportID;
    call.usage = cap.IsRange ? cap.Range.UsageMin : cap.NotRange.Usage;

    if (output) {
        if (commandBuffer == nullptr || !device.Tables(HidP_Output).report) return;
        commandBuffer[0] = cap.ReportID;
        if (selector.command < 0x10) {
            commandBuffer[1] = static_cast<std::uint8_t>(selector.length & 0xFFu);
            commandBuffer[2] = static_cast<std::uint8_t>(selector.command & 0xFFu);
        }
        // Never more than the device's output report holds.
        std::size_t copy = std::min<std::size_t>(n, device.caps.OutputReportByteLength);
        std::memcpy(device.Tables(HidP_Output).report.get(), commandBuffer, copy);
        call.reportBuffer = device.Tables(HidP_Output).report.get();
        call.reportLength = n;
    } else {
        call.reportBuffer = device.Tables(HidP_Input).report.get();
        call.reportLength = selector.command < 0x10 ? (selector.command << 8) | n : n;
    }
}
