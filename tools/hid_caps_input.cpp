#include "tools/hid_caps_input.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace hidcaps {
namespace {

// Larger than any hex text of the largest descriptor the parser accepts.
constexpr std::uintmax_t kMaxInputFileBytes = 1u << 20;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ','; }

bool DecodeToken(std::string_view token, std::vector<std::uint8_t>& bytes, std::string& error) {
    if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) token.remove_prefix(2);
    for (char c : token) {
        if (HexDigit(c) < 0) {
            error = "not a hex byte: '" + std::string(token) + "'";
            return false;
        }
    }
    if (token.size() > 2 && token.size() % 2 != 0) {
        error = "odd number of hex digits: '" + std::string(token) + "'";
        return false;
    }
    if (token.size() == 1) {
        bytes.push_back(static_cast<std::uint8_t>(HexDigit(token[0])));
        return true;
    }
    for (std::size_t i = 0; i < token.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(HexDigit(token[i]) * 16 + HexDigit(token[i + 1])));
    return true;
}

bool ReadHidraw(int fd, std::vector<std::uint8_t>& bytes, std::string& error) {
    int size = 0;
    if (ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0) {
        error = std::string("HIDIOCGRDESCSIZE failed: ") + std::strerror(errno);
        return false;
    }
    // The ioctl copies at most HID_MAX_DESCRIPTOR_SIZE - 1 bytes.
    if (size < 0 || size >= HID_MAX_DESCRIPTOR_SIZE) {
        error = "descriptor of " + std::to_string(size) +
                " bytes is too long for HIDIOCGRDESC; read the node's sysfs report_descriptor file instead";
        return false;
    }
    hidraw_report_descriptor descriptor{};
    descriptor.size = static_cast<__u32>(size);
    if (ioctl(fd, HIDIOCGRDESC, &descriptor) < 0) {
        error = std::string("HIDIOCGRDESC failed: ") + std::strerror(errno);
        return false;
    }
    bytes.assign(descriptor.value, descriptor.value + descriptor.size);
    return true;
}

bool LoadHidraw(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool ok = ReadHidraw(fd, bytes, error);
    close(fd);
    return ok;
}

bool LoadFile(const std::string& path, std::uintmax_t size, std::vector<std::uint8_t>& bytes, std::string& error) {
    if (size > kMaxInputFileBytes) {
        error = path + " is too large to be a report descriptor";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    std::vector<std::uint8_t> content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!LooksLikeHexText(content)) {
        bytes = std::move(content);
        return true;
    }
    const std::string text(content.begin(), content.end());
    return DecodeHexText(text, bytes, error);
}

}  // namespace

bool LooksLikeHexText(const std::vector<std::uint8_t>& content) {
    if (content.empty()) return false;
    for (std::uint8_t b : content) {
        const bool printable = b >= 0x20 && b < 0x7F;
        if (!printable && b != '\n' && b != '\r' && b != '\t') return false;
    }
    return true;
}

bool DecodeHexText(std::string_view text, std::vector<std::uint8_t>& bytes, std::string& error) {
    bytes.clear();
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '#') {
            while (i < text.size() && text[i] != '\n') ++i;
        } else if (IsSeparator(text[i])) {
            ++i;
        } else {
            std::size_t end = i;
            while (end < text.size() && !IsSeparator(text[end]) && text[end] != '#') ++end;
            if (!DecodeToken(text.substr(i, end - i), bytes, error)) return false;
            i = end;
        }
    }
    return true;
}

bool LoadDescriptor(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
    struct stat info{};
    if (stat(path.c_str(), &info) != 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    if (S_ISCHR(info.st_mode)) return LoadHidraw(path, bytes, error);
    return LoadFile(path, static_cast<std::uintmax_t>(info.st_size), bytes, error);
}

}  // namespace hidcaps
