// The dialog templates and the window built from them: ids, captions, names, places,
// Tab order and the window's frame.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <set>

#include "tests/qt/dialog_fixture.h"
#include "ui/dialog_template.h"
#include "ui/qt/about_dialog.h"
#include "ui/qt/dialog_builder.h"

namespace {

using ui::ControlKind;

TEST(DialogTemplate, IdsAreUniqueAndLabelsNameExistingControls) {
    for (const ui::DialogTemplate* dialog : {&ui::MainDialogTemplate(), &ui::AboutBoxTemplate()}) {
        std::set<int> ids;
        for (const ui::DialogControl& row : dialog->controls) {
            if (row.id != ui::kStaticId) { EXPECT_TRUE(ids.insert(row.id).second) << "duplicate id " << row.id; }
            EXPECT_GT(row.at.width, 0) << row.text;
            EXPECT_LE(row.at.x + row.at.width, dialog->width + 4) << row.id << " " << row.text;
            EXPECT_LE(row.at.y + row.at.height, dialog->height) << row.id << " " << row.text;
            if (row.kind == ControlKind::Label && row.labelFor != 0) {
                EXPECT_NE(ui::FindControl(*dialog, row.labelFor), nullptr) << row.text;
            }
            bool clickable = row.kind == ControlKind::PushButton;
            if (clickable && dialog == &ui::MainDialogTemplate()) { EXPECT_NE(row.handler, nullptr) << row.id; }
        }
    }
    // Every control id of the dialog's id list has its row; the main template holds the
    // 51 controls with an id.
    int withId = static_cast<int>(std::ranges::count_if(ui::MainDialogTemplate().controls,
                                                        [](const ui::DialogControl& c) { return c.id != ui::kStaticId; }));
    EXPECT_EQ(withId, 51);
}

TEST(DialogTemplate, AccessibleNamesComeFromCaptionsAndLabels) {
    struct Row {
        int id;
        const char* name;
    };
    const Row rows[] = {{1025, "Device VID"}, {1026, "PID"},        {1001, "HID Device Info"}, {1023, "Ret cocde"},
                        {1007, "Burn File"},  {1040, ".hex"},       {1041, "Firmware"},        {1048, "Number"},
                        {1050, "Value"},      {1027, "Open Device"}, {1044, "Register"},       {1036, "Customized Data"},
                        {1009, ""}};
    for (const Row& row : rows) {
        const ui::DialogControl* control = ui::FindControl(ui::MainDialogTemplate(), row.id);
        ASSERT_NE(control, nullptr) << row.id;
        EXPECT_EQ(ui::AccessibleNameFor(ui::MainDialogTemplate(), *control), row.name) << row.id;
    }
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

class BuiltDialog : public qttest::DialogFixture {};

TEST_F(BuiltDialog, EveryControlIsPresentNamedAndPlaced) {
    Open();
    const ui::DialogTemplate& dialogTemplate = ui::MainDialogTemplate();
    ui::DialogBaseUnits base = uiqt::BaseUnitsOf(dialog->font());
    for (const ui::DialogControl& row : dialogTemplate.controls) {
        if (row.id == ui::kStaticId) continue;
        QWidget* widget = dialog->findChild<QWidget*>(QString::number(row.id));
        ASSERT_NE(widget, nullptr) << row.id;
        EXPECT_EQ(widget->accessibleDescription(), QString::number(row.id));
        ui::DialogRect px = ui::DialogUnitsToPixels(row.at, base);
        EXPECT_EQ(widget->pos(), QPoint(px.x, px.y)) << row.id;
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            EXPECT_EQ(button->text().toStdString(), row.text) << row.id;
            EXPECT_EQ(button->accessibleName().toStdString(), row.text) << row.id;
        }
        if (row.kind == ControlKind::HexEdit) { EXPECT_NE(qobject_cast<QLineEdit*>(widget), nullptr) << row.id; }
    }
    ui::DialogRect client = ui::DialogUnitsToPixels({0, 0, dialogTemplate.width, dialogTemplate.height}, base);
    EXPECT_EQ(dialog->size(), QSize(client.width, client.height));

    std::set<std::string> groups, labels;
    for (auto* box : dialog->findChildren<QGroupBox*>()) groups.insert(box->title().toStdString());
    for (auto* label : dialog->findChildren<QLabel*>()) labels.insert(label->text().toStdString());
    for (const ui::DialogControl& row : dialogTemplate.controls) {
        if (row.kind == ControlKind::GroupBox) { EXPECT_TRUE(groups.contains(row.text)) << row.text; }
        if (row.kind == ControlKind::Label) { EXPECT_TRUE(labels.contains(ui::DisplayText(row.text))) << row.text; }
    }
}

TEST_F(BuiltDialog, FrameCaptionDefaultButtonAndHiddenTest) {
    Open();
    EXPECT_EQ(dialog->windowTitle(), "Tovrin HID tool");
    Qt::WindowFlags flags = dialog->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(dialog->windowIcon().isNull());
    EXPECT_TRUE(ControlAs<QPushButton>(1)->isDefault());
    EXPECT_TRUE(Control(1053)->isHidden());
    // Resizing moves nothing.
    QPoint before = Control(1043)->pos();
    dialog->resize(dialog->width() + 80, dialog->height() + 40);
    EXPECT_EQ(Control(1043)->pos(), before);
}

// Tab visits the template's tab stops in creation order, starting at OK; radio buttons,
// static texts and the progress bar are skipped.
TEST_F(BuiltDialog, TabOrderIsTheCreationOrder) {
    Open();
    std::vector<int> expected;
    for (const ui::DialogControl& row : ui::MainDialogTemplate().controls)
        if (row.id != ui::kStaticId && ui::HasTabStop(row.kind)) expected.push_back(row.id);

    std::vector<int> visited;
    QWidget* start = Control(1);
    QWidget* widget = start;
    do {
        bool ok = false;
        int id = widget->objectName().toInt(&ok);
        if (ok && (widget->focusPolicy() & Qt::TabFocus) != 0) visited.push_back(id);
        widget = widget->nextInFocusChain();
    } while (widget != start && visited.size() < 200);
    EXPECT_EQ(visited, expected);
    EXPECT_EQ(dialog->focusWidget(), Control(1));  // the first tab stop has the focus
}

TEST_F(BuiltDialog, RadioGroupsAndCheckBoxes) {
    qttest::SaveIsAccessAll(0);
    Open();
    Click(1044);
    Click(1056);
    Click(1045);  // the panel's group moves on, the others keep their choice
    EXPECT_FALSE(Checked(1044));
    EXPECT_TRUE(Checked(1045));
    EXPECT_TRUE(Checked(1056));
    EXPECT_TRUE(Checked(1033));
    Click(1055);
    EXPECT_FALSE(Checked(1056));
    Click(1032);
    EXPECT_FALSE(Checked(1033));
    Click(1033);
    Click(1035);
    Click(1035);
    Click(1036);
    EXPECT_FALSE(Checked(1035));
    EXPECT_TRUE(Checked(1036));

    // The services uncheck the checked radio button of a group, as the design's check
    // message does.
    dialog->Services().SetCheck(1033, 0);
    EXPECT_FALSE(Checked(1033));
    EXPECT_FALSE(Checked(1032));
}

TEST(AboutBox, TemplateCaptionTextAndOk) {
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), "About Sorvik HID Tool");
    std::set<std::string> texts;
    for (auto* label : about.findChildren<QLabel*>()) texts.insert(label->text().toStdString());
    EXPECT_TRUE(texts.contains("Tovrin HID Tool, Version 1.0.7.3"));
    auto* ok = about.findChild<QPushButton*>(QStringLiteral("1"));
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->isDefault());
    about.show();
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_EQ(about.result(), QDialog::Accepted);
    EXPECT_FALSE(about.isVisible());
}

}  // namespace
