#include "platform/hid/hidp_report.h"

#include <algorithm>

namespace hidreport {

using hidparse::PreparsedData;
using hidparse::Record;

USHORT ReportByteLength(const PreparsedData& data, HIDP_REPORT_TYPE type) {
    switch (type) {
    case HidP_Input: return data.caps.InputReportByteLength;
    case HidP_Output: return data.caps.OutputReportByteLength;
    case HidP_Feature: return data.caps.FeatureReportByteLength;
    }
    return 0;
}

NTSTATUS CheckPreparsed(PHIDP_PREPARSED_DATA handle, HIDP_REPORT_TYPE type, const PreparsedData*& out) {
    out = hidparse::FromHandle(handle);
    if (out == nullptr) return HIDP_STATUS_INVALID_PREPARSED_DATA;
    if (type != HidP_Input && type != HidP_Output && type != HidP_Feature) return HIDP_STATUS_INVALID_REPORT_TYPE;
    return HIDP_STATUS_SUCCESS;
}

NTSTATUS CheckReport(const PreparsedData& data, HIDP_REPORT_TYPE type, const void* report, ULONG length) {
    if (report == nullptr) return HIDP_STATUS_INTERNAL_ERROR;
    if (length != ReportByteLength(data, type)) return HIDP_STATUS_INVALID_REPORT_LENGTH;
    return HIDP_STATUS_SUCCESS;
}

UCHAR SelectedReportId(std::span<const std::uint8_t> report) { return report.empty() ? UCHAR{0} : report[0]; }

std::uint32_t AddressedFields(const Record& record) {
    if (record.usageMax < record.usageMin || record.dataIndexMax < record.dataIndexMin) return 0;
    std::uint32_t usages = std::uint32_t{record.usageMax} - record.usageMin + 1u;
    std::uint32_t indices = std::uint32_t{record.dataIndexMax} - record.dataIndexMin + 1u;
    if (!record.isRange) usages = 1;
    return std::min({std::uint32_t{record.reportCount}, usages, indices});
}

bool Fits(const Record& record, std::size_t length) {
    std::uint64_t end = std::uint64_t{record.startBit} + std::uint64_t{record.bitSize} * record.reportCount;
    return end <= std::uint64_t{length} * 8u;
}

std::uint32_t ReadBits(std::span<const std::uint8_t> report, std::uint64_t bit, unsigned count) {
    std::uint64_t value = 0;
    unsigned done = 0;
    while (done < count && done < 32u) {
        std::uint64_t position = bit + done;
        std::uint64_t byte = position / 8u;
        if (byte >= report.size()) break;
        auto shift = static_cast<unsigned>(position % 8u);
        unsigned chunk = std::min(8u - shift, count - done);
        unsigned bits = (static_cast<unsigned>(report[byte]) >> shift) & ((1u << chunk) - 1u);
        value |= std::uint64_t{bits} << done;
        done += chunk;
    }
    return static_cast<std::uint32_t>(value);
}

void WriteBits(std::span<std::uint8_t> report, std::uint64_t bit, unsigned count, std::uint32_t value) {
    unsigned done = 0;
    while (done < count && done < 32u) {
        std::uint64_t position = bit + done;
        std::uint64_t byte = position / 8u;
        if (byte >= report.size()) return;
        auto shift = static_cast<unsigned>(position % 8u);
        unsigned chunk = std::min(8u - shift, count - done);
        unsigned low = (1u << chunk) - 1u;
        unsigned mask = low << shift;
        unsigned bits = (static_cast<unsigned>(value >> done) & low) << shift;
        report[byte] = static_cast<std::uint8_t>((report[byte] & ~mask) | bits);
        done += chunk;
    }
}

std::uint64_t FieldBit(const Record& record, std::uint32_t index) {
    return std::uint64_t{record.startBit} + std::uint64_t{index} * record.bitSize;
}

bool ReadField(std::span<const std::uint8_t> report, const Record& record, std::uint32_t index, std::uint32_t& value) {
    std::uint64_t bit = FieldBit(record, index);
    unsigned size = record.bitSize;
    value = ReadBits(report, bit, std::min(size, 32u));
    for (unsigned done = 32; done < size; done += 32)
        if (ReadBits(report, bit + done, std::min(size - done, 32u)) != 0) return false;
    return true;
}

void WriteField(std::span<std::uint8_t> report, const Record& record, std::uint32_t index, std::uint32_t value) {
    std::uint64_t bit = FieldBit(record, index);
    unsigned size = record.bitSize;
    WriteBits(report, bit, std::min(size, 32u), value);
    for (unsigned done = 32; done < size; done += 32) WriteBits(report, bit + done, std::min(size - done, 32u), 0);
}

NTSTATUS FindUsage(const PreparsedData& data, HIDP_REPORT_TYPE type, Kind kind, USAGE page, USHORT link, USAGE usage,
                   UCHAR reportId, UsageMatch& match) {
    bool elsewhere = false;
    for (const Record& record : data.records[type]) {
        if (record.isButton != (kind == Kind::Button) || record.usagePage != page) continue;
        if (link != 0 && record.linkCollection != link) continue;
        if (usage < record.usageMin || usage > record.usageMax) continue;
        std::uint32_t offset = std::uint32_t{usage} - record.usageMin;
        if (!record.isArray && offset >= AddressedFields(record)) continue;
        if (reportId != 0 && record.reportId != reportId) {
            elsewhere = true;
            continue;
        }
        match = {&record, offset};
        return HIDP_STATUS_SUCCESS;
    }
    return elsewhere ? HIDP_STATUS_INCOMPATIBLE_REPORT_ID : HIDP_STATUS_USAGE_NOT_FOUND;
}

const Record* FindDataIndex(const PreparsedData& data, HIDP_REPORT_TYPE type, USHORT dataIndex) {
    for (const Record& record : data.records[type])
        if (dataIndex >= record.dataIndexMin && dataIndex <= record.dataIndexMax) return &record;
    return nullptr;
}

bool ArrayOffset(const Record& record, std::uint32_t slotValue, std::uint32_t& offset) {
    if (record.arrayPosition == 0 || slotValue < record.arrayPosition || record.usageMax < record.usageMin) return false;
    std::uint32_t candidate = slotValue - record.arrayPosition;
    if (candidate > std::uint32_t{record.usageMax} - record.usageMin) return false;
    offset = candidate;
    return true;
}

namespace {

// The slot value that stands for usage offset `offset` of an Array record: its 1-based
// position in the item's usage list, whatever the item's Logical Minimum.
bool ArrayPosition(const Record& record, std::uint32_t offset, std::uint32_t& position) {
    if (record.arrayPosition == 0) return false;
    position = record.arrayPosition + offset;
    return record.bitSize >= 32 || (position >> record.bitSize) == 0;
}

NTSTATUS InsertIntoArray(std::span<std::uint8_t> report, const Record& record, std::uint32_t position) {
    std::uint32_t freeSlot = record.reportCount;
    for (std::uint32_t slot = 0; slot < record.reportCount; ++slot) {
        std::uint32_t value = 0;
        bool narrow = ReadField(report, record, slot, value);
        if (narrow && value == position) return HIDP_STATUS_SUCCESS;  // already on: no second copy
        if (narrow && value == 0 && freeSlot == record.reportCount) freeSlot = slot;
    }
    if (freeSlot == record.reportCount) return HIDP_STATUS_BUFFER_TOO_SMALL;
    WriteField(report, record, freeSlot, position);
    return HIDP_STATUS_SUCCESS;
}

// Removes the first slot holding `position`; the slots after it move down one place and
// the last slot becomes empty.
NTSTATUS RemoveFromArray(std::span<std::uint8_t> report, const Record& record, std::uint32_t position) {
    for (std::uint32_t slot = 0; slot < record.reportCount; ++slot) {
        std::uint32_t value = 0;
        if (!ReadField(report, record, slot, value) || value != position) continue;
        for (std::uint32_t next = slot + 1; next < record.reportCount; ++next) {
            std::uint32_t moved = 0;
            ReadField(report, record, next, moved);
            WriteField(report, record, next - 1, moved);
        }
        WriteField(report, record, record.reportCount - 1u, 0);
        return HIDP_STATUS_SUCCESS;
    }
    return HIDP_STATUS_BUTTON_NOT_PRESSED;
}

}  // namespace

NTSTATUS SetButton(std::span<std::uint8_t> report, const Record& record, std::uint32_t offset) {
    if (!Fits(record, report.size())) return HIDP_STATUS_INVALID_REPORT_LENGTH;
    if (!record.isArray) {
        WriteField(report, record, offset, 1);
        return HIDP_STATUS_SUCCESS;
    }
    std::uint32_t position = 0;
    if (!ArrayPosition(record, offset, position)) return HIDP_STATUS_VALUE_OUT_OF_RANGE;
    return InsertIntoArray(report, record, position);
}

NTSTATUS ClearButton(std::span<std::uint8_t> report, const Record& record, std::uint32_t offset) {
    if (!Fits(record, report.size())) return HIDP_STATUS_INVALID_REPORT_LENGTH;
    if (!record.isArray) {
        std::uint32_t value = 0;
        if (ReadField(report, record, offset, value) && value == 0) return HIDP_STATUS_BUTTON_NOT_PRESSED;
        WriteField(report, record, offset, 0);
        return HIDP_STATUS_SUCCESS;
    }
    std::uint32_t position = 0;
    if (!ArrayPosition(record, offset, position)) return HIDP_STATUS_BUTTON_NOT_PRESSED;
    return RemoveFromArray(report, record, position);
}

}  // namespace hidreport
