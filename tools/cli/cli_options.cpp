#include "tools/cli/cli_options.h"

#include <algorithm>
#include <sstream>

#include "platform/hid/hid_transport.h"

#ifndef UVC_TOOL_VERSION
#define UVC_TOOL_VERSION "0.0.0"
#endif

namespace cli {

namespace {

// What a command takes after its words.
enum class Arg { Hex32, Hex8, Pin, Level, Direction, Path };

struct CommandForm {
    Command command;
    const char* word;
    const char* verb;  // second word, or null
    std::vector<Arg> args;
    bool takesAreas;
};

const std::vector<CommandForm>& CommandForms() {
    static const std::vector<CommandForm> forms = {
        {Command::List, "list", nullptr, {}, false},
        {Command::Id, "id", nullptr, {}, false},
        {Command::FwVersion, "fw-version", nullptr, {}, false},
        {Command::HdmiInfo, "hdmi-info", nullptr, {}, false},
        {Command::RegRead, "reg", "read", {Arg::Hex32}, false},
        {Command::RegWrite, "reg", "write", {Arg::Hex32, Arg::Hex32}, false},
        {Command::IicRead, "iic", "read", {Arg::Hex8, Arg::Hex8}, false},
        {Command::IicWrite, "iic", "write", {Arg::Hex8, Arg::Hex8, Arg::Hex8}, false},
        {Command::GpioDir, "gpio", "dir", {Arg::Pin, Arg::Direction}, false},
        {Command::GpioWrite, "gpio", "write", {Arg::Pin, Arg::Level}, false},
        {Command::GpioRead, "gpio", "read", {Arg::Pin}, false},
        {Command::HdcpOn, "hdcp", "on", {}, false},
        {Command::HdcpOff, "hdcp", "off", {}, false},
        {Command::Burn, "burn", nullptr, {Arg::Path}, true},
        {Command::Dump, "dump", nullptr, {Arg::Path}, false},
        {Command::Verify, "verify", nullptr, {Arg::Path}, true},
        {Command::Station, "station", nullptr, {Arg::Path}, true},
    };
    return forms;
}

constexpr const char* kAreaNames[kFlashAreaCount] = {"firmware", "private", "customized"};
constexpr std::uint32_t kGpioPins = 4;  // the dialog's GPIO list offers GPIO_0..GPIO_3

std::string ParseAreas(const std::string& text, AreaChoice& choice) {
    choice = {};
    choice.entire = false;
    std::stringstream list(text);
    std::string name;
    bool any = false;
    while (std::getline(list, name, ',')) {
        int row = 0;
        while (row < kFlashAreaCount && name != kAreaNames[row]) ++row;
        if (row == kFlashAreaCount) return "unknown area '" + name + "' (firmware, private, customized)";
        choice.boxes[static_cast<std::size_t>(row)] = true;
        any = true;
    }
    if (!any || text.ends_with(",")) return "--area needs a list of areas: firmware,private,customized";
    return {};
}

std::string ParseArg(Arg kind, const std::string& text, Options& o, std::size_t& valueIndex) {
    std::uint32_t value = 0;
    std::string error;
    switch (kind) {
        case Arg::Path:
            if (text.empty()) return "an empty file name";
            o.file = text;
            return {};
        case Arg::Direction:
            if (text == "in" || text == "0") value = 0;
            else if (text == "out" || text == "1") value = 1;
            else return "direction '" + text + "' is neither in nor out";
            break;
        case Arg::Hex32: error = ParseHex(text, 32, value); break;
        case Arg::Hex8: error = ParseHex(text, 8, value); break;
        case Arg::Level:
            error = ParseHex(text, 8, value);
            if (error.empty() && value > 1) error = "GPIO level " + text + " is neither 0 nor 1";
            break;
        case Arg::Pin:
            error = ParseHex(text, 8, value);
            if (error.empty() && value >= kGpioPins) error = "GPIO pin " + text + " does not exist (0 to 3)";
            break;
    }
    if (!error.empty()) return error;
    o.values[valueIndex++] = value;
    return {};
}

// Splits "--name=value"; answers whether the option takes a value.
bool TakesValue(std::string_view name) {
    for (std::string_view option :
         {"--vid", "--pid", "--device", "--log", "--backup", "--area", "--count", "--jobs", "--ports"})
        if (name == option) return true;
    return false;
}

struct Seen {
    bool area = false, entire = false, backup = false, force = false, station = false, quiet = false, verbose = false;
};

// A decimal count from 1 to `most`.
std::string ParseCount(const std::string& name, const std::string& text, std::uint32_t most, std::uint32_t& value) {
    std::uint64_t number = 0;
    bool digits = !text.empty() && text.size() <= 10;
    for (char c : text) {
        digits = digits && c >= '0' && c <= '9';
        if (digits) number = number * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (!digits || number == 0 || number > most)
        return name + " needs a decimal number from 1 to " + std::to_string(most) + ", not '" + text + "'";
    value = static_cast<std::uint32_t>(number);
    return {};
}

std::string ParsePorts(const std::string& text, std::vector<std::string>& ports) {
    ports.clear();
    std::stringstream list(text);
    for (std::string port; std::getline(list, port, ',');) {
        if (!IsUsbPortPath(port)) return "--ports: '" + port + "' is not a USB port path such as 1-2.3";
        ports.push_back(port);
    }
    if (ports.empty() || text.ends_with(",")) return "--ports needs a list of USB port paths: 1-2,1-3.1";
    return {};
}

std::string ApplyOption(const std::string& name, const std::string& value, Options& o, Seen& seen) {
    std::uint32_t number = 0;
    if (name == "--vid" || name == "--pid") {
        if (std::string e = ParseHex(value, 16, number); !e.empty()) return name + ": " + e;
        (name == "--vid" ? o.vid : o.pid) = static_cast<std::uint16_t>(number);
    } else if (name == "--device") {
        if (value.empty()) return "--device needs a path";
        o.device = value;
    } else if (name == "--log") {
        if (value.empty()) return "--log needs a file name";
        o.log = value;
    } else if (name == "--log-json") {
        o.logJson = true;
    } else if (name == "--count" || name == "--jobs") {
        if (std::string e = ParseCount(name, value, name == "--count" ? 1000000 : 256, name == "--count" ? o.count : o.jobs);
            !e.empty())
            return e;
        seen.station = true;
    } else if (name == "--ports") {
        if (std::string e = ParsePorts(value, o.ports); !e.empty()) return e;
        seen.station = true;
    } else if (name == "-q" || name == "--quiet") {
        o.verbosity = Verbosity::Quiet;
        seen.quiet = true;
    } else if (name == "-v" || name == "--verbose") {
        o.verbosity = Verbosity::Verbose;
        seen.verbose = true;
    } else if (name == "--backup") {
        if (value.empty()) return "--backup needs a file name";
        o.backup = value;
        seen.backup = true;
    } else if (name == "--area") {
        if (std::string e = ParseAreas(value, o.areas); !e.empty()) return e;
        seen.area = true;
    } else if (name == "--entire") {
        seen.entire = true;
    } else if (name == "--force") {
        o.force = seen.force = true;
    } else if (name == "--json") {
        o.json = true;
    } else if (name == "--help" || name == "-h") {
        o.help = true;
    } else if (name == "--version" || name == "-V") {
        o.version = true;
    } else {
        return "unknown option " + name;
    }
    return {};
}

std::string MatchCommand(const std::vector<std::string>& words, Options& o) {
    if (words.empty()) return "no command given";
    const CommandForm* form = nullptr;
    bool wordKnown = false;
    for (const CommandForm& s : CommandForms()) {
        if (words[0] != s.word) continue;
        wordKnown = true;
        if (s.verb == nullptr || (words.size() > 1 && words[1] == s.verb)) {
            form = &s;
            break;
        }
    }
    if (!wordKnown) return "unknown command '" + words[0] + "'";
    if (form == nullptr) return "'" + words[0] + "' needs one of its verbs (see --help)";
    std::size_t first = form->verb ? 2 : 1;
    o.command = form->command;
    o.name = form->verb ? std::string(form->word) + " " + form->verb : form->word;
    if (words.size() - first != form->args.size())
        return o.name + " takes " + std::to_string(form->args.size()) + " argument(s), " +
               std::to_string(words.size() - first) + " given";
    std::size_t valueIndex = 0;
    for (std::size_t i = 0; i < form->args.size(); ++i)
        if (std::string e = ParseArg(form->args[i], words[first + i], o, valueIndex); !e.empty()) return e;
    return {};
}

bool TakesAreas(Command command) {
    return command == Command::Burn || command == Command::Verify || command == Command::Station;
}

// "-" stands for standard input as an image and for standard output as a dump file.
std::string CheckStandardStreams(const Options& o) {
    if (o.log == kStandardStream) return "--log needs a file, not standard output";
    if (o.backup == kStandardStream) return "--backup needs a file, not standard output";
    return {};
}

}  // namespace

bool IsUsbPortPath(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c > 0 && c < 0x7F; }) &&
           hidtransport::IsUsbPortPath(std::u16string(text.begin(), text.end()));
}

