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

class Toolbox : public ::testing::Test {
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

    HidCall Call(HIDP_REPORT_TYPE type, USAGE page, USAGE usage, std::uint8_t* report, ULONG length) {
        HidCall call;
        call.handle = handle;
        call.preparsedData = preparsed;
        call.reportType = static_cast<ULONG>(type);
        call.usagePage = page;
        call.usage = usage;
        call.reportBuffer = report;
        call.reportLength = length;
        return call;
    }

    static void Free(void* block) { HeapFree(GetProcessHeap(), 0, block); }

    std::shared_ptr<testsupport::RecordingDevice> device = std::make_shared<testsupport::RecordingDevice>();
    std::unique_ptr<vhid::Publication> publication;
    HANDLE handle = INVALID_HANDLE_VALUE;
    PHIDP_PREPARSED_DATA preparsed = nullptr;
};

TEST_F(Toolbox, ValueArrayCodesQueryTheCapabilityThenPackOrUnpack) {
    std::uint8_t report[5] = {2, 0, 0, 0, 0};
    ULONG values[4] = {5, 6, 0x107, 8};  // 0x107 is masked to its 8 bits
    HidCall set = Call(HidP_Input, 0xFF00, 0x20, report, 5);
    set.list = values;
    set.listLength = 4;
    HidCallResult result{};
    ASSERT_EQ(ExecuteHidCall(HidCallSetUsageValueArray, set, result), 1);
    EXPECT_EQ(result.errorFlag, 0u);
    EXPECT_EQ(set.value, 4u | (8u << 16));  // reportCount | bitSize << 16
    EXPECT_EQ(set.listLength, 4u);
    EXPECT_NE(set.list, static_cast<void*>(values));  // the packed copy, now the caller's
    EXPECT_EQ((std::vector<std::uint8_t>(report, report + 5)), (std::vector<std::uint8_t>{2, 5, 6, 7, 8}));
    Free(set.list);

    HidCall get = Call(HidP_Input, 0xFF00, 0x20, report, 5);
    ASSERT_EQ(ExecuteHidCall(HidCallGetUsageValueArray, get, result), 1);
    EXPECT_EQ(result.errorFlag, 0u);
    ASSERT_EQ(get.listLength, 4u);
    EXPECT_EQ(0, std::memcmp(get.list, "\x05\x06\x07\x08", 4));
    Free(get.list);
}

TEST_F(Toolbox, ValueArrayCodesWithoutTheUsageAreNotCarriedOut) {
    std::uint8_t report[5] = {2};
    HidCallResult result{0, 0xABCD};
    HidCall get = Call(HidP_Input, 0xFF00, 0x77, report, 5);
    EXPECT_EQ(ExecuteHidCall(HidCallGetUsageValueArray, get, result), 0);
    EXPECT_EQ(result.status, 0xABCDu);  // untouched
    EXPECT_EQ(get.list, nullptr);
    ULONG values[1] = {1};
    HidCall set = Call(HidP_Input, 0xFF00, 0x77, report, 5);
    set.list = values;
    EXPECT_EQ(ExecuteHidCall(HidCallSetUsageValueArray, set, result), 0);
    EXPECT_EQ(result.status, 0xABCDu);
}

TEST_F(Toolbox, TwelveBitArrayPacksButTheLibraryRefusesIt) {
    std::uint8_t report[5] = {1};
    ULONG values[2] = {0xABC, 0x123};
    HidCall set = Call(HidP_Input, 0xFF00, 0x10, report, 5);
    set.list = values;
    set.listLength = 2;
    HidCallResult result{};
    ASSERT_EQ(ExecuteHidCall(HidCallSetUsageValueArray, set, result), 1);
    EXPECT_EQ(set.listLength, 3u);
    EXPECT_EQ(0, std::memcmp(set.list, "\xBC\x3A\x12", 3));
    EXPECT_EQ(result.errorFlag, 1u);
    EXPECT_EQ(result.status, static_cast<ULONG>(HIDP_STATUS_NOT_IMPLEMENTED));
    Free(set.list);
}

