// The dispatcher's toolbox codes over a virtual device with values, a value array, a
// 12-bit array and buttons: what each code allocates, returns and reports.
#include <gtest/gtest.h>

#include <cstring>

#include "hid/device_host.h"
#include "platform/hid/virtual_device.h"
#include "platform/win/file_api.h"
#include "platform/win/handles.h"
#include "platform/win/heap.h"
#include "platform/win/module.h"
#include "platform/win/win_error.h"
#include "support/vendor_descriptor.h"

namespace {

// Input: report 1 a 12-bit pair (usage 0x10), report 2 four bytes (usage 0x20), report 3
// eight buttons; output: report 4 one byte (usage 0x30). Input reports are 5 bytes long.
const std::vector<std::uint8_t> kDescriptor = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,                                            //
    0x85, 0x01, 0x09, 0x10, 0x15, 0x00, 0x26, 0xFF, 0x0F, 0x75, 0x0C, 0x95, 0x02, 0x81, 0x02,  //
    0x85, 0x02, 0x09, 0x20, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x04, 0x81, 0x02,  //
    0x85, 0x03, 0x05, 0x09, 0x19, 0x01, 0x29, 0x08, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02,
    0x06, 0x00, 0xFF, 0x85, 0x04, 0x09, 0x30, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x01, 0x91, 0x02,  //
    0xC0};

