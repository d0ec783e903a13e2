// Enumeration in SetupAPI's shape over published virtual devices, and their handles.
#include <gtest/gtest.h>

#include <vector>

#include "platform/hid/hidsdi.h"
#include "platform/hid/setupapi.h"
#include "platform/hid/virtual_device.h"
#include "platform/win/file_api.h"
#include "platform/win/handles.h"
#include "platform/win/win_error.h"

namespace {

class Silent : public vhid::DeviceHandler {
public:
    DWORD OnOutputReport(std::span<const std::uint8_t>) override { return ERROR_SUCCESS; }
    DWORD OnInputRequest(std::uint8_t, ULONG, std::vector<std::uint8_t>&) override { return ERROR_SUCCESS; }
};

std::unique_ptr<vhid::Publication> Publish(USHORT vid) {
    vhid::DeviceInfo info;
    info.path = vhid::MakePath("enum");
    info.vendorId = vid;
    info.productId = 2;
    info.versionNumber = 0x0103;
    return vhid::Publish(std::move(info), std::make_shared<Silent>());
}

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

TEST(VirtualEnumeration, ListsPublishedDevicesInOrderAndForgetsWithdrawnOnes) {
    auto a = Publish(0x10);
    auto b = Publish(0x20);
    auto paths = EnumeratedPaths();
    auto at = [&](const std::u16string& p) { return std::find(paths.begin(), paths.end(), p) - paths.begin(); };
    ASSERT_LT(at(a->Path()), at(b->Path()));
    ASSERT_LT(static_cast<std::size_t>(at(b->Path())), paths.size());
    const std::u16string withdrawn = b->Path();
    b.reset();
    paths = EnumeratedPaths();
    EXPECT_EQ(std::count(paths.begin(), paths.end(), a->Path()), 1);
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

TEST(VirtualDevice, WithdrawnDeviceFailsAsAfterAnUnplug) {
    auto device = Publish(0x30);
    HANDLE handle = CreateFileW(device->Path().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    HIDD_ATTRIBUTES attributes{};
    ASSERT_TRUE(HidD_GetAttributes(handle, &attributes));
    EXPECT_EQ(attributes.Size, sizeof(HIDD_ATTRIBUTES));
    EXPECT_EQ(attributes.VendorID, 0x30);
    EXPECT_EQ(attributes.VersionNumber, 0x0103);
    std::uint8_t report[4] = {1, 2, 3, 4};
    EXPECT_TRUE(HidD_SetOutputReport(handle, report, sizeof report));
    device.reset();
    EXPECT_FALSE(HidD_SetOutputReport(handle, report, sizeof report));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(HidD_GetAttributes(handle, &attributes));
    EXPECT_TRUE(CloseHandle(handle));
}

TEST(VirtualDevice, UnknownPathsAndBadArgumentsAreRefused) {
    EXPECT_EQ(CreateFileW(u"\\\\?\\vhid#nothing#0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    std::uint8_t report[2] = {};
    EXPECT_FALSE(HidD_SetOutputReport(nullptr, report, 2));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    auto device = Publish(0x40);
    HANDLE handle = CreateFileW(device->Path().c_str(), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(HidD_SetOutputReport(handle, nullptr, 2));
    EXPECT_FALSE(HidD_SetOutputReport(handle, report, 0));
    EXPECT_FALSE(HidD_GetPreparsedData(handle, nullptr));
    EXPECT_FALSE(HidD_FreePreparsedData(nullptr));
    CloseHandle(handle);
}

}  // namespace
