// FlashAccess and FlashBurst against the simulated flash: the frames of a set-up, chunking
// with a short last report, compare and file-write stops with their ranges, progress, and
// the transfers refused before anything is sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "support/sim_fixture.h"

namespace {

// A dump file in memory that takes at most `room` bytes in all.
struct MemoryFile {
    ULONG Write(const std::uint8_t* buffer, ULONG count) {
        ULONG n = std::min(count, room);
        bytes.insert(bytes.end(), buffer, buffer + n);
        room -= n;
        return n;
    }
    std::vector<std::uint8_t> bytes;
    ULONG room = 0xFFFFFFFFu;
};

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
    return bytes;
}

std::vector<std::uint8_t> Slice(const std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t length) {
    auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(at);
    return {begin, begin + static_cast<std::ptrdiff_t>(length)};
}

const char* const kBurstWriteFailed = "Unknown error: Couldn't execute BURST_FLASH_WRITE function\n";
const char* const kBurstReadFailed = "Unknown error: Couldn't execute BURST_FLASH_READ function\n";

constexpr ULONG kChunk = 256;  // the simulator's default: 260-byte write report, 256-byte answer

class FlashBurstTest : public testsupport::SimFixture {
protected:
    void SetUp() override {
        Start();
        ASSERT_EQ(host.flashReadLength, kChunk);
        ASSERT_EQ(host.flashBuffer.length, kChunk + 4);
        protocol.SetFileWriter([this](const std::uint8_t* buffer, ULONG count) { return file.Write(buffer, count); });
    }

    // Announces a whole-flash burst, sets the fault, then runs it; the log then holds the
    // burst alone.
    ULONG Burst(int op, ULONG address, ULONG total, std::span<std::uint8_t> image, ULONG offset, ULONG& done,
                void (*fault)(sim::SimulatedDevice&, FlashBurstTest&) = nullptr) {
        EXPECT_EQ(protocol.FlashAccess(AP_FLASH_BURST_LATER, kModeWhole, address, total, {}), 1);
        sim->ClearLog();
        sinks.Clear();
        if (fault != nullptr) fault(*sim, *this);
        return protocol.FlashBurst(op, total, image, offset, done);
    }

    static constexpr std::uint8_t kModeWhole = 1;

public:  // for the fault rows
    using testsupport::SimFixture::host;
    MemoryFile file;
};

TEST_F(FlashBurstTest, SetUpSendsTheTwoControlReports) {
    std::vector<std::uint8_t> buffer(8, 0xA5);
    ASSERT_EQ(protocol.FlashAccess(AP_FLASH_BURST_LATER, 3, 0x4F0000, 0x12345, buffer), 1);
    EXPECT_EQ(Wire(), "> 02 07 03 03 00 00 4f | > 02 06 05 45 23 01");
}

