// hid_caps: prints as JSON what our report-descriptor parser makes of a descriptor (the
// HIDP_CAPS, every button and value capability and every link collection node, keyed by
// the Windows member names). Exit status: 0 printed, 1 descriptor refused, 2 usage or
// input error.
#include <iostream>
#include <string>
#include <vector>

#include "tools/hid_caps_collections.h"
#include "tools/hid_caps_decode.h"
#include "tools/hid_caps_input.h"

namespace {

constexpr int kExitUsage = 2;

void PrintHelp(std::ostream& out) {
    out << "usage: hid_caps <descriptor>\n"
           "       hid_caps --decode input|output|feature <hex report> <descriptor>\n"
           "\n"
           "Parses a HID report descriptor and prints, as JSON, the capabilities the HidP\n"
           "functions report for each top-level collection, as Windows gives each one as an\n"
           "interface of its own. One collection prints one object; several print\n"
           "{\"TopLevelCollections\": [...]}, one object each, in descriptor order.\n"
           "\n"
           "<descriptor> is one of:\n"
           "  /dev/hidrawN   a hidraw node (read with HIDIOCGRDESCSIZE and HIDIOCGRDESC)\n"
           "  FILE           raw descriptor bytes, e.g. a copy of\n"
           "                 /sys/class/hidraw/hidrawN/device/report_descriptor\n"
           "  FILE           hex text such as \"05 01 09 02 a1 01 ...\" (0x prefixes, commas and\n"
           "                 '#' comments allowed)\n"
           "\n"
           "--decode reads one report (hex, exactly the type's report byte length, byte 0\n"
           "the report ID) and prints its data list and, per capability, the buttons that\n"
           "are on and the values, raw and scaled.\n"
           "\n"
           "Exit status: 0 printed, 1 descriptor refused by the parser, 2 usage or input error.\n";
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--decode")
        return hidcaps::RunDecode({args.begin() + 1, args.end()}, std::cout, std::cerr);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        PrintHelp(std::cout);
        return 0;
    }
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
        PrintHelp(std::cerr);
        return kExitUsage;
    }
    std::vector<std::uint8_t> descriptor;
    std::string error;
    if (!hidcaps::LoadDescriptor(args[0], descriptor, error)) {
        std::cerr << "hid_caps: " << error << '\n';
        return kExitUsage;
    }
    return hidcaps::PrintTopLevelCollections(args[0], descriptor, std::cout, std::cerr);
}
