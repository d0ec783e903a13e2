#include "ui/main_dialog.h"

#include <system_error>

#include "platform/win/win_error.h"
#include "ui/services/control_ids.h"
#include "ui/services/hex_text.h"

namespace ids = ui::ids;

namespace {

// A field is read with room for 10 characters including the terminator.
constexpr int kFieldReadChars = 10;

// Every control that could send a device command, pick or release a file, change the Burn
// Area choice or start a second run.
constexpr int kGuardedControls[] = {
    ids::kWrite,         ids::kRead,           ids::kSetGpio,        ids::kGetId,
    ids::kGetFwVersion,  ids::kGetHdmiInfo,    ids::kTest,           ids::kDisableHdcpKey,
    ids::kEnableHdcpKey, ids::kBrowseBurnFile, ids::kBrowseDumpFile, ids::kBurn,
    ids::kDump,          ids::kEntireFlash,    ids::kOtherArea,      ids::kFirmwareBox,
    ids::kPrivateBox,    ids::kCustomizedBox,  ids::kOpenDevice,
};

// Asks the user for a path: an image to burn (an open dialog) or a file to dump into (a
// save dialog that asks before an existing file is chosen). False when cancelled.
bool PickPath(ui::WindowServices& windows, bool forBurn, std::string& path) {
    ui::OpenFileRequest request{.filters = {{"All", "*.*"}, {"Text", "*.TXT"}},
                                .pathMustExist = true,
                                .fileMustExist = forBurn,
                                .save = !forBurn,
                                .overwritePrompt = !forBurn};
    return windows.OpenFileDialog(ui::BoxOwner::Dialog, request, path);
}

}  // namespace

namespace ui {

void WindowSinks::Start(std::uint32_t total, std::string_view status) {
    w.SetControlText(ids::kProgressTotal, Format("%u", total));
    w.SetControlText(ids::kProgressDone, "0");
    w.SetProgressRange(ids::kProgressBar, total);
    w.SetProgressPosition(ids::kProgressBar, 0);
    if (!status.empty()) w.SetControlText(ids::kStatusText, status);
}

void WindowSinks::Post(std::uint32_t done) { w.PostProgress(ids::kProgressDone, ids::kProgressBar, done); }

void WindowSinks::Position(std::uint32_t done) { w.SetProgressPosition(ids::kProgressBar, done); }

void WindowSinks::Status(std::string_view text) { w.SetControlText(ids::kStatusText, text); }

}  // namespace ui

Cuvc_hid_quendaDlg::Cuvc_hid_quendaDlg(ui::WindowServices& windowServices)
    : windows(windowServices), sinks(windowServices), host(sinks), protocol(host, sinks, sinks),
      programmer(protocol, sinks) {}

Cuvc_hid_quendaDlg::~Cuvc_hid_quendaDlg() { JoinWorkers(); }

BOOL Cuvc_hid_quendaDlg::OnInitDialog() {
    windows.SetControlText(ids::kVid, ui::FormatFieldValue(DefaultVendorId, 1, 1));
    windows.SetTextLimit(ids::kVid, 4);
    windows.SetControlText(ids::kPid, ui::FormatFieldValue(DefaultProductId, 1, 1));
    windows.SetTextLimit(ids::kPid, 4);
    for (int id : {ids::kBrowseBurnFile, ids::kBrowseDumpFile, ids::kBurn, ids::kDump, ids::kGetFwVersion,
                   ids::kGetHdmiInfo})
        windows.EnableControl(id, false);

    isAccessAll = static_cast<std::uint8_t>(windows.ReadProfileInt(kSettingsSection, kIsAccessAllEntry, 1) & 0xFF);
    bool entire = isAccessAll == 1;
    windows.SetCheck(ids::kEntireFlash, entire ? 1 : 0);
    windows.SetCheck(ids::kOtherArea, entire ? 0 : 1);
    EnableAreaBoxes(!entire);
    if (!entire) windows.SetCheck(ids::kFirmwareBox, 1);
    return TRUE;
}

