// Invariants every preparsed data our parser builds must satisfy, checked through the
// capability functions and against the internal records. Shared by the fuzz target and
// the test suite (which replays the fuzz corpus), so both hold the parser to the same
// rules. Header-only; not used by the product code.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/hid/hidpi.h"
#include "platform/hid/preparsed.h"

namespace hidparse::invariants {

inline const HIDP_REPORT_TYPE kReportTypes[3] = {HidP_Input, HidP_Output, HidP_Feature};

struct TypeCounts {
    USHORT reportLength, buttons, values, dataIndices;
};

inline TypeCounts CountsOf(const HIDP_CAPS& c, HIDP_REPORT_TYPE type) {
    switch (type) {
        case HidP_Input:
            return {c.InputReportByteLength, c.NumberInputButtonCaps, c.NumberInputValueCaps, c.NumberInputDataIndices};
        case HidP_Output:
            return {c.OutputReportByteLength, c.NumberOutputButtonCaps, c.NumberOutputValueCaps,
                    c.NumberOutputDataIndices};
        case HidP_Feature: break;
    }
    return {c.FeatureReportByteLength, c.NumberFeatureButtonCaps, c.NumberFeatureValueCaps,
            c.NumberFeatureDataIndices};
}

inline std::string Where(HIDP_REPORT_TYPE type, std::size_t record) {
    return " (report type " + std::to_string(static_cast<int>(type)) + ", record " + std::to_string(record) + ")";
}

// Link nodes: tree shape, child lists that agree with the child counts.
inline std::string CheckLinkNodes(PHIDP_PREPARSED_DATA handle, const HIDP_CAPS& caps) {
    ULONG count = 0;
    if (HidP_GetLinkCollectionNodes(nullptr, &count, handle) != HIDP_STATUS_BUFFER_TOO_SMALL)
        return "GetLinkCollectionNodes with no room did not answer BUFFER_TOO_SMALL";
    if (count != caps.NumberLinkCollectionNodes || count == 0) return "link node count disagrees with caps";
    std::vector<HIDP_LINK_COLLECTION_NODE> nodes(count);
    if (HidP_GetLinkCollectionNodes(nodes.data(), &count, handle) != HIDP_STATUS_SUCCESS || count != nodes.size())
        return "GetLinkCollectionNodes failed with room for all";
    if (nodes[0].Parent != 0 || nodes[0].NextSibling != 0) return "node 0 is not the root";
    if (nodes[0].LinkUsage != caps.Usage || nodes[0].LinkUsagePage != caps.UsagePage)
        return "caps usage differs from node 0";
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (i > 0 && nodes[i].Parent >= i) return "node " + std::to_string(i) + " has a later parent";
        std::size_t children = 0;
        for (USHORT c = nodes[i].FirstChild; c != 0; c = nodes[c].NextSibling) {
            if (c >= nodes.size() || nodes[c].Parent != i || ++children > nodes[i].NumberOfChildren)
                return "child list of node " + std::to_string(i) + " is broken";
        }
        if (children != nodes[i].NumberOfChildren) return "child count of node " + std::to_string(i) + " is wrong";
    }
    return {};
}

// Data indices of a type cover 0..N-1 exactly once.
inline std::string CheckDataIndices(const std::vector<Record>& records, USHORT total) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
    for (const Record& r : records) ranges.emplace_back(r.dataIndexMin, r.dataIndexMax);
    std::sort(ranges.begin(), ranges.end());
    std::uint32_t next = 0;
    for (const auto& [lo, hi] : ranges) {
        if (lo != next || hi < lo) return "data indices are not contiguous at " + std::to_string(next);
        next = hi + 1;
    }
    return next == total ? std::string{} : "data index total disagrees with caps";
}

