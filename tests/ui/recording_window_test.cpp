// The recording window is the tests' view of the dialog, so its model must behave as
// the real controls do where handlers depend on it. The saved setting is shown through
// the dialog's own tests.
#include <gtest/gtest.h>

#include "ui/services/recording_window.h"

namespace {

TEST(RecordingWindow, KeepsCallsInOrderAndModelsControls) {
    ui::RecordingWindow window;
    window.Trace("one\n");
    window.SetControlText(1001, "text");
    window.EnableControl(1016, false);
    window.SetCheck(1044, 1);
    window.MessageBox(ui::BoxOwner::None, "hello", "Info", ui::Icon::Information);
    auto calls = window.Calls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].kind, "Trace");
    EXPECT_EQ(calls[1].kind, "SetText");
    EXPECT_EQ(calls[4].owner, ui::BoxOwner::None);
    EXPECT_EQ(window.Control(1001).text, "text");
    EXPECT_FALSE(window.IsControlEnabled(1016));
    EXPECT_EQ(window.GetCheck(1044), 1);
    EXPECT_EQ(window.Traces(), std::vector<std::string>{"one\n"});

    // Reads honour the maximum count as a text buffer would, terminator included.
    window.TypeText(1025, "123456789ABC");
    EXPECT_EQ(window.GetControlText(1025, 10), "123456789");
    EXPECT_EQ(window.GetControlText(1025, 1), "");
    EXPECT_EQ(window.GetControlText(1025, 0), "");
}

TEST(RecordingWindow, AbsentControlsListsAndScriptedFileAnswers) {
    ui::RecordingWindow window;
    window.RemoveControl(1034);
    EXPECT_FALSE(window.HasControl(1034));
    window.EnableControl(1034, true);
    window.SetCheck(1034, 1);
    EXPECT_EQ(window.GetCheck(1034), 0);
    EXPECT_TRUE(window.Calls().empty());  // calls on an absent control are skipped

    window.AddListItem(1048, "GPIO_0");
    EXPECT_EQ(window.GetListSelection(1048), -1);
    window.SelectListItem(1048, 0);
    EXPECT_EQ(window.GetListSelection(1048), 0);
    window.SelectListItem(1048, 5);  // no such item: nothing selected
    EXPECT_EQ(window.GetListSelection(1048), -1);

    window.QueueOpenFileResult(std::string("/tmp/a.bin"));
    window.QueueOpenFileResult(std::nullopt);
    std::string path;
    EXPECT_TRUE(window.OpenFileDialog(ui::BoxOwner::Dialog, {}, path));
    EXPECT_EQ(path, "/tmp/a.bin");
    EXPECT_FALSE(window.OpenFileDialog(ui::BoxOwner::Dialog, {}, path));
    EXPECT_FALSE(window.OpenFileDialog(ui::BoxOwner::Dialog, {}, path));  // nothing scripted: cancelled
}

}  // namespace
