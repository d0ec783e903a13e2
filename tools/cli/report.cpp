#include "tools/cli/report.h"

#include "core/format.h"
#include "tools/cli/log_file.h"

namespace cli {

std::string Hex(std::uint32_t value, int digits) { return core::Format("%0*x", digits, value); }

// Backslashes stay as they are: paths such as \\?\simhid#... must read as typed.
std::string PlainText(const std::string& text) {
    std::string plain;
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x20) {
            plain += c;
            continue;
        }
        std::string quoted = JsonString(std::string_view(&c, 1));
        plain += quoted.substr(1, quoted.size() - 2);
    }
    return plain;
}

Report StartReport(const std::string& command) {
    Report report;
    report.json.Add("command", command).Add("ok", false).Add("exit_code", std::int64_t{0});
    return report;
}

void ReportInterfaces(Report& report, const std::vector<InterfaceEntry>& interfaces) {
    std::vector<std::string> items;
    for (const InterfaceEntry& entry : interfaces) {
        JsonObject item;
        item.Add("path", entry.path);
        std::string line = PlainText(entry.path);
        if (entry.vid || entry.pid) {
            item.Add("vid", Hex(entry.vid, 4)).Add("pid", Hex(entry.pid, 4));
            line += "  " + Hex(entry.vid, 4) + ":" + Hex(entry.pid, 4);
        }
        if (!entry.portPath.empty()) {
            item.Add("port", entry.portPath);
            line += "  port " + PlainText(entry.portPath);
        }
        if (!entry.serial.empty()) {
            item.Add("serial", entry.serial);
            line += "  serial " + PlainText(entry.serial);
        }
        item.Add("accessible", entry.accessible);
        if (entry.accessible) {
            item.Add("usage_page", Hex(entry.usagePage, 4)).Add("usage", Hex(entry.usage, 4));
            item.Add("product", entry.product);
            line += "  usage page " + Hex(entry.usagePage, 4) + " usage " + Hex(entry.usage, 4) + "  " +
                    PlainText(entry.product);
        }
        if (!entry.problem.empty()) {
            item.Add("problem", entry.problem);
            line += "  (" + entry.problem + ")";
        }
        if (entry.busyPid) {
            item.Add("busy_pid", std::int64_t{entry.busyPid});
            line += "  (busy: process " + std::to_string(entry.busyPid) + ")";
        }
        items.push_back(item.Text());
        report.lines.push_back(line);
    }
    report.json.AddRaw("interfaces", JsonArray(items));
    report.fields.emplace_back("interfaces", std::to_string(items.size()));
}

void ReportDevice(Report& report, const std::string& path, std::uint16_t vid, std::uint16_t pid,
                  const std::string& portPath, const std::string& serial) {
    JsonObject device;
    device.Add("path", path).Add("vid", Hex(vid, 4)).Add("pid", Hex(pid, 4));
    if (!portPath.empty()) device.Add("port", portPath);
    if (!serial.empty()) device.Add("serial", serial);
    report.json.AddRaw("device", device.Text());
    report.fields.emplace_back("device", DeviceLabel(path, portPath));
    if (!serial.empty()) report.fields.emplace_back("serial", serial);
}

void ReportCandidates(Report& report, const std::vector<InterfaceEntry>& boards) {
    std::vector<std::string> items;
    for (const InterfaceEntry& board : boards) {
        JsonObject item;
        item.Add("path", board.path).Add("device", DeviceArgument(board));
        if (!board.portPath.empty()) item.Add("port", board.portPath);
        if (!board.serial.empty()) item.Add("serial", board.serial);
        items.push_back(item.Text());
    }
    report.json.AddRaw("candidates", JsonArray(items));
}

