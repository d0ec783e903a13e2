// HidD_* device information against a virtual device: strings and their buffer rules,
// the per-handle input-buffer count, and the descriptors Linux does not offer.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/hid/hidsdi.h"
#include "platform/hid/virtual_device.h"
#include "platform/win/file_api.h"
#include "platform/win/win_error.h"

namespace {

class SilentDevice final : public vhid::DeviceHandler {
public:
    DWORD OnOutputReport(std::span<const std::uint8_t>) override { return ERROR_SUCCESS; }
    DWORD OnInputRequest(std::uint8_t, ULONG, std::vector<std::uint8_t>&) override { return ERROR_SUCCESS; }
};

class HidDeviceInfo : public ::testing::Test {
protected:
    void SetUp() override {
        vhid::DeviceInfo info;
        info.path = vhid::MakePath("hidd-info");
        info.vendorId = 0x1234;
        info.productId = 0x5678;
        info.manufacturer = u"Maker";
        info.product = u"Capture Bridge";
        info.indexedStrings = {u"", u"First", u"\u00C4rger"};  // no serial number
        publication_ = vhid::Publish(info, std::make_shared<SilentDevice>());
        handle_ = Open();
        ASSERT_NE(handle_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    HANDLE Open() const {
        return CreateFileW(publication_->Path().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    }

    std::unique_ptr<vhid::Publication> publication_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

using StringGetter = BOOLEAN (*)(HANDLE, PVOID, ULONG);

struct StringCase {
    const char* name;
    StringGetter get;
    std::u16string text;
};

BOOLEAN IndexedOne(HANDLE device, PVOID buffer, ULONG length) { return HidD_GetIndexedString(device, 1, buffer, length); }
BOOLEAN IndexedTwo(HANDLE device, PVOID buffer, ULONG length) { return HidD_GetIndexedString(device, 2, buffer, length); }

class HidDeviceStrings : public HidDeviceInfo, public ::testing::WithParamInterface<StringCase> {};

TEST_P(HidDeviceStrings, ExactBufferHoldsTextAndTerminator) {
    const StringCase& c = GetParam();
    std::size_t bytes = (c.text.size() + 1) * 2;
    std::vector<std::uint8_t> buffer(bytes + 3, 0xCD);
    ASSERT_TRUE(c.get(handle_, buffer.data(), static_cast<ULONG>(bytes)));
    std::u16string got(c.text.size() + 1, u'?');
    std::memcpy(got.data(), buffer.data(), bytes);
    EXPECT_EQ(got, c.text + u'\0');
    EXPECT_EQ(buffer[bytes], 0xCD);  // nothing past the given length
}

TEST_P(HidDeviceStrings, ShortOrOddBufferGetsNothing) {
    const StringCase& c = GetParam();
    std::size_t bytes = (c.text.size() + 1) * 2;
    for (std::size_t length : {bytes - 1, bytes - 2, std::size_t{1}, std::size_t{0}}) {
        std::vector<std::uint8_t> buffer(bytes, 0xCD);
        SetLastError(0);
        EXPECT_FALSE(c.get(handle_, buffer.data(), static_cast<ULONG>(length))) << length;
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER) << length;
        EXPECT_EQ(buffer, std::vector<std::uint8_t>(bytes, 0xCD)) << length;
    }
}

TEST_P(HidDeviceStrings, OddLargerBufferIsFilledUpToTheTerminatorOnly) {
    const StringCase& c = GetParam();
    std::size_t bytes = (c.text.size() + 1) * 2;
    std::vector<std::uint8_t> buffer(bytes + 5, 0xCD);
    ASSERT_TRUE(c.get(handle_, buffer.data(), static_cast<ULONG>(bytes + 5)));
    EXPECT_EQ(buffer[bytes - 1], 0);
    EXPECT_EQ(buffer[bytes], 0xCD);
}

INSTANTIATE_TEST_SUITE_P(Strings, HidDeviceStrings,
                         ::testing::Values(StringCase{"Manufacturer", HidD_GetManufacturerString, u"Maker"},
                                           StringCase{"Product", HidD_GetProductString, u"Capture Bridge"},
                                           StringCase{"IndexedOne", IndexedOne, u"First"},
                                           StringCase{"IndexedNonAscii", IndexedTwo, u"\u00C4rger"}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(HidDeviceInfo, AbsentStringsAndBadArgumentsFail) {
    char16_t buffer[32];
    SetLastError(0);
    EXPECT_FALSE(HidD_GetSerialNumberString(handle_, buffer, sizeof buffer));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(HidD_GetIndexedString(handle_, 9, buffer, sizeof buffer));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(HidD_GetProductString(handle_, nullptr, sizeof buffer));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    EXPECT_FALSE(HidD_GetProductString(nullptr, buffer, sizeof buffer));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(HidDeviceInfo, StringsOfAnUnpluggedDeviceFail) {
    publication_.reset();
    char16_t buffer[32];
    EXPECT_FALSE(HidD_GetManufacturerString(handle_, buffer, sizeof buffer));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
}

TEST_F(HidDeviceInfo, NumInputBuffersIsBoundedAndKeptPerHandle) {
    ULONG count = 0;
    ASSERT_TRUE(HidD_GetNumInputBuffers(handle_, &count));
    EXPECT_EQ(count, 32u);
    struct Row {
        ULONG requested;
        bool accepted;
    };
    for (Row row : {Row{2, true}, Row{512, true}, Row{1, false}, Row{0, false}, Row{513, false}, Row{100, true}}) {
        ULONG before = 0;
        ASSERT_TRUE(HidD_GetNumInputBuffers(handle_, &before));
        SetLastError(0);
        EXPECT_EQ(HidD_SetNumInputBuffers(handle_, row.requested), row.accepted ? TRUE : FALSE) << row.requested;
        ASSERT_TRUE(HidD_GetNumInputBuffers(handle_, &count));
        if (row.accepted) {
            EXPECT_EQ(count, row.requested);
        } else {
            EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
            EXPECT_EQ(count, before);
        }
    }
    HANDLE second = Open();
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(HidD_GetNumInputBuffers(second, &count));
    EXPECT_EQ(count, 32u);
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_FALSE(HidD_GetNumInputBuffers(handle_, nullptr));
    EXPECT_FALSE(HidD_SetNumInputBuffers(nullptr, 8));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(HidDeviceInfo, PhysicalAndGenreDescriptorsAreNotOffered) {
    std::uint8_t buffer[64] = {};
    SetLastError(0);
    EXPECT_FALSE(HidD_GetPhysicalDescriptor(handle_, buffer, sizeof buffer));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    SetLastError(0);
    EXPECT_FALSE(HidD_GetMsGenreDescriptor(handle_, buffer, sizeof buffer));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    EXPECT_FALSE(HidD_GetPhysicalDescriptor(nullptr, buffer, sizeof buffer));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
