// The main dialog, with a recording window, opened on an in-process simulated device as
// the user opens it.
#pragma once

#include "support/sim_fixture.h"
#include "ui/main_dialog.h"
#include "ui/services/control_ids.h"
#include "ui/services/recording_window.h"

namespace testsupport {

// `Window` may be a recording window with test hooks of its own.
template <class Window = ui::RecordingWindow>
class DialogSimFixture : public ::testing::Test, public SimDevice {
protected:
    void Start(sim::Config config = {}) {
        Publish(std::move(config), "dialog");
        ASSERT_TRUE(sim);
        window.TypeText(ui::ids::kVid, core::Format("%04X", kSimVendorId));
        window.TypeText(ui::ids::kPid, core::Format("%04X", kSimProductId));
        dialog.OnOpenDevice();
        ASSERT_EQ(dialog.Host().IsDeviceOpen(), 1);
        ASSERT_FALSE(window.IsControlEnabled(ui::ids::kOpenDevice));
        sim->ClearLog();
        window.ClearCalls();
    }

    Window window;
    Cuvc_hid_quendaDlg dialog{window};
    CommandProtocol& protocol = dialog.Protocol();
};

}  // namespace testsupport
