#include "ui/qt/dialog_builder.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include <utility>
#include <vector>

#include "ui/qt/app_icon.h"
#include "ui/qt/hex_edit.h"

namespace uiqt {
namespace {

using ui::ControlKind;
using ui::DialogControl;

// A drop-down combo box's height in the template includes its open list; closed, it is
// as high as one entry field.
constexpr int kClosedComboHeight = 14;
constexpr int kIconPixels = 32;

QString Text(const char* text) { return QString::fromUtf8(text); }

Qt::Alignment HorizontalAlignment(std::uint16_t style) {
    if ((style & ui::kCentred) != 0) return Qt::AlignHCenter;
    if ((style & ui::kRightAligned) != 0) return Qt::AlignRight;
    return Qt::AlignLeft;
}

QWidget* CreateLabel(const DialogControl& row, QWidget& parent) {
    auto* label = new QLabel(Text(ui::DisplayText(row.text).c_str()), &parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(HorizontalAlignment(row.style) | Qt::AlignTop);
    label->setWordWrap(row.at.height > 12);  // the two-line status text
    return label;
}

QWidget* CreateEdit(const DialogControl& row, QWidget& parent) {
    QLineEdit* edit = row.kind == ControlKind::HexEdit ? new CHexEdit(&parent) : new QLineEdit(&parent);
    edit->setAlignment(HorizontalAlignment(row.style) | Qt::AlignVCenter);
    edit->setReadOnly((row.style & ui::kReadOnly) != 0);
    return edit;
}

QWidget* CreateButton(const DialogControl& row, QWidget& parent) {
    auto* button = new QPushButton(Text(row.text), &parent);
    button->setDefault((row.style & ui::kDefaultButton) != 0);
    return button;
}

QWidget* CreateCombo(QWidget& parent) {
    auto* combo = new QComboBox(&parent);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);  // typed text never becomes an entry
    return combo;
}

// The caption sits on the frame's top line, as the template's coordinates assume; by
// default Qt would set it above the frame, into the controls over it.
QWidget* CreateGroupBox(const DialogControl& row, QWidget& parent) {
    auto* box = new QGroupBox(Text(row.text), &parent);
    box->setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 0.5em; }"
        "QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0 2px; }"));
    return box;
}

QWidget* CreateIcon(QWidget& parent) {
    auto* icon = new QLabel(&parent);
    icon->setPixmap(MainIcon().pixmap(kIconPixels, kIconPixels));
    return icon;
}

// A radio button as the design's dialogs have it: the arrow keys move the check within
// its group (Up and Left to the previous button, Down and Right to the next, in template
// order, round the end, past disabled and hidden ones), and the move is a click on the
// newly checked button. Its group is a QButtonGroup, which keeps it exclusive;
// autoExclusive stays on, so assistive technology is told it is a radio button.
class GroupRadioButton final : public QRadioButton {
public:
    using QRadioButton::QRadioButton;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        int step = Step(event->key());
        if (step == 0 || group() == nullptr) {
            QRadioButton::keyPressEvent(event);
            return;
        }
        QAbstractButton* next = Neighbour(step);
        if (next == nullptr) {
            event->ignore();
            return;
        }
        next->setFocus(step < 0 ? Qt::BacktabFocusReason : Qt::TabFocusReason);
        next->click();
    }

private:
    static int Step(int key) {
        if (key == Qt::Key_Up || key == Qt::Key_Left) return -1;
        if (key == Qt::Key_Down || key == Qt::Key_Right) return 1;
        return 0;
    }

    QAbstractButton* Neighbour(int step) {
        const QList<QAbstractButton*> buttons = group()->buttons();
        auto count = buttons.size();
        auto at = buttons.indexOf(this);
        for (qsizetype i = 1; i < count; ++i) {
            QAbstractButton* candidate = buttons[((at + step * i) % count + count) % count];
            if (candidate->isEnabled() && !candidate->isHidden()) return candidate;
        }
        return nullptr;
    }
};

