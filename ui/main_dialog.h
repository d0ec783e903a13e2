// The main dialog's logic, without any toolkit. It owns the three services (the device
// host, the command protocol and the flash programmer) and the burn and dump workers, and
// reaches its controls only through the window services: each handler reads the
// controls, calls a service and shows the result. ui/qt builds the window and routes each
// control's click to the handler named here.
#pragma once

#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include "device_ids.h"
#include "flash/flash_programmer.h"
#include "ui/services/window_services.h"

// The USB identifiers of the device the tool serves, shown in the VID and PID fields at
// start (the build's device-id setting; the fields stay editable).
inline constexpr USHORT DefaultVendorId = uvc::kDeviceVendorId;
inline constexpr USHORT DefaultProductId = uvc::kDeviceProductId;

// The application profile: key, section and entry of the one saved setting.
inline constexpr const char* kProfileKey = "Quenda UVC Applications";
inline constexpr const char* kSettingsSection = "Settings";
inline constexpr const char* kIsAccessAllEntry = "IsAccessAll";

// The system-menu command that shows the About box (its low four bits are ignored).
inline constexpr UINT IDM_ABOUTBOX = 0x0010;

namespace ui {

// The services' reports shown in the dialog: trace lines and boxes through the window
// services, a burst's progress in the progress fields and bar.
class WindowSinks final : public core::Reporter, public core::ProgressSink {
public:
    explicit WindowSinks(WindowServices& windows) : w(windows) {}
    void Trace(std::string_view line) override { w.Trace(line); }
    void Show(const core::Box& box) override { w.MessageBox(box.owner, box.text, box.caption, box.icon); }
    void Start(std::uint32_t total, std::string_view status) override;
    void Post(std::uint32_t done) override;
    void Flush() override { w.FlushProgress(); }
    void Position(std::uint32_t done) override;
    void Status(std::string_view text) override;

private:
    WindowServices& w;
};

}  // namespace ui

class Cuvc_hid_quendaDlg {
public:
    explicit Cuvc_hid_quendaDlg(ui::WindowServices& windows);
    ~Cuvc_hid_quendaDlg();  // waits for a worker that is still running
    Cuvc_hid_quendaDlg(const Cuvc_hid_quendaDlg&) = delete;
    Cuvc_hid_quendaDlg& operator=(const Cuvc_hid_quendaDlg&) = delete;

    BOOL OnInitDialog();
    void OnSysCommand(UINT id, LPARAM param);
    void EnableAreaBoxes(bool enable);

    void OnOpenDevice();
    // The peripheral panel, the identification and status buttons, the HDCP radios.
    void OnWrite();
    void OnRead();
    void OnSetGpio();
    void OnGetId();
    void OnGetFwVersion();
    void OnGetHdmiInfo();
    void OnTest();
    void OnBnClickedRdoDHdcpKey();
    void OnBnClickedRdoEHdcpKey();

    // The file picks, the Burn Area radios, Burn and Dump.
    void OnBrowseBurnFile();
    void OnBrowseDumpFile();
    void OnEntireFlash();
    void OnOtherArea();
    // Burn and Dump each start one worker thread that the dialog owns. While it runs,
    // every control that could send a device command, pick or release a file, change the
    // Burn Area choice or start another run is disabled, and restored on every way out of
    // the worker; the dialog never frees the device, the buffers, the image or the file
    // under it.
    void OnBurn();
    void OnDump();

    void OnBnClickedOk();
    void OnBnClickedCancel();

    // True from the start of a worker until its end step has restored the controls.
    bool IsRunning() const { return running.load(std::memory_order_acquire); }
    // Waits for every worker started so far (the closing path, tests).
    void JoinWorkers();
    // The last run's outcome, read once its worker has been joined.
    const RunOutcome& LastRun() const { return lastRun; }

    HidDeviceHost& Host() { return host; }
    CommandProtocol& Protocol() { return protocol; }
    FlashProgrammer& Programmer() { return programmer; }
    // The Burn Area choice read at initialisation and saved on OK.
    std::uint8_t IsAccessAll() const { return isAccessAll; }

private:
    bool RequireOpenDevice();  // "HID Device no found !" when none is open
    void ShowOpenedDeviceControls();
    void ShowIdentifiedPart(ULONG row);
    void SwitchHdcpKey(int radioId, bool enable, const char* handlerName);
    ULONG ReadHexField(int id);
    void TakeGpioSelection(bool direction);
    BurnRequest ReadBurnRequest();
    void ShowBurnFile();

    // Disables the controls a run could be disturbed by, remembering their state; the end
    // step restores them. Called on the dialog's thread before the worker starts.
    void BeginRun();
    void EndRun();
    // Reaps the previous worker in `worker`, then claims the device and starts `run` on it
    // under the run guard; the worker shows the outcome's boxes and runs the end step.
    void StartWorker(std::thread& worker, int startButton, RunOutcome (*run)(Cuvc_hid_quendaDlg&));
    // The end step of every worker: releases the device and the file, shows "Status: Wait",
    // restores the controls, disables the worker's start button and clears `running`.
    void EndWorker(int startButton);
    bool RefuseCloseWhileRunning();
    void ReleaseOwnedState();

    ui::WindowServices& windows;
    ui::WindowSinks sinks;
    HidDeviceHost host;
    CommandProtocol protocol;
    FlashProgrammer programmer;

    std::uint8_t isAccessAll = 1;
    std::uint8_t selectedGpioPin = 0;
    std::uint8_t selectedGpioDirection = 0;

    std::thread burnWorker;
    std::thread dumpWorker;
    std::atomic<bool> running{false};
    RunOutcome lastRun;
    BurnRequest burnRequest;  // of the running burn, taken when it started
    std::vector<std::pair<int, bool>> disabledForRun;
};
