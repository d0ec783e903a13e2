// The dispatcher against a virtual device, and PrepareHidCall's framing rules.
#include <gtest/gtest.h>

#include <cstring>

#include "hid/device_host.h"
#include "platform/win/heap.h"
#include "platform/win/win_error.h"
#include "support/vendor_descriptor.h"
#include "ui/services/control_ids.h"
#include "ui/services/recording_window.h"

namespace {

class Host : public HidDeviceHost {
public:
    using HidDeviceHost::HidDeviceHost;
    using HidDeviceHost::device;
};

class Dispatcher : public ::testing::Test {
protected:
    void SetUp() override {
        vhid::DeviceInfo info;
        info.path = vhid::MakePath("dispatch");
        info.vendorId = 0x1209;
        info.productId = 0x0077;
        info.reportDescriptor = testsupport::VendorDescriptor({259, 64, 63}, {256, 64, 63});
        publication = vhid::Publish(std::move(info), device);
        window.TypeText(ui::ids::kVid, "1209");
        window.TypeText(ui::ids::kPid, "0077");
        host.OnOpenDevice();
        ASSERT_EQ(host.IsDeviceOpen(), 1);
    }
    void TearDown() override {
        host.ReleaseHidDevice(host.device);
        host.ReleaseCommandBuffers();
    }

    HidCall CallOnDevice() {
        HidCall call;
        call.handle = host.device.handle;
        call.preparsedData = host.device.preparsedData;
        return call;
    }

    std::shared_ptr<testsupport::RecordingDevice> device = std::make_shared<testsupport::RecordingDevice>();
    std::unique_ptr<vhid::Publication> publication;
    ui::RecordingWindow window;
    Host host{window};
};

TEST_F(Dispatcher, CodesWithoutAnOperationReturnZeroAndLeaveTheFlagClear) {
    for (std::int32_t code : {0, 2, 3, 4, 45, 49, 52, -1, -100000, 1000}) {
        HidCall call = CallOnDevice();
        HidCallResult result{7, 0x1234};
        EXPECT_EQ(ExecuteHidCall(code, call, result), 0) << code;
        EXPECT_EQ(result.errorFlag, 0u) << code;
        EXPECT_EQ(result.status, 0x1234u) << code;
        EXPECT_EQ(call.list, nullptr) << code;
    }
    EXPECT_TRUE(device->Transfers().empty());
}

TEST_F(Dispatcher, FailedOutputReportIsCarriedOutWithTheErrorFlag) {
    device->failOutput = true;
    std::uint8_t report[65] = {2, 0x0A};
    HidCall call = CallOnDevice();
    call.reportBuffer = report;
    call.reportLength = sizeof report;
    HidCallResult result{};
    EXPECT_EQ(ExecuteHidCall(HidCallSetOutputReport, call, result), 1);
    EXPECT_EQ(result.errorFlag, 1u);
    device->failOutput = false;
    EXPECT_EQ(ExecuteHidCall(HidCallSetOutputReport, call, result), 1);
    EXPECT_EQ(result.errorFlag, 0u);
    auto transfers = device->Transfers();
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_EQ(transfers[1].bytes, std::vector<std::uint8_t>(report, report + sizeof report));
}

TEST_F(Dispatcher, InputRequestLengthReachesTheDeviceAndTheAnswerStaysInTheBuffer) {
    device->inputAnswer.assign(4000, 0xAB);  // an over-long answer
    ReportSelector row{0, 1, 0x0A, 0x02};
    HidCall call;
    host.PrepareHidCall(call, row, nullptr);
    EXPECT_EQ(call.reportLength, 0x0A41u);
    EXPECT_EQ(call.reportId, 5);
    HidCallResult result{};
    EXPECT_EQ(ExecuteHidCall(HidCallGetInputReport, call, result), 1);
    EXPECT_EQ(result.errorFlag, 0u);
    auto transfers = device->Transfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].reportId, 5);
    EXPECT_EQ(transfers[0].length, 0x0A41u);
    // Under AddressSanitizer an overrun of the 257-byte input report would abort here.
    EXPECT_EQ(host.device.inputReport[0], 0xAB);
    EXPECT_EQ(host.device.inputReport[host.device.caps.InputReportByteLength - 1], 0xAB);
}

