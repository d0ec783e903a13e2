// Register, IIC and GPIO commands against the simulated device: the exact frames and
// requested lengths on the wire, the answers, and one failure at each step.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "support/sim_fixture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The first `n` bytes of a logged transfer.
Bytes Head(const sim::TransferRecord& record, std::size_t n) {
    return Bytes(record.bytes.begin(), record.bytes.begin() + static_cast<long>(std::min(n, record.bytes.size())));
}

bool ZeroFrom(const sim::TransferRecord& record, std::size_t from) {
    for (std::size_t i = from; i < record.bytes.size(); ++i)
        if (record.bytes[i] != 0) return false;
    return true;
}

class Peripheral : public testsupport::SimFixture {
protected:
    void SetUp() override { Start(); }
};

TEST_F(Peripheral, RegisterWriteSendsOneControlReport) {
    ULONG value = 0xCAFEF00D;
    ASSERT_EQ(host.RegisterCommand(0, 0xD8000004u, value), 1);
    auto log = Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].direction, sim::Direction::Output);
    EXPECT_EQ(log[0].bytes.size(), 64u);
    EXPECT_EQ(Head(log[0], 11), (Bytes{2, 0x0A, 0x00, 0x04, 0x00, 0x00, 0xD8, 0x0D, 0xF0, 0xFE, 0xCA}));
    EXPECT_TRUE(ZeroFrom(log[0], 11));
    EXPECT_EQ(sim->Register(0xD8000004u), 0xCAFEF00Du);
}

TEST_F(Peripheral, RegisterReadSendsTheAddressThenAsksWithTheCommandInTheLength) {
    sim->SetRegister(0x1234, 0x89ABCDEF);
    ULONG value = 0;
    ASSERT_EQ(host.RegisterCommand(1, 0x1234, value), 1);
    EXPECT_EQ(value, 0x89ABCDEFu);
    auto log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(Head(log[0], 7), (Bytes{2, 0x06, 0x01, 0x34, 0x12, 0x00, 0x00}));
    EXPECT_TRUE(ZeroFrom(log[0], 7));
    EXPECT_EQ(log[1].direction, sim::Direction::Input);
    EXPECT_EQ(log[1].reportId, 2);
    EXPECT_EQ(log[1].requestedLength, 0x200u | 64u);
}

TEST_F(Peripheral, OperationsWithoutStepsSendNothing) {
    ULONG value = 5;
    std::uint8_t data[4] = {};
    EXPECT_EQ(host.RegisterCommand(2, 0, value), 1);
    EXPECT_EQ(host.RegisterCommand(-1, 0, value), 1);
    EXPECT_EQ(host.IicCommand(0, 0x90, 1, data, 1), 1);
    EXPECT_EQ(host.IicCommand(4, 0x90, 1, data, 1), 1);
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(value, 5u);
}

TEST_F(Peripheral, IicWriteOfTwoBytesCarriesLengthSixAndReturnsTheCode) {
    std::uint8_t data[2] = {0x10, 0x5A};  // register offset, then the data byte
    ASSERT_EQ(host.IicCommand(2, 0x90, 2, data, 0), 1);
    auto log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(Head(log[0], 7), (Bytes{3, 0x06, 0x06, 0x90, 0x02, 0x10, 0x5A}));
    EXPECT_TRUE(ZeroFrom(log[0], 7));
    EXPECT_EQ(log[1].reportId, 3);
    EXPECT_EQ(log[1].requestedLength, 0x600u | 64u);
    EXPECT_EQ(data[0], sim::kIicAck);
    EXPECT_EQ(data[1], 0x5A);  // nothing else of the data changes
    EXPECT_EQ((*sim->IicMemory(0x90))[0x10], 0x5A);
}

TEST_F(Peripheral, IicReadAfterOneOffsetByteReturnsCodeAndByte) {
    std::uint8_t poke[2] = {0x21, 0x77};
    ASSERT_EQ(host.IicCommand(2, 0x90, 2, poke, 0), 1);
    sim->ClearLog();
    std::uint8_t data[2] = {0x21, 0xEE};
    ASSERT_EQ(host.IicCommand(3, 0x90, 1, data, 1), 1);
    auto log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(Head(log[0], 7), (Bytes{3, 0x06, 0x07, 0x90, 0x01, 0x21, 0x01}));
    EXPECT_TRUE(ZeroFrom(log[0], 7));
    EXPECT_EQ(log[1].requestedLength, 0x700u | 64u);
    EXPECT_EQ(data[0], sim::kIicAck);
    EXPECT_EQ(data[1], 0x77);
}

