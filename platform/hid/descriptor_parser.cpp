// Report-descriptor parser: turns the descriptor a device hands us into the preparsed data
// the HidP_* functions read (platform/hid/preparsed.h). Laid out like the Linux HID core:
//
//   ItemReader   bounds-checked reader of short and long items (USB HID class definition,
//                section 6.2.2.2 and 6.2.2.3). Long items carry no meaning for us and are
//                skipped whole; a truncated item of either kind refuses the descriptor.
//   Parser       the one parser state: the global items with their Push/Pop stack, the
//                local items (cleared after every main item and at Collection and End
//                Collection), the stack of open collections, one bit counter per report
//                type and report ID, and the preparsed data being built.
//   ParseItem    dispatch by item type; every tag goes to a named function.
//   Finish       the checks at the end of the descriptor, report lengths and HIDP_CAPS.
//
// Records follow what Windows makes of the same descriptor: report lengths count the
// report-ID byte, one record per usage entry, the last declared entry first within a main
// item, data indices per report type. Only the FIRST top-level collection is built: one
// device is one top-level collection here. Items after its End Collection are still read
// and checked (so a malformed tail refuses the descriptor) but make no records, bits or
// link collection nodes.
//
// Refusals (all HIDP_STATUS_INVALID_PREPARSED_DATA): a truncated item, a descriptor longer
// than kMaxDescriptorBytes, no top-level collection, unbalanced collections or delimiters,
// collections nested deeper than kMaxCollectionDepth or more than kMaxLinkCollections of
// them, Pop on an empty stack or Push beyond kMaxGlobalStackDepth, an explicit Report ID 0
// or one above 255, Report Size above kMaxReportSize, Report Count above kMaxReportCount,
// a report longer than 0xFFFF bytes, a main item outside any collection, a half usage range
// (Minimum without Maximum) or a range whose Minimum exceeds its Maximum, more than
// kMaxUsagesPerItem usage entries before one main item, more than kMaxRecordsPerType records
// or more than 0xFFFF data indices in one report type, a reserved global tag.
//
// Accepted on purpose: Push without a matching Pop (the stack is bounded and discarded at
// the end, as the Linux HID core does), unknown local and main item tags and the reserved
// item type (ignored, as the Linux HID core does), usages left without a main item at the
// end of the descriptor, a top-level collection of any type, items without a Report ID
// beside items with one (they form report 0), a 4-byte Usage Page (its low 16 bits).
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <vector>

#include "platform/hid/preparsed.h"

namespace hidparse {
namespace {

// ---------------------------------------------------------------------------------------
// Item reader

enum class ItemType : std::uint8_t { kMain = 0, kGlobal = 1, kLocal = 2, kReserved = 3 };

struct Item {
    ItemType type = ItemType::kMain;
    std::uint8_t tag = 0;
    std::uint8_t size = 0;   // data bytes: 0, 1, 2 or 4
    std::uint32_t data = 0;  // little-endian, zero-extended
    bool isLong = false;
};

enum class ReadResult { kItem, kEnd, kTruncated };

constexpr std::uint8_t kLongItemPrefix = 0xFE;

class ItemReader {
public:
    explicit ItemReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    ReadResult Next(Item& item) {
        if (pos_ == bytes_.size()) return ReadResult::kEnd;
        const std::uint8_t prefix = bytes_[pos_];
        return prefix == kLongItemPrefix ? ReadLong(item) : ReadShort(prefix, item);
    }

private:
    std::size_t Remaining() const { return bytes_.size() - pos_; }

    ReadResult ReadShort(std::uint8_t prefix, Item& item) {
        static constexpr std::uint8_t kSizes[4] = {0, 1, 2, 4};
        const std::uint8_t size = kSizes[prefix & 0x03];
        if (Remaining() < 1u + size) return ReadResult::kTruncated;
        item = Item{};
        item.type = static_cast<ItemType>((prefix >> 2) & 0x03);
        item.tag = static_cast<std::uint8_t>(prefix >> 4);
        item.size = size;
        for (std::size_t i = 0; i < size; ++i)
            item.data |= static_cast<std::uint32_t>(bytes_[pos_ + 1 + i]) << (8 * i);
        pos_ += 1u + size;
        return ReadResult::kItem;
    }

