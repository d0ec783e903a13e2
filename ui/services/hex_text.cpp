#include "ui/services/hex_text.h"

#include <cstdio>

namespace ui {

namespace {
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
}  // namespace

std::uint32_t ParseHexField(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // "0x" counts as a prefix only when a hex digit follows; otherwise the 0 is the number.
    if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        HexDigit(text[i + 2]) >= 0)
        i += 2;
    std::uint64_t value = 0;
    bool overflow = false;
    for (; i < text.size(); ++i) {
        int digit = HexDigit(text[i]);
        if (digit < 0) break;
        value = value * 16 + static_cast<std::uint64_t>(digit);
        if (value > 0xFFFFFFFFu) {
            overflow = true;
            value = 0xFFFFFFFFu;  // keeps the accumulator bounded for long digit runs
        }
    }
    if (overflow) return 0xFFFFFFFFu;
    auto result = static_cast<std::uint32_t>(value);
    return negative ? static_cast<std::uint32_t>(0u - result) : result;
}

std::string FormatFieldValue(std::uint32_t value, std::uint8_t hex, std::uint8_t widthCode) {
    char text[16];
    if (hex == 0)
        std::snprintf(text, sizeof text, "%u", value);
    else if (widthCode == 0)
        std::snprintf(text, sizeof text, "%02X", value);
    else if (widthCode == 1)
        std::snprintf(text, sizeof text, "%04X", value);
    else
        std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

}  // namespace ui
