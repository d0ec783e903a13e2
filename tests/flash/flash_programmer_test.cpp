// The flash programmer with no window: the file slot over real files, and the burn and
// dump runs on the calling thread against an in-process simulated device with an
// identified flash. Verdicts come back in the run's outcome; slot boxes and trace lines
// go to the recording sinks.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <optional>

#include "core/stop_request.h"
#include "platform/win/file_api.h"
#include "platform/win/win_error.h"
#include "tests/flash/flash_fixture.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/sim_fixture.h"

namespace {

using namespace flashtest;
using testsupport::kSimProductId;
using testsupport::kSimVendorId;

// "caption: text" of each box, joined by " | ".
std::string BoxTexts(const std::vector<core::Box>& boxes) {
    std::string out;
    for (const core::Box& box : boxes) out += (out.empty() ? "" : " | ") + box.caption + ": " + box.text;
    return out;
}

// "address+length" of each span in hex, " ok" when its compare passed.
std::string SpanTexts(const std::vector<WrittenSpan>& spans) {
    std::string out;
    for (const WrittenSpan& s : spans)
        out += core::Format("%s%x+%x%s", out.empty() ? "" : ", ", s.address, s.length, s.compared ? " ok" : "");
    return out;
}

// Public, so that table rows can prepare through it.
class FlashRun : public testsupport::SimFixture {
public:
    // Whatever a test opened, no handle is left behind.
    void TearDown() override {
        file_testing::FailFlushAfter(-1, ERROR_SUCCESS);
        programmer.ReleaseFlashFile();
        host.Close();
        EXPECT_EQ(LiveHandleCount(), handlesBefore);
    }

    // A simulator of part `partRow` whose flash holds `preload`, opened and identified.
    void Start(std::uint16_t partRow = k4KSectorPartRow, std::uint16_t readCount = 256) {
        sim::Config config;
        config.partRow = partRow;
        config.input[0].count = readCount;
        SimFixture::Start(std::move(config));
        ASSERT_TRUE(sim);
        preload.assign(sim->Geometry().totalSize, 0x5A);
        ASSERT_TRUE(sim->LoadFlash(preload));
        ASSERT_EQ(protocol.GetId(), std::optional<ULONG>(partRow));
        sim->ClearLog();
        sinks.Clear();
    }

    void PickImage(const Bytes& image) { ASSERT_TRUE(programmer.SelectBurnFile(folder.Write("image.bin", image))); }
    // A Get ID answered with a row the table does not hold: nothing is identified any more.
    void ForgetPart() {
        sim->SetGetIdAnswer(kFlashPartCount);
        ASSERT_EQ(protocol.GetId(), std::optional<ULONG>(kFlashPartCount));
        ASSERT_EQ(protocol.IdentifiedPartIndex(), kNoIdentifiedPart);
    }

    // A run as the front ends start one: the device claimed around it.
    RunOutcome Run(const std::string& choice) {
        EXPECT_TRUE(protocol.ClaimDevice());
        RunOutcome outcome = choice == "dump" ? programmer.Dump() : programmer.Burn(Choice(choice));
        protocol.ReleaseDevice();
        return outcome;
    }

    bool Traced(const std::string& line) const {
        auto traces = sinks.Traces();
        return std::find(traces.begin(), traces.end(), line) != traces.end();
    }

