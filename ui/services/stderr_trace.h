// The program's trace: one line each on standard error.
#pragma once

#include <string_view>

namespace ui {
void WriteTraceLine(std::string_view line);
}
