// The command line's parsing: what each accepted line means, and every refusal with its reason.
#include <gtest/gtest.h>

#include <sstream>

#include "tools/cli/cli_options.h"

namespace cli {
namespace {

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

struct Accepted {
    const char* line;
    Command command;
    std::array<std::uint32_t, 3> values;
};

TEST(CommandLine, AcceptedLinesCarryTheirCommandAndNumbers) {
    const Accepted rows[] = {
        {"reg read d8000004", Command::RegRead, {0xD8000004u, 0, 0}},
        {"reg write 0x54 FFFFFFFF", Command::RegWrite, {0x54, 0xFFFFFFFFu, 0}},
        {"iic write 90 10 5A", Command::IicWrite, {0x90, 0x10, 0x5A}},
        {"gpio dir 3 out", Command::GpioDir, {3, 1, 0}},
        {"gpio dir 1 0", Command::GpioDir, {1, 0, 0}},
        {"gpio write 2 1", Command::GpioWrite, {2, 1, 0}},
        {"hdcp off", Command::HdcpOff, {}},
        {"--json fw-version", Command::FwVersion, {}},
    };
    for (const Accepted& row : rows) {
        Options o;
        EXPECT_EQ(ParseCommandLine(Words(row.line), o), "") << row.line;
        EXPECT_EQ(o.command, row.command) << row.line;
        EXPECT_EQ(o.values, row.values) << row.line;
    }
}

TEST(CommandLine, DeviceChoiceAreasAndFilesWhereverTheOptionsStand) {
    Options o;
    ASSERT_EQ(ParseCommandLine(Words("burn --vid=1209 img.bin --area private,customized --pid 0x1 --backup b.bin "
                                     "--device /dev/hidraw3 --log l.txt"),
                                o),
              "");
    EXPECT_EQ(o.command, Command::Burn);
    EXPECT_EQ(o.file, "img.bin");
    EXPECT_EQ(*o.vid, 0x1209);
    EXPECT_EQ(*o.pid, 0x0001);
    EXPECT_EQ(o.device, "/dev/hidraw3");
    EXPECT_EQ(o.backup, "b.bin");
    EXPECT_EQ(o.log, "l.txt");
    EXPECT_FALSE(o.areas.entire);
    EXPECT_EQ(o.areas.boxes, (std::array<bool, 3>{false, true, true}));

    ASSERT_EQ(ParseCommandLine(Words("verify img.bin"), o), "");
    EXPECT_TRUE(o.areas.entire);  // the default choice
    ASSERT_EQ(ParseCommandLine(Words("dump -- -dash.bin"), o), "");
    EXPECT_EQ(o.file, "-dash.bin");
    ASSERT_EQ(ParseCommandLine(Words("--help whatever"), o), "");
    EXPECT_TRUE(o.help);
}

TEST(CommandLine, RefusedLinesSayWhy) {
    const std::pair<const char*, const char*> rows[] = {
        {"", "no command given"},
        {"frobnicate", "unknown command 'frobnicate'"},
        {"reg", "'reg' needs one of its verbs (see --help)"},
        {"reg peek 54", "'reg' needs one of its verbs (see --help)"},
        {"reg read", "reg read takes 1 argument(s), 0 given"},
        {"reg read 54 55", "reg read takes 1 argument(s), 2 given"},
        {"reg read 54G", "'54G' is not a hexadecimal number"},
        {"reg read 0x", "'0x' is not a hexadecimal number"},
        {"reg read -5", "unknown option -5"},
        {"reg write 54 100000000", "'100000000' does not fit in 32 bits"},
        {"iic read 90 100", "'100' does not fit in 8 bits"},
        {"gpio read 4", "GPIO pin 4 does not exist (0 to 3)"},
        {"gpio dir 1 sideways", "direction 'sideways' is neither in nor out"},
        {"id --vid 12345", "--vid: '12345' does not fit in 16 bits"},
        {"id --vid", "option --vid needs a value"},
        {"id --json=yes", "option --json takes no value"},
        {"id --force", "unknown option --force"},
        {"burn", "burn takes 1 argument(s), 0 given"},
        {"burn a.bin --area firmware --entire", "--entire and --area exclude each other"},
        {"burn a.bin --area boot", "unknown area 'boot' (firmware, private, customized)"},
        {"burn a.bin --area firmware,", "--area needs a list of areas: firmware,private,customized"},
        {"dump d.bin --area private", "--area and --entire belong to burn and verify"},
        {"verify a.bin --backup b.bin", "--backup belongs to burn"},
        {"list --device /dev/hidraw0", "list takes no --device"},
    };
    for (const auto& [line, reason] : rows) {
        Options o;
        EXPECT_EQ(ParseCommandLine(Words(line), o), reason) << line;
    }
}

TEST(CommandLine, HelpNamesEveryCommandAndExitStatus) {
    std::string help = UsageText();
    for (const char* text : {"list", "fw-version", "hdmi-info", "reg read", "iic write", "gpio dir", "hdcp on|off",
                             "burn IMAGE", "dump FILE", "verify IMAGE", "--device PATH", "--backup FILE", "--log FILE",
                             "--json", "  0  success", "  6  pre-flight refusal", "\"first_difference\""})
        EXPECT_NE(help.find(text), std::string::npos) << text;
    EXPECT_STREQ(VersionText(), "uvc-hid 1.0.7.3");
}

}  // namespace
}  // namespace cli