TEST_F(Peripheral, IicToAnAbsentAddressReturnsItsNonZeroCode) {
    std::uint8_t data[2] = {0x00, 0x00};
    ASSERT_EQ(host.IicCommand(2, 0x42, 2, data, 0), 1);
    EXPECT_EQ(data[0], sim::kIicAddressNak);
}

struct IicRefusal {
    const char* what;
    int op;
    std::uint8_t count;
    std::size_t dataSize;
    std::uint8_t readCount;
    const char* trace;
};

class IicRefused : public Peripheral, public ::testing::WithParamInterface<IicRefusal> {};

TEST_P(IicRefused, BeforeAnythingIsSent) {
    const IicRefusal& c = GetParam();
    Bytes data(c.dataSize, 0xA5);
    Bytes before = data;
    EXPECT_EQ(host.IicCommand(c.op, 0x90, c.count, data, c.readCount), 0) << c.what;
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(data, before);
    EXPECT_EQ(window.Traces(), std::vector<std::string>{c.trace});
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, IicRefused,
    ::testing::Values(
        IicRefusal{"write frame longer than the report", 2, 60, 64, 0,
                   "Unknown error: Couldn't execute REPORT_IIC_WRITE(OUTPUT) function\n"},
        IicRefusal{"write count beyond the data", 2, 3, 2, 0,
                   "Unknown error: Couldn't execute REPORT_IIC_WRITE(OUTPUT) function\n"},
        IicRefusal{"write with no room for the code", 2, 0, 0, 0,
                   "Unknown error: Couldn't execute REPORT_IIC_WRITE(OUTPUT) function\n"},
        IicRefusal{"read frame longer than the report", 3, 59, 64, 1,
                   "Unknown error: Couldn't execute REPORT_IIC_READ(OUTPUT) function\n"},
        IicRefusal{"read answer beyond the data", 3, 1, 2, 2,
                   "Unknown error: Couldn't execute REPORT_IIC_READ(OUTPUT) function\n"},
        IicRefusal{"read answer beyond the input report", 3, 1, 300, 255,
                   "Unknown error: Couldn't execute REPORT_IIC_READ(OUTPUT) function\n"}));

TEST_F(Peripheral, GpioFramesAndReads) {
    std::uint8_t direction = 1, level = 1, read = 0xEE;
    ASSERT_EQ(host.GpioCommand(4, 2, direction), 1);
    ASSERT_EQ(host.GpioCommand(5, 2, level), 1);
    ASSERT_EQ(host.GpioCommand(6, 2, read), 1);
    EXPECT_EQ(read, 1);  // an output pin reads its driven level
    std::uint8_t other = 0xEE;
    sim->SetGpioExternalLevel(3, 1);
    ASSERT_EQ(host.GpioCommand(99, 3, other), 1);  // any other op reads
    EXPECT_EQ(other, 1);
    auto log = Log();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(Head(log[0], 5), (Bytes{2, 0x04, 0x08, 0x02, 0x01}));
    EXPECT_EQ(Head(log[1], 5), (Bytes{2, 0x04, 0x09, 0x02, 0x01}));
    EXPECT_EQ(Head(log[2], 4), (Bytes{2, 0x03, 0x0A, 0x02}));
    EXPECT_EQ(log[3].requestedLength, 0xA00u | 64u);
    for (int i : {0, 1}) EXPECT_TRUE(ZeroFrom(log[static_cast<std::size_t>(i)], 5));
    EXPECT_TRUE(ZeroFrom(log[2], 4));
}

TEST_F(Peripheral, ParametersOfAnEarlierLongerCommandDoNotLinger) {
    ULONG value = 0xFFFFFFFF;
    ASSERT_EQ(host.RegisterCommand(0, 0xFFFFFFFF, value), 1);
    std::uint8_t level = 0;
    ASSERT_EQ(host.GpioCommand(5, 1, level), 1);
    auto log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(Head(log[1], 5), (Bytes{2, 0x04, 0x09, 0x01, 0x00}));
    EXPECT_TRUE(ZeroFrom(log[1], 5));
}

struct StepFailure {
    const char* what;
    std::uint64_t failingTransfer;
    const char* trace;
};

class RegisterReadFailure : public Peripheral, public ::testing::WithParamInterface<StepFailure> {};

TEST_P(RegisterReadFailure, TracesItsStepAndLeavesTheValue) {
    sim->SetRegister(0x40, 0x11223344);
    sim->FailTransfer(GetParam().failingTransfer);
    ULONG value = 0xDEADBEEF;
    EXPECT_EQ(host.RegisterCommand(1, 0x40, value), 0);
    EXPECT_EQ(value, 0xDEADBEEFu);
    EXPECT_EQ(window.Traces(), std::vector<std::string>{GetParam().trace});
    EXPECT_EQ(Log().size(), GetParam().failingTransfer);  // no step after the failed one
}

