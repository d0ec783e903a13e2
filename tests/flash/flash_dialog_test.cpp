// The main dialog's flash controls through the recording window, against an in-process
// simulated device with an identified flash: what the picks show and enable, refusals as
// dialog-owned boxes, and the burn and dump workers (the controls locked during a run and
// restored after it, the run's boxes shown by the worker, the end step).
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <map>
#include <optional>
#include <semaphore>
#include <tuple>

#include "tests/flash/flash_fixture.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/dialog_sim_fixture.h"

namespace {

using namespace flashtest;
namespace ids = ui::ids;

// Can hold the next burst at its start and hand over an overlong path.
class TestWindow : public ui::RecordingWindow {
public:
    void SetProgressRange(int id, std::uint32_t total) override {
        RecordingWindow::SetProgressRange(id, total);
        if (holdNext.exchange(false)) {
            held.release();
            resume.acquire();
        }
    }
    bool OpenFileDialog(ui::BoxOwner owner, const ui::OpenFileRequest& request, std::string& path) override {
        bool picked = RecordingWindow::OpenFileDialog(owner, request, path);
        if (picked && longPath) path = *longPath;
        return picked;
    }
    std::atomic<bool> holdNext{false};
    std::binary_semaphore held{0}, resume{0};
    std::optional<std::string> longPath;
};

class FlashDialog : public testsupport::DialogSimFixture<TestWindow> {
protected:
    // Whatever a test opened, no handle is left behind.
    void TearDown() override {
        dialog.JoinWorkers();
        dialog.Programmer().ReleaseFlashFile();
        dialog.Host().Close();
        EXPECT_EQ(LiveHandleCount(), handlesBefore);
    }

    // The device opened and identified as the user does it.
    void Start() {
        sim::Config config;
        config.partRow = k4KSectorPartRow;
        DialogSimFixture::Start(std::move(config));
        dialog.OnGetId();
        ASSERT_EQ(protocol.IdentifiedPartIndex(), k4KSectorPartRow);
        sim->ClearLog();
        window.ClearCalls();
    }

    void Pick(bool dump, std::optional<std::string> path) {
        window.QueueOpenFileResult(std::move(path));
        dump ? dialog.OnBrowseDumpFile() : dialog.OnBrowseBurnFile();
    }
    void PickImage(const Bytes& image) { Pick(false, folder.Write("image.bin", image)); }
    void ChooseEntireFlash() {
        window.SetCheck(ids::kEntireFlash, 1);
        window.SetCheck(ids::kOtherArea, 0);
    }
    void Run(bool dump) {
        dump ? dialog.OnDump() : dialog.OnBurn();
        dialog.JoinWorkers();
    }

    bool Enabled(int id) const { return window.Control(id).enabled; }
    // The message boxes as "caption: text", joined by " | ".
    std::string Boxes() const {
        std::string out;
        for (const ui::RecordedCall& box : window.MessageBoxes())
            out += (out.empty() ? "" : " | ") + box.caption + ": " + box.text;
        return out;
    }

    // The end step ran: slot released, "Status: Wait", start button off, exit traces last.
    void ExpectEnded(int startButton) {
        EXPECT_FALSE(dialog.IsRunning());
        EXPECT_FALSE(dialog.Programmer().File().IsOpen());
        EXPECT_FALSE(dialog.Programmer().Image().IsLoaded());
        EXPECT_EQ(window.Control(ids::kStatusText).text, "Status: Wait");
        EXPECT_FALSE(Enabled(startButton));
        auto traces = window.Traces();
        ASSERT_GE(traces.size(), 2u);
        EXPECT_EQ(traces[traces.size() - 2], "Call ExitThread_0.\n");
        EXPECT_EQ(traces.back(), "Call ExitThread_1.\n");
    }