class Toolbox : public ::testing::Test, protected testsupport::CallRunner {
protected:
    void SetUp() override {
        vhid::DeviceInfo info;
        info.path = vhid::MakePath("toolbox");
        info.vendorId = 0x1209;
        info.productId = 0x7E59;
        info.reportDescriptor = kDescriptor;
        info.manufacturer = u"Maker";
        publication = vhid::Publish(std::move(info), device);
        handle = CreateFileW(publication->Path().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(HidD_GetPreparsedData(handle, &preparsed));
    }
    void TearDown() override {
        HidD_FreePreparsedData(preparsed);
        CloseHandle(handle);
    }

    HidCall Call(HIDP_REPORT_TYPE type, USAGE page = 0, USAGE usage = 0, std::uint8_t* report = nullptr,
                 ULONG length = 0, void* list = nullptr, ULONG listLength = 0) {
        return HidCall{.handle = handle, .reportType = static_cast<ULONG>(type), .preparsedData = preparsed,
                       .usagePage = page, .usage = usage, .reportBuffer = report, .reportLength = length,
                       .list = list, .listLength = listLength};
    }

    std::shared_ptr<testsupport::RecordingDevice> device = std::make_shared<testsupport::RecordingDevice>();
    std::unique_ptr<vhid::Publication> publication;
    HANDLE handle = INVALID_HANDLE_VALUE;
    PHIDP_PREPARSED_DATA preparsed = nullptr;
};

using Bytes = std::vector<std::uint8_t>;

TEST_F(Toolbox, ValueArrayCodesQueryTheCapabilityThenPackOrUnpack) {
    std::uint8_t report[5] = {2, 0, 0, 0, 0};
    ULONG values[4] = {5, 6, 0x107, 8};  // 0x107 is masked to its 8 bits
    HidCall set = Do(HidCallSetUsageValueArray, Call(HidP_Input, 0xFF00, 0x20, report, 5, values, 4), 0);
    EXPECT_EQ(set.value, 4u | (8u << 16));  // reportCount | bitSize << 16
    EXPECT_EQ(set.listLength, 4u);
    EXPECT_NE(set.list, static_cast<void*>(values));  // the packed copy, now the caller's
    EXPECT_EQ(Bytes(report, report + 5), (Bytes{2, 5, 6, 7, 8}));
    HidCall get = Do(HidCallGetUsageValueArray, Call(HidP_Input, 0xFF00, 0x20, report, 5), 0);
    ASSERT_EQ(get.listLength, 4u);
    EXPECT_EQ(0, std::memcmp(get.list, "\x05\x06\x07\x08", 4));

    // A twelve-bit array packs, but the library refuses to set it.
    std::uint8_t twelve[5] = {1};
    ULONG pair[2] = {0xABC, 0x123};
    HidCall wide = Do(HidCallSetUsageValueArray, Call(HidP_Input, 0xFF00, 0x10, twelve, 5, pair, 2), 1);
    ASSERT_EQ(wide.listLength, 3u);
    EXPECT_EQ(0, std::memcmp(wide.list, "\xBC\x3A\x12", 3));
    EXPECT_EQ(result.status, static_cast<ULONG>(HIDP_STATUS_NOT_IMPLEMENTED));

    // Without the usage the code is not carried out and the status is untouched.
    result = {0, 0xABCD};
    EXPECT_EQ(Do(HidCallGetUsageValueArray, Call(HidP_Input, 0xFF00, 0x77, report, 5), -1).list, nullptr);
    EXPECT_EQ(result.status, 0xABCDu);
}

TEST_F(Toolbox, ResolvedEntryPointsAreUsedAndUnresolvedOnesAreNotCalled) {
    std::uint8_t report[2] = {0xEE, 0xEE};
    HidCall init = Call(HidP_Output, 0, 0, report, 2);
    init.reportId = 4;
    HidCall extended = Call(HidP_Input, 0, 0, nullptr, 0, nullptr, sizeof(HIDP_EXTENDED_ATTRIBUTES));
    pHidP_InitializeReportForID = nullptr;
    pHidP_GetExtendedAttributes = nullptr;
    Do(HidCallInitializeReportForId, init, -1);
    EXPECT_EQ(report[0], 0xEE);
    EXPECT_EQ(Do(HidCallGetExtendedAttributes, extended, -1).list, nullptr);

    pHidP_InitializeReportForID = reinterpret_cast<PFN_HidP_InitializeReportForID>(
        GetProcAddress(LoadLibraryW(u"HID.DLL"), "HidP_InitializeReportForID"));
    ASSERT_NE(pHidP_InitializeReportForID, nullptr);
    Do(HidCallInitializeReportForId, init, 0);
    EXPECT_EQ(Bytes(report, report + 2), (Bytes{4, 0}));
    pHidP_InitializeReportForID = nullptr;
}

TEST_F(Toolbox, UsageListDifferenceAllocatesBothListsOrNeither) {
    USAGE previous[4] = {1, 2, 3, 0};
    USAGE current[4] = {2, 3, 4, 0};
    HidCall call = Call(HidP_Input, 0, 0, nullptr, 0, previous, 4);
    call.value = reinterpret_cast<ULONG_PTR>(current);
    HidCall done = Do(HidCallUsageListDifference, call, 0);
    EXPECT_EQ(static_cast<USAGE*>(done.breakList)[0], 1);
    EXPECT_EQ(static_cast<USAGE*>(done.makeList)[0], 4);
    for (int failing : {0, 1}) {
        heap_testing::FailAllocationAfter(failing);  // make list, then break list
        HidCall again = Do(HidCallUsageListDifference, call, -1);
        heap_testing::FailAllocationAfter(-1);
        EXPECT_EQ(again.makeList, nullptr);
        EXPECT_EQ(again.breakList, nullptr);
    }
}

TEST_F(Toolbox, ButtonAndDataListsAndAShortReport) {
    std::uint8_t buttons[5] = {3, 0x05, 0, 0, 0};
    HidCall got = Do(HidCallGetButtons, Call(HidP_Input, 0x09, 0, buttons, 5), 0);
    ASSERT_EQ(got.listLength, 2u);
    EXPECT_EQ(static_cast<USAGE*>(got.list)[0], 1);
    EXPECT_EQ(static_cast<USAGE*>(got.list)[1], 3);
    EXPECT_EQ(Do(HidCallGetData, Call(HidP_Input, 0, 0, buttons, 5), 0).listLength, 2u);  // the two buttons on

    std::uint8_t output[2] = {4, 0};
    Do(HidCallGetUsageValue, Call(HidP_Output, 0xFF00, 0x30, output, 1), 1);  // a short report
    EXPECT_EQ(result.status, static_cast<ULONG>(HIDP_STATUS_INVALID_REPORT_LENGTH));
}

TEST_F(Toolbox, StringsAndReportFiles) {
    void* maker = Do(HidCallGetManufacturerString, Call(HidP_Input, 0, 0, nullptr, 0, nullptr, 64), 0).list;
    EXPECT_EQ(std::u16string(static_cast<const char16_t*>(maker)), u"Maker");
    Do(HidCallGetProductString, Call(HidP_Input, 0, 0, nullptr, 0, nullptr, 64), 1);  // the device has none
    heap_testing::FailAllocationAfter(0);
    Do(HidCallGetPhysicalDescriptor, Call(HidP_Input, 0, 0, nullptr, 0, nullptr, 16), -1);
    heap_testing::FailAllocationAfter(-1);
    EXPECT_EQ(result.errorFlag, 0u);

    std::uint8_t report[2] = {4, 0x11};
    Do(HidCallWriteFile, Call(HidP_Output, 0, 0, report, 2), 0);
    ASSERT_EQ(device->Transfers().size(), 1u);
    EXPECT_EQ(device->Transfers()[0].bytes, (Bytes{4, 0x11}));
    Do(HidCallReadFile, Call(HidP_Input, 0, 0, report, 2), 1);  // nothing arrives on the interrupt pipe
}

}  // namespace
