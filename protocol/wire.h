// What the frames carry besides the report table: the device registers the commands name
// and the byte positions of the parameters. Parameters are little-endian.
#pragma once

#include "platform/win/win_types.h"

namespace wire {

// Firmware version: one byte in the low byte of each of four registers, 4 apart.
inline constexpr ULONG kFirmwareVersionRegister = 0x54;
inline constexpr int kFirmwareVersionBytes = 4;

// The HDCP key switch: one register write of the enable or disable value.
inline constexpr ULONG kHdcpKeyRegister = 0x03FF0000u;
inline constexpr ULONG kHdcpKeyDisable = 0xF9000000u;
inline constexpr ULONG kHdcpKeyEnable = 0xF9000001u;

// HDMI input information: at most this many answer bytes are shown.
inline constexpr ULONG kHdmiInfoBytes = 24;

// Byte 0 of every output frame is the report id; commands below 0x10 put the length in
// byte 1 and the command in byte 2; parameters start at byte 3.
inline constexpr ULONG kParameterOffset = 3;
// Register frames: the address at 3..6, a written value at 7..10.
inline constexpr ULONG kRegisterValueOffset = 7;
// IIC frames: the device address at 3, the byte count at 4, the bytes from 5, then (a read)
// the count to read.
inline constexpr ULONG kIicCountOffset = 4;
inline constexpr ULONG kIicDataOffset = 5;
// GPIO frames: the pin at 3, a direction or level at 4.
inline constexpr ULONG kGpioValueOffset = 4;
// Flash access mode frame: the mode at 3, the address at 4..7; the length frame: the length at 3..6.
inline constexpr ULONG kFlashAddressOffset = 4;
// A flash write report's data starts at byte 4.
inline constexpr ULONG kFlashDataOffset = 4;

}  // namespace wire
