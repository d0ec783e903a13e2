// The rules of the hexadecimal entry field, as plain functions of its text, its selection
// and the key or character at hand, so that they can be checked without a window.
//
// The field takes hex digits (a to f typed become A to F) and an optional "0x" prefix,
// which may only be made by typing x after a leading 0 and which the keys then protect:
// nothing is typed before or inside it, and Backspace, Delete and Ctrl+X cannot take its
// 0 away alone. Text is UTF-16, as the toolkit and the clipboard hold it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ui {

// The field as a rule sees it: its text and the selection [start, end) (start == end for
// a caret).
struct HexEditState {
    std::u16string_view text;
    std::size_t start = 0;
    std::size_t end = 0;
};

// The keys with a rule of their own; every other key press proceeds.
enum class HexEditKey { Other, X, V, Delete };

enum class KeyVerdict {
    Proceed,
    Consume,
    CheckPaste,  // Ctrl+V: proceeds only if PasteAllowed says so
};

// Key presses, before the edit control acts on them.
KeyVerdict FilterKeyPress(const HexEditState& state, HexEditKey key, bool ctrl);

// Characters: the character to hand on (possibly replaced: a-f upper-cased, an x after the
// leading 0 made lower case), or nothing when the character is consumed.
std::optional<char16_t> FilterCharacter(const HexEditState& state, char16_t ch);

// Whether `paste` may replace the current selection.
bool IsPasteAcceptable(const HexEditState& state, std::u16string_view paste);

// The paste decision of Ctrl+V and of the menu's Paste: the clipboard must offer text, and
// text obtained from it must pass IsPasteAcceptable. `text` is null when none was obtained.
bool PasteAllowed(const HexEditState& state, bool clipboardOffersText, const std::u16string* text);

// The clipboard text as the menu's commands leave it: everything upper case except the
// prefix letter, which becomes a lower-case x ("0Xab" -> "0xAB", "fix" -> "FIx").
std::u16string NormalizeClipboardText(std::u16string_view text);

// Convert's new text: an edited field's text is read as hex (after a leading "0x") and
// shown in decimal; a fresh field's text is read as signed decimal and shown as "0x%X".
std::u16string ConvertText(std::u16string_view text, bool edited);

// The context menu, in display order. A command of 0 is a separator.
enum : std::uint16_t {
    kCmdUndo = 0x00C7,
    kCmdCut = 0x0300,
    kCmdCopy = 0x0301,
    kCmdPaste = 0x0302,
    kCmdDelete = 0x0303,
    kCmdSelectAll = 0x0B00,
    kCmdConvert = 0x0B01,
};

struct HexEditMenuEntry {
    std::uint16_t command;
    const char* text;
};

inline constexpr std::array<HexEditMenuEntry, 10> kHexEditMenu{{
    {kCmdUndo, "&Undo"},
    {0, nullptr},
    {kCmdCut, "Cu&t"},
    {kCmdCopy, "&Copy"},
    {kCmdPaste, "&Paste"},
    {kCmdDelete, "&Delete"},
    {0, nullptr},
    {kCmdSelectAll, "Select &All"},
    {0, nullptr},
    {kCmdConvert, "Con&vert"},
}};

// What besides the text and selection decides the menu's enabled states.
struct HexEditMenuContext {
    bool canUndo = false;
    bool readOnly = false;
    bool pasteAllowed = false;  // PasteAllowed over the clipboard's current text
};

bool IsMenuCommandEnabled(const HexEditState& state, const HexEditMenuContext& context, std::uint16_t command);

}  // namespace ui
