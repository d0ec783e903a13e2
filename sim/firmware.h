// The firmware model of the simulated device: the bridge chip as the host sees it over the
// vendor HID reports. It checks every frame it receives against the frame layouts and
// fails what it does not understand, as the firmware's stall would, so that it catches a
// host's mistakes. Not thread-safe: SimulatedDevice serialises every call.
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
// Refused transfers answer ERROR_GEN_FAILURE with the reason as the outcome's note.
//
// Two answers can be made wrong on purpose, as a faulty chip would give them: Get ID may
// answer any row, and one flash read chunk may come back with a byte flipped (its data,
// never the padding after it).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/config.h"
#include "sim/flash_model.h"
#include "sim/transfer_handler.h"

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

class Firmware final : public TransferHandler {
public:
    // `config` must have passed Validate; `geometry` is its part row's.
    Firmware(Config config, FlashGeometry geometry);

    TransferOutcome Handle(const TransferRequest& request, std::vector<std::uint8_t>* answer) override;

    // Wrong answers on purpose. Counts are of flash read chunks from the moment it is set.
    void SetGetIdAnswer(std::optional<std::uint16_t> row);  // any value, 0xFFFF included
    void CorruptReadChunk(std::uint64_t nthChunk, std::size_t byteIndex);  // 0 clears it

    // Observation and set-up.
    const Config& Configuration() const { return config_; }
    const std::vector<std::uint8_t>& FlashContents() const { return flash_.Contents(); }
    bool LoadFlash(std::span<const std::uint8_t> image) { return flash_.Load(image); }
    FlashGeometry Geometry() const { return flash_.Geometry(); }
    std::uint32_t Register(std::uint32_t address) const;
    void SetRegister(std::uint32_t address, std::uint32_t value) { registers_[address] = value; }
    GpioPin Gpio(std::uint8_t pin) const { return pin < kGpioPins ? gpio_[pin] : GpioPin{}; }
    void SetGpioExternalLevel(std::uint8_t pin, std::uint8_t level);
    const std::array<std::uint8_t, kHdmiInfoBytes>& HdmiInfo() const { return hdmi_; }
    void SetHdmiInfo(const std::array<std::uint8_t, kHdmiInfoBytes>& info) { hdmi_ = info; }
    bool HdcpEnabled() const { return hdcpEnabled_; }
    // The 256 registers of the IIC device at `address`, or nothing when there is none.
    std::optional<std::array<std::uint8_t, 256>> IicMemory(std::uint8_t address) const;

private:
    struct IicDevice {
        std::array<std::uint8_t, 256> memory{};
        std::uint8_t pointer = 0;
    };
    struct IicReadResult {
        std::uint8_t code = 0;
        std::vector<std::uint8_t> bytes;
    };

    // Each answers why the transfer is refused, or nothing when it is accepted.
    std::string Respond(const TransferRequest& request, std::vector<std::uint8_t>* answer);
    std::string HandleOutput(std::span<const std::uint8_t> report);
    std::string HandleControl(std::span<const std::uint8_t> report);
    std::string HandleIicOutput(std::span<const std::uint8_t> report);
    std::string HandleFlashData(std::span<const std::uint8_t> report);
    std::string HandleInput(std::uint8_t reportId, ULONG requestedLength, std::vector<std::uint8_t>& answer);
    std::string ControlAnswer(std::uint8_t command, std::vector<std::uint8_t>& payload);
    std::string IicAnswer(std::uint8_t command, std::vector<std::uint8_t>& payload);
    std::string FlashAnswer(std::vector<std::uint8_t>& payload);

    void WriteRegister(std::uint32_t address, std::uint32_t value);
    std::uint8_t IicWrite(std::uint8_t device, std::span<const std::uint8_t> data);
    IicReadResult IicRead(std::uint8_t device, std::span<const std::uint8_t> data, std::uint8_t readCount);
    std::string CheckPadding(std::span<const std::uint8_t> report, std::size_t frameEnd) const;
    std::optional<ReportKind> OutputKind(std::uint8_t id) const;
    std::optional<ReportKind> InputKind(std::uint8_t id) const;

    const Config config_;
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

    // The wrong answers, as an absolute position in the count of read chunks.
    std::uint64_t readChunks_ = 0;
    std::optional<std::uint64_t> corruptChunk_;
    std::size_t corruptByte_ = 0;
    std::optional<std::uint16_t> getIdAnswer_;
};

}  // namespace sim
