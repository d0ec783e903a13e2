// The HidP report functions (data lists, buttons, values, shared argument checks) over
// preparsed data our parser makes from the descriptors below.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

#include "parser_test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Chars = std::vector<char>;
using Usages = std::vector<USAGE>;
using Entries = std::vector<std::pair<USHORT, ULONG>>;

constexpr USAGE kPageDesktop = 0x01, kPageKeyboard = 0x07, kPageButton = 0x09;
constexpr USAGE kPageVendor = 0xFF00, kPageVendor2 = 0xFF01;
constexpr USAGE kX = 0x30, kY = 0x31, kRz = 0x35, kSlider = 0x36, kHat = 0x39;

// A game controller. Input (9 bytes): buttons 1-8 at bit 8, a 4-bit hat switch 0..7
// (physical 0..315, Null State) at 16, a 12-bit Rz at 20, X and Y (8-bit, -127..127,
// physical -1000..1000, link collection 1) at 32 and 40, a 22-bit slider at 48, 2 bits of
// padding. Data indices: buttons 0-7, hat 8, Rz 9, Y 10, X 11, slider 12.
// Feature (23 bytes): vendor value arrays 1 (8-bit x 4, bit 8), 2 (4-bit x 3, bit 40),
// 3 (48-bit x 2, bit 56), value 4 (16-bit, 0..100, bit 152), range 0x10-0x11 (8-bit x 2,
// bit 168). Output (4 bytes): LEDs 1-3, padding, usage 0x20 with Logical 10..5 (bad),
// usage 0x21 (Logical 0..255, Physical 0..1000).
const Bytes kGameController = {
    0x05, 0x01, 0x09, 0x05, 0xA1, 0x01,                                                              // game pad
    0x05, 0x09, 0x19, 0x01, 0x29, 0x08, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02,  // buttons
    0x05, 0x01, 0x09, 0x39, 0x15, 0x00, 0x25, 0x07, 0x35, 0x00, 0x46, 0x3B, 0x01, 0x75, 0x04, 0x95,  // hat
    0x01, 0x81, 0x42, 0x09, 0x35, 0x26, 0xFF, 0x0F, 0x45, 0x00, 0x75, 0x0C, 0x81, 0x02,              // Rz
    0x09, 0x01, 0xA1, 0x00, 0x09, 0x30, 0x09, 0x31, 0x15, 0x81, 0x25, 0x7F, 0x36, 0x18, 0xFC, 0x46,  // X, Y
    0xE8, 0x03, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0xC0,                                            //
    0x09, 0x36, 0x15, 0x00, 0x27, 0xFF, 0xFF, 0x3F, 0x00, 0x35, 0x00, 0x45, 0x00, 0x75, 0x16, 0x95,  // slider
    0x01, 0x81, 0x02, 0x75, 0x02, 0x81, 0x01,                                                        // padding
    0x06, 0x00, 0xFF, 0x09, 0x01, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x04, 0xB1, 0x02, 0x09, 0x02,  // feature
    0x25, 0x0F, 0x75, 0x04, 0x95, 0x03, 0xB1, 0x02, 0x95, 0x01, 0xB1, 0x01, 0x09, 0x03, 0x75, 0x30,  //
    0x95, 0x02, 0xB1, 0x02, 0x09, 0x04, 0x25, 0x64, 0x75, 0x10, 0x95, 0x01, 0xB1, 0x02,              //
    0x19, 0x10, 0x29, 0x11, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x02, 0xB1, 0x02,                    // range
    0x05, 0x08, 0x19, 0x01, 0x29, 0x03, 0x25, 0x01, 0x75, 0x01, 0x95, 0x03, 0x91, 0x02, 0x75, 0x05,  // output
    0x95, 0x01, 0x91, 0x01, 0x06, 0x00, 0xFF, 0x09, 0x20, 0x15, 0x0A, 0x25, 0x05, 0x75, 0x08, 0x91,  //
    0x02, 0x09, 0x21, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x46, 0xE8, 0x03, 0x91, 0x02, 0xC0};

// The same controller with report IDs: input report 1 holds buttons, hat and Rz (4 bytes),
// report 2 holds X, Y and the slider (6 bytes); feature report 1 holds vendor value 4;
// output report 3 holds only padding.
const Bytes kGameControllerWithIds = {
    0x05, 0x01, 0x09, 0x05, 0xA1, 0x01, 0x85, 0x01,                                                  //
    0x05, 0x09, 0x19, 0x01, 0x29, 0x08, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02,  // buttons
    0x05, 0x01, 0x09, 0x39, 0x25, 0x07, 0x35, 0x00, 0x46, 0x3B, 0x01, 0x75, 0x04, 0x95, 0x01, 0x81,  // hat
    0x42, 0x09, 0x35, 0x26, 0xFF, 0x0F, 0x45, 0x00, 0x75, 0x0C, 0x81, 0x02,                          // Rz
    0x85, 0x02, 0x09, 0x30, 0x09, 0x31, 0x15, 0x81, 0x25, 0x7F, 0x36, 0x18, 0xFC, 0x46, 0xE8, 0x03,  // X, Y
    0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0x09, 0x36, 0x15, 0x00, 0x27, 0xFF, 0xFF, 0x3F, 0x00, 0x35,  // slider
    0x00, 0x45, 0x00, 0x75, 0x16, 0x95, 0x01, 0x81, 0x02, 0x75, 0x02, 0x81, 0x01,                    // padding
    0x85, 0x01, 0x06, 0x00, 0xFF, 0x09, 0x04, 0x25, 0x64, 0x75, 0x10, 0xB1, 0x02,                    // feature 1
    0x85, 0x03, 0x75, 0x08, 0x91, 0x01, 0xC0};                                                       // output 3

