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
    Burn, Dump, Verify, Station,
};

// What reaches standard error: -q results only (the error, warnings); the default adds
// progress and the message boxes; -v adds the trace lines. The log gets all of them.
enum class Verbosity { Quiet, Normal, Verbose };

// "-" as a file: standard input for an image, standard output for a dump.
inline constexpr const char* kStandardStream = "-";

// The Burn Area choice: Entire Flash, or the Other Area boxes by area row.
struct AreaChoice {
    bool entire = true;
    std::array<bool, kFlashAreaCount> boxes{};
};

struct Options {
    bool help = false;
    bool version = false;
    bool json = false;
    Verbosity verbosity = Verbosity::Normal;
    std::optional<std::uint16_t> vid, pid;
    // --device: one interface: a hidraw node, a simulator socket, "usb:PORT" or "serial:TEXT"
    std::string device;
    std::string log;       // --log: appended trace lines and summary
    bool logJson = false;  // --log-json: the log as JSON lines
    std::string backup;  // burn --backup: the whole flash is dumped here first
    bool force = false;  // burn --force: an Entire Flash image shorter than one sector is burned
    Command command = Command::List;
    std::string name;                   // "reg read", as typed, for messages and JSON
    std::array<std::uint32_t, 3> values{};  // the numbers of the command, in order
    std::string file;                   // IMAGE or FILE
    AreaChoice areas;
    // station: stop after this many boards (0: until a signal), at most `jobs` burns at once
    // (0: every board plugged in), only boards on these USB ports (empty: every port).
    std::uint32_t count = 0;
    std::uint32_t jobs = 0;
    std::vector<std::string> ports;
};

// A USB port path as Linux names it: bus, dash, the port chain ("1-2.3").
bool IsUsbPortPath(std::string_view text);

// Parses argv[1..]. Answers an empty text and fills `options`, or why the line is refused.
std::string ParseCommandLine(const std::vector<std::string>& args, Options& options);

// A hexadecimal number as the dialog's fields take it ("1F", "0x1f"), but strict: every
// character a hex digit and the value within `bits` bits. Empty on success, else why not.
std::string ParseHex(std::string_view text, int bits, std::uint32_t& value);

const char* UsageText();  // --help
const char* VersionText();  // -V, --version: "uvc-hid <version>"

}  // namespace cli
