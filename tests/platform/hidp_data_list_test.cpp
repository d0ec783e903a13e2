// Data lists and whole reports: HidP_GetData, HidP_SetData, HidP_InitializeReportForID,
// HidP_GetExtendedAttributes, the checks every report function shares, and the exports
// of "HID.DLL".
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "hidp_data_fixture.h"
#include "platform/hid/hid_library.h"
#include "platform/win/module.h"

namespace {

using namespace hidptest;

std::uint8_t Byte(const std::vector<char>& report, std::size_t i) { return static_cast<std::uint8_t>(report[i]); }

std::vector<std::pair<USHORT, ULONG>> Entries(const HIDP_DATA* list, ULONG count) {
    std::vector<std::pair<USHORT, ULONG>> entries;
    for (ULONG i = 0; i < count; ++i) entries.emplace_back(list[i].DataIndex, list[i].RawValue);
    return entries;
}

HIDP_DATA Button(USHORT index, bool on) {
    HIDP_DATA data{};
    data.DataIndex = index;
    data.On = on ? 1 : 0;
    return data;
}

HIDP_DATA Value(USHORT index, ULONG raw) {
    HIDP_DATA data{};
    data.DataIndex = index;
    data.RawValue = raw;
    return data;
}

TEST(HidpData, GetDataListsPressedButtonsAndSingleValuesInRecordOrder) {
    Parsed parsed(GameController());
    std::vector<char> report = parsed.Report(HidP_Input);
    report[1] = 0x05;                     // buttons 1 and 3
    report[2] = 0x35;                     // hat 5, Rz low nibble 3
    report[4] = static_cast<char>(0xFB);  // X
    report[5] = 0x07;                     // Y
    std::vector<HIDP_DATA> list(16);
    ULONG length = static_cast<ULONG>(list.size());
    ASSERT_EQ(HidP_GetData(HidP_Input, list.data(), &length, parsed.Handle(), report.data(),
                           static_cast<ULONG>(report.size())),
              HIDP_STATUS_SUCCESS);
    // Y is listed before X; values give an entry also when they are 0.
    std::vector<std::pair<USHORT, ULONG>> expected{{0, 1}, {2, 1}, {8, 5}, {9, 3}, {10, 7}, {11, 0xFB}, {12, 0}};
    EXPECT_EQ(Entries(list.data(), length), expected);
}

TEST(HidpData, GetDataTooSmallAnswersTheNeededCountAndFillsWhatFits) {
    Parsed parsed(GameController());
    std::vector<char> report = parsed.Report(HidP_Input);
    report[1] = 0x01;
    HIDP_DATA list[2] = {};
    ULONG length = 2;
    EXPECT_EQ(HidP_GetData(HidP_Input, list, &length, parsed.Handle(), report.data(),
                           static_cast<ULONG>(report.size())),
              HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(Entries(list, 2), (std::vector<std::pair<USHORT, ULONG>>{{0, 1}, {8, 0}}));
}

TEST(HidpData, GetDataSkipsValueArraysAndListsEveryFieldOfARange) {
    Parsed parsed(GameController());
    std::vector<char> report = parsed.Report(HidP_Feature);
    report[1] = 9;  // value array element: no entry
    report[22] = 0x42;
    std::vector<HIDP_DATA> list(8);
    ULONG length = static_cast<ULONG>(list.size());
    ASSERT_EQ(HidP_GetData(HidP_Feature, list.data(), &length, parsed.Handle(), report.data(),
                           static_cast<ULONG>(report.size())),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Entries(list.data(), length), (std::vector<std::pair<USHORT, ULONG>>{{3, 0}, {4, 0}, {5, 0x42}}));
}

TEST(HidpData, GetDataReadsOnlyTheSelectedReport) {
    Parsed parsed(GameControllerWithIds());
    std::vector<char> report = parsed.Report(HidP_Input, 1);
    report[1] = 0x02;
    std::vector<HIDP_DATA> list(16);
    ULONG length = static_cast<ULONG>(list.size());
    ASSERT_EQ(HidP_GetData(HidP_Input, list.data(), &length, parsed.Handle(), report.data(),
                           static_cast<ULONG>(report.size())),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Entries(list.data(), length), (std::vector<std::pair<USHORT, ULONG>>{{1, 1}, {8, 0}, {9, 0}}));
    report[0] = 5;
    length = static_cast<ULONG>(list.size());
    EXPECT_EQ(HidP_GetData(HidP_Input, list.data(), &length, parsed.Handle(), report.data(),
                           static_cast<ULONG>(report.size())),
              HIDP_STATUS_REPORT_DOES_NOT_EXIST);
}

TEST(HidpData, SetDataThenGetDataRoundTrips) {
    Parsed parsed(Keyboard());
    std::vector<char> report = parsed.Report(HidP_Input);
    // LeftShift (0xE1: data 1), keys 0x04 and 0x1E (data 8 + usage).
    std::vector<HIDP_DATA> in{Button(1, true), Button(8 + 0x04, true), Button(8 + 0x1E, true)};
    ULONG length = static_cast<ULONG>(in.size());
    ASSERT_EQ(HidP_SetData(HidP_Input, in.data(), &length, parsed.Handle(), report.data(),
                           static_cast<ULONG>(report.size())),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(Byte(report, 1), 0x02);
    EXPECT_EQ(Byte(report, 3), 0x05);
    EXPECT_EQ(Byte(report, 4), 0x1F);
    std::vector<HIDP_DATA> out(8);
    length = static_cast<ULONG>(out.size());
    ASSERT_EQ(HidP_GetData(HidP_Input, out.data(), &length, parsed.Handle(), report.data(),
                           static_cast<ULONG>(report.size())),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Entries(out.data(), length),
              (std::vector<std::pair<USHORT, ULONG>>{{1, 1}, {8 + 0x04, 1}, {8 + 0x1E, 1}}));
}

TEST(HidpData, SetDataOffRemovesAnArrayUsageAndShiftsLaterSlots) {
    Parsed parsed(Keyboard());
    std::vector<char> report = parsed.Report(HidP_Input);
    std::vector<HIDP_DATA> in{Button(8, true), Button(9, true), Button(8, false)};
    ULONG length = static_cast<ULONG>(in.size());
    ASSERT_EQ(HidP_SetData(HidP_Input, in.data(), &length, parsed.Handle(), report.data(),
                           static_cast<ULONG>(report.size())),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Byte(report, 3), 2);  // slots [1,2] became [2,0]
    EXPECT_EQ(Byte(report, 4), 0);
}

struct SetDataCase {
    const char* name;
    HIDP_REPORT_TYPE type;
    std::vector<HIDP_DATA> entries;
    NTSTATUS status;
    ULONG applied;
};

class HidpSetDataStops : public ::testing::TestWithParam<SetDataCase> {};

TEST_P(HidpSetDataStops, AtTheFirstFailingEntry) {
    SetDataCase c = GetParam();
    Parsed parsed(GameController());
    std::vector<char> report = parsed.Report(c.type);
    ULONG length = static_cast<ULONG>(c.entries.size());
    EXPECT_EQ(HidP_SetData(c.type, c.entries.data(), &length, parsed.Handle(), report.data(),
                           static_cast<ULONG>(report.size())),
              c.status);
    EXPECT_EQ(length, c.applied);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, HidpSetDataStops,
    ::testing::Values(SetDataCase{"UnknownIndex", HidP_Input, {Button(0, true), Value(13, 1)},
                                  HIDP_STATUS_DATA_INDEX_NOT_FOUND, 1},
                      SetDataCase{"ButtonAlreadyOff", HidP_Input, {Button(3, true), Button(3, false), Button(3, false)},
                                  HIDP_STATUS_BUTTON_NOT_PRESSED, 2},
                      SetDataCase{"ValueArray", HidP_Feature, {Value(3, 5), Value(0, 1)}, HIDP_STATUS_IS_VALUE_ARRAY,
                                  1},
                      SetDataCase{"TooWideValueArray", HidP_Feature, {Value(2, 5)}, HIDP_STATUS_IS_VALUE_ARRAY, 0},
                      SetDataCase{"AllApplied", HidP_Input, {Value(8, 3), Value(11, 0x80), Button(7, true)},
                                  HIDP_STATUS_SUCCESS, 3}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(HidpData, SetDataRespectsTheReportId) {
    Parsed parsed(GameControllerWithIds());
    std::vector<char> report = parsed.Report(HidP_Input, 2);
    HIDP_DATA entry = Button(0, true);  // button 1 lives in report 1
    ULONG length = 1;
    EXPECT_EQ(HidP_SetData(HidP_Input, &entry, &length, parsed.Handle(), report.data(),
                           static_cast<ULONG>(report.size())),
              HIDP_STATUS_INCOMPATIBLE_REPORT_ID);
    EXPECT_EQ(length, 0u);
}

TEST(HidpData, InitializeReportForIdZeroFillsAndWritesTheId) {
    Parsed parsed(GameControllerWithIds());
    std::vector<char> report(parsed.Length(HidP_Input), static_cast<char>(0xCD));
    ASSERT_EQ(HidP_InitializeReportForID(HidP_Input, 2, parsed.Handle(), report.data(),
                                         static_cast<ULONG>(report.size())),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(report, (std::vector<char>{2, 0, 0, 0, 0, 0}));
}

struct InitCase {
    const char* name;
    HIDP_REPORT_TYPE type;
    UCHAR id;
    int lengthDelta;
    NTSTATUS status;
};

class HidpInitializeReport : public ::testing::TestWithParam<InitCase> {};

TEST_P(HidpInitializeReport, RefusesWithoutTouchingTheBuffer) {
    const InitCase& c = GetParam();
    Parsed parsed(GameControllerWithIds());
    auto length = static_cast<ULONG>(static_cast<int>(parsed.Length(c.type)) + c.lengthDelta);
    std::vector<char> report(length, static_cast<char>(0xCD));
    EXPECT_EQ(HidP_InitializeReportForID(c.type, c.id, parsed.Handle(), report.data(), length), c.status);
    EXPECT_EQ(report, std::vector<char>(length, static_cast<char>(0xCD)));
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, HidpInitializeReport,
    ::testing::Values(InitCase{"LengthPlusOne", HidP_Input, 1, 1, HIDP_STATUS_INVALID_REPORT_LENGTH},
                      InitCase{"LengthMinusOne", HidP_Input, 1, -1, HIDP_STATUS_INVALID_REPORT_LENGTH},
                      InitCase{"UnknownId", HidP_Input, 3, 0, HIDP_STATUS_REPORT_DOES_NOT_EXIST},
                      InitCase{"IdZeroWhenIdsAreUsed", HidP_Input, 0, 0, HIDP_STATUS_REPORT_DOES_NOT_EXIST},
                      InitCase{"PaddingOnlyReport", HidP_Output, 3, 0, HIDP_STATUS_REPORT_DOES_NOT_EXIST}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(HidpData, ExtendedAttributesForAKnownDataIndexHaveNoUnknownGlobals) {
    Parsed parsed(GameController());
    HIDP_EXTENDED_ATTRIBUTES attributes;
    std::memset(static_cast<void*>(&attributes), 0xCD, sizeof attributes);
    ULONG length = sizeof attributes;
    ASSERT_EQ(HidP_GetExtendedAttributes(HidP_Input, 12, parsed.Handle(), &attributes, &length), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(attributes.NumGlobalUnknowns, 0);
    EXPECT_EQ(length, sizeof attributes);
    EXPECT_EQ(HidP_GetExtendedAttributes(HidP_Input, 13, parsed.Handle(), &attributes, &length),
              HIDP_STATUS_DATA_INDEX_NOT_FOUND);
    EXPECT_EQ(HidP_GetExtendedAttributes(HidP_Output, 5, parsed.Handle(), &attributes, &length),
              HIDP_STATUS_DATA_INDEX_NOT_FOUND);
    length = sizeof attributes - 1;
    EXPECT_EQ(HidP_GetExtendedAttributes(HidP_Input, 0, parsed.Handle(), &attributes, &length),
              HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(HidP_GetExtendedAttributes(static_cast<HIDP_REPORT_TYPE>(3), 0, parsed.Handle(), &attributes, &length),
              HIDP_STATUS_INVALID_REPORT_TYPE);
    EXPECT_EQ(HidP_GetExtendedAttributes(HidP_Input, 0, nullptr, &attributes, &length),
              HIDP_STATUS_INVALID_PREPARSED_DATA);
}

// The checks every report function makes before it looks at a usage.
using ReportCall = std::function<NTSTATUS(HIDP_REPORT_TYPE, PHIDP_PREPARSED_DATA, PCHAR, ULONG)>;

struct CheckCase {
    const char* name;
    ReportCall call;
};

std::vector<CheckCase> ReportFunctions() {
    static USAGE usages[1] = {1};
    static char values[8];
    static HIDP_DATA data[1] = {};
    static USAGE_AND_PAGE pairs[4];
    return {
        {"GetUsages",
         [](auto t, auto p, auto r, auto l) {
             ULONG n = 1;
             return HidP_GetUsages(t, kPageButton, 0, usages, &n, p, r, l);
         }},
        {"GetUsagesEx",
         [](auto t, auto p, auto r, auto l) {
             ULONG n = 4;
             return HidP_GetUsagesEx(t, 0, pairs, &n, p, r, l);
         }},
        {"SetUsages",
         [](auto t, auto p, auto r, auto l) {
             ULONG n = 1;
             return HidP_SetUsages(t, kPageButton, 0, usages, &n, p, r, l);
         }},
        {"UnsetUsages",
         [](auto t, auto p, auto r, auto l) {
             ULONG n = 1;
             return HidP_UnsetUsages(t, kPageButton, 0, usages, &n, p, r, l);
         }},
        {"GetUsageValue",
         [](auto t, auto p, auto r, auto l) {
             ULONG v = 0;
             return HidP_GetUsageValue(t, kPageDesktop, 0, kX, &v, p, r, l);
         }},
        {"SetUsageValue", [](auto t, auto p, auto r, auto l) { return HidP_SetUsageValue(t, kPageDesktop, 0, kX, 1, p, r, l); }},
        {"GetScaledUsageValue",
         [](auto t, auto p, auto r, auto l) {
             LONG v = 0;
             return HidP_GetScaledUsageValue(t, kPageDesktop, 0, kX, &v, p, r, l);
         }},
        {"SetScaledUsageValue",
         [](auto t, auto p, auto r, auto l) { return HidP_SetScaledUsageValue(t, kPageDesktop, 0, kX, 1, p, r, l); }},
        {"GetUsageValueArray",
         [](auto t, auto p, auto r, auto l) {
             return HidP_GetUsageValueArray(t, kPageVendor, 0, 1, values, 8, p, r, l);
         }},
        {"SetUsageValueArray",
         [](auto t, auto p, auto r, auto l) {
             return HidP_SetUsageValueArray(t, kPageVendor, 0, 1, values, 8, p, r, l);
         }},
        {"GetData",
         [](auto t, auto p, auto r, auto l) {
             ULONG n = 1;
             return HidP_GetData(t, data, &n, p, r, l);
         }},
        {"SetData",
         [](auto t, auto p, auto r, auto l) {
             ULONG n = 0;
             return HidP_SetData(t, data, &n, p, r, l);
         }},
        {"InitializeReportForID",
         [](auto t, auto p, auto r, auto l) { return HidP_InitializeReportForID(t, 0, p, r, l); }},
    };
}

class HidpCommonChecks : public ::testing::TestWithParam<CheckCase> {
protected:
    Parsed parsed{GameController()};
    std::vector<char> report = std::vector<char>(64, 0);
    ULONG InputLength() const { return parsed.Length(HidP_Input); }
};

TEST_P(HidpCommonChecks, PreparsedDataIsChecked) {
    hidparse::PreparsedData freed;
    freed.magic = 0;
    EXPECT_EQ(GetParam().call(HidP_Input, nullptr, report.data(), InputLength()), HIDP_STATUS_INVALID_PREPARSED_DATA);
    EXPECT_EQ(GetParam().call(HidP_Input, hidparse::ToHandle(&freed), report.data(), InputLength()),
              HIDP_STATUS_INVALID_PREPARSED_DATA);
}

TEST_P(HidpCommonChecks, ReportTypeIsChecked) {
    EXPECT_EQ(GetParam().call(static_cast<HIDP_REPORT_TYPE>(3), parsed.Handle(), report.data(), InputLength()),
              HIDP_STATUS_INVALID_REPORT_TYPE);
    EXPECT_EQ(GetParam().call(static_cast<HIDP_REPORT_TYPE>(-1), parsed.Handle(), report.data(), InputLength()),
              HIDP_STATUS_INVALID_REPORT_TYPE);
}

TEST_P(HidpCommonChecks, ReportLengthMustEqualTheTypesLength) {
    EXPECT_EQ(GetParam().call(HidP_Input, parsed.Handle(), report.data(), InputLength() + 1),
              HIDP_STATUS_INVALID_REPORT_LENGTH);
    EXPECT_EQ(GetParam().call(HidP_Input, parsed.Handle(), report.data(), InputLength() - 1),
              HIDP_STATUS_INVALID_REPORT_LENGTH);
    EXPECT_EQ(GetParam().call(HidP_Input, parsed.Handle(), report.data(), 0), HIDP_STATUS_INVALID_REPORT_LENGTH);
    EXPECT_EQ(report, std::vector<char>(64, 0));
}

TEST_P(HidpCommonChecks, NullReportIsRefused) {
    EXPECT_EQ(GetParam().call(HidP_Input, parsed.Handle(), nullptr, InputLength()), HIDP_STATUS_INTERNAL_ERROR);
}

INSTANTIATE_TEST_SUITE_P(Functions, HidpCommonChecks, ::testing::ValuesIn(ReportFunctions()),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(HidpData, NullCountsAndListsAreRefused) {
    Parsed parsed(GameController());
    std::vector<char> report = parsed.Report(HidP_Input);
    auto length = static_cast<ULONG>(report.size());
    ULONG count = 3;
    EXPECT_EQ(HidP_GetUsages(HidP_Input, kPageButton, 0, nullptr, &count, parsed.Handle(), report.data(), length),
              HIDP_STATUS_INTERNAL_ERROR);
    USAGE usage = 1;
    EXPECT_EQ(HidP_SetUsages(HidP_Input, kPageButton, 0, &usage, nullptr, parsed.Handle(), report.data(), length),
              HIDP_STATUS_INTERNAL_ERROR);
    EXPECT_EQ(HidP_GetData(HidP_Input, nullptr, &count, parsed.Handle(), report.data(), length), HIDP_STATUS_INTERNAL_ERROR);
    EXPECT_EQ(HidP_GetUsageValue(HidP_Input, kPageDesktop, 0, kX, nullptr, parsed.Handle(), report.data(), length),
              HIDP_STATUS_INTERNAL_ERROR);
    count = 0;  // an empty list needs no buffer
    EXPECT_EQ(HidP_GetData(HidP_Input, nullptr, &count, parsed.Handle(), report.data(), length),
              HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 5u);  // hat, Rz, Y, X, slider
}

TEST(HidpData, HidDllResolvesTheTwoEntryPointsByName) {
    hidlibrary::EnsureRegistered();
    HMODULE module = LoadLibraryW(u"HID.DLL");
    ASSERT_NE(module, nullptr);
    using Initialize = NTSTATUS (*)(HIDP_REPORT_TYPE, UCHAR, PHIDP_PREPARSED_DATA, PCHAR, ULONG);
    using Attributes = NTSTATUS (*)(HIDP_REPORT_TYPE, USHORT, PHIDP_PREPARSED_DATA, PHIDP_EXTENDED_ATTRIBUTES, PULONG);
    auto initialize = reinterpret_cast<Initialize>(GetProcAddress(module, "HidP_InitializeReportForID"));
    auto attributes = reinterpret_cast<Attributes>(GetProcAddress(module, "HidP_GetExtendedAttributes"));
    ASSERT_NE(initialize, nullptr);
    ASSERT_NE(attributes, nullptr);
    Parsed parsed(Keyboard());
    std::vector<char> report(parsed.Length(HidP_Output), 1);
    EXPECT_EQ(initialize(HidP_Output, 0, parsed.Handle(), report.data(), static_cast<ULONG>(report.size())),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(report, std::vector<char>(report.size(), 0));
    HIDP_EXTENDED_ATTRIBUTES ext{};
    ULONG length = sizeof ext;
    EXPECT_EQ(attributes(HidP_Output, 4, parsed.Handle(), &ext, &length), HIDP_STATUS_SUCCESS);
}

}  // namespace
