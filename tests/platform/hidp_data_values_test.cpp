// Values: HidP_Get/SetUsageValue, HidP_Get/SetScaledUsageValue, HidP_Get/SetUsageValueArray.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "hidp_data_fixture.h"

namespace {

using namespace hidptest;

struct Values : Device {
    using Device::Device;
    NTSTATUS Set(USAGE page, USAGE usage, ULONG value, USHORT link = 0) {
        return HidP_SetUsageValue(type, page, link, usage, value, Handle(), report.data(), Length());
    }
    NTSTATUS Get(USAGE page, USAGE usage, ULONG& value, USHORT link = 0) {
        return HidP_GetUsageValue(type, page, link, usage, &value, Handle(), report.data(), Length());
    }
    NTSTATUS SetScaled(USAGE page, USAGE usage, LONG value) {
        return HidP_SetScaledUsageValue(type, page, 0, usage, value, Handle(), report.data(), Length());
    }
    NTSTATUS GetScaled(USAGE page, USAGE usage, LONG& value) {
        return HidP_GetScaledUsageValue(type, page, 0, usage, &value, Handle(), report.data(), Length());
    }
    NTSTATUS SetArray(USAGE usage, std::vector<char>& buffer, std::size_t length = 0) {
        return HidP_SetUsageValueArray(type, kPageVendor, 0, usage, buffer.data(),
                                       static_cast<USHORT>(length ? length : buffer.size()), Handle(), report.data(),
                                       Length());
    }
    NTSTATUS GetArray(USAGE usage, std::vector<char>& buffer, std::size_t length = 0) {
        return HidP_GetUsageValueArray(type, kPageVendor, 0, usage, buffer.data(),
                                       static_cast<USHORT>(length ? length : buffer.size()), Handle(), report.data(),
                                       Length());
    }
};

// Set keeps the low BitSize bits and leaves neighbouring fields alone; Get answers raw,
// not sign-extended.
TEST(HidpValues, FieldsStraddlingBytesRoundTripWithoutDisturbingNeighbours) {
    Values v(kGameController, HidP_Input);
    v.report[8] = static_cast<char>(0xC0);  // the two padding bits above the slider
    ASSERT_EQ(v.Set(kPageDesktop, kHat, 0x1F), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(v.Byte(2), 0x0F);  // nothing spills into Rz
    ASSERT_EQ(v.Set(kPageDesktop, kRz, 0xABC), HIDP_STATUS_SUCCESS);
    ASSERT_EQ(v.Set(kPageDesktop, kX, 0xFFFFFFFBu), HIDP_STATUS_SUCCESS);  // -5
    ASSERT_EQ(v.Set(kPageDesktop, kSlider, 0x2ABCDE), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(v.report, (std::vector<char>{0, 0, '\xCF', '\xAB', '\xFB', 0, '\xDE', '\xBC', '\xEA'}));
    for (auto [usage, expected] :
         {std::pair<USAGE, ULONG>{kRz, 0xABC}, {kSlider, 0x2ABCDE}, {kHat, 0xF}, {kX, 0xFB}}) {
        ULONG value = 0;
        ASSERT_EQ(v.Get(kPageDesktop, usage, value), HIDP_STATUS_SUCCESS);
        EXPECT_EQ(value, expected) << usage;
    }
    // The link collection restricts the search; a button is no value.
    ULONG value = 0;
    EXPECT_EQ(v.Get(kPageDesktop, kY, value, 1), HIDP_STATUS_SUCCESS);
    for (auto [page, usage, link] : {std::tuple<USAGE, USAGE, USHORT>{kPageDesktop, kY, 2}, {kPageDesktop, kRz, 1}, {kPageButton, 1, 0}})
        EXPECT_EQ(v.Get(page, usage, value, link), HIDP_STATUS_USAGE_NOT_FOUND) << usage << " in " << link;
}

TEST(HidpValues, ReportByteZeroSelectsTheReport) {
    struct Row { UCHAR byteZero; USAGE usage; NTSTATUS expected; };
    for (Row row : {Row{2, kX, HIDP_STATUS_SUCCESS}, Row{0, kX, HIDP_STATUS_SUCCESS},
                    Row{1, kX, HIDP_STATUS_INCOMPATIBLE_REPORT_ID}, Row{7, kRz, HIDP_STATUS_INCOMPATIBLE_REPORT_ID},
                    Row{1, 0x38, HIDP_STATUS_USAGE_NOT_FOUND}}) {
        Values v(kGameControllerWithIds, HidP_Input, row.byteZero);
        ULONG value = 0;
        EXPECT_EQ(v.Set(kPageDesktop, row.usage, 0x12), row.expected) << int{row.byteZero} << " " << row.usage;
        EXPECT_EQ(v.Get(kPageDesktop, row.usage, value), row.expected) << int{row.byteZero} << " " << row.usage;
    }
    // Every report starts after its ID byte.
    Values v(kGameControllerWithIds, HidP_Input, 2);
    ASSERT_EQ(v.Set(kPageDesktop, kX, 0x11), HIDP_STATUS_SUCCESS);
    ASSERT_EQ(v.Set(kPageDesktop, kY, 0x22), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(v.report, (std::vector<char>{2, 0x11, 0x22, 0, 0, 0}));
    Values feature(kGameControllerWithIds, HidP_Feature, 0);  // feature report 1, byte 0 left 0
    ASSERT_EQ(feature.Set(kPageVendor, 4, 77), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(feature.Byte(1), 77);
}

// X: Logical -127..127, Physical -1000..1000, 8 bits at byte 4. Hat: Logical 0..7,
// Physical 0..315, Null State, low nibble of byte 2. Rz: no physical range.
TEST(HidpValues, GetScaledAtExactPoints) {
    struct Row { const char* name; USAGE usage; std::size_t byte; std::uint8_t raw; NTSTATUS status; LONG value; };
    const Row rows[] = {{"XMin", kX, 4, 0x81, HIDP_STATUS_SUCCESS, -1000},
                        {"XMax", kX, 4, 0x7F, HIDP_STATUS_SUCCESS, 1000},
                        {"XOneTruncates", kX, 4, 0x01, HIDP_STATUS_SUCCESS, 7},
                        {"XMinusOne", kX, 4, 0xFF, HIDP_STATUS_SUCCESS, -8},
                        {"XBelowRange", kX, 4, 0x80, HIDP_STATUS_VALUE_OUT_OF_RANGE, 0},
                        {"HatOne", kHat, 2, 0x01, HIDP_STATUS_SUCCESS, 45},
                        {"HatNull", kHat, 2, 0x08, HIDP_STATUS_NULL, 0},
                        {"RzWithoutPhysicalRange", kRz, 3, 0x9C, HIDP_STATUS_SUCCESS, 0x9C0}};
    for (const Row& row : rows) {
        Values v(kGameController, HidP_Input);
        v.report[row.byte] = static_cast<char>(row.raw);
        LONG value = 12345;
        EXPECT_EQ(v.GetScaled(kPageDesktop, row.usage, value), row.status) << row.name;
        EXPECT_EQ(value, row.value) << row.name;
    }
    Values bad(kGameController, HidP_Output);
    LONG value = 5;
    EXPECT_EQ(bad.GetScaled(kPageVendor, 0x20, value), HIDP_STATUS_BAD_LOG_PHY_VALUES);
    EXPECT_EQ(value, 0);
}

// Windows' conversion: L = (LogMax - LogMin + 1) / 2, P = (PhysMax - PhysMin + 1) / 2,
// raw = LogMin + L * (value - PhysMin) / P.
TEST(HidpValues, SetScaledAtExactPoints) {
    struct Row { const char* name; HIDP_REPORT_TYPE type; USAGE page, usage; LONG value; NTSTATUS status; std::size_t byte; std::uint8_t raw; };
    const Row rows[] = {
        {"XMax", HidP_Input, kPageDesktop, kX, 1000, HIDP_STATUS_SUCCESS, 4, 0x7F},
        {"XMin", HidP_Input, kPageDesktop, kX, -1000, HIDP_STATUS_SUCCESS, 4, 0x81},
        {"XHalfTruncates", HidP_Input, kPageDesktop, kX, 500, HIDP_STATUS_SUCCESS, 4, 63},
        {"XAbovePhysical", HidP_Input, kPageDesktop, kX, 1001, HIDP_STATUS_VALUE_OUT_OF_RANGE, 4, 0},
        {"HatOne", HidP_Input, kPageDesktop, kHat, 45, HIDP_STATUS_SUCCESS, 2, 1},
        // Out of range on a control with a Null State: its null value is written.
        {"HatNull", HidP_Input, kPageDesktop, kHat, 400, HIDP_STATUS_NULL, 2, 8},
        {"NoPhysicalRange", HidP_Feature, kPageVendor, 4, 50, HIDP_STATUS_SUCCESS, 19, 50},
        {"NoPhysicalRangeOutside", HidP_Feature, kPageVendor, 4, 101, HIDP_STATUS_VALUE_OUT_OF_RANGE, 19, 0},
        {"BadLogicalRange", HidP_Output, kPageVendor, 0x20, 7, HIDP_STATUS_BAD_LOG_PHY_VALUES, 2, 0},
        {"HalfRangeMidpoint", HidP_Output, kPageVendor, 0x21, 500, HIDP_STATUS_SUCCESS, 3, 128},
        // Windows' formula gives 256 here, which the 8-bit field would keep as 0.
        {"PhysicalMaxStaysInLogicalRange", HidP_Output, kPageVendor, 0x21, 1000, HIDP_STATUS_SUCCESS, 3, 255}};
    for (const Row& row : rows) {
        Values v(kGameController, row.type);
        EXPECT_EQ(v.SetScaled(row.page, row.usage, row.value), row.status) << row.name;
        EXPECT_EQ(v.Byte(row.byte), row.raw) << row.name;
    }
}

TEST(HidpValues, ScalingExtremeThirtyTwoBitRangesNeitherOverflowsNorDividesByZero) {
    // Value 1: 32 bits, Logical and Physical INT32_MIN..INT32_MAX; value 2: 8 bits,
    // Logical 3..3, Physical 7..7.
    Values v({0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x17, 0x00, 0x00, 0x00, 0x80, 0x27, 0xFF, 0xFF, 0xFF,
              0x7F, 0x37, 0x00, 0x00, 0x00, 0x80, 0x47, 0xFF, 0xFF, 0xFF, 0x7F, 0x75, 0x20, 0x95, 0x01, 0x09,
              0x01, 0x81, 0x02, 0x15, 0x03, 0x25, 0x03, 0x35, 0x07, 0x45, 0x07, 0x75, 0x08, 0x09, 0x02, 0x81,
              0x02, 0xC0},
             HidP_Input);
    v.report[1] = v.report[2] = v.report[3] = static_cast<char>(0xFF);
    v.report[4] = static_cast<char>(0x7F);
    LONG value = 0;
    ASSERT_EQ(v.GetScaled(kPageVendor, 1, value), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, INT32_MAX);
    v.report[5] = 3;
    ASSERT_EQ(v.GetScaled(kPageVendor, 2, value), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(v.SetScaled(kPageVendor, 2, 7), HIDP_STATUS_BAD_LOG_PHY_VALUES);          // a one-point physical range
    EXPECT_EQ(v.SetScaled(kPageVendor, 1, INT32_MAX), HIDP_STATUS_BAD_LOG_PHY_VALUES);  // P wraps to 0
}

TEST(HidpValues, ValueArraysRoundTripByteForByteAndRangesSplit) {
    Values v(kGameController, HidP_Feature);
    std::vector<char> in{1, 2, 3, 4}, out{0, 0, 0, 0, 0x55};
    ASSERT_EQ(v.SetArray(1, in), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(std::vector<char>(v.report.begin() + 1, v.report.begin() + 5), in);
    ASSERT_EQ(v.GetArray(1, out), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(out, (std::vector<char>{1, 2, 3, 4, 0x55}));
    ULONG first = 0;
    ASSERT_EQ(v.Get(kPageVendor, 1, first), HIDP_STATUS_SUCCESS);  // the first element
    EXPECT_EQ(first, 1u);
    // 48-bit elements move all their bits, but do not fit ULONG.
    std::vector<char> wide(12), back(12);
    for (std::size_t i = 0; i < wide.size(); ++i) wide[i] = static_cast<char>(0xA0 + i);
    ASSERT_EQ(v.SetArray(3, wide), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(std::vector<char>(v.report.begin() + 7, v.report.begin() + 19), wide);
    ASSERT_EQ(v.GetArray(3, back), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(back, wide);
    ULONG value = 0;
    EXPECT_EQ(v.Get(kPageVendor, 3, value), HIDP_STATUS_NOT_IMPLEMENTED);
    // Each usage of a value range has its own field.
    ASSERT_EQ(v.Set(kPageVendor, 0x11, 0x99), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(std::tuple(v.Byte(21), v.Byte(22)), std::tuple(0, 0x99));
}

TEST(HidpValues, ValueArrayRefusalsAgreeForGetAndSet) {
    struct Row { USAGE usage; std::size_t bufferLength; NTSTATUS status; };
    for (Row row : {Row{1, 3, HIDP_STATUS_BUFFER_TOO_SMALL}, Row{2, 16, HIDP_STATUS_NOT_IMPLEMENTED},  // nibbles
                    Row{4, 16, HIDP_STATUS_NOT_VALUE_ARRAY}, Row{0x10, 16, HIDP_STATUS_NOT_VALUE_ARRAY},  // a range
                    Row{9, 16, HIDP_STATUS_USAGE_NOT_FOUND}}) {
        Values v(kGameController, HidP_Feature);
        std::vector<char> buffer(16, 0);
        EXPECT_EQ(v.GetArray(row.usage, buffer, row.bufferLength), row.status) << row.usage;
        EXPECT_EQ(v.SetArray(row.usage, buffer, row.bufferLength), row.status) << row.usage;
    }
}

TEST(HidpValues, RecordBeyondTheReportIsRefusedUntouched) {
    Values v(kGameController, HidP_Input);
    v.parsed.data->caps.InputReportByteLength = 6;  // the slider at bytes 6-8 lies outside
    v.report.assign(6, 0);
    ULONG value = 0;
    EXPECT_EQ(v.Set(kPageDesktop, kSlider, 1), HIDP_STATUS_INVALID_REPORT_LENGTH);
    EXPECT_EQ(v.Get(kPageDesktop, kSlider, value), HIDP_STATUS_INVALID_REPORT_LENGTH);
    EXPECT_EQ(v.report, std::vector<char>(6, 0));
}

}  // namespace
