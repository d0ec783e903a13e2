// The simulated device's faults (the fault injector's and the firmware's wrong answers),
// the injector in front of any stage, and the transfer log.
#include <gtest/gtest.h>

#include <time.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

#include "sim/fault_injector.h"
#include "sim_bench.h"

namespace {

using namespace simtest;

TEST(SimFaults, FailTransferAndUnplugAfterActOnTheTransfersTheyName) {
    Bench bench;
    bench.device->FailTransfer(2);
    EXPECT_EQ(bench.RegisterWrite(0x10, 1), ERROR_SUCCESS);
    EXPECT_EQ(bench.RegisterWrite(0x14, 2), ERROR_GEN_FAILURE);
    EXPECT_EQ(bench.RegisterWrite(0x18, 3), ERROR_SUCCESS);
    EXPECT_EQ(std::tuple(bench.device->Register(0x14), bench.device->Register(0x18)), std::tuple(0u, 3u));
    // Unplugged after the next two transfers: every later one fails as disconnected.
    bench.device->UnplugAfter(2);
    EXPECT_TRUE(bench.RegisterRead(0x54));
    EXPECT_EQ(bench.RegisterWrite(0x10, 1), ERROR_DEVICE_NOT_CONNECTED);
    Bytes answer;
    EXPECT_EQ(bench.Request(ReportKind::Control, 0x04, answer), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(answer.empty());
    bench.device->ClearFaults();
    EXPECT_EQ(bench.RegisterWrite(0x10, 1), ERROR_SUCCESS);
}

// An idle pace keeps the device's time without the processor: several simulators on few
// cores must not take it from the host they model waiting on them.
TEST(SimFaults, IdlePaceSleepsThroughTheDevicesTime) {
    Bench bench;
    constexpr int kTransfers = 100;
    bench.device->SetDelay(std::chrono::microseconds(500), sim::PaceKind::Idle);
    auto cpu = [] {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
    };
    const auto wallStart = std::chrono::steady_clock::now();
    const auto cpuStart = cpu();
    for (int i = 0; i < kTransfers; ++i) ASSERT_EQ(bench.RegisterWrite(0x10, 1), ERROR_SUCCESS);
    const auto wall = std::chrono::steady_clock::now() - wallStart;
    const auto used = cpu() - cpuStart;
    EXPECT_GE(wall, std::chrono::microseconds(500 * kTransfers));
    EXPECT_LT(used * 4, wall) << "the pace spun instead of sleeping";
}

TEST(SimFaults, CorruptReadChunkFlipsOneByteOfOneAnswerOnly) {
    Bench bench;
    const auto data = Pattern(768, 2);
    ASSERT_EQ(bench.WriteBurst(1, 0, data), ERROR_SUCCESS);
    bench.device->CorruptReadChunk(2, 5);
    Bytes out;
    ASSERT_EQ(bench.ReadBurst(1, 0, 768, out), ERROR_SUCCESS);
    ASSERT_EQ(out.size(), data.size());
    for (std::size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i] == data[i], i != 256 + 5) << i;
    EXPECT_EQ(bench.device->FlashBytes(0, 768), data);
    ASSERT_EQ(bench.ReadBurst(1, 0, 768, out), ERROR_SUCCESS);
    EXPECT_EQ(out, data) << "it acted once";
}

// Get ID answers any row it is told to; an answer with junk appended is logged as it went out.
TEST(SimFaults, AnyGetIdRowAndOverlongAnswers) {
    Bench bench;
    for (std::uint16_t row : std::initializer_list<std::uint16_t>{46, 0xFFFF}) {
        bench.device->SetGetIdAnswer(row);
        EXPECT_EQ(Head(bench.Ask(ReportKind::Control, 0x04), 2), Head(Le4(row), 2)) << row;
    }
    bench.device->SetInputJunk(5);
    const Bytes answer = bench.Ask(ReportKind::Iic, 0x0B);
    EXPECT_EQ(answer.size(), 64u + 5u);
    EXPECT_EQ(bench.LastRecord().bytes, answer) << "the record shows what went out";
}

TEST(SimFaults, SettableWhileTransfersRunOnAnotherThread) {
    Bench bench;
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    bench.device->FailTransfer(1);  // at least the first write fails
    std::thread worker([&] {
        for (std::uint32_t i = 0; i < 2000; ++i) failures += bench.RegisterWrite(0x10, i) != ERROR_SUCCESS;
        done = true;
    });
    int set = 1;
    for (; !done; ++set) bench.device->FailTransfer(1), (void)bench.device->Log();
    worker.join();
    EXPECT_EQ(bench.device->TransferCount(), 2000u);
    EXPECT_GE(failures.load(), 1);
    EXPECT_LE(failures.load(), set);
}

// A stage that accepts everything and answers its own count, so that what the injectors
// in front of it let through shows.
class CountingStage final : public sim::TransferHandler {
public:
    sim::TransferOutcome Handle(const sim::TransferRequest&, Bytes* answer) override {
        ++seen;
        if (answer) *answer = Bytes(4, static_cast<std::uint8_t>(seen));
        return {};
    }
    int seen = 0;
};

// Injectors stack in front of any stage, each counting the transfers that reach it: the
// outer one's failure never reaches the inner one's count.
TEST(SimFaultInjector, StacksInFrontOfAnyStageEachCountingWhatReachesIt) {
    CountingStage stage;
    sim::FaultInjector inner(stage), outer(inner);
    outer.FailTransfer(1);
    inner.FailTransfer(2);
    inner.SetInputTruncation(2);
    outer.SetInputJunk(1);
    const sim::TransferRequest input{sim::Direction::Input, 1, 5, {}};
    std::vector<std::tuple<DWORD, std::string, Bytes>> seen;
    for (int i = 0; i < 4; ++i) {
        Bytes answer;
        sim::TransferOutcome outcome = outer.Handle(input, &answer);
        seen.emplace_back(outcome.result, outcome.note, answer);
    }
    using Row = std::tuple<DWORD, std::string, Bytes>;
    EXPECT_EQ(seen, (std::vector<Row>{{ERROR_GEN_FAILURE, "fault: failed transfer", {}},
                                      {ERROR_SUCCESS, "fault: junk appended", {1, 1, 0xA5}},
                                      {ERROR_GEN_FAILURE, "fault: failed transfer", {}},
                                      {ERROR_SUCCESS, "fault: junk appended", {2, 2, 0xA5}}}));
    EXPECT_EQ(stage.seen, 2);
    inner.UnplugAfter(0);
    EXPECT_EQ(outer.Handle({sim::Direction::Output, 1, 2, {}}, nullptr).result, ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(stage.seen, 2);
}

// The log keeps the newest records up to its limit; a limit of 0 keeps none.
TEST(SimTransferLog, KeepsTheNewestUpToItsLimit) {
    for (std::size_t limit : {0u, 1u, 3u}) {
        sim::Config config;
        config.logLimit = limit;
        Bench bench(config);
        for (std::uint32_t i = 0; i < 5; ++i) bench.RegisterWrite(0x10, i);
        std::vector<std::uint64_t> sequences;
        for (const sim::TransferRecord& record : bench.device->Log()) sequences.push_back(record.sequence);
        std::vector<std::uint64_t> expected;
        for (std::uint64_t n = 6 - limit; n <= 5; ++n) expected.push_back(n);
        EXPECT_EQ(sequences, expected) << limit;
        EXPECT_EQ(bench.device->TransferCount(), 5u);
    }
}

}  // namespace
