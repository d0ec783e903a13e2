// What a transport provides to the HID library: the interfaces it can see, and an open
// connection to one of them. Every member answers a Win32 error number (ERROR_SUCCESS
// when it worked). Transports: Linux hidraw, in-process virtual devices, simulators over
// a Unix socket.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win/win_error.h"

namespace hidtransport {

struct InterfaceInfo {
    std::u16string path;
    USHORT vendorId = 0;
    USHORT productId = 0;
    USHORT versionNumber = 0;
    // The USB serial number string; empty when the device has none.
    std::u16string serialNumber;
    // Where the device is plugged in, as Linux names the USB device: bus, '-', then the
    // port on each hub from the root down, '.'-separated ("1-2.3"). Empty when there is
    // none (not a USB device, or a simulator started without one).
    std::u16string portPath;
    // What tells one plug-in of the device from the next at the same place: it changes when
    // the device is plugged in again (a USB device's bus and device number, a restarted
    // simulator's socket and process, a virtual device's publication) and stays while the
    // device stays. Compare it only for equality. Empty when the transport cannot tell.
    std::u16string plugId;
};

// Whether `text` has the form of a USB port path: a bus number, '-', then 1 to 7 port
// numbers separated by '.', each number 1 to 999 without leading zeros ("1-2.3").
bool IsUsbPortPath(std::u16string_view text);

enum class StringKind { Manufacturer, Product, SerialNumber, Indexed };

enum class ClaimOp { Take = 0, Release = 1, Query = 2 };

class Connection {
public:
    virtual ~Connection() = default;
    virtual DWORD GetReportDescriptor(std::vector<std::uint8_t>& descriptor) = 0;
    virtual DWORD GetAttributes(InterfaceInfo& info) = 0;
    // An output report as SET_REPORT(Output): byte 0 is the report ID.
    virtual DWORD SetOutputReport(std::span<const std::uint8_t> report) = 0;
    // GET_REPORT(Input) for `reportId` with `requestedLength` as the transfer length,
    // unchanged. `answer` receives the bytes the device returned, report ID position first.
    virtual DWORD GetInputReport(std::uint8_t reportId, ULONG requestedLength, std::vector<std::uint8_t>& answer) = 0;
    virtual DWORD SetFeature(std::span<const std::uint8_t> report) = 0;
    virtual DWORD GetFeature(std::uint8_t reportId, ULONG requestedLength, std::vector<std::uint8_t>& answer) = 0;
    // Interrupt-pipe transfers (ReadFile/WriteFile on the device handle).
    virtual DWORD WriteReport(std::span<const std::uint8_t> report) = 0;
    virtual DWORD ReadReport(std::vector<std::uint8_t>& report, ULONG maxLength) = 0;
    virtual DWORD GetString(StringKind kind, ULONG index, std::u16string& text) = 0;
    virtual DWORD FlushQueue() = 0;
    // Exclusive use of the device across connections and processes (HidExt_ClaimDevice):
    // Take answers ERROR_SUCCESS (also when this connection holds it already) or
    // ERROR_BUSY with the holder's process id (0 when unknown); Release frees this
    // connection's claim; Query reports in holderPid another connection's claim (0: none).
    // Closing the connection releases its claim.
    virtual DWORD Claim(ClaimOp op, std::uint32_t& holderPid) = 0;
};

class Provider {
public:
    virtual ~Provider() = default;
    // Appends the interfaces present now, in this provider's order.
    virtual void Enumerate(std::vector<InterfaceInfo>& out) = 0;
    virtual bool Owns(std::u16string_view path) const = 0;
    // Opens an interface. `access` is the CreateFileW access mask (0 allowed: the
    // transport opens what it must and refuses only what the system refuses).
    virtual DWORD Open(std::u16string_view path, DWORD access, DWORD share, std::unique_ptr<Connection>& out) = 0;
};

// Providers in enumeration order: hidraw, virtual, socket. `rank` orders them.
void RegisterProvider(int rank, std::shared_ptr<Provider> provider);
std::vector<std::shared_ptr<Provider>> Providers();
// Every interface present now, from every provider in order (the built-in providers are
// registered first).
std::vector<InterfaceInfo> EnumerateInterfaces();

// While it lives, `provider` stands in for every provider registered at `rank`, before or
// after it was made; the newest override of a rank wins. Tests use it to point a
// transport at a fake tree (the hidraw provider made with their own roots).
class ProviderOverride {
public:
    ProviderOverride(int rank, std::shared_ptr<Provider> provider);
    ~ProviderOverride();
    ProviderOverride(const ProviderOverride&) = delete;
    ProviderOverride& operator=(const ProviderOverride&) = delete;

private:
    int rank_;
    std::shared_ptr<Provider> provider_;
};

inline constexpr int kRankHidraw = 10;
inline constexpr int kRankVirtual = 20;
inline constexpr int kRankSocket = 30;

}  // namespace hidtransport
