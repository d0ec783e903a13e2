// Internal helpers of the HidP report functions (hidp_usages.cpp, hidp_values.cpp,
// hidp_data.cpp): argument checks shared by every entry point, bounds-checked bit access
// to a report buffer, usage lookup with the report-ID rule, and the slots of an Array item.
#pragma once

#include <cstdint>
#include <span>

#include "platform/hid/preparsed.h"

namespace hidreport {

// Report byte length of a type (HIDP_CAPS.*ReportByteLength).
USHORT ReportByteLength(const hidparse::PreparsedData& data, HIDP_REPORT_TYPE type);

// The checks every report function starts with, in the order Windows applies them:
// preparsed data, report type, then the report buffer (null -> HIDP_STATUS_INTERNAL_ERROR, length
// other than the type's report byte length -> HIDP_STATUS_INVALID_REPORT_LENGTH).
NTSTATUS CheckPreparsed(PHIDP_PREPARSED_DATA handle, HIDP_REPORT_TYPE type, const hidparse::PreparsedData*& out);
NTSTATUS CheckReport(const hidparse::PreparsedData& data, HIDP_REPORT_TYPE type, const void* report, ULONG length);

// Report byte 0 selects the report; 0 matches every report ID. An empty report has none.
UCHAR SelectedReportId(std::span<const std::uint8_t> report);

// Fields the record's usages address: a usage (or data index) beyond the item's field
// count has no field.
std::uint32_t AddressedFields(const hidparse::Record& record);

// True when every bit of the record lies inside a report of `length` bytes.
bool Fits(const hidparse::Record& record, std::size_t length);

// Bit access, least significant bit first (USB HID class definition, section 5.8).
// `count` <= 32. Bits outside the span read as 0 and are never written.
std::uint32_t ReadBits(std::span<const std::uint8_t> report, std::uint64_t bit, unsigned count);
void WriteBits(std::span<std::uint8_t> report, std::uint64_t bit, unsigned count, std::uint32_t value);

// Field `index` of a record. Fields wider than 32 bits: ReadField answers false when a
// bit above bit 31 is set; WriteField clears the bits above bit 31.
std::uint64_t FieldBit(const hidparse::Record& record, std::uint32_t index);
bool ReadField(std::span<const std::uint8_t> report, const hidparse::Record& record, std::uint32_t index,
               std::uint32_t& value);
void WriteField(std::span<std::uint8_t> report, const hidparse::Record& record, std::uint32_t index,
                std::uint32_t value);

enum class Kind { Button, Value };

struct UsageMatch {
    const hidparse::Record* record = nullptr;
    std::uint32_t offset = 0;  // usage - usageMin: the field of a Variable item, the list offset of an Array item
};

// The first record (in listing order) of `kind` that carries `usage` on `page` within link
// collection `link` (0: any), in the report selected by `reportId` (0: any). Answers
// HIDP_STATUS_USAGE_NOT_FOUND, or HIDP_STATUS_INCOMPATIBLE_REPORT_ID when the usage exists
// only in other reports.
NTSTATUS FindUsage(const hidparse::PreparsedData& data, HIDP_REPORT_TYPE type, Kind kind, USAGE page, USHORT link,
                   USAGE usage, UCHAR reportId, UsageMatch& match);

// The record whose data-index range holds `dataIndex`, or null.
const hidparse::Record* FindDataIndex(const hidparse::PreparsedData& data, HIDP_REPORT_TYPE type, USHORT dataIndex);

// Button fields. A Variable button is on when its field is nonzero. An Array item's slots
// hold 1-based positions in the item's usage list; 0 is an empty slot.
NTSTATUS SetButton(std::span<std::uint8_t> report, const hidparse::Record& record, std::uint32_t offset);
NTSTATUS ClearButton(std::span<std::uint8_t> report, const hidparse::Record& record, std::uint32_t offset);

// The usage-list offset of an Array slot value within `record`, when the record holds it.
bool ArrayOffset(const hidparse::Record& record, std::uint32_t slotValue, std::uint32_t& offset);

}  // namespace hidreport