void Cuvc_hid_quendaDlg::OnSysCommand(UINT id, LPARAM) {
    if ((id & 0xFFF0u) == IDM_ABOUTBOX) windows.ShowAboutBox();
}

void Cuvc_hid_quendaDlg::EnableAreaBoxes(bool enable) {
    for (int id : {ids::kFirmwareBox, ids::kPrivateBox, ids::kCustomizedBox})
        if (windows.HasControl(id)) windows.EnableControl(id, enable);
}

ULONG Cuvc_hid_quendaDlg::ReadHexField(int id) {
    return ui::ParseHexField(windows.GetControlText(id, kFieldReadChars));
}

bool Cuvc_hid_quendaDlg::RequireOpenDevice() {
    if (host.IsDeviceOpen() != 0) return true;
    windows.MessageBox(ui::BoxOwner::Dialog, "HID Device no found !", "Error", ui::Icon::Error);
    return false;
}

// ---- Open Device

void Cuvc_hid_quendaDlg::OnOpenDevice() {
    DeviceQuery query;
    query.vendorId = static_cast<USHORT>(ReadHexField(ids::kVid) & 0xFFFFu);
    query.productId = static_cast<USHORT>(ReadHexField(ids::kPid) & 0xFFFFu);
    windows.Trace(ui::Format("Open Device Info--VID/PID (0x%04x~0x%04x) \n", query.vendorId, query.productId));

    OpenOutcome outcome = host.OpenDevice(query);
    if (outcome.IsOpen()) {
        ShowOpenedDeviceControls();
        const HidDevice& device = host.OpenedDevice();
        windows.SetControlText(ids::kDeviceInfo,
                               ui::Format("Device #%d: VID: 0x%04X  PID: 0x%04X  UsagePage: 0x%X  Usage: 0x%X",
                                          static_cast<int>(outcome.index), device.attributes.VendorID,
                                          device.attributes.ProductID, device.caps.UsagePage, device.caps.Usage));
        // A device whose reports cannot serve the commands leaves Open Device enabled.
        if (outcome.kind == OpenOutcome::Kind::Opened) windows.EnableControl(ids::kOpenDevice, false);
        return;
    }
    sinks.Show(OpenFailureBox(outcome, query));
    windows.RequestClose();
}

