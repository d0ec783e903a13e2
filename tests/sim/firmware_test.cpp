// The firmware model driven through the simulated device's handler: register, IIC
// and information commands, the frames and requests it must refuse, the declared report
// descriptor, configuration checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <tuple>

#include "platform/hid/preparsed.h"
#include "sim/descriptor.h"
#include "sim_bench.h"

namespace {

using namespace simtest;

TEST(SimRegisters, ReadBackFirmwareVersionAndHdcpKey) {
    Bench bench;
    ASSERT_EQ(bench.RegisterWrite(0x1234, 0xDEADBEEF), ERROR_SUCCESS);
    EXPECT_EQ(bench.RegisterRead(0x1234), 0xDEADBEEFu);
    // The answer is exactly the input report's length, the value first.
    const sim::TransferRecord answer = bench.LastRecord();
    EXPECT_EQ(std::tuple(answer.requestedLength, answer.bytes.size()), std::tuple(0x240u, 64u));
    EXPECT_EQ(Head(answer.bytes, 5), (Bytes{0xEF, 0xBE, 0xAD, 0xDE, 0}));
    EXPECT_EQ(bench.RegisterRead(0x4000), 0u) << "a register never written";

    // Firmware version: the configured low bytes under nonzero upper bytes, read-only.
    const auto& version = bench.device->Configuration().firmwareVersion;
    for (std::size_t i = 0; i < 4; ++i) {
        const auto value = bench.RegisterRead(sim::kFirmwareVersionRegisters[i]);
        ASSERT_TRUE(value) << i;
        EXPECT_EQ(*value & 0xFF, version[i]) << i;
        EXPECT_NE(*value & 0xFFFFFF00u, 0u) << i << ": upper bytes must catch a host that does not mask";
    }
    ASSERT_EQ(bench.RegisterWrite(0x58, 0x77), ERROR_SUCCESS);
    EXPECT_EQ(bench.device->Register(0x58) & 0xFF, version[1]);

    // The HDCP key switches only on its two values at its own address.
    EXPECT_TRUE(bench.device->HdcpEnabled());
    struct Step { std::uint32_t address, value; bool enabled; };
    constexpr std::uint32_t kKey = sim::kHdcpRegister;
    for (Step s : {Step{kKey, sim::kHdcpKeyOff, false}, Step{kKey, 0xF9000002, false},
                   Step{kKey + 4, sim::kHdcpKeyOn, false}, Step{kKey, sim::kHdcpKeyOn, true}}) {
        ASSERT_EQ(bench.RegisterWrite(s.address, s.value), ERROR_SUCCESS);
        EXPECT_EQ(bench.device->HdcpEnabled(), s.enabled) << std::hex << s.address << " := " << s.value;
    }
}

TEST(SimIic, AutoIncrementWrapAndReturnCodes) {
    Bench bench;
    EXPECT_EQ(First(bench.Iic(0x90, {0xFE, 0x11, 0x22, 0x33, 0x44})), sim::kIicAck);
    const auto memory = bench.device->IicMemory(0x90);
    ASSERT_TRUE(memory);
    EXPECT_EQ((Bytes{(*memory)[0xFE], (*memory)[0xFF], (*memory)[0], (*memory)[1]}), (Bytes{0x11, 0x22, 0x33, 0x44}));
    const Bytes answer = bench.Iic(0x90, {0xFE}, 3);
    ASSERT_EQ(answer.size(), 64u);
    EXPECT_EQ(Head(answer, 5), (Bytes{sim::kIicAck, 0x11, 0x22, 0x33, 0}));
    EXPECT_EQ(Head(bench.Iic(0x90, {}, 1), 2), (Bytes{sim::kIicAck, 0x44})) << "goes on where the last read stopped";

    EXPECT_EQ(First(bench.Iic(0x90, {})), sim::kIicAck) << "address probe";
    EXPECT_EQ(First(bench.Iic(0xA0, {0x00, 0x01})), sim::kIicAddressNak);
    EXPECT_EQ(First(bench.Iic(0xA0, {0x00}, 1)), sim::kIicAddressNak);
    // The code and 64 bytes would not fit the 64-byte answer report; 63 bytes do.
    EXPECT_EQ(First(bench.Iic(0x90, {0x00}, 64)), sim::kIicBadCount);
    EXPECT_EQ(First(bench.Iic(0x90, {0x00}, 63)), sim::kIicAck);
}

TEST(SimInformation, HdmiAndUsb) {
    sim::Config config;
    config.hdmiInfo[23] = 0x5C;
    config.vendorId = 0x1234;
    Bench bench(config);
    const Bytes hdmi = bench.Ask(ReportKind::Iic, 0x0B);
    ASSERT_EQ(hdmi.size(), 64u);
    EXPECT_TRUE(std::equal(config.hdmiInfo.begin(), config.hdmiInfo.end(), hdmi.begin()));
    EXPECT_EQ(hdmi[24], 0);
    // vid, pid, version (little-endian), high speed, configuration 1.
    EXPECT_EQ(Head(bench.Ask(ReportKind::Iic, 0x0D), 9), (Bytes{0x34, 0x12, 0x01, 0x00, 0x00, 0x01, 2, 1, 0}));
}

// ---- refusals

Bytes Write(const Bench& b) { return b.Control(0x0A, 0x00, {Le4(0x100), Le4(0x55)}); }
Bytes Set(Bytes report, std::size_t at, std::uint8_t value) { return report.at(at) = value, report; }

// Each refusal fails the transfer, is recorded, changes nothing and leaves a burst in progress alone.
TEST(SimRefusal, FailsTheTransferChangesNothingAndIsRecorded) {
    struct Refusal {
        const char* name;
        Bytes (*frame)(const Bench&);  // an output report, or (without one) an input request:
        std::uint8_t reportId;         // control is report 2, IIC 3, flash data 1
        ULONG requestedLength;
    };
    const Refusal refusals[] = {
        {"LengthByteTooShort", [](const Bench& b) { return Set(Write(b), 1, 0x09); }},
        {"LengthByteTooLong", [](const Bench& b) { return Set(Write(b), 1, 0x0B); }},
        {"IicCommandOnControlReport", [](const Bench& b) { return b.Control(0x04, 0x06, {{0x90}}); }},
        {"RegisterCommandOnIicReport", [](const Bench& b) { return Set(Write(b), 0, b.Out(ReportKind::Iic).id); }},
        {"UnknownReportId", [](const Bench& b) { return Set(Write(b), 0, 0x09); }},
        {"ReportOneByteShort", [](const Bench& b) { auto r = Write(b); return r.pop_back(), r; }},
        {"ReportOneByteLong", [](const Bench& b) { auto r = Write(b); return r.push_back(0), r; }},
        {"NonzeroPaddingAfterFrame", [](const Bench& b) { return Set(Write(b), 11, 1); }},
        {"NonzeroLastByte", [](const Bench& b) { return Set(Write(b), 63, 0x80); }},
        {"IicLengthByteMismatch", [](const Bench& b) { return b.Frame(ReportKind::Iic, 5, 6, {{0x90, 2}}); }},
        {"IicFrameLongerThanReport", [](const Bench& b) { return b.Frame(ReportKind::Iic, 64, 6, {{0x90, 60}}); }},
        {"FlashDataWithByteOneSet", [](const Bench& b) { return b.Frame(ReportKind::FlashData, 1, 0); }},
        {"GpioDirectionPinFour", [](const Bench& b) { return b.Control(0x04, 0x08, {{4, 1}}); }},
        {"GpioReadPinFour", [](const Bench& b) { return b.Control(0x03, 0x0A, {{4}}); }},
        {"GpioDirectionTwo", [](const Bench& b) { return b.Control(0x04, 0x08, {{0, 2}}); }},
        {"LowByteNotReportLength", nullptr, 2, 0x43F},
        {"IicRequestOnControlReport", nullptr, 2, 0xB40},
        {"ControlRequestOnIicReport", nullptr, 3, 0x440},
        {"BitsAboveFifteen", nullptr, 2, 0x10440},
        {"FlashDataWithCommandBits", nullptr, 1, 0x1101},
        {"NoSuchInputReport", nullptr, 7, 0x240},
        {"RegisterValueWithoutAddress", nullptr, 2, 0x240},
        {"GpioLevelWithoutPin", nullptr, 2, 0xA40},
        {"IicWriteCodeWithoutWrite", nullptr, 3, 0x640},
        {"IicReadAnswerWithoutRead", nullptr, 3, 0x740},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.name);
        Bench bench;
        ASSERT_EQ(bench.Announce(1, 0, 4), ERROR_SUCCESS);
        Bytes answer{1, 2, 3};
        const DWORD result = r.frame ? bench.Send(r.frame(bench))
                                     : bench.device->OnInputRequest(r.reportId, r.requestedLength, answer);
        EXPECT_EQ(result, ERROR_GEN_FAILURE);
        EXPECT_EQ(answer.empty(), r.frame == nullptr);
        const auto log = bench.device->Log();
        ASSERT_EQ(log.size(), 3u);
        EXPECT_EQ(log.back().result, ERROR_GEN_FAILURE);
        EXPECT_FALSE(log.back().note.empty());
        EXPECT_EQ(bench.device->Register(0x100), 0u);
        EXPECT_EQ(bench.device->IicMemory(0x90)->at(0), 0);
        EXPECT_EQ(bench.device->Gpio(0).direction, 0);
        const std::uint8_t data[4] = {1, 2, 3, 4};
        EXPECT_EQ(bench.DataReport(data), ERROR_SUCCESS) << "the burst is still there to take";
        EXPECT_EQ(bench.RegisterWrite(0x100, 1), ERROR_SUCCESS);
    }
}

TEST(SimRefusal, LaxDeviceAcceptsNonzeroBytesAfterTheFrame) {
    sim::Config config;
    config.strictPadding = false;
    Bench bench(config);
    EXPECT_EQ(bench.Send(Set(Write(bench), 63, 0x80)), ERROR_SUCCESS);
    EXPECT_EQ(bench.device->Register(0x100), 0x55u);
}

TEST(SimRefusal, NoFeatureOrInterruptReports) {
    Bench bench;
    Bytes answer;
    const std::uint8_t report[2] = {2, 0};
    EXPECT_EQ(bench.device->OnSetFeature(report), ERROR_GEN_FAILURE);
    EXPECT_EQ(bench.device->OnGetFeature(2, 64, answer), ERROR_GEN_FAILURE);
    EXPECT_NE(bench.device->OnRead(answer, 64), ERROR_SUCCESS);
}

// ---- the descriptor and the configuration

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

}  // namespace
