// Values in a report: HidP_Get/SetUsageValue, HidP_Get/SetScaledUsageValue and
// HidP_Get/SetUsageValueArray.
#include <algorithm>

#include "platform/hid/hidp_report.h"

namespace {

using hidparse::PreparsedData;
using hidparse::Record;
using namespace hidreport;

struct ValueField {
    std::span<std::uint8_t> report;
    const Record* record = nullptr;
    std::uint32_t field = 0;
};

// The common part of every value function: argument checks, then the field that carries
// the usage in the selected report.
NTSTATUS FindValue(HIDP_REPORT_TYPE type, USAGE page, USHORT link, USAGE usage, const void* out,
                   PHIDP_PREPARSED_DATA preparsed, PCHAR report, ULONG reportLength, ValueField& found) {
    const PreparsedData* data = nullptr;
    NTSTATUS status = CheckPreparsed(preparsed, type, data);
    if (status != HIDP_STATUS_SUCCESS) return status;
    if (out == nullptr) return HIDP_STATUS_INTERNAL_ERROR;
    status = CheckReport(*data, type, report, reportLength);
    if (status != HIDP_STATUS_SUCCESS) return status;
    std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(report), reportLength);
    UsageMatch match;
    status = FindUsage(*data, type, Kind::Value, page, link, usage, SelectedReportId(bytes), match);
    if (status != HIDP_STATUS_SUCCESS) return status;
    if (!Fits(*match.record, bytes.size())) return HIDP_STATUS_INVALID_REPORT_LENGTH;
    found = {bytes, match.record, match.offset};
    return HIDP_STATUS_SUCCESS;
}

// A single value wider than 32 bits does not fit ULONG/LONG; only the value-array
// functions move such fields.
NTSTATUS FindScalar(HIDP_REPORT_TYPE type, USAGE page, USHORT link, USAGE usage, const void* out,
                    PHIDP_PREPARSED_DATA preparsed, PCHAR report, ULONG reportLength, ValueField& found) {
    NTSTATUS status = FindValue(type, page, link, usage, out, preparsed, report, reportLength, found);
    if (status == HIDP_STATUS_SUCCESS && found.record->bitSize > 32) return HIDP_STATUS_NOT_IMPLEMENTED;
    return status;
}

std::int64_t SignExtend(std::uint32_t raw, unsigned bits) {
    if (bits == 0) return 0;
    if (bits >= 32) return static_cast<std::int32_t>(raw);
    std::int64_t value = raw;
    if ((raw >> (bits - 1)) & 1u) value -= std::int64_t{1} << bits;
    return value;
}

bool BadRanges(const Record& record) {
    return record.logicalMin > record.logicalMax || record.physicalMin > record.physicalMax;
}

bool NoPhysicalRange(const Record& record) { return record.physicalMin == 0 && record.physicalMax == 0; }

// A value outside the logical range that the field can hold, written for "no value" by
// a control with a Null State (USB HID class definition, section 6.2.2.5): 0 when the
// range excludes it, else just above or just below the range.
bool NullValue(const Record& record, std::uint32_t& raw) {
    unsigned bits = record.bitSize;
    if (bits == 0 || bits > 32) return false;
    bool isSigned = record.logicalMin < 0;
    std::int64_t lowest = isSigned ? -(std::int64_t{1} << (bits - 1)) : 0;
    std::int64_t highest = isSigned ? (std::int64_t{1} << (bits - 1)) - 1 : (std::int64_t{1} << bits) - 1;
    const std::int64_t candidates[] = {0, std::int64_t{record.logicalMax} + 1, std::int64_t{record.logicalMin} - 1};
    for (std::int64_t candidate : candidates) {
        bool inRange = candidate >= record.logicalMin && candidate <= record.logicalMax;
        if (!inRange && candidate >= lowest && candidate <= highest) {
            raw = static_cast<std::uint32_t>(candidate);
            return true;
        }
    }
    return false;
}

NTSTATUS OutOfRange(const ValueField& found) {
    std::uint32_t raw = 0;
    if (!found.record->hasNull || !NullValue(*found.record, raw)) return HIDP_STATUS_VALUE_OUT_OF_RANGE;
    WriteField(found.report, *found.record, found.field, raw);
    return HIDP_STATUS_NULL;
}

