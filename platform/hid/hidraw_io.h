// Small POSIX helpers the hidraw transport's parts share: EINTR retries, an owned fd,
// whole reads of sysfs attributes, and the strict number parsers sysfs texts need.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hidraw {

template <class F>
auto RetryOnEintr(F&& call) {
    for (;;) {
        auto result = call();
        if (result >= 0 || errno != EINTR) return result;
    }
}

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd();
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// Reads a whole small file (sysfs attributes). Answers 0 or an errno value; EFBIG when the
// file holds more than `limit` bytes.
int ReadSmallFile(const std::string& path, std::size_t limit, std::string& out);

inline constexpr std::size_t kAttributeLimit = 4096;  // a sysfs text attribute is one page at most
std::optional<std::string> ReadAttribute(const std::string& path);

bool Exists(const std::string& path);
std::string_view TrimLineEnd(std::string_view text);
// Up to 8 hex digits, nothing else.
std::optional<std::uint32_t> ParseHex32(std::string_view text);
// Up to 9 decimal digits, nothing else.
std::optional<std::uint32_t> ParseDecimal32(std::string_view text);

}  // namespace hidraw
