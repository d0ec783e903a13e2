// What the serial flash holds and where: the burnable areas, the update-flag block, the
// firmware header fields of a burn image, and the access modes that open each region.
// Addresses are flash byte addresses; a burn image is a raw flash image from address 0,
// so an area's bytes sit in the image at the area's own address.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/win/win_types.h"

struct FlashArea {
    ULONG address;
    ULONG length;
    const char* name;  // the area's line of the burn verdict
};

inline constexpr int kFlashAreaCount = 3;
enum FlashAreaIndex : int { kAreaFirmware = 0, kAreaPrivate = 1, kAreaCustomized = 2 };
// Row i is also check box 1034 + i and bit i of the burn's success mask.
extern const FlashArea FlashAreaTable[kFlashAreaCount];

// The access mode sent with every flash address selects the region the device opens.
enum FlashAccessMode : std::uint8_t {
    kModeFirmware = 0,    // the Firmware area, for a Firmware burn
    kModeWholeFlash = 1,  // the whole flash: Entire Flash burn, dump
    kModeUpdateFlag = 2,  // the update-flag block
    kModeAreas = 3,       // the Private and Customized areas
};

inline constexpr ULONG kFlashLayoutSize = 0x800000;
inline constexpr ULONG kFirmwareHeaderOffset = 0x180000;
inline constexpr ULONG kHeaderLenOffset = 0x18000C;  // 32-bit big-endian
inline constexpr ULONG kBootSizeOffset = 0x180010;   // 32-bit big-endian
inline constexpr ULONG kImageVersionOffset = 0x18001C;  // four single bytes
inline constexpr ULONG kUpdateFlagAddress = 0x70000;
inline constexpr ULONG kUpdateFlagBlockSize = 4096;

// A 32-bit big-endian field of the image; false when the image does not hold all 4 bytes.
bool ReadBigEndian32(std::span<const std::uint8_t> image, ULONG offset, ULONG& value);

// The firmware part of an image as its header gives it: Header_len plus Boot_Size (a 32-bit
// sum), and that sum rounded up to whole sectors (kept wide, so a huge sum cannot wrap).
struct FirmwareLength {
    ULONG headerLen = 0;
    ULONG bootSize = 0;
    ULONG sum = 0;
    std::uint64_t rounded = 0;
};
// False when the image does not hold the header fields or the sector size is 0.
bool ReadFirmwareLength(std::span<const std::uint8_t> image, ULONG sectorSize, FirmwareLength& fw);

// "04.03.02.01" from the bytes at 0x18001F, 0x18001E, 0x18001D, 0x18001C; empty when the
// image is too short to hold them.
std::string FormatImageVersion(std::span<const std::uint8_t> image);
