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

#include "tests/flash/flash_fixture.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/sim_fixture.h"
#include "ui/main_dialog.h"
#include "ui/services/control_ids.h"
#include "ui/services/recording_window.h"

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

class FlashDialog : public ::testing::Test {
protected:
    // Whatever a test opened, no handle is left behind.
    void TearDown() override {
        dialog.JoinWorkers();
        dialog.Programmer().ReleaseFlashFile();
        dialog.Host().Close();
        EXPECT_EQ(LiveHandleCount(), handlesBefore);
    }

    // Publishes a simulator whose flash holds `preload`, opens it and runs Get ID, as the user does.
    void Start() {
        sim::Config config;
        config.partRow = k4KSectorPartRow;
        testsupport::PublishedSim published = testsupport::PublishSim(std::move(config), "flash-dialog");
        ASSERT_TRUE(published.sim);
        sim = std::move(published.sim);
        publication = std::move(published.publication);
        preload.assign(sim->Geometry().totalSize, 0x5A);
        ASSERT_TRUE(sim->LoadFlash(preload));
        window.TypeText(ids::kVid, core::Format("%04X", testsupport::kSimVendorId));
        window.TypeText(ids::kPid, core::Format("%04X", testsupport::kSimProductId));
        dialog.OnOpenDevice();
        ASSERT_EQ(dialog.Host().IsDeviceOpen(), 1);
        dialog.OnGetId();
        ASSERT_EQ(dialog.Protocol().IdentifiedPartIndex(), k4KSectorPartRow);
        sim->ClearLog();
        window.ClearCalls();
    }

    void PickBurn(std::optional<std::string> path) {
        window.QueueOpenFileResult(std::move(path));
        dialog.OnBrowseBurnFile();
    }
    void PickDump(std::optional<std::string> path) {
        window.QueueOpenFileResult(std::move(path));
        dialog.OnBrowseDumpFile();
    }
    void PickImage(const Bytes& image) {
        PickBurn(folder.Write("image.bin", image));
        ASSERT_TRUE(dialog.Programmer().Image().IsLoaded());
    }
    void ChooseEntireFlash() {
        window.SetCheck(ids::kEntireFlash, 1);
        window.SetCheck(ids::kOtherArea, 0);
    }
    void Run(bool dump) {
        dump ? dialog.OnDump() : dialog.OnBurn();
        dialog.JoinWorkers();
    }

    bool Enabled(int id) const { return window.Control(id).enabled; }
    bool Traced(const std::string& line) const {
        auto traces = window.Traces();
        return std::find(traces.begin(), traces.end(), line) != traces.end();
    }
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
    std::shared_ptr<sim::SimulatedDevice> sim;
    std::unique_ptr<vhid::Publication> publication;
    Bytes preload;
    TestWindow window;
    Cuvc_hid_quendaDlg dialog{window};
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
        PickBurn(path);
        EXPECT_EQ(dialog.Programmer().Image().length, c.size);
        EXPECT_EQ(window.Control(ids::kImageVersion).text, c.version);
        EXPECT_EQ(window.Control(ids::kBurnFilePath).text, path);
        EXPECT_TRUE(Enabled(ids::kBurn));
        EXPECT_FALSE(Enabled(ids::kDump));
    }
    const ui::OpenFileRequest open = window.OpenFileRequests().back();
    EXPECT_EQ(open.filters, (std::vector<std::pair<std::string, std::string>>{{"All", "*.*"}, {"Text", "*.TXT"}}));
    EXPECT_TRUE(open.pathMustExist && open.fileMustExist && !open.save && !open.overwritePrompt);

    const std::string dump = folder.Write("dump.bin", Bytes(100, 0x33));
    PickDump(dump);
    const ui::OpenFileRequest save = window.OpenFileRequests().back();
    EXPECT_TRUE(save.pathMustExist && !save.fileMustExist && save.save && save.overwritePrompt);
    EXPECT_EQ(save.filters, open.filters);
    EXPECT_EQ(window.Control(ids::kDumpFilePath).text, dump);
    EXPECT_TRUE(Enabled(ids::kDump));
    EXPECT_FALSE(Enabled(ids::kBurn));
    EXPECT_TRUE(window.MessageBoxes().empty());
}

// A cancel or an overlong path changes no control; a pick that cannot be opened still shows
// its path, with no version.
TEST_F(FlashDialog, ACancelOrAnOverlongPathChangesNoControl) {
    const std::string dump = folder.Write("dump.bin", {});
    PickDump(dump);
    window.ClearCalls();
    PickBurn(std::nullopt);
    PickDump(std::nullopt);
    window.longPath = (folder.Path() / std::string(260, 'x')).string();
    PickBurn("x");
    PickDump("x");
    EXPECT_EQ(window.CallsOf("SetText").size() + window.CallsOf("Enable").size(), 0u);
    EXPECT_EQ(Boxes(), "Error: The file path is too long ! | Error: The file path is too long !");
    EXPECT_EQ(window.MessageBoxes()[0].owner, ui::BoxOwner::Dialog);
    EXPECT_EQ(dialog.Programmer().File().path, dump);
    EXPECT_TRUE(Enabled(ids::kDump));

    window.longPath.reset();
    window.ClearCalls();
    PickBurn(folder.Path().string());  // a folder cannot be opened as a file
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
    EXPECT_FALSE(Traced("Start read data from flash.\n"));
    before[ids::kBurn] = false;  // the end step turns it off
    for (auto [id, enabled] : before) EXPECT_EQ(Enabled(id), enabled) << id;
    ExpectEnded(ids::kBurn);
    dialog.OnBnClickedOk();
    EXPECT_EQ(window.DialogResult(), ids::kOk);
}

// The worker shows the run's boxes (the verdict without an owner, a full disk owned by the
// dialog), leaves the progress at its end and runs the end step.
TEST_F(FlashDialog, TheWorkerShowsTheRunsBoxesAndEndsTheRun) {
    Start();
    const Bytes image = MakeImage(0x3011);
    PickImage(image);
    ChooseEntireFlash();
    window.ClearCalls();
    Run(false);
    EXPECT_EQ(Boxes(), "Info: The entire flash has updated, please replug-in device!");
    EXPECT_EQ(window.MessageBoxes().at(0).owner, ui::BoxOwner::None);
    EXPECT_TRUE(dialog.LastRun().passed);
    EXPECT_EQ(Slice(sim->FlashContents(), 0, image.size()), image);
    const ui::ControlState bar = window.Control(ids::kProgressBar);
    EXPECT_EQ(bar.position, bar.rangeMax);
    EXPECT_EQ(window.Control(ids::kProgressDone).text, window.Control(ids::kProgressTotal).text);
    ExpectEnded(ids::kBurn);

    const Bytes old(100, 0x77);
    const std::string path = folder.Write("dump.bin", old);
    PickDump(path);
    window.ClearCalls();
    {
        testsupport::FileSizeLimit full(0x1000);
        Run(true);
    }
    auto boxes = window.MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].caption, "Dump Filter failure");
    EXPECT_EQ(boxes[0].owner, ui::BoxOwner::Dialog);
    EXPECT_EQ(boxes[1].caption + ": " + boxes[1].text, "Error: Dump firmware failed, the dump file is incomplete!");
    EXPECT_EQ(boxes[1].owner, ui::BoxOwner::None);
    EXPECT_FALSE(dialog.LastRun().passed);
    EXPECT_EQ(ReadFile(path), old);
    EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"dump.bin", "image.bin"}));
    ExpectEnded(ids::kDump);
}

}  // namespace
