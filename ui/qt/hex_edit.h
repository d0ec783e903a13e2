// The hexadecimal entry field: a line edit that takes only hex digits with an optional,
// protected "0x" prefix, filters Ctrl+V pastes by the same rules, offers its own context
// menu with a Convert command, and colours itself by whether its text has ever changed.
// The rules themselves live in ui/hex_edit_rules.h; this class only applies them to Qt's
// events before QLineEdit acts on them.
#pragma once

#include <QLineEdit>

#include <cstdint>
#include <optional>
#include <string>

#include "ui/hex_edit_rules.h"

class QClipboard;
class QContextMenuEvent;
class QInputMethodEvent;
class QKeyEvent;
class QMenu;

class CHexEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit CHexEdit(QWidget* parent = nullptr);

    // Shows the value in the field's fixed-width form ("%u", or "%02X"/"%04X"/"%08X" by
    // width code). Not filtered, and never cut by the field's character limit.
    void SetValue(std::uint32_t value, std::uint8_t hex, std::uint8_t widthCode);

    // False until the text changes for the first time, true from then on.
    bool IsEdited() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    ui::HexEditState State(std::u16string& storage) const;
    bool PasteAllowed();
    void OnCommand(std::uint16_t command);
    void OnConvert();
    void NormalizeClipboardText();
    void ShowClipboardError();
    void SetTextUnfiltered(const QString& text);
    void RestoreHeldLimit();
    void OnTextChanged();
    void ApplyColours();
    QMenu* CreateContextMenu();

    bool edited_ = false;
    // The caller's limit, held while a longer text from SetValue or Convert has it lifted
    // to liftedLimit_.
    std::optional<int> heldLimit_;
    int liftedLimit_ = 0;
};
