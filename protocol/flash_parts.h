// The serial-flash parts the device knows, in the row order the device answers Get ID
// with. The host does not match the JEDEC codes itself; they describe each row.
#pragma once

#include <cstdint>

#include "platform/win/win_types.h"

struct FlashPart {
    USHORT manufacturer;
    USHORT device;      // the two identification bytes after the manufacturer code, first in the high byte
    ULONG signature;    // one-byte electronic signature; 0xFF where the part has none
    const char* name;
    ULONG row;
    USHORT pageSize;
    USHORT pagesPerSector;
    ULONG sectorSize;
    USHORT sectorsPerBlock;
    USHORT totalBlocks;
};

inline constexpr int kFlashPartCount = 46;
inline constexpr ULONG kNoIdentifiedPart = 0xFFFF;

extern const FlashPart FlashPartTable[kFlashPartCount];

// Writes the geometry of table row `row.row` into `record`; nothing for a row above 45.
void SetPartGeometry(FlashPart& record, const FlashPart& row);

// Total size in bytes: sectors per block x sector size x total blocks.
ULONG FlashPartTotalSize(const FlashPart& part);
