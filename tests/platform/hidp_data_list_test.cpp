// Data lists and whole reports: HidP_GetData, HidP_SetData, HidP_InitializeReportForID,
// HidP_GetExtendedAttributes, and the checks every report function shares.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "hidp_data_fixture.h"

namespace {

using namespace hidptest;
using Entries = std::vector<std::pair<USHORT, ULONG>>;

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

struct Lists : Device {
    using Device::Device;
    // HidP_GetData into a list of `room` entries; answers (index, raw) pairs of what it filled.
    Entries Get(ULONG room = 16, NTSTATUS expected = HIDP_STATUS_SUCCESS, ULONG* needed = nullptr) {
        std::vector<HIDP_DATA> list(room);
        ULONG length = room;
        EXPECT_EQ(HidP_GetData(type, list.data(), &length, Handle(), report.data(), Length()), expected);
        if (needed != nullptr) *needed = length;
        Entries entries;
        for (ULONG i = 0; i < std::min(length, room); ++i) entries.emplace_back(list[i].DataIndex, list[i].RawValue);
        return entries;
    }
    NTSTATUS Set(std::vector<HIDP_DATA> entries, ULONG* applied = nullptr) {
        auto length = static_cast<ULONG>(entries.size());
        NTSTATUS status = HidP_SetData(type, entries.data(), &length, Handle(), report.data(), Length());
        if (applied != nullptr) *applied = length;
        return status;
    }
};

TEST(HidpData, GetDataListsPressedButtonsAndSingleValuesInRecordOrder) {
    Lists d(kGameController, HidP_Input);
    d.report[1] = 0x05;                     // buttons 1 and 3
    d.report[2] = 0x35;                     // hat 5, Rz low nibble 3
    d.report[4] = static_cast<char>(0xFB);  // X
    d.report[5] = 0x07;                     // Y
    // Y is listed before X; values give an entry also when they are 0.
    EXPECT_EQ(d.Get(), (Entries{{0, 1}, {2, 1}, {8, 5}, {9, 3}, {10, 7}, {11, 0xFB}, {12, 0}}));
    ULONG needed = 0;
    EXPECT_EQ(d.Get(2, HIDP_STATUS_BUFFER_TOO_SMALL, &needed), (Entries{{0, 1}, {2, 1}}));  // what fits
    EXPECT_EQ(needed, 7u);
}

TEST(HidpData, GetDataSkipsValueArraysAndListsEveryFieldOfARange) {
    Lists d(kGameController, HidP_Feature);
    d.report[1] = 9;  // value array element: no entry
    d.report[22] = 0x42;
    EXPECT_EQ(d.Get(), (Entries{{3, 0}, {4, 0}, {5, 0x42}}));
}

TEST(HidpData, GetDataAndSetDataKeepToTheSelectedReport) {
    Lists d(kGameControllerWithIds, HidP_Input, 1);
    d.report[1] = 0x02;
    EXPECT_EQ(d.Get(), (Entries{{1, 1}, {8, 0}, {9, 0}}));
    d.report[0] = 5;
    d.Get(16, HIDP_STATUS_REPORT_DOES_NOT_EXIST);
    d.report[0] = 2;
    ULONG applied = 99;
    EXPECT_EQ(d.Set({Button(0, true)}, &applied), HIDP_STATUS_INCOMPATIBLE_REPORT_ID);  // button 1 is in report 1
    EXPECT_EQ(applied, 0u);
}

TEST(HidpData, SetDataThenGetDataRoundTrips) {
    Lists d(Keyboard(), HidP_Input);
    // LeftShift (0xE1: data 1), keys 0x04 and 0x1E (data 8 + usage).
    ULONG applied = 0;
    ASSERT_EQ(d.Set({Button(1, true), Button(8 + 0x04, true), Button(8 + 0x1E, true)}, &applied), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(applied, 3u);
    EXPECT_EQ(d.Get(), (Entries{{1, 1}, {8 + 0x04, 1}, {8 + 0x1E, 1}}));
    // Off removes an array usage and shifts later slots: [5,0x1F] becomes [0x1F,0].
    ASSERT_EQ(d.Set({Button(8 + 0x04, false)}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(d.Byte(3), 0x1F);
    EXPECT_EQ(d.Byte(4), 0);
}

TEST(HidpData, SetDataStopsAtTheFirstFailingEntry) {
    struct Row { const char* name; HIDP_REPORT_TYPE type; std::vector<HIDP_DATA> entries; NTSTATUS status; ULONG applied; };
    const Row rows[] = {
        {"unknown index", HidP_Input, {Button(0, true), Value(13, 1)}, HIDP_STATUS_DATA_INDEX_NOT_FOUND, 1},
        {"button already off", HidP_Input, {Button(3, true), Button(3, false), Button(3, false)},
         HIDP_STATUS_BUTTON_NOT_PRESSED, 2},
        {"value array", HidP_Feature, {Value(3, 5), Value(0, 1)}, HIDP_STATUS_IS_VALUE_ARRAY, 1},
        {"too wide value array", HidP_Feature, {Value(2, 5)}, HIDP_STATUS_IS_VALUE_ARRAY, 0},
        {"all applied", HidP_Input, {Value(8, 3), Value(11, 0x80), Button(7, true)}, HIDP_STATUS_SUCCESS, 3}};
    for (const Row& row : rows) {
        Lists d(kGameController, row.type);
        ULONG applied = 99;
        EXPECT_EQ(d.Set(row.entries, &applied), row.status) << row.name;
        EXPECT_EQ(applied, row.applied) << row.name;
    }
}

TEST(HidpData, InitializeReportZeroFillsWithTheIdOrRefusesUntouched) {
    struct Row { const char* name; HIDP_REPORT_TYPE type; UCHAR id; int lengthDelta; NTSTATUS status; };
    const Row rows[] = {{"length + 1", HidP_Input, 1, 1, HIDP_STATUS_INVALID_REPORT_LENGTH},
                        {"length - 1", HidP_Input, 1, -1, HIDP_STATUS_INVALID_REPORT_LENGTH},
                        {"unknown ID", HidP_Input, 3, 0, HIDP_STATUS_REPORT_DOES_NOT_EXIST},
                        {"ID 0 when IDs are used", HidP_Input, 0, 0, HIDP_STATUS_REPORT_DOES_NOT_EXIST},
                        {"padding-only report", HidP_Output, 3, 0, HIDP_STATUS_REPORT_DOES_NOT_EXIST}};
    Parsed parsed(kGameControllerWithIds);
    std::vector<char> filled(parsed.Length(HidP_Input), static_cast<char>(0xCD));
    ASSERT_EQ(HidP_InitializeReportForID(HidP_Input, 2, parsed.Handle(), filled.data(), 6), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(filled, (std::vector<char>{2, 0, 0, 0, 0, 0}));
    for (const Row& row : rows) {
        auto length = static_cast<ULONG>(static_cast<int>(parsed.Length(row.type)) + row.lengthDelta);
        std::vector<char> report(length, static_cast<char>(0xCD));
        EXPECT_EQ(HidP_InitializeReportForID(row.type, row.id, parsed.Handle(), report.data(), length), row.status)
            << row.name;
        EXPECT_EQ(report, std::vector<char>(length, static_cast<char>(0xCD))) << row.name;
    }
}

TEST(HidpData, ExtendedAttributesForAKnownDataIndexHaveNoUnknownGlobals) {
    Parsed parsed(kGameController);
    HIDP_EXTENDED_ATTRIBUTES attributes;
    std::memset(static_cast<void*>(&attributes), 0xCD, sizeof attributes);
    ULONG length = sizeof attributes;
    ASSERT_EQ(HidP_GetExtendedAttributes(HidP_Input, 12, parsed.Handle(), &attributes, &length), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(attributes.NumGlobalUnknowns, 0);
    EXPECT_EQ(length, sizeof attributes);
    EXPECT_EQ(HidP_GetExtendedAttributes(HidP_Input, 13, parsed.Handle(), &attributes, &length),
              HIDP_STATUS_DATA_INDEX_NOT_FOUND);
    length = sizeof attributes - 1;
    EXPECT_EQ(HidP_GetExtendedAttributes(HidP_Input, 0, parsed.Handle(), &attributes, &length),
              HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(HidP_GetExtendedAttributes(static_cast<HIDP_REPORT_TYPE>(3), 0, parsed.Handle(), &attributes, &length),
              HIDP_STATUS_INVALID_REPORT_TYPE);
    EXPECT_EQ(HidP_GetExtendedAttributes(HidP_Input, 0, nullptr, &attributes, &length),
              HIDP_STATUS_INVALID_PREPARSED_DATA);
}

// The checks every report function makes before it looks at a usage, in this order:
// preparsed data, report type, report buffer, report length.
using ReportCall = std::function<NTSTATUS(HIDP_REPORT_TYPE, PHIDP_PREPARSED_DATA, PCHAR, ULONG)>;

TEST(HidpData, EveryReportFunctionChecksItsArgumentsFirst) {
    static USAGE usages[1] = {1};
    static char values[8];
    static HIDP_DATA data[1] = {};
    static USAGE_AND_PAGE pairs[4];
    static ULONG n, v;
    static LONG s;
    const std::pair<const char*, ReportCall> calls[] = {
        {"GetUsages", [](auto t, auto p, auto r, auto l) { return n = 1, HidP_GetUsages(t, kPageButton, 0, usages, &n, p, r, l); }},
        {"GetUsagesEx", [](auto t, auto p, auto r, auto l) { return n = 4, HidP_GetUsagesEx(t, 0, pairs, &n, p, r, l); }},
        {"SetUsages", [](auto t, auto p, auto r, auto l) { return n = 1, HidP_SetUsages(t, kPageButton, 0, usages, &n, p, r, l); }},
        {"UnsetUsages", [](auto t, auto p, auto r, auto l) { return n = 1, HidP_UnsetUsages(t, kPageButton, 0, usages, &n, p, r, l); }},
        {"GetUsageValue", [](auto t, auto p, auto r, auto l) { return HidP_GetUsageValue(t, kPageDesktop, 0, kX, &v, p, r, l); }},
        {"SetUsageValue", [](auto t, auto p, auto r, auto l) { return HidP_SetUsageValue(t, kPageDesktop, 0, kX, 1, p, r, l); }},
        {"GetScaledUsageValue", [](auto t, auto p, auto r, auto l) { return HidP_GetScaledUsageValue(t, kPageDesktop, 0, kX, &s, p, r, l); }},
        {"SetScaledUsageValue", [](auto t, auto p, auto r, auto l) { return HidP_SetScaledUsageValue(t, kPageDesktop, 0, kX, 1, p, r, l); }},
        {"GetUsageValueArray", [](auto t, auto p, auto r, auto l) { return HidP_GetUsageValueArray(t, kPageVendor, 0, 1, values, 8, p, r, l); }},
        {"SetUsageValueArray", [](auto t, auto p, auto r, auto l) { return HidP_SetUsageValueArray(t, kPageVendor, 0, 1, values, 8, p, r, l); }},
        {"GetData", [](auto t, auto p, auto r, auto l) { return n = 1, HidP_GetData(t, data, &n, p, r, l); }},
        {"SetData", [](auto t, auto p, auto r, auto l) { return n = 0, HidP_SetData(t, data, &n, p, r, l); }},
        {"InitializeReportForID", [](auto t, auto p, auto r, auto l) { return HidP_InitializeReportForID(t, 0, p, r, l); }},
    };
    Parsed parsed(kGameController);
    hidparse::PreparsedData freed;
    freed.magic = 0;
    const ULONG length = parsed.Length(HidP_Input);
    std::vector<char> report(64, 0);
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        EXPECT_EQ(call(HidP_Input, nullptr, report.data(), length), HIDP_STATUS_INVALID_PREPARSED_DATA);
        EXPECT_EQ(call(HidP_Input, hidparse::ToHandle(&freed), report.data(), length), HIDP_STATUS_INVALID_PREPARSED_DATA);
        for (int type : {3, -1})
            EXPECT_EQ(call(static_cast<HIDP_REPORT_TYPE>(type), parsed.Handle(), report.data(), length),
                      HIDP_STATUS_INVALID_REPORT_TYPE);
        EXPECT_EQ(call(HidP_Input, parsed.Handle(), nullptr, length), HIDP_STATUS_INTERNAL_ERROR);
        for (ULONG bad : {length + 1, length - 1, ULONG{0}})
            EXPECT_EQ(call(HidP_Input, parsed.Handle(), report.data(), bad), HIDP_STATUS_INVALID_REPORT_LENGTH) << bad;
        EXPECT_EQ(report, std::vector<char>(64, 0));
    }
}

TEST(HidpData, NullCountsAndListsAreRefused) {
    Lists d(kGameController, HidP_Input);
    ULONG count = 3;
    USAGE usage = 1;
    EXPECT_EQ(HidP_GetUsages(HidP_Input, kPageButton, 0, nullptr, &count, d.Handle(), d.report.data(), d.Length()),
              HIDP_STATUS_INTERNAL_ERROR);
    EXPECT_EQ(HidP_SetUsages(HidP_Input, kPageButton, 0, &usage, nullptr, d.Handle(), d.report.data(), d.Length()),
              HIDP_STATUS_INTERNAL_ERROR);
    EXPECT_EQ(HidP_GetData(HidP_Input, nullptr, &count, d.Handle(), d.report.data(), d.Length()),
              HIDP_STATUS_INTERNAL_ERROR);
    count = 0;  // an empty list needs no buffer
    EXPECT_EQ(HidP_GetData(HidP_Input, nullptr, &count, d.Handle(), d.report.data(), d.Length()),
              HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 5u);  // hat, Rz, Y, X, slider
}

}  // namespace
