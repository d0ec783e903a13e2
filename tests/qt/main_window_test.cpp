// The main dialog window: the saved burn area through QSettings, the ways out, the About
// item and the lists, driven through the real widgets. The setting's rules themselves
// are checked against the recording window.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QTimer>

#include <optional>

#include "tests/qt/dialog_fixture.h"
#include "ui/qt/about_dialog.h"
#include "ui/services/control_ids.h"

namespace {

namespace ids = ui::ids;

class MainWindow : public qttest::DialogFixture {
protected:
    static QSettings Profile() {
        return QSettings(QString::fromUtf8(kProfileKey), QCoreApplication::applicationName());
    }
};

// Each way out starts from another saved value, flips the burn area and shows whether the
// choice was saved: Esc and the close box leave the setting, OK and Enter in a field save.
TEST_F(MainWindow, SavedBurnAreaAndTheWaysOut) {
    const QString key = QStringLiteral("Settings/IsAccessAll");
    enum class Way { Esc, CloseBox, OkButton, EnterInField };
    struct Row {
        Way way;
        std::optional<int> before;
        bool entire;  // the radio checked at opening
        int result;
        std::optional<int> after;
    };
    for (Row row : {Row{Way::Esc, 256, false, 2, 256}, Row{Way::CloseBox, std::nullopt, true, 2, std::nullopt},
                    Row{Way::OkButton, 1, true, 1, 0}, Row{Way::EnterInField, 0, false, 1, 1}}) {
        SCOPED_TRACE(static_cast<int>(row.way));
        if (row.before) Profile().setValue(key, *row.before);
        else Profile().remove(key);
        Open();
        EXPECT_EQ(Checked(ids::kEntireFlash), row.entire);
        EXPECT_EQ(Control(ids::kFirmwareBox)->isEnabled(), !row.entire);
        Click(row.entire ? ids::kOtherArea : ids::kEntireFlash);
        if (row.way == Way::Esc) QTest::keyClick(dialog.get(), Qt::Key_Escape);
        if (row.way == Way::CloseBox) dialog->close();
        if (row.way == Way::OkButton) Click(ids::kOk);
        if (row.way == Way::EnterInField) {
            Control(ids::kRegAddr)->setFocus();
            QTest::keyClick(Control(ids::kRegAddr), Qt::Key_Return);
        }
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(dialog->result(), row.result);
        const QVariant saved = Profile().value(key);
        EXPECT_EQ(saved.isValid() ? std::optional(saved.toInt()) : std::nullopt, row.after);
    }
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(Profile().fileName().startsWith(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"))));
    EXPECT_FALSE(dialog->windowIcon().isNull()) << "the icon resource did not load";
}

// A right click on the background offers the About item, which opens the box (the
// command's rule is the dialog logic's).
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

    QStringList shown;
    QTimer::singleShot(0, [&shown] {
        auto* box = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        shown << box->windowTitle();
        QTest::mouseClick(box->findChild<QAbstractButton*>(QStringLiteral("1")), Qt::LeftButton);
    });
    dialog->AboutAction()->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(shown, QStringList{"About Sorvik HID Tool"});
}

// The GPIO lists are sorted and editable: a typed text that matches no entry selects
// nothing, and typing never adds an entry.
TEST_F(MainWindow, SortedListsAndTypedText) {
    Open();
    uiqt::QtWindowServices& services = dialog->Services();
    for (const char* item : {"OUTPUT", "INPUT"}) services.AddListItem(ids::kGpioDirection, item);
    auto* combo = ControlAs<QComboBox>(ids::kGpioDirection);
    EXPECT_EQ(combo->itemText(0), "INPUT");
    EXPECT_EQ(services.GetListSelection(ids::kGpioDirection), -1);
    services.SelectListItem(ids::kGpioDirection, 1);
    EXPECT_EQ(services.GetListSelection(ids::kGpioDirection), 1);
    for (auto [typed, selection] : {std::pair{"SIDEWAYS", -1}, std::pair{"INPUT", 0}}) {
        combo->lineEdit()->selectAll();
        QTest::keyClicks(combo->lineEdit(), typed);
        EXPECT_EQ(services.GetListSelection(ids::kGpioDirection), selection) << typed;
    }
    EXPECT_EQ(combo->count(), 2);
}

}  // namespace
