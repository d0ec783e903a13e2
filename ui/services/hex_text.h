// Numbers as the dialog's fields hold them: typed hexadecimal in, fixed-width text out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ui {

// Reads a field's text as the C library's unsigned-long conversion in base 16 does on a
// 32-bit unsigned long: leading blanks skipped, an optional sign and "0x"/"0X" accepted,
// stops at the first character that is not a hex digit, nothing parsed gives 0; a value
// beyond 32 bits gives 0xFFFFFFFF; a leading minus negates modulo 2^32.
std::uint32_t ParseHexField(std::string_view text);

// The text a hex entry field shows for a value: "%u" when hex is 0; otherwise upper-case
// hex without prefix, at least 2 digits (width code 0), 4 (code 1) or 8 (any other code).
std::string FormatFieldValue(std::uint32_t value, std::uint8_t hex, std::uint8_t widthCode);

}  // namespace ui