TEST_F(Toolbox, ResolvedEntryPointsAreUsedAndUnresolvedOnesAreNotCalled) {
    std::uint8_t report[2] = {0xEE, 0xEE};
    HidCallResult result{};
    pHidP_InitializeReportForID = nullptr;
    pHidP_GetExtendedAttributes = nullptr;
    HidCall init = Call(HidP_Output, 0, 0, report, 2);
    init.reportId = 4;
    EXPECT_EQ(ExecuteHidCall(HidCallInitializeReportForId, init, result), 0);
    EXPECT_EQ(report[0], 0xEE);
    HidCall extended = Call(HidP_Input, 0, 0, nullptr, 0);
    extended.listLength = sizeof(HIDP_EXTENDED_ATTRIBUTES);
    EXPECT_EQ(ExecuteHidCall(HidCallGetExtendedAttributes, extended, result), 0);
    EXPECT_EQ(extended.list, nullptr);

    HMODULE module = LoadLibraryW(u"HID.DLL");
    pHidP_InitializeReportForID =
        reinterpret_cast<PFN_HidP_InitializeReportForID>(GetProcAddress(module, "HidP_InitializeReportForID"));
    pHidP_GetExtendedAttributes =
        reinterpret_cast<PFN_HidP_GetExtendedAttributes>(GetProcAddress(module, "HidP_GetExtendedAttributes"));
    ASSERT_NE(pHidP_InitializeReportForID, nullptr);
    ASSERT_NE(pHidP_GetExtendedAttributes, nullptr);
    EXPECT_EQ(ExecuteHidCall(HidCallInitializeReportForId, init, result), 1);
    EXPECT_EQ(result.status, static_cast<ULONG>(HIDP_STATUS_SUCCESS));
    EXPECT_EQ(report[0], 4);
    EXPECT_EQ(report[1], 0);
    ASSERT_EQ(ExecuteHidCall(HidCallGetExtendedAttributes, extended, result), 1);
    EXPECT_EQ(result.errorFlag, 0u);
    EXPECT_EQ(static_cast<HIDP_EXTENDED_ATTRIBUTES*>(extended.list)->NumGlobalUnknowns, 0);
    Free(extended.list);
    pHidP_InitializeReportForID = nullptr;
    pHidP_GetExtendedAttributes = nullptr;
}

TEST_F(Toolbox, UsageListDifferenceAllocatesBothListsOrNeither) {
    USAGE previous[4] = {1, 2, 3, 0};
    USAGE current[4] = {2, 3, 4, 0};
    HidCall call = Call(HidP_Input, 0, 0, nullptr, 0);
    call.list = previous;
    call.value = reinterpret_cast<ULONG_PTR>(current);
    call.listLength = 4;
    HidCallResult result{};
    ASSERT_EQ(ExecuteHidCall(HidCallUsageListDifference, call, result), 1);
    EXPECT_EQ(result.errorFlag, 0u);
    EXPECT_EQ(static_cast<USAGE*>(call.breakList)[0], 1);
    EXPECT_EQ(static_cast<USAGE*>(call.breakList)[1], 0);
    EXPECT_EQ(static_cast<USAGE*>(call.makeList)[0], 4);
    Free(call.breakList);
    Free(call.makeList);

    for (int failing : {0, 1}) {
        HidCall again = call;
        heap_testing::FailAllocationAfter(failing);  // make list, then break list
        EXPECT_EQ(ExecuteHidCall(HidCallUsageListDifference, again, result), 0);
        heap_testing::FailAllocationAfter(-1);
        EXPECT_EQ(again.makeList, nullptr);
        EXPECT_EQ(again.breakList, nullptr);
    }
}

