// The main dialog's logic through the recording window: initialisation and the saved
// setting, closing, the About command, the peripheral panel and the Burn Area radios,
// against the in-process simulator.
#include <gtest/gtest.h>

#include <tuple>

#include "support/dialog_sim_fixture.h"

namespace ids = ui::ids;

namespace {

class DialogTest : public testsupport::DialogSimFixture<> {
protected:
    ~DialogTest() override { dialog.OnBnClickedCancel(); }

    void Open() {
        dialog.OnInitDialog();
        Start();
    }

};

// Every dialog opens with the default ids and without what needs a device; the burn area
// follows the low byte of the saved setting (1 or none: Entire Flash).
TEST_F(DialogTest, InitialisationShowsTheDefaultsAndFollowsTheSavedBurnAreaLowByte) {
    struct Row {
        std::optional<int> saved;
        bool entire;
    };
    for (Row row : {Row{std::nullopt, true}, Row{257, true}, Row{256, false}}) {
        SCOPED_TRACE(row.saved.value_or(-1));
        ui::RecordingWindow w;
        if (row.saved) w.SetProfileInt("Settings", "IsAccessAll", *row.saved);
        Cuvc_hid_quendaDlg d(w);
        d.OnInitDialog();
        EXPECT_EQ(w.Control(ids::kEntireFlash).check, row.entire ? 1 : 0);
        EXPECT_EQ(w.Control(ids::kOtherArea).check, row.entire ? 0 : 1);
        for (int box : {ids::kFirmwareBox, ids::kPrivateBox, ids::kCustomizedBox})
            EXPECT_EQ(w.Control(box).enabled, !row.entire) << box;
        EXPECT_EQ(w.Control(ids::kFirmwareBox).check, row.entire ? 0 : 1);
        EXPECT_EQ(w.Control(ids::kPrivateBox).check, 0);
        EXPECT_EQ(w.Control(ids::kVid).text, ui::Format("%04X", DefaultVendorId));  // the build's ids
        EXPECT_EQ(w.Control(ids::kPid).text, ui::Format("%04X", DefaultProductId));
        for (int id : {ids::kBrowseBurnFile, ids::kBrowseDumpFile, ids::kBurn, ids::kDump, ids::kGetFwVersion,
                       ids::kGetHdmiInfo})
            EXPECT_FALSE(w.Control(id).enabled) << id;
        EXPECT_TRUE(w.Control(ids::kOpenDevice).enabled);
        EXPECT_EQ(w.Control(ids::kRadioRegister).check, 0);
        EXPECT_TRUE(w.MessageBoxes().empty());
    }
}

// The radios enable the area boxes only when checked; OK saves the choice, Cancel nothing.
TEST_F(DialogTest, BurnAreaRadiosAndTheWaysOut) {
    dialog.OnInitDialog();  // Entire Flash
    dialog.OnOtherArea();   // clicked but not checked: nothing changes
    EXPECT_FALSE(window.Control(ids::kFirmwareBox).enabled);
    for (int entire : {0, 1, 0}) {
        window.SetCheck(ids::kEntireFlash, entire);
        window.SetCheck(ids::kOtherArea, 1 - entire);
        entire ? dialog.OnEntireFlash() : dialog.OnOtherArea();
        for (int box : {ids::kFirmwareBox, ids::kPrivateBox, ids::kCustomizedBox}) {
            EXPECT_EQ(window.Control(box).enabled, entire == 0) << box;
            EXPECT_EQ(window.Control(box).check, 0) << box;  // Firmware is checked only at start
        }
    }
    dialog.OnBnClickedCancel();
    EXPECT_FALSE(window.ProfileInt("Settings", "IsAccessAll"));
    EXPECT_EQ(window.DialogResult(), ids::kCancel);
    dialog.OnBnClickedOk();
    EXPECT_EQ(window.ProfileInt("Settings", "IsAccessAll"), 0);
    EXPECT_EQ(window.DialogResult(), ids::kOk);

    // Without the radio the value read at initialisation is written back.
    ui::RecordingWindow w;
    w.SetProfileInt("Settings", "IsAccessAll", 0x100);
    w.RemoveControl(ids::kEntireFlash);
    Cuvc_hid_quendaDlg d(w);
    d.OnInitDialog();
    d.OnBnClickedOk();
    EXPECT_EQ(w.ProfileInt("Settings", "IsAccessAll"), 0);
}

TEST_F(DialogTest, TheAboutCommandIgnoresItsLowFourBits) {
    for (UINT id = 0x0010; id <= 0x001F; ++id) dialog.OnSysCommand(id, 0);
    dialog.OnSysCommand(0x0020, 0);
    dialog.OnSysCommand(0xF060, 0);
    EXPECT_EQ(window.CallsOf("About").size(), 16u);
}

TEST_F(DialogTest, RegisterReadAndWriteUseTheFields) {
    Open();
    sim->SetRegister(0xD8000004, 0x00ABCDEF);
    dialog.OnRead();
    EXPECT_EQ(window.Control(ids::kRegValue).text, "00abcdef");

    window.TypeText(ids::kRegAddr, "0x1000");
    window.TypeText(ids::kRegValue, "12345678");
    dialog.OnWrite();
    EXPECT_EQ(sim->Register(0x1000), 0x12345678u);
    window.TypeText(ids::kRegValue, "1234567890");  // nine characters read: beyond 32 bits saturates
    dialog.OnWrite();
    EXPECT_EQ(sim->Register(0x1000), 0xFFFFFFFFu);
}

TEST_F(DialogTest, IicWriteSendsTheDataHighByteFirstAndReadShowsTwoDigits) {
    Open();
    window.SetCheck(ids::kRadioRegister, 0);
    window.SetCheck(ids::kRadioIic, 1);
    dialog.OnWrite();  // the defaults: device 0x90, data 0x0F00 -> offset 0x0F, byte 0x00
    EXPECT_EQ(Wire(), "> 03 06 06 90 02 0f | < 3 0x640");
    window.TypeText(ids::kIicData, "10A5");
    dialog.OnWrite();  // offset 0x10, byte 0xA5
    EXPECT_EQ(window.Control(ids::kIicRetCode).text, "00");
    ASSERT_TRUE(sim->IicMemory(0x90));
    EXPECT_EQ((*sim->IicMemory(0x90))[0x10], 0xA5);

    window.TypeText(ids::kIicData, "3310");  // reads offset 0x10: the low byte only
    window.TypeText(ids::kIicRetCode, "");
    dialog.OnRead();
    EXPECT_EQ(window.Control(ids::kIicData).text, "a5");
    EXPECT_EQ(window.Control(ids::kIicRetCode).text, "00");

    window.TypeText(ids::kIicAddr, "44");  // no such device: the return code tells
    dialog.OnWrite();
    EXPECT_EQ(window.Control(ids::kIicRetCode).text, "01");
}

TEST_F(DialogTest, GpioWriteKeepsTheDirectionAndSetGpioWritesNoLevel) {
    Open();
    dialog.OnSetGpio();
    EXPECT_EQ(window.MessageBoxes().at(0).text, "Please select GPIO mode !");

    window.SetCheck(ids::kRadioRegister, 0);
    window.SetCheck(ids::kRadioGpio, 1);
    window.SelectListItem(ids::kGpioNumber, 2);
    window.TypeText(ids::kGpioValue, "1");
    dialog.OnWrite();
    EXPECT_EQ(sim->Gpio(2).driven, 1);
    EXPECT_EQ(sim->Gpio(2).direction, 0);

    window.SelectListItem(ids::kGpioDirection, 1);
    window.TypeText(ids::kGpioValue, "0");
    dialog.OnSetGpio();
    EXPECT_EQ(sim->Gpio(2).direction, 1);
    EXPECT_EQ(sim->Gpio(2).driven, 1);

    // A typed name that matches no entry keeps the pin chosen before.
    window.SelectListItem(ids::kGpioNumber, -1);
    sim->SetGpioExternalLevel(2, 0);
    dialog.OnRead();
    EXPECT_EQ(window.Control(ids::kGpioValue).text, "01");  // pin 2 drives its written level
}

}  // namespace
