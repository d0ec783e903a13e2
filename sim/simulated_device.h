// The simulated device: the firmware model (firmware.h, which documents the frames it
// accepts) behind a fault injector (fault_injector.h), with the transfer log
// (transfer_log.h), as one in-process HID device. Thread-safe: transfers, observation and
// fault settings may come from any thread.
//
// Every transfer passes the injector's pace, then, under the device's lock, the injector's
// faults and the firmware, and is recorded in the log with its result and the reason a
// refused one was refused (or the fault that acted).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hid/virtual_device.h"
#include "sim/config.h"
#include "sim/fault_injector.h"
#include "sim/firmware.h"
#include "sim/flash_model.h"
#include "sim/transfer_log.h"

namespace sim {

class SimulatedDevice final : public vhid::DeviceHandler {
public:
    // Null, with the reason in `error`, when the configuration is refused by Validate.
    static std::shared_ptr<SimulatedDevice> Create(Config config, std::string& error);

    // What a transport publishes: ids, descriptor and strings. The path is left empty.
    vhid::DeviceInfo Info() const;
    const Config& Configuration() const { return firmware_.Configuration(); }

    DWORD OnOutputReport(std::span<const std::uint8_t> report) override;
    DWORD OnInputRequest(std::uint8_t reportId, ULONG requestedLength, std::vector<std::uint8_t>& answer) override;
    DWORD OnSetFeature(std::span<const std::uint8_t> report) override;
    DWORD OnGetFeature(std::uint8_t reportId, ULONG requestedLength, std::vector<std::uint8_t>& answer) override;
    DWORD OnWrite(std::span<const std::uint8_t> report) override;
    DWORD OnRead(std::vector<std::uint8_t>& report, ULONG maxLength) override;

    // Faults. Counts are of transfers (of any kind) from the moment the fault is set.
    void FailTransfer(std::uint64_t nth);           // the nth fails once (1 = the next one)
    void UnplugAfter(std::uint64_t transfers);      // later ones fail as after an unplug
    void CorruptReadChunk(std::uint64_t nthChunk, std::size_t byteIndex);  // flips the byte
    // The pace of every transfer (fault_injector.h: PaceKind).
    void SetDelay(std::chrono::microseconds perTransfer, PaceKind kind = PaceKind::Exact);
    void SetGetIdAnswer(std::optional<std::uint16_t> row);  // any value, 0xFFFF included
    void SetInputTruncation(std::optional<std::size_t> bytes);  // answers cut to this
    void SetInputJunk(std::size_t bytes);  // bytes appended to every answer
    void ClearFaults();

    // Observation and set-up.
    std::vector<TransferRecord> Log() const;
    void ClearLog();
    std::uint64_t TransferCount() const;
    std::vector<std::uint8_t> FlashContents() const;
    std::vector<std::uint8_t> FlashBytes(std::uint32_t address, std::uint32_t length) const;
    bool LoadFlash(std::span<const std::uint8_t> image);
    FlashGeometry Geometry() const;
    std::uint32_t Register(std::uint32_t address) const;
    void SetRegister(std::uint32_t address, std::uint32_t value);
    GpioPin Gpio(std::uint8_t pin) const;
    void SetGpioExternalLevel(std::uint8_t pin, std::uint8_t level);
    std::array<std::uint8_t, kHdmiInfoBytes> HdmiInfo() const;
    void SetHdmiInfo(const std::array<std::uint8_t, kHdmiInfoBytes>& info);
    bool HdcpEnabled() const;
    // The 256 registers of the IIC device at `address`, or nothing when there is none.
    std::optional<std::array<std::uint8_t, 256>> IicMemory(std::uint8_t address) const;

    struct Tag {};
    SimulatedDevice(Tag, Config config, FlashGeometry geometry);

private:
    DWORD Transfer(const TransferRequest& request, std::vector<std::uint8_t>* answer);

    mutable std::mutex mutex_;
    Firmware firmware_;
    FaultInjector faults_{firmware_};
    TransferLog log_;
    std::uint64_t sequence_ = 0;  // transfers seen
};

// Publishes the device in-process under a fresh "\\?\vhid#<tag>#<n>" path; the device
// stays listed while the publication lives.
std::unique_ptr<vhid::Publication> Publish(std::shared_ptr<SimulatedDevice> device, std::string_view tag = "sim");

}  // namespace sim