std::string ParseHex(std::string_view text, int bits, std::uint32_t& value) {
    std::string_view digits = text;
    if (digits.starts_with("0x") || digits.starts_with("0X")) digits.remove_prefix(2);
    if (digits.empty()) return "'" + std::string(text) + "' is not a hexadecimal number";
    std::uint64_t result = 0;
    for (char c : digits) {
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0) return "'" + std::string(text) + "' is not a hexadecimal number";
        result = result * 16 + static_cast<std::uint64_t>(digit);
        if (result >> bits) return "'" + std::string(text) + "' does not fit in " + std::to_string(bits) + " bits";
    }
    value = static_cast<std::uint32_t>(result);
    return {};
}

std::string ParseCommandLine(const std::vector<std::string>& args, Options& o) {
    o = {};
    Seen seen;
    std::vector<std::string> words;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            words.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg, value;
        if (auto eq = arg.find('='); eq != std::string::npos && arg.starts_with("--")) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            if (!TakesValue(name)) return "option " + name + " takes no value";
        } else if (TakesValue(name)) {
            if (i + 1 >= args.size()) return "option " + name + " needs a value";
            value = args[++i];
        }
        if (std::string e = ApplyOption(name, value, o, seen); !e.empty()) return e;
    }
    if (o.help || o.version) return {};
    if (std::string e = MatchCommand(words, o); !e.empty()) return e;
    if (seen.quiet && seen.verbose) return "-q and -v exclude each other";
    if (o.logJson && o.log.empty()) return "--log-json needs --log FILE";
    if ((seen.area || seen.entire) && !TakesAreas(o.command))
        return "--area and --entire belong to burn, verify and station";
    if (seen.area && seen.entire) return "--entire and --area exclude each other";
    if (!seen.area) o.areas = AreaChoice{};
    if (seen.backup && o.command != Command::Burn) return "--backup belongs to burn";
    if (seen.force && o.command != Command::Burn) return "--force belongs to burn";
    if (o.command == Command::List && !o.device.empty()) return "list takes no --device";
    if (seen.station && o.command != Command::Station) return "--count, --jobs and --ports belong to station";
    if (o.command == Command::Station && !o.device.empty()) return "station takes no --device (--ports chooses the ports)";
    if (std::string e = CheckStandardStreams(o); !e.empty()) return e;
    if (!o.device.empty() && (o.device.starts_with("usb:") && !IsUsbPortPath(o.device.substr(4))))
        return "--device " + o.device + ": not a USB port path such as usb:1-2.3";
    if (o.device == "serial:") return "--device serial: needs the serial number after it";
    return {};
}