    Folder folder;
    const std::size_t handlesBefore = LiveHandleCount();
    Bytes preload;
    FlashProgrammer programmer{protocol, sinks};
};

// --- The file slot ---

// The image is the file and one zero byte past its end, or the bytes the caller already read.
TEST_F(FlashRun, BurnPickLoadsTheFileOrTakesTheBytesGiven) {
    Bytes bytes = MakeImage(0x1234);
    const std::string path = folder.Write("image.bin", bytes);
    ASSERT_TRUE(programmer.SelectBurnFile(path));
    bytes.push_back(0);
    EXPECT_EQ(programmer.Image().bytes, bytes);
    EXPECT_EQ(programmer.Image().length, bytes.size() - 1);

    const Bytes given(100, 0xC3);
    ASSERT_TRUE(programmer.SelectBurnFile(path, given));
    EXPECT_EQ(programmer.Image().length, given.size());
    EXPECT_EQ(Slice(programmer.Image().bytes, 0, given.size()), given);
    EXPECT_TRUE(sinks.Boxes().empty());
}

// A dump pick and its chunks leave the file as it was; a release removes their temporary file.
TEST_F(FlashRun, ADumpPickKeepsTheFileAndTheNextPickReleasesIt) {
    const std::string image = folder.Write("image.bin", Bytes(64, 0x22));
    const std::string dump = folder.Write("dump.bin", Bytes(100, 0x33));
    ASSERT_TRUE(programmer.SelectBurnFile(image));
    ASSERT_TRUE(programmer.SelectDumpFile(dump));
    EXPECT_FALSE(programmer.Image().IsLoaded());
    EXPECT_EQ(LiveHandleCount(), handlesBefore + 1);  // the image's handle was closed

    const std::uint8_t chunk[3] = {1, 2, 3};
    EXPECT_EQ(programmer.WriteFlashFile(chunk, 3), 3u);
    EXPECT_EQ(folder.Entries().size(), 3u);  // the two files and the dump's temporary file
    ASSERT_TRUE(programmer.SelectBurnFile(image));
    EXPECT_EQ(ReadFile(dump), Bytes(100, 0x33));
    EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"dump.bin", "image.bin"}));
    EXPECT_EQ(programmer.Image().length, 64u);
}

// An overlong path is refused with a box and changes nothing; a pick that cannot be opened
// (a pipe, a device, a missing file) empties the slot without waiting for a pipe's other end.
TEST_F(FlashRun, PicksTheSlotCannotHoldOrOpen) {
    const std::string dump = folder.Write("dump.bin", {});
    ASSERT_TRUE(programmer.SelectDumpFile(dump).ok());
    const HANDLE handle = programmer.File().handle;
    const std::string tooLong = (folder.Path() / std::string(260, 'x')).string();
    EXPECT_EQ(programmer.SelectBurnFile(tooLong).error().code, ERROR_FILENAME_EXCED_RANGE);
    EXPECT_EQ(programmer.SelectDumpFile(tooLong).error().code, ERROR_FILENAME_EXCED_RANGE);
    EXPECT_EQ(programmer.File().handle, handle);
    EXPECT_EQ(programmer.File().path, dump);
    EXPECT_EQ(BoxTexts(sinks.Boxes()), "Error: The file path is too long ! | Error: The file path is too long !");

    sinks.Clear();
    const std::string fifo = (folder.Path() / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const auto& [path, forDump] : {std::pair{fifo, false}, {fifo, true}, {std::string("/dev/zero"), false},
                                        {(folder.Path() / "gone.bin").string(), false}}) {  // not created empty
        core::Status picked = forDump ? programmer.SelectDumpFile(path) : programmer.SelectBurnFile(path);
        ASSERT_FALSE(picked) << path;  // the error names the path and the system's reason
        EXPECT_NE(picked.error().message.find(path + ": "), std::string::npos) << picked.error().message;
        EXPECT_FALSE(programmer.File().IsOpen()) << path;
        EXPECT_FALSE(programmer.Image().IsLoaded()) << path;
    }
    EXPECT_TRUE(sinks.Boxes().empty());
    EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"dump.bin", "fifo"}));  // no temporary file left
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
    const char* spans;                     // the outcome's written spans
    const char* trace;                     // a line the run traces; none: nothing is sent
    std::string box;                       // the run's one box, "caption: text"
    ULONG firmwareSum = 0x3001;
    std::uint16_t partRow = k4KSectorPartRow;
};
void PrintTo(const BurnRow& row, std::ostream* os) { *os << row.name; }

class BurnRun : public FlashRun, public ::testing::WithParamInterface<BurnRow> {};

