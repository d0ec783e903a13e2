// FlashAccess and FlashBurst against the simulated flash: the frames of a set-up, chunking
// with a short last report, compare and file-write stops with their ranges, reads into
// memory, progress, and the transfers refused before anything is sent.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/sim_fixture.h"

namespace {

namespace ids = ui::ids;

// A protocol host with a dump file in memory that takes at most `room` bytes in all.
class BurstHost : public CommandProtocol {
public:
    using CommandProtocol::CommandProtocol;
    using CommandProtocol::flashBuffer;
    using CommandProtocol::flashBufferLength;
    using CommandProtocol::flashReadLength;
    ~BurstHost() override {
        ReleaseHidDevice(device);
        ReleaseCommandBuffers();
    }
    ULONG WriteFlashFile(const std::uint8_t* buffer, ULONG count) override {
        ULONG n = std::min(count, room);
        file.insert(file.end(), buffer, buffer + n);
        room -= n;
        return n;
    }
    std::vector<std::uint8_t> file;
    ULONG room = 0xFFFFFFFFu;
};

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
    return bytes;
}

const char* const kBurstWriteFailed = "Unknown error: Couldn't execute BURST_FLASH_WRITE function\n";
const char* const kBurstReadFailed = "Unknown error: Couldn't execute BURST_FLASH_READ function\n";

constexpr ULONG kChunk = 256;  // the simulator's default: 260-byte write report, 256-byte answer

class FlashBurstTest : public testsupport::SimFixture {
protected:
    void SetUp() override {
        Start();
        burst.OnOpenDevice();  // a second handle on the same simulator, with the test's host
        ASSERT_EQ(burst.IsDeviceOpen(), 1);
        ASSERT_EQ(burst.flashReadLength, kChunk);
        ASSERT_EQ(burst.flashBufferLength, kChunk + 4);
        sim->ClearLog();
        window.ClearCalls();
    }

    // Announces a whole-flash burst, then runs it; the log then holds the burst alone.
    ULONG Burst(int op, ULONG address, ULONG total, std::span<std::uint8_t> image, ULONG offset, ULONG& done) {
        EXPECT_EQ(burst.FlashAccess(AP_FLASH_BURST_LATER, kModeWhole, address, total, {}), 1);
        sim->ClearLog();
        window.ClearCalls();
        return burst.FlashBurst(op, total, image, offset, done);
    }

    static constexpr std::uint8_t kModeWhole = 1;
    BurstHost burst{window};
};

TEST_F(FlashBurstTest, SetUpSendsTheTwoControlReportsAndTouchesNoBuffer) {
    std::fill_n(burst.flashBuffer.get(), burst.flashBufferLength, 0x5A);
    std::vector<std::uint8_t> buffer(8, 0xA5);
    ASSERT_EQ(burst.FlashAccess(AP_FLASH_BURST_LATER, 3, 0x4F0000, 0x12345, buffer), 1);
    EXPECT_EQ(Wire(), "> 02 07 03 03 00 00 4f | > 02 06 05 45 23 01");
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(8, 0xA5));
    EXPECT_TRUE(std::all_of(burst.flashBuffer.get(), burst.flashBuffer.get() + burst.flashBufferLength,
                            [](std::uint8_t b) { return b == 0x5A; }));
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
    EXPECT_EQ(sim->FlashBytes(0x1000, total),
              std::vector<std::uint8_t>(image.begin() + offset, image.begin() + offset + total));

    EXPECT_EQ(window.Control(ids::kProgressTotal).text, "522");
    EXPECT_EQ(window.Control(ids::kProgressDone).text, "522");
    EXPECT_EQ(window.Control(ids::kProgressBar).rangeMax, total);
    std::vector<std::int64_t> positions;
    for (const ui::RecordedCall& c : window.CallsOf("ProgressPos")) positions.push_back(c.value);
    EXPECT_EQ(positions, (std::vector<std::int64_t>{0, 256, 512, 522}));
    EXPECT_EQ(window.Control(ids::kStatusText).text, "Status: Wait");

    sim->FailTransfer(4);  // after the set-up's two reports, the burst's second report fails
    EXPECT_EQ(Burst(AP_FLASH_WRITE, 0x1000, total, image, offset, done), total - kChunk);
    EXPECT_EQ(done, kChunk);
    EXPECT_EQ(window.Traces(), std::vector<std::string>{kBurstWriteFailed});
    EXPECT_EQ(window.Control(ids::kStatusText).text, "Status: Write");
}

