// The simulated serial flash: geometry table, bursts, NOR semantics and sector erase,
// access-mode windows.
#include <gtest/gtest.h>

#include <tuple>

#include "sim_bench.h"

namespace {

using namespace simtest;

constexpr std::uint32_t kMiB = 0x100000;

// Every row is whole sectors of 4 or 64 KiB and at least 256 KiB; rows outside the table are
// refused; a device of a row answers Get ID with it and has a flash of its size.
TEST(SimFlashGeometry, EveryRowIsWholeSectorsAndGetIdAnswersItsRow) {
    sim::FlashGeometry g;
    for (std::uint16_t row = 0; row < sim::kPartRows; ++row) {
        ASSERT_TRUE(sim::GeometryForRow(row, g)) << row;
        EXPECT_TRUE(g.sectorSize == 0x1000 || g.sectorSize == 0x10000) << row;
        EXPECT_EQ(g.totalSize % g.sectorSize, 0u) << row;
        EXPECT_GE(g.totalSize, 256u * 1024) << row;
        if (row % 11 != 1) continue;  // a few devices: the largest parts take long to build
        sim::Config config;
        config.partRow = row;
        Bench bench(config);
        EXPECT_EQ(Head(bench.Ask(ReportKind::Control, 0x04), 2), Head(Le4(row), 2)) << row;
        EXPECT_EQ(bench.device->FlashContents().size(), g.totalSize) << row;
    }
    EXPECT_FALSE(sim::GeometryForRow(sim::kPartRows, g));
    EXPECT_FALSE(sim::GeometryForRow(0xFFFF, g));
    sim::FlashGeometry row0, row1;
    ASSERT_TRUE(sim::GeometryForRow(0, row0) && sim::GeometryForRow(1, row1));
    EXPECT_EQ(std::tuple(row1.sectorSize, row1.totalSize), std::tuple(row0.sectorSize, row0.totalSize))
        << "row 1 has no geometry of its own: it is its sibling row 0's";
}

TEST(SimFlash, FreshFlashReadsErasedAndBurstsEndInAShortChunk) {
    sim::Config config;
    config.input[0].count = 100;  // read chunks of 100, write chunks of 256
    Bench bench(config);
    Bytes out;
    ASSERT_EQ(bench.ReadBurst(1, 0x7FFF00, 0x100, out), ERROR_SUCCESS);
    EXPECT_EQ(out, Bytes(0x100, 0xFF));

    const auto data = Pattern(1000, 3);
    ASSERT_EQ(bench.WriteBurst(1, 0x10000, data), ERROR_SUCCESS);
    ASSERT_EQ(bench.ReadBurst(1, 0x10000, 1000, out), ERROR_SUCCESS);
    EXPECT_EQ(out, data);
    EXPECT_EQ(bench.device->FlashBytes(0x10000, 1000), data);
    // The last read answer: the final 100 bytes, then the report's zero byte.
    const sim::TransferRecord last = bench.LastRecord();
    ASSERT_EQ(last.bytes.size(), 101u);
    EXPECT_EQ(Head(last.bytes, 100), Bytes(data.begin() + 900, data.end()));
    EXPECT_EQ(last.bytes[100], 0);
}

// On a part of 4 KiB sectors (the programmer's suites burn 64 KiB ones, and a second burst
// over written bytes).
TEST(SimFlash, BurstErasesEachSectorItEntersOnceAndWholly) {
    sim::Config config;
    config.partRow = 44;
    Bench bench(config);
    constexpr std::uint32_t sector = 0x1000, half = sector / 2, start = 0x180000 + half;
    bench.device->LoadFlash(Bytes(0x180000 + 3 * sector, 0x00));
    // Starts mid-sector and ends mid-way into the next; the sectors around are left alone.
    const auto data = Pattern(sector, 9);
    ASSERT_EQ(bench.WriteBurst(1, start, data), ERROR_SUCCESS);
    EXPECT_EQ(bench.device->FlashBytes(start, sector), data);
    EXPECT_EQ(bench.device->FlashBytes(start - half, half), Bytes(half, 0xFF));
    EXPECT_EQ(bench.device->FlashBytes(start + sector, half), Bytes(half, 0xFF));
    EXPECT_EQ(bench.device->FlashBytes(start - half - 16, 16), Bytes(16, 0x00));
    EXPECT_EQ(bench.device->FlashBytes(start + sector + half, 16), Bytes(16, 0x00));
}

// Each access mode's announcement is refused outside its window, and its length past its end.
TEST(SimAccessWindow, AnnouncementIsRefusedOutsideTheModesWindow) {
    struct Window {
        const char* name;
        std::uint16_t partRow;
        std::uint8_t mode;
        std::uint32_t address, length;
        bool announceAccepted, lengthAccepted;
    };
    const Window windows[] = {
        {"FirmwareWhole", 29, 0, 0x180000, 0x370000, true, true},
        {"FirmwarePastItsArea", 29, 0, 0x180000, 0x370001, true, false},
        {"FirmwareBelowItsArea", 29, 0, 0x170000, 0x100, false, false},
        {"WholeFlash", 29, 1, 0, 8 * kMiB, true, true},
        {"WholeFlashPlusOne", 29, 1, 0, 8 * kMiB + 1, true, false},
        {"WholeFlashWrapping", 29, 1, 0x100, 0xFFFFFFFF, true, false},
        {"SmallPartPastEnd", 34, 1, 0x3FF00, 0x101, true, false},
        {"UpdateFlag", 29, 2, 0x70000, 0x100, true, true},
        {"UpdateFlagPastBlock", 29, 2, 0x7FF00, 0x101, true, false},
        {"UpdateFlagElsewhere", 29, 2, 0x180000, 0x100, false, false},
        {"PrivateArea", 29, 3, 0x4F0000, 0x10000, true, true},
        {"CustomizedArea", 29, 3, 0x500000, 0x300000, true, true},
        {"AreasModeOnFirmware", 29, 3, 0x180000, 0x100, false, false},
        {"CustomizedOnFourMiBPart", 30, 3, 0x500000, 0x100, false, false},
        {"ModeFour", 29, 4, 0, 0x100, false, false},
        {"ZeroLengthAtWindowEnd", 29, 1, 8 * kMiB, 0, true, true},
    };
    for (const Window& w : windows) {
        SCOPED_TRACE(w.name);
        sim::Config config;
        config.partRow = w.partRow;
        Bench bench(config);
        EXPECT_EQ(bench.AccessMode(w.mode, w.address) == ERROR_SUCCESS, w.announceAccepted);
        EXPECT_EQ(bench.Length(w.length) == ERROR_SUCCESS, w.lengthAccepted);
        Bytes answer;
        EXPECT_EQ(bench.DataRequest(answer) == ERROR_SUCCESS, w.lengthAccepted && w.length > 0);
    }
}

TEST(SimBurst, ServesExactlyTheAnnouncedLengthInOneDirection) {
    Bench bench;
    const auto data = Pattern(300, 5);
    ASSERT_EQ(bench.WriteBurst(1, 0, data), ERROR_SUCCESS);
    EXPECT_EQ(bench.DataReport(std::span(data).first(16)), ERROR_GEN_FAILURE);
    EXPECT_NE(bench.LastRecord().note.find("beyond"), std::string::npos);
    Bytes out;
    ASSERT_EQ(bench.ReadBurst(1, 0, 300, out), ERROR_SUCCESS);
    EXPECT_EQ(bench.DataRequest(out), ERROR_GEN_FAILURE) << "beyond the read burst";
    // Nonzero bytes after the last short chunk (here one byte more than announced).
    ASSERT_EQ(bench.Announce(1, 0, 10), ERROR_SUCCESS);
    EXPECT_EQ(bench.DataReport(std::span(data).first(11)), ERROR_GEN_FAILURE);
    EXPECT_EQ(bench.DataReport(std::span(data).first(10)), ERROR_SUCCESS);
    // The direction cannot change within a burst.
    ASSERT_EQ(bench.Announce(1, 0, 1024), ERROR_SUCCESS);
    ASSERT_EQ(bench.DataReport(std::span(data).first(256)), ERROR_SUCCESS);
    EXPECT_EQ(bench.DataRequest(out), ERROR_GEN_FAILURE);
    ASSERT_EQ(bench.Announce(1, 0, 1024), ERROR_SUCCESS);
    ASSERT_EQ(bench.DataRequest(out), ERROR_SUCCESS);
    EXPECT_EQ(bench.DataReport(std::span(data).first(256)), ERROR_GEN_FAILURE);
}

TEST(SimBurst, SetUpMustBeModeThenLength) {
    Bench bench;
    const auto data = Pattern(16, 1);
    Bytes answer;
    EXPECT_EQ(bench.DataRequest(answer), ERROR_GEN_FAILURE) << "no burst";
    EXPECT_EQ(bench.Length(16), ERROR_GEN_FAILURE) << "no access mode before it";
    EXPECT_EQ(bench.DataReport(data), ERROR_GEN_FAILURE);
    ASSERT_EQ(bench.Announce(1, 0, 16), ERROR_SUCCESS);
    EXPECT_EQ(bench.Length(16), ERROR_GEN_FAILURE) << "a second length without a mode";
    // A new access mode ends the burst before its length is given.
    ASSERT_EQ(bench.Announce(1, 0, 16), ERROR_SUCCESS);
    ASSERT_EQ(bench.AccessMode(1, 0x1000), ERROR_SUCCESS);
    EXPECT_EQ(bench.DataReport(data), ERROR_GEN_FAILURE);
    // Other commands between chunks leave the burst alone.
    const auto block = Pattern(512, 4);
    ASSERT_EQ(bench.Announce(1, 0x2000, 512), ERROR_SUCCESS);
    ASSERT_EQ(bench.DataReport(std::span(block).first(256)), ERROR_SUCCESS);
    ASSERT_EQ(bench.RegisterWrite(0x100, 1), ERROR_SUCCESS);
    ASSERT_EQ(bench.GpioRead(0), 0);
    ASSERT_EQ(bench.DataReport(std::span(block).subspan(256)), ERROR_SUCCESS);
    EXPECT_EQ(bench.device->FlashBytes(0x2000, 512), block);
    // A read report of no bytes cannot serve a burst.
    sim::Config config;
    config.input[0].count = 0;
    Bench empty(config);
    ASSERT_EQ(empty.Announce(1, 0, 16), ERROR_SUCCESS);
    EXPECT_EQ(empty.DataRequest(answer), ERROR_GEN_FAILURE);
}

}  // namespace