// The logical value for a physical one, as Windows computes it: 32-bit arithmetic that
// wraps, half-ranges L and P, C division. Windows writes what this gives even when it
// passes the logical range (Logical 0..255, Physical 0..1000: 1000 gives 256, which an
// 8-bit field would store as 0); we keep the result inside the logical range.
bool PhysicalToLogical(const Record& record, LONG value, std::int64_t& logical) {
    auto wrap = [](std::uint32_t v) { return static_cast<std::int32_t>(v); };
    auto u = [](std::int64_t v) { return static_cast<std::uint32_t>(v); };
    std::int32_t halfLogical = wrap(u(record.logicalMax) - u(record.logicalMin) + 1u) / 2;
    std::int32_t halfPhysical = wrap(u(record.physicalMax) - u(record.physicalMin) + 1u) / 2;
    if (halfPhysical == 0) return false;
    std::int32_t product = wrap(u(halfLogical) * (u(value) - u(record.physicalMin)));
    std::int64_t quotient = std::int64_t{product} / halfPhysical;
    std::int64_t raw = wrap(u(record.logicalMin) + u(quotient));
    logical = std::clamp<std::int64_t>(raw, record.logicalMin, record.logicalMax);
    return true;
}

// Array functions: a value array (one usage over ReportCount > 1 fields) whose BitSize is
// a whole number of bytes, moved byte for byte.
NTSTATUS FindValueArray(HIDP_REPORT_TYPE type, USAGE page, USHORT link, USAGE usage, PCHAR buffer, USHORT bufferLength,
                        PHIDP_PREPARSED_DATA preparsed, PCHAR report, ULONG reportLength, ValueField& found,
                        std::uint64_t& bytes) {
    NTSTATUS status = FindValue(type, page, link, usage, buffer, preparsed, report, reportLength, found);
    if (status != HIDP_STATUS_SUCCESS) return status;
    const Record& record = *found.record;
    if (record.isRange || record.reportCount <= 1) return HIDP_STATUS_NOT_VALUE_ARRAY;
    if (record.bitSize % 8 != 0) return HIDP_STATUS_NOT_IMPLEMENTED;
    bytes = std::uint64_t{record.bitSize} / 8u * record.reportCount;
    if (bufferLength < bytes) return HIDP_STATUS_BUFFER_TOO_SMALL;
    return HIDP_STATUS_SUCCESS;
}

}  // namespace

NTSTATUS HidP_GetUsageValue(HIDP_REPORT_TYPE reportType, USAGE usagePage, USHORT linkCollection, USAGE usage,
                            PULONG usageValue, PHIDP_PREPARSED_DATA preparsedData, PCHAR report, ULONG reportLength) {
    ValueField found;
    NTSTATUS status =
        FindScalar(reportType, usagePage, linkCollection, usage, usageValue, preparsedData, report, reportLength, found);
    if (status != HIDP_STATUS_SUCCESS) return status;
    // A value array answers its first element.
    *usageValue = ReadBits(found.report, FieldBit(*found.record, found.field), found.record->bitSize);
    return HIDP_STATUS_SUCCESS;
}

NTSTATUS HidP_SetUsageValue(HIDP_REPORT_TYPE reportType, USAGE usagePage, USHORT linkCollection, USAGE usage,
                            ULONG usageValue, PHIDP_PREPARSED_DATA preparsedData, PCHAR report, ULONG reportLength) {
    ValueField found;
    NTSTATUS status =
        FindScalar(reportType, usagePage, linkCollection, usage, report, preparsedData, report, reportLength, found);
    if (status != HIDP_STATUS_SUCCESS) return status;
    // The low BitSize bits are stored, so a sign-extended negative value fits its field.
    WriteField(found.report, *found.record, found.field, usageValue);
    return HIDP_STATUS_SUCCESS;
}

