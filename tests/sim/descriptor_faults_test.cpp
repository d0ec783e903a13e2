// The declared report descriptor, configuration checks, and the fault injector.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "sim/descriptor.h"
#include "sim_bench.h"

namespace {

using sim::ReportKind;
using simtest::Bench;

struct MainItem {
    std::uint8_t tag;  // 0x91 output, 0x81 input
    std::uint8_t reportId;
    std::uint8_t usage;
    std::uint32_t count;
};

// Walks the short items and collects each main item with the report ID, usage and count
// in force for it (a minimal reader: enough for the simulator's own descriptors).
std::vector<MainItem> MainItems(const std::vector<std::uint8_t>& d) {
    std::vector<MainItem> items;
    std::uint8_t id = 0, usage = 0;
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < d.size();) {
        const std::uint8_t prefix = d[i];
        const std::size_t size = (prefix & 3) == 3 ? 4 : (prefix & 3);
        EXPECT_LE(i + 1 + size, d.size());
        std::uint32_t value = 0;
        for (std::size_t b = 0; b < size && i + 1 + b < d.size(); ++b) value |= std::uint32_t{d[i + 1 + b]} << (8 * b);
        const std::uint8_t tag = prefix & 0xFC;
        if (tag == 0x84) id = static_cast<std::uint8_t>(value);
        if (tag == 0x08) usage = static_cast<std::uint8_t>(value);
        if (tag == 0x94) count = value;
        if (tag == 0x90 || tag == 0x80) items.push_back({static_cast<std::uint8_t>(tag | 1), id, usage, count});
        i += 1 + size;
    }
    return items;
}

TEST(SimDescriptor, OutputsThenInputsInCapabilityOrder) {
    sim::Config config;
    const auto d = sim::BuildReportDescriptor(config);
    // Vendor page 0xFF00, usage 1, one application collection, closed at the end.
    ASSERT_GE(d.size(), 8u);
    EXPECT_EQ(std::vector<std::uint8_t>(d.begin(), d.begin() + 7),
              (std::vector<std::uint8_t>{0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01}));
    EXPECT_EQ(d.back(), 0xC0);
    const auto items = MainItems(d);
    ASSERT_EQ(items.size(), 6u);
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(items[k].tag, 0x91);
        EXPECT_EQ(items[k].reportId, config.output[k].id);
        EXPECT_EQ(items[k].count, config.output[k].count);
        EXPECT_EQ(items[3 + k].tag, 0x81);
        EXPECT_EQ(items[3 + k].reportId, config.input[k].id);
        EXPECT_EQ(items[3 + k].count, config.input[k].count);
    }
    EXPECT_EQ(items[0].count, 259u);
    EXPECT_EQ(items[3].count, 256u);
}

TEST(SimDescriptor, OmittedReportsAndOddSizesAreDeclaredAsConfigured) {
    sim::Config config;
    config.input[2].declared = false;
    config.input[0].count = 0;
    config.output[1] = {0x42, 1000, true};
    const auto items = MainItems(sim::BuildReportDescriptor(config));
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[1].reportId, 0x42);
    EXPECT_EQ(items[1].count, 1000u);
    EXPECT_EQ(items[3].count, 0u);
    // An omitted report is not served either.
    Bench bench(config);
    std::vector<std::uint8_t> answer;
    EXPECT_EQ(bench.device->OnInputRequest(3, 0xB40, answer), ERROR_GEN_FAILURE);
}

TEST(SimConfig, RefusesWhatCannotBeBuilt) {
    auto refused = [](auto change) {
        sim::Config config;
        change(config);
        std::string error;
        return sim::SimulatedDevice::Create(config, error) == nullptr && !error.empty();
    };
    EXPECT_FALSE(refused([](sim::Config&) {}));
    EXPECT_TRUE(refused([](sim::Config& c) { c.output[1].id = 0; }));
    EXPECT_TRUE(refused([](sim::Config& c) { c.input[2].id = c.input[0].id; }));
    EXPECT_FALSE(refused([](sim::Config& c) { c.input[2].id = c.input[0].id, c.input[2].declared = false; }));
    EXPECT_TRUE(refused([](sim::Config& c) { c.partRow = 46; }));
    EXPECT_TRUE(refused([](sim::Config& c) { c.iicDevices.push_back(c.iicDevices.front()); }));
}

// ---- faults

