// Buttons in a report: HidP_GetUsages(Ex), HidP_SetUsages, HidP_UnsetUsages and
// HidP_UsageListDifference.
#include <vector>

#include "platform/hid/hidp_report.h"

namespace {

using hidparse::PreparsedData;
using hidparse::Record;
using namespace hidreport;

std::span<std::uint8_t> Bytes(PCHAR report, ULONG length) {
    return {reinterpret_cast<std::uint8_t*>(report), length};
}

// Calls emit(page, usage) for every button that is on, in listing order; for an Array
// item, per record in slot order. `page` null: every page.
template <class Emit>
NTSTATUS ForEachPressed(const PreparsedData& data, HIDP_REPORT_TYPE type, const USAGE* page, USHORT link,
                        std::span<const std::uint8_t> report, Emit&& emit) {
    UCHAR id = SelectedReportId(report);
    bool candidate = false;
    bool elsewhere = false;
    for (const Record& record : data.records[type]) {
        if (!record.isButton || (page != nullptr && record.usagePage != *page)) continue;
        if (link != 0 && record.linkCollection != link) continue;
        if (id != 0 && record.reportId != id) {
            elsewhere = true;
            continue;
        }
        if (!Fits(record, report.size())) return HIDP_STATUS_INVALID_REPORT_LENGTH;
        candidate = true;
        if (record.isArray) {
            for (std::uint32_t slot = 0; slot < record.reportCount; ++slot) {
                std::uint32_t value = 0;
                std::uint32_t offset = 0;
                if (ReadField(report, record, slot, value) && ArrayOffset(record, value, offset))
                    emit(record.usagePage, static_cast<USAGE>(record.usageMin + offset));
            }
        } else {
            std::uint32_t fields = AddressedFields(record);
            for (std::uint32_t field = 0; field < fields; ++field) {
                std::uint32_t value = 0;
                if (!ReadField(report, record, field, value) || value != 0)
                    emit(record.usagePage, static_cast<USAGE>(record.usageMin + field));
            }
        }
    }
    if (!candidate) return elsewhere ? HIDP_STATUS_INCOMPATIBLE_REPORT_ID : HIDP_STATUS_USAGE_NOT_FOUND;
    return HIDP_STATUS_SUCCESS;
}

template <class Entry, class Make>
NTSTATUS GetPressed(HIDP_REPORT_TYPE type, const USAGE* page, USHORT link, Entry* list, ULONG* length,
                    PHIDP_PREPARSED_DATA preparsed, PCHAR report, ULONG reportLength, Make&& make) {
    const PreparsedData* data = nullptr;
    NTSTATUS status = CheckPreparsed(preparsed, type, data);
    if (status != HIDP_STATUS_SUCCESS) return status;
    if (length == nullptr || (list == nullptr && *length != 0)) return HIDP_STATUS_INTERNAL_ERROR;
    status = CheckReport(*data, type, report, reportLength);
    if (status != HIDP_STATUS_SUCCESS) return status;
    ULONG capacity = *length;
    ULONG count = 0;
    status = ForEachPressed(*data, type, page, link, Bytes(report, reportLength), [&](USAGE usagePage, USAGE usage) {
        if (count < capacity) list[count] = make(usagePage, usage);
        ++count;
    });
    if (status != HIDP_STATUS_SUCCESS) {
        *length = 0;
        return status;
    }
    *length = count;
    return count > capacity ? HIDP_STATUS_BUFFER_TOO_SMALL : HIDP_STATUS_SUCCESS;
}

// Sets or clears each listed usage in order; at the first one that fails, *usageLength
// becomes its index.
template <class Apply>
NTSTATUS ChangeButtons(HIDP_REPORT_TYPE type, USAGE page, USHORT link, const USAGE* list, PULONG length,
                       PHIDP_PREPARSED_DATA preparsed, PCHAR report, ULONG reportLength, Apply&& apply) {
    const PreparsedData* data = nullptr;
    NTSTATUS status = CheckPreparsed(preparsed, type, data);
    if (status != HIDP_STATUS_SUCCESS) return status;
    if (length == nullptr || (list == nullptr && *length != 0)) return HIDP_STATUS_INTERNAL_ERROR;
    status = CheckReport(*data, type, report, reportLength);
    if (status != HIDP_STATUS_SUCCESS) return status;
    std::span<std::uint8_t> bytes = Bytes(report, reportLength);
    UCHAR id = SelectedReportId(bytes);
    for (ULONG i = 0; i < *length; ++i) {
        UsageMatch match;
        status = FindUsage(*data, type, Kind::Button, page, link, list[i], id, match);
        if (status == HIDP_STATUS_SUCCESS) status = apply(bytes, *match.record, match.offset);
        if (status != HIDP_STATUS_SUCCESS) {
            *length = i;
            return status;
        }
    }
    return HIDP_STATUS_SUCCESS;
}

// Entries of `list` before its first 0, at most `length`.
std::span<const USAGE> UsedPart(const USAGE* list, ULONG length) {
    ULONG used = 0;
    while (used < length && list[used] != 0) ++used;
    return {list, used};
}

// The entries of `from` that `other` lacks, in order.
std::vector<USAGE> Missing(std::span<const USAGE> from, std::span<const USAGE> other) {
    std::vector<bool> present(0x10000, false);
    for (USAGE usage : other) present[usage] = true;
    std::vector<USAGE> missing;
    for (USAGE usage : from)
        if (!present[usage]) missing.push_back(usage);
    return missing;
}

void FillList(PUSAGE list, ULONG length, const std::vector<USAGE>& entries) {
    for (ULONG i = 0; i < length; ++i) list[i] = i < entries.size() ? entries[i] : USAGE{0};
}

}  // namespace

