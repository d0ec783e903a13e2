// The declared report descriptor, configuration checks, and the fault injector.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

#include "platform/hid/preparsed.h"
#include "sim/descriptor.h"
#include "sim_bench.h"

namespace {

using namespace simtest;

using Fields = std::vector<std::pair<int, int>>;  // report ID, report count

// The value fields of `type` as the platform's own parser reads the simulator's
// descriptor; a field that is not an 8-bit one on the vendor page shows as {-1, -1}.
Fields Declared(const sim::Config& config, HIDP_REPORT_TYPE type) {
    std::unique_ptr<hidparse::PreparsedData> parsed;
    EXPECT_EQ(hidparse::ParseReportDescriptor(sim::BuildReportDescriptor(config), parsed), HIDP_STATUS_SUCCESS);
    if (!parsed) return {};
    HIDP_VALUE_CAPS values[8]{};
    USHORT count = 8;
    HidP_GetValueCaps(type, values, &count, hidparse::ToHandle(parsed.get()));
    Fields out;
    for (USHORT k = 0; k < count; ++k)
        out.push_back(values[k].BitSize == 8 && values[k].UsagePage == 0xFF00
                          ? std::pair<int, int>{values[k].ReportID, values[k].ReportCount}
                          : std::pair{-1, -1});
    return out;
}

TEST(SimDescriptor, OutputsThenInputsInReportKindOrderAsConfigured) {
    const sim::Config standard;
    EXPECT_EQ(Declared(standard, HidP_Output), (Fields{{1, 259}, {2, 63}, {3, 63}}));
    EXPECT_EQ(Declared(standard, HidP_Input), (Fields{{1, 256}, {2, 63}, {3, 63}}));
    sim::Config odd;  // an omitted report, an empty one and an odd size
    odd.input[2].declared = false;
    odd.input[0].count = 0;
    odd.output[1] = {0x42, 1000, true};
    EXPECT_EQ(Declared(odd, HidP_Output), (Fields{{1, 259}, {0x42, 1000}, {3, 63}}));
    EXPECT_EQ(Declared(odd, HidP_Input), (Fields{{2, 63}}));
    // The empty report is still declared (an input item of count 0); the omitted one is not served.
    const auto d = sim::BuildReportDescriptor(odd);
    const Bytes empty{0x85, 0x01, 0x09, sim::kInputUsageBase, 0x96, 0x00, 0x00, 0x81};
    EXPECT_NE(std::search(d.begin(), d.end(), empty.begin(), empty.end()), d.end());
    Bench bench(odd);
    Bytes answer;
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

TEST(SimFaults, FailTransferUnplugAfterAndDelayActOnTheTransfersTheyName) {
    Bench bench;
    bench.device->FailTransfer(2);
    EXPECT_EQ(bench.RegisterWrite(0x10, 1), ERROR_SUCCESS);
    EXPECT_EQ(bench.RegisterWrite(0x14, 2), ERROR_GEN_FAILURE);
    EXPECT_EQ(bench.RegisterWrite(0x18, 3), ERROR_SUCCESS);
    EXPECT_EQ(std::tuple(bench.device->Register(0x14), bench.device->Register(0x18)), std::tuple(0u, 3u));
    EXPECT_EQ(bench.device->Log()[1].note, "fault: failed transfer");
    // Unplugged after the next two transfers: every later one fails as disconnected.
    bench.device->UnplugAfter(2);
    EXPECT_TRUE(bench.RegisterRead(0x54));
    EXPECT_EQ(bench.RegisterWrite(0x10, 1), ERROR_DEVICE_NOT_CONNECTED);
    Bytes answer;
    EXPECT_EQ(bench.Request(ReportKind::Control, 0x04, answer), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(answer.empty());
    bench.device->ClearFaults();
    EXPECT_EQ(bench.RegisterWrite(0x10, 1), ERROR_SUCCESS);
    // A delay paces every transfer.
    bench.device->SetDelay(std::chrono::milliseconds(10));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(bench.RegisterWrite(0x10, 1), ERROR_SUCCESS);
    EXPECT_EQ(bench.RegisterWrite(0x10, 2), ERROR_SUCCESS);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
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

TEST(SimFaults, AnyGetIdRowAndShortOrOverlongAnswers) {
    Bench bench;
    for (std::uint16_t row : std::initializer_list<std::uint16_t>{1, 45, 46, 0x1234, 0xFFFF}) {
        bench.device->SetGetIdAnswer(row);
        EXPECT_EQ(Head(bench.Ask(ReportKind::Control, 0x04), 2), Head(Le4(row), 2)) << row;
    }
    bench.device->SetInputTruncation(3);
    EXPECT_EQ(bench.Ask(ReportKind::Iic, 0x0B).size(), 3u);
    bench.device->SetInputTruncation(std::nullopt);
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

}  // namespace
