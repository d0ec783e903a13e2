// Capability queries over the preparsed data: HIDP_CAPS, button and value capabilities,
// link collection nodes and the list-length helpers, with the statuses hid.dll answers.
//
// Choices where Windows gives no answer we could check: a null output pointer (caps,
// count) answers HIDP_STATUS_INTERNAL_ERROR instead of being written through; a null
// capability buffer is taken as room for none, so (null, 0) asks for the count;
// HIDP_BUTTON_CAPS.ReportCount is the fields the record covers.
#include <algorithm>
#include <cstddef>

#include "platform/hid/hidpi.h"
#include "platform/hid/preparsed.h"

namespace {

using hidparse::PreparsedData;
using hidparse::Record;

bool IsReportType(HIDP_REPORT_TYPE type) { return type >= HidP_Input && type <= HidP_Feature; }

const std::vector<Record>& RecordsOf(const PreparsedData& data, HIDP_REPORT_TYPE type) {
    return data.records[static_cast<std::size_t>(type)];
}

struct CapsFilter {
    bool buttons = true;
    USAGE usagePage = 0;  // 0 = any
    USHORT linkCollection = 0;
    USAGE usage = 0;

    bool Matches(const Record& r) const {
        if (r.isButton != buttons) return false;
        if (usagePage != 0 && r.usagePage != usagePage) return false;
        if (linkCollection != 0 && r.linkCollection != linkCollection) return false;
        return usage == 0 || (usage >= r.usageMin && usage <= r.usageMax);
    }
};

// Windows fills the Range layout also for a single usage (min == max), which is why
// NotRange.Reserved1 holds the usage and Reserved4 the data index.
template <typename Caps>
void FillCommon(const Record& r, Caps& c) {
    c.UsagePage = r.usagePage;
    c.ReportID = r.reportId;
    c.IsAlias = r.isAlias;
    c.BitField = r.bitField;
    c.LinkCollection = r.linkCollection;
    c.LinkUsage = r.linkUsage;
    c.LinkUsagePage = r.linkUsagePage;
    c.IsRange = r.isRange;
    c.IsStringRange = r.isStringRange;
    c.IsDesignatorRange = r.isDesignatorRange;
    c.IsAbsolute = r.isAbsolute;
    c.Range.UsageMin = r.usageMin;
    c.Range.UsageMax = r.usageMax;
    c.Range.StringMin = r.stringMin;
    c.Range.StringMax = r.stringMax;
    c.Range.DesignatorMin = r.designatorMin;
    c.Range.DesignatorMax = r.designatorMax;
    c.Range.DataIndexMin = r.dataIndexMin;
    c.Range.DataIndexMax = r.dataIndexMax;
}

void ToCaps(const Record& r, HIDP_BUTTON_CAPS& c) {
    c = HIDP_BUTTON_CAPS{};
    FillCommon(r, c);
    c.ReportCount = r.reportCount;
}

void ToCaps(const Record& r, HIDP_VALUE_CAPS& c) {
    c = HIDP_VALUE_CAPS{};
    FillCommon(r, c);
    c.HasNull = r.hasNull;
    c.BitSize = r.bitSize;
    c.ReportCount = r.isRange ? USHORT{1} : r.reportCount;
    c.UnitsExp = r.unitsExp;
    c.Units = r.units;
    c.LogicalMin = r.logicalMin;
    c.LogicalMax = r.logicalMax;
    c.PhysicalMin = r.physicalMin;
    c.PhysicalMax = r.physicalMax;
}

// Copies the matching records that fit and sets *length to how many match.
template <typename Caps>
NTSTATUS GetCaps(HIDP_REPORT_TYPE type, const CapsFilter& filter, Caps* caps, PUSHORT length,
                 PHIDP_PREPARSED_DATA handle) {
    const PreparsedData* data = hidparse::FromHandle(handle);
    if (data == nullptr) return HIDP_STATUS_INVALID_PREPARSED_DATA;
    if (!IsReportType(type)) return HIDP_STATUS_INVALID_REPORT_TYPE;
    if (length == nullptr) return HIDP_STATUS_INTERNAL_ERROR;
    const std::size_t room = caps == nullptr ? 0 : *length;
    std::size_t found = 0;
    for (const Record& r : RecordsOf(*data, type)) {
        if (!filter.Matches(r)) continue;
        if (found < room) ToCaps(r, caps[found]);
        ++found;
    }
    *length = static_cast<USHORT>(found);  // at most kMaxRecordsPerType
    if (found == 0) return HIDP_STATUS_USAGE_NOT_FOUND;
    return found > room ? HIDP_STATUS_BUFFER_TOO_SMALL : HIDP_STATUS_SUCCESS;
}

}  // namespace

NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS capabilities) {
    const PreparsedData* data = hidparse::FromHandle(preparsedData);
    if (data == nullptr) return HIDP_STATUS_INVALID_PREPARSED_DATA;
    if (capabilities == nullptr) return HIDP_STATUS_INTERNAL_ERROR;
    *capabilities = data->caps;
    return HIDP_STATUS_SUCCESS;
}

NTSTATUS HidP_GetButtonCaps(HIDP_REPORT_TYPE reportType, PHIDP_BUTTON_CAPS buttonCaps, PUSHORT buttonCapsLength,
                            PHIDP_PREPARSED_DATA preparsedData) {
    return GetCaps(reportType, CapsFilter{true}, buttonCaps, buttonCapsLength, preparsedData);
}

NTSTATUS HidP_GetValueCaps(HIDP_REPORT_TYPE reportType, PHIDP_VALUE_CAPS valueCaps, PUSHORT valueCapsLength,
                           PHIDP_PREPARSED_DATA preparsedData) {
    return GetCaps(reportType, CapsFilter{false}, valueCaps, valueCapsLength, preparsedData);
}

NTSTATUS HidP_GetSpecificButtonCaps(HIDP_REPORT_TYPE reportType, USAGE usagePage, USHORT linkCollection, USAGE usage,
                                    PHIDP_BUTTON_CAPS buttonCaps, PUSHORT buttonCapsLength,
                                    PHIDP_PREPARSED_DATA preparsedData) {
    const CapsFilter filter{true, usagePage, linkCollection, usage};
    return GetCaps(reportType, filter, buttonCaps, buttonCapsLength, preparsedData);
}

NTSTATUS HidP_GetSpecificValueCaps(HIDP_REPORT_TYPE reportType, USAGE usagePage, USHORT linkCollection, USAGE usage,
                                   PHIDP_VALUE_CAPS valueCaps, PUSHORT valueCapsLength,
                                   PHIDP_PREPARSED_DATA preparsedData) {
    const CapsFilter filter{false, usagePage, linkCollection, usage};
    return GetCaps(reportType, filter, valueCaps, valueCapsLength, preparsedData);
}

NTSTATUS HidP_GetLinkCollectionNodes(PHIDP_LINK_COLLECTION_NODE linkCollectionNodes, PULONG linkCollectionNodesLength,
                                     PHIDP_PREPARSED_DATA preparsedData) {
    const PreparsedData* data = hidparse::FromHandle(preparsedData);
    if (data == nullptr) return HIDP_STATUS_INVALID_PREPARSED_DATA;
    if (linkCollectionNodesLength == nullptr) return HIDP_STATUS_INTERNAL_ERROR;
    const std::size_t room = linkCollectionNodes == nullptr ? 0 : *linkCollectionNodesLength;
    const auto& nodes = data->linkNodes;
    *linkCollectionNodesLength = static_cast<ULONG>(nodes.size());
    if (nodes.size() > room) return HIDP_STATUS_BUFFER_TOO_SMALL;
    std::copy(nodes.begin(), nodes.end(), linkCollectionNodes);
    return HIDP_STATUS_SUCCESS;
}

// Room for every usage the type's buttons can report at once (page 0: all pages).
ULONG HidP_MaxUsageListLength(HIDP_REPORT_TYPE reportType, USAGE usagePage, PHIDP_PREPARSED_DATA preparsedData) {
    const PreparsedData* data = hidparse::FromHandle(preparsedData);
    if (data == nullptr || !IsReportType(reportType)) return 0;
    ULONG total = 0;
    for (const Record& r : RecordsOf(*data, reportType))
        if (r.isButton && (usagePage == 0 || r.usagePage == usagePage)) total += r.reportCount;
    return total;
}

// Room for every HIDP_DATA entry HidP_GetData can give: one per button field or range
// field, one per other value record.
ULONG HidP_MaxDataListLength(HIDP_REPORT_TYPE reportType, PHIDP_PREPARSED_DATA preparsedData) {
    const PreparsedData* data = hidparse::FromHandle(preparsedData);
    if (data == nullptr || !IsReportType(reportType)) return 0;
    ULONG total = 0;
    for (const Record& r : RecordsOf(*data, reportType)) total += (r.isButton || r.isRange) ? r.reportCount : 1u;
    return total;
}
