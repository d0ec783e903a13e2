// Virtual devices through the Win32-shaped HID calls: SetupAPI enumeration, handles, the
// HidD_* attributes, strings and their buffer rules, the per-handle input-buffer count, the
// descriptors Linux does not offer, and what fails once a device is withdrawn.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/hid/hidsdi.h"
#include "platform/hid/setupapi.h"
#include "platform/hid/virtual_device.h"
#include "platform/win/file_api.h"
#include "platform/win/handles.h"
#include "platform/win/win_error.h"

namespace {

class Silent final : public vhid::DeviceHandler {
public:
    DWORD OnOutputReport(std::span<const std::uint8_t>) override { return ERROR_SUCCESS; }
    DWORD OnInputRequest(std::uint8_t, ULONG, std::vector<std::uint8_t>&) override { return ERROR_SUCCESS; }
};

std::unique_ptr<vhid::Publication> Publish(USHORT vid) {
    vhid::DeviceInfo info;
    info.path = vhid::MakePath("virtual");
    info.vendorId = vid;
    info.productId = 0x5678;
    info.versionNumber = 0x0103;
    info.manufacturer = u"Maker";
    info.product = u"Capture Bridge";
    info.indexedStrings = {u"", u"First", u"\u00C4rger"};  // no serial number
    return vhid::Publish(std::move(info), std::make_shared<Silent>());
}

HANDLE Open(const vhid::Publication& device) {
    return CreateFileW(device.Path().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

// Every interface of the HID class, checking the detail buffer rules on the way.
std::vector<std::u16string> EnumeratedPaths() {
    GUID guid{};
    HidD_GetHidGuid(&guid);
    HDEVINFO set = SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_NE(set, INVALID_DEVINFO_HANDLE);
    std::vector<std::u16string> paths;
    for (DWORD i = 0;; ++i) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &guid, i, &data)) {
            EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
            break;
        }
        DWORD size = 0;
        EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        std::vector<std::uint8_t> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        // One byte short is refused rather than truncated.
        EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size - 1, nullptr, nullptr));
        EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr));
        paths.emplace_back(detail->DevicePath);
    }
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    return paths;
}

class VirtualDevice : public ::testing::Test {
protected:
    void SetUp() override {
        device_ = Publish(0x30);
        handle_ = Open(*device_);
        ASSERT_NE(handle_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }

    std::unique_ptr<vhid::Publication> device_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

TEST_F(VirtualDevice, EnumerationListsPublishedDevicesInOrderAndForgetsWithdrawnOnes) {
    auto later = Publish(0x20);
    auto paths = EnumeratedPaths();
    auto at = [&](const std::u16string& p) { return std::find(paths.begin(), paths.end(), p) - paths.begin(); };
    ASSERT_LT(at(device_->Path()), at(later->Path()));
    ASSERT_LT(static_cast<std::size_t>(at(later->Path())), paths.size());
    const std::u16string withdrawn = later->Path();
    later.reset();
    paths = EnumeratedPaths();
    EXPECT_EQ(std::count(paths.begin(), paths.end(), device_->Path()), 1);
    EXPECT_EQ(std::count(paths.begin(), paths.end(), withdrawn), 0);
    // Another interface class lists nothing; no class at all is refused.
    GUID other{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    HDEVINFO set = SetupDiGetClassDevsW(&other, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_DEVINFO_HANDLE);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &other, 0, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
    SetupDiDestroyDeviceInfoList(set);
    EXPECT_EQ(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT), INVALID_DEVINFO_HANDLE);
}

TEST_F(VirtualDevice, WithdrawnDeviceFailsAsAfterAnUnplug) {
    HIDD_ATTRIBUTES attributes{};
    ASSERT_TRUE(HidD_GetAttributes(handle_, &attributes));
    EXPECT_EQ(attributes.Size, sizeof(HIDD_ATTRIBUTES));
    EXPECT_EQ(attributes.VendorID, 0x30);
    EXPECT_EQ(attributes.VersionNumber, 0x0103);
    std::uint8_t report[4] = {1, 2, 3, 4};
    EXPECT_TRUE(HidD_SetOutputReport(handle_, report, sizeof report));
    device_.reset();
    auto unplugged = [](BOOLEAN done) { return !done && GetLastError() == ERROR_DEVICE_NOT_CONNECTED; };
    char16_t text[32];
    EXPECT_TRUE(unplugged(HidD_SetOutputReport(handle_, report, sizeof report)));
    EXPECT_TRUE(unplugged(HidD_GetAttributes(handle_, &attributes)));
    EXPECT_TRUE(unplugged(HidD_GetManufacturerString(handle_, text, sizeof text)));
}

BOOLEAN IndexedTwo(HANDLE device, PVOID buffer, ULONG length) { return HidD_GetIndexedString(device, 2, buffer, length); }

// An exact or larger (also odd) buffer gets the text and its terminator and nothing past
// them; a shorter or odd one nothing at all. The other named strings share the manufacturer's
// path, which the dispatcher tests also reach.
TEST_F(VirtualDevice, StringsFillOnlyABufferThatHoldsTextAndTerminator) {
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

TEST_F(VirtualDevice, BadArgumentsAbsentStringsAndMissingDescriptorsFail) {
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
    EXPECT_EQ(CreateFileW(u"\\\\?\\vhid#nothing#0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    std::uint8_t report[2] = {};
    EXPECT_FALSE(HidD_SetOutputReport(nullptr, report, 2));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(HidD_SetOutputReport(handle_, nullptr, 2));
    EXPECT_FALSE(HidD_SetOutputReport(handle_, report, 0));
    EXPECT_FALSE(HidD_GetPreparsedData(handle_, nullptr));
    EXPECT_FALSE(HidD_FreePreparsedData(nullptr));
}

TEST_F(VirtualDevice, NumInputBuffersIsBoundedAndKeptPerHandle) {
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
    HANDLE second = Open(*device_);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(HidD_GetNumInputBuffers(second, &count));
    EXPECT_EQ(count, 32u);
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_FALSE(HidD_GetNumInputBuffers(handle_, nullptr));
    EXPECT_FALSE(HidD_SetNumInputBuffers(nullptr, 8));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
