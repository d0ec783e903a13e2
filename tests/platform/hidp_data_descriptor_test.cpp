// The report functions over preparsed data our parser builds from real descriptor bytes,
// and a check that the hand-built test layouts are the ones the parser makes of the same
// descriptors (so the other hidp_data tests speak for parsed devices too).
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "hidp_data_fixture.h"

namespace {

using namespace hidptest;

// The boot keyboard of the USB HID class definition, appendix B.1.
const std::vector<std::uint8_t> kKeyboardDescriptor = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01,
    0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08, 0x81, 0x01, 0x95, 0x05, 0x75, 0x01, 0x05, 0x08, 0x19, 0x01,
    0x29, 0x05, 0x91, 0x02, 0x95, 0x01, 0x75, 0x03, 0x91, 0x01, 0x95, 0x06, 0x75, 0x08, 0x15, 0x00, 0x25, 0x65,
    0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0};

// The game controller of hidp_data_fixture.h, GameController().
const std::vector<std::uint8_t> kGameControllerDescriptor = {
    0x05, 0x01, 0x09, 0x05, 0xA1, 0x01,                                // Application: game pad
    0x05, 0x09, 0x19, 0x01, 0x29, 0x08, 0x15, 0x00, 0x25, 0x01,        // buttons 1-8
    0x75, 0x01, 0x95, 0x08, 0x81, 0x02,                                //
    0x05, 0x01, 0x09, 0x39, 0x15, 0x00, 0x25, 0x07, 0x35, 0x00,        // hat switch, Null State
    0x46, 0x3B, 0x01, 0x75, 0x04, 0x95, 0x01, 0x81, 0x42,              //
    0x09, 0x35, 0x26, 0xFF, 0x0F, 0x45, 0x00, 0x75, 0x0C, 0x81, 0x02,  // Rz, 12 bits
    0x09, 0x01, 0xA1, 0x00,                                            // Physical: pointer
    0x09, 0x30, 0x09, 0x31, 0x15, 0x81, 0x25, 0x7F, 0x36, 0x18, 0xFC,  // X, Y
    0x46, 0xE8, 0x03, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0xC0,        //
    0x09, 0x36, 0x15, 0x00, 0x27, 0xFF, 0xFF, 0x3F, 0x00, 0x35, 0x00,  // slider, 22 bits
    0x45, 0x00, 0x75, 0x16, 0x95, 0x01, 0x81, 0x02,                    //
    0x75, 0x02, 0x81, 0x01,                                            // padding
    0x06, 0x00, 0xFF, 0x09, 0x01, 0x26, 0xFF, 0x00, 0x75, 0x08,        // feature: vendor arrays
    0x95, 0x04, 0xB1, 0x02,                                            //
    0x09, 0x02, 0x25, 0x0F, 0x75, 0x04, 0x95, 0x03, 0xB1, 0x02,        //
    0x95, 0x01, 0xB1, 0x01,                                            // padding
    0x09, 0x03, 0x75, 0x30, 0x95, 0x02, 0xB1, 0x02,                    //
    0x09, 0x04, 0x25, 0x64, 0x75, 0x10, 0x95, 0x01, 0xB1, 0x02,        // vendor value 4
    0x19, 0x10, 0x29, 0x11, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x02,  // vendor range
    0xB1, 0x02,                                                        //
    0x05, 0x08, 0x19, 0x01, 0x29, 0x03, 0x25, 0x01, 0x75, 0x01,        // output: LEDs 1-3
    0x95, 0x03, 0x91, 0x02, 0x75, 0x05, 0x95, 0x01, 0x91, 0x01,        //
    0x06, 0x00, 0xFF, 0x09, 0x20, 0x15, 0x0A, 0x25, 0x05, 0x75, 0x08,  // bad logical range
    0x91, 0x02,                                                        //
    0x09, 0x21, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x46, 0xE8, 0x03, 0x91, 0x02,
    0xC0};

std::unique_ptr<hidparse::PreparsedData> Parse(const std::vector<std::uint8_t>& descriptor) {
    std::unique_ptr<hidparse::PreparsedData> parsed;
    EXPECT_EQ(hidparse::ParseReportDescriptor(descriptor, parsed), HIDP_STATUS_SUCCESS);
    return parsed;
}

