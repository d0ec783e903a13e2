#include "hid/device_host.h"

#include <cstring>
#include <limits>

#include "platform/hid/hid_transport.h"
#include "platform/hid/setupapi.h"
#include "platform/win/file_api.h"
#include "platform/win/module.h"
#include "platform/win/text.h"
#include "platform/win/win_error.h"
#include "ui/services/control_ids.h"
#include "ui/services/hex_text.h"

USHORT WantedVendorId = 0;
USHORT WantedProductId = 0;
ULONG DeviceMatched = 0;
ULONG MatchedDeviceIndex = kNoMatchedDevice;
std::u16string DeviceSearchPath;
PFN_HidP_GetExtendedAttributes pHidP_GetExtendedAttributes = nullptr;
PFN_HidP_InitializeReportForID pHidP_InitializeReportForID = nullptr;

namespace ids = ui::ids;

namespace {

constexpr ULONG kFirstListCapacity = 20;
constexpr int kIdFieldChars = 10;  // room for 9 characters and the terminator

// Handle 0 is never a live handle here; both it and the invalid value mean "not open".
bool HoldsHandle(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

template <class T>
std::unique_ptr<T[]> ZeroedArray(std::size_t count) {
    std::unique_ptr<T[]> block(new (std::nothrow) T[count == 0 ? 1 : count]());
    return block;
}

CommandBufferPtr AllocateBuffer(ULONG length) {
    return CommandBufferPtr(static_cast<std::uint8_t*>(HeapAlloc(GetProcessHeap(), 0, length)));
}

// An interface of the last search that the system lists with the wanted ids but refused
// to open for this user: a device that is present but not accessible, which must not pass
// for an absent one. Empty when there was none.
std::u16string deniedMatch;

// The ids of an interface that could not be opened come from the system's listing.
std::u16string FirstListedWithWantedIds(const std::vector<std::u16string>& paths) {
    if (paths.empty()) return {};
    std::vector<hidtransport::InterfaceInfo> listed;
    for (const auto& provider : hidtransport::Providers()) provider->Enumerate(listed);
    for (const std::u16string& path : paths)
        for (const hidtransport::InterfaceInfo& info : listed)
            if (info.path == path && info.vendorId == WantedVendorId && info.productId == WantedProductId) return path;
    return {};
}

std::string NoAccessText(const std::u16string& path) {
    return ui::Format(
        "The HID device (VID 0x%04X, PID 0x%04X) is present, but this user may not open it (%s).\r\n\r\n"
        "To grant access, install the uvc-hid-tool package: its udev rule 70-uvc-hid-tool.rules (in "
        "/usr/lib/udev/rules.d) lets the user logged in at the desktop open the device. Then unplug the device "
        "and plug it in again. A user without a desktop session (ssh, a production-line account) joins the "
        "group plugdev instead (adduser USER plugdev) and logs in again. Ids other than the tool's defaults need "
        "a copy of the rule with those ids in /etc/udev/rules.d/.",
        WantedVendorId, WantedProductId, Utf16ToUtf8(path).c_str());
}

}  // namespace

HidDeviceHost::HidDeviceHost(ui::WindowServices& windowServices) : windows(windowServices) {
    // The dialog's record starts zero-filled, as the design has it: handle 0, not invalid.
    device.handle = nullptr;
}

HidDeviceHost::~HidDeviceHost() {
    // The closing handlers release everything; this only catches a dialog that never closed.
    ReleaseHidDevice(device);
}

void HidDeviceHost::OnOpenDevice() {
    WantedVendorId = static_cast<USHORT>(ui::ParseHexField(windows.GetControlText(ids::kVid, kIdFieldChars)) & 0xFFFFu);
    WantedProductId = static_cast<USHORT>(ui::ParseHexField(windows.GetControlText(ids::kPid, kIdFieldChars)) & 0xFFFFu);
    windows.Trace(ui::Format("Open Device Info--VID/PID (0x%04x~0x%04x) \n", WantedVendorId, WantedProductId));

    std::vector<HidDevice> list;
    ULONG count = 0;
    if (!EnumerateHidInterfaces(list, count)) return;

    DeviceOpen = MatchedDeviceIndex != kNoMatchedDevice ? 1 : 0;
    if (DeviceOpen == 1) {
        ShowOpenedDeviceControls();
        // The record held before (possible only after a refused open) is released first,
        // so its handle and buffers are not lost.
        ReleaseHidDevice(device);
        device = std::move(list[MatchedDeviceIndex]);
        windows.SetControlText(ids::kDeviceInfo,
                               ui::Format("Device #%d: VID: 0x%04X  PID: 0x%04X  UsagePage: 0x%X  Usage: 0x%X",
                                          static_cast<int>(MatchedDeviceIndex), device.attributes.VendorID,
                                          device.attributes.ProductID, device.caps.UsagePage, device.caps.Usage));
        ResolveHidEntryPoints();
        if (!DeviceCanServeCommands()) {
            windows.Trace("Error initializing flash and RW buffer\n");
            return;
        }
        AllocateCommandBuffers();
        windows.EnableControl(ids::kOpenDevice, false);
    }
    // The device list goes with `list`: its matched entry now belongs to the dialog and
    // every other entry was released during the search.
    if (DeviceOpen == 0) {
        if (deniedMatch.empty())
            windows.MessageBox(ui::BoxOwner::Dialog, "HID Device no found !", "Error", ui::Icon::Error);
        else
            windows.MessageBox(ui::BoxOwner::Dialog, NoAccessText(deniedMatch), "Error", ui::Icon::Error);
        windows.RequestClose();
    }
}

void HidDeviceHost::ShowOpenedDeviceControls() {
    windows.SetCheck(ids::kRadioRegister, 1);
    windows.SetCheck(ids::kRadioIic, 0);
    windows.SetCheck(ids::kRadioGpio, 0);
    for (const char* pin : {"GPIO_0", "GPIO_1", "GPIO_2", "GPIO_3"}) windows.AddListItem(ids::kGpioNumber, pin);
    windows.SelectListItem(ids::kGpioNumber, selectedGpioPin);
    windows.AddListItem(ids::kGpioDirection, "INPUT");
    windows.AddListItem(ids::kGpioDirection, "OUTPUT");
    windows.SelectListItem(ids::kGpioDirection, selectedGpioDirection);

    struct FieldStart {
        int id;
        std::uint32_t value;
        std::uint8_t widthCode;
        int digits;
    };
    static constexpr FieldStart kStarts[] = {
        {ids::kGpioValue, 0x00, 0, 2}, {ids::kIicAddr, 0x90, 0, 2},           {ids::kIicRetCode, 0x00, 0, 2},
        {ids::kIicData, 0x0F00, 1, 4}, {ids::kRegAddr, 0xD8000004u, 2, 8}, {ids::kRegValue, 0x12345678u, 2, 8},
    };
    for (const FieldStart& field : kStarts) {
        windows.SetControlText(field.id, ui::FormatFieldValue(field.value, 1, field.widthCode));
        windows.SetTextLimit(field.id, field.digits);
    }

    windows.SetControlText(ids::kProgressTotal, "0");
    windows.SetControlText(ids::kProgressDone, "0");
    windows.SetControlText(ids::kStatusText, "Status: Wait");
    for (int id : {ids::kBrowseBurnFile, ids::kBrowseDumpFile, ids::kGetFwVersion, ids::kGetHdmiInfo})
        windows.EnableControl(id, true);
}

void HidDeviceHost::ResolveHidEntryPoints() {
    HMODULE module = LoadLibraryW(u"HID.DLL");
    FARPROC extended = module != nullptr ? GetProcAddress(module, "HidP_GetExtendedAttributes") : nullptr;
    FARPROC initialize = module != nullptr ? GetProcAddress(module, "HidP_InitializeReportForID") : nullptr;
    pHidP_GetExtendedAttributes = reinterpret_cast<PFN_HidP_GetExtendedAttributes>(extended);
    pHidP_InitializeReportForID = reinterpret_cast<PFN_HidP_InitializeReportForID>(initialize);
    if (extended == nullptr || initialize == nullptr) windows.Trace("Fail to get HID function\n");
}

// The commands address value capabilities 0 to 2 of both report types, and a flash read
// chunk is copied into the flash write buffer, so a device must offer all six and a read
// chunk of 1 to flashBuffer-length bytes.
bool HidDeviceHost::DeviceCanServeCommands() {
    if (device.caps.NumberOutputValueCaps < 3 || device.caps.NumberInputValueCaps < 3) return false;
    ULONG readLength = device.inputValueCaps[0].ReportCount;
    ULONG writeBufferLength = device.outputValueCaps[0].ReportCount + 1u;
    return readLength != 0 && readLength <= writeBufferLength;
}

void HidDeviceHost::AllocateCommandBuffers() {
    ReleaseCommandBuffers();
    flashBufferLength = device.outputValueCaps[0].ReportCount + 1u;
    controlBufferLength = device.outputValueCaps[1].ReportCount + 1u;
    iicBufferLength = device.outputValueCaps[2].ReportCount + 1u;
    flashBuffer = AllocateBuffer(flashBufferLength);
    controlBuffer = AllocateBuffer(controlBufferLength);
    iicBuffer = AllocateBuffer(iicBufferLength);
    if (!flashBuffer || !controlBuffer || !iicBuffer) windows.Trace("Error allocating memory\n");
    if (device.caps.NumberInputValueCaps >= 2) flashReadLength = device.inputValueCaps[0].ReportCount;
}

void HidDeviceHost::ReleaseCommandBuffers() {
    flashBuffer.reset();
    controlBuffer.reset();
    iicBuffer.reset();
}

BOOL HidDeviceHost::EnumerateHidInterfaces(std::vector<HidDevice>& list, ULONG& count) {
    GUID hidGuid{};
    HidD_GetHidGuid(&hidGuid);
    list.clear();
    count = 0;
    // Every search starts afresh, so a second press does not stop at a stale index.
    DeviceMatched = 0;
    MatchedDeviceIndex = kNoMatchedDevice;
    deniedMatch.clear();
    std::vector<std::u16string> deniedInterfaces;

    HDEVINFO set = SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_DEVINFO_HANDLE) return FALSE;