struct CompareCase {
    ULONG total;
    const char* trace;
};

TEST_F(FlashBurstTest, CompareStopsAtTheSecondChunkWithItsFlashRange) {
    std::vector<std::uint8_t> image = Pattern(0x1000, 9);
    ASSERT_TRUE(sim->LoadFlash(image));
    for (const CompareCase& c : {CompareCase{600, "FlashWrite -- Compare data fail, data(0x00000300~0x00000400) \n"},
                                 CompareCase{300, "FlashWrite -- Compare data fail, data(0x00000300~0x0000032c) \n"}}) {
        sim->CorruptReadChunk(2, 5);
        ULONG done = 0;
        EXPECT_EQ(Burst(AP_FLASH_READ, 0x200, c.total, image, 0x200, done), c.total - kChunk);
        EXPECT_EQ(done, kChunk);
        EXPECT_EQ(window.Traces(), std::vector<std::string>{c.trace});
        EXPECT_EQ(window.Control(ids::kStatusText).text, "Status: Compare");
        sim->ClearFaults();
    }
}

TEST_F(FlashBurstTest, ShortFileWriteStopsWithTheRangeWithoutTheOffset) {
    std::vector<std::uint8_t> flash = Pattern(0x1000, 4);
    ASSERT_TRUE(sim->LoadFlash(flash));
    burst.room = kChunk + 100;
    ULONG done = 0;
    EXPECT_EQ(Burst(AP_FLASH_BURST_READ_TO_FILE, 0x400, 0x400, {}, 0x400, done), 0x400 - kChunk);
    EXPECT_EQ(done, kChunk);
    EXPECT_EQ(window.Traces(), std::vector<std::string>{"FlashRead -- Read data fail, data(0x00000100~0x00000200) \n"});
    EXPECT_EQ(burst.file, std::vector<std::uint8_t>(flash.begin() + 0x400, flash.begin() + 0x400 + kChunk + 100));
    EXPECT_EQ(window.Control(ids::kStatusText).text, "Status: Read");
}

TEST_F(FlashBurstTest, ReadIntoMemoryLandsAtTheOffsetAndAShortAnswerFails) {
    std::vector<std::uint8_t> flash = Pattern(0x1000, 6);
    ASSERT_TRUE(sim->LoadFlash(flash));
    std::vector<std::uint8_t> image(0x800, 0xCC);
    ULONG done = 0;
    ASSERT_EQ(Burst(AP_FLASH_BURST_READ_TO_MEMORY, 0x100, 300, image, 0x10, done), 0u);
    EXPECT_EQ(done, 300u);
    EXPECT_TRUE(std::equal(image.begin() + 0x10, image.begin() + 0x10 + 300, flash.begin() + 0x100));
    EXPECT_EQ(image[0x0F], 0xCC);
    EXPECT_EQ(image[0x10 + 300], 0xCC);

    sim->SetInputTruncation(kChunk - 1);  // a short answer is a failed read, not zeros
    EXPECT_EQ(Burst(AP_FLASH_BURST_READ_TO_MEMORY, 0x100, 300, image, 0x400, done), 300u);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(image[0x400], 0xCC);
    EXPECT_EQ(window.Traces(), std::vector<std::string>{kBurstReadFailed});
}

TEST_F(FlashBurstTest, TotalZeroSendsNothingAndTotalsShowUnsigned) {
    window.SetControlText(ids::kProgressTotal, "99");
    ULONG done = 5;
    EXPECT_EQ(burst.FlashBurst(AP_FLASH_WRITE, 0, {}, 0, done), 0u);
    EXPECT_EQ(done, 0u);
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(window.Control(ids::kProgressTotal).text, "0");
    EXPECT_EQ(window.Control(ids::kProgressDone).text, "0");
    EXPECT_EQ(window.Control(ids::kStatusText).text, "Status: Wait");
    sim->FailTransfer(1);
    burst.FlashBurst(AP_FLASH_BURST_READ_TO_FILE, 0x80000000u, {}, 0, done);
    EXPECT_EQ(window.Control(ids::kProgressTotal).text, "2147483648");  // not negative
}

