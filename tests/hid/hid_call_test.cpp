// The dispatcher against a virtual device, PrepareHidCall's capability guard, and the value-array packing.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "platform/win/win_error.h"
#include "support/host_fixture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class Dispatcher : public testsupport::HostFixture, protected testsupport::CallRunner {
protected:
    void SetUp() override {
        publication = Publish(0x1209, 0x0077, testsupport::VendorDescriptor({259, 64, 63}, {256, 64, 63}), device);
        Press("1209", "0077");
        ASSERT_EQ(host.IsDeviceOpen(), 1);
    }

    HidCall OnDevice(ULONG reportType = 0, ULONG listLength = 0) {
        return HidCall{.handle = host.OpenedDevice().handle, .reportType = reportType,
                       .preparsedData = host.OpenedDevice().preparsedData, .listLength = listLength};
    }

    std::shared_ptr<testsupport::RecordingDevice> device = std::make_shared<testsupport::RecordingDevice>();
    std::unique_ptr<vhid::Publication> publication;
};

TEST_F(Dispatcher, CodesWithoutAnOperationReturnZeroAndLeaveTheFlagClear) {
    for (std::int32_t code : {0, 2, 3, 4, 45, 49, 52, -1, -100000, 1000}) {
        result = {7, 0x1234};
        EXPECT_EQ(Do(code, OnDevice(), -1).list, nullptr) << code;
        EXPECT_EQ(std::tuple(result.errorFlag, result.status), std::tuple(0u, 0x1234u)) << code;
    }
    EXPECT_TRUE(device->Transfers().empty());
}

TEST_F(Dispatcher, InputRequestLengthReachesTheDeviceAndTheAnswerStaysInTheBuffer) {
    device->inputAnswer.assign(4000, 0xAB);  // an over-long answer
    HidCall call;
    host.PrepareHidCall(call, ReportSelector{0, 1, 0x0A, 0x02}, nullptr);
    Do(HidCallGetInputReport, call, 0);
    auto transfers = device->Transfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(std::tuple(transfers[0].reportId, transfers[0].length), std::tuple(5, 0x0A41u));
    // Under AddressSanitizer an overrun of the 257-byte input report would abort here.
    EXPECT_EQ(host.OpenedDevice().Tables(HidP_Input).report[0], 0xAB);
    EXPECT_EQ(host.OpenedDevice().Tables(HidP_Input).report[host.OpenedDevice().caps.InputReportByteLength - 1], 0xAB);
}

// The framing of the rows is checked by every command's bytes on the wire in the protocol
// suites; here only the guard no real row reaches.
TEST_F(Dispatcher, PrepareHidCallRefusesACapabilityTheDeviceLacks) {
    std::uint8_t buffer[65] = {};
    HidCall call;
    host.PrepareHidCall(call, ReportSelector{1, 7, 0x02, 0x02}, buffer);  // no capability 7
    Do(HidCallSetOutputReport, call, 1);
    host.PrepareHidCall(call, ReportSelector{0, 7, 0x02, 0x02}, nullptr);
    Do(HidCallGetInputReport, call, 1);
    EXPECT_TRUE(device->Transfers().empty());
}

TEST_F(Dispatcher, ValueCapsAllocatesTheListOrReturnsWithoutOne) {
    HidCall caps = Do(HidCallGetValueCaps, OnDevice(HidP_Output, 3), 0);
    EXPECT_EQ(caps.listLength, 3u);
    ASSERT_NE(caps.list, nullptr);
    EXPECT_EQ(static_cast<HIDP_VALUE_CAPS*>(caps.list)[1].ReportCount, 64);
    heap_testing::FailAllocationAfter(0);
    EXPECT_EQ(Do(HidCallGetValueCaps, OnDevice(HidP_Input, 3), -1).list, nullptr);
    heap_testing::FailAllocationAfter(-1);
    EXPECT_EQ(result.errorFlag, 0u);
}

TEST_F(Dispatcher, CapsAttributesAndPreparsedDataCodes) {
    HidCall caps = Do(HidCallGetCaps, OnDevice(), 0);
    EXPECT_EQ(caps.listLength, 64u);
    EXPECT_EQ(static_cast<HIDP_CAPS*>(caps.list)->UsagePage, 0xFF00);
    EXPECT_EQ(static_cast<HIDD_ATTRIBUTES*>(Do(HidCallGetAttributes, OnDevice(), 0).list)->ProductID, 0x0077);

    PHIDP_PREPARSED_DATA preparsed = nullptr;
    HidCall call = OnDevice(HidP_Input);
    call.value = reinterpret_cast<ULONG_PTR>(&preparsed);
    Do(HidCallGetPreparsedData, call, 0);
    ASSERT_NE(preparsed, nullptr);
    call.preparsedData = preparsed;
    Do(HidCallFreePreparsedData, call, 0);
    Do(HidCallFreePreparsedData, call, 1);  // a second free of the same block is refused, not a double release
}

TEST(PackValueArray, LaysValuesEndToEndLeastSignificantBitFirst) {
    struct Case {
        std::vector<ULONG> values;
        USHORT bitSize, reportCount;
        Bytes packed;
    };
    // Twelve-bit fields are packed in the toolbox tests.
    for (const Case& c : {Case{{1, 2, 3, 4, 5}, 4, 3, {0x21, 0x03}},  // only reportCount values are packed
                          Case{{0xFFFFFFFF, 0x12345678}, 32, 2, {0xFF, 0xFF, 0xFF, 0xFF, 0x78, 0x56, 0x34, 0x12}},
                          Case{{0x1FF, 0x1}, 8, 3, {0xFF, 0x01, 0x00}},  // masked to bitSize; slot 3 stays 0
                          Case{{1, 0, 1}, 1, 3, {0x05}}}) {
        std::uint8_t* packed = nullptr;
        ULONG length = 0;
        ASSERT_TRUE(PackValueArray(c.values.data(), static_cast<ULONG>(c.values.size()), c.bitSize, c.reportCount,
                                   packed, length));
        EXPECT_EQ(Bytes(packed, packed + length), c.packed) << "bit size " << c.bitSize << ", " << c.values.size();
        HeapFree(GetProcessHeap(), 0, packed);
    }
}

TEST(PackValueArray, RefusesZeroCountWideFieldsAndAFailedAllocation) {
    ULONG values[2] = {1, 2};
    std::uint8_t* packed = nullptr;
    ULONG length = 99;
    SetLastError(0);
    EXPECT_FALSE(PackValueArray(values, 2, 8, 0, packed, length));
    EXPECT_EQ(std::tuple(GetLastError(), std::string(reinterpret_cast<const char*>(packed)), length),
              std::tuple(87u, "ERR", 0u));
    EXPECT_FALSE(PackValueArray(values, 2, 33, 2, packed, length));  // a device may declare wider fields
    EXPECT_EQ(GetLastError(), 87u);
    heap_testing::FailAllocationAfter(0);
    EXPECT_FALSE(PackValueArray(values, 2, 8, 2, packed, length));
    heap_testing::FailAllocationAfter(-1);
    EXPECT_EQ(GetLastError(), 14u);
}

}  // namespace