    ULONG capacity = kFirstListCapacity / 2;
    ULONG index = 0;
    bool done = false;
    while (!done) {
        capacity *= 2;
        list.resize(capacity);
        for (; index < capacity && !done; ++index) {
            list[index].Clear();
            SP_DEVICE_INTERFACE_DATA data{};
            data.cbSize = sizeof data;
            if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &data)) {
                if (GetLastError() == ERROR_NO_MORE_ITEMS) {
                    done = true;
                    break;
                }
                continue;  // any other error skips this index
            }
            DWORD size = 0;
            SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
            std::vector<std::uint8_t> buffer(std::max<DWORD>(size, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)));
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            detail->DevicePath[0] = 0;
            bool opened = false;
            if (SetupDiGetDeviceInterfaceDetailW(set, &data, detail, static_cast<DWORD>(buffer.size()), nullptr, nullptr) &&
                (DeviceSearchPath.empty() || DeviceSearchPath == detail->DevicePath)) {
                SetLastError(ERROR_SUCCESS);
                opened = OpenHidInterface(detail->DevicePath, 0, 0, 0, 0, list[index]) != FALSE;
                if (!opened && DeviceMatched == 0 && GetLastError() == ERROR_ACCESS_DENIED)
                    deniedInterfaces.emplace_back(detail->DevicePath);
            }
            if (DeviceMatched == 1) {
                // A match whose record could not be built ends the search as not found, so
                // the dialog never takes over a released record.
                if (opened) MatchedDeviceIndex = index;
                done = true;
                break;
            }
        }
    }
    count = MatchedDeviceIndex != kNoMatchedDevice ? MatchedDeviceIndex : index;
    SetupDiDestroyDeviceInfoList(set);
    if (DeviceMatched == 0) deniedMatch = FirstListedWithWantedIds(deniedInterfaces);
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

    if (record.attributes.VendorID != WantedVendorId || record.attributes.ProductID != WantedProductId) return fail();
    DeviceMatched = 1;
    if (!BuildCapabilityTables(record)) return fail();

    if (overlapped) {
        CloseHandle(record.handle);
        record.handle = CreateFileW(path, access, share, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (record.handle == INVALID_HANDLE_VALUE) return fail();
    }
    return TRUE;
}

