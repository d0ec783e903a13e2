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

BOOLEAN IndexedTwo(HANDLE device, PVOID buffer, ULONG length) { return HidD_GetIndexedString(device, 2, buffer, length); }

// An exact or larger (also odd) buffer gets the text and its terminator and nothing past
// them; a shorter or odd one nothing at all. The other named strings share the manufacturer's
// path, which the dispatcher tests also reach.
TEST_F(HidDeviceInfo, StringsFillOnlyABufferThatHoldsTextAndTerminator) {
    struct Row { const char* name; BOOLEAN (*get)(HANDLE, PVOID, ULONG); std::u16string text; };
    const Row rows[] = {{"manufacturer", HidD_GetManufacturerString, u"Maker"},
                        {"indexed non-ASCII", IndexedTwo, u"\u00C4rger"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::size_t bytes = (row.text.size() + 1) * 2;
        for (std::size_t length : {bytes, bytes + 5}) {
            std::vector<std::uint8_t> buffer(bytes + 5, 0xCD);
            ASSERT_TRUE(row.get(handle_, buffer.data(), static_cast<ULONG>(length))) << length;
            std::u16string got(row.text.size() + 1, u'?');
            std::memcpy(got.data(), buffer.data(), bytes);
            EXPECT_EQ(got, row.text + u'\0') << length;
            EXPECT_EQ(buffer[bytes], 0xCD) << length;
        }
        for (std::size_t length : {bytes - 1, bytes - 2, std::size_t{0}}) {
            std::vector<std::uint8_t> buffer(bytes, 0xCD);
            SetLastError(0);
            EXPECT_FALSE(row.get(handle_, buffer.data(), static_cast<ULONG>(length))) << length;
            EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER) << length;
            EXPECT_EQ(buffer, std::vector<std::uint8_t>(bytes, 0xCD)) << length;
        }
    }
}

TEST_F(HidDeviceInfo, AbsentStringsBadArgumentsAndMissingDescriptorsFail) {
    static char16_t buffer[32];
    struct Row { const char* name; BOOLEAN (*call)(HANDLE); DWORD error; };
    const Row rows[] = {
        {"no serial number", [](HANDLE h) { return HidD_GetSerialNumberString(h, buffer, sizeof buffer); },
         ERROR_INVALID_PARAMETER},
        {"no string 9", [](HANDLE h) { return HidD_GetIndexedString(h, 9, buffer, sizeof buffer); },
         ERROR_INVALID_PARAMETER},
        {"null buffer", [](HANDLE h) { return HidD_GetProductString(h, nullptr, sizeof buffer); },
         ERROR_INVALID_USER_BUFFER},
        {"physical", [](HANDLE h) { return HidD_GetPhysicalDescriptor(h, buffer, sizeof buffer); }, ERROR_INVALID_FUNCTION},
    };
    for (const Row& row : rows) {
        SetLastError(0);
        EXPECT_FALSE(row.call(handle_)) << row.name;
        EXPECT_EQ(GetLastError(), row.error) << row.name;
        SetLastError(0);
        EXPECT_FALSE(row.call(nullptr)) << row.name;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE) << row.name << ", null handle";
    }
    publication_.reset();  // unplugged
    EXPECT_FALSE(HidD_GetManufacturerString(handle_, buffer, sizeof buffer));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
}

TEST_F(HidDeviceInfo, NumInputBuffersIsBoundedAndKeptPerHandle) {
    ULONG count = 0;
    ASSERT_TRUE(HidD_GetNumInputBuffers(handle_, &count));
    EXPECT_EQ(count, 32u);
    for (auto [requested, accepted] : {std::pair<ULONG, bool>{2, true}, {512, true}, {1, false}, {513, false}}) {
        ULONG before = 0;
        ASSERT_TRUE(HidD_GetNumInputBuffers(handle_, &before));
        SetLastError(0);
        EXPECT_EQ(HidD_SetNumInputBuffers(handle_, requested), accepted ? TRUE : FALSE) << requested;
        ASSERT_TRUE(HidD_GetNumInputBuffers(handle_, &count));
        EXPECT_EQ(count, accepted ? requested : before) << requested;
        if (!accepted) {
            EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << requested;
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

}  // namespace
