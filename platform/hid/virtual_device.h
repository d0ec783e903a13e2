// In-process virtual HID devices. A test or the simulator publishes a device; the
// enumeration lists it after the hidraw interfaces and CreateFileW opens it by path.
// While a handler runs, no other transfer reaches the same device.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/win/win_error.h"

namespace vhid {

class DeviceHandler {
public:
    virtual ~DeviceHandler() = default;
    // An output report, byte 0 the report ID. Anything but ERROR_SUCCESS fails the
    // transfer (as a stall would).
    virtual DWORD OnOutputReport(std::span<const std::uint8_t> report) = 0;
    // An input request with the requested length as it is on the wire. The answer is
    // the bytes the device returns from byte 0 on; the host keeps at most its report length.
    virtual DWORD OnInputRequest(std::uint8_t reportId, ULONG requestedLength, std::vector<std::uint8_t>& answer) = 0;
    virtual DWORD OnSetFeature(std::span<const std::uint8_t>) { return ERROR_GEN_FAILURE; }
    virtual DWORD OnGetFeature(std::uint8_t, ULONG, std::vector<std::uint8_t>&) { return ERROR_GEN_FAILURE; }
    virtual DWORD OnWrite(std::span<const std::uint8_t> report) { return OnOutputReport(report); }
    virtual DWORD OnRead(std::vector<std::uint8_t>&, ULONG) { return ERROR_SEM_TIMEOUT; }
};

struct DeviceInfo {
    std::u16string path;  // must be unique; by convention starts with "\\?\vhid#"
    USHORT vendorId = 0;
    USHORT productId = 0;
    USHORT versionNumber = 0;
    std::vector<std::uint8_t> reportDescriptor;
    std::u16string manufacturer;
    std::u16string product;
    std::u16string serialNumber;
    std::vector<std::u16string> indexedStrings;  // string descriptor i at index i
    // The USB port path the device pretends to sit at ("1-2.3"; empty: none). Enumeration
    // and GetAttributes report it as the interface's port path.
    std::u16string portPath;
    // The interface's plug identity (InterfaceInfo::plugId). The transport sets it, not the
    // publisher: Publish numbers each publication anew, the socket client names the
    // simulator it reached. Not sent in a simulator's Info.
    std::u16string plugId;
};

// Withdraws the device when destroyed: its open handles then fail as after an unplug
// (ERROR_DEVICE_NOT_CONNECTED).
class Publication {
public:
    virtual ~Publication() = default;
    virtual const std::u16string& Path() const = 0;
};

// A device published again, even under the same path and serial number, is another plug-in:
// its plug identity is "vhid:" and the publication's number, never given twice.
std::unique_ptr<Publication> Publish(DeviceInfo info, std::shared_ptr<DeviceHandler> handler);

// A unique path for a new virtual device, "\\?\vhid#<tag>#<n>".
std::u16string MakePath(std::string_view tag);

}  // namespace vhid
