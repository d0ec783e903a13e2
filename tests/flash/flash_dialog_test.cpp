// The file slot, the picks and the burn and dump engines, run by the main dialog over real
// files and an in-process simulated device with an identified flash; runs are joined.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <csignal>
#include <semaphore>

#include "platform/hid/virtual_device.h"
#include "sim/simulated_device.h"
#include "tests/support/file_size_limit.h"
#include "ui/main_dialog.h"
#include "ui/services/control_ids.h"
#include "ui/services/recording_window.h"
#include "ui/services/stop_request.h"

namespace {

namespace ids = ui::ids;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t k4KSectorPartRow = 44;  // 8 MiB, 4 KiB sectors
constexpr std::uint16_t k256KPartRow = 34;      // 256 KiB, 64 KiB sectors

// Can hold the next burst at its start, hand over an overlong path, and raise a signal after a chosen chunk.
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
    void PostProgress(int doneId, int barId, std::uint32_t done) override {
        RecordingWindow::PostProgress(doneId, barId, done);
        const int chunk = ++chunks;
        for (auto [after, signal] : raiseAfterChunk)
            if (after == chunk) std::raise(signal);
    }
    std::atomic<bool> holdNext{false};
    std::binary_semaphore held{0}, resume{0};
    std::atomic<int> chunks{0};
    std::vector<std::pair<int, int>> raiseAfterChunk;
    std::optional<std::string> longPath;
};

class DialogUnderTest : public Cuvc_hid_quendaDlg {
public:
    using Cuvc_hid_quendaDlg::Cuvc_hid_quendaDlg;
    ~DialogUnderTest() override {
        Release();
        ReleaseCommandBuffers();
    }
    void Release() {
        JoinWorkers();
        ReleaseFlashFile();
        ReleaseHidDevice(device);
    }
    void ForgetSectorSize() { flashSectorSize = 0; }
    void ShrinkFlash(ULONG size) { flashTotalSize = size; }  // as a part smaller than the layout
};

// A raw image of `size` bytes whose firmware header (when the image holds it) gives
// Header_len + Boot_Size = firmwareSum.
Bytes MakeImage(std::size_t size, ULONG firmwareSum = 0x3001) {
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
    auto put = [&](ULONG at, ULONG value) {
        for (ULONG k = 0; k < 4 && at + k < size; ++k) image[at + k] = static_cast<std::uint8_t>(value >> (24 - 8 * k));
    };
    put(kHeaderLenOffset, firmwareSum - 0x100);
    put(kBootSizeOffset, 0x100);
    return image;
}

Bytes Slice(const Bytes& bytes, std::size_t at, std::size_t length) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

constexpr auto kRowName = [](const auto& info) { return std::string(info.param.name); };

// Public, so that table rows can prepare through it.
class FlashDialog : public ::testing::Test {
public:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("flash_dialog_" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    // Every test, whatever it opened, leaves no handle behind.
    void TearDown() override {
        dialog.Release();
        IdentifiedPartIndex = kNoIdentifiedPart;  // process-wide
        EXPECT_EQ(LiveHandleCount(), handlesBefore);
        fs::remove_all(dir);
    }

    // Publishes a simulator whose flash holds `preload`, opens it and runs Get ID.
    void Start(std::uint16_t partRow = k4KSectorPartRow, std::uint16_t readCount = 256) {
        sim::Config config;
        config.vendorId = 0x1209;
        config.productId = 0x5A5B;  // unique to these tests
        config.partRow = partRow;
        config.input[0].count = readCount;
        std::string error;
        sim = sim::SimulatedDevice::Create(std::move(config), error);
        ASSERT_TRUE(sim) << error;
        preload.assign(sim->Geometry().totalSize, 0x5A);
        ASSERT_TRUE(sim->LoadFlash(preload));
        vhid::DeviceInfo info = sim->Info();
        info.path = vhid::MakePath("engine");
        publication = vhid::Publish(std::move(info), sim);
        window.TypeText(ids::kVid, "1209");
        window.TypeText(ids::kPid, "5A5B");
        dialog.OnOpenDevice();
        ASSERT_EQ(dialog.IsDeviceOpen(), 1);
        dialog.OnGetId();
        ASSERT_NE(IdentifiedPartIndex, kNoIdentifiedPart);
        sim->ClearLog();
        window.ClearCalls();
    }

    std::string Write(const std::string& name, const Bytes& bytes) {
        std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path;
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
        PickBurn(Write("image.bin", image));
        ASSERT_TRUE(dialog.Image().IsLoaded());
    }

    // "entire", or the Other Area boxes as letters: f(irmware), p(rivate), c(ustomized).
    void Choose(const std::string& choice) {
        bool entire = choice == "entire";
        window.SetCheck(ids::kEntireFlash, entire ? 1 : 0);
        window.SetCheck(ids::kOtherArea, entire ? 0 : 1);
        const char letters[] = {'f', 'p', 'c'};
        for (int row = 0; row < kFlashAreaCount; ++row)
            window.SetCheck(ids::kFirmwareBox + row, !entire && choice.find(letters[row]) != std::string::npos);
    }

    void Run(bool dump) {
        dump ? dialog.OnDump() : dialog.OnBurn();
        dialog.JoinWorkers();
    }

    bool Enabled(int id) const { return window.Control(id).enabled; }
    // The names in the test's folder, sorted: a dump's temporary file shows up here.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    bool Traced(const std::string& line) const {
        auto traces = window.Traces();
        return std::find(traces.begin(), traces.end(), line) != traces.end();
    }