// Fields of different main items never share bits; every field lies inside its report.
inline std::string CheckLayout(const std::vector<Record>& records, USHORT reportLength, HIDP_REPORT_TYPE type) {
    struct Span {
        UCHAR id;
        std::uint32_t first, end, item;
    };
    std::vector<Span> spans;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const Record& r = records[i];
        const std::uint32_t end = r.startBit + std::uint32_t{r.bitSize} * r.reportCount;
        if (r.startBit < 8 || end > std::uint32_t{reportLength} * 8) return "field outside its report" + Where(type, i);
        spans.push_back({r.reportId, r.startBit, end, r.mainItem});
    }
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) {
        return a.id != b.id ? a.id < b.id : a.first != b.first ? a.first < b.first : a.end < b.end;
    });
    // Sorted by report and first bit: a span overlaps an earlier one exactly when it starts
    // before the furthest end seen so far in its report.
    const Span* furthest = nullptr;
    for (const Span& s : spans) {
        if (s.first == s.end) continue;  // zero-size fields take no bits
        if (furthest != nullptr && furthest->id == s.id && s.first < furthest->end && furthest->item != s.item)
            return "fields of two main items overlap";
        if (furthest == nullptr || furthest->id != s.id || s.end > furthest->end) furthest = &s;
    }
    return {};
}

inline std::string CheckRecord(const PreparsedData& data, HIDP_REPORT_TYPE type, std::size_t i) {
    const Record& r = data.records[static_cast<std::size_t>(type)][i];
    if (r.reportType != type) return "record filed under the wrong type" + Where(type, i);
    if (r.usageMin > r.usageMax || (!r.isRange && r.usageMin != r.usageMax)) return "bad usage range" + Where(type, i);
    if (r.dataIndexMax - r.dataIndexMin != r.usageMax - r.usageMin) return "data indices != usages" + Where(type, i);
    if (r.linkCollection >= data.linkNodes.size()) return "unknown link collection" + Where(type, i);
    const HIDP_LINK_COLLECTION_NODE& node = data.linkNodes[r.linkCollection];
    if (node.LinkUsage != r.linkUsage || node.LinkUsagePage != r.linkUsagePage)
        return "link usage differs from its node" + Where(type, i);
    if (r.isButton != (r.isArray || r.bitSize == 1)) return "button flag wrong" + Where(type, i);
    const auto& ids = data.reportIds[static_cast<std::size_t>(type)];
    if (!std::binary_search(ids.begin(), ids.end(), r.reportId)) return "report ID not listed" + Where(type, i);
    return {};
}

// Get*Caps: status and count paths, and the i-th capability is the i-th record of its kind.
template <typename Caps, typename Get>
std::string CheckCapsList(PHIDP_PREPARSED_DATA handle, HIDP_REPORT_TYPE type, USHORT expected,
                          const std::vector<Record>& records, bool buttons, Get get) {
    USHORT count = 0;
    const NTSTATUS probe = get(type, nullptr, &count, handle);
    if (expected == 0) {
        return probe == HIDP_STATUS_USAGE_NOT_FOUND && count == 0 ? std::string{} : "empty caps list not refused";
    }
    if (probe != HIDP_STATUS_BUFFER_TOO_SMALL || count != expected) return "caps count probe wrong";
    std::vector<Caps> caps(expected);
    if (get(type, caps.data(), &count, handle) != HIDP_STATUS_SUCCESS || count != expected) return "caps fetch failed";
    std::size_t k = 0;
    for (const Record& r : records) {
        if (r.isButton != buttons) continue;
        const Caps& c = caps[k++];
        if (c.UsagePage != r.usagePage || c.Range.UsageMin != r.usageMin || c.Range.DataIndexMin != r.dataIndexMin ||
            c.ReportID != r.reportId)
            return "caps differ from their record" + Where(type, k - 1);
    }
    return k == expected ? std::string{} : "caps count differs from records";
}

