// The main dialog, with a recording window, opened on an in-process simulated device as
// the user opens it.
#pragma once

#include "support/sim_fixture.h"
#include "ui/main_dialog.h"
#include "ui/services/control_ids.h"
#include "ui/services/recording_window.h"

namespace testsupport {

class DialogSimFixture : public ::testing::Test {
protected:
    void Start(sim::Config config = {}) {
        PublishedSim published = PublishSim(std::move(config), "dialog");
        ASSERT_TRUE(published.sim);
        sim = std::move(published.sim);
        publication = std::move(published.publication);
        window.TypeText(ui::ids::kVid, core::Format("%04X", kSimVendorId));
        window.TypeText(ui::ids::kPid, core::Format("%04X", kSimProductId));
        dialog.OnOpenDevice();
        ASSERT_EQ(dialog.Host().IsDeviceOpen(), 1);
        ASSERT_FALSE(window.IsControlEnabled(ui::ids::kOpenDevice));
        sim->ClearLog();
        window.ClearCalls();
    }

    std::vector<sim::TransferRecord> Log() const { return sim->Log(); }
    std::string Wire() const { return WireText(sim->Log()); }

    std::shared_ptr<sim::SimulatedDevice> sim;
    std::unique_ptr<vhid::Publication> publication;
    ui::RecordingWindow window;
    Cuvc_hid_quendaDlg dialog{window};
    CommandProtocol& protocol = dialog.Protocol();
};

}  // namespace testsupport