TEST_F(Dispatcher, PrepareHidCallFramesOutputRows) {
    std::uint8_t buffer[65];
    std::memset(buffer, 0x5A, sizeof buffer);
    HidCall call;
    host.PrepareHidCall(call, ReportSelector{1, 1, 0x01, 0x06}, buffer);
    EXPECT_EQ(call.reportLength, 65u);
    EXPECT_EQ(buffer[0], 2);
    EXPECT_EQ(buffer[1], 0x06);
    EXPECT_EQ(buffer[2], 0x01);
    EXPECT_EQ(call.reportBuffer, host.device.outputReport.get());
    EXPECT_EQ(0, std::memcmp(call.reportBuffer, buffer, 65));
    EXPECT_EQ(call.usagePage, 0xFF00);
    EXPECT_EQ(call.reportType, 1u);

    // Command 0x10 and above: bytes 1 and 2 stay as the caller wrote them; byte 0 is replaced.
    std::uint8_t flash[260];
    std::memset(flash, 0x33, sizeof flash);
    host.PrepareHidCall(call, ReportSelector{1, 0, 0x10, 0xFF}, flash);
    EXPECT_EQ(call.reportLength, 260u);
    EXPECT_EQ(flash[0], 1);
    EXPECT_EQ(flash[1], 0x33);
    EXPECT_EQ(flash[2], 0x33);

    // Input rows at and above 0x10 ask for the report length alone.
    host.PrepareHidCall(call, ReportSelector{0, 0, 0x11, 0xFF}, nullptr);
    EXPECT_EQ(call.reportLength, 257u);
    EXPECT_EQ(call.reportBuffer, host.device.inputReport.get());
}

TEST_F(Dispatcher, PrepareHidCallRefusesACapabilityTheDeviceLacks) {
    HidCall call;
    host.PrepareHidCall(call, ReportSelector{0, 7, 0x02, 0x02}, nullptr);
    HidCallResult result{};
    EXPECT_EQ(ExecuteHidCall(HidCallGetInputReport, call, result), 1);
    EXPECT_EQ(result.errorFlag, 1u);
    EXPECT_TRUE(device->Transfers().empty());
}

TEST_F(Dispatcher, ValueCapsAllocatesTheListAndLeavesTheReportAlone) {
    std::uint8_t before = host.device.inputReport[0];
    HidCall call = CallOnDevice();
    call.reportType = HidP_Output;
    call.listLength = 3;
    call.reportBuffer = host.device.inputReport.get();
    HidCallResult result{};
    ASSERT_EQ(ExecuteHidCall(HidCallGetValueCaps, call, result), 1);
    ASSERT_NE(call.list, nullptr);
    EXPECT_EQ(result.errorFlag, 0u);
    EXPECT_EQ(result.status, static_cast<ULONG>(HIDP_STATUS_SUCCESS));
    EXPECT_EQ(call.listLength, 3u);
    EXPECT_EQ(static_cast<HIDP_VALUE_CAPS*>(call.list)[1].ReportCount, 64);
    EXPECT_EQ(host.device.inputReport[0], before);
    HeapFree(GetProcessHeap(), 0, call.list);

    HidCall failing = CallOnDevice();
    failing.listLength = 3;
    heap_testing::FailAllocationAfter(0);
    EXPECT_EQ(ExecuteHidCall(HidCallGetValueCaps, failing, result), 0);
    heap_testing::FailAllocationAfter(-1);
    EXPECT_EQ(failing.list, nullptr);
    EXPECT_EQ(result.errorFlag, 0u);
}