QWidget* CreateWidget(const DialogControl& row, QWidget& parent) {
    switch (row.kind) {
    case ControlKind::GroupBox:
        return CreateGroupBox(row, parent);
    case ControlKind::Label:
    case ControlKind::StaticText:
        return CreateLabel(row, parent);
    case ControlKind::Edit:
    case ControlKind::HexEdit:
        return CreateEdit(row, parent);
    case ControlKind::PushButton:
        return CreateButton(row, parent);
    case ControlKind::RadioButton:
        return new GroupRadioButton(Text(row.text), &parent);
    case ControlKind::CheckBox:
        return new QCheckBox(Text(row.text), &parent);
    case ControlKind::ComboBox:
        return CreateCombo(parent);
    case ControlKind::ProgressBar: {
        auto* bar = new QProgressBar(&parent);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        return bar;
    }
    case ControlKind::Icon:
        return CreateIcon(parent);
    }
    return new QWidget(&parent);
}

QRect Place(const DialogControl& row, ui::DialogBaseUnits base) {
    ui::DialogRect at = row.at;
    if (row.kind == ControlKind::ComboBox) at.height = kClosedComboHeight;
    ui::DialogRect px = ui::DialogUnitsToPixels(at, base);
    if (row.kind == ControlKind::Icon) return {px.x, px.y, kIconPixels, kIconPixels};
    return {px.x, px.y, px.width, px.height};
}

// Names for UI automation and screen readers: the design id as object name and as
// accessible description, and a spoken name from the caption or the label.
void Name(const ui::DialogTemplate& dialog, const DialogControl& row, QWidget& widget) {
    if (row.id == ui::kStaticId) return;
    QString id = QString::number(row.id);
    widget.setObjectName(id);
    widget.setAccessibleDescription(id);
    std::string name = row.kind == ControlKind::StaticText ? ui::DisplayText(row.text)
                                                           : ui::AccessibleNameFor(dialog, row);
    if (!name.empty()) widget.setAccessibleName(Text(name.c_str()));
}

void SetFocusPolicy(const DialogControl& row, QWidget& widget) {
    if (row.kind == ControlKind::RadioButton) widget.setFocusPolicy(Qt::ClickFocus);
    else if (!ui::HasTabStop(row.kind)) widget.setFocusPolicy(Qt::NoFocus);
}

}  // namespace

QFont DialogFont(int pointSize) {
    QFont font(QStringLiteral("Sans Serif"), pointSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

ui::DialogBaseUnits BaseUnitsOf(const QFont& font) {
    QFontMetrics metrics(font);
    int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return ui::BaseUnitsFromFont(letters, metrics.height());
}

BuiltDialog BuildDialog(const ui::DialogTemplate& dialog, QWidget& window) {
    BuiltDialog built;
    QFont font = DialogFont(dialog.pointSize);
    window.setFont(font);
    built.base = BaseUnitsOf(font);
    window.setWindowTitle(Text(dialog.caption));
    ui::DialogRect client = ui::DialogUnitsToPixels({0, 0, dialog.width, dialog.height}, built.base);
    window.resize(client.width, client.height);

    QButtonGroup* radioGroup = nullptr;
    std::vector<std::pair<QLabel*, int>> labels;
    for (const DialogControl& row : dialog.controls) {
        QWidget* widget = CreateWidget(row, window);
        if (row.kind == ControlKind::Label && row.labelFor != 0) labels.emplace_back(static_cast<QLabel*>(widget), row.labelFor);
        widget->setGeometry(Place(row, built.base));
        Name(dialog, row, *widget);
        SetFocusPolicy(row, *widget);
        if ((row.style & ui::kHidden) != 0) widget->setHidden(true);
        if (row.kind == ControlKind::GroupBox) widget->lower();
        if (row.kind == ControlKind::RadioButton) {
            if (radioGroup == nullptr || (row.style & ui::kGroupStart) != 0) radioGroup = new QButtonGroup(&window);
            radioGroup->addButton(static_cast<QRadioButton*>(widget));
        }
        if (row.id != ui::kStaticId) built.byId[row.id] = {&row, widget};
    }
    for (auto [label, id] : labels)  // each label names its control for assistive technology
        if (auto named = built.byId.find(id); named != built.byId.end()) label->setBuddy(named->second.widget);
    return built;
}

}  // namespace uiqt
