// The opened device and everything sized from it: device discovery (the Open Device
// search), the capability tables, the three command buffers, and the preparation of
// vendor report calls. It knows no window: Open Device's outcome is a value, and trace
// lines go to the reporter it was given.
//
// Failure convention: the BOOL members answer TRUE/FALSE, as the platform calls they wrap.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/report.h"
#include "hid/hid_call.h"
#include "platform/win/heap.h"

// Entry points resolved by name from "HID.DLL" when a device is opened (null until then);
// the dispatcher's toolbox calls through them. Atomic: the station's boards open devices
// and call through them at once.
using PFN_HidP_GetExtendedAttributes = NTSTATUS (*)(HIDP_REPORT_TYPE, USHORT, PHIDP_PREPARSED_DATA,
                                                    PHIDP_EXTENDED_ATTRIBUTES, PULONG);
using PFN_HidP_InitializeReportForID = NTSTATUS (*)(HIDP_REPORT_TYPE, UCHAR, PHIDP_PREPARSED_DATA, PCHAR, ULONG);
extern std::atomic<PFN_HidP_GetExtendedAttributes> pHidP_GetExtendedAttributes;
extern std::atomic<PFN_HidP_InitializeReportForID> pHidP_InitializeReportForID;

inline constexpr ULONG kNoMatchedDevice = 0xFFFF;

struct HeapBlockDeleter {
    void operator()(std::uint8_t* block) const { HeapFree(GetProcessHeap(), 0, block); }
};
using CommandBufferPtr = std::unique_ptr<std::uint8_t[], HeapBlockDeleter>;

// One command buffer: as long as its report's value count plus the report id byte.
struct CommandBuffer {
    CommandBufferPtr data;
    ULONG length = 0;
    std::uint8_t* get() const { return data.get(); }
    explicit operator bool() const { return data != nullptr; }
};

// The device a search looks for: its ids, and (when not empty) the one interface path it
// may take, so that each of several processes serves its own one of several devices.
struct DeviceQuery {
    USHORT vendorId = 0;
    USHORT productId = 0;
    std::u16string onlyPath;
};

// What the Open Device search found.
struct OpenOutcome {
    enum class Kind {
        Opened,       // the device is open and can serve the commands
        CannotServe,  // open, but its reports are not the ones the commands need
        NotFound,
        NoAccess,     // present, but this user may not open it (deniedPath)
    };
    Kind kind = Kind::NotFound;
    ULONG index = kNoMatchedDevice;  // the opened interface's place in the search
    std::u16string deniedPath;
    bool IsOpen() const { return kind == Kind::Opened || kind == Kind::CannotServe; }
};

// The box a search that opened nothing shows: "HID Device no found !", or for an interface
// this user may not open, what grants access.
core::Box OpenFailureBox(const OpenOutcome& outcome, const DeviceQuery& query);

// Visits the present HID interfaces in the system's order: `visit(index, path)` with a
// null path for an index whose details could not be read; a false answer ends the walk.
// FALSE when the system gave no interface list.
BOOL WalkHidInterfaces(const std::function<bool(ULONG index, const WCHAR* path)>& visit);

class HidDeviceHost {
public:
    explicit HidDeviceHost(core::Reporter& reporter);
    ~HidDeviceHost();
    HidDeviceHost(const HidDeviceHost&) = delete;
    HidDeviceHost& operator=(const HidDeviceHost&) = delete;

    // The Open Device search: the first interface with the wanted ids becomes the opened
    // device (a device held before is released first) and the command buffers are sized
    // from it. Traces "Fail to get HID function", "Error initializing flash and RW buffer"
    // and "Error allocating memory" as the steps fail.
    OpenOutcome OpenDevice(const DeviceQuery& query);

    // The search itself, with the query of the last OpenDevice (tests call it directly).
    BOOL EnumerateHidInterfaces(std::vector<HidDevice>& list, ULONG& count);
    BOOL OpenHidInterface(const WCHAR* path, ULONG readAccess, ULONG writeAccess, ULONG overlapped, ULONG exclusive,
                          HidDevice& device);
    BOOL BuildCapabilityTables(HidDevice& device);
    void ReleaseHidDevice(HidDevice& device);

    // Fills `call` for one report-table row; for an output row also writes the header
    // bytes into `commandBuffer` and copies the report into the device's output report.
    void PrepareHidCall(HidCall& call, const ReportSelector& selector, std::uint8_t* commandBuffer);

    void ReleaseCommandBuffers();
    // Releases the device and the buffers (the closing handlers).
    void Close();

    const HidDevice& OpenedDevice() const { return device; }
    HidDevice& OpenedDevice() { return device; }
    LONG IsDeviceOpen() const { return deviceOpen; }
    const DeviceQuery& Query() const { return query; }
    ULONG MatchedIndex() const { return matchedIndex; }

    CommandBuffer flashBuffer;
    CommandBuffer controlBuffer;
    CommandBuffer iicBuffer;
    ULONG flashReadLength = 0;  // one flash read answer

private:
    void ResolveHidEntryPoints();
    bool DeviceCanServeCommands();
    void AllocateCommandBuffers();

    core::Reporter& reporter;
    HidDevice device;     // the opened device, taken over from the device list
    LONG deviceOpen = 0;  // 1 once Open Device found the device

    DeviceQuery query;
    ULONG deviceMatched = 0;  // the search met an interface with the wanted ids
    ULONG matchedIndex = kNoMatchedDevice;
    std::u16string deniedMatch;
};
