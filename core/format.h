// printf-style formatting for trace lines and texts ("%d", "%x", "%02x", "%04X", "%08x", "%s").
#pragma once

#include <string>

namespace core {
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
}