    // The one message box, as "caption: text", and who owns it.
    void ExpectOnlyBox(const std::string& box, ui::BoxOwner owner) const {
        auto boxes = window.MessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption + ": " + boxes[0].text, box);
        EXPECT_EQ(boxes[0].owner, owner);
    }

    // The update-flag values written, in order (data reports sent in access mode 2).
    std::vector<int> FlagWrites() const {
        std::vector<int> values;
        int mode = -1;
        for (const sim::TransferRecord& r : sim->Log()) {
            if (r.direction != sim::Direction::Output || r.bytes.size() < 5) continue;
            if (r.reportId == 2 && r.bytes[2] == 0x03) mode = r.bytes[3];
            if (r.reportId == 1 && mode == kModeUpdateFlag) values.push_back(r.bytes[4]);
        }
        return values;
    }

    // Within each burst the bar never goes backwards and never passes its range.
    void ExpectProgressMonotonic(bool shown) const {
        std::int64_t range = -1, last = 0;
        for (const ui::RecordedCall& call : window.Calls()) {
            if (call.kind == "ProgressRange") range = call.value, last = 0;
            if (call.kind != "ProgressPos") continue;
            EXPECT_GE(call.value, last);
            EXPECT_LE(call.value, range);
            last = call.value;
        }
        EXPECT_TRUE(!shown || range >= 0);
    }

    // The end step ran: slot released, "Status: Wait", start button off, exit traces last.
    void ExpectEnded(int startButton) const {
        EXPECT_FALSE(dialog.IsRunning());
        EXPECT_FALSE(dialog.File().IsOpen());
        EXPECT_FALSE(dialog.Image().IsLoaded());
        EXPECT_EQ(window.Control(ids::kStatusText).text, "Status: Wait");
        EXPECT_FALSE(Enabled(startButton));
        auto traces = window.Traces();
        ASSERT_GE(traces.size(), 2u);
        EXPECT_EQ(traces[traces.size() - 2], "Call ExitThread_0.\n");
        EXPECT_EQ(traces.back(), "Call ExitThread_1.\n");
    }

    std::size_t handlesBefore = LiveHandleCount();
    fs::path dir;
    std::shared_ptr<sim::SimulatedDevice> sim;
    std::unique_ptr<vhid::Publication> publication;
    Bytes preload;
    TestWindow window;
    DialogUnderTest dialog{window};
};

// --- The file slot and the picks ---

