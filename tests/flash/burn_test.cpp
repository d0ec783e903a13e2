// The burn engine against the simulated flash: what each Burn Area choice writes, the
// update flag, the verdicts, the failures, the pre-flight refusals and the run guard.
#include <algorithm>
#include <map>

#include "flash/engine_fixture.h"

namespace enginetest {
namespace {

struct Range {
    ULONG at, length;
};

bool Traced(const ui::RecordingWindow& window, const std::string& line) {
    auto traces = window.Traces();
    return std::find(traces.begin(), traces.end(), line) != traces.end();
}

// Within each burst the bar never goes backwards and never passes its range.
void ExpectProgressMonotonic(const ui::RecordingWindow& window) {
    std::int64_t range = -1, last = 0;
    for (const ui::RecordedCall& call : window.Calls()) {
        if (call.kind == "ProgressRange") range = call.value, last = 0;
        if (call.kind != "ProgressPos") continue;
        EXPECT_GE(call.value, last);
        EXPECT_LE(call.value, range);
        last = call.value;
    }
    EXPECT_GE(range, 0);
}

struct SelectionRow {
    const char* name;
    const char* choice;
    std::size_t imageSize;
    ULONG firmwareSum;
    std::vector<Range> written;    // flash == image there
    std::vector<Range> untouched;  // flash still holds what it held
    std::vector<int> flags;
    const char* trace;
    const char* verdict;
};
void PrintTo(const SelectionRow& row, std::ostream* os) { *os << row.name; }

class BurnSelection : public EngineFixture, public ::testing::WithParamInterface<SelectionRow> {};

TEST_P(BurnSelection, WritesTheChosenRangesAndNamesThem) {
    const SelectionRow& row = GetParam();
    Start();
    Bytes image = MakeImage(row.imageSize, row.firmwareSum);
    PickBurnFile(image);
    Choose(row.choice);
    RunBurn();

    Bytes flash = sim->FlashContents();
    for (Range r : row.written) EXPECT_EQ(Slice(flash, r.at, r.length), Slice(image, r.at, r.length)) << r.at;
    for (Range r : row.untouched) EXPECT_EQ(Slice(flash, r.at, r.length), Slice(preload, r.at, r.length)) << r.at;
    EXPECT_EQ(FlagWrites(), row.flags);
    EXPECT_EQ(flash[kUpdateFlagAddress], row.flags.empty() ? 0x5A : 1);
    EXPECT_TRUE(Traced(window, row.trace)) << row.trace;
    EXPECT_EQ(OnlyBox(), std::string("Info: ") + row.verdict);
    EXPECT_EQ(window.MessageBoxes().at(0).owner, ui::BoxOwner::None);
    ExpectProgressMonotonic(window);
    ExpectEnded(ids::kBurn);
}

const char* const kAll = "- Firmware Area\n- Private Area\n- Customized Area\n\n has updated, please replug-in device!";

INSTANTIATE_TEST_SUITE_P(
    Rows, BurnSelection,
    ::testing::Values(
        SelectionRow{"Entire", "entire", 0x3011, 0x3001, {{0, 0x3011}}, {{0x4000, 0x1000}}, {},
                     "FlashWrite -- Compare data OK.\n", "The entire flash has updated, please replug-in device!"},
        // One byte over three sectors: four whole sectors are written.
        SelectionRow{"Firmware", "f", 0x184000, 0x3001, {{0x180000, 0x4000}}, {{0x184000, 0x1000}, {0, 0x1000}}, {0, 1},
                     "FlashWrite -- compressed firmware length_1 - 0x4000\n",
                     "- Firmware Area\n\n has updated, please replug-in device!"},
        SelectionRow{"Private", "p", 0x500000, 0x3001, {{0x4F0000, 0x10000}}, {{0x180000, 0x1000}, {0x500000, 0x1000}},
                     {}, "FlashWrite for Customized-- Transfer 65536 bytes to Firmware\n",
                     "- Private Area\n\n has updated, please replug-in device!"},
        SelectionRow{"Customized", "c", 0x800000, 0x3001, {{0x500000, 0x300000}}, {{0x4F0000, 0x10000}}, {},
                     "FlashWrite for Customized-- Transfer 3145728 bytes to Firmware\n",
                     "- Customized Area\n\n has updated, please replug-in device!"},
        // A sum that already is whole sectors stays as it is.
        SelectionRow{"FirmwareAndPrivate", "fp", 0x500000, 0x2000, {{0x180000, 0x2000}, {0x4F0000, 0x10000}},
                     {{0x182000, 0x1000}, {0x500000, 0x1000}}, {0, 1},
                     "FlashWrite -- compressed firmware length_1 - 0x2000\n",
                     "- Firmware Area\n- Private Area\n\n has updated, please replug-in device!"},
        SelectionRow{"AllThree", "fpc", 0x800000, 0x3001, {{0x180000, 0x4000}, {0x4F0000, 0x310000}},
                     {{0x184000, 0x1000}}, {0, 1}, "FlashWrite -- Transfer 16384 bytes to Firmware\n", kAll}),
    [](const auto& p) { return std::string(p.param.name); });

struct FailureRow {
    const char* name;
    const char* choice;
    std::size_t imageSize;
    void (*fault)(sim::SimulatedDevice&);
    const char* box;
    const char* trace;
    std::vector<int> flags;
    std::vector<Range> untouched;
};
void PrintTo(const FailureRow& row, std::ostream* os) { *os << row.name; }

class BurnFailure : public EngineFixture, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(BurnFailure, IsToldAndEndsTheRun) {
    const FailureRow& row = GetParam();
    Start();
    PickBurnFile(MakeImage(row.imageSize));
    Choose(row.choice);
    row.fault(*sim);
    RunBurn();