void ReportFlashPart(Report& report, ULONG row, const FlashPart& part, ULONG totalSize) {
    const std::int64_t pagesPerSector = part.pageSize ? part.sectorSize / part.pageSize : 0;
    JsonObject flash;
    flash.Add("device_id", std::int64_t{row})
        .Add("name", FlashPartTable[row].name)
        .Add("page_size", std::int64_t{part.pageSize})
        .Add("sector_size", std::int64_t{part.sectorSize})
        .Add("pages_per_sector", pagesPerSector)
        .Add("sectors_per_block", std::int64_t{part.sectorsPerBlock})
        .Add("total_blocks", std::int64_t{part.totalBlocks})
        .Add("total_size", std::int64_t{totalSize});
    report.json.AddRaw("flash", flash.Text());
    report.fields.emplace_back("flash", FlashPartTable[row].name);
    report.fields.emplace_back("total_size", std::to_string(totalSize));
    // The group's labels and texts as the dialog shows them.
    const std::pair<const char*, std::string> fields[] = {
        {"Device Name", FlashPartTable[row].name},
        {"Device ID", std::to_string(row)},
        {"Page Size", std::to_string(part.pageSize) + " bytes"},
        {"Sector Size", std::to_string(part.sectorSize) + " bytes"},
        {"Pages per Sector", std::to_string(pagesPerSector)},
        {"Sectors per block", std::to_string(part.sectorsPerBlock)},
        {"Total Block", std::to_string(part.totalBlocks)},
        {"Total Size", std::to_string(totalSize >> 10) + " KB"},
    };
    for (const auto& [label, text] : fields) report.lines.push_back(core::Format("%-18s: %s", label, text.c_str()));
}

void ReportText(Report& report, const char* key, const char* label, const std::string& text) {
    report.json.Add(key, text);
    report.lines.push_back(std::string(label) + ": " + text);
    report.fields.emplace_back(key, text);
}

void ReportRegister(Report& report, bool write, std::uint32_t address, std::uint32_t value) {
    report.json.Add("address", Hex(address, 8)).Add("value", Hex(value, 8));
    report.fields.insert(report.fields.end(), {{"address", Hex(address, 8)}, {"value", Hex(value, 8)}});
    report.lines.push_back("register " + Hex(address, 8) + (write ? " <- " : " = ") + Hex(value, 8));
}

void ReportIic(Report& report, bool write, std::uint8_t device, std::uint8_t offset, std::uint8_t value,
               std::uint8_t returnCode) {
    const std::string chip = Hex(device, 2), at = Hex(offset, 2), byte = Hex(value, 2), code = Hex(returnCode, 2);
    report.json.Add("iic_device", chip).Add("offset", at).Add("value", byte).Add("return_code", code);
    report.fields.insert(report.fields.end(),
                         {{"iic_device", chip}, {"offset", at}, {"value", byte}, {"return_code", code}});
    report.lines.push_back("iic " + chip + "[" + at + "]" + (write ? " <- " : " = ") + byte + " (return code " + code +
                           ")");
}

void ReportGpioPin(Report& report, int pin) {
    report.json.Add("pin", std::to_string(pin));
    report.fields.emplace_back("pin", std::to_string(pin));
}

void ReportGpioDirection(Report& report, int pin, bool out) {
    const char* direction = out ? "out" : "in";
    report.json.Add("direction", direction);
    report.fields.emplace_back("direction", direction);
    report.lines.push_back("gpio " + std::to_string(pin) + " direction " + direction);
}

void ReportGpioLevel(Report& report, bool write, int pin, std::uint8_t level) {
    report.json.Add("level", Hex(level, 2));
    report.fields.emplace_back("level", Hex(level, 2));
    report.lines.push_back("gpio " + std::to_string(pin) + (write ? " <- " : " = ") + Hex(level, 2));
}

void ReportHdcp(Report& report, bool on) {
    report.json.Add("hdcp", on ? "on" : "off");
    report.fields.emplace_back("hdcp", on ? "on" : "off");
    report.lines.push_back(std::string("hdcp key use ") + (on ? "on" : "off"));
}

void ReportFiles(Report& report, const Options& o) {
    if (o.command == Command::Dump) {
        report.json.Add("file", o.file);
        return;
    }
    report.json.Add("image", o.file);
    if (o.command != Command::Burn) return;
    if (o.backup.empty()) report.json.AddNull("backup");
    else report.json.Add("backup", o.backup);
}

void ReportAreas(Report& report, const std::vector<FlashRange>& ranges) {
    std::vector<std::string> names;
    for (const FlashRange& range : ranges) names.push_back(JsonString(range.area));
    report.json.AddRaw("areas", JsonArray(names));
}

