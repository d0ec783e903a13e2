// The main dialog window: the saved burn area, the ways out, Enter, the About item and
// the lists, driven through the real widgets.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>

#include "tests/qt/dialog_fixture.h"
#include "ui/qt/about_dialog.h"
#include "ui/services/control_ids.h"

namespace {

namespace ids = ui::ids;
using qttest::SavedIsAccessAll;
using qttest::SaveIsAccessAll;

class MainWindow : public qttest::DialogFixture {};

TEST_F(MainWindow, StartsWithTheSavedBurnArea) {
    struct Row {
        std::optional<int> saved;
        bool entire;
    };
    for (Row row : {Row{0, false}, Row{1, true}, Row{257, true}, Row{256, false}, Row{std::nullopt, true}}) {
        SCOPED_TRACE(row.saved.value_or(-1));
        SaveIsAccessAll(row.saved);
        Open();
        EXPECT_EQ(Checked(ids::kEntireFlash), row.entire);
        EXPECT_EQ(Checked(ids::kOtherArea), !row.entire);
        for (int box : {ids::kFirmwareBox, ids::kPrivateBox, ids::kCustomizedBox})
            EXPECT_EQ(Control(box)->isEnabled(), !row.entire) << box;
        EXPECT_EQ(Checked(ids::kFirmwareBox), !row.entire);
        EXPECT_FALSE(Checked(ids::kPrivateBox));
        dialog->reject();
    }
    // The profile is a file under the user's configuration folder.
    EXPECT_TRUE(qttest::Profile().fileName().startsWith(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"))));
}

TEST_F(MainWindow, EscAndTheCloseBoxDoNotSaveOkDoes) {
    enum class Way { Esc, CloseBox, OkButton, EnterInField };
    struct Row {
        Way way;
        int result;
        int saved;
    };
    const Row rows[] = {{Way::Esc, 2, 1}, {Way::CloseBox, 2, 1}, {Way::OkButton, 1, 0}, {Way::EnterInField, 1, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.way));
        SaveIsAccessAll(1);
        Open();
        Click(ids::kOtherArea);
        switch (row.way) {
        case Way::Esc:
            QTest::keyClick(dialog.get(), Qt::Key_Escape);
            break;
        case Way::CloseBox:
            dialog->close();
            break;
        case Way::OkButton:
            Click(ids::kOk);
            break;
        case Way::EnterInField:
            Control(ids::kRegAddr)->setFocus();
            QTest::keyClick(Control(ids::kRegAddr), Qt::Key_Return);
            break;
        }
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(dialog->result(), row.result);
        EXPECT_EQ(SavedIsAccessAll(), row.saved);
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainWindow, AboutItemOpensTheBoxForItsCommandRange) {
    Open();
    QAction* about = dialog->AboutAction();
    EXPECT_EQ(about->text(), "&About Sorvik HID Tool...");
    for (uint command : {0x0010u, 0x0017u, 0x001Fu, 0x0020u, 0x0000u}) {
        SCOPED_TRACE(command);
        about->setData(command);
        QString caption;
        QTimer::singleShot(0, [&caption] {
            if (auto* box = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
                caption = box->windowTitle();
                box->accept();
            }
        });
        about->trigger();
        QCoreApplication::processEvents();
        EXPECT_EQ(caption, (command & 0xFFF0u) == 0x10u ? "About Sorvik HID Tool" : "");
    }
}

TEST_F(MainWindow, RightClickOnTheBackgroundOffersTheAboutItem) {
    Open();
    QStringList items;
    QTimer::singleShot(0, [&items] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* action : menu->actions()) items << action->text();
            menu->close();
        }
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 340), dialog->mapToGlobal(QPoint(5, 340)));
    QCoreApplication::sendEvent(dialog.get(), &event);
    EXPECT_EQ(items, QStringList{"&About Sorvik HID Tool..."});
}

TEST_F(MainWindow, InitialTextsAndLimits) {
    Open();
    for (int id : {ids::kStatusText, ids::kProgressDone, ids::kProgressTotal}) {
        EXPECT_EQ(ControlAs<QLabel>(id)->text(), "Static") << id;
        EXPECT_EQ(Control(id)->accessibleName(), "Static") << id;
    }
    EXPECT_EQ(ControlAs<QLineEdit>(ids::kVid)->text(), "1209");
    EXPECT_EQ(ControlAs<QLineEdit>(ids::kPid)->text(), "0001");
    EXPECT_EQ(ControlAs<QLineEdit>(ids::kVid)->maxLength(), 4);
    for (int id : {ids::kBrowseBurnFile, ids::kBrowseDumpFile, ids::kBurn, ids::kDump, ids::kGetFwVersion,
                   ids::kGetHdmiInfo})
        EXPECT_FALSE(Control(id)->isEnabled()) << id;
    dialog->Services().SetControlText(ids::kStatusText, "Status: Wait");
    EXPECT_EQ(Control(ids::kStatusText)->accessibleName(), "Status: Wait");
}

// The GPIO lists are sorted and editable: a typed text that matches no entry selects
// nothing.
TEST_F(MainWindow, SortedListsAndTypedText) {
    Open();
    uiqt::QtWindowServices& services = dialog->Services();
    for (const char* item : {"OUTPUT", "INPUT"}) services.AddListItem(ids::kGpioDirection, item);
    auto* combo = ControlAs<QComboBox>(ids::kGpioDirection);
    ASSERT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->itemText(0), "INPUT");
    EXPECT_EQ(services.GetListSelection(ids::kGpioDirection), -1);
    services.SelectListItem(ids::kGpioDirection, 1);
    EXPECT_EQ(services.GetListSelection(ids::kGpioDirection), 1);
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), "SIDEWAYS");
    EXPECT_EQ(services.GetListSelection(ids::kGpioDirection), -1);
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), "INPUT");
    EXPECT_EQ(services.GetListSelection(ids::kGpioDirection), 0);
    EXPECT_EQ(combo->count(), 2);  // typing never adds an entry
}

}  // namespace
