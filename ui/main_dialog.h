// The main dialog's logic, without any toolkit: it owns the long-lived state (the opened
// device, the command buffers, the identified flash geometry, the file slot and the
// workers) through the shares of each subsystem it inherits, and reaches its controls
// only through the window services. ui/qt builds the window and routes each control's
// click to the handler named here.
#pragma once

#include "device_ids.h"
#include "flash/flash_programmer.h"

// The USB identifiers of the device the tool serves, shown in the VID and PID fields at
// start. They come from the build's UVC_DEVICE_VID/UVC_DEVICE_PID settings (cmake/DeviceIds.cmake),
// as do the simulator's defaults and the udev rule; the fields stay editable.
inline constexpr USHORT DefaultVendorId = uvc::kDeviceVendorId;
inline constexpr USHORT DefaultProductId = uvc::kDeviceProductId;

// The application profile: key, section and entry of the one saved setting.
inline constexpr const char* kProfileKey = "Quenda UVC Applications";
inline constexpr const char* kSettingsSection = "Settings";
inline constexpr const char* kIsAccessAllEntry = "IsAccessAll";

// The system-menu command that shows the About box (its low four bits are ignored).
inline constexpr UINT IDM_ABOUTBOX = 0x0010;

// Process-wide: the Burn Area choice read at initialisation and saved on OK.
extern std::uint8_t IsAccessAll;

class Cuvc_hid_quendaDlg : public FlashProgrammer {
public:
    explicit Cuvc_hid_quendaDlg(ui::WindowServices& windows);

    BOOL OnInitDialog();
    void OnSysCommand(UINT id, LPARAM param);
    void EnableAreaBoxes(bool enable);

    // The peripheral panel and the Burn Area radios.
    void OnWrite();
    void OnRead();
    void OnSetGpio();
    void OnEntireFlash();
    void OnOtherArea();

    void OnBnClickedOk();
    void OnBnClickedCancel();

private:
    bool RefuseCloseWhileRunning();
    void ReleaseOwnedState();
    ULONG ReadHexField(int id);
    void TakeGpioSelection(bool direction);
};