const char* VersionText() { return "uvc-hid " UVC_TOOL_VERSION; }

const char* UsageText() {
    return R"(Usage: uvc-hid [OPTIONS] COMMAND [ARGUMENTS]
Commands the USB video-capture device through its vendor HID interface: the same
handlers as the dialog, one command per run.

Commands:
  list                       every present HID interface: path, VID:PID, usage page,
                             usage, product string
  id                         identify the serial flash (Get ID)
  fw-version                 the device's firmware version
  hdmi-info                  the 24 bytes of HDMI input information
  reg read ADDR              read a 32-bit chip register
  reg write ADDR VALUE       write a 32-bit chip register
  iic read DEV OFFSET        read one byte of an IIC device
  iic write DEV OFFSET VALUE write one byte of an IIC device
  gpio dir PIN in|out        set a GPIO pin's direction (PIN 0 to 3)
  gpio write PIN LEVEL       set a GPIO output level (0 or 1)
  gpio read PIN              read a GPIO level
  hdcp on|off                switch the use of the HDCP key
  burn IMAGE                 burn a flash image, read it back and compare
  dump FILE                  read the whole flash into FILE
  verify IMAGE               compare the flash with IMAGE without writing; reports the
                             first differing address, the expected and found bytes and
                             how many bytes differ
  station IMAGE              wait for boards and burn each as it is plugged in, several
                             at once; one line per board and a running tally
Numbers are hexadecimal ("1f" or "0x1F") and must fit their field.

Options:
  --vid HEX, --pid HEX       the device's USB ids (default 1209:0001)
  --device PATH              this interface only: a /dev/hidraw node, a simulator's
                             socket or a path that "list" shows; without --vid/--pid
                             the interface is used whatever its ids
  --device usb:PORT          the board on this USB port path (as list shows it, 1-2.3)
  --device serial:TEXT       the board with this USB serial number
  --entire                   burn/verify: the whole image from address 0 (default)
  --area LIST                burn/verify: comma-separated areas among firmware,
                             private, customized
  --backup FILE              burn: dump the whole flash to FILE first; no burn when
                             that dump failed
  --force                    burn: burn an Entire Flash image shorter than one sector
                             of the flash (refused otherwise)
  --log FILE                 append trace lines and the summary, time-stamped
  --log-json                 the log as JSON lines
  --count N                  station: stop after N boards (decimal)
  --jobs N                   station: burn at most N boards at once (default: all)
  --ports LIST               station: serve only these USB ports (1-2,1-3.1)
  -q, --quiet                results only: no progress, no message boxes
  -v, --verbose              the trace lines on standard error too
  --json                     one JSON document per result on standard output; trace
                             and progress as JSON lines on standard error
  -h, --help                 this text
  --version                  the version
  -V                         the version
  IMAGE or FILE "-"          standard input for an image, standard output for a dump

Every burn ends with a summary: the SHA-256 of the bytes written and the verification
result. On a terminal, burn, dump and verify show a progress bar on standard error.

Exit status:
  0  success
  1  the device failed a command or stopped answering
  2  usage error
  3  no device found (or --device names none, or this user may not open it)
  4  compare difference (the flash differs from the image)
  5  file error (image, dump, backup or log file)
  6  pre-flight refusal: the image cannot serve the chosen areas; nothing written
  7  device busy: another process holds the device (the message names it)
  8  output error: standard output or standard error could not be written
  9  several boards match and no --device chose one (the message lists them)
  129, 130, 143  interrupted by SIGHUP, SIGINT or SIGTERM (128 + the signal)

JSON (--json): every result is one object with
  "command" (string), "ok" (boolean), "exit_code" (number), "error" (string, only
  when not ok), "messages" (array of {"caption","text"}: the dialog's message boxes),
  "device" (object {"path","vid","pid"}, when a device was opened), "warnings" (array
  of strings, when there were any), and per command:
  list: "interfaces" [{"path","vid","pid","usage_page","usage","product","accessible",
    "problem" (when it cannot be used),"busy_pid" (when another process holds it)}]
    "serial" (the USB serial number),"port" (the USB port path), when known
  id: "flash" {"device_id","name","page_size","sector_size","pages_per_sector",
      "sectors_per_block","total_blocks","total_size"}   (numbers)
  fw-version: "firmware_version"; hdmi-info: "hdmi_info"
  reg: "address","value"; iic: "iic_device","offset","value","return_code";
  gpio: "pin" and "direction" | "level"; hdcp: "hdcp"   (hex strings, as the dialog)
  burn: "image","areas","bytes","sha256","backup","verification","result"
  dump: "file","bytes","sha256"
  verify: "image","areas","bytes","differences","first_difference"
          ({"address","expected","found"} or null)
  several boards match (status 9): "candidates" [{"path","device","port","serial"}]
Standard error lines: {"trace": TEXT}, {"warning": TEXT} and
{"progress": {"status","done","total"}}.
station: one line per board {"board": {"port","serial","path","result","exit_code",
  "error","seconds","bytes","sha256","verification"}, "passed","failed"}, then
  {"station": {"boards","passed","failed","exit_code"}}
See docs/cli.md for the full schema and production-line examples.
)";
}

}  // namespace cli