std::string ReportBurn(Report& report, const BurnSummary& burn) {
    report.json.Add("bytes", std::int64_t{burn.bytes})
        .Add("sha256", burn.sha256)
        .Add("verification", burn.verification)
        .Add("result", burn.result);
    std::string summary = "burn summary: " + burn.devicePath + ", " + burn.image + ", " + std::to_string(burn.bytes) +
                          " bytes (" + (burn.entire ? "entire" : "areas") + "), sha256 " + burn.sha256 +
                          ", verification " + burn.verification;
    if (!burn.interruption.empty()) summary += ", " + burn.interruption;
    report.lines.push_back(summary);
    report.fields.emplace_back("bytes", std::to_string(burn.bytes));
    report.fields.emplace_back("sha256", burn.sha256);
    report.fields.emplace_back("verification", burn.verification);
    return summary;
}

void ReportDump(Report& report, const std::string& file, std::size_t bytes, const std::string& sha256) {
    report.json.Add("bytes", static_cast<std::int64_t>(bytes)).Add("sha256", sha256);
    report.lines.push_back("dump: " + std::to_string(bytes) + " bytes into " +
                           (file == kStandardStream ? std::string("standard output") : file) + ", sha256 " + sha256);
    report.fields.emplace_back("bytes", std::to_string(bytes));
    report.fields.emplace_back("sha256", sha256);
}

std::string DifferenceText(const Difference& d, ULONG compared) {
    return core::Format("%u of %u bytes differ; the first at 0x%08x: expected %02x, found %02x", d.count, compared,
                        d.firstAddress, d.expected, d.found);
}

void ReportVerify(Report& report, ULONG compared, const Difference& difference) {
    report.json.Add("bytes", std::int64_t{compared}).Add("differences", std::int64_t{difference.count});
    report.fields.insert(report.fields.end(),
                         {{"bytes", std::to_string(compared)}, {"differences", std::to_string(difference.count)}});
    if (difference.count == 0) {
        report.json.AddNull("first_difference");
        report.lines.push_back("verify: " + std::to_string(compared) + " bytes compared, the flash holds the image");
        return;
    }
    JsonObject first;
    first.Add("address", Hex(difference.firstAddress, 8))
        .Add("expected", Hex(difference.expected, 2))
        .Add("found", Hex(difference.found, 2));
    report.json.AddRaw("first_difference", first.Text());
}

std::string ResultLine(const std::string& command, const Outcome& outcome, const Report& report) {
    std::string line = "result" + Field("command", command) + Field("exit", std::to_string(outcome.code));
    for (const auto& [key, value] : report.fields) line += Field(key, value);
    if (outcome.code != kExitOk) line += Field("error", OneLine(outcome.text));
    return line;
}

bool Print(const Options& o, Report& report, const Outcome& outcome, ConsoleReporter& console, std::FILE* out) {
    report.json.Add("ok", outcome.code == kExitOk).Add("exit_code", std::int64_t{outcome.code});
    if (outcome.code != kExitOk) report.json.Add("error", outcome.text);
    std::vector<std::string> messages;
    for (const ShownBox& box : console.Boxes())
        messages.push_back(JsonObject().Add("caption", box.caption).Add("text", box.text).Text());
    report.json.AddRaw("messages", JsonArray(messages));
    std::vector<std::string> warnings;
    for (const std::string& warning : console.Warnings()) warnings.push_back(JsonString(warning));
    if (!warnings.empty()) report.json.AddRaw("warnings", JsonArray(warnings));
    // A dump on standard output keeps it for the flash's bytes alone.
    const bool dumpOut = o.command == Command::Dump && o.file == kStandardStream;
    std::FILE* const text = dumpOut ? stderr : out;
    if (dumpOut && !report.dumped.empty())  // only a complete dump has its bytes here
        std::fwrite(report.dumped.data(), 1, report.dumped.size(), out);
    if (o.json) {
        std::fprintf(text, "%s\n", report.json.Text().c_str());
    } else {
        for (const std::string& line : report.lines) std::fprintf(text, "%s\n", line.c_str());
        if (outcome.code != kExitOk) std::fprintf(stderr, "uvc-hid: %s\n", outcome.text.c_str());
        std::fprintf(stderr, "%s\n", ResultLine(o.name, outcome, report).c_str());
    }
    return std::fflush(out) == 0 && !std::ferror(out);
}

}  // namespace cli
