// The report descriptor parser: the rules the golden descriptors do not reach, the
// descriptors it must refuse (and the limits at which it still accepts them), and the
// capability functions over the golden mouse and consumer descriptors.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "parser_test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using hidparse::Record;
using parsertest::Tlc;

// ---- rules

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Repeat(const Bytes& part, std::size_t times) {
    Bytes out;
    for (std::size_t i = 0; i < times; ++i) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// The preparsed data of a descriptor that must be accepted (empty data when refused, so
// that the checks after it fail).
hidparse::PreparsedData Accepted(const Bytes& bytes) {
    NTSTATUS status = 0;
    auto data = parsertest::Parse(bytes, &status);
    EXPECT_EQ(status, HIDP_STATUS_SUCCESS);
    return data ? *data : hidparse::PreparsedData{};
}

TEST(ParserItems, LongItemIsSkippedWholeAndExtendedUsagesCarryTheirOwnPage) {
    // The long item's data bytes look like Input and End Collection items.
    const auto d = Accepted(Tlc({0xFE, 0x04, 0x00, 0x81, 0x02, 0xC0, 0xC0, 0x75, 0x08, 0x95, 0x01, 0x09, 0x30, 0x81, 0x02}));
    ASSERT_EQ(d.records[HidP_Input].size(), 1u);
    EXPECT_EQ(std::tuple(d.records[HidP_Input][0].usageMin, d.caps.InputReportByteLength), std::tuple(0x30, 2));
    // Usage Page (Button) in force; a 4-byte usage names page 1 usage 0x30.
    const auto ext = Accepted(Tlc({0x05, 0x09, 0x75, 0x08, 0x95, 0x01, 0x0B, 0x30, 0x00, 0x01, 0x00, 0x81, 0x02}));
    EXPECT_EQ(std::tuple(ext.records[HidP_Input].at(0).usagePage, ext.records[HidP_Input].at(0).usageMin), std::tuple(1, 0x30));
    const auto collection = Accepted({0x05, 0x01, 0x0B, 0x01, 0x00, 0x0C, 0x00, 0xA1, 0x01, 0xC0});
    EXPECT_EQ(std::tuple(collection.caps.UsagePage, collection.caps.Usage), std::tuple(0x0C, 1));
}

TEST(ParserItems, ValuesAreSignExtendedFromTheirItemSize) {
    // The golden game controller has a negative 2-byte Physical Minimum and a plain Unit.
    const auto d = Accepted(Tlc({0x17, 0xFF, 0xFF, 0xFF, 0xFF,  // Logical Minimum (-1, 4 bytes)
                                 0x26, 0xFF, 0x7F,              // Logical Maximum (32767)
                                 0x35, 0x80,                    // Physical Minimum (-128)
                                 0x55, 0xFD,                    // Unit Exponent (-3)
                                 0x75, 0x10, 0x95, 0x01, 0x09, 0x30, 0x81, 0x02}));
    const Record& r = d.records[HidP_Input].at(0);
    EXPECT_EQ(std::tuple(r.logicalMin, r.logicalMax, r.physicalMin, r.unitsExp), std::tuple(-1, 32767, -128, 0xFFFFFFFDu));
}

TEST(ParserState, PopRestoresTheGlobalsPushSavedAndLocalsClearAfterEachMainItem) {
    const auto d = Accepted(Tlc({0x75, 0x08, 0x95, 0x01, 0x85, 0x07, 0xA4,  // Size 8, Count 1, ID 7, Push
                                 0x75, 0x01, 0x95, 0x05, 0x85, 0x09,        // Size 1, Count 5, ID 9
                                 0xB4, 0x09, 0x30, 0x81, 0x02}));           // Pop, Usage, Input
    const Record& r = d.records[HidP_Input].at(0);
    EXPECT_EQ(std::tuple(r.bitSize, r.reportCount, r.reportId, r.isButton), std::tuple(8, 1, 7, false));
    // The second Input has no usage of its own: bits only.
    const auto bits = Accepted(Tlc({0x75, 0x08, 0x95, 0x01, 0x09, 0x30, 0x81, 0x02, 0x81, 0x02}));
    EXPECT_EQ(std::tuple(bits.records[HidP_Input].size(), bits.caps.InputReportByteLength), std::tuple(1u, 3));
    // Usage (Pointer) names the collection; the Input after it has no usage left.
    const auto c = Accepted(Tlc({0x09, 0x01, 0xA1, 0x00, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xC0}));
    EXPECT_TRUE(c.records[HidP_Input].empty());
    EXPECT_EQ(c.linkNodes.at(1).LinkUsage, 1);
}

TEST(ParserRecords, ItemsWithoutRecordsTakeTheirBitsAndSurplusUsagesAreDropped) {
    const auto d = Accepted(Tlc({0x75, 0x08, 0x95, 0x00, 0x09, 0x30, 0x81, 0x02,  // ReportCount 0 with a usage
                                 0x95, 0x01, 0x09, 0x00, 0x81, 0x03,              // Cnst Var, usage 0 only
                                 0x09, 0x31, 0x09, 0x32, 0x81, 0x01,              // Cnst Array with usages
                                 0x09, 0x00, 0x81, 0x02}));                       // Data with explicit usage 0
    ASSERT_EQ(d.records[HidP_Input].size(), 1u);
    const Record& r = d.records[HidP_Input][0];
    EXPECT_EQ(std::tuple(r.usageMin, r.dataIndexMin, r.startBit), std::tuple(0, 0, 24u));
    EXPECT_EQ(std::tuple(d.caps.InputReportByteLength, d.caps.NumberInputDataIndices), std::tuple(4, 1));
    // Three usages on a variable item of two fields: the last one is dropped.
    const auto surplus = Accepted(Tlc({0x75, 0x08, 0x95, 0x02, 0x09, 0x30, 0x09, 0x31, 0x09, 0x32, 0x81, 0x02}));
    const auto& s = surplus.records[HidP_Input];
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(std::tuple(s[0].usageMin, s[0].startBit, s[1].usageMin), std::tuple(0x31, 16u, 0x30));
    EXPECT_EQ(surplus.caps.NumberInputDataIndices, 2);
}

TEST(ParserRecords, ButtonOrValueByReportSize) {
    // A zero-size variable item is a value; 1-bit variable buttons keep no logical range.
    const auto zero = Accepted(Tlc({0x75, 0x00, 0x95, 0x01, 0x09, 0x30, 0x81, 0x02}));
    EXPECT_EQ(std::tuple(zero.records[HidP_Input].at(0).isButton, zero.caps.InputReportByteLength), std::tuple(false, 1));
    const auto bit = Accepted(Tlc({0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x01, 0x09, 0x30, 0x81, 0x02}));
    EXPECT_EQ(std::tuple(bit.records[HidP_Input].at(0).isButton, bit.records[HidP_Input].at(0).logicalMax), std::tuple(true, 0));
}

TEST(ParserRecords, ArrayListsLastEntryFirstButIndexesInDeclarationOrder) {
    // Usage 0x10, Usage 0x20..0x22, Usage 0x30 in one 8-bit array of 2 slots, Logical 1..5.
    const auto d = Accepted(Tlc({0x05, 0x09, 0x15, 0x01, 0x25, 0x05, 0x75, 0x08, 0x95, 0x02, 0x09, 0x10, 0x19, 0x20,
                                 0x29, 0x22, 0x09, 0x30, 0x81, 0x00}));
    const auto& r = d.records[HidP_Input];
    ASSERT_EQ(r.size(), 3u);
    // Usage, data index, position in the list; array buttons keep the item's logical range.
    const int expected[3][3] = {{0x30, 4, 5}, {0x20, 1, 2}, {0x10, 0, 1}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(std::tuple(int{r[i].usageMin}, int{r[i].dataIndexMin}, int{r[i].arrayPosition}, r[i].mainItem, r[i].logicalMin),
                  std::tuple(expected[i][0], expected[i][1], expected[i][2], r[0].mainItem, 1)) << i;
    }
    EXPECT_EQ(r[1].dataIndexMax, 3);
}

TEST(ParserRecords, StringDesignatorAndDelimiterLocalsReachTheRecords) {
    const auto d = Accepted(Tlc({0x75, 0x08, 0x95, 0x01, 0x79, 0x05, 0x49, 0x02, 0x59, 0x04, 0x09, 0x30, 0x81, 0x02}));
    const Record& r = d.records[HidP_Input].at(0);
    EXPECT_EQ(std::tuple(r.isStringRange, r.stringMin, r.stringMax), std::tuple(false, 5, 5));
    EXPECT_EQ(std::tuple(r.isDesignatorRange, r.designatorMin, r.designatorMax), std::tuple(true, 2, 4));
    // Only the first usage of a delimiter set counts.
    const auto set = Accepted(Tlc({0x75, 0x08, 0x95, 0x01, 0xA9, 0x01, 0x09, 0x30, 0x09, 0x31, 0xA9, 0x00, 0x81, 0x02}));
    ASSERT_EQ(set.records[HidP_Input].size(), 1u);
    EXPECT_EQ(std::tuple(set.records[HidP_Input][0].usageMin, set.records[HidP_Input][0].isAlias), std::tuple(0x30, false));
}

TEST(ParserRecords, ReportIdsAreListedOncePerTypeInOrder) {
    const auto d = Accepted(Tlc({0x75, 0x08, 0x95, 0x01, 0x85, 0x05, 0x09, 0x30, 0x81, 0x02, 0x85, 0x02, 0x09, 0x31,
                                 0x81, 0x02, 0x85, 0x05, 0x09, 0x32, 0x81, 0x02, 0x85, 0x03, 0x81, 0x01}));
    EXPECT_EQ(d.reportIds[HidP_Input], (std::vector<UCHAR>{2, 5}));  // report 3 holds only padding
    EXPECT_EQ(d.caps.InputReportByteLength, 3);                      // report 5: ID + 2 bytes
}

TEST(ParserCollections, OnlyTheFirstTopLevelCollectionIsBuilt) {
    const auto d = Accepted(Cat({Tlc({0x75, 0x08, 0x95, 0x01, 0x09, 0x30, 0x81, 0x02}),
                                 {0x09, 0x02, 0xA1, 0x01, 0x96, 0x00, 0x01, 0x09, 0x31, 0x81, 0x02, 0xC0}}));
    EXPECT_EQ(std::tuple(d.caps.InputReportByteLength, d.caps.NumberLinkCollectionNodes, d.records[HidP_Input].size()),
              std::tuple(2, 1, 1u));
}

// ---- refusals and limits

// One 8-bit input value with a usage.
const Bytes kInputValue = {0x75, 0x08, 0x95, 0x01, 0x09, 0x30, 0x81, 0x02};
// The same without its own usage, for the cases that count usages.
const Bytes kInputItem = {0x75, 0x08, 0x95, 0x01, 0x81, 0x02};

// Malformed descriptors are refused; each limit is refused one step beyond it and
// accepted (the rows marked true) at it.
struct Case { const char* name; Bytes descriptor; bool accepted = false; };

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::vector<Case> Cases() {
    return {
        {"Empty", {}},
        {"OnlyGlobals", {0x05, 0x01, 0x15, 0x00}},
        {"TruncatedShortItem", {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x26, 0xFF}},
        {"TruncatedFourByteItem", Cat({{0x05, 0x01, 0x09, 0x02, 0xA1, 0x01}, {0x27, 0x01, 0x02, 0x03}})},
        {"TruncatedLongItemHeader", {0x05, 0x01, 0xA1, 0x01, 0xFE, 0x05}},
        {"TruncatedLongItemData", {0x05, 0x01, 0xA1, 0x01, 0xFE, 0x05, 0x00, 0x01, 0x02, 0xC0}},
        {"MissingEndCollection", {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x30}},
        {"ExtraEndCollection", Cat({Tlc(kInputValue), {0xC0}})},
        {"EndCollectionFirst", {0xC0}},
        {"MainItemBeforeAnyCollection", Cat({kInputValue, Tlc({})})},
        {"MainItemBetweenCollections", Cat({Tlc(kInputValue), kInputValue})},
        {"MalformedSecondCollection", Cat({Tlc(kInputValue), {0xA1, 0x01, 0x85, 0x00, 0xC0}})},
        {"ReportCountOverLimit", Tlc({0x97, 0x00, 0x00, 0x01, 0x00})},
        {"ReportSizeOverLimit", Tlc({0x76, 0x01, 0x01})},
        {"ReportLongerThan0xFFFFBytes", Tlc({0x76, 0x00, 0x01, 0x96, 0xFF, 0xFF, 0x09, 0x30, 0x81, 0x02})},
        {"ReportGrowsPast0xFFFFBytes",
         Tlc(Repeat({0x75, 0x08, 0x96, 0x00, 0x80, 0x81, 0x01}, 2))},  // 2 x 0x8000 bytes + ID byte
        {"ReportIdZero", Tlc({0x85, 0x00})},
        {"ReportIdWithoutData", Tlc({0x84})},
        {"ReportIdOver255", Tlc({0x86, 0x00, 0x01})},
        {"PopOnEmptyStack", Tlc({0xB4})},
        {"PushBeyondDepth", Tlc(Repeat({0xA4}, 33))},
        {"NestingBeyondDepth", Tlc(Cat({Repeat({0xA1, 0x00}, 64), Repeat({0xC0}, 64)}))},
        {"TooManyCollections", Tlc(Repeat({0xA1, 0x00, 0xC0}, 1024))},
        {"ReservedGlobalTag", Tlc({0xF4})},
        {"UsageMinimumWithoutMaximum", Tlc({0x75, 0x08, 0x95, 0x01, 0x19, 0x01, 0x81, 0x02})},
        {"UsageMaximumWithoutMinimum", Tlc({0x75, 0x08, 0x95, 0x01, 0x29, 0x01, 0x81, 0x02})},
        {"UsageMinimumAboveMaximum", Tlc({0x75, 0x08, 0x95, 0x01, 0x19, 0x05, 0x29, 0x01, 0x81, 0x02})},
        {"TwoUsageMinimums", Tlc({0x19, 0x01, 0x19, 0x02, 0x29, 0x03})},
        {"RangeBoundsOnTwoPages", Tlc({0x1B, 0x01, 0x00, 0x09, 0x00, 0x2B, 0x03, 0x00, 0x01, 0x00})},
        {"TooManyUsagesBeforeOneItem", Tlc(Cat({Repeat({0x09, 0x30}, 4097), kInputItem}))},
        {"TooManyRecordsInOneType",
         Tlc(Cat({{0x75, 0x01, 0x96, 0x00, 0x10}, Repeat({0x09, 0x30}, 4096), {0x81, 0x02}, kInputValue}))},
        {"DataIndicesOverflow", Tlc({0x75, 0x10, 0x95, 0x01, 0x19, 0x00, 0x2A, 0xFF, 0xFF, 0x81, 0x00})},
        {"NestedDelimiter", Tlc({0xA9, 0x01, 0xA9, 0x01})},
        {"DelimiterCloseWithoutOpen", Tlc({0xA9, 0x00})},
        {"DelimiterOpenAtMainItem", Tlc({0x75, 0x08, 0x95, 0x01, 0xA9, 0x01, 0x09, 0x30, 0x81, 0x02})},
        {"DescriptorOverSizeLimit", Tlc(Repeat({0xA4, 0xB4}, 32768))},
        // The same limits, one step inside: accepted.
        {"ReportOf0xFFFFBytes", Tlc({0x75, 0x08, 0x96, 0xFE, 0xFF, 0x09, 0x30, 0x81, 0x02}), true},
        {"PushToDepth", Tlc(Repeat({0xA4}, 32)), true},
        {"NestingToDepth", Tlc(Cat({Repeat({0xA1, 0x00}, 63), Repeat({0xC0}, 63)})), true},
        {"MaxCollections", Tlc(Repeat({0xA1, 0x00, 0xC0}, 1023)), true},
        {"MaxUsagesBeforeOneItem", Tlc(Cat({Repeat({0x09, 0x30}, 4096), kInputItem})), true},
        {"MaxRecordsInOneType", Tlc(Cat({{0x75, 0x01, 0x96, 0x00, 0x10}, Repeat({0x09, 0x30}, 4096), {0x81, 0x02}})), true},
        {"MaxDataIndices", Tlc({0x75, 0x10, 0x95, 0x01, 0x19, 0x01, 0x2A, 0xFF, 0xFF, 0x81, 0x00}), true},
        {"DescriptorAtSizeLimit", Cat({Tlc(Repeat({0xA4, 0xB4}, 32764)), {0xA4}}), true},
    };
}

class Descriptor : public ::testing::TestWithParam<Case> {};

TEST_P(Descriptor, IsRefusedWithInvalidPreparsedDataOrAcceptedAtTheLimit) {
    const Case& c = GetParam();
    NTSTATUS status = 0;
    const auto data = parsertest::Parse(c.descriptor, &status);
    EXPECT_EQ(status, c.accepted ? HIDP_STATUS_SUCCESS : HIDP_STATUS_INVALID_PREPARSED_DATA);
    ASSERT_EQ(data != nullptr, c.accepted);
    // The sizes at the limits come out exactly.
    const std::string name = c.name;
    if (name == "ReportOf0xFFFFBytes") { EXPECT_EQ(data->caps.InputReportByteLength, 0xFFFF); }
    if (name == "MaxDataIndices") { EXPECT_EQ(data->caps.NumberInputDataIndices, 0xFFFF); }
    if (name == "DescriptorAtSizeLimit") { EXPECT_EQ(c.descriptor.size(), hidparse::kMaxDescriptorBytes); }
}

INSTANTIATE_TEST_SUITE_P(Parse, Descriptor, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

// ---- capability functions

class CapsFunctions : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(mouse_ && consumer_); }
    PHIDP_PREPARSED_DATA Mouse() { return parsertest::Handle(mouse_); }
    PHIDP_PREPARSED_DATA Consumer() { return parsertest::Handle(consumer_); }

    std::unique_ptr<hidparse::PreparsedData> mouse_ = parsertest::Parse(parsertest::ReadBytes(parsertest::DescriptorDir() / "mouse_wheel.bin")),
                                             consumer_ = parsertest::Parse(parsertest::ReadBytes(parsertest::DescriptorDir() / "consumer_ranges.bin"));
};

