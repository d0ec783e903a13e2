// Buttons: HidP_GetUsages(Ex), HidP_SetUsages, HidP_UnsetUsages, HidP_UsageListDifference.
#include <gtest/gtest.h>

#include <vector>

#include "hidp_data_fixture.h"

namespace {

using namespace hidptest;

std::uint8_t Byte(const std::vector<char>& report, std::size_t i) { return static_cast<std::uint8_t>(report[i]); }

struct Buttons {
    Parsed parsed;
    std::vector<char> report;
    Buttons(const Builder& builder, HIDP_REPORT_TYPE type, UCHAR id = 0)
        : parsed(builder), report(parsed.Report(type, id)), type_(type) {}

    NTSTATUS Set(USAGE page, std::vector<USAGE> usages, ULONG* failedAt = nullptr, USHORT link = 0) {
        ULONG length = static_cast<ULONG>(usages.size());
        NTSTATUS status = HidP_SetUsages(type_, page, link, usages.data(), &length, parsed.Handle(), report.data(),
                                         static_cast<ULONG>(report.size()));
        if (failedAt != nullptr) *failedAt = length;
        return status;
    }
    NTSTATUS Unset(USAGE page, std::vector<USAGE> usages, ULONG* failedAt = nullptr) {
        ULONG length = static_cast<ULONG>(usages.size());
        NTSTATUS status = HidP_UnsetUsages(type_, page, 0, usages.data(), &length, parsed.Handle(), report.data(),
                                           static_cast<ULONG>(report.size()));
        if (failedAt != nullptr) *failedAt = length;
        return status;
    }
    std::vector<USAGE> Get(USAGE page, USHORT link = 0, NTSTATUS* status = nullptr) {
        std::vector<USAGE> list(64, 0xEEEE);
        ULONG length = static_cast<ULONG>(list.size());
        NTSTATUS result = HidP_GetUsages(type_, page, link, list.data(), &length, parsed.Handle(), report.data(),
                                         static_cast<ULONG>(report.size()));
        if (status != nullptr) *status = result;
        list.resize(result == HIDP_STATUS_SUCCESS ? length : 0);
        return list;
    }

private:
    HIDP_REPORT_TYPE type_;
};

TEST(HidpUsages, VariableButtonsRoundTripThroughTheirBits) {
    Buttons b(GameController(), HidP_Input);
    ASSERT_EQ(b.Set(kPageButton, {1, 3, 8}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Byte(b.report, 1), 0x85);
    EXPECT_EQ(b.Get(kPageButton), (std::vector<USAGE>{1, 3, 8}));
    ASSERT_EQ(b.Unset(kPageButton, {3}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Byte(b.report, 1), 0x81);
    // Setting a button twice leaves it on once.
    ASSERT_EQ(b.Set(kPageButton, {1}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(b.Get(kPageButton), (std::vector<USAGE>{1, 8}));
}

TEST(HidpUsages, KeyboardModifiersAndKeysLandInTheirOwnFields) {
    Buttons b(Keyboard(), HidP_Input);
    ASSERT_EQ(b.Set(kPageKeyboard, {0xE1, 0x04, 0x05, 0xE7}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Byte(b.report, 1), 0x82);
    EXPECT_EQ(Byte(b.report, 2), 0x00);  // the reserved byte stays untouched
    // Slots hold the 1-based position in the usage list 0x00-0x65, not the usage itself.
    EXPECT_EQ(Byte(b.report, 3), 0x05);
    EXPECT_EQ(Byte(b.report, 4), 0x06);
    EXPECT_EQ(Byte(b.report, 5), 0x00);
    EXPECT_EQ(b.Get(kPageKeyboard), (std::vector<USAGE>{0xE1, 0xE7, 0x04, 0x05}));
}

TEST(HidpUsages, KeyArrayFullAnswersBufferTooSmallAtTheFailingUsage) {
    Buttons b(Keyboard(), HidP_Input);
    ULONG failedAt = 99;
    EXPECT_EQ(b.Set(kPageKeyboard, {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17}, &failedAt),
              HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(failedAt, 6u);
    EXPECT_EQ(b.Get(kPageKeyboard).size(), 6u);
}

struct SlotCase {
    const char* name;
    USAGE page;
    USAGE usage;
    std::size_t byte;
    std::uint8_t expected;
};

class HidpArraySlots : public ::testing::TestWithParam<SlotCase> {};

TEST_P(HidpArraySlots, UsageIsWrittenAsItsPositionInTheItemsUsageList) {
    const SlotCase& c = GetParam();
    Buttons b(Arrays(), HidP_Input);
    ASSERT_EQ(b.Set(c.page, {c.usage}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Byte(b.report, c.byte), c.expected);
    EXPECT_EQ(b.Get(c.page), std::vector<USAGE>{c.usage});
}

INSTANTIATE_TEST_SUITE_P(
    Positions, HidpArraySlots,
    ::testing::Values(SlotCase{"RangeWithLogicalMinZero", kPageVendor2, 0x09, 1, 2},
                      SlotCase{"RangeFirst", kPageVendor2, 0x08, 1, 1},
                      SlotCase{"RangeLast", kPageVendor2, 0x0F, 1, 8},
                      SlotCase{"ListThird", kPageVendor2, 0x8E, 3, 3},
                      SlotCase{"ListFirst", kPageVendor2, 0x8C, 3, 1},
                      SlotCase{"MixedPagesButton", kPageButton, 3, 5, 0x03},
                      SlotCase{"MixedPagesAfterTheRange", kPageVendor2, 0x20, 5, 0x04}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(HidpUsages, ArraySlotsFillInOrderAndRemovalShiftsLaterSlotsDown) {
    Buttons b(Arrays(), HidP_Input);
    ASSERT_EQ(b.Set(kPageVendor2, {0x8C, 0x8E}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Byte(b.report, 3), 1);
    EXPECT_EQ(Byte(b.report, 4), 3);
    ASSERT_EQ(b.Unset(kPageVendor2, {0x8C}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Byte(b.report, 3), 3);
    EXPECT_EQ(Byte(b.report, 4), 0);
    // The freed slot is the first free one again.
    ASSERT_EQ(b.Set(kPageVendor2, {0x8D}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Byte(b.report, 4), 2);
}

TEST(HidpUsages, FourBitSlotsShiftAcrossByteBoundaries) {
    Buttons b(Arrays(), HidP_Input);
    ASSERT_EQ(b.Set(kPageButton, {2, 1}), HIDP_STATUS_SUCCESS);
    ASSERT_EQ(b.Set(kPageVendor2, {0x20}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Byte(b.report, 5), 0x12);  // slots 0 and 1
    EXPECT_EQ(Byte(b.report, 6), 0x04);  // slot 2, the low nibble of the next byte
    ASSERT_EQ(b.Unset(kPageButton, {2}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Byte(b.report, 5), 0x41);
    EXPECT_EQ(Byte(b.report, 6), 0x00);
    EXPECT_EQ(b.Get(kPageButton), std::vector<USAGE>{1});
    EXPECT_EQ(b.Get(kPageVendor2), std::vector<USAGE>{0x20});
}

TEST(HidpUsages, ArrayKeepsOneSlotPerUsage) {
    Buttons b(Arrays(), HidP_Input);
    ASSERT_EQ(b.Set(kPageVendor2, {0x8D, 0x8D}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Byte(b.report, 4), 0);
    ASSERT_EQ(b.Unset(kPageVendor2, {0x8D}), HIDP_STATUS_SUCCESS);
    EXPECT_TRUE(b.Get(kPageVendor2).empty());
}

TEST(HidpUsages, UnsettingAButtonThatIsOffAnswersButtonNotPressed) {
    Buttons array(Arrays(), HidP_Input);
    ULONG failedAt = 99;
    ASSERT_EQ(array.Set(kPageVendor2, {0x8C}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(array.Unset(kPageVendor2, {0x8C, 0x8F}, &failedAt), HIDP_STATUS_BUTTON_NOT_PRESSED);
    EXPECT_EQ(failedAt, 1u);
    Buttons variable(GameController(), HidP_Input);
    EXPECT_EQ(variable.Unset(kPageButton, {4}), HIDP_STATUS_BUTTON_NOT_PRESSED);
}

TEST(HidpUsages, ArraySlotValuesOutsideTheUsageListAreNotReported) {
    Buttons b(Keyboard(), HidP_Input);
    b.report[3] = static_cast<char>(0x67);  // beyond the 0x66 usages of the list
    b.report[4] = static_cast<char>(0x01);  // position 1: usage 0x00
    EXPECT_EQ(b.Get(kPageKeyboard), std::vector<USAGE>{0x00});
}

TEST(HidpUsages, UsageOrPageAbsentAnswersUsageNotFound) {
    Buttons b(GameController(), HidP_Input);
    ULONG failedAt = 99;
    EXPECT_EQ(b.Set(kPageButton, {2, 9}, &failedAt), HIDP_STATUS_USAGE_NOT_FOUND);
    EXPECT_EQ(failedAt, 1u);
    EXPECT_EQ(Byte(b.report, 1), 0x02);  // the usages before the failing one are set
    NTSTATUS status = 0;
    b.Get(kPageKeyboard, 0, &status);
    EXPECT_EQ(status, HIDP_STATUS_USAGE_NOT_FOUND);
    b.Get(kPageButton, 7, &status);  // no such link collection
    EXPECT_EQ(status, HIDP_STATUS_USAGE_NOT_FOUND);
    b.Get(kPageButton, 1, &status);  // buttons live in collection 0, not 1
    EXPECT_EQ(status, HIDP_STATUS_USAGE_NOT_FOUND);
}

TEST(HidpUsages, ReportByteZeroSelectsTheReport) {
    Buttons b(GameControllerWithIds(), HidP_Input, 2);
    EXPECT_EQ(b.Set(kPageButton, {1}), HIDP_STATUS_INCOMPATIBLE_REPORT_ID);
    NTSTATUS status = 0;
    b.Get(kPageButton, 0, &status);
    EXPECT_EQ(status, HIDP_STATUS_INCOMPATIBLE_REPORT_ID);
    b.report[0] = 1;
    ASSERT_EQ(b.Set(kPageButton, {1}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Byte(b.report, 1), 0x01);
    b.report[0] = 0;  // 0 matches every report ID
    EXPECT_EQ(b.Get(kPageButton), std::vector<USAGE>{1});
}

TEST(HidpUsages, GetUsagesTooSmallAnswersTheNeededCountAndFillsWhatFits) {
    Buttons b(GameController(), HidP_Input);
    ASSERT_EQ(b.Set(kPageButton, {2, 4, 6}), HIDP_STATUS_SUCCESS);
    USAGE list[2] = {0, 0};
    ULONG length = 2;
    EXPECT_EQ(HidP_GetUsages(HidP_Input, kPageButton, 0, list, &length, b.parsed.Handle(), b.report.data(),
                             static_cast<ULONG>(b.report.size())),
              HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(list[0], 2);
    EXPECT_EQ(list[1], 4);
}

TEST(HidpUsages, GetUsagesExWalksEveryPageInRecordOrder) {
    Buttons b(Arrays(), HidP_Input);
    ASSERT_EQ(b.Set(kPageVendor2, {0x0A, 0x20}), HIDP_STATUS_SUCCESS);
    ASSERT_EQ(b.Set(kPageButton, {3}), HIDP_STATUS_SUCCESS);
    std::vector<USAGE_AND_PAGE> list(8);
    ULONG length = static_cast<ULONG>(list.size());
    ASSERT_EQ(HidP_GetUsagesEx(HidP_Input, 0, list.data(), &length, b.parsed.Handle(), b.report.data(),
                               static_cast<ULONG>(b.report.size())),
              HIDP_STATUS_SUCCESS);
    ASSERT_EQ(length, 3u);
    // The mixed item lists its last entry (0x20) first.
    EXPECT_EQ(list[0].Usage, 0x0A);
    EXPECT_EQ(list[0].UsagePage, kPageVendor2);
    EXPECT_EQ(list[1].Usage, 0x20);
    EXPECT_EQ(list[1].UsagePage, kPageVendor2);
    EXPECT_EQ(list[2].Usage, 3);
    EXPECT_EQ(list[2].UsagePage, kPageButton);
}

TEST(HidpUsages, RecordsBeyondTheReportAreNeitherReadNorWritten) {
    // Preparsed data that claims a shorter report than its records need.
    Parsed parsed(Keyboard());
    parsed.data->caps.InputReportByteLength = 4;
    std::vector<char> report(4, 0);
    USAGE usage = 0x04;
    ULONG length = 1;
    EXPECT_EQ(HidP_SetUsages(HidP_Input, kPageKeyboard, 0, &usage, &length, parsed.Handle(), report.data(), 4),
              HIDP_STATUS_INVALID_REPORT_LENGTH);
    EXPECT_EQ(report, std::vector<char>(4, 0));
    USAGE list[8];
    length = 8;
    EXPECT_EQ(HidP_GetUsages(HidP_Input, kPageKeyboard, 0, list, &length, parsed.Handle(), report.data(), 4),
              HIDP_STATUS_INVALID_REPORT_LENGTH);
}

struct DifferenceCase {
    const char* name;
    std::vector<USAGE> previous, current, breaks, makes;
};

class HidpUsageListDifference : public ::testing::TestWithParam<DifferenceCase> {};

TEST_P(HidpUsageListDifference, BreaksAndMakes) {
    DifferenceCase c = GetParam();
    auto length = static_cast<ULONG>(c.previous.size());
    std::vector<USAGE> breaks(length, 0xEEEE), makes(length, 0xEEEE);
    ASSERT_EQ(HidP_UsageListDifference(c.previous.data(), c.current.data(), breaks.data(), makes.data(), length),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(breaks, c.breaks);
    EXPECT_EQ(makes, c.makes);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, HidpUsageListDifference,
    ::testing::Values(DifferenceCase{"Changed", {4, 5, 6, 0}, {5, 7, 0, 0}, {4, 6, 0, 0}, {7, 0, 0, 0}},
                      DifferenceCase{"Same", {4, 5, 0}, {5, 4, 0}, {0, 0, 0}, {0, 0, 0}},
                      DifferenceCase{"AllReleased", {4, 5, 6}, {0, 0, 0}, {4, 5, 6}, {0, 0, 0}},
                      DifferenceCase{"EntriesAfterZeroIgnored", {4, 0, 9}, {0, 5, 9}, {4, 0, 0}, {0, 0, 0}},
                      DifferenceCase{"FullListsWithoutTerminator", {1, 2}, {2, 3}, {1, 0}, {3, 0}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(HidpUsages, UsageListDifferenceMayWriteOverItsInput) {
    std::vector<USAGE> previous{4, 5, 0}, current{5, 6, 0}, makes(3);
    ASSERT_EQ(HidP_UsageListDifference(previous.data(), current.data(), previous.data(), makes.data(), 3),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(previous, (std::vector<USAGE>{4, 0, 0}));
    EXPECT_EQ(makes, (std::vector<USAGE>{6, 0, 0}));
}

}  // namespace