struct Refusal {
    const char* what;
    int op;
    ULONG total;
    std::size_t imageSize;
    ULONG offset;
    int readLengthChange;    // added to flashReadLength
    int bufferLengthChange;  // added to flashBufferLength
    const char* trace;
};

TEST_F(FlashBurstTest, BurstsThatCannotProgressOrPassTheImageAreRefusedBeforeSending) {
    const ULONG read = kChunk, buffer = kChunk + 4;
    const Refusal rows[] = {
        {"write past the image", AP_FLASH_WRITE, 300, 299, 0, 0, 0, kBurstWriteFailed},
        {"compare past the image by the offset", AP_FLASH_READ, 100, 0x100, 0xA0, 0, 0, kBurstReadFailed},
        {"offset and total wrap 32 bits", AP_FLASH_BURST_READ_TO_MEMORY, 0x200, 0x100, 0xFFFFFF00u, 0, 0,
         kBurstReadFailed},
        {"read chunk of 0", AP_FLASH_BURST_READ_TO_FILE, 10, 0, 0, -static_cast<int>(read), 0, kBurstReadFailed},
        {"read chunk longer than the flash buffer", AP_FLASH_BURST_READ_TO_MEMORY, 10, 10, 0,
         static_cast<int>(buffer - read) + 1, 0, kBurstReadFailed},
        {"write report with no data bytes", AP_FLASH_WRITE, 10, 10, 0, 0, 4 - static_cast<int>(buffer),
         kBurstWriteFailed},
    };
    for (const Refusal& r : rows) {
        window.ClearCalls();
        burst.flashReadLength = static_cast<ULONG>(static_cast<int>(read) + r.readLengthChange);
        burst.flashBufferLength = static_cast<ULONG>(static_cast<int>(buffer) + r.bufferLengthChange);
        std::vector<std::uint8_t> image(r.imageSize, 0x11);
        ULONG done = 9;
        EXPECT_EQ(burst.FlashBurst(r.op, r.total, image, r.offset, done), r.total) << r.what;
        EXPECT_EQ(done, 0u) << r.what;
        EXPECT_EQ(window.Traces(), std::vector<std::string>{r.trace}) << r.what;
        EXPECT_TRUE(std::all_of(image.begin(), image.end(), [](std::uint8_t b) { return b == 0x11; })) << r.what;
    }
    burst.flashReadLength = read;
    burst.flashBufferLength = buffer;
    EXPECT_TRUE(Log().empty());
}

TEST_F(FlashBurstTest, SingleReportsReadBackAndRefuseWhatTheirBufferCannotHold) {
    std::vector<std::uint8_t> block = Pattern(kChunk, 3), back(kChunk, 0xEE), small(8, 0x22);
    ASSERT_EQ(burst.FlashAccess(AP_FLASH_WRITE, 2, 0x70000, kChunk, block), 1);
    ASSERT_EQ(burst.FlashAccess(AP_FLASH_READ, 2, 0x70000, kChunk, back), 1);
    EXPECT_EQ(back, block);
    sim->ClearLog();
    block.push_back(0);
    EXPECT_EQ(burst.FlashAccess(AP_FLASH_WRITE, 2, 0x70000, 9, small), 0);
    EXPECT_EQ(burst.FlashAccess(AP_FLASH_WRITE, 2, 0x70000, kChunk + 1, block), 0);  // beyond one report
    EXPECT_EQ(burst.FlashAccess(AP_FLASH_READ, 2, 0x70000, 9, small), 0);
    EXPECT_TRUE(Log().empty());
    sim->SetInputTruncation(7);  // a short answer is a failed read, not zeros
    EXPECT_EQ(burst.FlashAccess(AP_FLASH_READ, 2, 0x70000, 8, small), 0);
    EXPECT_EQ(small, std::vector<std::uint8_t>(8, 0x22));
    const std::string write = "Unknown error: Couldn't execute REPORT_FLASH_WRITE function\n",
                      read = "Unknown error: Couldn't execute REPORT_FLASH_READ function\n";
    EXPECT_EQ(window.Traces(), (std::vector<std::string>{write, write, read, read}));
}

}  // namespace
