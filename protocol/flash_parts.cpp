#include "protocol/flash_parts.h"

namespace {

// The four geometries of the table.
struct Geometry {
    USHORT pageSize;
    USHORT pagesPerSector;
    ULONG sectorSize;
    USHORT sectorsPerBlock;
};
constexpr Geometry kUniform64K{256, 256, 65536, 1};
constexpr Geometry k4KSectors{256, 16, 4096, 16};
constexpr Geometry k512Pages{512, 128, 65536, 1};

constexpr FlashPart Part(USHORT manufacturer, USHORT device, ULONG signature, const char* name, ULONG row,
                         Geometry g, USHORT totalBlocks) {
    return FlashPart{manufacturer, device,        signature,         name, row, g.pageSize, g.pagesPerSector,
                     g.sectorSize, g.sectorsPerBlock, totalBlocks};
}

}  // namespace

// Row 1 carries no geometry of its own in the part list the device shares; it is the
// 32-Mbit part of its family, so it gets the uniform 64 KiB geometry of the other 32-Mbit
// parts rather than none (a part without geometry could not be burned or dumped).
const FlashPart FlashPartTable[kFlashPartCount] = {
    Part(0x37, 0x3016, 0x15, "AMIC__A25L032", 0, kUniform64K, 64),
    Part(0x37, 0x4016, 0x15, "AMIC__A25Q032", 1, kUniform64K, 64),
    Part(0x1F, 0x4600, 0xFF, "ATMEL_AT26DF161", 2, kUniform64K, 32),
    Part(0x1F, 0x4700, 0xFF, "ATMEL__AT26D321", 3, kUniform64K, 64),
    Part(0x68, 0x4017, 0x16, "BY_25Q64AS", 4, kUniform64K, 128),
    Part(0x68, 0x4018, 0x17, "BY_25Q128AS", 5, kUniform64K, 256),
    Part(0x1C, 0x2016, 0x15, "EON__EN25P32", 6, kUniform64K, 64),
    Part(0x1C, 0x2015, 0x34, "EON__EN25B16", 7, kUniform64K, 32),
    Part(0x1C, 0x2016, 0x35, "EON__EN25B32", 8, kUniform64K, 64),
    Part(0x1C, 0x2017, 0x36, "EON__EN25B64", 9, kUniform64K, 128),
    Part(0x1C, 0x3115, 0x14, "EON__EN25F16", 10, kUniform64K, 32),
    Part(0x1C, 0x3116, 0x15, "EON__EN25F32", 11, kUniform64K, 64),
    Part(0x1C, 0x3015, 0x14, "EON_EN25Q16", 12, kUniform64K, 32),
    Part(0x1C, 0x3016, 0x15, "EON_EN25Q32A", 13, kUniform64K, 64),
    Part(0x1C, 0x3114, 0x13, "EON_EN25F80", 14, kUniform64K, 16),
    Part(0x1C, 0x3014, 0x13, "EON_EN25Q80A", 15, kUniform64K, 16),
    Part(0x1C, 0x3017, 0x16, "EON_EN25Q64", 16, kUniform64K, 128),
    Part(0x1C, 0x7016, 0x15, "EON_EN25QH32", 17, kUniform64K, 64),
    Part(0x4A, 0x3215, 0x14, "ES__ES25M16A", 18, kUniform64K, 32),
    Part(0x8C, 0x2015, 0x14, "ESMT_F25L16PA", 19, kUniform64K, 32),
    Part(0x8C, 0x4116, 0x15, "ESMT_F25L32Q", 20, kUniform64K, 64),
    Part(0xC2, 0x2015, 0x14, "MX__25L1605A", 21, kUniform64K, 32),
    Part(0xC2, 0x2016, 0x15, "MX__25L3205D", 22, kUniform64K, 64),
    Part(0xC2, 0x5E16, 0x5E, "MX__25L3235D", 23, kUniform64K, 64),
    Part(0xC2, 0x2415, 0x24, "MX__25L1635D", 24, kUniform64K, 32),
    Part(0xC2, 0x2017, 0x16, "MX_25L6445E", 25, kUniform64K, 128),
    Part(0xC2, 0x2018, 0x17, "MX_25L12835F", 26, kUniform64K, 256),
    Part(0xC2, 0x2019, 0x18, "MX_25L25735F", 27, kUniform64K, 512),
    Part(0xC2, 0x201A, 0x19, "MX_25L51245G", 28, kUniform64K, 1024),
    Part(0xC8, 0x4017, 0x16, "GD_GD25Q64B", 29, kUniform64K, 128),
    Part(0xC8, 0x4016, 0x15, "GD_GD25Q32", 30, kUniform64K, 64),
    Part(0xC8, 0x4015, 0x14, "GD_GD25Q16", 31, kUniform64K, 32),
    Part(0xC8, 0x4018, 0x17, "GD_GD25Q128C", 32, k4KSectors, 256),
    Part(0xC8, 0x4020, 0x19, "GD_GD25Q512MC", 33, k4KSectors, 1024),
    Part(0x20, 0x2012, 0xFF, "NUMON_M25P20", 34, kUniform64K, 4),
    Part(0x20, 0x2016, 0xFF, "NUMON_M25P32", 35, kUniform64K, 64),
    Part(0x01, 0x0214, 0xFF, "SPAN_S25FL016A", 36, kUniform64K, 32),
    Part(0x01, 0x0215, 0xFF, "SPAN_S25FL032A", 37, kUniform64K, 64),
    Part(0xBF, 0x2541, 0x41, "SST_25VF016B", 38, k512Pages, 32),
    Part(0xEF, 0x3015, 0x14, "WIN__W25X16A", 39, kUniform64K, 32),
    Part(0xEF, 0x3016, 0x15, "WIN_W25X32V", 40, kUniform64K, 64),
    Part(0xEF, 0x4016, 0x15, "WIN_W25Q32BV", 41, kUniform64K, 64),
    Part(0xEF, 0x4017, 0x16, "WIN__W25Q64BV", 42, kUniform64K, 128),
    Part(0x5E, 0x4018, 0x17, "ZB_25VQ128", 43, kUniform64K, 256),
    Part(0x85, 0x6017, 0x16, "P25Q64H", 44, k4KSectors, 128),
    Part(0x52, 0x2217, 0x16, "NV_25Q64EVB", 45, k4KSectors, 128),
};

void SetPartGeometry(FlashPart& record, const FlashPart& row) {
    if (row.row >= static_cast<ULONG>(kFlashPartCount)) return;
    const FlashPart& source = FlashPartTable[row.row];
    record.pageSize = source.pageSize;
    record.pagesPerSector = source.pagesPerSector;
    record.sectorSize = source.sectorSize;
    record.sectorsPerBlock = source.sectorsPerBlock;
    record.totalBlocks = source.totalBlocks;
}

ULONG FlashPartTotalSize(const FlashPart& part) {
    return static_cast<ULONG>(part.sectorsPerBlock) * part.sectorSize * part.totalBlocks;
}
