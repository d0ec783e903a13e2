// Reports as data lists and whole reports: HidP_GetData, HidP_SetData,
// HidP_InitializeReportForID and HidP_GetExtendedAttributes.
#include <algorithm>
#include <cstring>

#include "platform/hid/hidp_report.h"

namespace {

using hidparse::PreparsedData;
using hidparse::Record;
using namespace hidreport;

bool ReportExists(const PreparsedData& data, HIDP_REPORT_TYPE type, UCHAR reportId) {
    const auto& records = data.records[type];
    return std::any_of(records.begin(), records.end(), [&](const Record& r) { return r.reportId == reportId; });
}

NTSTATUS CheckListCall(HIDP_REPORT_TYPE type, const void* list, const ULONG* length, PHIDP_PREPARSED_DATA preparsed,
                       PCHAR report, ULONG reportLength, const PreparsedData*& data) {
    NTSTATUS status = CheckPreparsed(preparsed, type, data);
    if (status != HIDP_STATUS_SUCCESS) return status;
    if (length == nullptr || (list == nullptr && *length != 0)) return HIDP_STATUS_INTERNAL_ERROR;
    return CheckReport(*data, type, report, reportLength);
}

// Calls emit(dataIndex, rawValue) for one record: every button that is on (value 1),
// every field of a value range and a single value. Value arrays, and fields of no bits or
// of more than 32, give no entry.
template <class Emit>
void RecordData(std::span<const std::uint8_t> report, const Record& record, Emit&& emit) {
    std::uint32_t indices = std::uint32_t{record.dataIndexMax} - record.dataIndexMin;
    if (record.isButton && record.isArray) {
        for (std::uint32_t slot = 0; slot < record.reportCount; ++slot) {
            std::uint32_t value = 0;
            std::uint32_t offset = 0;
            if (ReadField(report, record, slot, value) && ArrayOffset(record, value, offset) && offset <= indices)
                emit(record.dataIndexMin + offset, 1u);
        }
        return;
    }
    if (!record.isButton && (record.bitSize == 0 || record.bitSize > 32 || (!record.isRange && record.reportCount != 1)))
        return;
    std::uint32_t fields = AddressedFields(record);
    for (std::uint32_t field = 0; field < fields; ++field) {
        std::uint32_t value = 0;
        bool narrow = ReadField(report, record, field, value);
        if (!record.isButton)
            emit(record.dataIndexMin + field, value);
        else if (!narrow || value != 0)
            emit(record.dataIndexMin + field, 1u);
    }
}

// One entry of HidP_SetData.
NTSTATUS ApplyEntry(std::span<std::uint8_t> report, const PreparsedData& data, HIDP_REPORT_TYPE type, UCHAR reportId,
                    const HIDP_DATA& entry) {
    const Record* record = FindDataIndex(data, type, entry.DataIndex);
    if (record == nullptr) return HIDP_STATUS_DATA_INDEX_NOT_FOUND;
    if (reportId != 0 && record->reportId != reportId) return HIDP_STATUS_INCOMPATIBLE_REPORT_ID;
    if (!Fits(*record, report.size())) return HIDP_STATUS_INVALID_REPORT_LENGTH;
    std::uint32_t offset = std::uint32_t{entry.DataIndex} - record->dataIndexMin;
    if (record->isButton) {
        std::uint32_t reach = record->isArray ? std::uint32_t{record->usageMax} - record->usageMin + 1u
                                              : AddressedFields(*record);
        if (offset >= reach) return HIDP_STATUS_DATA_INDEX_NOT_FOUND;
        return entry.On ? SetButton(report, *record, offset) : ClearButton(report, *record, offset);
    }
    if (!record->isRange && record->reportCount > 1) return HIDP_STATUS_IS_VALUE_ARRAY;
    if (record->bitSize > 32) return HIDP_STATUS_NOT_IMPLEMENTED;
    if (offset >= AddressedFields(*record)) return HIDP_STATUS_DATA_INDEX_NOT_FOUND;
    WriteField(report, *record, offset, entry.RawValue);
    return HIDP_STATUS_SUCCESS;
}

}  // namespace

