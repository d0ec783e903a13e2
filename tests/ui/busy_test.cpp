// The dialog's claim on the device: each command claims it for itself alone, and a command
// or a burn refuses with the holder's pid while another program holds it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/device_holder.h"
#include "support/dialog_sim_fixture.h"

namespace {

namespace ids = ui::ids;

using Holder = testsupport::DeviceHolder;

class DialogBusy : public testsupport::DialogSimFixture<> {
protected:
    void TearDown() override {
        dialog.OnBnClickedCancel();
        std::filesystem::remove(image);
    }
    std::string image = (std::filesystem::temp_directory_path() / ("dialog-busy-" + std::to_string(::getpid()))).string();
};

TEST_F(DialogBusy, ClaimsPerCommandAndRefusesABurnWhileAnotherHolds) {
    Start();
    {
        std::ofstream out(image, std::ios::binary);
        std::vector<char> bytes(0x10000, 0x5A);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    dialog.OnGetId();  // the claim is the command's alone: another program may take it after
    ASSERT_NE(protocol.IdentifiedPartIndex(), kNoIdentifiedPart);
    const std::string busy = "device busy: held by process " + std::to_string(::getpid());
    {
        Holder holder(dialog.Host().OpenedDevice().path.get());
        sim->ClearLog();
        window.ClearCalls();
        dialog.OnGetId();
        window.QueueOpenFileResult(image);
        dialog.OnBrowseBurnFile();
        dialog.OnBurn();
        EXPECT_FALSE(dialog.IsRunning()) << "a burn started on a device another program holds";
        auto boxes = window.MessageBoxes();
        ASSERT_EQ(boxes.size(), 2u);
        for (const auto& box : boxes) EXPECT_EQ(box.text + "|" + box.caption, busy + "|Error");
        EXPECT_TRUE(sim->Log().empty());
    }
    // The slot kept the image: Burn works as soon as the device is free.
    window.ClearCalls();
    dialog.OnBurn();
    dialog.JoinWorkers();
    auto boxes = window.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "The entire flash has updated, please replug-in device!");
}

}  // namespace