TEST_P(BurnRun, WritesTheChosenRangesAndAnswersItsVerdict) {
    const BurnRow& row = GetParam();
    Start(row.partRow);
    const Bytes image = MakeImage(row.imageSize, row.firmwareSum);
    PickImage(image);
    ASSERT_EQ(programmer.BurnRefusal(Choice(row.choice)), std::nullopt);
    if (row.fault != nullptr) row.fault(*sim);
    const RunOutcome outcome = Run(row.choice);

    const Bytes flash = sim->FlashContents();
    for (Range r : row.written) EXPECT_EQ(Slice(flash, r.at, r.length), Slice(image, r.at, r.length)) << r.at;
    for (Range r : row.untouched) EXPECT_EQ(Slice(flash, r.at, r.length), Slice(preload, r.at, r.length)) << r.at;
    EXPECT_EQ(FlagWrites(sim->Log()), row.flags);
    if (flash.size() > kUpdateFlagAddress) {
        EXPECT_EQ(flash[kUpdateFlagAddress], row.flags.empty() ? 0x5A : row.flags.back());
    }
    EXPECT_TRUE(row.trace != nullptr ? Traced(row.trace) : sim->Log().empty()) << (row.trace ? row.trace : "sent");
    EXPECT_EQ(SpanTexts(outcome.written), row.spans);
    EXPECT_EQ(BoxTexts(outcome.boxes), row.box);
    ASSERT_EQ(outcome.boxes.size(), 1u);
    EXPECT_EQ(outcome.boxes[0].owner, core::BoxOwner::None);
    EXPECT_EQ(outcome.passed, outcome.boxes[0].caption == "Info");
    EXPECT_EQ(outcome.interruption, "");
    EXPECT_TRUE(sinks.Boxes().empty());
    EXPECT_TRUE(sinks.Ordered());
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
        BurnRow{"Entire", "entire", 0x3011, nullptr, {{0, 0x3011}}, {{0x4000, 0x1000}}, {}, "0+3011 ok",
                "FlashWrite -- Compare data OK.\n", Updated("The entire flash")},
        // An image as large as the flash is written whole (one byte more is refused).
        BurnRow{"EntireExactlyTheFlash", "entire", 0x40000, nullptr, {{0, 0x40000}}, {}, {}, "0+40000 ok",
                "FlashWrite -- Transfer 262144 bytes to Firmware\n", Updated("The entire flash"), 0x3001, k256KPartRow},
        // One byte over three sectors: four whole sectors are written.
        BurnRow{"Firmware", "f", 0x184000, nullptr, {{0x180000, 0x4000}}, {{0x184000, 0x1000}, {0, 0x1000}}, {0, 1},
                "180000+4000 ok", "FlashWrite -- compressed firmware length_1 - 0x4000\n", Updated("- Firmware Area\n\n")},
        BurnRow{"Private", "p", 0x500000, nullptr, {{0x4F0000, 0x10000}}, {{0x180000, 0x1000}, {0x500000, 0x1000}}, {},
                "4f0000+10000", "FlashWrite for Customized-- Transfer 65536 bytes to Firmware\n",
                Updated("- Private Area\n\n")},
        // A sum that already is whole sectors stays as it is.
        BurnRow{"FirmwareAndPrivate", "fp", 0x500000, nullptr, {{0x180000, 0x2000}, {0x4F0000, 0x10000}},
                {{0x182000, 0x1000}, {0x500000, 0x1000}}, {0, 1}, "180000+2000 ok, 4f0000+10000",
                "FlashWrite -- compressed firmware length_1 - 0x2000\n", Updated("- Firmware Area\n- Private Area\n\n"),
                0x2000},
        BurnRow{"AllThree", "fpc", 0x800000, nullptr, {{0x180000, 0x4000}, {0x4F0000, 0x310000}}, {{0x184000, 0x1000}},
                {0, 1}, "180000+4000 ok, 4f0000+10000, 500000+300000", "FlashWrite -- Transfer 16384 bytes to Firmware\n",
                Updated("- Firmware Area\n- Private Area\n- Customized Area\n\n")},
        BurnRow{"OtherAreaWithNothingChecked", "", 0x1000, nullptr, {}, {}, {}, "", nullptr,
                "Error: No any item is selected in Other Area !"},
        BurnRow{"CompareDifferenceKeepsFlagAndSkipsAreas", "fp", 0x500000,
                [](sim::SimulatedDevice& s) { s.CorruptReadChunk(3, 5); }, {}, {{0x4F0000, 0x10000}}, {0}, "180000+4000",
                "FlashWrite -- Compare data fail, data(0x00180100~0x00180200) \n", kCompareNg},
        // The fourth write chunk fails; the compare still runs and finds erased bytes there.
        BurnRow{"ShortWriteIsJudgedByTheCompare", "f", 0x184000, FailChunk12, {}, {}, {0}, "180000+300",
                "FlashWrite -- Compare data fail, data(0x00180300~0x00180400) \n", kCompareNg},
        BurnRow{"UnplugMidWriteFailsTheSecondSetUp", "entire", 0x8000, [](sim::SimulatedDevice& s) { s.UnplugAfter(40); },
                {}, {}, {}, "0+2600", "Unknown error: Couldn't execute AP_FLASH_BURST_LATER--case 1\n", kBurnFailed},
        BurnRow{"UpdateFlagReadFailsBeforeAnyWrite", "f", 0x184000, [](sim::SimulatedDevice& s) { s.FailTransfer(3); },
                {}, {{0x180000, 0x4000}}, {}, "", "Unknown error: Couldn't execute AP_FLASH_READ--case 2\n", kBurnFailed},
        // Private falls short and Customized, the last burst, is written: still a failed burn.
        BurnRow{"EarlierAreaShortFailsTheBurn", "pc", 0x800000, FailChunk12, {}, {}, {}, "4f0000+900, 500000+300000",
                "FlashWrite for Customized-- Transfer 3145728 bytes to Firmware\n", kBurnFailed}),
    kRowName);

