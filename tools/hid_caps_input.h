// Where hid_caps gets a report descriptor from: a hidraw node (ioctls), a file of raw
// descriptor bytes, or a file of hex text ("05 01 09 02 a1 01 ...").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hidcaps {

// Text made only of printable ASCII and white space is hex text; anything else is raw
// bytes (a descriptor starts with a non-printable item prefix such as 0x05 or 0x06).
bool LooksLikeHexText(const std::vector<std::uint8_t>& content);

// Hex text: byte tokens of hex digits separated by white space or commas, each with an
// optional 0x prefix, one or two digits for one byte or an even run of digits for several
// (as `xxd -p` writes them); '#' starts a comment to the end of the line.
bool DecodeHexText(std::string_view text, std::vector<std::uint8_t>& bytes, std::string& error);

// Reads the descriptor of `path`: a hidraw node is asked through HIDIOCGRDESCSIZE and
// HIDIOCGRDESC, a regular file or a pipe is read whole (a pipe waiting at most `timeoutMs`
// for each piece) and decoded when it is hex text. Nothing else is opened (other devices,
// directories, sockets), and nothing waits without end: false with `error` naming the
// path and what the system answered.
inline constexpr int kPipeTimeoutMs = 5000;
bool LoadDescriptor(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error,
                    int timeoutMs = kPipeTimeoutMs);

}  // namespace hidcaps
