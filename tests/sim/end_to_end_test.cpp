// The simulated device through the platform HID library, in-process and over the socket:
// found by SetupDi enumeration, opened with CreateFileW, its descriptor and strings read
// and a register read through HidD_*, a refusal carried back as the device's status.
#include <gtest/gtest.h>

#include "platform/hid/hidsdi.h"
#include "platform/hid/setupapi.h"
#include "platform/win/file_api.h"
#include "platform/win/handles.h"
#include "sim/socket_server.h"
#include "sim_bench.h"
#include "socket_fixture.h"

namespace {

enum class Reach { InProcess, Socket };

class SimEndToEnd : public simtest::RuntimeDirFixture, public testing::WithParamInterface<Reach> {
protected:
    void SetUp() override {
        RuntimeDirFixture::SetUp();
        config.productId = 0x7E57;  // not the default, so no other device is mistaken for it
        std::string error;
        device = sim::SimulatedDevice::Create(config, error);
        ASSERT_TRUE(device) << error;
        if (GetParam() == Reach::InProcess)
            publication = sim::Publish(device, "e2e");
        else
            server = sim::SocketServer::Start(device, device->Info(), SimDir() + "/e2e.sock", error);
        ASSERT_TRUE(publication || server) << error;
    }
    void TearDown() override {
        publication.reset();
        server.reset();
        RuntimeDirFixture::TearDown();
    }

    // The first present HID interface with our ids, as the tool's discovery finds it, opened.
    HANDLE Find(std::u16string& path) {
        GUID hid{};
        HidD_GetHidGuid(&hid);
        HDEVINFO set = SetupDiGetClassDevsW(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        HANDLE found = INVALID_HANDLE_VALUE;
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        for (DWORD i = 0; found == INVALID_HANDLE_VALUE && SetupDiEnumDeviceInterfaces(set, nullptr, &hid, i, &data);
             ++i) {
            DWORD needed = 0;
            SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &needed, nullptr);
            std::vector<std::uint8_t> block(needed);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(block.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            if (!SetupDiGetDeviceInterfaceDetailW(set, &data, detail, needed, nullptr, nullptr)) continue;
            HANDLE h = CreateFileW(detail->DevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
            HIDD_ATTRIBUTES attributes{};
            attributes.Size = sizeof attributes;
            if (h != INVALID_HANDLE_VALUE && HidD_GetAttributes(h, &attributes) &&
                attributes.VendorID == config.vendorId && attributes.ProductID == config.productId)
                found = h, path = detail->DevicePath;
            else if (h != INVALID_HANDLE_VALUE)
                CloseHandle(h);
        }
        SetupDiDestroyDeviceInfoList(set);
        return found;
    }

    sim::Config config;
    std::shared_ptr<sim::SimulatedDevice> device;
    std::unique_ptr<vhid::Publication> publication;
    std::unique_ptr<sim::SocketServer> server;
};

TEST_P(SimEndToEnd, FoundOpenedAndCommandedThroughHidD) {
    std::u16string path;
    HANDLE h = Find(path);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(path.starts_with(GetParam() == Reach::Socket ? u"\\\\?\\simhid#" : u"\\\\?\\vhid#"));

    // The descriptor's layout is checked in descriptor_faults_test; here, that it arrives.
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    ASSERT_TRUE(HidD_GetPreparsedData(h, &preparsed));
    HIDP_CAPS caps{};
    ASSERT_EQ(HidP_GetCaps(preparsed, &caps), HIDP_STATUS_SUCCESS);
    HidD_FreePreparsedData(preparsed);
    EXPECT_EQ(caps.UsagePage, 0xFF00);
    EXPECT_EQ(caps.OutputReportByteLength, 260);
    EXPECT_EQ(caps.InputReportByteLength, 257);
    EXPECT_EQ(caps.NumberOutputValueCaps, 3);
    EXPECT_EQ(caps.NumberInputValueCaps, 3);
    WCHAR product[64]{};
    ASSERT_TRUE(HidD_GetProductString(h, product, sizeof product));
    EXPECT_EQ(std::u16string(product), config.product);

    // Register read of the firmware version register 0x58: row 1 then row 2.
    std::vector<std::uint8_t> control{config.output[1].id, 0x06, 0x01, 0x58};
    control.resize(64);
    ASSERT_TRUE(HidD_SetOutputReport(h, control.data(), 64));
    std::vector<std::uint8_t> input(caps.InputReportByteLength, 0);
    input[0] = config.input[1].id;
    ASSERT_TRUE(HidD_GetInputReport(h, input.data(), 0x200 | 64));
    EXPECT_EQ(simtest::Le32(input), device->Register(0x58));
    EXPECT_EQ(device->Log().back().requestedLength, 0x240u);

    // A refused frame is a failed call with the device's error.
    control[1] = 0x07;
    EXPECT_FALSE(HidD_SetOutputReport(h, control.data(), 64));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
    CloseHandle(h);
}

INSTANTIATE_TEST_SUITE_P(Transports, SimEndToEnd, testing::Values(Reach::InProcess, Reach::Socket),
                         [](const auto& row) { return row.param == Reach::Socket ? "Socket" : "InProcess"; });

}  // namespace