// --- Refusals before a run: the box to show, nothing sent ---

struct RefusalRow {
    const char* name;
    bool dump;  // Dump, else Burn
    const char* choice;
    std::size_t imageSize;  // a burn file of this size is picked first; 0: none
    void (*prepare)(FlashRun&);
    const char* box;
    ULONG firmwareSum = 0x3001;
    std::uint16_t partRow = k4KSectorPartRow;
};
void PrintTo(const RefusalRow& row, std::ostream* os) { *os << row.name; }

class Refusal : public FlashRun, public ::testing::WithParamInterface<RefusalRow> {};

TEST_P(Refusal, NamesWhyAndSendsNothing) {
    const RefusalRow& row = GetParam();
    Start(row.partRow);
    if (row.imageSize != 0) PickImage(MakeImage(row.imageSize, row.firmwareSum));
    if (row.prepare != nullptr) row.prepare(*this);
    sinks.Clear();
    sim->ClearLog();
    const std::optional<core::Box> refusal = row.dump ? programmer.DumpRefusal() : programmer.BurnRefusal(Choice(row.choice));
    ASSERT_TRUE(refusal.has_value());
    EXPECT_EQ(BoxTexts({*refusal}), std::string("Error: ") + row.box);
    EXPECT_EQ(refusal->owner, core::BoxOwner::Dialog);
    EXPECT_EQ(refusal->icon, core::Icon::Error);
    EXPECT_TRUE(sinks.Traces().empty());
    EXPECT_TRUE(sim->Log().empty());
    EXPECT_EQ(programmer.Image().IsLoaded(), row.imageSize != 0);
}

const char* const kTooShort = "The burn file is too short for the selected area !";
const char* const kBeyondTheFlash = "The selected area lies beyond the end of the flash !";

