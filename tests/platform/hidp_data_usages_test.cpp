// Buttons: HidP_GetUsages(Ex), HidP_SetUsages, HidP_UnsetUsages, HidP_UsageListDifference.
#include <gtest/gtest.h>

#include <utility>
#include <tuple>
#include <vector>

#include "hidp_data_fixture.h"

namespace {

using namespace hidptest;

struct Buttons : Device {
    using Device::Device;
    using Call = NTSTATUS (*)(HIDP_REPORT_TYPE, USAGE, USHORT, PUSAGE, PULONG, PHIDP_PREPARSED_DATA, PCHAR, ULONG);
    // Answers the status; `failedAt` gets the count the function hands back.
    NTSTATUS Apply(Call call, USAGE page, std::vector<USAGE> usages, ULONG* failedAt = nullptr) {
        auto length = static_cast<ULONG>(usages.size());
        NTSTATUS status = call(type, page, 0, usages.data(), &length, Handle(), report.data(), Length());
        if (failedAt != nullptr) *failedAt = length;
        return status;
    }
    NTSTATUS Set(USAGE page, std::vector<USAGE> usages, ULONG* failedAt = nullptr) {
        return Apply(HidP_SetUsages, page, std::move(usages), failedAt);
    }
    NTSTATUS Unset(USAGE page, std::vector<USAGE> usages, ULONG* failedAt = nullptr) {
        return Apply(HidP_UnsetUsages, page, std::move(usages), failedAt);
    }
    std::vector<USAGE> Get(USAGE page, USHORT link = 0, NTSTATUS* status = nullptr) {
        std::vector<USAGE> list(64, 0xEEEE);
        auto length = static_cast<ULONG>(list.size());
        NTSTATUS result = HidP_GetUsages(type, page, link, list.data(), &length, Handle(), report.data(), Length());
        if (status != nullptr) *status = result;
        list.resize(result == HIDP_STATUS_SUCCESS ? length : 0);
        return list;
    }
};

TEST(HidpUsages, VariableButtonsRoundTripThroughTheirBits) {
    Buttons b(kGameController, HidP_Input);
    ASSERT_EQ(b.Set(kPageButton, {1, 3, 8}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(b.Byte(1), 0x85);
    EXPECT_EQ(b.Get(kPageButton), (std::vector<USAGE>{1, 3, 8}));
    ASSERT_EQ(b.Unset(kPageButton, {3}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(b.Byte(1), 0x81);
    ASSERT_EQ(b.Set(kPageButton, {1}), HIDP_STATUS_SUCCESS);  // set twice: on once
    EXPECT_EQ(b.Get(kPageButton), (std::vector<USAGE>{1, 8}));
    EXPECT_EQ(b.Unset(kPageButton, {4}), HIDP_STATUS_BUTTON_NOT_PRESSED);
    // A list too short gets what fits and the count needed.
    USAGE list[1] = {0};
    ULONG length = 1;
    EXPECT_EQ(HidP_GetUsages(HidP_Input, kPageButton, 0, list, &length, b.Handle(), b.report.data(), b.Length()),
              HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(std::tuple(length, list[0]), std::tuple(2u, 1));
}

TEST(HidpUsages, KeyboardModifiersAndKeysLandInTheirOwnFields) {
    Buttons b(Keyboard(), HidP_Input);
    ASSERT_EQ(b.Set(kPageKeyboard, {0xE1, 0x04, 0x05, 0xE7}), HIDP_STATUS_SUCCESS);
    // Slots hold the 1-based position in the usage list 0x00-0x65, not the usage itself;
    // the reserved byte 2 stays untouched.
    EXPECT_EQ(std::vector<char>(b.report.begin() + 1, b.report.begin() + 6), (std::vector<char>{'\x82', 0, 5, 6, 0}));
    EXPECT_EQ(b.Get(kPageKeyboard), (std::vector<USAGE>{0xE1, 0xE7, 0x04, 0x05}));
    // A full key array answers BUFFER_TOO_SMALL at the failing usage.
    Buttons full(Keyboard(), HidP_Input);
    ULONG failedAt = 99;
    EXPECT_EQ(full.Set(kPageKeyboard, {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17}, &failedAt),
              HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(std::tuple(failedAt, full.Get(kPageKeyboard).size()), std::tuple(6u, std::size_t{6}));
    // Slot values outside the usage list are not reported.
    Buttons odd(Keyboard(), HidP_Input);
    odd.report[3] = static_cast<char>(0x67);  // beyond the 0x66 usages of the list
    odd.report[4] = static_cast<char>(0x01);  // position 1: usage 0x00
    EXPECT_EQ(odd.Get(kPageKeyboard), std::vector<USAGE>{0x00});
}

TEST(HidpUsages, ArrayUsageIsWrittenAsItsPositionInTheItemsUsageList) {
    struct Row { USAGE page, usage; std::size_t byte; std::uint8_t expected; };
    // Range 0x08-0x0F with Logical Minimum 0, the list 0x8C-0x8F, and the mixed-page item.
    for (Row row : {Row{kPageVendor2, 0x08, 1, 1}, Row{kPageVendor2, 0x0F, 1, 8}, Row{kPageVendor2, 0x8E, 3, 3},
                    Row{kPageButton, 3, 5, 3}, Row{kPageVendor2, 0x20, 5, 4}}) {
        SCOPED_TRACE(testing::Message() << "usage " << row.page << ":" << row.usage);
        Buttons b(kArrays, HidP_Input);
        ASSERT_EQ(b.Set(row.page, {row.usage}), HIDP_STATUS_SUCCESS);
        EXPECT_EQ(b.Byte(row.byte), row.expected);
        EXPECT_EQ(b.Get(row.page), std::vector<USAGE>{row.usage});
    }
}

TEST(HidpUsages, ArraySlotsFillInOrderAndRemovalShiftsLaterSlotsDownAcrossBytes) {
    Buttons b(kArrays, HidP_Input);
    ASSERT_EQ(b.Set(kPageVendor2, {0x8C, 0x8E, 0x8E}), HIDP_STATUS_SUCCESS);  // one slot per usage
    EXPECT_EQ(std::tuple(b.Byte(3), b.Byte(4)), std::tuple(1, 3));
    ULONG failedAt = 99;
    EXPECT_EQ(b.Unset(kPageVendor2, {0x8C, 0x8F}, &failedAt), HIDP_STATUS_BUTTON_NOT_PRESSED);
    EXPECT_EQ(std::tuple(failedAt, b.Byte(3), b.Byte(4)), std::tuple(1u, 3, 0));
    ASSERT_EQ(b.Set(kPageVendor2, {0x8D}), HIDP_STATUS_SUCCESS);  // the freed slot is the first free one
    EXPECT_EQ(b.Byte(4), 2);
    // Four-bit slots shift across a byte boundary: slots 0 and 1 in byte 5, slot 2 in the
    // low nibble of byte 6.
    ASSERT_EQ(b.Set(kPageButton, {2, 1}), HIDP_STATUS_SUCCESS);
    ASSERT_EQ(b.Set(kPageVendor2, {0x20}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(std::tuple(b.Byte(5), b.Byte(6)), std::tuple(0x12, 0x04));
    ASSERT_EQ(b.Unset(kPageButton, {2}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(std::tuple(b.Byte(5), b.Byte(6)), std::tuple(0x41, 0x00));
    EXPECT_EQ(b.Get(kPageButton), std::vector<USAGE>{1});
}

TEST(HidpUsages, UsageOrPageAbsentAnswersUsageNotFound) {
    Buttons b(kGameController, HidP_Input);
    ULONG failedAt = 99;
    EXPECT_EQ(b.Set(kPageButton, {2, 9}, &failedAt), HIDP_STATUS_USAGE_NOT_FOUND);
    EXPECT_EQ(std::tuple(failedAt, b.Byte(1)), std::tuple(1u, 0x02));  // the usages before the failing one are set
    // Another page, no such link collection, and collection 1 (buttons live in 0).
    for (auto [page, link] : {std::pair<USAGE, USHORT>{kPageKeyboard, 0}, {kPageButton, 7}, {kPageButton, 1}}) {
        NTSTATUS status = 0;
        b.Get(page, link, &status);
        EXPECT_EQ(status, HIDP_STATUS_USAGE_NOT_FOUND) << page << " in " << link;
    }
}

TEST(HidpUsages, ReportByteZeroSelectsTheReport) {
    Buttons b(kGameControllerWithIds, HidP_Input, 2);
    EXPECT_EQ(b.Set(kPageButton, {1}), HIDP_STATUS_INCOMPATIBLE_REPORT_ID);
    b.report[0] = 1;
    ASSERT_EQ(b.Set(kPageButton, {1}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(b.Byte(1), 0x01);
    b.report[0] = 0;  // 0 matches every report ID
    EXPECT_EQ(b.Get(kPageButton), std::vector<USAGE>{1});
}

TEST(HidpUsages, GetUsagesExWalksEveryPageInRecordOrder) {
    Buttons b(kArrays, HidP_Input);
    ASSERT_EQ(b.Set(kPageVendor2, {0x0A, 0x20}), HIDP_STATUS_SUCCESS);
    ASSERT_EQ(b.Set(kPageButton, {3}), HIDP_STATUS_SUCCESS);
    std::vector<USAGE_AND_PAGE> list(8);
    auto length = static_cast<ULONG>(list.size());
    ASSERT_EQ(HidP_GetUsagesEx(HidP_Input, 0, list.data(), &length, b.Handle(), b.report.data(), b.Length()),
              HIDP_STATUS_SUCCESS);
    std::vector<std::pair<USAGE, USAGE>> got;
    for (ULONG i = 0; i < length; ++i) got.emplace_back(list[i].Usage, list[i].UsagePage);
    // The mixed item lists its last entry (0x20) first.
    EXPECT_EQ(got, (std::vector<std::pair<USAGE, USAGE>>{{0x0A, kPageVendor2}, {0x20, kPageVendor2}, {3, kPageButton}}));
}

TEST(HidpUsages, RecordsBeyondTheReportAreNeitherReadNorWritten) {
    // Preparsed data that claims a shorter report than its records need.
    Buttons b(Keyboard(), HidP_Input);
    b.parsed.data->caps.InputReportByteLength = 4;
    b.report.assign(4, 0);
    EXPECT_EQ(b.Set(kPageKeyboard, {0x04}), HIDP_STATUS_INVALID_REPORT_LENGTH);
    EXPECT_EQ(b.report, std::vector<char>(4, 0));
    NTSTATUS status = 0;
    b.Get(kPageKeyboard, 0, &status);
    EXPECT_EQ(status, HIDP_STATUS_INVALID_REPORT_LENGTH);
}

TEST(HidpUsages, UsageListDifferenceGivesBreaksAndMakes) {
    struct Row { const char* name; std::vector<USAGE> previous, current, breaks, makes; };
    const Row rows[] = {{"changed", {4, 5, 6, 0}, {5, 7, 0, 0}, {4, 6, 0, 0}, {7, 0, 0, 0}},
                        {"same", {4, 5, 0}, {5, 4, 0}, {0, 0, 0}, {0, 0, 0}},
                        {"all released", {4, 5, 6}, {0, 0, 0}, {4, 5, 6}, {0, 0, 0}},
                        {"entries after 0 ignored", {4, 0, 9}, {0, 5, 9}, {4, 0, 0}, {0, 0, 0}},
                        {"full lists without terminator", {1, 2}, {2, 3}, {1, 0}, {3, 0}}};
    for (Row row : rows) {
        auto length = static_cast<ULONG>(row.previous.size());
        std::vector<USAGE> breaks(length, 0xEEEE), makes(length, 0xEEEE);
        ASSERT_EQ(HidP_UsageListDifference(row.previous.data(), row.current.data(), breaks.data(), makes.data(), length),
                  HIDP_STATUS_SUCCESS);
        EXPECT_EQ(breaks, row.breaks) << row.name;
        EXPECT_EQ(makes, row.makes) << row.name;
        // The output may be the input list itself.
        ASSERT_EQ(HidP_UsageListDifference(row.previous.data(), row.current.data(), row.previous.data(), makes.data(),
                                           length),
                  HIDP_STATUS_SUCCESS);
        EXPECT_EQ(row.previous, row.breaks) << row.name << " in place";
    }
}

}  // namespace
