#include "ui/qt/hex_edit.h"

#include <QClipboard>
#include <QColor>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPalette>

#include <algorithm>
#include <string>

#include "ui/services/hex_text.h"

namespace {

const QColor kEditedText(74, 115, 132);
const QColor kEditedBackground(219, 247, 220);
const QColor kFreshText(192, 97, 10);
const QColor kFreshBackground(251, 244, 170);

constexpr int kNoLimit = 32767;  // QLineEdit's own default limit

ui::HexEditKey KeyOf(const QKeyEvent& event) {
    switch (event.key()) {
    case Qt::Key_X:
        return ui::HexEditKey::X;
    case Qt::Key_V:
        return ui::HexEditKey::V;
    case Qt::Key_Delete:
        return ui::HexEditKey::Delete;
    default:
        return ui::HexEditKey::Other;
    }
}

bool CtrlHeld(const QKeyEvent& event) { return (event.modifiers() & Qt::ControlModifier) != 0; }

// The text the key press would type, as the characters the filter judges. Backspace is
// the control character 0x08 (with Ctrl, 0x7F, which the filter refuses, so a word delete
// cannot take the prefix); Delete types nothing; Ctrl-letter combinations are control
// codes, which always proceed, so they are left out here.
QString CharactersOf(const QKeyEvent& event) {
    if (event.key() == Qt::Key_Backspace) return QString(QChar(CtrlHeld(event) ? 0x7F : 0x08));
    if (event.key() == Qt::Key_Delete) return {};
    const bool ctrlCombination = CtrlHeld(event) && (event.modifiers() & Qt::AltModifier) == 0;
    return ctrlCombination ? QString() : event.text();
}

std::u16string ToU16(const QString& text) {
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}

QString FromU16(const std::u16string& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CHexEdit::CHexEdit(QWidget* parent) : QLineEdit(parent) {
    ApplyColours();
    connect(this, &QLineEdit::textChanged, this, &CHexEdit::OnTextChanged);
}

void CHexEdit::SetValue(std::uint32_t value, std::uint8_t hex, std::uint8_t widthCode) {
    SetTextUnfiltered(QString::fromStdString(ui::FormatFieldValue(value, hex, widthCode)));
}

bool CHexEdit::IsEdited() const { return edited_; }

ui::HexEditState CHexEdit::State(std::u16string& storage) const {
    storage = ToU16(text());
    const int caret = cursorPosition();
    const int start = hasSelectedText() ? selectionStart() : caret;
    const int end = hasSelectedText() ? selectionEnd() : caret;
    return {storage, static_cast<std::size_t>(start), static_cast<std::size_t>(end)};
}

void CHexEdit::keyPressEvent(QKeyEvent* event) {
    RestoreHeldLimit();
    std::u16string current;
    const ui::HexEditState state = State(current);
    switch (ui::FilterKeyPress(state, KeyOf(*event), CtrlHeld(*event))) {
    case ui::KeyVerdict::Consume:
        event->accept();
        return;
    case ui::KeyVerdict::CheckPaste:
        if (!PasteAllowed()) {
            event->accept();
            return;
        }
        break;
    case ui::KeyVerdict::Proceed:
        break;
    }
    const QString typed = CharactersOf(*event);
    if (typed.isEmpty()) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    QString filtered;
    for (QChar ch : typed) {
        const std::optional<char16_t> out = ui::FilterCharacter(state, ch.unicode());
        if (!out) {
            event->accept();
            return;
        }
        filtered.append(QChar(*out));
    }
    if (filtered == event->text()) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    QKeyEvent replaced(event->type(), event->key(), event->modifiers(), filtered, event->isAutoRepeat(),
                       static_cast<quint16>(event->count()));
    QLineEdit::keyPressEvent(&replaced);
    event->setAccepted(replaced.isAccepted());
}

// Input methods commit text without a key press: the character rules apply to it alike,
// and a commit with a refused character is dropped whole (its pre-edit text stays).
void CHexEdit::inputMethodEvent(QInputMethodEvent* event) {
    if (event->commitString().isEmpty()) {
        QLineEdit::inputMethodEvent(event);
        return;
    }
    std::u16string current;
    const ui::HexEditState state = State(current);
    QString filtered;
    for (QChar ch : event->commitString()) {
        const std::optional<char16_t> out = ui::FilterCharacter(state, ch.unicode());
        if (!out) {
            filtered.clear();
            break;
        }
        filtered.append(QChar(*out));
    }
    QInputMethodEvent replaced(event->preeditString(), event->attributes());
    if (!filtered.isEmpty()) replaced.setCommitString(filtered, event->replacementStart(), event->replacementLength());
    QLineEdit::inputMethodEvent(&replaced);
    event->setAccepted(replaced.isAccepted());
}

// The clipboard check of Ctrl+V and of the menu's Paste. A missing clipboard is reported
// and then counts as one that offers no text.
bool CHexEdit::PasteAllowed() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr) {
        ShowClipboardError();
        return false;
    }
    const QMimeData* offer = clipboard->mimeData();
    const bool offersText = offer != nullptr && offer->hasText();
    const std::u16string offered = ToU16(clipboard->text());
    std::u16string current;
    return ui::PasteAllowed(State(current), offersText, offersText ? &offered : nullptr);
}