    EXPECT_EQ(OnlyBox(), row.box);
    EXPECT_TRUE(Traced(window, row.trace)) << row.trace;
    EXPECT_EQ(FlagWrites(), row.flags);
    Bytes flash = sim->FlashContents();
    for (Range r : row.untouched) EXPECT_EQ(Slice(flash, r.at, r.length), Slice(preload, r.at, r.length)) << r.at;
    ExpectEnded(ids::kBurn);
}

// Transfers of a Firmware burn: flag read (3), flag write (3), burst set-up (2), data.
// Read chunks: the flag read is the first.
const char* const kCompareNg = "Error: - Compare NG, Firmware update failed !";
const char* const kBurnFailed = "Error: - Flash burn failed !";

INSTANTIATE_TEST_SUITE_P(
    Rows, BurnFailure,
    ::testing::Values(
        FailureRow{"CompareDifferenceKeepsFlagAndSkipsAreas", "fp", 0x500000,
                   [](sim::SimulatedDevice& s) { s.CorruptReadChunk(3, 5); }, kCompareNg,
                   "FlashWrite -- Compare data fail, data(0x00180100~0x00180200) \n", {0}, {{0x4F0000, 0x10000}}},
        // The fourth write chunk fails; the compare still runs and finds erased bytes there.
        FailureRow{"ShortWriteIsJudgedByTheCompare", "f", 0x184000, [](sim::SimulatedDevice& s) { s.FailTransfer(12); },
                   kCompareNg, "FlashWrite -- Compare data fail, data(0x00180300~0x00180400) \n", {0}, {}},
        FailureRow{"UnplugMidWriteFailsTheSecondSetUp", "entire", 0x8000,
                   [](sim::SimulatedDevice& s) { s.UnplugAfter(40); }, kBurnFailed,
                   "Unknown error: Couldn't execute AP_FLASH_BURST_LATER--case 1\n", {}, {}},
        FailureRow{"UpdateFlagReadFailsBeforeAnyWrite", "f", 0x184000,
                   [](sim::SimulatedDevice& s) { s.FailTransfer(3); }, kBurnFailed,
                   "Unknown error: Couldn't execute AP_FLASH_READ--case 2\n", {}, {{0x180000, 0x4000}}},
        // Private falls short and Customized, the last burst, is written: still a failed burn.
        FailureRow{"EarlierAreaShortFailsTheBurn", "pc", 0x800000, [](sim::SimulatedDevice& s) { s.FailTransfer(12); },
                   kBurnFailed, "FlashWrite for Customized-- Transfer 3145728 bytes to Firmware\n", {}, {}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(EngineFixture, OtherAreaWithNothingCheckedSendsNothing) {
    Start();
    PickBurnFile(MakeImage(0x1000));
    Choose("");
    RunBurn();
    EXPECT_EQ(OnlyBox(), "Error: No any item is selected in Other Area !");
    EXPECT_EQ(window.MessageBoxes()[0].owner, ui::BoxOwner::None);
    EXPECT_TRUE(sim->Log().empty());
    ExpectEnded(ids::kBurn);
}

struct RefusalRow {
    const char* name;
    const char* choice;
    std::size_t imageSize;  // 0: no file picked
    ULONG firmwareSum;
    void (*prepare)(DialogUnderTest&);
    const char* box;
};
void PrintTo(const RefusalRow& row, std::ostream* os) { *os << row.name; }

class BurnRefusal : public EngineFixture, public ::testing::WithParamInterface<RefusalRow> {};

// Refused in the handler: a dialog-owned box, no worker, nothing sent, the file kept.
TEST_P(BurnRefusal, StartsNoWorker) {
    const RefusalRow& row = GetParam();
    Start();
    if (row.imageSize != 0) PickBurnFile(MakeImage(row.imageSize, row.firmwareSum));
    Choose(row.choice);
    if (row.prepare != nullptr) row.prepare(dialog);
    window.ClearCalls();
    sim->ClearLog();
    dialog.OnBurn();
    EXPECT_FALSE(dialog.IsRunning());
    EXPECT_EQ(OnlyBox(), std::string("Error: ") + row.box);
    EXPECT_EQ(window.MessageBoxes()[0].owner, ui::BoxOwner::Dialog);
    EXPECT_TRUE(window.Traces().empty());
    EXPECT_TRUE(sim->Log().empty());
    EXPECT_EQ(dialog.Image().IsLoaded(), row.imageSize != 0);
}

const char* const kTooShort = "The burn file is too short for the selected area !";

INSTANTIATE_TEST_SUITE_P(
    Rows, BurnRefusal,
    ::testing::Values(
        RefusalRow{"NoFile", "entire", 0, 0, nullptr, "Please select the burn file !"},
        RefusalRow{"NoGetId", "entire", 0x1000, 0, [](DialogUnderTest&) { IdentifiedPartIndex = kNoIdentifiedPart; },
                   "Please execute Get ID function !"},
        RefusalRow{"NoFirmwareHeader", "f", 0x180013, 0x3001, nullptr, kTooShort},
        RefusalRow{"FirmwarePastImageEnd", "f", 0x183FFF, 0x3001, nullptr, kTooShort},
        RefusalRow{"FirmwarePastItsArea", "f", 0x800000, 0x370001, nullptr,
                   "The firmware length in the burn file exceeds the Firmware Area !"},
        RefusalRow{"FirmwareWithoutSectorSize", "f", 0x184000, 0x3001, [](DialogUnderTest& d) { d.ForgetSectorSize(); },
                   "The flash sector size is unknown, the Firmware Area can't be burned !"},
        RefusalRow{"CustomizedShort", "fc", 0x7FFFFF, 0x3001, nullptr, kTooShort},
        RefusalRow{"EntireLargerThanFlash", "entire", 0x800001, 0x3001, nullptr, "The burn file is larger than the flash !"}),
    [](const auto& p) { return std::string(p.param.name); });

// While a worker is held in its first burst: the guarded controls are off, a close and a
// second start are refused; afterwards each control is back as it was.
TEST_F(EngineFixture, RunGuardHoldsTheDialogUntilTheEndStep) {
    Start();
    PickBurnFile(MakeImage(0x2000));
    Choose("entire");
    ASSERT_FALSE(window.Control(ids::kDump).enabled);  // the burn pick turned it off
    std::map<int, bool> before;
    for (int id : {ids::kRead, ids::kWrite, ids::kSetGpio, ids::kGetId, ids::kGetFwVersion, ids::kGetHdmiInfo, ids::kTest,
                   ids::kDisableHdcpKey, ids::kEnableHdcpKey, ids::kBrowseBurnFile, ids::kBrowseDumpFile, ids::kBurn,
                   ids::kDump, ids::kEntireFlash, ids::kOtherArea, ids::kFirmwareBox, ids::kPrivateBox,
                   ids::kCustomizedBox, ids::kOpenDevice})
        before[id] = window.Control(id).enabled;

    window.CloseGate();
    dialog.OnBurn();
    ASSERT_TRUE(window.WaitUntilHeld());
    EXPECT_TRUE(dialog.IsRunning());
    for (auto [id, enabled] : before) EXPECT_FALSE(window.Control(id).enabled) << id;
    dialog.OnBnClickedOk();
    EXPECT_FALSE(window.DialogResult().has_value());
    EXPECT_EQ(dialog.IsDeviceOpen(), 1);
    dialog.OnBurn();  // ignored: one run at a time
    dialog.OnDump();
    window.OpenGate();
    dialog.JoinWorkers();

    auto traces = window.Traces();
    EXPECT_EQ(std::count(traces.begin(), traces.end(), "Start write data to flash.\n"), 1);
    EXPECT_FALSE(Traced(window, "Start read data from flash.\n"));
    before[ids::kBurn] = false;  // the end step turns it off
    for (auto [id, enabled] : before) EXPECT_EQ(window.Control(id).enabled, enabled) << id;
    ExpectEnded(ids::kBurn);
    dialog.OnBnClickedOk();
    EXPECT_EQ(window.DialogResult(), ids::kOk);
}

}  // namespace
}  // namespace enginetest