void ExpectSameLayout(const hidparse::PreparsedData& parsed, const hidparse::PreparsedData& built) {
    EXPECT_EQ(parsed.caps.InputReportByteLength, built.caps.InputReportByteLength);
    EXPECT_EQ(parsed.caps.OutputReportByteLength, built.caps.OutputReportByteLength);
    EXPECT_EQ(parsed.caps.FeatureReportByteLength, built.caps.FeatureReportByteLength);
    for (int type = 0; type < 3; ++type) {
        const auto& a = parsed.records[type];
        const auto& b = built.records[type];
        ASSERT_EQ(a.size(), b.size()) << "type " << type;
        for (std::size_t i = 0; i < a.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "type " << type << " record " << i);
            EXPECT_EQ(a[i].usagePage, b[i].usagePage);
            EXPECT_EQ(a[i].usageMin, b[i].usageMin);
            EXPECT_EQ(a[i].usageMax, b[i].usageMax);
            EXPECT_EQ(a[i].isButton, b[i].isButton);
            EXPECT_EQ(a[i].isArray, b[i].isArray);
            EXPECT_EQ(a[i].isRange, b[i].isRange);
            EXPECT_EQ(a[i].startBit, b[i].startBit);
            EXPECT_EQ(a[i].bitSize, b[i].bitSize);
            EXPECT_EQ(a[i].reportCount, b[i].reportCount);
            EXPECT_EQ(a[i].dataIndexMin, b[i].dataIndexMin);
            EXPECT_EQ(a[i].dataIndexMax, b[i].dataIndexMax);
            EXPECT_EQ(a[i].hasNull, b[i].hasNull);
            EXPECT_EQ(a[i].logicalMin, b[i].logicalMin);
            EXPECT_EQ(a[i].logicalMax, b[i].logicalMax);
            EXPECT_EQ(a[i].physicalMin, b[i].physicalMin);
            EXPECT_EQ(a[i].physicalMax, b[i].physicalMax);
            EXPECT_EQ(a[i].linkCollection, b[i].linkCollection);
            if (a[i].isArray) {
                EXPECT_EQ(a[i].arrayPosition, b[i].arrayPosition);
            }
        }
    }
}

TEST(HidpDescriptors, TestLayoutsMatchTheParser) {
    {
        SCOPED_TRACE("keyboard");
        auto parsed = Parse(kKeyboardDescriptor);
        ASSERT_NE(parsed, nullptr);
        ExpectSameLayout(*parsed, *Keyboard().Build());
    }
    {
        SCOPED_TRACE("game controller");
        auto parsed = Parse(kGameControllerDescriptor);
        ASSERT_NE(parsed, nullptr);
        ExpectSameLayout(*parsed, *GameController().Build());
    }
}

TEST(HidpDescriptors, KeyboardReportBuiltThroughParsedDataReadsBack) {
    auto parsed = Parse(kKeyboardDescriptor);
    ASSERT_NE(parsed, nullptr);
    PHIDP_PREPARSED_DATA handle = hidparse::ToHandle(parsed.get());
    std::vector<char> report(parsed->caps.InputReportByteLength, static_cast<char>(0xCD));
    auto length = static_cast<ULONG>(report.size());
    ASSERT_EQ(HidP_InitializeReportForID(HidP_Input, 0, handle, report.data(), length), HIDP_STATUS_SUCCESS);
    USAGE keys[] = {0xE0, 0x04, 0x29};
    ULONG count = 3;
    ASSERT_EQ(HidP_SetUsages(HidP_Input, kPageKeyboard, 0, keys, &count, handle, report.data(), length),
              HIDP_STATUS_SUCCESS);
    std::vector<USAGE> pressed(HidP_MaxUsageListLength(HidP_Input, kPageKeyboard, handle));
    count = static_cast<ULONG>(pressed.size());
    ASSERT_EQ(HidP_GetUsages(HidP_Input, kPageKeyboard, 0, pressed.data(), &count, handle, report.data(), length),
              HIDP_STATUS_SUCCESS);
    pressed.resize(count);
    EXPECT_EQ(pressed, (std::vector<USAGE>{0xE0, 0x04, 0x29}));
    std::vector<HIDP_DATA> data(HidP_MaxDataListLength(HidP_Input, handle));
    count = static_cast<ULONG>(data.size());
    ASSERT_EQ(HidP_GetData(HidP_Input, data.data(), &count, handle, report.data(), length), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(count, 3u);
    ULONG leds = 0;
    USAGE led = 2;
    ULONG one = 1;
    std::vector<char> output(parsed->caps.OutputReportByteLength, 0);
    ASSERT_EQ(HidP_SetUsages(HidP_Output, kPageLed, 0, &led, &one, handle, output.data(),
                             static_cast<ULONG>(output.size())),
              HIDP_STATUS_SUCCESS);
    leds = static_cast<std::uint8_t>(output[1]);
    EXPECT_EQ(leds, 0x02u);
}

TEST(HidpDescriptors, GameControllerValuesThroughParsedData) {
    auto parsed = Parse(kGameControllerDescriptor);
    ASSERT_NE(parsed, nullptr);
    PHIDP_PREPARSED_DATA handle = hidparse::ToHandle(parsed.get());
    std::vector<char> report(parsed->caps.InputReportByteLength, 0);
    auto length = static_cast<ULONG>(report.size());
    ASSERT_EQ(HidP_SetScaledUsageValue(HidP_Input, kPageDesktop, 1, kX, -1000, handle, report.data(), length),
              HIDP_STATUS_SUCCESS);
    ASSERT_EQ(HidP_SetScaledUsageValue(HidP_Input, kPageDesktop, 0, kHat, 315, handle, report.data(), length),
              HIDP_STATUS_SUCCESS);
    LONG value = 0;
    ASSERT_EQ(HidP_GetScaledUsageValue(HidP_Input, kPageDesktop, 0, kX, &value, handle, report.data(), length),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, -1000);
    ASSERT_EQ(HidP_GetScaledUsageValue(HidP_Input, kPageDesktop, 0, kHat, &value, handle, report.data(), length),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, 315);
    EXPECT_EQ(static_cast<std::uint8_t>(report[4]), 0x81);
}

}  // namespace
