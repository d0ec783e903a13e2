// The dialog templates and the window built from them: ids, captions, names, places,
// Tab order and the window's frame.
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include <set>

#include "tests/qt/dialog_fixture.h"
#include "ui/dialog_template.h"
#include "ui/qt/dialog_builder.h"

namespace {

using ui::ControlKind;
const ui::DialogTemplate& kMain = ui::MainDialogTemplate();

TEST(DialogTemplate, RowsAreConsistent) {
    for (const ui::DialogTemplate* dialog : {&kMain, &ui::AboutBoxTemplate()}) {
        std::set<int> ids;
        for (const ui::DialogControl& row : dialog->controls) {
            SCOPED_TRACE(row.id);
            EXPECT_TRUE(row.id == ui::kStaticId || ids.insert(row.id).second);
            EXPECT_LE(row.at.y + row.at.height, dialog->height);
            EXPECT_TRUE(row.labelFor == 0 || ui::FindControl(*dialog, row.labelFor) != nullptr);
            EXPECT_TRUE(dialog != &kMain || row.kind != ControlKind::PushButton || row.handler != nullptr);
        }
    }

    struct Row {
        int id;
        const char* name;
    };
    for (Row row : {Row{1025, "Device VID"}, Row{1001, "HID Device Info"}, Row{1023, "Ret cocde"},
                    Row{1007, "Burn File"}, Row{1040, ".hex"}, Row{1048, "Number"}, Row{1036, "Customized Data"},
                    Row{1009, ""}})
        EXPECT_EQ(ui::AccessibleNameFor(kMain, *ui::FindControl(kMain, row.id)), row.name) << row.id;
    EXPECT_EQ(ui::DisplayText("Peripheral Read && Write"), "Peripheral Read & Write");
}

TEST(DialogUnits, ConvertWithTheFontsBaseUnits) {
    // The classic dialog font: 52 letters 305 pixels wide, 13 high -> base units 6 x 13.
    ui::DialogBaseUnits base = ui::BaseUnitsFromFont(305, 13);
    EXPECT_EQ(base.x, 6);
    EXPECT_EQ(base.y, 13);
    EXPECT_EQ(ui::DialogUnitsToPixels({62, 9, 29, 14}, base), (ui::DialogRect{93, 15, 44, 23}));
    EXPECT_EQ(ui::DialogUnitsToPixels({0, 0, 409, 358}, base), (ui::DialogRect{0, 0, 614, 582}));
    EXPECT_EQ(ui::BaseUnitsFromFont(338, 15).x, 7);  // 13 per pair of letters rounds up
}

using BuiltDialog = qttest::DialogFixture;

// Every control is there with its name, place and caption; Tab visits the tab stops in
// creation order, starting at OK (radio buttons, static texts and the progress bar are
// skipped).
TEST_F(BuiltDialog, EveryControlIsPresentNamedPlacedAndInTabOrder) {
    Open();
    EXPECT_EQ(dialog->focusWidget(), Control(1));
    ui::DialogBaseUnits base = uiqt::BaseUnitsOf(dialog->font());
    std::set<std::string> texts;
    std::vector<int> tabStops, visited;
    for (auto* box : dialog->findChildren<QGroupBox*>()) texts.insert(box->title().toStdString());
    for (auto* label : dialog->findChildren<QLabel*>()) texts.insert(label->text().toStdString());
    for (const ui::DialogControl& row : kMain.controls) {
        SCOPED_TRACE(row.text);
        if (row.id == ui::kStaticId) {
            EXPECT_TRUE(texts.contains(row.kind == ControlKind::GroupBox ? row.text : ui::DisplayText(row.text)));
            continue;
        }
        if (ui::HasTabStop(row.kind)) tabStops.push_back(row.id);
        QWidget* widget = dialog->findChild<QWidget*>(QString::number(row.id));
        ASSERT_NE(widget, nullptr) << row.id;
        EXPECT_EQ(widget->accessibleDescription(), QString::number(row.id));
        ui::DialogRect px = ui::DialogUnitsToPixels(row.at, base);
        EXPECT_EQ(widget->pos(), QPoint(px.x, px.y));
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            EXPECT_EQ(button->text().toStdString(), row.text);
            EXPECT_EQ(button->accessibleName().toStdString(), row.text);
        }
    }
    QWidget* widget = Control(1);
    do {
        bool ok = false;
        int id = widget->objectName().toInt(&ok);
        if (ok && (widget->focusPolicy() & Qt::TabFocus) != 0) visited.push_back(id);
        widget = widget->nextInFocusChain();
    } while (widget != Control(1) && visited.size() < 200);
    EXPECT_EQ(visited, tabStops);

    ui::DialogRect client = ui::DialogUnitsToPixels({0, 0, kMain.width, kMain.height}, base);
    EXPECT_EQ(dialog->size(), QSize(client.width, client.height));
    EXPECT_EQ(dialog->windowTitle(), "Tovrin HID tool");
    EXPECT_FALSE(dialog->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(ControlAs<QPushButton>(1)->isDefault());
    EXPECT_TRUE(Control(1053)->isHidden());

    QPoint before = Control(1043)->pos();  // resizing moves nothing
    dialog->resize(dialog->width() + 80, dialog->height() + 40);
    EXPECT_EQ(Control(1043)->pos(), before);
}

}  // namespace