NTSTATUS HidP_GetData(HIDP_REPORT_TYPE reportType, PHIDP_DATA dataList, PULONG dataLength,
                      PHIDP_PREPARSED_DATA preparsedData, PCHAR report, ULONG reportLength) {
    const PreparsedData* data = nullptr;
    NTSTATUS status = CheckListCall(reportType, dataList, dataLength, preparsedData, report, reportLength, data);
    if (status != HIDP_STATUS_SUCCESS) return status;
    std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(report), reportLength);
    UCHAR id = SelectedReportId(bytes);
    if (id != 0 && !ReportExists(*data, reportType, id)) return HIDP_STATUS_REPORT_DOES_NOT_EXIST;
    for (const Record& record : data->records[reportType])
        if ((id == 0 || record.reportId == id) && !Fits(record, bytes.size())) return HIDP_STATUS_INVALID_REPORT_LENGTH;
    ULONG capacity = *dataLength;
    ULONG count = 0;
    auto emit = [&](std::uint32_t dataIndex, std::uint32_t value) {
        if (count < capacity) {
            dataList[count] = HIDP_DATA{};
            dataList[count].DataIndex = static_cast<USHORT>(dataIndex);
            dataList[count].RawValue = value;
        }
        ++count;
    };
    for (const Record& record : data->records[reportType])
        if (id == 0 || record.reportId == id) RecordData(bytes, record, emit);
    *dataLength = count;
    return count > capacity ? HIDP_STATUS_BUFFER_TOO_SMALL : HIDP_STATUS_SUCCESS;
}

NTSTATUS HidP_SetData(HIDP_REPORT_TYPE reportType, PHIDP_DATA dataList, PULONG dataLength,
                      PHIDP_PREPARSED_DATA preparsedData, PCHAR report, ULONG reportLength) {
    const PreparsedData* data = nullptr;
    NTSTATUS status = CheckListCall(reportType, dataList, dataLength, preparsedData, report, reportLength, data);
    if (status != HIDP_STATUS_SUCCESS) return status;
    std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(report), reportLength);
    UCHAR id = SelectedReportId(bytes);
    // Entries apply in order; at the first that fails, *dataLength becomes its index.
    for (ULONG i = 0; i < *dataLength; ++i) {
        status = ApplyEntry(bytes, *data, reportType, id, dataList[i]);
        if (status != HIDP_STATUS_SUCCESS) {
            *dataLength = i;
            return status;
        }
    }
    return HIDP_STATUS_SUCCESS;
}

NTSTATUS HidP_InitializeReportForID(HIDP_REPORT_TYPE reportType, UCHAR reportId, PHIDP_PREPARSED_DATA preparsedData,
                                    PCHAR report, ULONG reportLength) {
    const PreparsedData* data = nullptr;
    NTSTATUS status = CheckPreparsed(preparsedData, reportType, data);
    if (status != HIDP_STATUS_SUCCESS) return status;
    status = CheckReport(*data, reportType, report, reportLength);
    if (status != HIDP_STATUS_SUCCESS) return status;
    // A report made only of padding has no record, and so does not exist.
    if (!ReportExists(*data, reportType, reportId)) return HIDP_STATUS_REPORT_DOES_NOT_EXIST;
    std::memset(report, 0, reportLength);
    if (reportLength != 0) report[0] = static_cast<char>(reportId);
    return HIDP_STATUS_SUCCESS;
}

NTSTATUS HidP_GetExtendedAttributes(HIDP_REPORT_TYPE reportType, USHORT dataIndex, PHIDP_PREPARSED_DATA preparsedData,
                                    PHIDP_EXTENDED_ATTRIBUTES attributes, PULONG lengthAttributes) {
    const PreparsedData* data = nullptr;
    NTSTATUS status = CheckPreparsed(preparsedData, reportType, data);
    if (status != HIDP_STATUS_SUCCESS) return status;
    if (attributes == nullptr || lengthAttributes == nullptr) return HIDP_STATUS_INTERNAL_ERROR;
    if (FindDataIndex(*data, reportType, dataIndex) == nullptr) return HIDP_STATUS_DATA_INDEX_NOT_FOUND;
    if (*lengthAttributes < sizeof(HIDP_EXTENDED_ATTRIBUTES)) return HIDP_STATUS_BUFFER_TOO_SMALL;
    // The parser keeps no unknown global items, so the token list that would follow the
    // fixed part is empty; *lengthAttributes keeps the buffer's size.
    std::memset(static_cast<void*>(attributes), 0, sizeof(HIDP_EXTENDED_ATTRIBUTES));
    attributes->NumGlobalUnknowns = 0;
    attributes->GlobalUnknowns = reinterpret_cast<PHIDP_UNKNOWN_TOKEN>(attributes->Data);
    return HIDP_STATUS_SUCCESS;
}