TEST(SimFaults, FailTransferFailsExactlyTheNthWithoutEffect) {
    Bench bench;
    bench.device->FailTransfer(2);
    EXPECT_EQ(bench.RegisterWrite(0x10, 1), ERROR_SUCCESS);
    EXPECT_EQ(bench.RegisterWrite(0x14, 2), ERROR_GEN_FAILURE);
    EXPECT_EQ(bench.RegisterWrite(0x18, 3), ERROR_SUCCESS);
    EXPECT_EQ(bench.device->Register(0x14), 0u);
    EXPECT_EQ(bench.device->Register(0x18), 3u);
    EXPECT_EQ(bench.device->Log()[1].note, "fault: failed transfer");
}

TEST(SimFaults, UnplugAfterFailsEveryLaterTransferAsDisconnected) {
    Bench bench;
    bench.device->UnplugAfter(2);
    std::uint32_t value = 0;
    EXPECT_EQ(bench.RegisterRead(0x54, value), ERROR_SUCCESS);
    EXPECT_EQ(bench.RegisterWrite(0x10, 1), ERROR_DEVICE_NOT_CONNECTED);
    std::vector<std::uint8_t> answer;
    EXPECT_EQ(bench.Request(ReportKind::Control, 0x04, answer), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(answer.empty());
    bench.device->ClearFaults();
    EXPECT_EQ(bench.RegisterWrite(0x10, 1), ERROR_SUCCESS);
}

TEST(SimFaults, CorruptReadChunkFlipsOneByteOfOneAnswerOnly) {
    Bench bench;
    const auto data = simtest::Pattern(768, 2);
    ASSERT_EQ(bench.WriteBurst(1, 0, data), ERROR_SUCCESS);
    bench.device->CorruptReadChunk(2, 5);
    std::vector<std::uint8_t> out;
    ASSERT_EQ(bench.ReadBurst(1, 0, 768, out), ERROR_SUCCESS);
    for (std::size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ(out[i] == data[i], i != 256 + 5) << i;
    EXPECT_EQ(bench.device->FlashBytes(0, 768), data);
    ASSERT_EQ(bench.ReadBurst(1, 0, 768, out), ERROR_SUCCESS);  // it acted once
    EXPECT_EQ(out, data);
}

TEST(SimFaults, DelayPacesEveryTransfer) {
    Bench bench;
    bench.device->SetDelay(std::chrono::milliseconds(20));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(bench.RegisterWrite(0x10, 1), ERROR_SUCCESS);
    EXPECT_EQ(bench.RegisterWrite(0x10, 2), ERROR_SUCCESS);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
}

class SimGetIdFault : public testing::TestWithParam<std::uint16_t> {};

TEST_P(SimGetIdFault, AnswersAnyRow) {
    Bench bench;
    bench.device->SetGetIdAnswer(GetParam());
    std::vector<std::uint8_t> answer;
    ASSERT_EQ(bench.Request(ReportKind::Control, 0x04, answer), ERROR_SUCCESS);
    EXPECT_EQ(answer[0] | answer[1] << 8, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Rows, SimGetIdFault, testing::Values<std::uint16_t>(1, 45, 46, 0x1234, 0xFFFF));

TEST(SimFaults, ShortAndOverlongAnswers) {
    Bench bench;
    std::vector<std::uint8_t> answer;
    bench.device->SetInputTruncation(3);
    ASSERT_EQ(bench.Request(ReportKind::Iic, 0x0B, answer), ERROR_SUCCESS);
    EXPECT_EQ(answer.size(), 3u);
    bench.device->SetInputTruncation(std::nullopt);
    bench.device->SetInputJunk(5);
    ASSERT_EQ(bench.Request(ReportKind::Iic, 0x0B, answer), ERROR_SUCCESS);
    EXPECT_EQ(answer.size(), 64u + 5u);
    // The record shows what went out.
    EXPECT_EQ(bench.LastRecord().bytes, answer);
}

TEST(SimFaults, SettableWhileTransfersRunOnAnotherThread) {
    Bench bench;
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    bench.device->FailTransfer(1);  // at least the first write fails
    int set = 1;
    std::thread worker([&] {
        for (int i = 0; i < 2000; ++i)
            if (bench.RegisterWrite(0x10, static_cast<std::uint32_t>(i)) != ERROR_SUCCESS) ++failures;
        done = true;
    });
    while (!done) {
        bench.device->FailTransfer(1);
        (void)bench.device->Log();
        ++set;
    }
    worker.join();
    EXPECT_EQ(bench.device->TransferCount(), 2000u);
    EXPECT_GE(failures.load(), 1);
    EXPECT_LE(failures.load(), set);
}

}  // namespace
