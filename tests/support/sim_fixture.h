// A dialog-logic instance talking to an in-process simulated device.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/hid/virtual_device.h"
#include "protocol/command_protocol.h"
#include "sim/simulated_device.h"
#include "ui/services/control_ids.h"
#include "ui/services/recording_window.h"

namespace testsupport {

class ProtocolUnderTest : public CommandProtocol {
public:
    using CommandProtocol::CommandProtocol;
    ~ProtocolUnderTest() override {
        ReleaseHidDevice(device);
        ReleaseCommandBuffers();
    }
};

class SimFixture : public ::testing::Test {
protected:
    // Publishes a simulator built from `config` and opens it as the user would.
    void Start(sim::Config config = {}) {
        config.vendorId = 0x1209;
        config.productId = 0x5A5A;  // unique to these tests
        std::string error;
        sim = sim::SimulatedDevice::Create(std::move(config), error);
        ASSERT_TRUE(sim) << error;
        vhid::DeviceInfo info = sim->Info();
        info.path = vhid::MakePath("protocol");
        publication = vhid::Publish(std::move(info), sim);
        window.TypeText(ui::ids::kVid, "1209");
        window.TypeText(ui::ids::kPid, "5A5A");
        host.OnOpenDevice();
        ASSERT_EQ(host.IsDeviceOpen(), 1);
        ASSERT_FALSE(window.IsControlEnabled(ui::ids::kOpenDevice));
        sim->ClearLog();
        window.ClearCalls();
    }

    std::vector<sim::TransferRecord> Log() const { return sim->Log(); }

    // The log as text: "> 02 0a .." for an output report (its trailing zeros dropped, so a
    // stale byte shows), "< 2 0x240" for an input request (report ID, requested length).
    std::string Wire() const {
        std::string out;
        for (const sim::TransferRecord& r : sim->Log()) {
            if (!out.empty()) out += " | ";
            if (r.direction == sim::Direction::Input) {
                out += ui::Format("< %u 0x%x", r.reportId, static_cast<unsigned>(r.requestedLength));
                continue;
            }
            std::size_t end = r.bytes.size();
            while (end > 0 && r.bytes[end - 1] == 0) --end;
            out += ">";
            for (std::size_t i = 0; i < end; ++i) out += ui::Format(" %02x", r.bytes[i]);
        }
        return out;
    }

    std::shared_ptr<sim::SimulatedDevice> sim;
    std::unique_ptr<vhid::Publication> publication;
    ui::RecordingWindow window;
    ProtocolUnderTest host{window};
};

}  // namespace testsupport
