// The dialog opening virtual devices the way the user does.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/win/handles.h"
#include "support/vendor_descriptor.h"
#include "ui/main_dialog.h"
#include "ui/services/control_ids.h"
#include "ui/services/recording_window.h"

namespace testsupport {

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
        dialog.OnOpenDevice();
    }

    void TearDown() override {
        host.Close();
        EXPECT_EQ(LiveHandleCount(), handlesBefore);
    }

    std::size_t handlesBefore = LiveHandleCount();
    ui::RecordingWindow window;
    Cuvc_hid_quendaDlg dialog{window};
    HidDeviceHost& host = dialog.Host();
};

}  // namespace testsupport
