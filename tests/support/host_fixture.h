// A dialog host that opens virtual devices the way the user does.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "hid/device_host.h"
#include "platform/win/handles.h"
#include "support/vendor_descriptor.h"
#include "ui/services/control_ids.h"
#include "ui/services/recording_window.h"

namespace testsupport {

class TestHost : public HidDeviceHost {
public:
    using HidDeviceHost::HidDeviceHost;
    using HidDeviceHost::controlBuffer;
    using HidDeviceHost::controlBufferLength;
    using HidDeviceHost::device;
    using HidDeviceHost::flashBuffer;
    using HidDeviceHost::flashBufferLength;
    using HidDeviceHost::flashReadLength;
    using HidDeviceHost::iicBuffer;
    using HidDeviceHost::iicBufferLength;
};

// Every handle a test opens is gone once the host releases its record.
class HostFixture : public ::testing::Test {
protected:
    std::unique_ptr<vhid::Publication> Publish(
        USHORT vid = 0x1209, USHORT pid = 0x7E57, std::vector<std::uint8_t> descriptor = CaptureDeviceDescriptor(),
        std::shared_ptr<vhid::DeviceHandler> handler = std::make_shared<RecordingDevice>()) {
        vhid::DeviceInfo info;
        info.path = vhid::MakePath("open");
        info.vendorId = vid;
        info.productId = pid;
        info.reportDescriptor = std::move(descriptor);
        return vhid::Publish(std::move(info), std::move(handler));
    }

    void Press(const std::string& vid = "1209", const std::string& pid = "7E57") {
        window.TypeText(ui::ids::kVid, vid);
        window.TypeText(ui::ids::kPid, pid);
        host.OnOpenDevice();
    }

    void TearDown() override {
        host.ReleaseHidDevice(host.device);
        host.ReleaseCommandBuffers();
        EXPECT_EQ(LiveHandleCount(), handlesBefore);
    }

    std::size_t handlesBefore = LiveHandleCount();
    ui::RecordingWindow window;
    TestHost host{window};
};

}  // namespace testsupport
