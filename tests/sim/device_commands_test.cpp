// Register, GPIO, IIC and information commands of the simulated device, and the frames
// and requests it must refuse.
#include <gtest/gtest.h>

#include <functional>

#include "sim_bench.h"

namespace {

using sim::ReportKind;
using simtest::Bench;

TEST(SimRegisters, WriteThenReadBackAndAnswerIsOneReport) {
    Bench bench;
    ASSERT_EQ(bench.RegisterWrite(0x00001234, 0xDEADBEEF), ERROR_SUCCESS);
    std::uint32_t value = 0;
    ASSERT_EQ(bench.RegisterRead(0x00001234, value), ERROR_SUCCESS);
    EXPECT_EQ(value, 0xDEADBEEFu);
    EXPECT_EQ(bench.device->Register(0x1234), 0xDEADBEEFu);
    // The answer is exactly the input report's length, the value first.
    const sim::TransferRecord answer = bench.LastRecord();
    EXPECT_EQ(answer.direction, sim::Direction::Input);
    EXPECT_EQ(answer.requestedLength, 0x240u);
    EXPECT_EQ(answer.bytes.size(), 64u);
    // A register never written reads 0.
    ASSERT_EQ(bench.RegisterRead(0x4000, value), ERROR_SUCCESS);
    EXPECT_EQ(value, 0u);
}

TEST(SimRegisters, FirmwareVersionLowBytesWithNonzeroUpperBytesAndReadOnly) {
    sim::Config config;
    config.firmwareVersion = {0x01, 0x02, 0xAB, 0x10};
    Bench bench(config);
    for (std::size_t i = 0; i < 4; ++i) {
        std::uint32_t value = 0;
        ASSERT_EQ(bench.RegisterRead(sim::kFirmwareVersionRegisters[i], value), ERROR_SUCCESS);
        EXPECT_EQ(value & 0xFF, config.firmwareVersion[i]);
        EXPECT_NE(value & 0xFFFFFF00u, 0u) << "upper bytes must catch a host that does not mask";
    }
    ASSERT_EQ(bench.RegisterWrite(0x58, 0), ERROR_SUCCESS);
    EXPECT_EQ(bench.device->Register(0x58) & 0xFF, 0x02u);
}

TEST(SimRegisters, HdcpKeySwitchesOnlyOnItsTwoValues) {
    Bench bench;
    EXPECT_TRUE(bench.device->HdcpEnabled());
    ASSERT_EQ(bench.RegisterWrite(sim::kHdcpRegister, sim::kHdcpKeyOff), ERROR_SUCCESS);
    EXPECT_FALSE(bench.device->HdcpEnabled());
    ASSERT_EQ(bench.RegisterWrite(sim::kHdcpRegister, 0xF9000002), ERROR_SUCCESS);
    EXPECT_FALSE(bench.device->HdcpEnabled());
    ASSERT_EQ(bench.RegisterWrite(sim::kHdcpRegister + 4, sim::kHdcpKeyOn), ERROR_SUCCESS);
    EXPECT_FALSE(bench.device->HdcpEnabled());
    ASSERT_EQ(bench.RegisterWrite(sim::kHdcpRegister, sim::kHdcpKeyOn), ERROR_SUCCESS);
    EXPECT_TRUE(bench.device->HdcpEnabled());
}

TEST(SimGpio, OutputPinReadsDrivenLevelInputPinReadsOutside) {
    sim::Config config;
    config.gpioExternalLevels = {0, 1, 0, 0};
    Bench bench(config);
    std::uint8_t level = 9;
    ASSERT_EQ(bench.GpioRead(1, level), ERROR_SUCCESS);
    EXPECT_EQ(level, 1);
    // Writing a level to an input pin only latches it.
    ASSERT_EQ(bench.Gpio(0x09, 1, 0), ERROR_SUCCESS);
    ASSERT_EQ(bench.GpioRead(1, level), ERROR_SUCCESS);
    EXPECT_EQ(level, 1);
    ASSERT_EQ(bench.Gpio(0x08, 1, 1), ERROR_SUCCESS);
    ASSERT_EQ(bench.GpioRead(1, level), ERROR_SUCCESS);
    EXPECT_EQ(level, 0);
    ASSERT_EQ(bench.Gpio(0x09, 1, 1), ERROR_SUCCESS);
    ASSERT_EQ(bench.GpioRead(1, level), ERROR_SUCCESS);
    EXPECT_EQ(level, 1);
    bench.device->SetGpioExternalLevel(3, 1);
    ASSERT_EQ(bench.GpioRead(3, level), ERROR_SUCCESS);
    EXPECT_EQ(level, 1);
    EXPECT_EQ(bench.device->Gpio(1).direction, 1);
}

TEST(SimGpio, PinAboveThreeAndValuesAboveOneFail) {
    Bench bench;
    std::uint8_t level = 0;
    EXPECT_EQ(bench.Gpio(0x08, 4, 1), ERROR_GEN_FAILURE);
    EXPECT_EQ(bench.Gpio(0x09, 4, 1), ERROR_GEN_FAILURE);
    EXPECT_EQ(bench.GpioRead(4, level), ERROR_GEN_FAILURE);
    EXPECT_EQ(bench.Gpio(0x08, 0, 2), ERROR_GEN_FAILURE);
    EXPECT_EQ(bench.device->Gpio(0).direction, 0);
}

TEST(SimIic, WriteOffsetAndDataThenReadWithAutoIncrementAndWrap) {
    Bench bench;
    std::uint8_t code = 0xEE;
    ASSERT_EQ(bench.IicWrite(0x90, {0xFE, 0x11, 0x22, 0x33}, code), ERROR_SUCCESS);
    EXPECT_EQ(code, sim::kIicAck);
    auto memory = bench.device->IicMemory(0x90);
    ASSERT_TRUE(memory);
    EXPECT_EQ((*memory)[0xFE], 0x11);
    EXPECT_EQ((*memory)[0xFF], 0x22);
    EXPECT_EQ((*memory)[0x00], 0x33);

    std::vector<std::uint8_t> answer;
    ASSERT_EQ(bench.IicRead(0x90, {0xFE}, 3, answer), ERROR_SUCCESS);
    ASSERT_GE(answer.size(), 4u);
    EXPECT_EQ(answer[0], sim::kIicAck);
    EXPECT_EQ(answer[1], 0x11);
    EXPECT_EQ(answer[2], 0x22);
    EXPECT_EQ(answer[3], 0x33);
    // A read without an offset goes on where the last one stopped.
    ASSERT_EQ(bench.IicRead(0x90, {}, 1, answer), ERROR_SUCCESS);
    EXPECT_EQ(answer[0], sim::kIicAck);
    EXPECT_EQ(answer[1], (*memory)[0x01]);
}

TEST(SimIic, ReturnCodes) {
    Bench bench;
    std::uint8_t code = 0;
    ASSERT_EQ(bench.IicWrite(0x90, {}, code), ERROR_SUCCESS);  // address probe
    EXPECT_EQ(code, sim::kIicAck);
    ASSERT_EQ(bench.IicWrite(0xA0, {0x00, 0x01}, code), ERROR_SUCCESS);
    EXPECT_EQ(code, sim::kIicAddressNak);
    std::vector<std::uint8_t> answer;
    ASSERT_EQ(bench.IicRead(0xA0, {0x00}, 1, answer), ERROR_SUCCESS);
    EXPECT_EQ(answer[0], sim::kIicAddressNak);
    // The code and 64 bytes would not fit the 64-byte answer report; 63 bytes do.
    ASSERT_EQ(bench.IicRead(0x90, {0x00}, 64, answer), ERROR_SUCCESS);
    EXPECT_EQ(answer[0], sim::kIicBadCount);
    ASSERT_EQ(bench.IicRead(0x90, {0x00}, 63, answer), ERROR_SUCCESS);
    EXPECT_EQ(answer[0], sim::kIicAck);
}

TEST(SimInformation, HdmiUsbAndGetId) {
    sim::Config config;
    config.hdmiInfo[0] = 0x00;
    config.hdmiInfo[1] = 0x0A;
    config.hdmiInfo[23] = 0x5C;
    config.vendorId = 0x1234;
    Bench bench(config);
    std::vector<std::uint8_t> answer;
    ASSERT_EQ(bench.Request(ReportKind::Iic, 0x0B, answer), ERROR_SUCCESS);
    ASSERT_EQ(answer.size(), 64u);
    EXPECT_TRUE(std::equal(config.hdmiInfo.begin(), config.hdmiInfo.end(), answer.begin()));
    EXPECT_EQ(answer[24], 0);
    ASSERT_EQ(bench.Request(ReportKind::Iic, 0x0D, answer), ERROR_SUCCESS);
    EXPECT_EQ(answer[0], 0x34);
    EXPECT_EQ(answer[1], 0x12);
    ASSERT_EQ(bench.Request(ReportKind::Control, 0x04, answer), ERROR_SUCCESS);
    EXPECT_EQ(answer[0] | answer[1] << 8, 29);
}

class SimGetId : public testing::TestWithParam<std::uint16_t> {};

TEST_P(SimGetId, AnswersTheConfiguredRowLittleEndian) {
    sim::Config config;
    config.partRow = GetParam();
    Bench bench(config);
    std::vector<std::uint8_t> answer;
    ASSERT_EQ(bench.Request(ReportKind::Control, 0x04, answer), ERROR_SUCCESS);
    EXPECT_EQ(answer[0] | answer[1] << 8, GetParam());
    sim::FlashGeometry geometry;
    ASSERT_TRUE(sim::GeometryForRow(GetParam(), geometry));
    EXPECT_EQ(bench.device->Geometry().totalSize, geometry.totalSize);
    EXPECT_EQ(bench.device->FlashContents().size(), geometry.totalSize);
}

INSTANTIATE_TEST_SUITE_P(Rows, SimGetId, testing::Values<std::uint16_t>(0, 1, 22, 29, 32, 34, 38, 45));

// ---- refusals

struct BadFrame {
    const char* name;
    std::function<std::vector<std::uint8_t>(const Bench&)> build;
};

void PrintTo(const BadFrame& row, std::ostream* os) { *os << row.name; }

std::vector<std::uint8_t> RegisterWriteFrame(const Bench& bench) {
    auto report = bench.Control(0x0A, 0x00);
    simtest::PutLe(report, 3, 0x100);
    simtest::PutLe(report, 7, 0x55);
    return report;
}

const BadFrame kBadFrames[] = {
    {"LengthByteTooShort", [](const Bench& b) { auto r = RegisterWriteFrame(b); r[1] = 0x09; return r; }},
    {"LengthByteTooLong", [](const Bench& b) { auto r = RegisterWriteFrame(b); r[1] = 0x0B; return r; }},
    {"UnknownControlCommand", [](const Bench& b) { auto r = RegisterWriteFrame(b); r[2] = 0x02; return r; }},
    {"IicCommandOnControlReport", [](const Bench& b) { auto r = b.Control(0x04, 0x06); r[3] = 0x90; return r; }},
    {"RegisterCommandOnIicReport",
     [](const Bench& b) { auto r = RegisterWriteFrame(b); r[0] = b.Out(ReportKind::Iic).id; return r; }},
    {"UnknownReportId", [](const Bench& b) { auto r = RegisterWriteFrame(b); r[0] = 0x09; return r; }},
    {"ReportOneByteShort", [](const Bench& b) { auto r = RegisterWriteFrame(b); r.pop_back(); return r; }},
    {"ReportOneByteLong", [](const Bench& b) { auto r = RegisterWriteFrame(b); r.push_back(0); return r; }},
    {"NonzeroPaddingAfterFrame", [](const Bench& b) { auto r = RegisterWriteFrame(b); r[11] = 1; return r; }},
    {"NonzeroLastByte", [](const Bench& b) { auto r = RegisterWriteFrame(b); r.back() = 0x80; return r; }},
    {"IicLengthByteDisagreesWithCount",
     [](const Bench& b) { auto r = b.Frame(ReportKind::Iic, 0x05, 0x06); r[3] = 0x90; r[4] = 2; return r; }},
    {"IicFrameLongerThanReport",
     [](const Bench& b) { auto r = b.Frame(ReportKind::Iic, 4 + 60, 0x06); r[3] = 0x90; r[4] = 60; return r; }},
    {"FlashDataWithByteOneSet",
     [](const Bench& b) {
         std::vector<std::uint8_t> r(b.Out(ReportKind::FlashData).count + 1u, 0);
         r[0] = b.Out(ReportKind::FlashData).id;
         r[1] = 1;
         return r;
     }},
};

class SimBadFrame : public testing::TestWithParam<BadFrame> {};

TEST_P(SimBadFrame, FailsTheTransferChangesNothingAndIsRecorded) {
    Bench bench;
    // A burst the bad frame must not disturb.
    ASSERT_EQ(bench.Announce(1, 0, 4), ERROR_SUCCESS);
    const std::size_t before = bench.device->Log().size();
    EXPECT_EQ(bench.Send(GetParam().build(bench)), ERROR_GEN_FAILURE);
    const sim::TransferRecord record = bench.LastRecord();
    EXPECT_EQ(bench.device->Log().size(), before + 1);
    EXPECT_EQ(record.result, ERROR_GEN_FAILURE);
    EXPECT_FALSE(record.note.empty());
    EXPECT_EQ(bench.device->Register(0x100), 0u);
    EXPECT_EQ(bench.device->IicMemory(0x90)->at(0), 0);
    // The device still works, and the flash data frame did not consume the burst.
    const std::uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(bench.DataReport(data), ERROR_SUCCESS);
    EXPECT_EQ(bench.RegisterWrite(0x100, 1), ERROR_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(Frames, SimBadFrame, testing::ValuesIn(kBadFrames),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(SimPadding, LaxDeviceAcceptsNonzeroBytesAfterTheFrame) {
    sim::Config config;
    config.strictPadding = false;
    Bench bench(config);
    auto report = RegisterWriteFrame(bench);
    report.back() = 0x80;
    EXPECT_EQ(bench.Send(report), ERROR_SUCCESS);
    EXPECT_EQ(bench.device->Register(0x100), 0x55u);
}

struct BadRequest {
    const char* name;
    ReportKind kind;
    ULONG requestedLength;
};

void PrintTo(const BadRequest& row, std::ostream* os) { *os << row.name; }

const BadRequest kBadRequests[] = {
    {"LowByteNotReportLength", ReportKind::Control, 0x43F},
    {"NoCommand", ReportKind::Control, 0x040},
    {"UnknownControlCommand", ReportKind::Control, 0x340},
    {"IicCommandOnControlReport", ReportKind::Control, 0xB40},
    {"UnnamedIicCommand", ReportKind::Iic, 0xC40},
    {"ControlCommandOnIicReport", ReportKind::Iic, 0x440},
    {"BitsAboveFifteen", ReportKind::Control, 0x10440},
    {"FlashDataWithCommandBits", ReportKind::FlashData, 0x1101},
    {"FlashDataWrongLength", ReportKind::FlashData, 0x100},
};

class SimBadRequest : public testing::TestWithParam<BadRequest> {};

TEST_P(SimBadRequest, Fails) {
    Bench bench;
    ASSERT_EQ(bench.Announce(1, 0, 256), ERROR_SUCCESS);  // a read burst is there to take
    std::vector<std::uint8_t> answer{1, 2, 3};
    EXPECT_EQ(bench.device->OnInputRequest(bench.In(GetParam().kind).id, GetParam().requestedLength, answer),
              ERROR_GEN_FAILURE);
    EXPECT_TRUE(answer.empty());
    EXPECT_FALSE(bench.LastRecord().note.empty());
}

INSTANTIATE_TEST_SUITE_P(Requests, SimBadRequest, testing::ValuesIn(kBadRequests),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(SimRequests, AnswersNeedTheirSetUpFirst) {
    Bench bench;
    std::vector<std::uint8_t> answer;
    EXPECT_EQ(bench.Request(ReportKind::Control, 0x02, answer), ERROR_GEN_FAILURE);  // no 0x01
    EXPECT_EQ(bench.Request(ReportKind::Control, 0x0A, answer), ERROR_GEN_FAILURE);  // no GPIO pin
    EXPECT_EQ(bench.Request(ReportKind::Iic, 0x06, answer), ERROR_GEN_FAILURE);      // no IIC write
    EXPECT_EQ(bench.Request(ReportKind::Iic, 0x07, answer), ERROR_GEN_FAILURE);      // no IIC read
    EXPECT_EQ(bench.DataRequest(answer), ERROR_GEN_FAILURE);                         // no burst
    EXPECT_EQ(bench.device->OnInputRequest(0x07, 0x240, answer), ERROR_GEN_FAILURE);  // no such report
}

TEST(SimRequests, NoFeatureOrInterruptReports) {
    Bench bench;
    std::vector<std::uint8_t> answer;
    const std::uint8_t report[2] = {2, 0};
    EXPECT_EQ(bench.device->OnSetFeature(report), ERROR_GEN_FAILURE);
    EXPECT_EQ(bench.device->OnGetFeature(2, 64, answer), ERROR_GEN_FAILURE);
    EXPECT_NE(bench.device->OnRead(answer, 64), ERROR_SUCCESS);
}

}  // namespace
