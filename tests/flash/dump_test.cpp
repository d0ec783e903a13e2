// The dump engine against the simulated flash: a whole dump, a device that stops
// answering, a full disk, and the handler's refusals.
#include <algorithm>
#include <fstream>
#include <iterator>

#include "flash/engine_fixture.h"

namespace enginetest {
namespace {

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::size_t FlashReadRequests(const sim::SimulatedDevice& device) {
    auto log = device.Log();
    return static_cast<std::size_t>(std::count_if(log.begin(), log.end(), [](const sim::TransferRecord& r) {
        return r.direction == sim::Direction::Input && r.reportId == 1;
    }));
}

// 256 KiB read 255 bytes at a time: the last chunk is short.
class DumpFixture : public EngineFixture {
protected:
    void SetUp() override {
        Start(k256KPartRow, 255);
        flash = MakeImage(sim->Geometry().totalSize);
        ASSERT_TRUE(sim->LoadFlash(flash));
    }
    void RunDump() {
        dialog.OnDump();
        dialog.JoinWorkers();
    }
    Bytes flash;
};

TEST_F(DumpFixture, CopiesTheWholeFlashInReadLengthChunks) {
    std::string path = TempPath("dump.bin");
    PickDumpFile(path);
    RunDump();
    EXPECT_EQ(ReadFile(path), flash);
    EXPECT_EQ(FlashReadRequests(*sim), (flash.size() + 254) / 255);
    EXPECT_EQ(OnlyBox(), "Info: Dump firmware has finished!");
    EXPECT_EQ(window.MessageBoxes()[0].owner, ui::BoxOwner::None);
    auto traces = window.Traces();
    EXPECT_NE(std::find(traces.begin(), traces.end(), "FlashRead -- Read data OK.\n"), traces.end());
    ExpectEnded(ids::kDump);
}

TEST_F(DumpFixture, DeviceThatStopsAnsweringLeavesTheChunksReadAndSaysSo) {
    std::string path = TempPath("dump.bin");
    PickDumpFile(path);
    sim->UnplugAfter(2 + 10);  // the set-up, then ten chunks
    RunDump();
    EXPECT_EQ(ReadFile(path), Slice(flash, 0, 10 * 255));
    EXPECT_EQ(OnlyBox(), "Error: Dump firmware failed, the dump file is incomplete!");
    ExpectEnded(ids::kDump);
}

TEST_F(DumpFixture, FullDiskShowsTheDiskFullBoxThenTheFailure) {
    PickDumpFile("/dev/full");
    ASSERT_TRUE(dialog.File().IsOpen());
    RunDump();
    auto boxes = window.MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].caption, "Dump Filter failure");
    EXPECT_EQ(boxes[1].text, "Dump firmware failed, the dump file is incomplete!");
    EXPECT_EQ(FlashReadRequests(*sim), 1u);
    ExpectEnded(ids::kDump);
}

// Refused in the handler: a dialog-owned box, no worker, nothing sent.
TEST_F(DumpFixture, RefusalsStartNoWorker) {
    const struct {
        const char* name;
        const char* box;
    } cases[] = {
        {"no file", "Please select the dump file !"},
        {"burn file picked", "Please select the dump file !"},
        {"no Get ID", "Please execute Get ID function !"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (&c == &cases[1]) PickBurnFile(MakeImage(0x100));
        if (&c == &cases[2]) {
            PickDumpFile(TempPath("dump.bin"));
            IdentifiedPartIndex = kNoIdentifiedPart;
        }
        window.ClearCalls();
        sim->ClearLog();
        dialog.OnDump();
        EXPECT_FALSE(dialog.IsRunning());
        EXPECT_EQ(OnlyBox(), std::string("Error: ") + c.box);
        EXPECT_EQ(window.MessageBoxes()[0].owner, ui::BoxOwner::Dialog);
        EXPECT_TRUE(window.Traces().empty());
        EXPECT_TRUE(sim->Log().empty());
    }
}

}  // namespace
}  // namespace enginetest
