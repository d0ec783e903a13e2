// The dialog's radio buttons as assistive technology and the keyboard meet them: their
// role and groups, and that every way of checking one runs its handler once, except a
// check the program sets itself.
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QButtonGroup>
#include <QSettings>

#include <atomic>
#include <thread>

#include "tests/qt/dialog_fixture.h"
#include "ui/services/control_ids.h"

namespace {

namespace ids = ui::ids;

class Radios : public qttest::DialogFixture {
protected:
    void OpenWithEntireFlash() {
        QSettings(QString::fromUtf8(kProfileKey), QCoreApplication::applicationName())
            .setValue(QStringLiteral("Settings/IsAccessAll"), 1);
        Open();
    }

    void Act(int id, const QString& action) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(Control(id));
        ASSERT_NE(iface, nullptr);
        ASSERT_NE(iface->actionInterface(), nullptr);
        iface->actionInterface()->doAction(action);
    }

    bool AreaBoxesEnabled() const {
        bool firmware = Control(ids::kFirmwareBox)->isEnabled();
        EXPECT_EQ(Control(ids::kCustomizedBox)->isEnabled(), firmware);
        EXPECT_EQ(Control(ids::kPrivateBox)->isEnabled(), firmware);
        return firmware;
    }
};

TEST_F(Radios, AreRadioButtonsInExclusiveGroupsThatMayStartUnchecked) {
    OpenWithEntireFlash();
    const std::vector<std::vector<int>> groups = {{ids::kEntireFlash, ids::kOtherArea},
                                                  {ids::kRadioRegister, ids::kRadioIic, ids::kRadioGpio},
                                                  {ids::kDisableHdcpKey, ids::kEnableHdcpKey}};
    for (const auto& group : groups) {
        for (int id : group) {
            SCOPED_TRACE(id);
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(Control(id));
            ASSERT_NE(iface, nullptr);
            EXPECT_EQ(iface->role(), QAccessible::RadioButton);
            QButtonGroup* buttons = ControlAs<QAbstractButton>(id)->group();
            ASSERT_NE(buttons, nullptr);
            EXPECT_TRUE(buttons->exclusive());
            std::vector<int> members;
            for (QAbstractButton* member : buttons->buttons()) members.push_back(member->objectName().toInt());
            EXPECT_EQ(members, group);
        }
    }
    EXPECT_TRUE(Checked(ids::kEntireFlash));
    for (int id : {ids::kRadioRegister, ids::kRadioIic, ids::kRadioGpio, ids::kDisableHdcpKey, ids::kEnableHdcpKey})
        EXPECT_FALSE(Checked(id)) << id;
}

// Other Area checked by an assistive technology enables the area boxes; arrow keys move
// the check within the group (round the end, past a disabled button), each move running
// the newly checked button's handler.
TEST_F(Radios, AccessibilityActionsAndArrowKeysRunTheHandler) {
    OpenWithEntireFlash();
    ASSERT_FALSE(AreaBoxesEnabled());
    Act(ids::kOtherArea, QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(Checked(ids::kOtherArea));
    EXPECT_FALSE(Checked(ids::kEntireFlash));
    EXPECT_TRUE(AreaBoxesEnabled());

    Click(ids::kEntireFlash);
    ASSERT_FALSE(AreaBoxesEnabled());
    QTest::keyClick(Control(ids::kEntireFlash), Qt::Key_Right);
    EXPECT_TRUE(Checked(ids::kOtherArea));
    EXPECT_EQ(QApplication::focusWidget(), Control(ids::kOtherArea));
    EXPECT_TRUE(AreaBoxesEnabled());
    QTest::keyClick(Control(ids::kOtherArea), Qt::Key_Down);  // round the end
    EXPECT_TRUE(Checked(ids::kEntireFlash));
    EXPECT_FALSE(AreaBoxesEnabled());
    QTest::keyClick(Control(ids::kEntireFlash), Qt::Key_Up);
    EXPECT_TRUE(Checked(ids::kOtherArea));
    EXPECT_TRUE(AreaBoxesEnabled());

    Click(ids::kRadioRegister);
    Control(ids::kRadioIic)->setEnabled(false);
    QTest::keyClick(Control(ids::kRadioRegister), Qt::Key_Down);
    EXPECT_TRUE(Checked(ids::kRadioGpio));
    EXPECT_FALSE(Checked(ids::kRadioRegister) || Checked(ids::kRadioIic));
    QTest::keyClick(Control(ids::kRadioGpio), Qt::Key_Left);
    EXPECT_TRUE(Checked(ids::kRadioRegister));
    EXPECT_TRUE(boxes.empty());
}

// With no device open each run of an HDCP handler says so in one box, so the boxes count
// the runs: one for each route that checks a button or clicks the checked one, none for
// a check the program sets, on its own thread or from a worker.
TEST_F(Radios, EachRouteRunsTheHandlerOnceAndTheProgramsChecksNone) {
    Open();
    Act(ids::kDisableHdcpKey, QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(Checked(ids::kDisableHdcpKey));
    EXPECT_EQ(boxes.size(), 1U);

    QTest::keyClick(Control(ids::kDisableHdcpKey), Qt::Key_Down);
    EXPECT_TRUE(Checked(ids::kEnableHdcpKey));
    EXPECT_EQ(boxes.size(), 2U);

    Act(ids::kDisableHdcpKey, QAccessibleActionInterface::pressAction());  // a click after a moment
    EXPECT_TRUE(QTest::qWaitFor([this] { return Checked(ids::kDisableHdcpKey); }));
    QTest::qWait(150);
    EXPECT_EQ(boxes.size(), 3U);

    Click(ids::kDisableHdcpKey);  // already checked: runs again, as a click does
    EXPECT_EQ(boxes.size(), 4U);
    ControlAs<QAbstractButton>(ids::kEnableHdcpKey)->setChecked(true);
    EXPECT_EQ(boxes.size(), 5U);

    dialog->LogicWindow().SetCheck(ids::kDisableHdcpKey, 1);
    EXPECT_TRUE(Checked(ids::kDisableHdcpKey));
    std::atomic<bool> done = false;
    std::thread worker([this, &done] {
        dialog->LogicWindow().SetCheck(ids::kEnableHdcpKey, 1);
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&done] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(Checked(ids::kEnableHdcpKey));
    dialog->LogicWindow().SetCheck(ids::kEnableHdcpKey, 0);  // none checked again
    EXPECT_FALSE(Checked(ids::kEnableHdcpKey) || Checked(ids::kDisableHdcpKey));
    EXPECT_EQ(boxes.size(), 5U);
}

}  // namespace
