// hid_caps: prints as JSON what our report-descriptor parser makes of a descriptor (the
// HIDP_CAPS, every button and value capability and every link collection node, keyed by
// the Windows member names). Exit status: 0 printed, 1 descriptor refused, 2 usage or
// input error.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "platform/hid/preparsed.h"
#include "tools/hid_caps_collections.h"
#include "tools/hid_caps_decode.h"
#include "tools/hid_caps_input.h"
#include "tools/hid_caps_json.h"

namespace {

constexpr int kExitRefused = 1;
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

std::string StatusText(NTSTATUS status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
    return text;
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
    const auto collections = hidcaps::SplitTopLevelCollections(descriptor);
    std::vector<std::unique_ptr<hidparse::PreparsedData>> parsed(collections.size());
    for (std::size_t i = 0; i < collections.size(); ++i) {
        const NTSTATUS status = hidparse::ParseReportDescriptor(collections[i], parsed[i]);
        if (status != HIDP_STATUS_SUCCESS) {
            std::cerr << "hid_caps: " << args[0] << ": descriptor refused (" << descriptor.size() << " bytes";
            if (collections.size() > 1) std::cerr << ", top-level collection " << i + 1;
            std::cerr << ", status " << StatusText(status) << ")\n";
            return kExitRefused;
        }
    }
    hidcaps::JsonWriter json(std::cout);
    if (parsed.size() > 1) {
        json.BeginObject();
        json.Key("TopLevelCollections");
        json.BeginArray();
    }
    NTSTATUS written = HIDP_STATUS_SUCCESS;
    for (std::size_t i = 0; i < parsed.size() && written == HIDP_STATUS_SUCCESS; ++i)
        written = hidcaps::WritePreparsed(json, hidparse::ToHandle(parsed[i].get()));
    if (parsed.size() > 1) {
        json.EndArray();
        json.EndObject();
    }
    json.Finish();
    if (written != HIDP_STATUS_SUCCESS) {
        std::cerr << "hid_caps: capability query failed, status " << StatusText(written) << '\n';
        return kExitRefused;
    }
    return 0;
}
