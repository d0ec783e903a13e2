// Values: HidP_Get/SetUsageValue, HidP_Get/SetScaledUsageValue, HidP_Get/SetUsageValueArray.
#include <gtest/gtest.h>

#include <vector>

#include "hidp_data_fixture.h"

namespace {

using namespace hidptest;

std::uint8_t Byte(const std::vector<char>& report, std::size_t i) { return static_cast<std::uint8_t>(report[i]); }

struct Values {
    Parsed parsed;
    std::vector<char> report;
    HIDP_REPORT_TYPE type;
    Values(const Builder& builder, HIDP_REPORT_TYPE reportType, UCHAR id = 0)
        : parsed(builder), report(parsed.Report(reportType, id)), type(reportType) {}

    ULONG Length() const { return static_cast<ULONG>(report.size()); }
    NTSTATUS Set(USAGE page, USAGE usage, ULONG value, USHORT link = 0) {
        return HidP_SetUsageValue(type, page, link, usage, value, parsed.Handle(), report.data(), Length());
    }
    NTSTATUS Get(USAGE page, USAGE usage, ULONG& value, USHORT link = 0) {
        return HidP_GetUsageValue(type, page, link, usage, &value, parsed.Handle(), report.data(), Length());
    }
    NTSTATUS SetScaled(USAGE page, USAGE usage, LONG value) {
        return HidP_SetScaledUsageValue(type, page, 0, usage, value, parsed.Handle(), report.data(), Length());
    }
    NTSTATUS GetScaled(USAGE page, USAGE usage, LONG& value) {
        return HidP_GetScaledUsageValue(type, page, 0, usage, &value, parsed.Handle(), report.data(), Length());
    }
};

TEST(HidpValues, FieldsStraddlingBytesRoundTripWithoutDisturbingNeighbours) {
    Values v(GameController(), HidP_Input);
    v.report[2] = static_cast<char>(0x0F);  // the hat switch nibble below Rz
    v.report[8] = static_cast<char>(0xC0);  // the two padding bits above the slider
    ASSERT_EQ(v.Set(kPageDesktop, kRz, 0xABC), HIDP_STATUS_SUCCESS);
    ASSERT_EQ(v.Set(kPageDesktop, kSlider, 0x2ABCDE), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Byte(v.report, 2), 0xCF);
    EXPECT_EQ(Byte(v.report, 3), 0xAB);
    EXPECT_EQ(Byte(v.report, 6), 0xDE);
    EXPECT_EQ(Byte(v.report, 7), 0xBC);
    EXPECT_EQ(Byte(v.report, 8), 0xEA);
    ULONG value = 0;
    ASSERT_EQ(v.Get(kPageDesktop, kRz, value), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, 0xABCu);
    ASSERT_EQ(v.Get(kPageDesktop, kSlider, value), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, 0x2ABCDEu);
    ASSERT_EQ(v.Get(kPageDesktop, kHat, value), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, 0xFu);
}

TEST(HidpValues, SetUsageValueStoresTheLowBitSizeBits) {
    Values v(GameController(), HidP_Input);
    ASSERT_EQ(v.Set(kPageDesktop, kX, 0xFFFFFFFBu), HIDP_STATUS_SUCCESS);  // -5
    ASSERT_EQ(v.Set(kPageDesktop, kHat, 0x1F), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Byte(v.report, 4), 0xFB);
    EXPECT_EQ(Byte(v.report, 2), 0x0F);
    EXPECT_EQ(Byte(v.report, 5), 0x00);  // Y untouched
    ULONG value = 0;
    ASSERT_EQ(v.Get(kPageDesktop, kX, value), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, 0xFBu);  // raw, not sign-extended
}

TEST(HidpValues, LinkCollectionRestrictsTheSearch) {
    Values v(GameController(), HidP_Input);
    ULONG value = 0;
    EXPECT_EQ(v.Get(kPageDesktop, kY, value, 1), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(v.Get(kPageDesktop, kY, value, 2), HIDP_STATUS_USAGE_NOT_FOUND);
    EXPECT_EQ(v.Get(kPageDesktop, kRz, value, 1), HIDP_STATUS_USAGE_NOT_FOUND);
    EXPECT_EQ(v.Get(kPageDesktop, 0x38, value), HIDP_STATUS_USAGE_NOT_FOUND);
    EXPECT_EQ(v.Get(kPageButton, 1, value), HIDP_STATUS_USAGE_NOT_FOUND);  // a button is no value
}

struct IdCase {
    const char* name;
    UCHAR byteZero;
    USAGE usage;
    NTSTATUS expected;
};

class HidpValueReportIds : public ::testing::TestWithParam<IdCase> {};

TEST_P(HidpValueReportIds, ByteZeroSelectsTheReport) {
    const IdCase& c = GetParam();
    Values v(GameControllerWithIds(), HidP_Input, c.byteZero);
    EXPECT_EQ(v.Set(kPageDesktop, c.usage, 0x12), c.expected);
    ULONG value = 0;
    EXPECT_EQ(v.Get(kPageDesktop, c.usage, value), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, HidpValueReportIds,
    ::testing::Values(IdCase{"OwnReport", 2, kX, HIDP_STATUS_SUCCESS},
                      IdCase{"ZeroMatchesAny", 0, kX, HIDP_STATUS_SUCCESS},
                      IdCase{"OtherReport", 1, kX, HIDP_STATUS_INCOMPATIBLE_REPORT_ID},
                      IdCase{"UnknownReport", 7, kRz, HIDP_STATUS_INCOMPATIBLE_REPORT_ID},
                      IdCase{"AbsentUsage", 1, 0x38, HIDP_STATUS_USAGE_NOT_FOUND}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(HidpValues, WithReportIdsEveryReportStartsAfterItsIdByte) {
    Values v(GameControllerWithIds(), HidP_Input, 2);
    ASSERT_EQ(v.Set(kPageDesktop, kX, 0x11), HIDP_STATUS_SUCCESS);
    ASSERT_EQ(v.Set(kPageDesktop, kY, 0x22), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Byte(v.report, 0), 2);
    EXPECT_EQ(Byte(v.report, 1), 0x11);
    EXPECT_EQ(Byte(v.report, 2), 0x22);
    Values feature(GameControllerWithIds(), HidP_Feature, 0);  // feature report 1, byte 0 left 0
    ASSERT_EQ(feature.Set(kPageVendor, 4, 77), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Byte(feature.report, 1), 77);
}

struct ScaledGetCase {
    const char* name;
    USAGE usage;
    std::size_t byte;
    std::uint8_t raw;
    NTSTATUS status;
    LONG value;
};

class HidpScaledGet : public ::testing::TestWithParam<ScaledGetCase> {};

TEST_P(HidpScaledGet, ExactPoints) {
    const ScaledGetCase& c = GetParam();
    Values v(GameController(), HidP_Input);
    v.report[c.byte] = static_cast<char>(c.raw);
    LONG value = 12345;
    EXPECT_EQ(v.GetScaled(kPageDesktop, c.usage, value), c.status);
    EXPECT_EQ(value, c.value);
}

// X: Logical -127..127, Physical -1000..1000, 8 bits at byte 4. Hat: Logical 0..7,
// Physical 0..315, Null State, low nibble of byte 2. Rz: no physical range.
INSTANTIATE_TEST_SUITE_P(
    Points, HidpScaledGet,
    ::testing::Values(ScaledGetCase{"XMin", kX, 4, 0x81, HIDP_STATUS_SUCCESS, -1000},
                      ScaledGetCase{"XMax", kX, 4, 0x7F, HIDP_STATUS_SUCCESS, 1000},
                      ScaledGetCase{"XZero", kX, 4, 0x00, HIDP_STATUS_SUCCESS, 0},
                      ScaledGetCase{"XOneTruncates", kX, 4, 0x01, HIDP_STATUS_SUCCESS, 7},
                      ScaledGetCase{"XMinusOne", kX, 4, 0xFF, HIDP_STATUS_SUCCESS, -8},
                      ScaledGetCase{"XBelowRange", kX, 4, 0x80, HIDP_STATUS_VALUE_OUT_OF_RANGE, 0},
                      ScaledGetCase{"HatMax", kHat, 2, 0x07, HIDP_STATUS_SUCCESS, 315},
                      ScaledGetCase{"HatOne", kHat, 2, 0x01, HIDP_STATUS_SUCCESS, 45},
                      ScaledGetCase{"HatNull", kHat, 2, 0x08, HIDP_STATUS_NULL, 0},
                      ScaledGetCase{"HatNullHighest", kHat, 2, 0x0F, HIDP_STATUS_NULL, 0},
                      ScaledGetCase{"RzWithoutPhysicalRange", kRz, 3, 0x9C, HIDP_STATUS_SUCCESS, 0x9C0}),
    [](const auto& row) { return std::string(row.param.name); });

struct ScaledSetCase {
    const char* name;
    HIDP_REPORT_TYPE type;
    USAGE page;
    USAGE usage;
    LONG value;
    NTSTATUS status;
    std::size_t byte;
    std::uint8_t raw;
};

class HidpScaledSet : public ::testing::TestWithParam<ScaledSetCase> {};

TEST_P(HidpScaledSet, ExactPoints) {
    const ScaledSetCase& c = GetParam();
    Values v(GameController(), c.type);
    EXPECT_EQ(v.SetScaled(c.page, c.usage, c.value), c.status);
    EXPECT_EQ(Byte(v.report, c.byte), c.raw);
}

// Windows' conversion: L = (LogMax - LogMin + 1) / 2, P = (PhysMax - PhysMin + 1) / 2,
// raw = LogMin + L * (value - PhysMin) / P.
INSTANTIATE_TEST_SUITE_P(
    Points, HidpScaledSet,
    ::testing::Values(
        ScaledSetCase{"XZero", HidP_Input, kPageDesktop, kX, 0, HIDP_STATUS_SUCCESS, 4, 0x00},
        ScaledSetCase{"XMax", HidP_Input, kPageDesktop, kX, 1000, HIDP_STATUS_SUCCESS, 4, 0x7F},
        ScaledSetCase{"XMin", HidP_Input, kPageDesktop, kX, -1000, HIDP_STATUS_SUCCESS, 4, 0x81},
        ScaledSetCase{"XHalfTruncates", HidP_Input, kPageDesktop, kX, 500, HIDP_STATUS_SUCCESS, 4, 63},
        ScaledSetCase{"XAbovePhysical", HidP_Input, kPageDesktop, kX, 1001, HIDP_STATUS_VALUE_OUT_OF_RANGE, 4, 0},
        ScaledSetCase{"HatMax", HidP_Input, kPageDesktop, kHat, 315, HIDP_STATUS_SUCCESS, 2, 7},
        ScaledSetCase{"HatOne", HidP_Input, kPageDesktop, kHat, 45, HIDP_STATUS_SUCCESS, 2, 1},
        // Out of range on a control with a Null State: its null value is written.
        ScaledSetCase{"HatNull", HidP_Input, kPageDesktop, kHat, 400, HIDP_STATUS_NULL, 2, 8},
        ScaledSetCase{"NoPhysicalRange", HidP_Feature, kPageVendor, 4, 50, HIDP_STATUS_SUCCESS, 19, 50},
        ScaledSetCase{"NoPhysicalRangeOutside", HidP_Feature, kPageVendor, 4, 101, HIDP_STATUS_VALUE_OUT_OF_RANGE,
                      19, 0},
        ScaledSetCase{"BadLogicalRange", HidP_Output, kPageVendor, 0x20, 7, HIDP_STATUS_BAD_LOG_PHY_VALUES, 2, 0},
        ScaledSetCase{"HalfRangeMidpoint", HidP_Output, kPageVendor, 0x21, 500, HIDP_STATUS_SUCCESS, 3, 128},
        // Windows' formula gives 256 here, which the 8-bit field would keep as 0.
        ScaledSetCase{"PhysicalMaxStaysInLogicalRange", HidP_Output, kPageVendor, 0x21, 1000, HIDP_STATUS_SUCCESS,
                      3, 255}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(HidpValues, GetScaledWithBadRangesAnswersBadLogPhyValues) {
    Values v(GameController(), HidP_Output);
    LONG value = 5;
    EXPECT_EQ(v.GetScaled(kPageVendor, 0x20, value), HIDP_STATUS_BAD_LOG_PHY_VALUES);
    EXPECT_EQ(value, 0);
}

TEST(HidpValues, ScalingExtremeThirtyTwoBitRangesNeitherOverflowsNorDividesByZero) {
    Builder b;
    b.Add({.usages = {Usage(kPageVendor, 1)}, .size = 32, .count = 1, .logicalMin = INT32_MIN,
           .logicalMax = INT32_MAX, .physicalMin = INT32_MIN, .physicalMax = INT32_MAX});
    b.Add({.usages = {Usage(kPageVendor, 2)}, .size = 8, .count = 1, .logicalMin = 3, .logicalMax = 3,
           .physicalMin = 7, .physicalMax = 7});
    Values v(b, HidP_Input);
    v.report[1] = v.report[2] = v.report[3] = static_cast<char>(0xFF);
    v.report[4] = static_cast<char>(0x7F);
    LONG value = 0;
    ASSERT_EQ(v.GetScaled(kPageVendor, 1, value), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, INT32_MAX);
    v.report[5] = 3;
    ASSERT_EQ(v.GetScaled(kPageVendor, 2, value), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(v.SetScaled(kPageVendor, 2, 7), HIDP_STATUS_BAD_LOG_PHY_VALUES);  // a one-point physical range
    EXPECT_EQ(v.SetScaled(kPageVendor, 1, INT32_MAX), HIDP_STATUS_BAD_LOG_PHY_VALUES);  // P wraps to 0
}

TEST(HidpValues, ValueArrayRoundTripsByteForByte) {
    Values v(GameController(), HidP_Feature);
    char in[4] = {1, 2, 3, 4};
    ASSERT_EQ(HidP_SetUsageValueArray(HidP_Feature, kPageVendor, 0, 1, in, 4, v.parsed.Handle(), v.report.data(),
                                      v.Length()),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Byte(v.report, 1), 1);
    EXPECT_EQ(Byte(v.report, 4), 4);
    char out[5] = {0, 0, 0, 0, 0x55};
    ASSERT_EQ(HidP_GetUsageValueArray(HidP_Feature, kPageVendor, 0, 1, out, 5, v.parsed.Handle(), v.report.data(),
                                      v.Length()),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(std::vector<char>(out, out + 5), (std::vector<char>{1, 2, 3, 4, 0x55}));
    ULONG first = 0;
    ASSERT_EQ(v.Get(kPageVendor, 1, first), HIDP_STATUS_SUCCESS);  // the first element
    EXPECT_EQ(first, 1u);
}

TEST(HidpValues, WideValueArrayMovesAllItsBits) {
    Values v(GameController(), HidP_Feature);
    std::vector<char> in(12);
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<char>(0xA0 + i);
    ASSERT_EQ(HidP_SetUsageValueArray(HidP_Feature, kPageVendor, 0, 3, in.data(), 12, v.parsed.Handle(),
                                      v.report.data(), v.Length()),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(std::vector<char>(v.report.begin() + 7, v.report.begin() + 19), in);
    std::vector<char> out(12);
    ASSERT_EQ(HidP_GetUsageValueArray(HidP_Feature, kPageVendor, 0, 3, out.data(), 12, v.parsed.Handle(),
                                      v.report.data(), v.Length()),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(out, in);
    ULONG value = 0;  // 48-bit elements do not fit ULONG
    EXPECT_EQ(v.Get(kPageVendor, 3, value), HIDP_STATUS_NOT_IMPLEMENTED);
}

struct ArrayCase {
    const char* name;
    USAGE usage;
    USHORT bufferLength;
    NTSTATUS status;
};

class HidpValueArrayStatus : public ::testing::TestWithParam<ArrayCase> {};

TEST_P(HidpValueArrayStatus, GetAndSetAgree) {
    const ArrayCase& c = GetParam();
    Values v(GameController(), HidP_Feature);
    std::vector<char> buffer(16, 0);
    EXPECT_EQ(HidP_GetUsageValueArray(HidP_Feature, kPageVendor, 0, c.usage, buffer.data(), c.bufferLength,
                                      v.parsed.Handle(), v.report.data(), v.Length()),
              c.status);
    EXPECT_EQ(HidP_SetUsageValueArray(HidP_Feature, kPageVendor, 0, c.usage, buffer.data(), c.bufferLength,
                                      v.parsed.Handle(), v.report.data(), v.Length()),
              c.status);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, HidpValueArrayStatus,
    ::testing::Values(ArrayCase{"BufferOneShort", 1, 3, HIDP_STATUS_BUFFER_TOO_SMALL},
                      ArrayCase{"NibbleElements", 2, 16, HIDP_STATUS_NOT_IMPLEMENTED},
                      ArrayCase{"SingleValue", 4, 16, HIDP_STATUS_NOT_VALUE_ARRAY},
                      ArrayCase{"ValueRange", 0x10, 16, HIDP_STATUS_NOT_VALUE_ARRAY},
                      ArrayCase{"AbsentUsage", 9, 16, HIDP_STATUS_USAGE_NOT_FOUND}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(HidpValues, ValueRangeGivesEachUsageItsOwnField) {
    Values v(GameController(), HidP_Feature);
    ASSERT_EQ(v.Set(kPageVendor, 0x11, 0x99), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Byte(v.report, 21), 0x00);
    EXPECT_EQ(Byte(v.report, 22), 0x99);
}

TEST(HidpValues, RecordBeyondTheReportIsRefusedUntouched) {
    Parsed parsed(GameController());
    parsed.data->caps.InputReportByteLength = 6;  // the slider at bytes 6-8 lies outside
    std::vector<char> report(6, 0);
    EXPECT_EQ(HidP_SetUsageValue(HidP_Input, kPageDesktop, 0, kSlider, 1, parsed.Handle(), report.data(), 6),
              HIDP_STATUS_INVALID_REPORT_LENGTH);
    ULONG value = 0;
    EXPECT_EQ(HidP_GetUsageValue(HidP_Input, kPageDesktop, 0, kSlider, &value, parsed.Handle(), report.data(), 6),
              HIDP_STATUS_INVALID_REPORT_LENGTH);
    EXPECT_EQ(report, std::vector<char>(6, 0));
}

}  // namespace