// Array items. Input (7 bytes): range 0x08-0x0F with Logical 0..7 (8-bit x 2, bit 8,
// data 0-7); the list 0x8C, 0x8D, 0x8E, 0x8F (8-bit x 2, bit 24, data 8-11); buttons 1-3
// and vendor usage 0x20 on one item (4-bit x 3, bit 40, data 12-14 and 15); padding.
const Bytes kArrays = {
    0x06, 0x01, 0xFF, 0x09, 0x01, 0xA1, 0x01,                                      //
    0x15, 0x00, 0x25, 0x07, 0x75, 0x08, 0x95, 0x02, 0x19, 0x08, 0x29, 0x0F, 0x81, 0x00,
    0x15, 0x01, 0x25, 0x04, 0x09, 0x8C, 0x09, 0x8D, 0x09, 0x8E, 0x09, 0x8F, 0x81, 0x00,
    0x1B, 0x01, 0x00, 0x09, 0x00, 0x2B, 0x03, 0x00, 0x09, 0x00, 0x09, 0x20,        // buttons 1-3, 0x20
    0x75, 0x04, 0x95, 0x03, 0x81, 0x00, 0x95, 0x01, 0x81, 0x01, 0xC0};

// The boot keyboard, one of the golden descriptors. Input (9 bytes): modifiers 0xE0-0xE7
// at bit 8 (data 0-7), a reserved byte, a key array 0x00-0x65 (8-bit x 6) at bit 24
// (data 8-109). Output (2 bytes): LEDs 1-5 (data 0-4) and 3 bits of padding.
Bytes Keyboard() { return parsertest::ReadBytes(parsertest::DescriptorDir() / "boot_keyboard.bin"); }

HIDP_DATA Value(USHORT index, ULONG raw) { return {index, 0, {raw}}; }
HIDP_DATA Button(USHORT index, bool on) { return Value(index, on ? 1 : 0); }  // On shares RawValue's storage

// Parsed data with one report buffer of one type, of exactly the type's length so that
// AddressSanitizer sees any access past it, and the report calls on it.
struct Device {
    std::unique_ptr<hidparse::PreparsedData> data;
    HIDP_REPORT_TYPE type;
    Chars report;
    Device(const Bytes& descriptor, HIDP_REPORT_TYPE reportType, UCHAR id = 0)
        : data(parsertest::Parse(descriptor)), type(reportType) {
        EXPECT_NE(data, nullptr) << "descriptor refused";
        report.assign(data ? Length(type) : 0, 0);
        if (!report.empty()) report[0] = static_cast<char>(id);
    }
    ULONG Length(HIDP_REPORT_TYPE t) const {
        const HIDP_CAPS& c = data->caps;
        return t == HidP_Input ? c.InputReportByteLength : t == HidP_Output ? c.OutputReportByteLength : c.FeatureReportByteLength;
    }
    PHIDP_PREPARSED_DATA Handle() const { return hidparse::ToHandle(data.get()); }
    std::uint8_t Byte(std::size_t i) const { return static_cast<std::uint8_t>(report.at(i)); }
    template <class F, class... A>
    NTSTATUS Call(F f, A... a) { return f(type, a..., Handle(), report.data(), static_cast<ULONG>(report.size())); }