// Every record is found by a specific lookup of its own page, link collection and usage.
// Records that ask the same question share one lookup: each lookup scans every record, so
// one per record would make the check quadratic in the record count.
inline std::string CheckSpecificLookups(PHIDP_PREPARSED_DATA handle, HIDP_REPORT_TYPE type,
                                        const std::vector<Record>& records) {
    // The question (button or value, page, link collection, usage: 49 bits) above the
    // record's index (below kMaxRecordsPerType): sorted, equal questions are neighbours.
    constexpr unsigned kIndexBits = 12;
    static_assert(kMaxRecordsPerType <= std::size_t{1} << kIndexBits && 49 + kIndexBits <= 64);
    std::vector<std::uint64_t> asked(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        const Record& r = records[i];
        const std::uint64_t question = std::uint64_t{r.isButton} << 48 | std::uint64_t{r.usagePage} << 32 |
                                       std::uint64_t{r.linkCollection} << 16 | r.usageMax;
        asked[i] = question << kIndexBits | i;
    }
    std::sort(asked.begin(), asked.end());
    for (std::size_t k = 0; k < asked.size(); ++k) {
        if (k > 0 && asked[k - 1] >> kIndexBits == asked[k] >> kIndexBits) continue;  // asked already
        const std::size_t i = asked[k] & ((std::uint64_t{1} << kIndexBits) - 1);
        const Record& r = records[i];
        USHORT count = 1;
        NTSTATUS s;
        if (r.isButton) {
            HIDP_BUTTON_CAPS c{};
            s = HidP_GetSpecificButtonCaps(type, r.usagePage, r.linkCollection, r.usageMax, &c, &count, handle);
        } else {
            HIDP_VALUE_CAPS c{};
            s = HidP_GetSpecificValueCaps(type, r.usagePage, r.linkCollection, r.usageMax, &c, &count, handle);
        }
        if ((s != HIDP_STATUS_SUCCESS && s != HIDP_STATUS_BUFFER_TOO_SMALL) || count == 0)
            return "GetSpecific*Caps misses a record" + Where(type, i);
    }
    return {};
}

inline std::string CheckListLengths(PHIDP_PREPARSED_DATA handle, HIDP_REPORT_TYPE type,
                                    const std::vector<Record>& records) {
    ULONG usages = 0;
    for (const Record& r : records)
        if (r.isButton) usages += r.reportCount;
    if (HidP_MaxUsageListLength(type, 0, handle) != usages) return "MaxUsageListLength differs from button fields";
    if (HidP_MaxDataListLength(type, handle) < (usages > 0 ? 1u : 0u)) return "MaxDataListLength too small";
    return {};
}

inline std::string CheckType(PHIDP_PREPARSED_DATA handle, const PreparsedData& data, HIDP_REPORT_TYPE type) {
    const auto& records = data.records[static_cast<std::size_t>(type)];
    const TypeCounts counts = CountsOf(data.caps, type);
    if (!records.empty() && counts.reportLength == 0) return "a type with records has report length 0";
    if (std::size_t{counts.buttons} + counts.values != records.size()) return "caps counts differ from records";
    for (std::size_t i = 0; i < records.size(); ++i)
        if (std::string e = CheckRecord(data, type, i); !e.empty()) return e;
    std::string e = CheckDataIndices(records, counts.dataIndices);
    if (e.empty()) e = CheckLayout(records, counts.reportLength, type);
    if (e.empty())
        e = CheckCapsList<HIDP_BUTTON_CAPS>(handle, type, counts.buttons, records, true, HidP_GetButtonCaps);
    if (e.empty()) e = CheckCapsList<HIDP_VALUE_CAPS>(handle, type, counts.values, records, false, HidP_GetValueCaps);
    if (e.empty()) e = CheckSpecificLookups(handle, type, records);
    if (e.empty()) e = CheckListLengths(handle, type, records);
    return e;
}

// "" when every invariant holds, else a description of the first one broken.
inline std::string CheckPreparsed(PreparsedData& data) {
    PHIDP_PREPARSED_DATA handle = ToHandle(&data);
    HIDP_CAPS caps{};
    if (HidP_GetCaps(handle, &caps) != HIDP_STATUS_SUCCESS) return "GetCaps failed";
    if (std::string e = CheckLinkNodes(handle, caps); !e.empty()) return e;
    for (HIDP_REPORT_TYPE type : kReportTypes)
        if (std::string e = CheckType(handle, data, type); !e.empty()) return e;
    USHORT count = 0;
    if (HidP_GetButtonCaps(static_cast<HIDP_REPORT_TYPE>(3), nullptr, &count, handle) !=
        HIDP_STATUS_INVALID_REPORT_TYPE)
        return "report type 3 accepted";
    return {};
}

}  // namespace hidparse::invariants