TEST_F(FlashDialog, BurnPickLoadsTheImageAndShowsItsVersion) {
    struct Case {
        std::size_t size;
        const char* version;
    };
    for (const Case& c : {Case{0x180020, "04.80.ab.01"}, Case{0x18001F, ""}}) {
        Bytes bytes(c.size, 0x11);
        for (std::size_t i = 0; i < 4 && 0x18001C + i < c.size; ++i)
            bytes[0x18001C + i] = std::array<std::uint8_t, 4>{0x01, 0xAB, 0x80, 0x04}[i];
        window.ClearCalls();
        std::string path = Write("image.bin", bytes);
        PickBurn(path);
        ASSERT_TRUE(dialog.File().IsOpen());
        EXPECT_TRUE(dialog.File().forRead);
        EXPECT_EQ(dialog.Image().length, c.size);
        ASSERT_EQ(dialog.Image().bytes.size(), c.size + 1);
        EXPECT_EQ(dialog.Image().bytes.back(), 0);
        EXPECT_EQ(window.Control(ids::kImageVersion).text, c.version);
        EXPECT_EQ(window.Control(ids::kBurnFilePath).text, path);
        EXPECT_TRUE(Enabled(ids::kBurn));
        EXPECT_FALSE(Enabled(ids::kDump));
        EXPECT_EQ(window.Traces(), std::vector<std::string>{ui::Format("FileSize READ = [0] [%d]\n", static_cast<int>(c.size))});
    }
    ui::OpenFileRequest request = window.OpenFileRequests().back();
    EXPECT_EQ(request.filters, (std::vector<std::pair<std::string, std::string>>{{"All", "*.*"}, {"Text", "*.TXT"}}));
    EXPECT_TRUE(request.pathMustExist && request.fileMustExist && !request.save && !request.overwritePrompt);
    const std::uint8_t chunk[16] = {};
    EXPECT_EQ(dialog.WriteFlashFile(chunk, 16), 0u);  // a file open for reading refuses the write, without a box
    EXPECT_TRUE(window.MessageBoxes().empty());
}

// A dump pick and its chunks leave the file as it was; a release removes their temporary file.
TEST_F(FlashDialog, PicksReleaseEachOtherAndADumpPickKeepsTheFile) {
    std::string image = Write("image.bin", Bytes(64, 0x22));
    std::string dump = Write("dump.bin", Bytes(100, 0x33));
    PickBurn(image);
    PickDump(dump);
    const ui::OpenFileRequest save = window.OpenFileRequests().back();  // a save dialog that asks before replacing
    EXPECT_TRUE(save.pathMustExist && !save.fileMustExist && save.save && save.overwritePrompt);
    EXPECT_EQ(save.filters, window.OpenFileRequests().front().filters);
    EXPECT_FALSE(dialog.Image().IsLoaded());
    EXPECT_FALSE(dialog.File().forRead);
    EXPECT_EQ(ReadFile(dump), Bytes(100, 0x33));
    EXPECT_EQ(window.Control(ids::kDumpFilePath).text, dump);
    EXPECT_TRUE(Enabled(ids::kDump));
    EXPECT_FALSE(Enabled(ids::kBurn));
    EXPECT_EQ(LiveHandleCount(), handlesBefore + 1);  // the image's handle was closed

    const std::uint8_t chunk[3] = {1, 2, 3};
    EXPECT_EQ(dialog.WriteFlashFile(chunk, 3), 3u);
    EXPECT_EQ(Entries().size(), 3u);  // the two files and the dump's temporary file
    PickBurn(image);
    EXPECT_EQ(ReadFile(dump), Bytes(100, 0x33));
    EXPECT_EQ(Entries(), (std::vector<std::string>{"dump.bin", "image.bin"}));
    EXPECT_EQ(dialog.Image().length, 64u);
    EXPECT_TRUE(Enabled(ids::kBurn));
    EXPECT_FALSE(Enabled(ids::kDump));
}

// A cancel or an overlong path changes nothing; a pick that cannot be opened empties the slot.
TEST_F(FlashDialog, CancelOrATooLongPathChangesNothingAFailedOpenEmptiesTheSlot) {
    std::string dump = Write("dump.bin", {});
    PickDump(dump);
    const HANDLE handle = dialog.File().handle;
    window.ClearCalls();
    PickBurn(std::nullopt);
    PickDump(std::nullopt);
    window.longPath = (dir / std::string(260, 'x')).string();
    PickBurn("x");
    PickDump("x");
    EXPECT_EQ(dialog.File().handle, handle);
    EXPECT_EQ(dialog.File().path, dump);
    EXPECT_EQ(window.Control(ids::kDumpFilePath).text, dump);
    EXPECT_EQ(window.Control(ids::kBurnFilePath).text, "");
    EXPECT_TRUE(Enabled(ids::kDump));
    EXPECT_EQ(window.CallsOf("SetText").size() + window.CallsOf("Enable").size(), 0u);
    ASSERT_EQ(window.MessageBoxes().size(), 2u);
    EXPECT_EQ(window.MessageBoxes()[0].caption, "Error");

    window.longPath.reset();
    window.ClearCalls();
    PickBurn(dir.string());  // a folder cannot be opened as a file
    EXPECT_TRUE(Enabled(ids::kBurn));
    EXPECT_FALSE(dialog.File().IsOpen());
    EXPECT_FALSE(dialog.Image().IsLoaded());
    EXPECT_EQ(window.Control(ids::kImageVersion).text, "");
    std::uint8_t byte = 7;
    EXPECT_EQ(dialog.ReadFlashFile(&byte, 1), 0u);
    EXPECT_EQ(dialog.WriteFlashFile(&byte, 1), 0u);
    EXPECT_TRUE(window.MessageBoxes().empty());
}

