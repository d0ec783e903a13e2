#include "ui/services/stderr_trace.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace ui {

void WriteTraceLine(std::string_view line) {
    static std::mutex lock;
    // Lines of the design end in "\n"; write exactly one line whatever the text holds.
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    std::lock_guard guard(lock);
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

}  // namespace ui