NTSTATUS HidP_GetUsages(HIDP_REPORT_TYPE reportType, USAGE usagePage, USHORT linkCollection, PUSAGE usageList,
                        PULONG usageLength, PHIDP_PREPARSED_DATA preparsedData, PCHAR report, ULONG reportLength) {
    return GetPressed(reportType, &usagePage, linkCollection, usageList, usageLength, preparsedData, report,
                      reportLength, [](USAGE, USAGE usage) { return usage; });
}

NTSTATUS HidP_GetUsagesEx(HIDP_REPORT_TYPE reportType, USHORT linkCollection, PUSAGE_AND_PAGE buttonList,
                          ULONG* usageLength, PHIDP_PREPARSED_DATA preparsedData, PCHAR report, ULONG reportLength) {
    return GetPressed(reportType, nullptr, linkCollection, buttonList, usageLength, preparsedData, report,
                      reportLength, [](USAGE page, USAGE usage) { return USAGE_AND_PAGE{usage, page}; });
}

NTSTATUS HidP_SetUsages(HIDP_REPORT_TYPE reportType, USAGE usagePage, USHORT linkCollection, PUSAGE usageList,
                        PULONG usageLength, PHIDP_PREPARSED_DATA preparsedData, PCHAR report, ULONG reportLength) {
    return ChangeButtons(reportType, usagePage, linkCollection, usageList, usageLength, preparsedData, report,
                         reportLength, SetButton);
}

NTSTATUS HidP_UnsetUsages(HIDP_REPORT_TYPE reportType, USAGE usagePage, USHORT linkCollection, PUSAGE usageList,
                          PULONG usageLength, PHIDP_PREPARSED_DATA preparsedData, PCHAR report, ULONG reportLength) {
    return ChangeButtons(reportType, usagePage, linkCollection, usageList, usageLength, preparsedData, report,
                         reportLength, ClearButton);
}

NTSTATUS HidP_UsageListDifference(PUSAGE previousUsageList, PUSAGE currentUsageList, PUSAGE breakUsageList,
                                  PUSAGE makeUsageList, ULONG usageListLength) {
    if (usageListLength == 0) return HIDP_STATUS_SUCCESS;
    if (previousUsageList == nullptr || currentUsageList == nullptr || breakUsageList == nullptr ||
        makeUsageList == nullptr)
        return HIDP_STATUS_INTERNAL_ERROR;
    std::span<const USAGE> previous = UsedPart(previousUsageList, usageListLength);
    std::span<const USAGE> current = UsedPart(currentUsageList, usageListLength);
    // Both results are complete before either output is written, so an output list may
    // be one of the input lists.
    std::vector<USAGE> breaks = Missing(previous, current);
    std::vector<USAGE> makes = Missing(current, previous);
    FillList(breakUsageList, usageListLength, breaks);
    FillList(makeUsageList, usageListLength, makes);
    return HIDP_STATUS_SUCCESS;
}