// --- Burn runs: what each Burn Area choice writes, the update flag, the verdicts, the failures ---

struct Range {
    ULONG at, length;
};

struct BurnRow {
    const char* name;
    const char* choice;
    std::size_t imageSize;
    void (*fault)(sim::SimulatedDevice&);  // none: the device works
    std::vector<Range> written;            // flash == image there
    std::vector<Range> untouched;          // flash still holds what it held
    std::vector<int> flags;                // the update-flag values written
    const char* trace;                     // a line the run traces; none: nothing is sent
    std::string box;                       // the run's own box, "caption: text"
    ULONG firmwareSum = 0x3001;
};
void PrintTo(const BurnRow& row, std::ostream* os) { *os << row.name; }

class BurnRun : public FlashDialog, public ::testing::WithParamInterface<BurnRow> {};

TEST_P(BurnRun, WritesTheChosenRangesAndEndsWithItsVerdict) {
    const BurnRow& row = GetParam();
    Start();
    Bytes image = MakeImage(row.imageSize, row.firmwareSum);
    PickImage(image);
    Choose(row.choice);
    if (row.fault != nullptr) row.fault(*sim);
    Run(false);

    Bytes flash = sim->FlashContents();
    for (Range r : row.written) EXPECT_EQ(Slice(flash, r.at, r.length), Slice(image, r.at, r.length)) << r.at;
    for (Range r : row.untouched) EXPECT_EQ(Slice(flash, r.at, r.length), Slice(preload, r.at, r.length)) << r.at;
    EXPECT_EQ(FlagWrites(), row.flags);
    EXPECT_EQ(flash[kUpdateFlagAddress], row.flags.empty() ? 0x5A : row.flags.back());
    EXPECT_TRUE(row.trace != nullptr ? Traced(row.trace) : sim->Log().empty()) << (row.trace ? row.trace : "sent");
    ExpectOnlyBox(row.box, ui::BoxOwner::None);
    ExpectProgressMonotonic(!row.written.empty());
    ExpectEnded(ids::kBurn);
}

std::string Updated(const char* what) { return std::string("Info: ") + what + " has updated, please replug-in device!"; }
void FailChunk12(sim::SimulatedDevice& s) { s.FailTransfer(12); }
const char* const kCompareNg = "Error: - Compare NG, Firmware update failed !";
const char* const kBurnFailed = "Error: - Flash burn failed !";