// GetCaps, the link nodes and the four record queries (one shared check, reached here
// through GetButtonCaps) each check their own arguments.
TEST_F(CapsFunctions, RefuseForeignDataUnknownTypesAndNullCounts) {
    hidparse::PreparsedData stale;
    stale.magic = 0;
    const PHIDP_PREPARSED_DATA foreign = hidparse::ToHandle(&stale);
    HIDP_CAPS caps{};
    HIDP_BUTTON_CAPS button{};
    HIDP_LINK_COLLECTION_NODE node{};
    USHORT count = 1;
    ULONG nodes = 1;
    const auto unknown = static_cast<HIDP_REPORT_TYPE>(3);
    EXPECT_EQ(HidP_GetCaps(foreign, &caps), HIDP_STATUS_INVALID_PREPARSED_DATA);
    EXPECT_EQ(HidP_GetLinkCollectionNodes(&node, &nodes, nullptr), HIDP_STATUS_INVALID_PREPARSED_DATA);
    EXPECT_EQ(HidP_GetButtonCaps(HidP_Input, &button, &count, foreign), HIDP_STATUS_INVALID_PREPARSED_DATA);
    EXPECT_EQ(HidP_GetButtonCaps(unknown, &button, &count, Mouse()), HIDP_STATUS_INVALID_REPORT_TYPE);
    EXPECT_EQ(HidP_MaxUsageListLength(unknown, 0, Mouse()), 0u);
    EXPECT_EQ(HidP_MaxDataListLength(HidP_Input, foreign), 0u);
    HIDP_CAPS* noCaps = nullptr;  // a null count is an error, not a write
    EXPECT_EQ(HidP_GetCaps(Mouse(), noCaps), HIDP_STATUS_INTERNAL_ERROR);
    EXPECT_EQ(HidP_GetButtonCaps(HidP_Input, nullptr, nullptr, Mouse()), HIDP_STATUS_INTERNAL_ERROR);
    EXPECT_EQ(HidP_GetLinkCollectionNodes(nullptr, nullptr, Mouse()), HIDP_STATUS_INTERNAL_ERROR);
    // A kind of record the type lacks.
    EXPECT_EQ(HidP_GetButtonCaps(HidP_Output, &button, &count, Mouse()), HIDP_STATUS_USAGE_NOT_FOUND);
    EXPECT_EQ(count, 0);
}

