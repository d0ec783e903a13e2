#include "tools/hid_caps_input.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

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

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::string OsError(const std::string& what, const std::string& path, int err) {
    return what + " " + path + ": " + std::strerror(err);
}

// Opens without waiting: a FIFO without a writer, or a terminal, would hold open() up.
bool OpenForReading(const std::string& path, int& fd, std::string& error) {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) return true;
    error = OsError("cannot open", path, errno);
    return false;
}

// Whether character devices of `major` are hidraw nodes, by /proc/devices. Opening any
// other device could do what opening it does (a watchdog starts counting), so only hidraw
// majors are opened.
bool IsHidrawMajor(unsigned major) {
    std::ifstream devices("/proc/devices");
    std::string line;
    bool characterDevices = false;
    while (std::getline(devices, line)) {
        if (line == "Character devices:") characterDevices = true;
        if (line == "Block devices:") characterDevices = false;
        std::istringstream fields(line);
        unsigned number = 0;
        std::string name;
        if (characterDevices && fields >> number >> name && number == major && name == "hidraw") return true;
    }
    return false;
}

bool LoadHidraw(const std::string& path, const struct stat& info, std::vector<std::uint8_t>& bytes,
                std::string& error) {
    if (!IsHidrawMajor(major(info.st_rdev))) {
        error = path + " is a device but not a hidraw node";
        return false;
    }
    int raw = -1;
    if (!OpenForReading(path, raw, error)) return false;
    const Fd fd(raw);
    return ReadHidraw(fd.get(), bytes, error);
}

// Reads the whole of `fd` (a file or a pipe), at most kMaxInputFileBytes, waiting at most
// `timeoutMs` for each piece of a pipe.
bool ReadAll(int fd, const std::string& path, int timeoutMs, std::vector<std::uint8_t>& content, std::string& error) {
    content.clear();
    std::uint8_t chunk[4096];
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        const int ready = poll(&entry, 1, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            error = OsError("cannot read", path, errno);
            return false;
        }
        if (ready == 0) {
            error = "cannot read " + path + ": nothing arrived within " + std::to_string(timeoutMs) + " ms";
            return false;
        }
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got < 0) {
            error = OsError("cannot read", path, errno);
            return false;
        }
        if (got == 0) return true;
        if (content.size() + static_cast<std::size_t>(got) > kMaxInputFileBytes) {
            error = path + " is too large to be a report descriptor";
            return false;
        }
        content.insert(content.end(), chunk, chunk + got);
    }
}

bool LoadFile(const std::string& path, int timeoutMs, std::vector<std::uint8_t>& bytes, std::string& error) {
    int raw = -1;
    if (!OpenForReading(path, raw, error)) return false;
    const Fd fd(raw);
    struct stat info{};
    if (fstat(fd.get(), &info) != 0) {
        error = OsError("cannot read", path, errno);
        return false;
    }
    if (S_ISREG(info.st_mode) && static_cast<std::uintmax_t>(info.st_size) > kMaxInputFileBytes) {
        error = path + " is too large to be a report descriptor";
        return false;
    }
    std::vector<std::uint8_t> content;
    if (!ReadAll(fd.get(), path, timeoutMs, content, error)) return false;
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

bool LoadDescriptor(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error, int timeoutMs) {
    struct stat info{};
    if (stat(path.c_str(), &info) != 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        error = OsError("cannot read", path, EISDIR);
        return false;
    }
    if (S_ISCHR(info.st_mode)) return LoadHidraw(path, info, bytes, error);
    if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode)) {
        error = path + " is neither a file, a pipe nor a hidraw node";
        return false;
    }
    return LoadFile(path, timeoutMs, bytes, error);
}

}  // namespace hidcaps