// Transfers of a Firmware burn: flag read (3), flag write (3), burst set-up (2), data.
// Read chunks: the flag read is the first.
INSTANTIATE_TEST_SUITE_P(
    Rows, BurnRun,
    ::testing::Values(
        BurnRow{"Entire", "entire", 0x3011, nullptr, {{0, 0x3011}}, {{0x4000, 0x1000}}, {},
                "FlashWrite -- Compare data OK.\n", Updated("The entire flash")},
        // One byte over three sectors: four whole sectors are written.
        BurnRow{"Firmware", "f", 0x184000, nullptr, {{0x180000, 0x4000}}, {{0x184000, 0x1000}, {0, 0x1000}}, {0, 1},
                "FlashWrite -- compressed firmware length_1 - 0x4000\n", Updated("- Firmware Area\n\n")},
        BurnRow{"Private", "p", 0x500000, nullptr, {{0x4F0000, 0x10000}}, {{0x180000, 0x1000}, {0x500000, 0x1000}}, {},
                "FlashWrite for Customized-- Transfer 65536 bytes to Firmware\n", Updated("- Private Area\n\n")},
        BurnRow{"Customized", "c", 0x800000, nullptr, {{0x500000, 0x300000}}, {{0x4F0000, 0x10000}}, {},
                "FlashWrite for Customized-- Transfer 3145728 bytes to Firmware\n", Updated("- Customized Area\n\n")},
        // A sum that already is whole sectors stays as it is.
        BurnRow{"FirmwareAndPrivate", "fp", 0x500000, nullptr, {{0x180000, 0x2000}, {0x4F0000, 0x10000}},
                {{0x182000, 0x1000}, {0x500000, 0x1000}}, {0, 1}, "FlashWrite -- compressed firmware length_1 - 0x2000\n",
                Updated("- Firmware Area\n- Private Area\n\n"), 0x2000},
        BurnRow{"AllThree", "fpc", 0x800000, nullptr, {{0x180000, 0x4000}, {0x4F0000, 0x310000}}, {{0x184000, 0x1000}},
                {0, 1}, "FlashWrite -- Transfer 16384 bytes to Firmware\n",
                Updated("- Firmware Area\n- Private Area\n- Customized Area\n\n")},
        BurnRow{"OtherAreaWithNothingChecked", "", 0x1000, nullptr, {}, {}, {}, nullptr,
                "Error: No any item is selected in Other Area !"},
        BurnRow{"CompareDifferenceKeepsFlagAndSkipsAreas", "fp", 0x500000,
                [](sim::SimulatedDevice& s) { s.CorruptReadChunk(3, 5); }, {}, {{0x4F0000, 0x10000}}, {0},
                "FlashWrite -- Compare data fail, data(0x00180100~0x00180200) \n", kCompareNg},
        // The fourth write chunk fails; the compare still runs and finds erased bytes there.
        BurnRow{"ShortWriteIsJudgedByTheCompare", "f", 0x184000, FailChunk12, {}, {}, {0},
                "FlashWrite -- Compare data fail, data(0x00180300~0x00180400) \n", kCompareNg},
        BurnRow{"UnplugMidWriteFailsTheSecondSetUp", "entire", 0x8000, [](sim::SimulatedDevice& s) { s.UnplugAfter(40); },
                {}, {}, {}, "Unknown error: Couldn't execute AP_FLASH_BURST_LATER--case 1\n", kBurnFailed},
        BurnRow{"UpdateFlagReadFailsBeforeAnyWrite", "f", 0x184000, [](sim::SimulatedDevice& s) { s.FailTransfer(3); },
                {}, {{0x180000, 0x4000}}, {}, "Unknown error: Couldn't execute AP_FLASH_READ--case 2\n", kBurnFailed},
        // Private falls short and Customized, the last burst, is written: still a failed burn.
        BurnRow{"EarlierAreaShortFailsTheBurn", "pc", 0x800000, FailChunk12, {}, {}, {},
                "FlashWrite for Customized-- Transfer 3145728 bytes to Firmware\n", kBurnFailed}),
    kRowName);

// --- Refusals in the Burn and Dump handlers: a dialog-owned box, no worker, nothing sent ---

struct RefusalRow {
    const char* name;
    bool dump;              // Dump, else Burn
    const char* choice;
    std::size_t imageSize;  // a burn file of this size is picked first; 0: none
    void (*prepare)(FlashDialog&);
    const char* box;
    ULONG firmwareSum = 0x3001;
};
void PrintTo(const RefusalRow& row, std::ostream* os) { *os << row.name; }

class Refusal : public FlashDialog, public ::testing::WithParamInterface<RefusalRow> {};

TEST_P(Refusal, StartsNoWorkerAndKeepsTheFile) {
    const RefusalRow& row = GetParam();
    Start();
    if (row.imageSize != 0) PickImage(MakeImage(row.imageSize, row.firmwareSum));
    Choose(row.choice);
    if (row.prepare != nullptr) row.prepare(*this);
    window.ClearCalls();
    sim->ClearLog();
    row.dump ? dialog.OnDump() : dialog.OnBurn();
    EXPECT_FALSE(dialog.IsRunning());
    ExpectOnlyBox(std::string("Error: ") + row.box, ui::BoxOwner::Dialog);
    EXPECT_TRUE(window.Traces().empty());
    EXPECT_TRUE(sim->Log().empty());
    EXPECT_EQ(dialog.Image().IsLoaded(), row.imageSize != 0);
}

void ForgetId(FlashDialog&) { IdentifiedPartIndex = kNoIdentifiedPart; }
const char* const kTooShort = "The burn file is too short for the selected area !";