TEST_F(CapsFunctions, TooSmallBufferGetsTheTotalAndTheFirstRecords) {
    std::vector<HIDP_VALUE_CAPS> caps(3);
    USHORT count = 1;
    EXPECT_EQ(HidP_GetValueCaps(HidP_Input, caps.data(), &count, Mouse()), HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(caps[0].NotRange.Usage, 0x38);  // Wheel, listed first
    EXPECT_EQ(caps[1].NotRange.Usage, 0);     // nothing written past the room given
    count = 3;
    EXPECT_EQ(HidP_GetValueCaps(HidP_Input, caps.data(), &count, Mouse()), HIDP_STATUS_SUCCESS);
    // A single usage fills the reserved copies of Usage and DataIndex too.
    const auto& y = caps[1].NotRange;
    EXPECT_EQ(std::tuple(y.Usage, y.Reserved1, y.DataIndex, y.Reserved4), std::tuple(0x31, 0x31, 4, 4));
}

// Zero means any page, collection or usage; usage 2 lies inside the mouse's 1..3 button
// range; the consumer's battery sits in node 0, which 0 cannot select, its buttons in node 1.
TEST_F(CapsFunctions, SpecificCapsFilterWithZeroMeaningAny) {
    struct Row { bool buttons, consumer; USAGE page; USHORT link; USAGE usage; NTSTATUS status; USHORT count; };
    const Row rows[] = {{true, false, 9, 0, 2, HIDP_STATUS_SUCCESS, 1},    {true, false, 9, 0, 4, HIDP_STATUS_USAGE_NOT_FOUND, 0},
                        {false, false, 1, 1, 0x31, HIDP_STATUS_SUCCESS, 1}, {false, false, 1, 0, 0, HIDP_STATUS_SUCCESS, 3},
                        {false, false, 2, 0, 0, HIDP_STATUS_USAGE_NOT_FOUND, 0}, {true, true, 0, 1, 0, HIDP_STATUS_SUCCESS, 5},
                        {true, true, 0, 2, 0, HIDP_STATUS_USAGE_NOT_FOUND, 0}};
    for (const Row& row : rows) {
        HIDP_BUTTON_CAPS buttons[5]{};
        HIDP_VALUE_CAPS values[5]{};
        USHORT count = 5;
        PHIDP_PREPARSED_DATA data = row.consumer ? Consumer() : Mouse();
        EXPECT_EQ(row.buttons ? HidP_GetSpecificButtonCaps(HidP_Input, row.page, row.link, row.usage, buttons, &count, data)
                              : HidP_GetSpecificValueCaps(HidP_Input, row.page, row.link, row.usage, values, &count, data),
                  row.status) << row.page << "/" << row.link << "/" << row.usage;
        EXPECT_EQ(count, row.count) << row.page << "/" << row.link << "/" << row.usage;
        if (row.usage != 0 && row.status == HIDP_STATUS_SUCCESS) {
            EXPECT_EQ(row.buttons ? buttons[0].Range.UsageMin : values[0].NotRange.Usage, row.buttons ? 1 : row.usage);
        }
    }
}

// The count probes and whole lists of every golden descriptor are checked by its
// invariants; the usage list length of one page is not.
TEST_F(CapsFunctions, UsageListLengthCountsTheButtonsOfOnePageOnly) {
    // Page 0x0C: 6+1+1 variable buttons and 2 array slots; page 6 holds a value, not a button.
    for (auto [page, length] : {std::pair<USAGE, ULONG>{0x0C, 10}, {0x08, 1}, {0x06, 0}})
        EXPECT_EQ(HidP_MaxUsageListLength(HidP_Input, page, Consumer()), length) << page;
}

}  // namespace
