// The preparsed data our report-descriptor parser builds: one internal record per usage
// entry of a main item, per report type, in the order Windows lists them, plus the link
// collection nodes and the HIDP_CAPS of the top-level collection. The HidP_* functions
// read nothing else.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/hid/hidpi.h"

namespace hidparse {

// Named limits: a descriptor that exceeds one is refused, never truncated.
inline constexpr std::size_t kMaxDescriptorBytes = 65536;
inline constexpr std::size_t kMaxRecordsPerType = 4096;
inline constexpr std::size_t kMaxLinkCollections = 1024;
inline constexpr std::size_t kMaxUsagesPerItem = 4096;
inline constexpr std::size_t kMaxGlobalStackDepth = 32;
inline constexpr std::size_t kMaxCollectionDepth = 64;
inline constexpr std::uint32_t kMaxReportCount = 0xFFFF;
inline constexpr std::uint32_t kMaxReportSize = 32 * 8;  // bits of one field
inline constexpr std::uint32_t kMaxReportBits = 0xFFFF * 8;  // report byte lengths fit USHORT

struct Record {
    HIDP_REPORT_TYPE reportType = HidP_Input;
    UCHAR reportId = 0;
    USAGE usagePage = 0;
    bool isButton = false;  // ReportSize 1 or an Array item
    bool isArray = false;   // Array main item (Variable otherwise)
    bool isRange = false;
    bool isConstant = false;
    bool isAbsolute = true;
    bool hasNull = false;
    bool isStringRange = false;
    bool isDesignatorRange = false;
    bool isAlias = false;
    USAGE usageMin = 0;  // == usageMax when !isRange
    USAGE usageMax = 0;
    USHORT stringMin = 0, stringMax = 0;
    USHORT designatorMin = 0, designatorMax = 0;
    USHORT dataIndexMin = 0, dataIndexMax = 0;
    USHORT bitField = 0;  // the main item's data as written
    USHORT linkCollection = 0;
    USAGE linkUsage = 0;
    USAGE linkUsagePage = 0;
    USHORT bitSize = 0;      // Report Size
    USHORT reportCount = 0;  // fields this record covers (an Array record: the whole item)
    std::uint32_t startBit = 0;  // first field's bit offset in the report, the report-ID byte counted
    LONG logicalMin = 0, logicalMax = 0;
    LONG physicalMin = 0, physicalMax = 0;
    ULONG units = 0, unitsExp = 0;
    // Array items: 1-based position of usageMin in the item's usage list (ranges expanded
    // in declaration order), and an id shared by every record of the same main item.
    USHORT arrayPosition = 0;
    std::uint32_t mainItem = 0;
};

struct PreparsedData {
    static constexpr std::uint32_t kMagic = 0x50524550u;  // "PREP"
    std::uint32_t magic = kMagic;
    HIDP_CAPS caps{};
    std::vector<Record> records[3];  // HidP_Input, HidP_Output, HidP_Feature; Windows listing order
    std::vector<HIDP_LINK_COLLECTION_NODE> linkNodes;
    // Report IDs that carry at least one record, per report type.
    std::vector<UCHAR> reportIds[3];
};

// Parses a report descriptor's first top-level collection. Returns HIDP_STATUS_SUCCESS and
// fills `out`, or an HIDP error status (HIDP_STATUS_INVALID_PREPARSED_DATA for a malformed
// or oversized descriptor) and leaves `out` empty. Pure: no I/O, no global state.
NTSTATUS ParseReportDescriptor(std::span<const std::uint8_t> descriptor, std::unique_ptr<PreparsedData>& out);

// The preparsed data behind a handle, or null when it is not ours (checked by magic).
const PreparsedData* FromHandle(PHIDP_PREPARSED_DATA handle);
PHIDP_PREPARSED_DATA ToHandle(PreparsedData* data);

}  // namespace hidparse