INSTANTIATE_TEST_SUITE_P(
    Rows, Refusal,
    ::testing::Values(
        RefusalRow{"NoFile", false, "entire", 0, nullptr, "Please select the burn file !"},
        RefusalRow{"UnknownPartAfterAKnownOne", false, "entire", 0x1000, [](FlashRun& f) { f.ForgetPart(); },
                   "Please execute Get ID function !"},
        RefusalRow{"NoFirmwareHeader", false, "f", 0x180013, nullptr, kTooShort},
        RefusalRow{"FirmwarePastImageEnd", false, "f", 0x183FFF, nullptr, kTooShort},
        RefusalRow{"FirmwarePastItsArea", false, "f", 0x800000, nullptr,
                   "The firmware length in the burn file exceeds the Firmware Area !", 0x370001},
        RefusalRow{"FirmwareLengthZero", false, "f", 0x184000, nullptr, "The firmware length in the burn file is 0 !", 0},
        RefusalRow{"FirmwareBeyondTheFlash", false, "f", 0x190000, nullptr, kBeyondTheFlash, 0x3001, k1MiBPartRow},
        RefusalRow{"CustomizedShort", false, "fc", 0x7FFFFF, nullptr, kTooShort},
        RefusalRow{"PrivateBeyondTheFlash", false, "p", 0x500000, nullptr, kBeyondTheFlash, 0x3001, k4MiBPartRow},
        RefusalRow{"EntireOneByteLargerThanTheFlash", false, "entire", 0x40001, nullptr,
                   "The burn file is larger than the flash !", 0x3001, k256KPartRow},
        RefusalRow{"DumpNoFile", true, "entire", 0, nullptr, "Please select the dump file !"},
        RefusalRow{"DumpWithTheBurnFilePicked", true, "entire", 0x100, nullptr, "Please select the dump file !"}),
    kRowName);

// --- Dumps: the target is replaced only by a whole dump that is on the disk ---

// A whole dump, with a short last chunk, through a symbolic link replaces the file the link names.
TEST_F(FlashRun, AWholeDumpReplacesTheFileALinkNames) {
    Start(k256KPartRow, 255);
    const Bytes flash = MakeImage(sim->Geometry().totalSize);
    ASSERT_TRUE(sim->LoadFlash(flash));
    const std::string path = folder.Write("dump.bin", Bytes(5000, 0x77));
    fs::create_symlink("dump.bin", folder.Path() / "link.bin");
    ASSERT_TRUE(programmer.SelectDumpFile((folder.Path() / "link.bin").string()));
    const RunOutcome outcome = Run("dump");
    EXPECT_TRUE(outcome.passed);
    EXPECT_EQ(BoxTexts(outcome.boxes), "Info: Dump firmware has finished!");
    EXPECT_EQ(outcome.boxes.at(0).owner, core::BoxOwner::None);
    EXPECT_TRUE(Traced("FlashRead -- Read data OK.\n"));
    EXPECT_EQ(ReadFile(path), flash);
    EXPECT_TRUE(fs::is_symlink(folder.Path() / "link.bin"));
    EXPECT_EQ(ReadRequests(sim->Log()), (flash.size() + 254) / 255);
    EXPECT_TRUE(sinks.Ordered());
    programmer.ReleaseFlashFile();
    EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"dump.bin", "link.bin"}));
}

// A dump that stops part way, or whose file the disk does not take once every byte is read,
// is no dump: the old file stays and no temporary one is left.
struct FailedDumpRow {
    const char* name;
    rlim_t diskRoom;   // 0: no limit
    int unplugAfter;   // transfers before an unplug; -1: none
    int flushSkip;     // flushes that succeed first (the dump's own, then the commit's); -1: no failure
    DWORD flushError;
    std::size_t reads;
    const char* trace;  // "": not checked
    bool diskFullBox;
};
void PrintTo(const FailedDumpRow& row, std::ostream* os) { *os << row.name; }

class FailedDump : public FlashRun, public ::testing::WithParamInterface<FailedDumpRow> {};