INSTANTIATE_TEST_SUITE_P(
    Rows, Refusal,
    ::testing::Values(
        RefusalRow{"NoFile", false, "entire", 0, nullptr, "Please select the burn file !"},
        RefusalRow{"NoGetId", false, "entire", 0x1000, ForgetId, "Please execute Get ID function !"},
        RefusalRow{"NoFirmwareHeader", false, "f", 0x180013, nullptr, kTooShort},
        RefusalRow{"FirmwarePastImageEnd", false, "f", 0x183FFF, nullptr, kTooShort},
        RefusalRow{"FirmwarePastItsArea", false, "f", 0x800000, nullptr,
                   "The firmware length in the burn file exceeds the Firmware Area !", 0x370001},
        RefusalRow{"FirmwareWithoutSectorSize", false, "f", 0x184000, [](FlashDialog& f) { f.dialog.ForgetSectorSize(); },
                   "The flash sector size is unknown, the Firmware Area can't be burned !"},
        RefusalRow{"FirmwareLengthZero", false, "f", 0x184000, nullptr, "The firmware length in the burn file is 0 !", 0},
        RefusalRow{"CustomizedShort", false, "fc", 0x7FFFFF, nullptr, kTooShort},
        RefusalRow{"PrivateBeyondTheFlash", false, "p", 0x500000, [](FlashDialog& f) { f.dialog.ShrinkFlash(0x400000); },
                   "The selected area lies beyond the end of the flash !"},
        RefusalRow{"EntireLargerThanFlash", false, "entire", 0x800001, nullptr, "The burn file is larger than the flash !"},
        RefusalRow{"DumpNoFile", true, "entire", 0, nullptr, "Please select the dump file !"},
        RefusalRow{"DumpWithTheBurnFilePicked", true, "entire", 0x100, nullptr, "Please select the dump file !"},
        RefusalRow{"DumpNoGetId", true, "entire", 0,
                   [](FlashDialog& f) { f.PickDump((f.dir / "dump.bin").string()), ForgetId(f); },
                   "Please execute Get ID function !"}),
    kRowName);

// Mid-run the guarded controls are off and a close or second start is refused; then all is restored.
TEST_F(FlashDialog, RunGuardHoldsTheDialogUntilTheEndStep) {
    Start();
    PickImage(MakeImage(0x2000));
    Choose("entire");
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
    EXPECT_EQ(dialog.IsDeviceOpen(), 1);
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

// A full disk or an unplug keeps the old file and no temporary; a whole dump (short last
// chunk, through a symbolic link) replaces the file the link names.
TEST_F(FlashDialog, DumpReplacesTheFileOnlyWhenItCompleted) {
    Start(k256KPartRow, 255);
    const Bytes flash = MakeImage(sim->Geometry().totalSize);
    ASSERT_TRUE(sim->LoadFlash(flash));
    auto readRequests = [&] {
        auto log = sim->Log();
        return static_cast<std::size_t>(std::count_if(log.begin(), log.end(), [](const sim::TransferRecord& r) {
            return r.direction == sim::Direction::Input && r.reportId == 1;
        }));
    };
    const Bytes old(5000, 0x77);
    const std::string path = Write("dump.bin", old);
    fs::create_symlink("dump.bin", dir / "link.bin");
    const std::vector<std::string> files = {"dump.bin", "link.bin"};

    PickDump(path);
    {
        testsupport::FileSizeLimit full(0x1000);  // the 17th chunk finds the disk full
        Run(true);
    }
    auto boxes = window.MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].caption, "Dump Filter failure");
    EXPECT_EQ(boxes[0].icon, ui::Icon::Warning);
    EXPECT_EQ(boxes[0].owner, ui::BoxOwner::Dialog);
    EXPECT_EQ(boxes[0].text,
              "The disk containing dump file has run out of space, so the dump filter has been stopped.\r\n\r\n"
              "You must set a new dump file name or restart the graph to clear this filter error.");
    EXPECT_EQ(boxes[1].caption + ": " + boxes[1].text, "Error: Dump firmware failed, the dump file is incomplete!");
    EXPECT_EQ(readRequests(), 17u);
    EXPECT_EQ(ReadFile(path), old);
    EXPECT_EQ(Entries(), files);
    ExpectEnded(ids::kDump);

    PickDump(path);
    window.ClearCalls();
    sim->UnplugAfter(2 + 10);  // the set-up, then ten chunks
    Run(true);
    EXPECT_EQ(ReadFile(path), old);
    EXPECT_EQ(Entries(), files);
    ExpectOnlyBox("Error: Dump firmware failed, the dump file is incomplete!", ui::BoxOwner::None);
    ExpectEnded(ids::kDump);

    sim->ClearFaults();
    PickDump((dir / "link.bin").string());
    window.ClearCalls();
    sim->ClearLog();
    Run(true);
    EXPECT_EQ(ReadFile(path), flash);
    EXPECT_TRUE(fs::is_symlink(dir / "link.bin"));
    EXPECT_EQ(Entries(), files);
    EXPECT_EQ(readRequests(), (flash.size() + 254) / 255);
    ExpectOnlyBox("Info: Dump firmware has finished!", ui::BoxOwner::None);
    EXPECT_TRUE(Traced("FlashRead -- Read data OK.\n"));
    ExpectEnded(ids::kDump);
}