    Folder folder;
    const std::size_t handlesBefore = LiveHandleCount();
};

// --- The picks ---

// A burn pick shows the file and the image's version and enables Burn alone; a dump pick
// (a save dialog that asks before replacing) shows its file and enables Dump alone.
TEST_F(FlashDialog, PicksShowTheirFileAndEnableTheirRun) {
    struct Case {
        std::size_t size;
        const char* version;
    };
    for (const Case& c : {Case{0x180020, "04.80.ab.01"}, Case{0x18001F, ""}}) {
        Bytes bytes(c.size, 0x11);
        for (std::size_t i = 0; i < 4 && 0x18001C + i < c.size; ++i)
            bytes[0x18001C + i] = std::array<std::uint8_t, 4>{0x01, 0xAB, 0x80, 0x04}[i];
        const std::string path = folder.Write("image.bin", bytes);
        Pick(false, path);
        EXPECT_EQ(dialog.Programmer().Image().length, c.size);
        EXPECT_EQ(window.Control(ids::kImageVersion).text, c.version);
        EXPECT_EQ(window.Control(ids::kBurnFilePath).text, path);
        EXPECT_TRUE(Enabled(ids::kBurn));
        EXPECT_FALSE(Enabled(ids::kDump));
    }
    const ui::OpenFileRequest open = window.OpenFileRequests().back();
    EXPECT_TRUE(open.pathMustExist && open.fileMustExist && !open.save && !open.overwritePrompt);

    const std::string dump = folder.Write("dump.bin", Bytes(100, 0x33));
    Pick(true, dump);
    const ui::OpenFileRequest save = window.OpenFileRequests().back();
    EXPECT_TRUE(save.pathMustExist && !save.fileMustExist && save.save && save.overwritePrompt);
    EXPECT_EQ(window.Control(ids::kDumpFilePath).text, dump);
    EXPECT_TRUE(Enabled(ids::kDump));
    EXPECT_FALSE(Enabled(ids::kBurn));
    EXPECT_TRUE(window.MessageBoxes().empty());
}

// A cancel or an overlong path changes no control; a pick that cannot be opened still shows
// its path, with no version.
TEST_F(FlashDialog, ACancelOrAnOverlongPathChangesNoControl) {
    const std::string dump = folder.Write("dump.bin", {});
    Pick(true, dump);
    window.ClearCalls();
    Pick(false, std::nullopt);
    Pick(true, std::nullopt);
    window.longPath = (folder.Path() / std::string(260, 'x')).string();
    Pick(false, "x");
    Pick(true, "x");
    EXPECT_EQ(window.CallsOf("SetText").size() + window.CallsOf("Enable").size(), 0u);
    ASSERT_EQ(window.MessageBoxes().size(), 2u);  // the programmer's refusals, owned by the dialog
    EXPECT_EQ(window.MessageBoxes()[1].owner, ui::BoxOwner::Dialog);
    EXPECT_EQ(dialog.Programmer().File().path, dump);
    EXPECT_TRUE(Enabled(ids::kDump));

    window.longPath.reset();
    window.ClearCalls();
    Pick(false, folder.Path().string());  // a folder cannot be opened as a file
    EXPECT_FALSE(dialog.Programmer().File().IsOpen());
    EXPECT_EQ(window.Control(ids::kBurnFilePath).text, folder.Path().string());
    EXPECT_EQ(window.Control(ids::kImageVersion).text, "");
    EXPECT_TRUE(Enabled(ids::kBurn));
    EXPECT_TRUE(window.MessageBoxes().empty());
}

// --- The runs ---

// A refused start shows its box owned by the dialog; no worker, no trace, nothing sent.
TEST_F(FlashDialog, ARefusedStartShowsADialogBoxAndStartsNoWorker) {
    Start();
    for (bool dump : {false, true}) {
        SCOPED_TRACE(dump);
        window.ClearCalls();
        Run(dump);
        EXPECT_FALSE(dialog.IsRunning());
        EXPECT_EQ(Boxes(), dump ? "Error: Please select the dump file !" : "Error: Please select the burn file !");
        EXPECT_EQ(window.MessageBoxes().at(0).owner, ui::BoxOwner::Dialog);
        EXPECT_TRUE(window.Traces().empty());
        EXPECT_TRUE(sim->Log().empty());
        PickImage(MakeImage(0x100));  // a burn file does not serve a dump
    }
}

// Mid-run the guarded controls are off and a close or second start is refused; then all is restored.
TEST_F(FlashDialog, RunGuardHoldsTheDialogUntilTheEndStep) {
    Start();
    PickImage(MakeImage(0x2000));
    ChooseEntireFlash();
    ASSERT_FALSE(Enabled(ids::kDump));  // the burn pick turned it off
    std::map<int, bool> before;
    for (int id : {ids::kRead, ids::kWrite, ids::kSetGpio, ids::kGetId, ids::kGetFwVersion, ids::kGetHdmiInfo, ids::kTest,
                   ids::kDisableHdcpKey, ids::kEnableHdcpKey, ids::kBrowseBurnFile, ids::kBrowseDumpFile, ids::kBurn,
                   ids::kDump, ids::kEntireFlash, ids::kOtherArea, ids::kFirmwareBox, ids::kPrivateBox,
                   ids::kCustomizedBox, ids::kOpenDevice})
        before[id] = Enabled(id);

    window.holdNext = true;
    dialog.OnBurn();
    ASSERT_TRUE(window.held.try_acquire_for(std::chrono::seconds(20)));
    EXPECT_TRUE(dialog.IsRunning());
    for (auto [id, enabled] : before) EXPECT_FALSE(Enabled(id)) << id;
    dialog.OnBnClickedOk();
    EXPECT_FALSE(window.DialogResult().has_value());
    EXPECT_EQ(dialog.Host().IsDeviceOpen(), 1);
    EXPECT_EQ(Boxes(), "Error: A flash burn or dump is running. The tool can be closed when it has finished.");
    dialog.OnBurn();  // ignored: one run at a time
    dialog.OnDump();
    window.resume.release();
    dialog.JoinWorkers();

    auto traces = window.Traces();
    EXPECT_EQ(std::count(traces.begin(), traces.end(), "Start write data to flash.\n"), 1);
    EXPECT_EQ(std::count(traces.begin(), traces.end(), "Start read data from flash.\n"), 0);
    before[ids::kBurn] = false;  // the end step turns it off
    for (auto [id, enabled] : before) EXPECT_EQ(Enabled(id), enabled) << id;
    ExpectEnded(ids::kBurn);
    dialog.OnBnClickedOk();
    EXPECT_EQ(window.DialogResult(), ids::kOk);
}

// The worker shows a failed dump's boxes (the full disk owned by the dialog, the verdict
// without an owner) and runs the end step.
TEST_F(FlashDialog, TheWorkerShowsTheRunsBoxesAndEndsTheRun) {
    Start();
    Pick(true, folder.Write("dump.bin", Bytes(100, 0x77)));
    window.ClearCalls();
    {
        testsupport::FileSizeLimit full(0x1000);
        Run(true);
    }
    auto boxes = window.MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(std::tuple(boxes[0].caption, boxes[0].owner), std::tuple("Dump Filter failure", ui::BoxOwner::Dialog));
    EXPECT_EQ(std::tuple(boxes[1].caption, boxes[1].owner), std::tuple("Error", ui::BoxOwner::None));
    EXPECT_FALSE(dialog.LastRun().passed);
    ExpectEnded(ids::kDump);
}

}  // namespace