    // HidP_GetData into a list of `room` entries; answers (index, raw) pairs of what it filled.
    Entries GetData(ULONG room = 16, NTSTATUS expected = HIDP_STATUS_SUCCESS, ULONG* needed = nullptr) {
        std::vector<HIDP_DATA> list(room);
        ULONG length = room;
        EXPECT_EQ(Call(HidP_GetData, list.data(), &length), expected);
        if (needed != nullptr) *needed = length;
        Entries entries;
        for (ULONG i = 0; i < std::min(length, room); ++i) entries.emplace_back(list[i].DataIndex, list[i].RawValue);
        return entries;
    }
    NTSTATUS SetData(std::vector<HIDP_DATA> entries, ULONG* applied = nullptr) {
        auto length = static_cast<ULONG>(entries.size());
        NTSTATUS status = Call(HidP_SetData, entries.data(), &length);
        if (applied != nullptr) *applied = length;
        return status;
    }
    // HidP_SetUsages (or HidP_UnsetUsages); `failedAt` gets the count the function hands back.
    NTSTATUS Set(USAGE page, Usages usages, ULONG* failedAt = nullptr, bool unset = false) {
        auto length = static_cast<ULONG>(usages.size());
        NTSTATUS status = Call(unset ? HidP_UnsetUsages : HidP_SetUsages, page, USHORT{0}, usages.data(), &length);
        if (failedAt != nullptr) *failedAt = length;
        return status;
    }
    NTSTATUS Unset(USAGE page, Usages usages, ULONG* failedAt = nullptr) { return Set(page, usages, failedAt, true); }
    Usages Get(USAGE page, USHORT link = 0, NTSTATUS* status = nullptr) {
        Usages list(64, 0xEEEE);
        auto length = static_cast<ULONG>(list.size());
        NTSTATUS result = Call(HidP_GetUsages, page, link, list.data(), &length);
        if (status != nullptr) *status = result;
        list.resize(result == HIDP_STATUS_SUCCESS ? length : 0);
        return list;
    }
    NTSTATUS SetValue(USAGE page, USAGE u, ULONG v) { return Call(HidP_SetUsageValue, page, USHORT{0}, u, v); }
    NTSTATUS GetValue(USAGE page, USAGE u, ULONG& v, USHORT link = 0) { return Call(HidP_GetUsageValue, page, link, u, &v); }
    NTSTATUS SetScaled(USAGE page, USAGE u, LONG v) { return Call(HidP_SetScaledUsageValue, page, USHORT{0}, u, v); }
    NTSTATUS GetScaled(USAGE page, USAGE u, LONG& v) { return Call(HidP_GetScaledUsageValue, page, USHORT{0}, u, &v); }
    // HidP_Get/SetUsageValueArray of a vendor usage, over `length` bytes of `buffer` (all by default).
    template <class F>
    NTSTATUS Array(F f, USAGE usage, Chars& buffer, std::size_t length = 0) {
        return Call(f, kPageVendor, USHORT{0}, usage, buffer.data(), static_cast<USHORT>(length ? length : buffer.size()));
    }
};

TEST(HidpData, GetDataListsPressedButtonsAndSingleValuesInRecordOrderButNoValueArrays) {
    Device d(kGameController, HidP_Input);
    d.report = {0, 0x05, 0x35, 0, static_cast<char>(0xFB), 0x07, 0, 0, 0};  // buttons 1, 3; hat 5; Rz 3; X; Y
    // Y is listed before X; values give an entry also when they are 0.
    EXPECT_EQ(d.GetData(), (Entries{{0, 1}, {2, 1}, {8, 5}, {9, 3}, {10, 7}, {11, 0xFB}, {12, 0}}));
    ULONG needed = 0;
    EXPECT_EQ(d.GetData(2, HIDP_STATUS_BUFFER_TOO_SMALL, &needed), (Entries{{0, 1}, {2, 1}}));  // what fits
    EXPECT_EQ(needed, 7u);
    // Value arrays give no entry; each field of a value range gives its own.
    Device feature(kGameController, HidP_Feature);
    feature.report[1] = 9;
    feature.report[22] = 0x42;
    EXPECT_EQ(feature.GetData(), (Entries{{3, 0}, {4, 0}, {5, 0x42}}));
}