NTSTATUS HidP_GetScaledUsageValue(HIDP_REPORT_TYPE reportType, USAGE usagePage, USHORT linkCollection, USAGE usage,
                                  PLONG usageValue, PHIDP_PREPARSED_DATA preparsedData, PCHAR report,
                                  ULONG reportLength) {
    ValueField found;
    NTSTATUS status =
        FindScalar(reportType, usagePage, linkCollection, usage, usageValue, preparsedData, report, reportLength, found);
    if (status != HIDP_STATUS_SUCCESS) return status;
    const Record& record = *found.record;
    *usageValue = 0;
    if (BadRanges(record)) return HIDP_STATUS_BAD_LOG_PHY_VALUES;
    std::uint32_t raw = ReadBits(found.report, FieldBit(record, found.field), record.bitSize);
    std::int64_t logical = record.logicalMin < 0 ? SignExtend(raw, record.bitSize) : std::int64_t{raw};
    if (logical < record.logicalMin || logical > record.logicalMax)
        return record.hasNull ? HIDP_STATUS_NULL : HIDP_STATUS_VALUE_OUT_OF_RANGE;
    if (NoPhysicalRange(record)) {
        *usageValue = static_cast<LONG>(logical);
        return HIDP_STATUS_SUCCESS;
    }
    // Both factors are non-negative and below 2^32, so the product fits 64 unsigned bits.
    auto fromMin = static_cast<std::uint64_t>(logical - record.logicalMin);
    auto physicalSpan = static_cast<std::uint64_t>(std::int64_t{record.physicalMax} - record.physicalMin);
    auto logicalSpan = static_cast<std::uint64_t>(std::int64_t{record.logicalMax} - record.logicalMin);
    std::uint64_t scaled = logicalSpan == 0 ? 0 : fromMin * physicalSpan / logicalSpan;
    *usageValue = static_cast<LONG>(record.physicalMin + static_cast<std::int64_t>(scaled));
    return HIDP_STATUS_SUCCESS;
}

NTSTATUS HidP_SetScaledUsageValue(HIDP_REPORT_TYPE reportType, USAGE usagePage, USHORT linkCollection, USAGE usage,
                                  LONG usageValue, PHIDP_PREPARSED_DATA preparsedData, PCHAR report,
                                  ULONG reportLength) {
    ValueField found;
    NTSTATUS status =
        FindScalar(reportType, usagePage, linkCollection, usage, report, preparsedData, report, reportLength, found);
    if (status != HIDP_STATUS_SUCCESS) return status;
    const Record& record = *found.record;
    if (BadRanges(record)) return HIDP_STATUS_BAD_LOG_PHY_VALUES;
    std::int64_t logical = usageValue;
    if (NoPhysicalRange(record)) {
        if (logical < record.logicalMin || logical > record.logicalMax) return OutOfRange(found);
    } else {
        if (usageValue < record.physicalMin || usageValue > record.physicalMax) return OutOfRange(found);
        if (!PhysicalToLogical(record, usageValue, logical)) return HIDP_STATUS_BAD_LOG_PHY_VALUES;
    }
    WriteField(found.report, record, found.field, static_cast<std::uint32_t>(logical));
    return HIDP_STATUS_SUCCESS;
}

NTSTATUS HidP_GetUsageValueArray(HIDP_REPORT_TYPE reportType, USAGE usagePage, USHORT linkCollection, USAGE usage,
                                 PCHAR usageValue, USHORT usageValueByteLength, PHIDP_PREPARSED_DATA preparsedData,
                                 PCHAR report, ULONG reportLength) {
    ValueField found;
    std::uint64_t bytes = 0;
    NTSTATUS status = FindValueArray(reportType, usagePage, linkCollection, usage, usageValue, usageValueByteLength,
                                     preparsedData, report, reportLength, found, bytes);
    if (status != HIDP_STATUS_SUCCESS) return status;
    std::uint64_t start = found.record->startBit;
    for (std::uint64_t i = 0; i < bytes; ++i)
        usageValue[i] = static_cast<char>(ReadBits(found.report, start + i * 8u, 8));
    return HIDP_STATUS_SUCCESS;
}

NTSTATUS HidP_SetUsageValueArray(HIDP_REPORT_TYPE reportType, USAGE usagePage, USHORT linkCollection, USAGE usage,
                                 PCHAR usageValue, USHORT usageValueByteLength, PHIDP_PREPARSED_DATA preparsedData,
                                 PCHAR report, ULONG reportLength) {
    ValueField found;
    std::uint64_t bytes = 0;
    NTSTATUS status = FindValueArray(reportType, usagePage, linkCollection, usage, usageValue, usageValueByteLength,
                                     preparsedData, report, reportLength, found, bytes);
    if (status != HIDP_STATUS_SUCCESS) return status;
    std::uint64_t start = found.record->startBit;
    for (std::uint64_t i = 0; i < bytes; ++i)
        WriteBits(found.report, start + i * 8u, 8, static_cast<std::uint8_t>(usageValue[i]));
    return HIDP_STATUS_SUCCESS;
}