namespace {

struct TypeTables {
    HIDP_REPORT_TYPE type;
    USHORT reportLength;
    USHORT buttonCount;
    USHORT valueCount;
    std::unique_ptr<std::uint8_t[]>& report;
    std::unique_ptr<UsageEntry[]>& entries;
    ULONG& entryCount;
    std::unique_ptr<HIDP_BUTTON_CAPS[]>& buttons;
    std::unique_ptr<HIDP_VALUE_CAPS[]>& values;
};

bool BuildTypeTables(const TypeTables& t, PHIDP_PREPARSED_DATA preparsed) {
    t.report = ZeroedArray<std::uint8_t>(t.reportLength);
    t.buttons = ZeroedArray<HIDP_BUTTON_CAPS>(t.buttonCount);
    t.values = ZeroedArray<HIDP_VALUE_CAPS>(t.valueCount);
    if (!t.report || !t.buttons || !t.values) return false;
    if (t.buttonCount > 0) {
        USHORT n = t.buttonCount;
        if (HidP_GetButtonCaps(t.type, t.buttons.get(), &n, preparsed) != HIDP_STATUS_SUCCESS) return false;
    }
    if (t.valueCount > 0) {
        USHORT n = t.valueCount;
        if (HidP_GetValueCaps(t.type, t.values.get(), &n, preparsed) != HIDP_STATUS_SUCCESS) return false;
    }
    // A value range with UsageMin above UsageMax would make the count and the entries
    // disagree; such a capability is refused for every report type.
    std::uint64_t valueUsages = 0;
    for (USHORT i = 0; i < t.valueCount; ++i) {
        const HIDP_VALUE_CAPS& cap = t.values[i];
        if (cap.IsRange && cap.Range.UsageMin > cap.Range.UsageMax) return false;
        valueUsages += cap.IsRange ? cap.Range.UsageMax - cap.Range.UsageMin + 1u : 1u;
    }
    std::uint64_t total = t.buttonCount + valueUsages;
    if (total > std::numeric_limits<ULONG>::max()) return false;
    t.entries = ZeroedArray<UsageEntry>(static_cast<std::size_t>(total));
    if (!t.entries) return false;
    t.entryCount = static_cast<ULONG>(total);

    ULONG next = 0;
    for (USHORT i = 0; i < t.buttonCount; ++i) {
        const HIDP_BUTTON_CAPS& cap = t.buttons[i];
        UsageEntry& entry = t.entries[next++];
        entry.isButton = 1;
        entry.status = HIDP_STATUS_SUCCESS;
        entry.usagePage = cap.UsagePage;
        entry.reportId = cap.ReportID;
        entry.firstUsage = cap.IsRange ? cap.Range.UsageMin : cap.NotRange.Usage;
        entry.lastUsage = cap.IsRange ? cap.Range.UsageMax : cap.NotRange.Usage;
        entry.usageCapacity = HidP_MaxUsageListLength(t.type, cap.UsagePage, preparsed);
        entry.usageList = ZeroedArray<USAGE>(entry.usageCapacity);
        if (!entry.usageList) return false;
    }
    for (USHORT i = 0; i < t.valueCount; ++i) {
        const HIDP_VALUE_CAPS& cap = t.values[i];
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
    const HIDP_CAPS& c = d.caps;
    const TypeTables types[] = {
        {HidP_Input, c.InputReportByteLength, c.NumberInputButtonCaps, c.NumberInputValueCaps, d.inputReport,
         d.inputEntries, d.inputEntryCount, d.inputButtonCaps, d.inputValueCaps},
        {HidP_Output, c.OutputReportByteLength, c.NumberOutputButtonCaps, c.NumberOutputValueCaps, d.outputReport,
         d.outputEntries, d.outputEntryCount, d.outputButtonCaps, d.outputValueCaps},
        {HidP_Feature, c.FeatureReportByteLength, c.NumberFeatureButtonCaps, c.NumberFeatureValueCaps,
         d.featureReport, d.featureEntries, d.featureEntryCount, d.featureButtonCaps, d.featureValueCaps},
    };
    for (const TypeTables& t : types)
        if (!BuildTypeTables(t, d.preparsedData)) return FALSE;
    return TRUE;
}

void HidDeviceHost::ReleaseHidDevice(HidDevice& d) {
    d.path.reset();
    if (HoldsHandle(d.handle)) CloseHandle(d.handle);
    d.handle = INVALID_HANDLE_VALUE;
    if (d.preparsedData != nullptr) HidD_FreePreparsedData(d.preparsedData);
    d.preparsedData = nullptr;
    d.inputReport.reset();
    d.inputEntries.reset();
    d.inputButtonCaps.reset();
    d.inputValueCaps.reset();
    d.outputReport.reset();
    d.outputEntries.reset();
    d.outputButtonCaps.reset();
    d.outputValueCaps.reset();
    d.featureReport.reset();
    d.featureEntries.reset();
    d.featureButtonCaps.reset();
    d.featureValueCaps.reset();
}

void HidDeviceHost::PrepareHidCall(HidCall& call, const ReportSelector& selector, std::uint8_t* commandBuffer) {
    bool output = selector.reportType == 1;
    USHORT available = output ? device.caps.NumberOutputValueCaps : device.caps.NumberInputValueCaps;
    const HIDP_VALUE_CAPS* caps = output ? device.outputValueCaps.get() : device.inputValueCaps.get();
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
        if (commandBuffer == nullptr || !device.outputReport) return;
        commandBuffer[0] = cap.ReportID;
        if (selector.command < 0x10) {
            commandBuffer[1] = static_cast<std::uint8_t>(selector.length & 0xFFu);
            commandBuffer[2] = static_cast<std::uint8_t>(selector.command & 0xFFu);
        }
        // Never more than the device's output report holds.
        std::size_t copy = std::min<std::size_t>(n, device.caps.OutputReportByteLength);
        std::memcpy(device.outputReport.get(), commandBuffer, copy);
        call.reportBuffer = device.outputReport.get();
        call.reportLength = n;
    } else {
        call.reportBuffer = device.inputReport.get();
        call.reportLength = selector.command < 0x10 ? (selector.command << 8) | n : n;
    }
}
