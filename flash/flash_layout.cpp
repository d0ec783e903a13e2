#include "flash/flash_layout.h"

#include "core/format.h"

const FlashArea FlashAreaTable[kFlashAreaCount] = {
    {.address = 0x180000, .length = 0x370000, .name = "- Firmware Area\n"},
    {.address = 0x4F0000, .length = 0x10000, .name = "- Private Area\n"},
    {.address = 0x500000, .length = 0x300000, .name = "- Customized Area\n"},
};

bool ReadBigEndian32(std::span<const std::uint8_t> image, ULONG offset, ULONG& value) {
    if (image.size() < 4 || offset > image.size() - 4) return false;
    value = static_cast<ULONG>(image[offset]) << 24 | static_cast<ULONG>(image[offset + 1]) << 16 |
            static_cast<ULONG>(image[offset + 2]) << 8 | static_cast<ULONG>(image[offset + 3]);
    return true;
}

bool ReadFirmwareLength(std::span<const std::uint8_t> image, ULONG sectorSize, FirmwareLength& fw) {
    if (sectorSize == 0 || !ReadBigEndian32(image, kHeaderLenOffset, fw.headerLen) ||
        !ReadBigEndian32(image, kBootSizeOffset, fw.bootSize))
        return false;
    fw.sum = fw.headerLen + fw.bootSize;
    fw.rounded = (std::uint64_t{fw.sum} + sectorSize - 1) / sectorSize * sectorSize;
    return true;
}

std::string FormatImageVersion(std::span<const std::uint8_t> image) {
    if (image.size() < kImageVersionOffset + 4) return {};
    const std::uint8_t* v = image.data() + kImageVersionOffset;
    return core::Format("%02x.%02x.%02x.%02x", v[3], v[2], v[1], v[0]);
}
