// Conversions between the UTF-16 text of the Windows-shaped interfaces and UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "platform/win/win_types.h"

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Length of a NUL-terminated UTF-16 text (null gives 0).
std::size_t WideLength(const WCHAR* text);

// Case-insensitive comparison of ASCII letters, as module and path names are compared.
bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b);