TEST_F(FlashBurstTest, WriteBurstEndsWithOneShortZeroFilledReportAndFullProgress) {
    std::vector<std::uint8_t> image = Pattern(0x400, 1);
    const ULONG total = 2 * kChunk + 10, offset = 0x20;
    ULONG done = 77;
    ASSERT_EQ(Burst(AP_FLASH_WRITE, 0x1000, total, image, offset, done), 0u);
    EXPECT_EQ(done, total);
    std::vector<sim::TransferRecord> log = Log();
    ASSERT_EQ(log.size(), 3u);
    const std::vector<std::uint8_t>& last = log.back().bytes;
    EXPECT_TRUE(std::equal(last.begin() + 4, last.begin() + 14, image.begin() + offset + 2 * kChunk));
    EXPECT_TRUE(std::all_of(last.begin() + 14, last.end(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(sim->FlashBytes(0x1000, total), Slice(image, offset, total));

    EXPECT_EQ(std::tuple(sinks.Bursts(), sinks.Total()), std::tuple(1, total));
    EXPECT_EQ(sinks.Posts(), (std::vector<std::uint32_t>{256, 512, 522}));
    EXPECT_EQ(sinks.StatusText(), "Status: Wait");
}

TEST_F(FlashBurstTest, TotalZeroSendsNothing) {
    ULONG done = 5;
    EXPECT_EQ(protocol.FlashBurst(AP_FLASH_WRITE, 0, {}, 0, done), 0u);
    EXPECT_EQ(done, 0u);
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(std::tuple(sinks.Bursts(), sinks.Total(), sinks.StatusText()), std::tuple(1, 0u, "Status: Wait"));
}

// A burst that stops part way, or is refused before anything is sent: it answers the bytes
// not moved, traces one line, sends no more and leaves the image alone.
struct StopRow {
    const char* name;
    int op;
    ULONG address, total;
    std::size_t imageSize;
    ULONG offset;
    void (*fault)(sim::SimulatedDevice&, FlashBurstTest&);  // set after the set-up
    ULONG done;
    std::size_t sent;    // reports of the burst
    std::size_t filed;   // bytes that reached the dump file
    const char* trace;
    const char* status;  // none: not checked
};
void PrintTo(const StopRow& row, std::ostream* os) { *os << row.name; }

class BurstStop : public FlashBurstTest, public ::testing::WithParamInterface<StopRow> {};

TEST_P(BurstStop, AnswersTheBytesNotMovedAndTracesWhy) {
    const StopRow& row = GetParam();
    const std::vector<std::uint8_t> flash = Pattern(0x1000, 9);
    std::vector<std::uint8_t> image = flash;
    ASSERT_TRUE(sim->LoadFlash(flash));
    ULONG done = 9;
    EXPECT_EQ(Burst(row.op, row.address, row.total, std::span(image).first(row.imageSize), row.offset, done, row.fault),
              row.total - row.done);
    EXPECT_EQ(done, row.done);
    EXPECT_EQ(Log().size(), row.sent);
    EXPECT_EQ(Traces(), std::vector<std::string>{row.trace});
    if (row.status != nullptr) {
        EXPECT_EQ(sinks.StatusText(), row.status);
    }
    EXPECT_EQ(image, flash);
    EXPECT_EQ(file.bytes, Slice(flash, row.address, row.filed));
}

using Fixture = FlashBurstTest;
void FailSecondReport(sim::SimulatedDevice& s, Fixture&) { s.FailTransfer(2); }
void CorruptSecondChunk(sim::SimulatedDevice& s, Fixture&) { s.CorruptReadChunk(2, 5); }
void CorruptLastByteOfFirstChunk(sim::SimulatedDevice& s, Fixture&) { s.CorruptReadChunk(1, kChunk - 1); }
void ShortAnswers(sim::SimulatedDevice& s, Fixture&) { s.SetInputTruncation(kChunk - 1); }  // not zeros
void FileTakesAChunkAndABit(sim::SimulatedDevice&, Fixture& f) { f.file.room = kChunk + 100; }
void ZeroReadLength(sim::SimulatedDevice&, Fixture& f) { f.host.flashReadLength = 0; }
void ReadLengthOverBuffer(sim::SimulatedDevice&, Fixture& f) { f.host.flashReadLength = f.host.flashBuffer.length + 1; }
void NoWriteDataBytes(sim::SimulatedDevice&, Fixture& f) { f.host.flashBuffer.length = 4; }
const char* const kWrite = "Status: Write";
const char* const kCompare = "Status: Compare";

INSTANTIATE_TEST_SUITE_P(
    Rows, BurstStop,
    ::testing::Values(
        StopRow{"WriteFailsAtTheSecondReport", AP_FLASH_WRITE, 0x1000, 2 * kChunk + 10, 0x400, 0x20, FailSecondReport,
                kChunk, 2, 0, kBurstWriteFailed, kWrite},
        StopRow{"CompareStopsWithTheChunksFlashRange", AP_FLASH_READ, 0x200, 600, 0x1000, 0x200, CorruptSecondChunk,
                kChunk, 2, 0, "FlashWrite -- Compare data fail, data(0x00000300~0x00000400) \n", kCompare},
        StopRow{"CompareSeesTheLastByteOfAChunk", AP_FLASH_READ, 0x200, 600, 0x1000, 0x200,
                CorruptLastByteOfFirstChunk, 0, 1, 0, "FlashWrite -- Compare data fail, data(0x00000200~0x00000300) \n",
                kCompare},
        StopRow{"CompareOfAShortLastChunk", AP_FLASH_READ, 0x200, 300, 0x1000, 0x200, CorruptSecondChunk, kChunk, 2, 0,
                "FlashWrite -- Compare data fail, data(0x00000300~0x0000032c) \n", kCompare},
        // The range names the flash, not the place in the image.
        StopRow{"ShortFileWriteStops", AP_FLASH_BURST_READ_TO_FILE, 0x400, 0x400, 0, 0x400, FileTakesAChunkAndABit,
                kChunk, 2, kChunk + 100, "FlashRead -- Read data fail, data(0x00000100~0x00000200) \n", "Status: Read"},
        StopRow{"ShortAnswerFailsTheRead", AP_FLASH_BURST_READ_TO_MEMORY, 0x100, 300, 0x800, 0x400, ShortAnswers, 0, 1,
                0, kBurstReadFailed, nullptr},
        // Refused before anything is sent.
        StopRow{"WritePastTheImage", AP_FLASH_WRITE, 0, 300, 299, 0, nullptr, 0, 0, 0, kBurstWriteFailed, nullptr},
        StopRow{"OffsetAndTotalWrap32Bits", AP_FLASH_BURST_READ_TO_MEMORY, 0, 0x200, 0x100, 0xFFFFFF00u, nullptr, 0,
                0, 0, kBurstReadFailed, nullptr},
        StopRow{"ReadChunkOfZero", AP_FLASH_BURST_READ_TO_FILE, 0, 10, 0, 0, ZeroReadLength, 0, 0, 0,
                kBurstReadFailed, nullptr},
        StopRow{"ReadChunkLongerThanTheFlashBuffer", AP_FLASH_BURST_READ_TO_MEMORY, 0, 10, 10, 0,
                ReadLengthOverBuffer, 0, 0, 0, kBurstReadFailed, nullptr},
        StopRow{"WriteReportWithNoDataBytes", AP_FLASH_WRITE, 0, 10, 10, 0, NoWriteDataBytes, 0, 0, 0,
                kBurstWriteFailed, nullptr}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(FlashBurstTest, SingleReportsReadBackAndRefuseWhatTheirBufferCannotHold) {
    std::vector<std::uint8_t> block = Pattern(kChunk, 3), back(kChunk, 0xEE), small(8, 0x22);
    ASSERT_EQ(protocol.FlashAccess(AP_FLASH_WRITE, 2, 0x70000, kChunk, block), 1);
    ASSERT_EQ(protocol.FlashAccess(AP_FLASH_READ, 2, 0x70000, kChunk, back), 1);
    EXPECT_EQ(back, block);
    sim->ClearLog();
    block.push_back(0);
    EXPECT_EQ(protocol.FlashAccess(AP_FLASH_WRITE, 2, 0x70000, kChunk + 1, block), 0);  // beyond one report
    EXPECT_EQ(protocol.FlashAccess(AP_FLASH_READ, 2, 0x70000, 9, small), 0);
    EXPECT_TRUE(Log().empty());
    sim->SetInputTruncation(7);  // a short answer is a failed read, not zeros
    EXPECT_EQ(protocol.FlashAccess(AP_FLASH_READ, 2, 0x70000, 8, small), 0);
    EXPECT_EQ(small, std::vector<std::uint8_t>(8, 0x22));
    const std::string write = "Unknown error: Couldn't execute REPORT_FLASH_WRITE function\n",
                      read = "Unknown error: Couldn't execute REPORT_FLASH_READ function\n";
    EXPECT_EQ(Traces(), (std::vector<std::string>{write, read, read}));
}

}  // namespace
