// Descriptors the parser must refuse (with a status, no crash), and the limits just
// inside which it must still accept them.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "parser_test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

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

using parsertest::Tlc;

// One 8-bit input value with a usage.
const Bytes kInputValue = {0x75, 0x08, 0x95, 0x01, 0x09, 0x30, 0x81, 0x02};
// The same without its own usage, for the cases that count usages.
const Bytes kInputItem = {0x75, 0x08, 0x95, 0x01, 0x81, 0x02};

struct Case { const char* name; Bytes descriptor; };

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::vector<Case> RefusedCases() {
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
    };
}

class Refused : public ::testing::TestWithParam<Case> {};

TEST_P(Refused, WithInvalidPreparsedData) {
    NTSTATUS status = HIDP_STATUS_SUCCESS;
    const auto data = parsertest::Parse(GetParam().descriptor, &status);
    EXPECT_EQ(status, HIDP_STATUS_INVALID_PREPARSED_DATA);
    EXPECT_EQ(data, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Malformed, Refused, ::testing::ValuesIn(RefusedCases()),
                         [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

// The same limits, one step inside: accepted.
std::vector<Case> AcceptedAtLimitCases() {
    return {
        {"ReportOf0xFFFFBytes", Tlc({0x75, 0x08, 0x96, 0xFE, 0xFF, 0x09, 0x30, 0x81, 0x02})},
        {"PushToDepth", Tlc(Repeat({0xA4}, 32))},
        {"NestingToDepth", Tlc(Cat({Repeat({0xA1, 0x00}, 63), Repeat({0xC0}, 63)}))},
        {"MaxCollections", Tlc(Repeat({0xA1, 0x00, 0xC0}, 1023))},
        {"MaxUsagesBeforeOneItem", Tlc(Cat({Repeat({0x09, 0x30}, 4096), kInputItem}))},
        {"MaxRecordsInOneType", Tlc(Cat({{0x75, 0x01, 0x96, 0x00, 0x10}, Repeat({0x09, 0x30}, 4096), {0x81, 0x02}}))},
        {"MaxDataIndices", Tlc({0x75, 0x10, 0x95, 0x01, 0x19, 0x01, 0x2A, 0xFF, 0xFF, 0x81, 0x00})},
        {"DescriptorAtSizeLimit", Cat({Tlc(Repeat({0xA4, 0xB4}, 32764)), {0xA4}})},
    };
}

class AcceptedAtLimit : public ::testing::TestWithParam<Case> {};

TEST_P(AcceptedAtLimit, Parses) {
    NTSTATUS status = 0;
    const auto data = parsertest::Parse(GetParam().descriptor, &status);
    EXPECT_EQ(status, HIDP_STATUS_SUCCESS);
    ASSERT_NE(data, nullptr);
    // The sizes at the limits come out exactly.
    const std::string name = GetParam().name;
    if (name == "ReportOf0xFFFFBytes") { EXPECT_EQ(data->caps.InputReportByteLength, 0xFFFF); }
    if (name == "MaxDataIndices") { EXPECT_EQ(data->caps.NumberInputDataIndices, 0xFFFF); }
    if (name == "DescriptorAtSizeLimit") { EXPECT_EQ(GetParam().descriptor.size(), hidparse::kMaxDescriptorBytes); }
}

INSTANTIATE_TEST_SUITE_P(Limits, AcceptedAtLimit, ::testing::ValuesIn(AcceptedAtLimitCases()),
                         [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

}  // namespace
