// The dialog's share of the HID transport: the opened device, the command buffers that
// are sized from it, device discovery (Open Device) and the preparation of vendor report
// calls. The main dialog inherits this (through the protocol layer's share) so these stay
// members of the dialog, as the rest of the tool expects.
//
// Failure convention: the BOOL members answer TRUE/FALSE; OnOpenDevice reports to the
// user through the window services and answers nothing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hid/hid_call.h"
#include "platform/win/heap.h"
#include "ui/services/window_services.h"

// Process-wide state of the device search.
extern USHORT WantedVendorId;
extern USHORT WantedProductId;
extern ULONG DeviceMatched;
extern ULONG MatchedDeviceIndex;  // 0xFFFF: none
// When not empty, the search considers only the interface with this path (as enumerated)
// and passes over every other one. The command line sets it (--device), so that each of
// several processes serves its own one of several devices with the same ids.
extern std::u16string DeviceSearchPath;

// Entry points resolved by name from "HID.DLL" when a device is opened (null until then).
using PFN_HidP_GetExtendedAttributes = NTSTATUS (*)(HIDP_REPORT_TYPE, USHORT, PHIDP_PREPARSED_DATA,
                                                    PHIDP_EXTENDED_ATTRIBUTES, PULONG);
using PFN_HidP_InitializeReportForID = NTSTATUS (*)(HIDP_REPORT_TYPE, UCHAR, PHIDP_PREPARSED_DATA, PCHAR, ULONG);
extern PFN_HidP_GetExtendedAttributes pHidP_GetExtendedAttributes;
extern PFN_HidP_InitializeReportForID pHidP_InitializeReportForID;

inline constexpr ULONG kNoMatchedDevice = 0xFFFF;

struct HeapBlockDeleter {
    void operator()(std::uint8_t* block) const { HeapFree(GetProcessHeap(), 0, block); }
};
using CommandBufferPtr = std::unique_ptr<std::uint8_t[], HeapBlockDeleter>;

class HidDeviceHost {
public:
    explicit HidDeviceHost(ui::WindowServices& windows);
    virtual ~HidDeviceHost();
    HidDeviceHost(const HidDeviceHost&) = delete;
    HidDeviceHost& operator=(const HidDeviceHost&) = delete;

    // Handler of the Open Device button.
    void OnOpenDevice();

    BOOL EnumerateHidInterfaces(std::vector<HidDevice>& list, ULONG& count);
    BOOL OpenHidInterface(const WCHAR* path, ULONG readAccess, ULONG writeAccess, ULONG overlapped, ULONG exclusive,
                          HidDevice& device);
    BOOL BuildCapabilityTables(HidDevice& device);
    void ReleaseHidDevice(HidDevice& device);

    // Fills `call` for one report-table row; for an output row also writes the header
    // bytes into `commandBuffer` and copies the report into the device's output report.
    void PrepareHidCall(HidCall& call, const ReportSelector& selector, std::uint8_t* commandBuffer);

    // Frees the three command buffers (the closing handlers call this).
    void ReleaseCommandBuffers();

    // Read access for tests and the layers above.
    const HidDevice& OpenedDevice() const { return device; }
    LONG IsDeviceOpen() const { return DeviceOpen; }

protected:
    ui::WindowServices& windows;

    HidDevice device;     // the opened device, taken over from the device list
    LONG DeviceOpen = 0;  // 1 once Open Device found the device

    CommandBufferPtr flashBuffer;
    CommandBufferPtr controlBuffer;
    CommandBufferPtr iicBuffer;
    ULONG flashBufferLength = 0;
    ULONG flashReadLength = 0;
    ULONG controlBufferLength = 0;
    ULONG iicBufferLength = 0;

    std::uint8_t selectedGpioPin = 0;
    std::uint8_t selectedGpioDirection = 0;

private:
    void ShowOpenedDeviceControls();
    void ResolveHidEntryPoints();
    bool DeviceCanServeCommands();
    void AllocateCommandBuffers();
};
