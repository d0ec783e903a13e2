// Register, IIC and GPIO commands against the simulated device: the exact frames and
// requested lengths on the wire, the answers, and one failure at each step.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <tuple>

#include "support/sim_fixture.h"

namespace {

std::string Failed(const char* report) { return std::string("Unknown error: Couldn't execute ") + report + " function\n"; }

class Peripheral : public testsupport::SimFixture {
protected:
    void SetUp() override { Start(); }
};

TEST_F(Peripheral, RegisterWriteSendsOneReportAndReadAsksWithTheCommandInTheLength) {
    ULONG value = 0xCAFEF00D;
    ASSERT_EQ(protocol.RegisterCommand(0, 0xD8000004u, value), 1);
    EXPECT_EQ(Log().at(0).bytes.size(), 64u);
    EXPECT_EQ(Wire(), "> 02 0a 00 04 00 00 d8 0d f0 fe ca");
    EXPECT_EQ(sim->Register(0xD8000004u), 0xCAFEF00Du);
    sim->ClearLog();
    sim->SetRegister(0x1234, 0x89ABCDEF);
    ASSERT_EQ(protocol.RegisterCommand(1, 0x1234, value), 1);
    EXPECT_EQ(value, 0x89ABCDEFu);
    EXPECT_EQ(Wire(), "> 02 06 01 34 12 | < 2 0x240");
}

TEST_F(Peripheral, IicWriteAndReadCarryTheirLengthsAndReturnTheCode) {
    std::uint8_t data[2] = {0x10, 0x5A};  // register offset, then the data byte
    ASSERT_EQ(protocol.IicCommand(2, 0x90, 2, data, 0), 1);
    EXPECT_EQ(Wire(), "> 03 06 06 90 02 10 5a | < 3 0x640");
    // The code replaces byte 0; nothing else of the data changes.
    EXPECT_EQ(std::tuple(data[0], data[1], (*sim->IicMemory(0x90))[0x10]), std::tuple(sim::kIicAck, 0x5A, 0x5A));
    sim->ClearLog();
    std::uint8_t read[2] = {0x10, 0xEE};
    ASSERT_EQ(protocol.IicCommand(3, 0x90, 1, read, 1), 1);
    EXPECT_EQ(Wire(), "> 03 06 07 90 01 10 01 | < 3 0x740");
    EXPECT_EQ(std::tuple(read[0], read[1]), std::tuple(sim::kIicAck, 0x5A));
    ASSERT_EQ(protocol.IicCommand(2, 0x42, 2, data, 0), 1);  // no device at 0x42
    EXPECT_EQ(data[0], sim::kIicAddressNak);
}

// Counts beyond the caller's data are refused before anything is sent, one line per direction.
TEST_F(Peripheral, IicCountsBeyondTheDataAreRefusedBeforeAnythingIsSent) {
    std::vector<std::uint8_t> data(2, 0xA5);
    EXPECT_EQ(protocol.IicCommand(2, 0x90, 3, data, 0), 0);
    EXPECT_EQ(protocol.IicCommand(3, 0x90, 1, data, 2), 0);
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(data, std::vector<std::uint8_t>(2, 0xA5));
    EXPECT_EQ(Traces(), (std::vector<std::string>{Failed("REPORT_IIC_WRITE(OUTPUT)"), Failed("REPORT_IIC_READ(OUTPUT)")}));
}

TEST_F(Peripheral, GpioFramesAndReadsWithNoParameterOfAnEarlierCommandLingering) {
    ULONG value = 0xFFFFFFFF;
    ASSERT_EQ(protocol.RegisterCommand(0, 0xFFFFFFFF, value), 1);
    std::uint8_t direction = 1, level = 1, low = 0, read = 0xEE;
    ASSERT_EQ(protocol.GpioCommand(4, 2, direction), 1);
    ASSERT_EQ(protocol.GpioCommand(5, 2, level), 1);
    ASSERT_EQ(protocol.GpioCommand(6, 2, read), 1);
    EXPECT_EQ(read, 1);  // an output pin reads its driven level
    ASSERT_EQ(protocol.GpioCommand(5, 1, low), 1);
    EXPECT_EQ(Wire(),
              "> 02 0a 00 ff ff ff ff ff ff ff ff | > 02 04 08 02 01 | > 02 04 09 02 01 | > 02 03 0a 02 | < 2 0xa40"
              " | > 02 04 09 01");
}

TEST_F(Peripheral, EachFailedStepHasItsOwnLineAndLeavesTheCallersData) {
    struct Case {
        std::function<int()> command;
        std::uint64_t failing;
        const char* report;
    };
    std::uint8_t data[2] = {0x01, 0x02};
    std::uint8_t gpio = 0;
    ULONG value = 0xDEADBEEF;
    sim->SetRegister(0x40, 0x11223344);
    const std::vector<Case> cases = {
        {[&] { return protocol.RegisterCommand(1, 0x40, value); }, 1, "REPORT_REG_WRITE_ADDR"},
        {[&] { return protocol.RegisterCommand(1, 0x40, value); }, 2, "REPORT_REG_READ"},
        {[&] { return protocol.RegisterCommand(0, 4, value); }, 1, "REPORT_REG_WRITE"},
        {[&] { return protocol.IicCommand(2, 0x90, 2, data, 0); }, 1, "REPORT_IIC_WRITE(OUTPUT)"},
        {[&] { return protocol.IicCommand(2, 0x90, 2, data, 0); }, 2, "REPORT_IIC_WRITE(INPUT)"},
        {[&] { return protocol.IicCommand(3, 0x90, 1, data, 1); }, 1, "REPORT_IIC_READ(OUTPUT)"},
        {[&] { return protocol.IicCommand(3, 0x90, 1, data, 1); }, 2, "REPORT_IIC_READ(INPUT)"},
        {[&] { return protocol.GpioCommand(4, 0, gpio); }, 1, "REPORT_GPIO_SET"},
        {[&] { return protocol.GpioCommand(5, 0, gpio); }, 1, "REPORT_GPIO_WRITE"},
        {[&] { return protocol.GpioCommand(6, 0, gpio); }, 1, "REPORT_GPIO_READ(OUTPUT)"},
        {[&] { return protocol.GpioCommand(6, 0, gpio); }, 2, "REPORT_GPIO_READ(INPUT)"},
    };
    for (const Case& c : cases) {
        sinks.Clear();
        sim->ClearLog();
        sim->FailTransfer(c.failing);
        EXPECT_EQ(c.command(), 0) << c.report;
        EXPECT_EQ(Traces(), std::vector<std::string>{Failed(c.report)});
        // No step after the failed one, and the caller's data as it was.
        EXPECT_EQ(std::tuple(Log().size(), value, data[0], data[1], gpio), std::tuple(c.failing, 0xDEADBEEFu, 1, 2, 0))
            << c.report;
    }
}

// A device whose control report (here 4 bytes) is shorter than a command's frame: that
// command fails at its first step and sends nothing, and no frame is written past the
// buffer (the sanitizer build watches); a frame that fits still goes out.
using ShortControlReport = testsupport::SimFixture;

TEST_F(ShortControlReport, FailsACommandWhoseFrameIsLongerBeforeAnythingIsWritten) {
    sim::Config config;
    config.output[static_cast<std::size_t>(sim::ReportKind::Control)].count = 3;
    Start(config);
    ULONG value = 7;
    std::uint8_t level = 1;
    EXPECT_EQ(protocol.RegisterCommand(OP_REG_WRITE, 0x40, value), 0);  // 11-byte frame
    EXPECT_EQ(protocol.RegisterCommand(OP_REG_READ, 0x40, value), 0);   // 7
    EXPECT_EQ(protocol.FlashAccess(AP_FLASH_BURST_LATER, 1, 0, 16, {}), 0);  // 8
    EXPECT_EQ(protocol.GpioCommand(OP_GPIO_WRITE, 1, level), 0);  // 5
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(Traces(), (std::vector<std::string>{Failed("REPORT_REG_WRITE"), Failed("REPORT_REG_WRITE_ADDR"),
                                                  Failed("REPORT_FLASH_ACCESS_MODE"), Failed("REPORT_GPIO_WRITE")}));
    EXPECT_EQ(std::tuple(value, level), std::tuple(7u, 1));
    EXPECT_EQ(protocol.GpioCommand(OP_GPIO_READ, 1, level), 1);  // 4 bytes: the pin fits
    EXPECT_EQ(Log().size(), 2u);
}

TEST_F(Peripheral, AShortAnswerIsAFailedStepNotAValue) {
    sim->SetRegister(0x80, 0x01020304);
    sim->SetInputTruncation(2);
    ULONG value = 7;
    EXPECT_EQ(protocol.RegisterCommand(1, 0x80, value), 0);
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(Traces(), std::vector<std::string>{Failed("REPORT_REG_READ")});
}

TEST_F(Peripheral, CommandsFromTwoThreadsNeverInterleaveTheirTransfers) {
    for (ULONG i = 0; i < 8; ++i) sim->SetRegister(0x100 + 4 * i, 0xA0000000u + i);
    std::atomic<int> wrong{0};
    auto reader = [&](ULONG first) {
        for (int round = 0; round < 50; ++round)
            for (ULONG i = first; i < 8; i += 2) {
                ULONG value = 0;
                if (protocol.RegisterCommand(1, 0x100 + 4 * i, value) != 1 || value != 0xA0000000u + i) ++wrong;
            }
    };
    std::thread a(reader, 0), b(reader, 1);
    a.join();
    b.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
