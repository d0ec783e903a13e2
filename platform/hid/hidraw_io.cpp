#include "platform/hid/hidraw_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hidraw {

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
}

int ReadSmallFile(const std::string& path, std::size_t limit, std::string& out) {
    out.clear();
    UniqueFd fd(RetryOnEintr([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }));
    if (fd.get() < 0) return errno;
    char chunk[4096];
    for (;;) {
        ssize_t got = RetryOnEintr([&] { return ::read(fd.get(), chunk, sizeof chunk); });
        if (got < 0) return errno;
        if (got == 0) return 0;
        auto count = static_cast<std::size_t>(got);
        if (out.size() + count > limit) return EFBIG;
        out.append(chunk, count);
    }
}

std::optional<std::string> ReadAttribute(const std::string& path) {
    std::string text;
    if (ReadSmallFile(path, kAttributeLimit, text) != 0) return std::nullopt;
    return text;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string_view TrimLineEnd(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

std::optional<std::uint32_t> ParseHex32(std::string_view text) {
    if (text.empty() || text.size() > 8) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        std::uint32_t digit = 0;
        if (c >= '0' && c <= '9') digit = static_cast<std::uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f') digit = static_cast<std::uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digit = static_cast<std::uint32_t>(c - 'A' + 10);
        else return std::nullopt;
        value = value << 4 | digit;
    }
    return value;
}

std::optional<std::uint32_t> ParseDecimal32(std::string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value;
}

}  // namespace hidraw