void Cuvc_hid_quendaDlg::ShowOpenedDeviceControls() {
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

// ---- The peripheral panel

// A list answering -1 (nothing selected, or typed text matching no entry) keeps the
// stored selection.
void Cuvc_hid_quendaDlg::TakeGpioSelection(bool direction) {
    int pin = windows.GetListSelection(ids::kGpioNumber);
    if (pin >= 0) selectedGpioPin = static_cast<std::uint8_t>(pin);
    if (!direction) return;
    int dir = windows.GetListSelection(ids::kGpioDirection);
    if (dir >= 0) selectedGpioDirection = static_cast<std::uint8_t>(dir);
}

void Cuvc_hid_quendaDlg::OnWrite() {
    if (!RequireOpenDevice()) return;
    if (windows.GetCheck(ids::kRadioIic) == 1) {
        auto iicDevice = static_cast<std::uint8_t>(ReadHexField(ids::kIicAddr) & 0xFF);
        ULONG data = ReadHexField(ids::kIicData) & 0xFFFF;
        std::uint8_t bytes[2] = {static_cast<std::uint8_t>(data >> 8), static_cast<std::uint8_t>(data & 0xFF)};
        if (protocol.IicCommand(OP_IIC_WRITE, iicDevice, 2, bytes, 0))
            windows.SetControlText(ids::kIicRetCode, ui::Format("%02x", bytes[0]));
    } else if (windows.GetCheck(ids::kRadioGpio) == 1) {
        TakeGpioSelection(false);
        auto level = static_cast<std::uint8_t>(ReadHexField(ids::kGpioValue) & 0xFF);
        protocol.GpioCommand(OP_GPIO_WRITE, selectedGpioPin, level);
    } else {
        ULONG value = ReadHexField(ids::kRegValue);
        protocol.RegisterCommand(OP_REG_WRITE, ReadHexField(ids::kRegAddr), value);
    }
}

void Cuvc_hid_quendaDlg::OnRead() {
    if (!RequireOpenDevice()) return;
    if (windows.GetCheck(ids::kRadioIic) == 1) {
        auto iicDevice = static_cast<std::uint8_t>(ReadHexField(ids::kIicAddr) & 0xFF);
        std::uint8_t bytes[2] = {static_cast<std::uint8_t>(ReadHexField(ids::kIicData) & 0xFF), 0};
        if (protocol.IicCommand(OP_IIC_READ, iicDevice, 1, bytes, 1)) {
            windows.SetControlText(ids::kIicRetCode, ui::Format("%02x", bytes[0]));
            windows.SetControlText(ids::kIicData, ui::Format("%02x", bytes[1]));
        }
    } else if (windows.GetCheck(ids::kRadioGpio) == 1) {
        TakeGpioSelection(false);
        std::uint8_t level = 0;
        if (protocol.GpioCommand(OP_GPIO_READ, selectedGpioPin, level))
            windows.SetControlText(ids::kGpioValue, ui::Format("%02x", level));
    } else {
        ULONG value = 0;
        if (protocol.RegisterCommand(OP_REG_READ, ReadHexField(ids::kRegAddr), value))
            windows.SetControlText(ids::kRegValue, ui::Format("%08x", value));
    }
}

void Cuvc_hid_quendaDlg::OnSetGpio() {
    if (!RequireOpenDevice()) return;
    if (windows.GetCheck(ids::kRadioGpio) == 0) {
        windows.MessageBox(ui::BoxOwner::Dialog, "Please select GPIO mode !", "Error", ui::Icon::Error);
        return;
    }
    TakeGpioSelection(true);
    std::uint8_t direction = selectedGpioDirection;
    protocol.GpioCommand(OP_GPIO_SET_DIRECTION, selectedGpioPin, direction);
}

// ---- Identification and status

void Cuvc_hid_quendaDlg::OnGetId() {
    if (!RequireOpenDevice()) return;
    // A failed request leaves the previous identification and texts.
    if (std::optional<ULONG> row = protocol.GetId()) ShowIdentifiedPart(*row);
}

// The Flash Information group: a known part's geometry, or "Unknown" with the number only.
void Cuvc_hid_quendaDlg::ShowIdentifiedPart(ULONG row) {
    constexpr int kGeometryFields[] = {ids::kPageSize,        ids::kSectorSize,       ids::kTotalBlock,
                                       ids::kPagesPerSector, ids::kSectorsPerBlock, ids::kTotalSize};
    if (protocol.IdentifiedPartIndex() == kNoIdentifiedPart) {
        windows.SetControlText(ids::kDeviceName, "Unknown");
        windows.SetControlText(ids::kDeviceId, ui::Format("%d", static_cast<int>(row)));
        for (int id : kGeometryFields) windows.SetControlText(id, "");
        return;
    }
    const FlashPart& part = protocol.IdentifiedPart();
    windows.SetControlText(ids::kDeviceName, FlashPartTable[row].name);
    windows.SetControlText(ids::kPageSize, ui::Format("%d bytes", part.pageSize));
    windows.SetControlText(ids::kSectorSize, ui::Format("%d bytes", static_cast<int>(part.sectorSize)));
    windows.SetControlText(ids::kTotalBlock, ui::Format("%d", part.totalBlocks));
    windows.SetControlText(ids::kDeviceId, ui::Format("%d", static_cast<int>(row)));
    windows.SetControlText(ids::kPagesPerSector, ui::Format("%d", static_cast<int>(part.sectorSize / part.pageSize)));
    windows.SetControlText(ids::kSectorsPerBlock, ui::Format("%d", part.sectorsPerBlock));
    windows.SetControlText(ids::kTotalSize, ui::Format("%d KB", static_cast<int>(protocol.FlashTotalSize() >> 10)));
}

void Cuvc_hid_quendaDlg::OnGetFwVersion() {
    // A failed read leaves the field as it was.
    if (std::optional<std::string> text = protocol.GetFwVersion())
        windows.SetControlText(ids::kFirmwareVersion, *text);
}

void Cuvc_hid_quendaDlg::OnGetHdmiInfo() {
    if (std::optional<std::string> text = protocol.GetHdmiInfo()) windows.SetControlText(ids::kHdmiInfo, *text);
}

void Cuvc_hid_quendaDlg::OnTest() {
    if (!RequireOpenDevice()) return;
    protocol.GetUsbInfo();
}

void Cuvc_hid_quendaDlg::SwitchHdcpKey(int radioId, bool enable, const char* handlerName) {
    if (!RequireOpenDevice()) return;
    if (windows.GetCheck(radioId) != 1) return;
    int result = protocol.SwitchHdcpKey(enable);
    if (result == 0) windows.Trace(ui::Format("%s fail -- return code is 0x%X\n", handlerName, result));
}

void Cuvc_hid_quendaDlg::OnBnClickedRdoDHdcpKey() {
    SwitchHdcpKey(ids::kDisableHdcpKey, false, "OnBnClickedRdoDHdcpKey");
}

void Cuvc_hid_quendaDlg::OnBnClickedRdoEHdcpKey() {
    SwitchHdcpKey(ids::kEnableHdcpKey, true, "OnBnClickedRdoEHdcpKey");
}

// ---- Files, Burn Area, Burn and Dump

// A path too long for the slot changes nothing; a file that cannot be opened still shows
// as picked, and Burn then refuses for want of a file.
static bool PathTooLong(const core::Status& picked) { return !picked && picked.error().code == ERROR_FILENAME_EXCED_RANGE; }

void Cuvc_hid_quendaDlg::OnBrowseBurnFile() {
    std::string path;
    if (!PickPath(windows, true, path) || PathTooLong(programmer.SelectBurnFile(path))) return;
    windows.SetControlText(ids::kBurnFilePath, path);
    windows.EnableControl(ids::kBurn, true);
    windows.EnableControl(ids::kDump, false);
    windows.SetControlText(ids::kImageVersion, FormatImageVersion(programmer.Image().Data()));
}

void Cuvc_hid_quendaDlg::OnBrowseDumpFile() {
    std::string path;
    if (!PickPath(windows, false, path) || PathTooLong(programmer.SelectDumpFile(path))) return;
    windows.SetControlText(ids::kDumpFilePath, path);
    windows.EnableControl(ids::kDump, true);
    windows.EnableControl(ids::kBurn, false);
}

void Cuvc_hid_quendaDlg::OnEntireFlash() {
    if (windows.HasControl(ids::kEntireFlash) && windows.GetCheck(ids::kEntireFlash) == 1) EnableAreaBoxes(false);
}

void Cuvc_hid_quendaDlg::OnOtherArea() {
    if (windows.HasControl(ids::kOtherArea) && windows.GetCheck(ids::kOtherArea) == 1) EnableAreaBoxes(true);
}

// The Burn Area choice as the controls hold it when Burn is pressed; they stay locked
// until the run ends.
BurnRequest Cuvc_hid_quendaDlg::ReadBurnRequest() {
    BurnRequest request;
    request.otherArea = windows.GetCheck(ids::kOtherArea) == 1;
    for (int row = 0; row < kFlashAreaCount; ++row)
        request.areas[static_cast<std::size_t>(row)] = windows.GetCheck(ids::kFirmwareBox + row) == 1;
    return request;
}

void Cuvc_hid_quendaDlg::OnBurn() {
    if (IsRunning()) return;  // Burn is disabled during a run; a caller that ignores that gets nothing
    BurnRequest request = ReadBurnRequest();
    if (std::optional<core::Box> refusal = programmer.BurnRefusal(request)) {
        sinks.Show(*refusal);
        return;
    }
    windows.Trace("Start write data to flash.\n");
    if (burnWorker.joinable()) burnWorker.join();  // it has passed its end step: IsRunning() was false
    burnRequest = request;
    StartWorker(burnWorker, ids::kBurn, [](Cuvc_hid_quendaDlg& d) { return d.programmer.Burn(d.burnRequest); });
}

void Cuvc_hid_quendaDlg::OnDump() {
    if (IsRunning()) return;
    if (std::optional<core::Box> refusal = programmer.DumpRefusal()) {
        sinks.Show(*refusal);
        return;
    }
    windows.Trace("Start read data from flash.\n");
    StartWorker(dumpWorker, ids::kDump, [](Cuvc_hid_quendaDlg& d) { return d.programmer.Dump(); });
}

void Cuvc_hid_quendaDlg::JoinWorkers() {
    if (burnWorker.joinable()) burnWorker.join();
    if (dumpWorker.joinable()) dumpWorker.join();
}

void Cuvc_hid_quendaDlg::BeginRun() {
    disabledForRun.clear();
    for (int id : kGuardedControls) {
        if (!windows.HasControl(id)) continue;
        disabledForRun.emplace_back(id, windows.IsControlEnabled(id));
        windows.EnableControl(id, false);
    }
}

void Cuvc_hid_quendaDlg::EndRun() {
    for (const auto& [id, wasEnabled] : disabledForRun) windows.EnableControl(id, wasEnabled);
    disabledForRun.clear();
}

void Cuvc_hid_quendaDlg::StartWorker(std::thread& worker, int startButton, RunOutcome (*run)(Cuvc_hid_quendaDlg&)) {
    if (worker.joinable()) worker.join();
    lastRun = {};
    // The run holds the device from its set-up to its last chunk; the end step releases it.
    if (!protocol.ClaimDevice()) return;
    BeginRun();
    running.store(true, std::memory_order_release);
    try {
        worker = std::thread([this, startButton, run] {
            lastRun = run(*this);
            for (const core::Box& box : lastRun.boxes) sinks.Show(box);
            EndWorker(startButton);
        });
    } catch (const std::system_error&) {
        windows.Trace("Unknown error: Couldn't execute CreateThread function\n");
        protocol.ReleaseDevice();
        EndRun();
        running.store(false, std::memory_order_release);
    }
}

void Cuvc_hid_quendaDlg::EndWorker(int startButton) {
    protocol.ReleaseDevice();
    programmer.ReleaseFlashFile();
    windows.FlushProgress();
    windows.SetControlText(ids::kStatusText, "Status: Wait");
    EndRun();
    windows.EnableControl(startButton, false);
    windows.Trace("Call ExitThread_0.\n");
    // The thread ends by returning from its procedure right after this step.
    windows.Trace("Call ExitThread_1.\n");
    running.store(false, std::memory_order_release);
}

// ---- Closing

// Closing while a worker runs would free the device, the buffers, the image and the file
// under it: the request is refused and the user told why.
bool Cuvc_hid_quendaDlg::RefuseCloseWhileRunning() {
    if (!IsRunning()) return false;
    windows.MessageBox(ui::BoxOwner::Dialog,
                       "A flash burn or dump is running. The tool can be closed when it has finished.", "Error",
                       ui::Icon::Error);
    return true;
}

void Cuvc_hid_quendaDlg::ReleaseOwnedState() {
    JoinWorkers();  // every worker has passed its end step; this only reaps the threads
    host.Close();
    programmer.ReleaseFlashFile();
}

void Cuvc_hid_quendaDlg::OnBnClickedOk() {
    if (RefuseCloseWhileRunning()) return;
    ReleaseOwnedState();
    if (windows.HasControl(ids::kEntireFlash)) isAccessAll = windows.GetCheck(ids::kEntireFlash) == 1 ? 1 : 0;
    windows.WriteProfileInt(kSettingsSection, kIsAccessAllEntry, isAccessAll);
    windows.EndDialog(ids::kOk);
}

void Cuvc_hid_quendaDlg::OnBnClickedCancel() {
    if (RefuseCloseWhileRunning()) return;
    ReleaseOwnedState();
    windows.EndDialog(ids::kCancel);
}