TEST_F(Dispatcher, CapsAttributesGuidAndPreparsedDataCodes) {
    HidCallResult result{};
    HidCall caps = CallOnDevice();
    ASSERT_EQ(ExecuteHidCall(HidCallGetCaps, caps, result), 1);
    EXPECT_EQ(caps.listLength, 64u);
    EXPECT_EQ(static_cast<HIDP_CAPS*>(caps.list)->UsagePage, 0xFF00);
    HeapFree(GetProcessHeap(), 0, caps.list);

    HidCall attributes = CallOnDevice();
    ASSERT_EQ(ExecuteHidCall(HidCallGetAttributes, attributes, result), 1);
    EXPECT_EQ(result.errorFlag, 0u);
    EXPECT_EQ(static_cast<HIDD_ATTRIBUTES*>(attributes.list)->ProductID, 0x0077);
    HeapFree(GetProcessHeap(), 0, attributes.list);

    HidCall guid = CallOnDevice();
    ASSERT_EQ(ExecuteHidCall(HidCallGetHidGuid, guid, result), 1);
    EXPECT_EQ(static_cast<GUID*>(guid.list)->Data1, 0x4D1E55B2u);
    HeapFree(GetProcessHeap(), 0, guid.list);

    PHIDP_PREPARSED_DATA preparsed = nullptr;
    HidCall get = CallOnDevice();
    get.value = reinterpret_cast<ULONG_PTR>(&preparsed);
    ASSERT_EQ(ExecuteHidCall(HidCallGetPreparsedData, get, result), 1);
    EXPECT_EQ(result.errorFlag, 0u);
    ASSERT_NE(preparsed, nullptr);
    HidCall max = CallOnDevice();
    max.preparsedData = preparsed;
    max.reportType = HidP_Input;
    ASSERT_EQ(ExecuteHidCall(HidCallMaxUsageListLength, max, result), 1);
    EXPECT_EQ(max.value, 0u);  // value items only: no usage list
    EXPECT_EQ(result.status, static_cast<ULONG>(HIDP_STATUS_SUCCESS));
    HidCall free = CallOnDevice();
    free.preparsedData = preparsed;
    ASSERT_EQ(ExecuteHidCall(HidCallFreePreparsedData, free, result), 1);
    EXPECT_EQ(result.errorFlag, 0u);
    // A second free of the same block is refused, not a double release.
    ASSERT_EQ(ExecuteHidCall(HidCallFreePreparsedData, free, result), 1);
    EXPECT_EQ(result.errorFlag, 1u);
}

struct PackCase {
    std::vector<ULONG> values;
    USHORT bitSize;
    USHORT reportCount;
    std::vector<std::uint8_t> packed;
};

class PackValues : public ::testing::TestWithParam<PackCase> {};

TEST_P(PackValues, LaysValuesEndToEndLeastSignificantBitFirst) {
    const PackCase& c = GetParam();
    std::uint8_t* packed = nullptr;
    ULONG length = 0;
    ASSERT_TRUE(PackValueArray(c.values.data(), static_cast<ULONG>(c.values.size()), c.bitSize, c.reportCount, packed,
                               length));
    EXPECT_EQ(std::vector<std::uint8_t>(packed, packed + length), c.packed);
    HeapFree(GetProcessHeap(), 0, packed);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, PackValues,
    ::testing::Values(PackCase{{1, 2, 3}, 4, 3, {0x21, 0x03}}, PackCase{{0xABC, 0x123}, 12, 2, {0xBC, 0x3A, 0x12}},
                      PackCase{{1, 2, 3, 4, 5}, 4, 3, {0x21, 0x03}},  // only reportCount values are packed
                      PackCase{{0xFFFFFFFF, 0x12345678}, 32, 2, {0xFF, 0xFF, 0xFF, 0xFF, 0x78, 0x56, 0x34, 0x12}},
                      PackCase{{0x1FF, 0x1}, 8, 3, {0xFF, 0x01, 0x00}},  // masked to bitSize; slot 3 stays 0
                      PackCase{{1, 0, 1}, 1, 3, {0x05}}));

TEST(PackValueArray, RefusesZeroCountAndWideFieldsWithTheConstantText) {
    ULONG values[2] = {1, 2};
    std::uint8_t* packed = nullptr;
    ULONG length = 99;
    SetLastError(0);
    EXPECT_FALSE(PackValueArray(values, 2, 8, 0, packed, length));
    EXPECT_EQ(GetLastError(), 87u);
    EXPECT_STREQ(reinterpret_cast<const char*>(packed), "ERR");
    EXPECT_EQ(length, 0u);
    EXPECT_FALSE(PackValueArray(values, 2, 33, 2, packed, length));
    EXPECT_EQ(GetLastError(), 87u);
    heap_testing::FailAllocationAfter(0);
    EXPECT_FALSE(PackValueArray(values, 2, 8, 2, packed, length));
    heap_testing::FailAllocationAfter(-1);
    EXPECT_EQ(GetLastError(), 14u);
    EXPECT_STREQ(reinterpret_cast<const char*>(packed), "ERR");
}

}  // namespace
