// The simulated device: a model of the bridge chip's firmware as the host sees it over
// the vendor HID reports. It checks every frame it receives against the frame layouts and
// fails what it does not understand, as the firmware's stall would, so that it catches
// a host's mistakes. Thread-safe: transfers, observation and fault settings may come from
// any thread.
//
// Frames it accepts (byte 0 is always the report ID, byte 1 the length byte counting the
// frame from byte 1 to its last parameter, byte 2 the command):
//   control report   0x00 register write (0x0A: address 3-6, value 7-10)
//                    0x01 register address for a read (0x06: address 3-6)
//                    0x03 flash access mode and address (0x07: mode 3, address 4-7)
//                    0x05 flash length (0x06: length 3-6)
//                    0x08 GPIO direction (0x04: pin 3, 0 input / 1 output 4)
//                    0x09 GPIO level (0x04: pin 3, level 0/1 4)
//                    0x0A GPIO pin for a read (0x03: pin 3)
//   IIC report       0x06 IIC write (4 + count: device 3, count 4, data 5..)
//                    0x07 IIC read (5 + count: device 3, count 4, data 5.., readCount)
//   flash data       bytes 1-3 zero, the next chunk of a write burst from byte 4
// Multi-byte values are little-endian. With Config::strictPadding, every byte after a
// frame's last parameter must be 0.
//
// Input requests carry their command in bits 8-15 of the requested length and the report
// length in bits 0-7: control 0x02 register value (4 bytes), 0x04 flash part row (2),
// 0x0A GPIO level (1); IIC 0x06 IIC write code (1), 0x07 IIC code and the bytes read,
// 0x0B HDMI information (24), 0x0D USB information (vid, pid, version LE, speed 2 = high,
// configuration 1). A request on the flash data report has the report length alone and
// answers the next read chunk (the report count, the last chunk shorter). Every answer is
// the report length long, payload first, zero after it, without a report ID prefix.
//
// IIC return codes: 0x00 acknowledged, 0x01 no device acknowledged the address, 0x02 the
// read count does not fit the answer report. Each IIC device has 256 byte registers; the
// first byte written is the register offset, then the data (auto-increment, wrapping).
//
// Refused transfers answer ERROR_GEN_FAILURE; after the unplug fault every transfer
// answers ERROR_DEVICE_NOT_CONNECTED. Both are recorded in the transfer log with the reason.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hid/virtual_device.h"
#include "sim/config.h"
#include "sim/flash_model.h"
#include "sim/transfer_log.h"

namespace sim {

inline constexpr std::uint32_t kFirmwareVersionRegisters[4] = {0x54, 0x58, 0x5C, 0x60};
inline constexpr std::uint32_t kHdcpRegister = 0x03FF0000;
inline constexpr std::uint32_t kHdcpKeyOff = 0xF9000000;
inline constexpr std::uint32_t kHdcpKeyOn = 0xF9000001;
inline constexpr std::uint8_t kGpioPins = 4;
inline constexpr std::size_t kHdmiInfoBytes = 24;

inline constexpr std::uint8_t kIicAck = 0x00;
inline constexpr std::uint8_t kIicAddressNak = 0x01;
inline constexpr std::uint8_t kIicBadCount = 0x02;

struct GpioPin {
    std::uint8_t direction = 0;  // 0 input, 1 output
    std::uint8_t driven = 0;     // level written (drives the pin when it is an output)
    std::uint8_t external = 0;   // level the outside world puts on the pin
};

class SimulatedDevice final : public vhid::DeviceHandler {
public:
    // Null, with the reason in `error`, when the configuration is refused by Validate.
    static std::shared_ptr<SimulatedDevice> Create(Config config, std::string& error);

    // What a transport publishes: ids, descriptor and strings. The path is left empty.
    vhid::DeviceInfo Info() const;
    const Config& Configuration() const { return config_; }

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
    void SetDelay(std::chrono::microseconds perTransfer);  // exact below 2 ms, a sleep above
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
    struct IicDevice {
        std::array<std::uint8_t, 256> memory{};
        std::uint8_t pointer = 0;
    };
    struct IicReadResult {
        std::uint8_t code = 0;
        std::vector<std::uint8_t> bytes;
    };
    struct Outcome {
        DWORD result = ERROR_SUCCESS;
        std::string note;
    };

    template <class Handle>
    DWORD Transfer(Direction direction, std::uint8_t reportId, ULONG length, std::span<const std::uint8_t> bytes,
                   std::vector<std::uint8_t>* answer, Handle&& handle);
    void Record(TransferRecord record);

    static void Pace(std::chrono::microseconds delay);
    std::string HandleOutput(std::span<const std::uint8_t> report);
    std::string HandleControl(std::span<const std::uint8_t> report);
    std::string HandleIicOutput(std::span<const std::uint8_t> report);
    std::string HandleFlashData(std::span<const std::uint8_t> report);
    std::string HandleInput(std::uint8_t reportId, ULONG requestedLength, std::vector<std::uint8_t>& answer);
    std::string ControlAnswer(std::uint8_t command, std::vector<std::uint8_t>& payload);
    std::string IicAnswer(std::uint8_t command, std::vector<std::uint8_t>& payload);
    std::string FlashAnswer(std::vector<std::uint8_t>& payload);
    void ApplyAnswerFaults(std::vector<std::uint8_t>& answer, std::string& note);

    void WriteRegister(std::uint32_t address, std::uint32_t value);
    std::uint8_t IicWrite(std::uint8_t device, std::span<const std::uint8_t> data);
    IicReadResult IicRead(std::uint8_t device, std::span<const std::uint8_t> data, std::uint8_t readCount);
    std::string CheckPadding(std::span<const std::uint8_t> report, std::size_t frameEnd) const;
    std::optional<ReportKind> OutputKind(std::uint8_t id) const;
    std::optional<ReportKind> InputKind(std::uint8_t id) const;

    const Config config_;
    mutable std::mutex mutex_;

    FlashModel flash_;
    std::map<std::uint32_t, std::uint32_t> registers_;
    std::optional<std::uint32_t> readAddress_;
    std::array<GpioPin, kGpioPins> gpio_{};
    std::optional<std::uint8_t> gpioReadPin_;
    std::map<std::uint8_t, IicDevice> iic_;
    std::optional<std::uint8_t> iicWriteCode_;
    std::optional<IicReadResult> iicRead_;
    std::array<std::uint8_t, kHdmiInfoBytes> hdmi_{};
    bool hdcpEnabled_ = true;

    // Faults, as absolute positions in the transfer and read-chunk counts.
    std::uint64_t sequence_ = 0;
    std::uint64_t readChunks_ = 0;
    std::optional<std::uint64_t> failAt_;
    std::optional<std::uint64_t> unplugAfter_;
    std::optional<std::uint64_t> corruptChunk_;
    std::size_t corruptByte_ = 0;
    std::chrono::microseconds delay_{0};
    std::optional<std::uint16_t> getIdAnswer_;
    std::optional<std::size_t> truncateTo_;
    std::size_t junkBytes_ = 0;

    std::deque<TransferRecord> log_;
};

// Publishes the device in-process under a fresh "\\?\vhid#<tag>#<n>" path; the device
// stays listed while the publication lives.
std::unique_ptr<vhid::Publication> Publish(std::shared_ptr<SimulatedDevice> device, std::string_view tag = "sim");

}  // namespace sim
