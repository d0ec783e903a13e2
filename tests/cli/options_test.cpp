// The command line's parsing: what each accepted line means, and every refusal with its reason.
#include "tests/cli/cli_fixture.h"

namespace cli {
namespace {

using clitest::Words;

// What a parsed line means besides its command: its numbers, and whatever else was set.
std::string Meaning(const Options& o) {
    std::ostringstream out;
    out << std::hex << o.values[0] << " " << o.values[1] << " " << o.values[2];
    if (o.vid) out << " vid " << *o.vid;
    if (o.pid) out << " pid " << *o.pid;
    for (const auto& [name, text] : {std::pair{"file", o.file}, {"device", o.device}, {"backup", o.backup}, {"log", o.log}})
        if (!text.empty()) out << " " << name << " " << text;
    if (!o.areas.entire) out << " areas " << o.areas.boxes[0] << o.areas.boxes[1] << o.areas.boxes[2];
    if (o.count || o.jobs) out << std::dec << " count " << o.count << " jobs " << o.jobs;
    for (const std::string& port : o.ports) out << " port " << port;
    const char* verbosity[] = {" quiet", "", " verbose"};
    return out.str() + (o.json ? " json" : "") + (o.help ? " help" : "") + (o.force ? " force" : "") +
           (o.version ? " version" : "") + (o.logJson ? " log-json" : "") + verbosity[static_cast<int>(o.verbosity)];
}

TEST(CommandLine, AcceptedLinesWhereverTheOptionsStand) {
    using enum Command;
    const struct {
        const char* line;
        Command command;
        const char* meaning;
    } rows[] = {
        {"reg read d8000004", RegRead, "d8000004 0 0"},
        {"reg write 0x54 FFFFFFFF", RegWrite, "54 ffffffff 0"},
        {"iic write 90 10 5A", IicWrite, "90 10 5a"},
        {"gpio dir 3 out", GpioDir, "3 1 0"},
        {"gpio dir 1 0", GpioDir, "1 0 0"},
        {"burn --vid=1209 img.bin --area private,customized --pid 0x1 --backup b.bin --device /dev/hidraw3 --log l.txt",
         Burn, "0 0 0 vid 1209 pid 1 file img.bin device /dev/hidraw3 backup b.bin log l.txt areas 011"},
        {"burn --force img.bin", Burn, "0 0 0 file img.bin force"},
        {"dump -- -dash.bin", Dump, "0 0 0 file -dash.bin"},
        {"--help whatever", List, "0 0 0 help"},
        {"-V", List, "0 0 0 version"},
        {"dump - -q", Dump, "0 0 0 file - quiet"},
        {"burn - --device usb:1-2.3 -v", Burn, "0 0 0 file - device usb:1-2.3 verbose"},
        {"station img.bin --count 12 --jobs 4 --ports 1-2,3-1.4 --area firmware --log l --log-json", Station,
         "0 0 0 file img.bin log l areas 100 count 12 jobs 4 port 1-2 port 3-1.4 log-json"},
    };
    for (const auto& row : rows) {
        Options o;
        EXPECT_EQ(ParseCommandLine(Words(row.line), o), "") << row.line;
        EXPECT_EQ(o.command, row.command) << row.line;
        EXPECT_EQ(Meaning(o), row.meaning) << row.line;
    }
}

TEST(CommandLine, RefusedLinesSayWhy) {
    const std::pair<const char*, const char*> rows[] = {
        {"", "no command given"},
        {"frobnicate", "unknown command 'frobnicate'"},
        {"reg", "'reg' needs one of its verbs (see --help)"},
        {"reg read", "reg read takes 1 argument(s), 0 given"},
        {"reg read 0x", "'0x' is not a hexadecimal number"},
        {"reg read -5", "unknown option -5"},
        {"reg write 54 100000000", "'100000000' does not fit in 32 bits"},
        {"iic read 90 100", "'100' does not fit in 8 bits"},
        {"gpio read 4", "GPIO pin 4 does not exist (0 to 3)"},
        {"gpio dir 1 sideways", "direction 'sideways' is neither in nor out"},
        {"id --vid 12345", "--vid: '12345' does not fit in 16 bits"},
        {"id --vid", "option --vid needs a value"},
        {"id --json=yes", "option --json takes no value"},
        {"id --force", "--force belongs to burn"},
        {"gpio write 0 2", "GPIO level 2 is neither 0 nor 1"},
        {"burn", "burn takes 1 argument(s), 0 given"},
        {"burn a.bin --area firmware --entire", "--entire and --area exclude each other"},
        {"burn a.bin --area boot", "unknown area 'boot' (firmware, private, customized)"},
        {"burn a.bin --area firmware,", "--area needs a list of areas: firmware,private,customized"},
        {"dump d.bin --area private", "--area and --entire belong to burn, verify and station"},
        {"verify a.bin --backup b.bin", "--backup belongs to burn"},
        {"list --device /dev/hidraw0", "list takes no --device"},
        {"id -q -v", "-q and -v exclude each other"},
        {"id --log-json", "--log-json needs --log FILE"},
        {"id --device usb:1-02", "--device usb:1-02: not a USB port path such as usb:1-2.3"},
        {"id --device serial:", "--device serial: needs the serial number after it"},
        {"burn a.bin --backup -", "--backup needs a file, not standard output"},
        {"id --jobs 2", "--count, --jobs and --ports belong to station"},
        {"station a.bin --count 0", "--count needs a decimal number from 1 to 1000000, not '0'"},
        {"station a.bin --jobs 0x2", "--jobs needs a decimal number from 1 to 256, not '0x2'"},
        {"station a.bin --ports 1-2,", "--ports needs a list of USB port paths: 1-2,1-3.1"},
        {"station a.bin --ports 1.2", "--ports: '1.2' is not a USB port path such as 1-2.3"},
        {"station a.bin --device /dev/hidraw0", "station takes no --device (--ports chooses the ports)"},
    };
    for (const auto& [line, reason] : rows) {
        Options o;
        EXPECT_EQ(ParseCommandLine(Words(line), o), reason) << line;
    }
}

}  // namespace
}  // namespace cli
