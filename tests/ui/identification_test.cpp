// Get ID and the status handlers of the dialog against the simulated device.
#include <gtest/gtest.h>

#include <tuple>

#include "sim/flash_geometry.h"
#include "support/dialog_sim_fixture.h"

namespace ids = ui::ids;

namespace {

struct PartTexts {
    std::uint16_t row;
    const char* texts;  // name, page, sector, blocks, ID, pages per sector, sectors per block, total
    ULONG sectorBytes, totalBytes;
};

class GetId : public testsupport::DialogSimFixture<> {
protected:
    void SetUp() override { Start(); }
    std::string Texts() {
        std::string out;
        for (int id : {ids::kDeviceName, ids::kPageSize, ids::kSectorSize, ids::kTotalBlock, ids::kDeviceId,
                       ids::kPagesPerSector, ids::kSectorsPerBlock, ids::kTotalSize})
            out += (out.empty() ? "" : "|") + window.Control(id).text;
        return out;
    }
};

TEST_F(GetId, ShowsTheEightTextsAndKeepsTheGeometry) {
    for (const PartTexts& p : {PartTexts{32, "GD_GD25Q128C|256 bytes|4096 bytes|256|32|16|16|16384 KB", 4096, 16777216},
                               PartTexts{0, "AMIC__A25L032|256 bytes|65536 bytes|64|0|256|1|4096 KB", 65536, 4194304}}) {
        sim->ClearLog();
        window.ClearCalls();
        sim->SetGetIdAnswer(p.row);
        dialog.OnGetId();
        EXPECT_EQ(Wire(), "< 2 0x440");  // one input request, no output report before it
        EXPECT_EQ(Texts(), p.texts);
        EXPECT_EQ(window.Traces(), std::vector<std::string>{"Device ID: " + std::to_string(p.row) + "\n"});
        EXPECT_EQ(std::tuple(protocol.IdentifiedPartIndex(), protocol.FlashSectorSize(), protocol.FlashTotalSize()),
                  std::tuple(ULONG{p.row}, p.sectorBytes, p.totalBytes));
    }
}

TEST_F(GetId, AnAnswerAboveTheTableNamesNoPart) {
    for (std::uint16_t answer : {std::uint16_t{46}, std::uint16_t{0xFFFF}}) {
        sim->SetGetIdAnswer(22);
        dialog.OnGetId();
        ASSERT_EQ(protocol.IdentifiedPartIndex(), 22u);
        sim->SetGetIdAnswer(answer);
        dialog.OnGetId();
        EXPECT_EQ(Texts(), "Unknown||||" + std::to_string(answer) + "|||");
        EXPECT_EQ(std::tuple(protocol.IdentifiedPartIndex(), protocol.FlashSectorSize(), protocol.FlashTotalSize()),
                  std::tuple(kNoIdentifiedPart, 0u, 0u)) << answer;
    }
}

TEST_F(GetId, AFailedRequestKeepsThePreviousIdentification) {
    sim->SetGetIdAnswer(32);
    dialog.OnGetId();
    auto before = Texts();
    window.ClearCalls();
    sim->FailTransfer(1);
    dialog.OnGetId();
    EXPECT_EQ(window.Traces(), std::vector<std::string>{"Unknown error: Couldn't execute REPORT_FLASH_GET_ID function\n"});
    EXPECT_EQ(Texts(), before);
    EXPECT_EQ(std::tuple(protocol.IdentifiedPartIndex(), protocol.FlashSectorSize()), std::tuple(32u, 4096u));
}

TEST(Tables, FlashPartGeometryAndInputRowsAreConsistent) {
    for (int i = 0; i < kFlashPartCount; ++i) {
        const FlashPart& p = FlashPartTable[i];
        EXPECT_EQ(p.row, static_cast<ULONG>(i));
        ASSERT_NE(p.pageSize, 0) << p.name;
        EXPECT_EQ(p.sectorSize, static_cast<ULONG>(p.pageSize) * p.pagesPerSector) << p.name;
        ULONG total = FlashPartTotalSize(p);
        EXPECT_EQ(total & (total - 1), 0u) << p.name;  // every part is a power of two in size
        EXPECT_GE(total, 256u * 1024u);
        EXPECT_LE(total, 64u * 1024u * 1024u);
        for (int j = 0; j < i; ++j) EXPECT_STRNE(p.name, FlashPartTable[j].name) << "the user tells parts by name";
        sim::FlashGeometry simulated;
        ASSERT_TRUE(sim::GeometryForRow(static_cast<std::uint16_t>(i), simulated)) << p.name;
        EXPECT_EQ(std::tuple(simulated.sectorSize, simulated.totalSize), std::tuple(p.sectorSize, total))
            << p.name << ": the simulator's part must be the tool's";
    }
    EXPECT_EQ(sim::kPartRows, kFlashPartCount);
    for (int a = 0; a < kReportTableRows; ++a) {
        const ReportSelector& r = ReportTable[a];
        if (r.reportType != kInputRow) continue;
        if (r.command < 0x10) {
            EXPECT_EQ(r.length, 2u) << a;
        }
        // Input rows of one capability are told apart only by their command code.
        for (int b = 0; b < a; ++b) {
            if (ReportTable[b].reportType == kInputRow && r.capsIndex == ReportTable[b].capsIndex) {
                EXPECT_NE(r.command, ReportTable[b].command);
            }
        }
    }
}

class Status : public testsupport::DialogSimFixture<> {};

TEST_F(Status, FirmwareVersionTakesTheLowByteOfFourRegistersAndAFailureShowsNoPartialText) {
    sim::Config config;
    config.firmwareVersion = {0x01, 0x02, 0xAB, 0x10};
    Start(config);
    dialog.OnGetFwVersion();
    EXPECT_EQ(window.Control(ids::kFirmwareVersion).text, "01.02.ab.10");
    auto log = Log();
    ASSERT_EQ(log.size(), 8u);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(log[2 * i].bytes[3], 0x54 + 4 * i);
    sim->ClearLog();
    window.SetControlText(ids::kFirmwareVersion, "previous");
    sim->FailTransfer(6);  // the third register's value
    dialog.OnGetFwVersion();
    EXPECT_EQ(window.Control(ids::kFirmwareVersion).text, "previous");
    EXPECT_EQ(Log().size(), 6u);
}

TEST_F(Status, HdmiInformationIsTwentyFourBytesInHexOrWhatAShortAnswerCarries) {
    Start();
    dialog.OnGetHdmiInfo();
    std::string text = window.Control(ids::kHdmiInfo).text;
    ASSERT_EQ(text.size(), 71u);
    EXPECT_EQ(text.substr(0, 9) + "|" + text.substr(68), "00 0a ff | 10");
    EXPECT_EQ(Wire(), "< 3 0xb40");
    sim->SetInputTruncation(3);
    dialog.OnGetHdmiInfo();
    EXPECT_EQ(window.Control(ids::kHdmiInfo).text, "00 0a ff");
    sim->ClearFaults();
    sim->FailTransfer(1);  // the field is kept
    dialog.OnGetHdmiInfo();
    EXPECT_EQ(window.Control(ids::kHdmiInfo).text, "00 0a ff");
    EXPECT_EQ(window.Traces().back(), "Unknown error: Couldn't execute REPORT_HDMI_INFO function\n");
}

TEST_F(Status, TestSendsOneUsbInformationRequestAndChangesNoControl) {
    Start();
    dialog.OnTest();
    EXPECT_EQ(Wire(), "< 3 0xd40");
    EXPECT_TRUE(window.CallsOf("SetText").empty());
    sim->FailTransfer(1);
    dialog.OnTest();
    EXPECT_EQ(window.Traces(), std::vector<std::string>{"Unknown error: Couldn't execute REPORT_USB_INFO function\n"});
}

TEST_F(Status, HdcpRadiosWriteTheKeySwitchEachTimeTheyArePressedAndAFailureIsTracedTwice) {
    Start();
    window.SetCheck(ids::kDisableHdcpKey, 1);
    dialog.OnBnClickedRdoDHdcpKey();
    EXPECT_FALSE(sim->HdcpEnabled());
    dialog.OnBnClickedRdoDHdcpKey();  // pressed again: the same write again
    dialog.OnBnClickedRdoEHdcpKey();  // its own radio is not checked: nothing
    EXPECT_EQ(Log().size(), 2u);
    window.SetCheck(ids::kDisableHdcpKey, 0);
    window.SetCheck(ids::kEnableHdcpKey, 1);
    sim->ClearLog();
    dialog.OnBnClickedRdoEHdcpKey();
    EXPECT_TRUE(sim->HdcpEnabled());
    EXPECT_EQ(Wire(), "> 02 0a 00 00 00 ff 03 01 00 00 f9");
    sim->FailTransfer(1);
    dialog.OnBnClickedRdoEHdcpKey();
    EXPECT_EQ(window.Traces(), (std::vector<std::string>{"Unknown error: Couldn't execute REPORT_REG_WRITE function\n",
                                                         "OnBnClickedRdoEHdcpKey fail -- return code is 0x0\n"}));
}

TEST_F(Status, HandlersThatCheckForADeviceRefuseWithoutOne) {
    ui::RecordingWindow otherWindow;
    Cuvc_hid_quendaDlg closed{otherWindow};
    closed.OnInitDialog();
    closed.OnGetId();
    closed.OnTest();
    closed.OnBnClickedRdoDHdcpKey();
    closed.OnBnClickedRdoEHdcpKey();
    closed.OnWrite();
    closed.OnRead();
    closed.OnSetGpio();
    auto boxes = otherWindow.MessageBoxes();
    ASSERT_EQ(boxes.size(), 7u);
    for (const auto& box : boxes)
        EXPECT_EQ(std::tuple(box.text, box.caption, box.icon), std::tuple("HID Device no found !", "Error", ui::Icon::Error));
    // The two that the dialog only enables after an open fail their first step safely.
    closed.OnGetFwVersion();
    closed.OnGetHdmiInfo();
    EXPECT_EQ(otherWindow.MessageBoxes().size(), 7u);
}

}  // namespace
