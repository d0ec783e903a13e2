#include "ui/hex_edit_rules.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "ui/services/hex_text.h"

namespace ui {

namespace {

bool IsPrefixLetter(char16_t c) { return c == u'x' || c == u'X'; }

bool IsHexDigit(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

// c1 is a prefix letter: the text starts with a "0x"-style prefix that the keys protect.
bool HasPrefix(std::u16string_view text) { return text.size() >= 2 && IsPrefixLetter(text[1]); }

bool StartsWithZero(std::u16string_view text) { return !text.empty() && text[0] == u'0'; }

// Exactly the prefix's leading 0 is selected.
bool OnlyPrefixZeroSelected(const HexEditState& s) { return HasPrefix(s.text) && s.start == 0 && s.end == 1; }

std::u16string Widen(const std::string& text) { return {text.begin(), text.end()}; }

// The text as plain ASCII for the number parsers; anything wider stops a parse anyway.
std::string Narrow(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// A signed decimal number as the "%d" conversion reads it; out-of-range values saturate
// instead of being undefined.
std::int32_t ParseDecimal(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t value = 0;
    constexpr std::int64_t kLimit = std::int64_t{INT32_MAX} + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kLimit) value = kLimit;
    }
    if (negative) return static_cast<std::int32_t>(-value);
    return static_cast<std::int32_t>(value > INT32_MAX ? INT32_MAX : value);
}

}  // namespace

KeyVerdict FilterKeyPress(const HexEditState& state, HexEditKey key, bool ctrl) {
    switch (key) {
    case HexEditKey::X:
        return ctrl && OnlyPrefixZeroSelected(state) ? KeyVerdict::Consume : KeyVerdict::Proceed;
    case HexEditKey::V:
        return ctrl ? KeyVerdict::CheckPaste : KeyVerdict::Proceed;
    case HexEditKey::Delete:
        return HasPrefix(state.text) && state.start == 0 && state.end <= 1 ? KeyVerdict::Consume
                                                                          : KeyVerdict::Proceed;
    case HexEditKey::Other:
        break;
    }
    return KeyVerdict::Proceed;
}

std::optional<char16_t> FilterCharacter(const HexEditState& state, char16_t ch) {
    const std::u16string_view text = state.text;
    if (ch < 0x20) {
        const bool backspaceIntoPrefix = ch == 0x08 && HasPrefix(text) && text[0] == u'0' && state.end == 1;
        if (backspaceIntoPrefix) return std::nullopt;
        return ch;  // Tab, Enter, Esc and Ctrl-letter codes go on as usual
    }
    if (HasPrefix(text) && state.start <= 1 && state.end <= 1) return std::nullopt;
    if (state.start == 1 && IsPrefixLetter(ch) && StartsWithZero(text)) return u'x';
    if ((ch >= u'0' && ch <= u'9') || (ch >= u'A' && ch <= u'F')) return ch;
    if (ch >= u'a' && ch <= u'f') return static_cast<char16_t>(ch - 0x20);
    return std::nullopt;
}

bool IsPasteAcceptable(const HexEditState& state, std::u16string_view paste) {
    const std::u16string_view text = state.text;
    const std::size_t s = state.start;
    const std::size_t e = state.end;
    if (HasPrefix(text) && e <= 1) return false;
    std::size_t i = 0;
    if (paste.size() >= 2 && paste[0] == u'0' && IsPrefixLetter(paste[1])) {
        // The field's own prefix must lie wholly inside the replaced selection, and a
        // pasted prefix belongs at the start.
        if (HasPrefix(text) && !(s == 0 && e >= 2)) return false;
        if (s > 0) return false;
        i = 2;
    }
    if (!paste.empty()) {
        if (StartsWithZero(text) && IsPrefixLetter(paste[0])) ++i;
        // A pasted x only completes a prefix after the field's leading 0.
        if (IsPrefixLetter(paste[0]) && !(s == 1 && e >= 1 && StartsWithZero(text))) return false;
    }
    for (; i < paste.size(); ++i)
        if (!IsHexDigit(paste[i])) return false;
    return true;
}

bool PasteAllowed(const HexEditState& state, bool clipboardOffersText, const std::u16string* text) {
    if (!clipboardOffersText) return false;
    return text == nullptr || IsPasteAcceptable(state, *text);
}

std::u16string NormalizeClipboardText(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out) {
        if (c == u'X')
            c = u'x';
        else if (c >= u'a' && c <= u'z' && c != u'x')
            c = static_cast<char16_t>(c - 0x20);
    }
    return out;
}

std::u16string ConvertText(std::u16string_view text, bool edited) {
    if (edited) {
        const std::u16string_view digits = text.starts_with(u"0x") ? text.substr(2) : text;
        return Widen(FormatFieldValue(ParseHexField(Narrow(digits)), 0, 0));
    }
    // A negative number shows as its 32-bit two's complement: -1 gives 0xFFFFFFFF.
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%X", static_cast<std::uint32_t>(ParseDecimal(Narrow(text))));
    return Widen(hex);
}

bool IsMenuCommandEnabled(const HexEditState& state, const HexEditMenuContext& context, std::uint16_t command) {
    const bool selection = state.start != state.end;
    const bool cutAllowed = selection && !context.readOnly && !OnlyPrefixZeroSelected(state);
    switch (command) {
    case kCmdUndo:
        return context.canUndo && !context.readOnly;
    case kCmdCut:
    case kCmdDelete:
        return cutAllowed;
    case kCmdCopy:
        return selection;
    case kCmdPaste:
        return context.pasteAllowed && !context.readOnly;
    case kCmdSelectAll:
        return !state.text.empty() && !(state.start == 0 && state.end == state.text.size());
    case kCmdConvert:
        return !state.text.empty() && state.text != u"0x";
    default:
        return false;
    }
}

}  // namespace ui