    // Long item: prefix, bDataSize, bLongItemTag, then bDataSize bytes (section 6.2.2.3).
    ReadResult ReadLong(Item& item) {
        if (Remaining() < 3) return ReadResult::kTruncated;
        const std::size_t dataSize = bytes_[pos_ + 1];
        if (Remaining() - 3 < dataSize) return ReadResult::kTruncated;
        item = Item{};
        item.type = ItemType::kReserved;
        item.tag = bytes_[pos_ + 2];
        item.isLong = true;
        pos_ += 3 + dataSize;
        return ReadResult::kItem;
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

// Item data sign-extended from the item's own size (a 1-byte 0x81 is -127, a 2-byte 0xFFFF
// is -1), which is how Windows reads logical, physical and unit-exponent values.
LONG SignedData(const Item& item) {
    switch (item.size) {
        case 1: return static_cast<std::int8_t>(item.data);
        case 2: return static_cast<std::int16_t>(item.data);
        case 4: return static_cast<LONG>(item.data);
        default: return 0;
    }
}

// ---------------------------------------------------------------------------------------
// Parser state

constexpr std::uint32_t kReportIdBits = 8;  // the report-ID byte is always counted
constexpr std::uint32_t kMaxDataIndices = 0xFFFF;  // HIDP_CAPS.Number...DataIndices is a USHORT
constexpr USHORT kNoNode = 0xFFFF;  // an open collection outside the first top-level one

// Main item data bits (USB HID class definition, section 6.2.2.5).
constexpr std::uint32_t kMainConstant = 0x01;
constexpr std::uint32_t kMainVariable = 0x02;
constexpr std::uint32_t kMainRelative = 0x04;
constexpr std::uint32_t kMainNullState = 0x40;

struct Globals {
    USAGE usagePage = 0;
    LONG logicalMin = 0, logicalMax = 0;
    LONG physicalMin = 0, physicalMax = 0;
    ULONG unitExp = 0, unit = 0;
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    UCHAR reportId = 0;
};

struct UsageEntry {
    USAGE page = 0;
    USAGE min = 0, max = 0;
    bool isRange = false;
    std::uint32_t Count() const { return static_cast<std::uint32_t>(max - min) + 1; }
    bool IsZero() const { return min == 0 && max == 0; }
};

// One bound of a usage range waiting for the other.
struct RangeBound {
    bool present = false;
    bool extended = false;  // 4-byte item carrying its own page
    USAGE page = 0;
    USAGE usage = 0;
};

// The local items other than the usage list, reset as one.
struct LocalScalars {
    RangeBound usageMin, usageMax;
    USHORT stringMin = 0, stringMax = 0;
    USHORT designatorMin = 0, designatorMax = 0;
    bool isStringRange = false;
    bool isDesignatorRange = false;
    bool inDelimiter = false;
    std::size_t usagesAtDelimiter = 0;  // usages.size() when the delimiter set opened
};

struct Locals : LocalScalars {
    std::vector<UsageEntry> usages;
};

enum class TlcState { kBefore, kBuilding, kDone };

struct Parser {
    Globals global;
    std::vector<Globals> globalStack;
    Locals local;
    std::vector<USHORT> collections;  // open collections, innermost last (link node index)
    TlcState tlc = TlcState::kBefore;
    // Bits used so far per report type and report ID; 0 = no main item yet.
    std::array<std::array<std::uint32_t, 256>, 3> reportBits{};
    std::array<std::uint32_t, 3> longestReportBits{};  // the largest entry of reportBits, per type
    std::array<std::uint32_t, 3> nextDataIndex{};
    std::uint32_t mainItems = 0;
    PreparsedData& out;

    explicit Parser(PreparsedData& data) : out(data) {}
};

// Keeps the usage list's storage: a descriptor has a main item every few bytes, and
// freeing and regrowing the list each time costs more than the rest of the item.
void ClearLocals(Locals& local) {
    static_cast<LocalScalars&>(local) = LocalScalars{};
    local.usages.clear();
}

std::size_t TypeIndex(HIDP_REPORT_TYPE type) { return static_cast<std::size_t>(type); }

// ---------------------------------------------------------------------------------------
// Records

bool AppendRecord(Parser& p, const Record& record) {
    auto& records = p.out.records[TypeIndex(record.reportType)];
    if (records.size() >= kMaxRecordsPerType) return false;
    records.push_back(record);
    auto& ids = p.out.reportIds[TypeIndex(record.reportType)];
    auto at = std::lower_bound(ids.begin(), ids.end(), record.reportId);
    if (at == ids.end() || *at != record.reportId) ids.insert(at, record.reportId);
    return true;
}

// Hands out `count` data indices of the record's report type.
bool TakeDataIndices(Parser& p, Record& record, std::uint32_t count) {
    std::uint32_t& next = p.nextDataIndex[TypeIndex(record.reportType)];
    if (count > kMaxDataIndices - next) return false;
    record.dataIndexMin = static_cast<USHORT>(next);
    record.dataIndexMax = static_cast<USHORT>(next + count - 1);
    next += count;
    return true;
}

void SetUsage(Record& record, const UsageEntry& entry) {
    record.usagePage = entry.page;
    record.usageMin = entry.min;
    record.usageMax = entry.max;
    record.isRange = entry.isRange;
}

// Everything a main item's records share: the globals, the locals other than usages, and
// the innermost open collection.
Record BaseRecord(const Parser& p, HIDP_REPORT_TYPE type, std::uint32_t bitField) {
    const Globals& g = p.global;
    const Locals& l = p.local;
    Record r;
    r.reportType = type;
    r.reportId = g.reportId;
    r.isArray = (bitField & kMainVariable) == 0;
    r.isButton = r.isArray || g.reportSize == 1;
    r.isConstant = (bitField & kMainConstant) != 0;
    r.isAbsolute = (bitField & kMainRelative) == 0;
    r.hasNull = (bitField & kMainNullState) != 0;
    r.isStringRange = l.isStringRange;
    r.isDesignatorRange = l.isDesignatorRange;
    r.stringMin = l.stringMin;
    r.stringMax = l.stringMax;
    r.designatorMin = l.designatorMin;
    r.designatorMax = l.designatorMax;
    r.bitField = static_cast<USHORT>(bitField);
    r.linkCollection = p.collections.back();
    const HIDP_LINK_COLLECTION_NODE& node = p.out.linkNodes[r.linkCollection];
    r.linkUsage = node.LinkUsage;
    r.linkUsagePage = node.LinkUsagePage;
    r.bitSize = static_cast<USHORT>(g.reportSize);
    r.reportCount = static_cast<USHORT>(g.reportCount);
    // Variable buttons keep no logical range; array buttons keep the item's (it bounds the
    // values an array slot may hold).
    const bool keepLogical = !r.isButton || r.isArray;
    r.logicalMin = keepLogical ? g.logicalMin : 0;
    r.logicalMax = keepLogical ? g.logicalMax : 0;
    r.physicalMin = g.physicalMin;
    r.physicalMax = g.physicalMax;
    r.units = g.unit;
    r.unitsExp = g.unitExp;
    r.mainItem = p.mainItems;
    return r;
}

// Variable item, k usage entries, ReportCount N: entry j < k-1 covers field j, the last
// declared entry covers the remaining N-(k-1) fields; entries beyond N are dropped.
// Records are listed last declared entry first and take their data indices in that order;
// a range takes one index per usage, whatever the number of fields it covers.
bool AddVariableRecords(Parser& p, const Record& base, std::uint32_t startBit) {
    const std::vector<UsageEntry>& usages = p.local.usages;
    const std::uint32_t fields = p.global.reportCount;
    const std::uint32_t k = static_cast<std::uint32_t>(std::min<std::size_t>(usages.size(), fields));
    for (std::uint32_t j = k; j-- > 0;) {
        Record r = base;
        SetUsage(r, usages[j]);
        r.startBit = startBit + j * p.global.reportSize;
        r.reportCount = static_cast<USHORT>(j + 1 < k ? 1 : fields - (k - 1));
        if (!TakeDataIndices(p, r, usages[j].Count()) || !AppendRecord(p, r)) return false;
    }
    return true;
}

// Array item: one record per usage entry, each describing the whole field. Listed last
// declared entry first, but data indices and array positions follow declaration order.
bool AddArrayRecords(Parser& p, const Record& base, std::uint32_t startBit) {
    const std::vector<UsageEntry>& usages = p.local.usages;
    std::uint32_t total = 0;
    for (const UsageEntry& entry : usages) total += entry.Count();  // <= 4096 * 65536
    const std::uint32_t firstIndex = p.nextDataIndex[TypeIndex(base.reportType)];
    if (total > kMaxDataIndices - firstIndex) return false;
    std::uint32_t offset = total;  // usages before entry j, counted down from the end
    for (std::size_t j = usages.size(); j-- > 0;) {
        offset -= usages[j].Count();
        Record r = base;
        SetUsage(r, usages[j]);
        r.startBit = startBit;
        r.dataIndexMin = static_cast<USHORT>(firstIndex + offset);
        r.dataIndexMax = static_cast<USHORT>(firstIndex + offset + usages[j].Count() - 1);
        r.arrayPosition = static_cast<USHORT>(offset + 1);
        if (!AppendRecord(p, r)) return false;
    }
    p.nextDataIndex[TypeIndex(base.reportType)] = firstIndex + total;
    return true;
}

// Which main items make records: none without usages or with ReportCount 0; a constant
// array makes none; a constant variable item needs at least one nonzero usage. Items left
// without records still take their bits but no data indices.
bool MakesRecords(const Parser& p, std::uint32_t bitField) {
    const std::vector<UsageEntry>& usages = p.local.usages;
    if (usages.empty() || p.global.reportCount == 0) return false;
    if ((bitField & kMainConstant) == 0) return true;
    if ((bitField & kMainVariable) == 0) return false;
    return std::any_of(usages.begin(), usages.end(), [](const UsageEntry& e) { return !e.IsZero(); });
}

// Reserves the item's bits in its report and answers the first one.
bool ReserveBits(Parser& p, HIDP_REPORT_TYPE type, std::uint32_t& startBit) {
    std::uint32_t& used = p.reportBits[TypeIndex(type)][p.global.reportId];
    if (used == 0) used = kReportIdBits;
    const std::uint32_t bits = p.global.reportSize * p.global.reportCount;  // <= 256 * 0xFFFF
    if (bits > kMaxReportBits - used) return false;
    startBit = used;
    used += bits;
    std::uint32_t& longest = p.longestReportBits[TypeIndex(type)];
    longest = std::max(longest, used);
    return true;
}

bool AddDataItem(Parser& p, HIDP_REPORT_TYPE type, std::uint32_t bitField) {
    std::uint32_t startBit = 0;
    if (!ReserveBits(p, type, startBit)) return false;
    bool ok = true;
    if (MakesRecords(p, bitField)) {
        const Record base = BaseRecord(p, type, bitField);
        ok = base.isArray ? AddArrayRecords(p, base, startBit) : AddVariableRecords(p, base, startBit);
    }
    ++p.mainItems;
    return ok;
}

// ---------------------------------------------------------------------------------------
// Main items

bool ParseDataItem(Parser& p, HIDP_REPORT_TYPE type, const Item& item) {
    const Locals& l = p.local;
    if (p.collections.empty()) return false;  // a main item outside any collection
    if (l.inDelimiter || l.usageMin.present || l.usageMax.present) return false;
    if (p.tlc == TlcState::kBuilding && !AddDataItem(p, type, item.data & 0xFFFF)) return false;
    ClearLocals(p.local);
    return true;
}

// A collection's usage is the first usage declared before it; without one it is usage 0 on
// the current Usage Page. An extended (4-byte) usage brings its own page.
bool AddLinkNode(Parser& p, const Item& item, USHORT& index) {
    auto& nodes = p.out.linkNodes;
    if (nodes.size() >= kMaxLinkCollections) return false;
    HIDP_LINK_COLLECTION_NODE node{};
    const std::vector<UsageEntry>& usages = p.local.usages;
    node.LinkUsage = usages.empty() ? USAGE{0} : usages.front().min;
    node.LinkUsagePage = usages.empty() ? p.global.usagePage : usages.front().page;
    node.CollectionType = item.data & 0xFF;
    index = static_cast<USHORT>(nodes.size());
    if (!p.collections.empty()) {
        // A new child goes to the front of its parent's list.
        HIDP_LINK_COLLECTION_NODE& parent = nodes[p.collections.back()];
        node.Parent = p.collections.back();
        node.NextSibling = parent.FirstChild;
        parent.FirstChild = index;
        ++parent.NumberOfChildren;
    }
    nodes.push_back(node);
    return true;
}

bool ParseCollection(Parser& p, const Item& item) {
    if (p.collections.size() >= kMaxCollectionDepth) return false;
    if (p.collections.empty() && p.tlc == TlcState::kBefore) p.tlc = TlcState::kBuilding;
    USHORT index = kNoNode;
    if (p.tlc == TlcState::kBuilding && !AddLinkNode(p, item, index)) return false;
    p.collections.push_back(index);
    ClearLocals(p.local);
    return true;
}

bool ParseEndCollection(Parser& p) {
    if (p.collections.empty()) return false;
    p.collections.pop_back();
    if (p.collections.empty() && p.tlc == TlcState::kBuilding) p.tlc = TlcState::kDone;
    ClearLocals(p.local);
    return true;
}

bool ParseMain(Parser& p, const Item& item) {
    enum : std::uint8_t { kInput = 0x8, kOutput = 0x9, kCollection = 0xA, kFeature = 0xB, kEndCollection = 0xC };
    switch (item.tag) {
        case kInput: return ParseDataItem(p, HidP_Input, item);
        case kOutput: return ParseDataItem(p, HidP_Output, item);
        case kFeature: return ParseDataItem(p, HidP_Feature, item);
        case kCollection: return ParseCollection(p, item);
        case kEndCollection: return ParseEndCollection(p);
        default: ClearLocals(p.local); return true;  // reserved main tag: ignored
    }
}

// ---------------------------------------------------------------------------------------
// Global items

bool PushGlobals(Parser& p) {
    if (p.globalStack.size() >= kMaxGlobalStackDepth) return false;
    p.globalStack.push_back(p.global);
    return true;
}

bool PopGlobals(Parser& p) {
    if (p.globalStack.empty()) return false;
    p.global = p.globalStack.back();
    p.globalStack.pop_back();
    return true;
}

bool SetReportId(Parser& p, const Item& item) {
    if (item.data == 0 || item.data > 0xFF) return false;  // 0 is reserved for "no report ID"
    p.global.reportId = static_cast<UCHAR>(item.data);
    return true;
}

bool SetReportSize(Parser& p, const Item& item) {
    if (item.data > kMaxReportSize) return false;
    p.global.reportSize = item.data;
    return true;
}

bool SetReportCount(Parser& p, const Item& item) {
    if (item.data > kMaxReportCount) return false;
    p.global.reportCount = item.data;
    return true;
}

bool ParseGlobal(Parser& p, const Item& item) {
    Globals& g = p.global;
    switch (item.tag) {
        case 0x0: g.usagePage = static_cast<USAGE>(item.data); return true;  // pages are 16-bit
        case 0x1: g.logicalMin = SignedData(item); return true;
        case 0x2: g.logicalMax = SignedData(item); return true;
        case 0x3: g.physicalMin = SignedData(item); return true;
        case 0x4: g.physicalMax = SignedData(item); return true;
        // Kept as written, sign-extended; the 4-bit exponent code is not decoded.
        case 0x5: g.unitExp = static_cast<ULONG>(SignedData(item)); return true;
        case 0x6: g.unit = item.data; return true;
        case 0x7: return SetReportSize(p, item);
        case 0x8: return SetReportId(p, item);
        case 0x9: return SetReportCount(p, item);
        case 0xA: return PushGlobals(p);
        case 0xB: return PopGlobals(p);
        default: return false;  // reserved global tag
    }
}

// ---------------------------------------------------------------------------------------
// Local items

// Inside a delimiter set only the first usage counts; the alternatives are read and
// dropped (as the Linux HID core does), so no record is ever an alias.
bool IsAlternateUsage(const Locals& l) { return l.inDelimiter && l.usages.size() > l.usagesAtDelimiter; }

// A 4-byte usage carries its page in its high half; shorter ones take the Usage Page in
// force when the Usage item is read.
RangeBound ReadUsage(const Parser& p, const Item& item) {
    RangeBound u;
    u.present = true;
    u.extended = item.size == 4;
    u.page = u.extended ? static_cast<USAGE>(item.data >> 16) : p.global.usagePage;
    u.usage = static_cast<USAGE>(item.data);
    return u;
}

bool AddUsageEntry(Locals& l, const UsageEntry& entry) {
    if (l.usages.size() >= kMaxUsagesPerItem) return false;
    l.usages.push_back(entry);
    return true;
}

bool ParseUsage(Parser& p, const Item& item) {
    if (IsAlternateUsage(p.local)) return true;
    const RangeBound u = ReadUsage(p, item);
    return AddUsageEntry(p.local, UsageEntry{u.page, u.usage, u.usage, false});
}

// Usage Minimum and Maximum may come in either order; the pair makes one range entry on
// the Minimum's page.
bool ParseUsageBound(Parser& p, const Item& item, bool isMaximum) {
    Locals& l = p.local;
    if (IsAlternateUsage(l)) return true;
    RangeBound& bound = isMaximum ? l.usageMax : l.usageMin;
    if (bound.present) return false;  // a second Minimum (or Maximum) before the pair closed
    bound = ReadUsage(p, item);
    if (!l.usageMin.present || !l.usageMax.present) return true;
    const RangeBound lo = l.usageMin, hi = l.usageMax;
    l.usageMin = l.usageMax = RangeBound{};
    if (lo.usage > hi.usage) return false;
    if ((lo.extended || hi.extended) && lo.page != hi.page) return false;
    return AddUsageEntry(l, UsageEntry{lo.page, lo.usage, hi.usage, true});
}

bool ParseDelimiter(Locals& l, const Item& item) {
    const bool open = item.data == 1;
    if (open == l.inDelimiter) return false;  // nested, or a close without an open
    if (l.usageMin.present || l.usageMax.present) return false;
    l.inDelimiter = open;
    l.usagesAtDelimiter = l.usages.size();
    return true;
}

bool ParseLocal(Parser& p, const Item& item) {
    Locals& l = p.local;
    const auto value = static_cast<USHORT>(item.data);
    switch (item.tag) {
        case 0x0: return ParseUsage(p, item);
        case 0x1: return ParseUsageBound(p, item, false);
        case 0x2: return ParseUsageBound(p, item, true);
        case 0x3: l.designatorMin = l.designatorMax = value; l.isDesignatorRange = false; return true;
        case 0x4: l.designatorMin = value; l.isDesignatorRange = true; return true;
        case 0x5: l.designatorMax = value; l.isDesignatorRange = true; return true;
        case 0x7: l.stringMin = l.stringMax = value; l.isStringRange = false; return true;
        case 0x8: l.stringMin = value; l.isStringRange = true; return true;
        case 0x9: l.stringMax = value; l.isStringRange = true; return true;
        case 0xA: return ParseDelimiter(l, item);
        default: return true;  // reserved local tag: ignored
    }
}

// ---------------------------------------------------------------------------------------
// Dispatch and the end of the descriptor

bool ParseItem(Parser& p, const Item& item) {
    if (item.isLong) return true;  // long items are skipped whole
    switch (item.type) {
        case ItemType::kMain: return ParseMain(p, item);
        case ItemType::kGlobal: return ParseGlobal(p, item);
        case ItemType::kLocal: return ParseLocal(p, item);
        case ItemType::kReserved: return true;  // reserved item type: ignored
    }
    return false;
}

USHORT ReportByteLength(std::uint32_t longestBits) {
    return static_cast<USHORT>((longestBits + 7) / 8);  // <= kMaxReportBits
}

// The counts are of records only: the items MakesRecords turns away leave no trace in
// HIDP_CAPS.
void FillCaps(Parser& p) {
    HIDP_CAPS& caps = p.out.caps;
    caps = HIDP_CAPS{};
    caps.Usage = p.out.linkNodes.front().LinkUsage;
    caps.UsagePage = p.out.linkNodes.front().LinkUsagePage;
    caps.InputReportByteLength = ReportByteLength(p.longestReportBits[TypeIndex(HidP_Input)]);
    caps.OutputReportByteLength = ReportByteLength(p.longestReportBits[TypeIndex(HidP_Output)]);
    caps.FeatureReportByteLength = ReportByteLength(p.longestReportBits[TypeIndex(HidP_Feature)]);
    caps.NumberLinkCollectionNodes = static_cast<USHORT>(p.out.linkNodes.size());
    USHORT* counts[3][3] = {
        {&caps.NumberInputButtonCaps, &caps.NumberInputValueCaps, &caps.NumberInputDataIndices},
        {&caps.NumberOutputButtonCaps, &caps.NumberOutputValueCaps, &caps.NumberOutputDataIndices},
        {&caps.NumberFeatureButtonCaps, &caps.NumberFeatureValueCaps, &caps.NumberFeatureDataIndices},
    };
    for (std::size_t type = 0; type < 3; ++type) {
        const auto& records = p.out.records[type];
        const auto buttons = std::count_if(records.begin(), records.end(), [](const Record& r) { return r.isButton; });
        *counts[type][0] = static_cast<USHORT>(buttons);
        *counts[type][1] = static_cast<USHORT>(static_cast<std::ptrdiff_t>(records.size()) - buttons);
        *counts[type][2] = static_cast<USHORT>(p.nextDataIndex[type]);
    }
}

bool Finish(Parser& p) {
    if (!p.collections.empty() || p.local.inDelimiter) return false;  // unbalanced
    if (p.tlc != TlcState::kDone) return false;                        // no top-level collection
    FillCaps(p);
    return true;
}

bool Parse(std::span<const std::uint8_t> descriptor, PreparsedData& data) {
    if (descriptor.size() > kMaxDescriptorBytes) return false;
    Parser parser(data);
    ItemReader reader(descriptor);
    Item item;
    for (;;) {
        switch (reader.Next(item)) {
            case ReadResult::kEnd: return Finish(parser);
            case ReadResult::kTruncated: return false;
            case ReadResult::kItem:
                if (!ParseItem(parser, item)) return false;
                break;
        }
    }
}

}  // namespace

NTSTATUS ParseReportDescriptor(std::span<const std::uint8_t> descriptor, std::unique_ptr<PreparsedData>& out) {
    out.reset();
    try {
        auto data = std::make_unique<PreparsedData>();
        if (!Parse(descriptor, *data)) return HIDP_STATUS_INVALID_PREPARSED_DATA;
        out = std::move(data);
        return HIDP_STATUS_SUCCESS;
    } catch (const std::bad_alloc&) {
        return HIDP_STATUS_INTERNAL_ERROR;  // every count is bounded, so only a starved process gets here
    }
}

}  // namespace hidparse