TEST_P(FailedDump, KeepsTheTargetAndReportsNoDump) {
    const FailedDumpRow& row = GetParam();
    Start(k256KPartRow);
    const Bytes old(5000, 0x77);
    const std::string path = folder.Write("dump.bin", old);
    ASSERT_TRUE(programmer.SelectDumpFile(path));
    if (row.unplugAfter >= 0) sim->UnplugAfter(static_cast<std::uint64_t>(row.unplugAfter));
    file_testing::FailFlushAfter(row.flushSkip, row.flushError);
    RunOutcome outcome;
    {
        std::optional<testsupport::FileSizeLimit> full;
        if (row.diskRoom != 0) full.emplace(row.diskRoom);
        outcome = Run("dump");
    }
    file_testing::FailFlushAfter(-1, ERROR_SUCCESS);

    EXPECT_EQ(ReadRequests(sim->Log()), row.reads);
    EXPECT_FALSE(outcome.passed);
    EXPECT_EQ(BoxTexts(outcome.boxes), "Error: Dump firmware failed, the dump file is incomplete!");
    EXPECT_TRUE(*row.trace == '\0' || Traced(row.trace)) << row.trace;
    EXPECT_FALSE(Traced("FlashRead -- Read data OK.\n"));
    std::string shown;  // the disk-full warning, owned by the dialog
    for (const core::Box& box : sinks.Boxes()) shown += box.caption + (box.owner == core::BoxOwner::Dialog ? "*" : "");
    EXPECT_EQ(shown, row.diskFullBox ? "Dump Filter failure*" : "");
    EXPECT_EQ(ReadFile(path), old);
    programmer.ReleaseFlashFile();
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"dump.bin"});
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FailedDump,
    ::testing::Values(
        // Chunks reach the file 64 KiB at a time: the first write, after 256 chunks, finds the disk full.
        FailedDumpRow{"DiskFullAtTheFirstWrite", 0x1000, -1, -1, ERROR_SUCCESS, 256, "", true},
        FailedDumpRow{"UnplugAfterTenChunks", 0, 2 + 10, -1, ERROR_SUCCESS, 11, "", false},  // the 11th fails
        FailedDumpRow{"DumpFlushFindsTheDiskFull", 0, -1, 0, ERROR_DISK_FULL, 1024, "FlashRead -- Flush dump file fail.\n", true},
        FailedDumpRow{"CommitFlushFails", 0, -1, 1, ERROR_IO_DEVICE, 1024,
                      "FlashRead -- Save dump file fail, flush, error 1117.\n", false}),
    kRowName);

// --- Stop requests: a signal raised after a chosen chunk ---

// A Firmware and Private burn; the firmware sum 0x3001 makes four 4 KiB sectors, 64 chunks.
struct StopRow {
    const char* name;
    std::vector<std::pair<std::size_t, int>> raiseAfterPost;  // 256-byte chunks: writes, then compares
    std::vector<int> flags;
    const char* interruption;
    const char* spans;
};
void PrintTo(const StopRow& row, std::ostream* os) { *os << row.name; }

// The handlers as the front ends install them; no stop request before or after the test.
struct StopState {
    StopState() { core::ResetStopRequests(); }
    ~StopState() { core::ResetStopRequests(); }
    core::StopSignals handlers{""};
};

class StoppedBurn : public FlashRun, public ::testing::WithParamInterface<StopRow> {
protected:
    StopState stops;
};

// The firmware write completes, Private is never begun, no box: the interruption tells.
TEST_P(StoppedBurn, FinishesTheWriteInProgressAtTheFirstSignalAndStopsAtTheSecond) {
    const StopRow& row = GetParam();
    Start();
    const Bytes image = MakeImage(0x500000);
    PickImage(image);
    sinks.raiseAfterPost = row.raiseAfterPost;
    const RunOutcome outcome = Run("fp");

    const Bytes flash = sim->FlashContents();
    EXPECT_EQ(Slice(flash, 0x180000, 0x4000), Slice(image, 0x180000, 0x4000));
    EXPECT_EQ(Slice(flash, 0x4F0000, 0x10000), Slice(preload, 0x4F0000, 0x10000));
    EXPECT_EQ(FlagWrites(sim->Log()), row.flags);
    EXPECT_FALSE(outcome.passed);
    EXPECT_TRUE(outcome.boxes.empty());
    EXPECT_EQ(outcome.interruption, row.interruption);
    EXPECT_TRUE(Traced(std::string(row.interruption) + "\n"));
    EXPECT_EQ(SpanTexts(outcome.written), row.spans);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StoppedBurn,
    ::testing::Values(StopRow{"OneSignalEndsTheBurnBeforeTheNextArea", {{5, SIGINT}}, {0, 1},
                              "interrupted: the write in progress was finished; nothing further was done",
                              "180000+4000 ok"},
                      // The second at the compare's last chunk: the firmware is not flagged as updated.
                      StopRow{"SecondSignalLeavesTheFlagCleared", {{5, SIGTERM}, {64 + 64, SIGHUP}}, {0},
                              "interrupted: the flash is incomplete", "180000+4000"}),
    kRowName);

}  // namespace