void CHexEdit::ShowClipboardError() {
    QMessageBox box(QMessageBox::NoIcon, QString(), QStringLiteral("Cannot open clipboard!"), QMessageBox::Ok,
                    this);
    box.exec();
}

void CHexEdit::contextMenuEvent(QContextMenuEvent* event) {
    // A request from the keyboard carries no mouse position: the menu opens at the caret.
    const QPoint at = event->reason() == QContextMenuEvent::Keyboard ? mapToGlobal(cursorRect().bottomLeft())
                                                                      : event->globalPos();
    QMenu* menu = CreateContextMenu();
    menu->popup(at);
    event->accept();
}

QMenu* CHexEdit::CreateContextMenu() {
    setFocus(Qt::PopupFocusReason);
    std::u16string current;
    const ui::HexEditState state = State(current);
    ui::HexEditMenuContext context;
    context.canUndo = isUndoAvailable();
    context.readOnly = isReadOnly();
    context.pasteAllowed = PasteAllowed();

    auto* menu = new QMenu(this);
    // Deleted once the chosen command has run (deleteLater waits for the event loop).
    connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
    for (const ui::HexEditMenuEntry& entry : ui::kHexEditMenu) {
        if (entry.command == 0) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(QString::fromLatin1(entry.text));
        action->setEnabled(ui::IsMenuCommandEnabled(state, context, entry.command));
        const std::uint16_t command = entry.command;
        connect(action, &QAction::triggered, this, [this, command] { OnCommand(command); });
    }
    return menu;
}

void CHexEdit::OnCommand(std::uint16_t command) {
    switch (command) {
    case ui::kCmdUndo:
        NormalizeClipboardText();
        undo();
        break;
    case ui::kCmdCut:
        NormalizeClipboardText();
        cut();
        break;
    case ui::kCmdCopy:
        NormalizeClipboardText();
        copy();
        break;
    case ui::kCmdPaste:
        NormalizeClipboardText();
        RestoreHeldLimit();
        paste();
        break;
    case ui::kCmdDelete:
        NormalizeClipboardText();
        del();
        break;
    case ui::kCmdSelectAll:
        selectAll();
        break;
    case ui::kCmdConvert:
        OnConvert();
        break;
    default:
        break;
    }
}

void CHexEdit::NormalizeClipboardText() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr) return;
    const QMimeData* offer = clipboard->mimeData();
    if (offer == nullptr || !offer->hasText()) return;
    const QString offered = clipboard->text();
    const QString normalized = FromU16(ui::NormalizeClipboardText(ToU16(offered)));
    // Left alone when already normal, so the clipboard's other formats survive.
    if (normalized != offered) clipboard->setText(normalized);
}

void CHexEdit::OnConvert() { SetTextUnfiltered(FromU16(ui::ConvertText(ToU16(text()), edited_))); }

// Text from SetValue and Convert is not filtered and may be longer than the caller's
// limit, which QLineEdit would cut. The limit is then lifted to the text's length and held
// until typing or pasting finds a text that fits it again (see RestoreHeldLimit).
void CHexEdit::SetTextUnfiltered(const QString& newText) {
    const int limit = heldLimit_.value_or(maxLength());
    if (newText.size() > limit) {
        heldLimit_ = limit;
        liftedLimit_ = static_cast<int>(std::min<qsizetype>(newText.size(), kNoLimit));
        setMaxLength(liftedLimit_);
    }
    setText(newText);
}

// Setting the limit makes QLineEdit set its text anew, which moves the caret to the end and
// clears the undo history; the caret and selection are put back, the history is lost.
void CHexEdit::RestoreHeldLimit() {
    if (!heldLimit_) return;
    if (maxLength() != liftedLimit_) {
        heldLimit_.reset();  // the caller has set a limit of its own meanwhile
        return;
    }
    if (text().size() > *heldLimit_) return;
    const int caret = cursorPosition();
    const int start = hasSelectedText() ? selectionStart() : -1;
    const int length = hasSelectedText() ? selectionLength() : 0;
    const int limit = *heldLimit_;
    heldLimit_.reset();
    setMaxLength(limit);
    if (start < 0) {
        setCursorPosition(caret);
    } else if (caret == start) {
        setSelection(start + length, -length);  // keeps the caret at the selection's start
    } else {
        setSelection(start, length);
    }
}

void CHexEdit::OnTextChanged() {
    if (edited_) return;
    edited_ = true;
    ApplyColours();
}

void CHexEdit::ApplyColours() {
    QPalette colours = palette();
    colours.setColor(QPalette::Text, edited_ ? kEditedText : kFreshText);
    colours.setColor(QPalette::Base, edited_ ? kEditedBackground : kFreshBackground);
    setPalette(colours);
    update();
}
