// What the two "..." picks ask the file dialog for: the burn image through an open dialog
// of existing files, the dump file through a save dialog that asks before an existing
// file is replaced. A No to replacing comes back as a cancel and changes nothing.
#include <gtest/gtest.h>

#include <tuple>

#include "ui/main_dialog.h"
#include "ui/services/recording_window.h"

namespace {

class PickDialog : public Cuvc_hid_quendaDlg {
public:
    using Cuvc_hid_quendaDlg::Cuvc_hid_quendaDlg;
    ~PickDialog() override { ReleaseFlashFile(); }
};

TEST(FilePickRequest, BurnOpensAnExistingFileDumpSavesAndAsksBeforeReplacing) {
    ui::RecordingWindow window;
    PickDialog dialog(window);
    dialog.OnBrowseBurnFile();  // nothing queued: each dialog is cancelled
    dialog.OnBrowseDumpFile();
    auto requests = window.OpenFileRequests();
    ASSERT_EQ(requests.size(), 2u);
    const ui::OpenFileRequest& burn = requests[0];
    const ui::OpenFileRequest& save = requests[1];
    EXPECT_EQ(std::tuple(burn.fileMustExist, burn.save, burn.overwritePrompt), std::tuple(true, false, false));
    EXPECT_EQ(std::tuple(save.fileMustExist, save.save, save.overwritePrompt), std::tuple(false, true, true));
    EXPECT_TRUE(save.pathMustExist);
    EXPECT_EQ(save.filters, burn.filters);

    // A No to replacing ends as a cancel: no field, button or slot changed.
    EXPECT_TRUE(window.CallsOf("SetText").empty());
    EXPECT_TRUE(window.CallsOf("Enable").empty());
    EXPECT_FALSE(dialog.File().IsOpen());
}

}  // namespace