TEST_F(Toolbox, ButtonsValuesAndDataLists) {
    std::uint8_t buttons[5] = {3, 0x05, 0, 0, 0};
    HidCallResult result{};
    HidCall get = Call(HidP_Input, 0x09, 0, buttons, 5);
    ASSERT_EQ(ExecuteHidCall(HidCallGetButtons, get, result), 1);
    EXPECT_EQ(result.errorFlag, 0u);
    ASSERT_EQ(get.listLength, 2u);
    EXPECT_EQ(static_cast<USAGE*>(get.list)[0], 1);
    EXPECT_EQ(static_cast<USAGE*>(get.list)[1], 3);
    Free(get.list);

    HidCall data = Call(HidP_Input, 0, 0, buttons, 5);
    ASSERT_EQ(ExecuteHidCall(HidCallGetData, data, result), 1);
    EXPECT_EQ(data.listLength, 2u);  // the two buttons that are on
    Free(data.list);

    HidCall max = Call(HidP_Input, 0, 0, nullptr, 0);
    ASSERT_EQ(ExecuteHidCall(HidCallMaxDataListLength, max, result), 1);
    EXPECT_EQ(result.status, static_cast<ULONG>(HIDP_STATUS_SUCCESS));
    EXPECT_EQ(max.value, 8u + 1u + 1u);  // 8 buttons, one value, one value array

    std::uint8_t output[2] = {4, 0};
    HidCall set = Call(HidP_Output, 0xFF00, 0x30, output, 2);
    set.value = 0x5A;
    ASSERT_EQ(ExecuteHidCall(HidCallSetUsageValue, set, result), 1);
    EXPECT_EQ(result.errorFlag, 0u);
    EXPECT_EQ(output[1], 0x5A);
    HidCall value = Call(HidP_Output, 0xFF00, 0x30, output, 2);
    ASSERT_EQ(ExecuteHidCall(HidCallGetUsageValue, value, result), 1);
    EXPECT_EQ(value.value, 0x5Au);
    HidCall wrongLength = Call(HidP_Output, 0xFF00, 0x30, output, 1);
    ASSERT_EQ(ExecuteHidCall(HidCallGetUsageValue, wrongLength, result), 1);
    EXPECT_EQ(result.errorFlag, 1u);
    EXPECT_EQ(result.status, static_cast<ULONG>(HIDP_STATUS_INVALID_REPORT_LENGTH));
}

TEST_F(Toolbox, StringsBuffersAndReportFiles) {
    HidCallResult result{};
    HidCall text = Call(HidP_Input, 0, 0, nullptr, 0);
    text.listLength = 64;
    ASSERT_EQ(ExecuteHidCall(HidCallGetManufacturerString, text, result), 1);
    EXPECT_EQ(result.errorFlag, 0u);
    EXPECT_EQ(std::u16string(static_cast<const char16_t*>(text.list)), u"Maker");
    Free(text.list);

    HidCall product = Call(HidP_Input, 0, 0, nullptr, 0);
    product.listLength = 64;
    ASSERT_EQ(ExecuteHidCall(HidCallGetProductString, product, result), 1);
    EXPECT_EQ(result.errorFlag, 1u);  // the device has none
    Free(product.list);

    HidCall physical = Call(HidP_Input, 0, 0, nullptr, 0);
    physical.listLength = 16;
    heap_testing::FailAllocationAfter(0);
    EXPECT_EQ(ExecuteHidCall(HidCallGetPhysicalDescriptor, physical, result), 0);
    heap_testing::FailAllocationAfter(-1);
    EXPECT_EQ(result.errorFlag, 0u);

    HidCall buffers = Call(HidP_Input, 0, 0, nullptr, 0);
    buffers.value = 64;
    ASSERT_EQ(ExecuteHidCall(HidCallSetNumInputBuffers, buffers, result), 1);
    EXPECT_EQ(result.errorFlag, 0u);
    buffers.value = 0;
    ASSERT_EQ(ExecuteHidCall(HidCallGetNumInputBuffers, buffers, result), 1);
    EXPECT_EQ(buffers.value, 64u);
    buffers.value = 1;  // below Windows' bound
    ASSERT_EQ(ExecuteHidCall(HidCallSetNumInputBuffers, buffers, result), 1);
    EXPECT_EQ(result.errorFlag, 1u);

    std::uint8_t report[2] = {4, 0x11};
    HidCall write = Call(HidP_Output, 0, 0, report, 2);
    ASSERT_EQ(ExecuteHidCall(HidCallWriteFile, write, result), 1);
    EXPECT_EQ(result.errorFlag, 0u);
    ASSERT_EQ(device->Transfers().size(), 1u);
    EXPECT_EQ(device->Transfers()[0].bytes, (std::vector<std::uint8_t>{4, 0x11}));
    HidCall read = Call(HidP_Input, 0, 0, report, 2);
    ASSERT_EQ(ExecuteHidCall(HidCallReadFile, read, result), 1);
    EXPECT_EQ(result.errorFlag, 1u);  // nothing arrives on the interrupt pipe
}

}  // namespace