TEST(HidpData, SetDataRoundTripsAndStopsAtTheFirstFailingEntry) {
    Device d(Keyboard(), HidP_Input);
    // LeftShift (0xE1: data 1), keys 0x04 and 0x1E (data 8 + usage).
    ULONG applied = 0;
    ASSERT_EQ(d.SetData({Button(1, true), Button(8 + 0x04, true), Button(8 + 0x1E, true)}, &applied), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(applied, 3u);
    EXPECT_EQ(d.GetData(), (Entries{{1, 1}, {8 + 0x04, 1}, {8 + 0x1E, 1}}));
    // Off removes an array usage and shifts later slots: [5,0x1F] becomes [0x1F,0].
    ASSERT_EQ(d.SetData({Button(8 + 0x04, false)}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(std::tuple(d.Byte(3), d.Byte(4)), std::tuple(0x1F, 0));

    struct Row { const char* name; HIDP_REPORT_TYPE type; std::vector<HIDP_DATA> entries; NTSTATUS status; ULONG applied; };
    const Row rows[] = {
        {"unknown index", HidP_Input, {Button(0, true), Value(13, 1)}, HIDP_STATUS_DATA_INDEX_NOT_FOUND, 1},
        {"button already off", HidP_Input, {Button(3, true), Button(3, false), Button(3, false)}, HIDP_STATUS_BUTTON_NOT_PRESSED, 2},
        {"value array", HidP_Feature, {Value(3, 5), Value(0, 1)}, HIDP_STATUS_IS_VALUE_ARRAY, 1},
        {"too wide value array", HidP_Feature, {Value(2, 5)}, HIDP_STATUS_IS_VALUE_ARRAY, 0},
        {"all applied", HidP_Input, {Value(8, 3), Value(11, 0x80), Button(7, true)}, HIDP_STATUS_SUCCESS, 3}};
    for (const Row& row : rows) {
        Device g(kGameController, row.type);
        applied = 99;
        EXPECT_EQ(g.SetData(row.entries, &applied), row.status) << row.name;
        EXPECT_EQ(applied, row.applied) << row.name;
    }
}

TEST(HidpData, InitializeReportZeroFillsWithTheIdOrRefusesUntouched) {
    // The length checks are those of every report function, below.
    struct Row { const char* name; HIDP_REPORT_TYPE type; UCHAR id; NTSTATUS status; };
    const Row rows[] = {{"fits", HidP_Input, 2, HIDP_STATUS_SUCCESS},
                        {"unknown ID", HidP_Input, 3, HIDP_STATUS_REPORT_DOES_NOT_EXIST},
                        {"ID 0 when IDs are used", HidP_Input, 0, HIDP_STATUS_REPORT_DOES_NOT_EXIST},
                        {"padding-only report", HidP_Output, 3, HIDP_STATUS_REPORT_DOES_NOT_EXIST}};
    Device d(kGameControllerWithIds, HidP_Input);
    for (const Row& row : rows) {
        const ULONG length = d.Length(row.type);
        Chars report(length, static_cast<char>(0xCD));
        EXPECT_EQ(HidP_InitializeReportForID(row.type, row.id, d.Handle(), report.data(), length), row.status) << row.name;
        EXPECT_EQ(report, (row.status == HIDP_STATUS_SUCCESS ? Chars{2, 0, 0, 0, 0, 0} : Chars(length, static_cast<char>(0xCD))))
            << row.name;
    }
}

TEST(HidpData, ExtendedAttributesForAKnownDataIndexHaveNoUnknownGlobals) {
    Device d(kGameController, HidP_Input);
    HIDP_EXTENDED_ATTRIBUTES attributes;
    std::memset(static_cast<void*>(&attributes), 0xCD, sizeof attributes);
    ULONG length = sizeof attributes;
    ASSERT_EQ(HidP_GetExtendedAttributes(HidP_Input, 12, d.Handle(), &attributes, &length), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(std::tuple(attributes.NumGlobalUnknowns, length), (std::tuple<USHORT, ULONG>(0, sizeof attributes)));
    EXPECT_EQ(HidP_GetExtendedAttributes(HidP_Input, 13, d.Handle(), &attributes, &length), HIDP_STATUS_DATA_INDEX_NOT_FOUND);
    EXPECT_EQ(HidP_GetExtendedAttributes(HidP_Input, 0, nullptr, &attributes, &length), HIDP_STATUS_INVALID_PREPARSED_DATA);
    length = sizeof attributes - 1;
    EXPECT_EQ(HidP_GetExtendedAttributes(HidP_Input, 0, d.Handle(), &attributes, &length), HIDP_STATUS_BUFFER_TOO_SMALL);
}

// ---- checks all report functions share

// Byte 0 of the report selects the report, 0 matching every report ID, and each report
// starts after its ID byte. X and Y live in input report 2, buttons and Rz in 1.
TEST(HidpReports, ByteZeroSelectsTheReport) {
    struct Row { UCHAR byteZero; USAGE usage; NTSTATUS expected; };
    for (Row row : {Row{2, kX, HIDP_STATUS_SUCCESS}, Row{0, kX, HIDP_STATUS_SUCCESS},
                    Row{1, kX, HIDP_STATUS_INCOMPATIBLE_REPORT_ID}, Row{7, kRz, HIDP_STATUS_INCOMPATIBLE_REPORT_ID}}) {
        Device v(kGameControllerWithIds, HidP_Input, row.byteZero);
        ULONG value = 0;
        EXPECT_EQ(v.SetValue(kPageDesktop, row.usage, 0x12), row.expected) << int{row.byteZero} << " " << row.usage;
        EXPECT_EQ(v.GetValue(kPageDesktop, row.usage, value), row.expected) << int{row.byteZero} << " " << row.usage;
    }
    Device d(kGameControllerWithIds, HidP_Input, 2);
    ASSERT_EQ(d.SetValue(kPageDesktop, kX, 0x11), HIDP_STATUS_SUCCESS);
    ASSERT_EQ(d.SetValue(kPageDesktop, kY, 0x22), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(d.report, (Chars{2, 0x11, 0x22, 0, 0, 0}));
    EXPECT_EQ(d.Set(kPageButton, {1}), HIDP_STATUS_INCOMPATIBLE_REPORT_ID);
    ULONG applied = 99;
    EXPECT_EQ(d.SetData({Button(0, true)}, &applied), HIDP_STATUS_INCOMPATIBLE_REPORT_ID);
    EXPECT_EQ(applied, 0u);
    d.report = {1, 0, 0, 0, 0, 0};
    ASSERT_EQ(d.Set(kPageButton, {2}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(d.Byte(1), 0x02);
    EXPECT_EQ(d.GetData(), (Entries{{1, 1}, {8, 0}, {9, 0}}));
    d.report[0] = 0;
    EXPECT_EQ(d.Get(kPageButton), Usages{2});
    d.report[0] = 5;
    d.GetData(16, HIDP_STATUS_REPORT_DOES_NOT_EXIST);
    Device feature(kGameControllerWithIds, HidP_Feature, 0);  // feature report 1, byte 0 left 0
    ASSERT_EQ(feature.SetValue(kPageVendor, 4, 77), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(feature.Byte(1), 77);
}

// Preparsed data that claims a shorter report than its records need: those records are
// neither read nor written.
TEST(HidpReports, RecordsBeyondTheReportAreRefusedUntouched) {
    Device keys(Keyboard(), HidP_Input), v(kGameController, HidP_Input);
    keys.data->caps.InputReportByteLength = 4;  // the key array from byte 3 reaches past it
    keys.report.assign(4, 0);
    v.data->caps.InputReportByteLength = 6;  // the slider at bytes 6-8 lies outside
    v.report.assign(6, 0);
    NTSTATUS status = 0;
    EXPECT_EQ(keys.Set(kPageKeyboard, {0x04}), HIDP_STATUS_INVALID_REPORT_LENGTH);
    keys.Get(kPageKeyboard, 0, &status);
    EXPECT_EQ(status, HIDP_STATUS_INVALID_REPORT_LENGTH);
    ULONG value = 0;
    EXPECT_EQ(v.SetValue(kPageDesktop, kSlider, 1), HIDP_STATUS_INVALID_REPORT_LENGTH);
    EXPECT_EQ(v.GetValue(kPageDesktop, kSlider, value), HIDP_STATUS_INVALID_REPORT_LENGTH);
    EXPECT_EQ(std::tuple(keys.report, v.report), std::tuple(Chars(4, 0), Chars(6, 0)));
}

// The checks every report function makes before it looks at a usage, in this order:
// preparsed data, report type, report buffer, report length. One function per place
// that makes them: the usage queries, the usage changes, the value lookups (plain, scaled
// and array alike), the data lists and report initialisation.
using ReportCall = std::function<NTSTATUS(HIDP_REPORT_TYPE, PHIDP_PREPARSED_DATA, PCHAR, ULONG)>;

TEST(HidpData, EveryReportFunctionChecksItsArgumentsFirst) {
    static USAGE usages[1] = {1};
    static HIDP_DATA data[1] = {};
    static ULONG n, v;
    const std::pair<const char*, ReportCall> calls[] = {
        {"GetUsages", [](auto t, auto p, auto r, auto l) { return n = 1, HidP_GetUsages(t, kPageButton, 0, usages, &n, p, r, l); }},
        {"SetUsages", [](auto t, auto p, auto r, auto l) { return n = 1, HidP_SetUsages(t, kPageButton, 0, usages, &n, p, r, l); }},
        {"GetUsageValue", [](auto t, auto p, auto r, auto l) { return HidP_GetUsageValue(t, kPageDesktop, 0, kX, &v, p, r, l); }},
        {"SetData", [](auto t, auto p, auto r, auto l) { return n = 0, HidP_SetData(t, data, &n, p, r, l); }},
        {"InitializeReportForID", [](auto t, auto p, auto r, auto l) { return HidP_InitializeReportForID(t, 0, p, r, l); }},
    };
    Device d(kGameController, HidP_Input);
    hidparse::PreparsedData freed;
    freed.magic = 0;
    const ULONG length = d.Length(HidP_Input);
    Chars report(64, 0);
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        EXPECT_EQ(call(HidP_Input, nullptr, report.data(), length), HIDP_STATUS_INVALID_PREPARSED_DATA);
        EXPECT_EQ(call(HidP_Input, hidparse::ToHandle(&freed), report.data(), length), HIDP_STATUS_INVALID_PREPARSED_DATA);
        EXPECT_EQ(call(static_cast<HIDP_REPORT_TYPE>(3), d.Handle(), report.data(), length), HIDP_STATUS_INVALID_REPORT_TYPE);
        EXPECT_EQ(call(HidP_Input, d.Handle(), nullptr, length), HIDP_STATUS_INTERNAL_ERROR);
        for (ULONG bad : {length + 1, length - 1})
            EXPECT_EQ(call(HidP_Input, d.Handle(), report.data(), bad), HIDP_STATUS_INVALID_REPORT_LENGTH) << bad;
        EXPECT_EQ(report, Chars(64, 0));
    }
    // Null counts and lists are refused; an empty list needs no buffer.
    ULONG count = 3;
    USAGE usage = 1;
    EXPECT_EQ(d.Call(HidP_GetUsages, kPageButton, USHORT{0}, PUSAGE{}, &count), HIDP_STATUS_INTERNAL_ERROR);
    EXPECT_EQ(d.Call(HidP_SetUsages, kPageButton, USHORT{0}, &usage, PULONG{}), HIDP_STATUS_INTERNAL_ERROR);
    EXPECT_EQ(d.Call(HidP_GetData, PHIDP_DATA{}, &count), HIDP_STATUS_INTERNAL_ERROR);
    count = 0;
    EXPECT_EQ(d.Call(HidP_GetData, PHIDP_DATA{}, &count), HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 5u);  // hat, Rz, Y, X, slider
}

TEST(HidpUsages, VariableButtonsRoundTripThroughTheirBits) {
    Device b(kGameController, HidP_Input);
    ASSERT_EQ(b.Set(kPageButton, {1, 3, 8}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(b.Byte(1), 0x85);
    EXPECT_EQ(b.Get(kPageButton), (Usages{1, 3, 8}));
    ASSERT_EQ(b.Unset(kPageButton, {3}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(b.Byte(1), 0x81);
    ASSERT_EQ(b.Set(kPageButton, {1}), HIDP_STATUS_SUCCESS);  // set twice: on once
    EXPECT_EQ(b.Get(kPageButton), (Usages{1, 8}));
    EXPECT_EQ(b.Unset(kPageButton, {4}), HIDP_STATUS_BUTTON_NOT_PRESSED);
    // A list too short gets what fits and the count needed.
    USAGE list[1] = {0};
    ULONG length = 1;
    EXPECT_EQ(b.Call(HidP_GetUsages, kPageButton, USHORT{0}, list, &length), HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(std::tuple(length, list[0]), std::tuple(2u, 1));
    // A usage or page absent: the usages before the failing one are set.
    ULONG failedAt = 99;
    EXPECT_EQ(b.Set(kPageButton, {2, 9}, &failedAt), HIDP_STATUS_USAGE_NOT_FOUND);
    EXPECT_EQ(std::tuple(failedAt, b.Byte(1)), std::tuple(1u, 0x83));
    // Another page, and collection 1 (buttons live in 0).
    for (auto [page, link] : {std::pair<USAGE, USHORT>{kPageKeyboard, 0}, {kPageButton, 1}}) {
        NTSTATUS status = 0;
        b.Get(page, link, &status);
        EXPECT_EQ(status, HIDP_STATUS_USAGE_NOT_FOUND) << page << " in " << link;
    }
}

TEST(HidpUsages, KeyboardModifiersAndKeysLandInTheirOwnFields) {
    Device b(Keyboard(), HidP_Input);
    ASSERT_EQ(b.Set(kPageKeyboard, {0xE1, 0x04, 0x05, 0xE7}), HIDP_STATUS_SUCCESS);
    // Slots hold the 1-based position in the usage list 0x00-0x65, not the usage itself;
    // the reserved byte 2 stays untouched.
    EXPECT_EQ(Chars(b.report.begin() + 1, b.report.begin() + 6), (Chars{'\x82', 0, 5, 6, 0}));
    EXPECT_EQ(b.Get(kPageKeyboard), (Usages{0xE1, 0xE7, 0x04, 0x05}));
    // A full key array answers BUFFER_TOO_SMALL at the failing usage.
    Device full(Keyboard(), HidP_Input);
    ULONG failedAt = 99;
    EXPECT_EQ(full.Set(kPageKeyboard, {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17}, &failedAt), HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(std::tuple(failedAt, full.Get(kPageKeyboard).size()), std::tuple(6u, std::size_t{6}));
    // Slot values outside the usage list are not reported.
    Device odd(Keyboard(), HidP_Input);
    odd.report[3] = static_cast<char>(0x67);  // beyond the 0x66 usages of the list
    odd.report[4] = static_cast<char>(0x01);  // position 1: usage 0x00
    EXPECT_EQ(odd.Get(kPageKeyboard), Usages{0x00});
}

TEST(HidpUsages, ArrayUsageIsWrittenAsItsPositionInTheItemsUsageList) {
    struct Row { USAGE page, usage; std::size_t byte; std::uint8_t expected; };
    // Range 0x08-0x0F with Logical Minimum 0, the list 0x8C-0x8F, and the mixed-page item.
    for (Row row : {Row{kPageVendor2, 0x08, 1, 1}, Row{kPageVendor2, 0x0F, 1, 8}, Row{kPageVendor2, 0x8E, 3, 3},
                    Row{kPageButton, 3, 5, 3}, Row{kPageVendor2, 0x20, 5, 4}}) {
        SCOPED_TRACE(testing::Message() << "usage " << row.page << ":" << row.usage);
        Device b(kArrays, HidP_Input);
        ASSERT_EQ(b.Set(row.page, {row.usage}), HIDP_STATUS_SUCCESS);
        EXPECT_EQ(b.Byte(row.byte), row.expected);
        EXPECT_EQ(b.Get(row.page), Usages{row.usage});
    }
}

TEST(HidpUsages, ArraySlotsFillInOrderAndRemovalShiftsLaterSlotsDownAcrossBytes) {
    Device b(kArrays, HidP_Input);
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
    // GetUsagesEx walks every page in record order; the mixed item lists its last entry (0x20) first.
    std::vector<USAGE_AND_PAGE> list(8);
    auto length = static_cast<ULONG>(list.size());
    ASSERT_EQ(b.Call(HidP_GetUsagesEx, USHORT{0}, list.data(), &length), HIDP_STATUS_SUCCESS);
    std::vector<std::pair<USAGE, USAGE>> got;
    for (ULONG i = 0; i < length; ++i) got.emplace_back(list[i].Usage, list[i].UsagePage);
    EXPECT_EQ(got, (std::vector<std::pair<USAGE, USAGE>>{{0x8E, kPageVendor2}, {0x8D, kPageVendor2}, {0x20, kPageVendor2},
                                                         {2, kPageButton}, {1, kPageButton}}));
    ASSERT_EQ(b.Unset(kPageButton, {2}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(std::tuple(b.Byte(5), b.Byte(6)), std::tuple(0x41, 0x00));
    EXPECT_EQ(b.Get(kPageButton), Usages{1});
}

TEST(HidpUsages, UsageListDifferenceGivesBreaksAndMakes) {
    struct Row { const char* name; Usages previous, current, breaks, makes; };
    const Row rows[] = {{"changed", {4, 5, 6, 0}, {5, 7, 0, 0}, {4, 6, 0, 0}, {7, 0, 0, 0}},
                        {"entries after 0 ignored", {4, 0, 9}, {0, 5, 9}, {4, 0, 0}, {0, 0, 0}},
                        {"full lists without terminator", {1, 2}, {2, 3}, {1, 0}, {3, 0}}};
    for (Row row : rows) {
        SCOPED_TRACE(row.name);
        auto length = static_cast<ULONG>(row.previous.size());
        Usages breaks(length, 0xEEEE), makes(length, 0xEEEE);
        ASSERT_EQ(HidP_UsageListDifference(row.previous.data(), row.current.data(), breaks.data(), makes.data(), length),
                  HIDP_STATUS_SUCCESS);
        EXPECT_EQ(std::tuple(breaks, makes), std::tuple(row.breaks, row.makes));
        // The output may be the input list itself.
        ASSERT_EQ(HidP_UsageListDifference(row.previous.data(), row.current.data(), row.previous.data(), makes.data(), length),
                  HIDP_STATUS_SUCCESS);
        EXPECT_EQ(row.previous, row.breaks) << "in place";
    }
}

// Set keeps the low BitSize bits and leaves neighbouring fields alone; Get answers raw,
// not sign-extended.
TEST(HidpValues, FieldsStraddlingBytesRoundTripWithoutDisturbingNeighbours) {
    Device v(kGameController, HidP_Input);
    v.report[8] = static_cast<char>(0xC0);  // the two padding bits above the slider
    ASSERT_EQ(v.SetValue(kPageDesktop, kHat, 0x1F), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(v.Byte(2), 0x0F);  // nothing spills into Rz
    ASSERT_EQ(v.SetValue(kPageDesktop, kRz, 0xABC), HIDP_STATUS_SUCCESS);
    ASSERT_EQ(v.SetValue(kPageDesktop, kX, 0xFFFFFFFBu), HIDP_STATUS_SUCCESS);  // -5
    ASSERT_EQ(v.SetValue(kPageDesktop, kSlider, 0x2ABCDE), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(v.report, (Chars{0, 0, '\xCF', '\xAB', '\xFB', 0, '\xDE', '\xBC', '\xEA'}));
    // The link collection restricts the search; a button is no value.
    struct Row { USAGE page, usage; USHORT link; NTSTATUS status; ULONG value; };
    for (Row row : {Row{kPageDesktop, kRz, 0, HIDP_STATUS_SUCCESS, 0xABC}, {kPageDesktop, kSlider, 0, HIDP_STATUS_SUCCESS, 0x2ABCDE},
                    {kPageDesktop, kHat, 0, HIDP_STATUS_SUCCESS, 0xF}, {kPageDesktop, kX, 0, HIDP_STATUS_SUCCESS, 0xFB},
                    {kPageDesktop, kY, 1, HIDP_STATUS_SUCCESS, 0}, {kPageDesktop, kRz, 1, HIDP_STATUS_USAGE_NOT_FOUND, 0},
                    {kPageButton, 1, 0, HIDP_STATUS_USAGE_NOT_FOUND, 0}}) {
        ULONG value = 0;
        EXPECT_EQ(v.GetValue(row.page, row.usage, value, row.link), row.status) << row.usage << " in " << row.link;
        EXPECT_EQ(value, row.value) << row.usage << " in " << row.link;
    }
}

// X: Logical -127..127, Physical -1000..1000, 8 bits at byte 4. Hat: Logical 0..7,
// Physical 0..315, Null State, low nibble of byte 2. Rz: no physical range.
TEST(HidpValues, GetScaledAtExactPoints) {
    struct Row { const char* name; HIDP_REPORT_TYPE type; USAGE page, usage; std::size_t byte; std::uint8_t raw; NTSTATUS status; LONG value; };
    const Row rows[] = {{"XMin", HidP_Input, kPageDesktop, kX, 4, 0x81, HIDP_STATUS_SUCCESS, -1000},
                        {"XMax", HidP_Input, kPageDesktop, kX, 4, 0x7F, HIDP_STATUS_SUCCESS, 1000},
                        {"XOneTruncates", HidP_Input, kPageDesktop, kX, 4, 0x01, HIDP_STATUS_SUCCESS, 7},
                        {"XMinusOne", HidP_Input, kPageDesktop, kX, 4, 0xFF, HIDP_STATUS_SUCCESS, -8},
                        {"XBelowRange", HidP_Input, kPageDesktop, kX, 4, 0x80, HIDP_STATUS_VALUE_OUT_OF_RANGE, 0},
                        {"HatNull", HidP_Input, kPageDesktop, kHat, 2, 0x08, HIDP_STATUS_NULL, 0},
                        {"RzWithoutPhysicalRange", HidP_Input, kPageDesktop, kRz, 3, 0x9C, HIDP_STATUS_SUCCESS, 0x9C0},
                        {"BadLogicalRange", HidP_Output, kPageVendor, 0x20, 2, 0, HIDP_STATUS_BAD_LOG_PHY_VALUES, 0}};
    for (const Row& row : rows) {
        Device v(kGameController, row.type);
        v.report[row.byte] = static_cast<char>(row.raw);
        LONG value = 12345;
        EXPECT_EQ(v.GetScaled(row.page, row.usage, value), row.status) << row.name;
        EXPECT_EQ(value, row.value) << row.name;
    }
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
        // Out of range on a control with a Null State: its null value is written.
        {"HatNull", HidP_Input, kPageDesktop, kHat, 400, HIDP_STATUS_NULL, 2, 8},
        {"NoPhysicalRangeOutside", HidP_Feature, kPageVendor, 4, 101, HIDP_STATUS_VALUE_OUT_OF_RANGE, 19, 0},
        {"BadLogicalRange", HidP_Output, kPageVendor, 0x20, 7, HIDP_STATUS_BAD_LOG_PHY_VALUES, 2, 0},
        // Windows' formula gives 256 here, which the 8-bit field would keep as 0.
        {"PhysicalMaxStaysInLogicalRange", HidP_Output, kPageVendor, 0x21, 1000, HIDP_STATUS_SUCCESS, 3, 255}};
    for (const Row& row : rows) {
        Device v(kGameController, row.type);
        EXPECT_EQ(v.SetScaled(row.page, row.usage, row.value), row.status) << row.name;
        EXPECT_EQ(v.Byte(row.byte), row.raw) << row.name;
    }
}

TEST(HidpValues, ScalingExtremeThirtyTwoBitRangesNeitherOverflowsNorDividesByZero) {
    // Value 1: 32 bits, Logical and Physical INT32_MIN..INT32_MAX; value 2: 8 bits,
    // Logical 3..3, Physical 7..7.
    Device v({0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x17, 0x00, 0x00, 0x00, 0x80, 0x27, 0xFF, 0xFF, 0xFF, 0x7F, 0x37,
              0x00, 0x00, 0x00, 0x80, 0x47, 0xFF, 0xFF, 0xFF, 0x7F, 0x75, 0x20, 0x95, 0x01, 0x09, 0x01, 0x81, 0x02, 0x15,
              0x03, 0x25, 0x03, 0x35, 0x07, 0x45, 0x07, 0x75, 0x08, 0x09, 0x02, 0x81, 0x02, 0xC0},
             HidP_Input);
    v.report = {0, '\xFF', '\xFF', '\xFF', '\x7F', 3};
    LONG value = 0;
    ASSERT_EQ(v.GetScaled(kPageVendor, 1, value), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, INT32_MAX);
    ASSERT_EQ(v.GetScaled(kPageVendor, 2, value), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(v.SetScaled(kPageVendor, 2, 7), HIDP_STATUS_BAD_LOG_PHY_VALUES);          // a one-point physical range
    EXPECT_EQ(v.SetScaled(kPageVendor, 1, INT32_MAX), HIDP_STATUS_BAD_LOG_PHY_VALUES);  // P wraps to 0
}

TEST(HidpValues, ValueArraysRoundTripByteForByteAndRangesSplit) {
    Device v(kGameController, HidP_Feature);
    Chars in{1, 2, 3, 4}, out{0, 0, 0, 0, 0x55};
    ASSERT_EQ(v.Array(HidP_SetUsageValueArray, 1, in), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Chars(v.report.begin() + 1, v.report.begin() + 5), in);
    ASSERT_EQ(v.Array(HidP_GetUsageValueArray, 1, out), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(out, (Chars{1, 2, 3, 4, 0x55}));
    ULONG value = 0;
    ASSERT_EQ(v.GetValue(kPageVendor, 1, value), HIDP_STATUS_SUCCESS);  // the first element
    EXPECT_EQ(value, 1u);
    // 48-bit elements move all their bits, but do not fit ULONG.
    Chars wide(12), back(12);
    for (std::size_t i = 0; i < wide.size(); ++i) wide[i] = static_cast<char>(0xA0 + i);
    ASSERT_EQ(v.Array(HidP_SetUsageValueArray, 3, wide), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Chars(v.report.begin() + 7, v.report.begin() + 19), wide);
    ASSERT_EQ(v.Array(HidP_GetUsageValueArray, 3, back), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(back, wide);
    EXPECT_EQ(v.GetValue(kPageVendor, 3, value), HIDP_STATUS_NOT_IMPLEMENTED);
    // Each usage of a value range has its own field.
    ASSERT_EQ(v.SetValue(kPageVendor, 0x11, 0x99), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(std::tuple(v.Byte(21), v.Byte(22)), std::tuple(0, 0x99));
    // Refusals agree for get and set.
    struct Row { USAGE usage; std::size_t bufferLength; NTSTATUS status; };
    for (Row row : {Row{1, 3, HIDP_STATUS_BUFFER_TOO_SMALL}, Row{2, 16, HIDP_STATUS_NOT_IMPLEMENTED},  // nibbles
                    Row{4, 16, HIDP_STATUS_NOT_VALUE_ARRAY}, Row{0x10, 16, HIDP_STATUS_NOT_VALUE_ARRAY},  // a range
                    Row{9, 16, HIDP_STATUS_USAGE_NOT_FOUND}}) {
        Chars buffer(16, 0);
        EXPECT_EQ(v.Array(HidP_GetUsageValueArray, row.usage, buffer, row.bufferLength), row.status) << row.usage;
        EXPECT_EQ(v.Array(HidP_SetUsageValueArray, row.usage, buffer, row.bufferLength), row.status) << row.usage;
    }
}

}  // namespace