INSTANTIATE_TEST_SUITE_P(Steps, RegisterReadFailure,
                         ::testing::Values(StepFailure{"address", 1, "Unknown error: Couldn't execute REPORT_REG_WRITE_ADDR function\n"},
                                           StepFailure{"value", 2, "Unknown error: Couldn't execute REPORT_REG_READ function\n"}));

TEST_F(Peripheral, EveryOtherStepFailureHasItsOwnLine) {
    struct Case {
        std::function<int()> command;
        std::uint64_t failing;
        const char* trace;
    };
    std::uint8_t data[2] = {0x01, 0x02};
    std::uint8_t gpio = 0;
    ULONG value = 0;
    const std::vector<Case> cases = {
        {[&] { return host.RegisterCommand(0, 4, value); }, 1, "Unknown error: Couldn't execute REPORT_REG_WRITE function\n"},
        {[&] { return host.IicCommand(2, 0x90, 2, data, 0); }, 1, "Unknown error: Couldn't execute REPORT_IIC_WRITE(OUTPUT) function\n"},
        {[&] { return host.IicCommand(2, 0x90, 2, data, 0); }, 2, "Unknown error: Couldn't execute REPORT_IIC_WRITE(INPUT) function\n"},
        {[&] { return host.IicCommand(3, 0x90, 1, data, 1); }, 1, "Unknown error: Couldn't execute REPORT_IIC_READ(OUTPUT) function\n"},
        {[&] { return host.IicCommand(3, 0x90, 1, data, 1); }, 2, "Unknown error: Couldn't execute REPORT_IIC_READ(INPUT) function\n"},
        {[&] { return host.GpioCommand(4, 0, gpio); }, 1, "Unknown error: Couldn't execute REPORT_GPIO_SET function\n"},
        {[&] { return host.GpioCommand(5, 0, gpio); }, 1, "Unknown error: Couldn't execute REPORT_GPIO_WRITE function\n"},
        {[&] { return host.GpioCommand(6, 0, gpio); }, 1, "Unknown error: Couldn't execute REPORT_GPIO_READ(OUTPUT) function\n"},
        {[&] { return host.GpioCommand(6, 0, gpio); }, 2, "Unknown error: Couldn't execute REPORT_GPIO_READ(INPUT) function\n"},
    };
    for (const Case& c : cases) {
        window.ClearCalls();
        std::uint8_t dataBefore[2] = {data[0], data[1]};
        std::uint8_t gpioBefore = gpio;
        sim->FailTransfer(c.failing);
        EXPECT_EQ(c.command(), 0) << c.trace;
        EXPECT_EQ(window.Traces(), std::vector<std::string>{c.trace});
        EXPECT_EQ(data[0], dataBefore[0]) << c.trace;
        EXPECT_EQ(data[1], dataBefore[1]) << c.trace;
        EXPECT_EQ(gpio, gpioBefore) << c.trace;
    }
}

TEST_F(Peripheral, AShortAnswerIsAFailedStepNotAValue) {
    sim->SetRegister(0x80, 0x01020304);
    sim->SetInputTruncation(2);
    ULONG value = 7;
    EXPECT_EQ(host.RegisterCommand(1, 0x80, value), 0);
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(window.Traces(), std::vector<std::string>{"Unknown error: Couldn't execute REPORT_REG_READ function\n"});
}

TEST_F(Peripheral, AnUnpluggedDeviceFailsOnTheFirstStep) {
    sim->UnplugAfter(0);
    ULONG value = 1;
    EXPECT_EQ(host.RegisterCommand(1, 0x54, value), 0);
    EXPECT_EQ(window.Traces(), std::vector<std::string>{"Unknown error: Couldn't execute REPORT_REG_WRITE_ADDR function\n"});
}

TEST_F(Peripheral, CommandsFromTwoThreadsNeverInterleaveTheirTransfers) {
    for (ULONG i = 0; i < 8; ++i) sim->SetRegister(0x100 + 4 * i, 0xA0000000u + i);
    std::atomic<int> wrong{0};
    auto reader = [&](ULONG first) {
        for (int round = 0; round < 50; ++round)
            for (ULONG i = first; i < 8; i += 2) {
                ULONG value = 0;
                if (host.RegisterCommand(1, 0x100 + 4 * i, value) != 1 || value != 0xA0000000u + i) ++wrong;
            }
    };
    std::thread a(reader, 0), b(reader, 1);
    a.join();
    b.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
