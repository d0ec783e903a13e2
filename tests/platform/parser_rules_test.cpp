// Parsing rules the golden descriptors do not reach: item reading, the global stack, local
// clearing, which items make records, array order, sign extension, strings and
// designators, delimiters, later top-level collections.
#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <vector>

#include "parser_test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using hidparse::Record;
using parsertest::Tlc;

// The preparsed data of a descriptor that must be accepted (empty data when refused, so
// that the checks after it fail).
hidparse::PreparsedData Accepted(const Bytes& bytes) {
    NTSTATUS status = 0;
    auto data = parsertest::Parse(bytes, &status);
    EXPECT_EQ(status, HIDP_STATUS_SUCCESS);
    return data ? *data : hidparse::PreparsedData{};
}

TEST(ParserItems, LongItemIsSkippedWholeNotReadAsItems) {
    // The long item's data bytes look like Input and End Collection items.
    const auto d = Accepted(Tlc({0xFE, 0x04, 0x00, 0x81, 0x02, 0xC0, 0xC0, 0x75, 0x08, 0x95, 0x01, 0x09, 0x30, 0x81, 0x02}));
    ASSERT_EQ(d.records[HidP_Input].size(), 1u);
    EXPECT_EQ(std::tuple(d.records[HidP_Input][0].usageMin, d.caps.InputReportByteLength), std::tuple(0x30, 2));
}

TEST(ParserItems, ExtendedUsagesCarryTheirOwnPage) {
    // Usage Page (Button) in force; a 4-byte usage names page 1 usage 0x30.
    const auto d = Accepted(Tlc({0x05, 0x09, 0x75, 0x08, 0x95, 0x01, 0x0B, 0x30, 0x00, 0x01, 0x00, 0x81, 0x02}));
    EXPECT_EQ(std::tuple(d.records[HidP_Input].at(0).usagePage, d.records[HidP_Input].at(0).usageMin), std::tuple(1, 0x30));
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

TEST(ParserState, PopRestoresTheGlobalsPushSaved) {
    const auto d = Accepted(Tlc({0x75, 0x08, 0x95, 0x01, 0x85, 0x07, 0xA4,  // Size 8, Count 1, ID 7, Push
                                 0x75, 0x01, 0x95, 0x05, 0x85, 0x09,        // Size 1, Count 5, ID 9
                                 0xB4, 0x09, 0x30, 0x81, 0x02}));           // Pop, Usage, Input
    const Record& r = d.records[HidP_Input].at(0);
    EXPECT_EQ(std::tuple(r.bitSize, r.reportCount, r.reportId, r.isButton), std::tuple(8, 1, 7, false));
    EXPECT_NE(parsertest::Parse(Tlc({0xA4, 0xA4})), nullptr);  // a Push without Pop is accepted
}

TEST(ParserState, LocalsAreClearedAfterEachMainItemAndCollection) {
    // The second Input has no usage of its own: bits only.
    const auto d = Accepted(Tlc({0x75, 0x08, 0x95, 0x01, 0x09, 0x30, 0x81, 0x02, 0x81, 0x02}));
    EXPECT_EQ(std::tuple(d.records[HidP_Input].size(), d.caps.InputReportByteLength), std::tuple(1u, 3));
    // Usage (Pointer) names the collection; the Input after it has no usage left.
    const auto c = Accepted(Tlc({0x09, 0x01, 0xA1, 0x00, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xC0}));
    EXPECT_TRUE(c.records[HidP_Input].empty());
    EXPECT_EQ(c.linkNodes.at(1).LinkUsage, 1);
}

TEST(ParserRecords, ItemsWithoutRecordsStillTakeTheirBits) {
    const auto d = Accepted(Tlc({0x75, 0x08, 0x95, 0x00, 0x09, 0x30, 0x81, 0x02,  // ReportCount 0 with a usage
                                 0x95, 0x01, 0x09, 0x00, 0x81, 0x03,              // Cnst Var, usage 0 only
                                 0x09, 0x31, 0x09, 0x32, 0x81, 0x01,              // Cnst Array with usages
                                 0x09, 0x00, 0x81, 0x02}));                       // Data with explicit usage 0
    ASSERT_EQ(d.records[HidP_Input].size(), 1u);
    const Record& r = d.records[HidP_Input][0];
    EXPECT_EQ(std::tuple(r.usageMin, r.dataIndexMin, r.startBit), std::tuple(0, 0, 24u));
    EXPECT_EQ(std::tuple(d.caps.InputReportByteLength, d.caps.NumberInputDataIndices), std::tuple(4, 1));
}

TEST(ParserRecords, SurplusUsagesOfAVariableItemAreDropped) {
    const auto d = Accepted(Tlc({0x75, 0x08, 0x95, 0x02, 0x09, 0x30, 0x09, 0x31, 0x09, 0x32, 0x81, 0x02}));
    ASSERT_EQ(d.records[HidP_Input].size(), 2u);
    EXPECT_EQ(std::tuple(d.records[HidP_Input][0].usageMin, d.records[HidP_Input][0].startBit), std::tuple(0x31, 16u));
    EXPECT_EQ(std::tuple(d.records[HidP_Input][1].usageMin, d.caps.NumberInputDataIndices), std::tuple(0x30, 2));
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
    Bytes two = Tlc({0x75, 0x08, 0x95, 0x01, 0x09, 0x30, 0x81, 0x02});
    const Bytes second = {0x09, 0x02, 0xA1, 0x01, 0x96, 0x00, 0x01, 0x09, 0x31, 0x81, 0x02, 0xC0};
    two.insert(two.end(), second.begin(), second.end());
    const auto d = Accepted(two);
    EXPECT_EQ(std::tuple(d.caps.InputReportByteLength, d.caps.NumberLinkCollectionNodes, d.records[HidP_Input].size()),
              std::tuple(2, 1, 1u));
}

}  // namespace
