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

// The saved burn area is read through QSettings (only its low 8 bits count); Esc and the
// close box leave it, OK and Enter in a field save the new choice.
TEST_F(MainWindow, SavedBurnAreaAndTheWaysOut) {
    for (auto [saved, entire] : {std::pair{std::optional<int>(0), false}, std::pair{std::optional<int>(257), true},
                                 std::pair{std::optional<int>(256), false}, std::pair{std::optional<int>(), true}}) {
        SaveIsAccessAll(saved);
        Open();
        EXPECT_EQ(Checked(ids::kEntireFlash), entire) << saved.value_or(-1);
        EXPECT_EQ(Control(ids::kFirmwareBox)->isEnabled(), !entire) << saved.value_or(-1);
        dialog->reject();
    }
    enum class Way { Esc, CloseBox, OkButton, EnterInField };
    struct Row {
        Way way;
        int result;
        int saved;
    };
    for (Row row : {Row{Way::Esc, 2, 1}, Row{Way::CloseBox, 2, 1}, Row{Way::OkButton, 1, 0}, Row{Way::EnterInField, 1, 0}}) {
        SCOPED_TRACE(static_cast<int>(row.way));
        SaveIsAccessAll(1);
        Open();
        Click(ids::kOtherArea);
        if (row.way == Way::Esc) QTest::keyClick(dialog.get(), Qt::Key_Escape);
        if (row.way == Way::CloseBox) dialog->close();
        if (row.way == Way::OkButton) Click(ids::kOk);
        if (row.way == Way::EnterInField) {
            Control(ids::kRegAddr)->setFocus();
            QTest::keyClick(Control(ids::kRegAddr), Qt::Key_Return);
        }
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(dialog->result(), row.result);
        EXPECT_EQ(SavedIsAccessAll(), row.saved);
    }
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(qttest::Profile().fileName().startsWith(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"))));
}

// A right click on the background offers the About item; the box opens for the
// commands 0x0010 to 0x001F alike.
TEST_F(MainWindow, ContextMenuAboutItem) {
    Open();
    QStringList items;
    QTimer::singleShot(0, [&items] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        for (QAction* action : menu != nullptr ? menu->actions() : QList<QAction*>{}) items << action->text();
        if (menu != nullptr) menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 340), dialog->mapToGlobal(QPoint(5, 340)));
    QCoreApplication::sendEvent(dialog.get(), &event);
    EXPECT_EQ(items, QStringList{"&About Sorvik HID Tool..."});

    for (uint command : {0x0010u, 0x001Fu, 0x0020u}) {
        dialog->AboutAction()->setData(command);
        QStringList shown;
        QTimer::singleShot(0, [&shown] {
            auto* box = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            shown << box->windowTitle();
            for (auto* label : box->findChildren<QLabel*>()) shown << label->text();
            QTest::mouseClick(box->findChild<QAbstractButton*>(QStringLiteral("1")), Qt::LeftButton);
        });
        dialog->AboutAction()->trigger();
        QCoreApplication::processEvents();
        EXPECT_EQ(shown.contains("About Sorvik HID Tool"), command != 0x0020u) << command;
        EXPECT_EQ(shown.contains("Tovrin HID Tool, Version 1.0.7.3"), command != 0x0020u) << command;
    }
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
