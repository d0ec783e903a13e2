// The command line of uvc-hid: one subcommand per run, options anywhere. Parsing is pure
// (no I/O), so every refusal is decided before a device or file is touched.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "flash/flash_layout.h"

namespace cli {

enum class Command {
    List, Id, FwVersion, HdmiInfo,
    RegRead, RegWrite, IicRead, IicWrite,
    GpioDir, GpioWrite, GpioRead, HdcpOn, HdcpOff,
    Burn, Dump, Verify,
};

// The Burn Area choice: Entire Flash, or the Other Area boxes by area row.
struct AreaChoice {
    bool entire = true;
    std::array<bool, kFlashAreaCount> boxes{};
};

struct Options {
    bool help = false;
    bool version = false;
    bool json = false;
    std::optional<std::uint16_t> vid, pid;
    std::string device;  // --device: one interface, a hidraw node or a simulator socket
    std::string log;     // --log: appended trace lines and summary
    std::string backup;  // burn --backup: the whole flash is dumped here first
    bool force = false;  // burn --force: an Entire Flash image shorter than one sector is burned
    Command command = Command::List;
    std::string name;                   // "reg read", as typed, for messages and JSON
    std::array<std::uint32_t, 3> values{};  // the numbers of the command, in order
    std::string file;                   // IMAGE or FILE
    AreaChoice areas;
};

// Parses argv[1..]. Answers an empty text and fills `options`, or why the line is refused.
std::string ParseCommandLine(const std::vector<std::string>& args, Options& options);

// A hexadecimal number as the dialog's fields take it ("1F", "0x1f"), but strict: every
// character a hex digit and the value within `bits` bits. Empty on success, else why not.
std::string ParseHex(std::string_view text, int bits, std::uint32_t& value);

const char* UsageText();  // --help
const char* VersionText();  // --version: "uvc-hid <version>"

}  // namespace cli