// A pipe or a device node is refused at the pick, without waiting for a pipe's other end.
TEST_F(FlashDialog, APickOfAPipeOrADeviceLeavesTheSlotEmpty) {
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const auto& [path, dump] : {std::pair{fifo, false}, {fifo, true}, {std::string("/dev/null"), true},
                                     {std::string("/dev/zero"), false}}) {
        dump ? PickDump(path) : PickBurn(path);
        EXPECT_FALSE(dialog.File().IsOpen()) << path;
        EXPECT_FALSE(dialog.Image().IsLoaded()) << path;
    }
    EXPECT_EQ(Entries(), std::vector<std::string>{"fifo"});
}


// --- Stop requests: a signal raised on the worker after a chosen chunk ---

// A Firmware and Private burn; the firmware sum 0x3001 makes four 4 KiB sectors, 64 chunks.
struct StopRow {
    const char* name;
    std::vector<std::pair<int, int>> raiseAfterChunk;  // 256-byte chunks: writes, then compares
    std::vector<int> flags;
    const char* interruption;
    bool compared;
};
void PrintTo(const StopRow& row, std::ostream* os) { *os << row.name; }

// The handlers as the program installs them; no stop request before or after the test.
struct StopState {
    StopState() { ui::ResetStopRequests(); }
    ~StopState() { ui::ResetStopRequests(); }
    ui::StopSignals handlers{""};
};

class StoppedBurn : public FlashDialog, public ::testing::WithParamInterface<StopRow> {
protected:
    StopState stops;
};

// The firmware write completes, Private is never begun, no box: the interruption text tells.
TEST_P(StoppedBurn, FinishesTheWriteInProgressAtTheFirstSignalAndStopsAtTheSecond) {
    const StopRow& row = GetParam();
    Start();
    Bytes image = MakeImage(0x500000);
    PickImage(image);
    Choose("fp");
    window.raiseAfterChunk = row.raiseAfterChunk;
    Run(false);

    Bytes flash = sim->FlashContents();
    EXPECT_EQ(Slice(flash, 0x180000, 0x4000), Slice(image, 0x180000, 0x4000));
    EXPECT_EQ(Slice(flash, 0x4F0000, 0x10000), Slice(preload, 0x4F0000, 0x10000));
    EXPECT_EQ(FlagWrites(), row.flags);
    EXPECT_TRUE(window.MessageBoxes().empty());
    EXPECT_EQ(dialog.Interruption(), row.interruption);
    EXPECT_TRUE(Traced(std::string(row.interruption) + "\n"));
    ASSERT_EQ(dialog.WrittenSpans().size(), 1u);
    const WrittenSpan& span = dialog.WrittenSpans()[0];
    EXPECT_EQ(ui::Format("%x %x %d", span.address, span.length, span.compared), ui::Format("180000 4000 %d", row.compared));
    ExpectEnded(ids::kBurn);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StoppedBurn,
    ::testing::Values(StopRow{"OneSignalEndsTheBurnBeforeTheNextArea", {{5, SIGINT}}, {0, 1},
                              "interrupted: the write in progress was finished; nothing further was done", true},
                      // The second at the compare's last chunk: the firmware is not flagged as updated.
                      StopRow{"SecondSignalLeavesTheFlagCleared", {{5, SIGTERM}, {64 + 64, SIGHUP}}, {0},
                              "interrupted: the flash is incomplete", false}),
    kRowName);

}  // namespace
