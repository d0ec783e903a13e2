#include "ui/main_dialog.h"

#include "ui/services/control_ids.h"
#include "ui/services/hex_text.h"

namespace ids = ui::ids;

std::uint8_t IsAccessAll = 1;

namespace {
// A field is read with room for 10 characters including the terminator.
constexpr int kFieldReadChars = 10;
}  // namespace

Cuvc_hid_quendaDlg::Cuvc_hid_quendaDlg(ui::WindowServices& windowServices) : FlashProgrammer(windowServices) {}

BOOL Cuvc_hid_quendaDlg::OnInitDialog() {
    windows.SetControlText(ids::kVid, ui::FormatFieldValue(DefaultVendorId, 1, 1));
    windows.SetTextLimit(ids::kVid, 4);
    windows.SetControlText(ids::kPid, ui::FormatFieldValue(DefaultProductId, 1, 1));
    windows.SetTextLimit(ids::kPid, 4);
    for (int id : {ids::kBrowseBurnFile, ids::kBrowseDumpFile, ids::kBurn, ids::kDump, ids::kGetFwVersion,
                   ids::kGetHdmiInfo})
        windows.EnableControl(id, false);

    IsAccessAll = static_cast<std::uint8_t>(
        windows.ReadProfileInt(kSettingsSection, kIsAccessAllEntry, 1) & 0xFF);
    bool entire = IsAccessAll == 1;
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
        if (IicCommand(OP_IIC_WRITE, iicDevice, 2, bytes, 0))
            windows.SetControlText(ids::kIicRetCode, ui::Format("%02x", bytes[0]));
    } else if (windows.GetCheck(ids::kRadioGpio) == 1) {
        TakeGpioSelection(false);
        auto level = static_cast<std::uint8_t>(ReadHexField(ids::kGpioValue) & 0xFF);
        GpioCommand(OP_GPIO_WRITE, selectedGpioPin, level);
    } else {
        ULONG value = ReadHexField(ids::kRegValue);
        RegisterCommand(OP_REG_WRITE, ReadHexField(ids::kRegAddr), value);
    }
}

void Cuvc_hid_quendaDlg::OnRead() {
    if (!RequireOpenDevice()) return;
    if (windows.GetCheck(ids::kRadioIic) == 1) {
        auto iicDevice = static_cast<std::uint8_t>(ReadHexField(ids::kIicAddr) & 0xFF);
        std::uint8_t bytes[2] = {static_cast<std::uint8_t>(ReadHexField(ids::kIicData) & 0xFF), 0};
        if (IicCommand(OP_IIC_READ, iicDevice, 1, bytes, 1)) {
            windows.SetControlText(ids::kIicRetCode, ui::Format("%02x", bytes[0]));
            windows.SetControlText(ids::kIicData, ui::Format("%02x", bytes[1]));
        }
    } else if (windows.GetCheck(ids::kRadioGpio) == 1) {
        TakeGpioSelection(false);
        std::uint8_t level = 0;
        if (GpioCommand(OP_GPIO_READ, selectedGpioPin, level))
            windows.SetControlText(ids::kGpioValue, ui::Format("%02x", level));
    } else {
        ULONG value = 0;
        if (RegisterCommand(OP_REG_READ, ReadHexField(ids::kRegAddr), value))
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
    GpioCommand(OP_GPIO_SET_DIRECTION, selectedGpioPin, direction);
}

void Cuvc_hid_quendaDlg::OnEntireFlash() {
    if (windows.HasControl(ids::kEntireFlash) && windows.GetCheck(ids::kEntireFlash) == 1) EnableAreaBoxes(false);
}

void Cuvc_hid_quendaDlg::OnOtherArea() {
    if (windows.HasControl(ids::kOtherArea) && windows.GetCheck(ids::kOtherArea) == 1) EnableAreaBoxes(true);
}

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
    ReleaseHidDevice(device);
    ReleaseCommandBuffers();
    ReleaseFlashFile();
}

void Cuvc_hid_quendaDlg::OnBnClickedOk() {
    if (RefuseCloseWhileRunning()) return;
    ReleaseOwnedState();
    if (windows.HasControl(ids::kEntireFlash)) IsAccessAll = windows.GetCheck(ids::kEntireFlash) == 1 ? 1 : 0;
    windows.WriteProfileInt(kSettingsSection, kIsAccessAllEntry, IsAccessAll);
    windows.EndDialog(ids::kOk);
}

void Cuvc_hid_quendaDlg::OnBnClickedCancel() {
    if (RefuseCloseWhileRunning()) return;
    ReleaseOwnedState();
    windows.EndDialog(ids::kCancel);
}
