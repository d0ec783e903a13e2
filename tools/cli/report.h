// What a run of uvc-hid prints: each command's result as members of the JSON document and
// as plain lines, the burn summary, and at the end the document or the lines themselves.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "protocol/flash_parts.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/console_reporter.h"
#include "tools/cli/device_choice.h"
#include "tools/cli/flash_plan.h"
#include "tools/cli/json.h"

namespace cli {

struct Report {
    JsonObject json;
    std::vector<std::string> lines;
    // The result line's fields after command and exit: device, serial, bytes, sha256, ...
    std::vector<std::pair<std::string, std::string>> fields;
    // A dump to standard output: the flash, written there before the result.
    std::vector<std::uint8_t> dumped;
};

// Lower-case hex of `digits` digits at least, as the dialog's fields show values.
std::string Hex(std::uint32_t value, int digits);
// A device's own text for a plain line: control characters escaped as the JSON document
// escapes them, so a hostile name cannot forge lines or move the cursor.
std::string PlainText(const std::string& text);

// The document's first members: the command, and "ok" and "exit_code" that Print fills in.
Report StartReport(const std::string& command);

void ReportInterfaces(Report& report, const std::vector<InterfaceEntry>& interfaces);
// The opened interface; its port path and serial number when it has them.
void ReportDevice(Report& report, const std::string& path, std::uint16_t vid, std::uint16_t pid,
                  const std::string& portPath, const std::string& serial);
// The boards an ambiguous choice could have meant, each with the --device text naming it.
void ReportCandidates(Report& report, const std::vector<InterfaceEntry>& boards);
// The Flash Information group of the dialog: the identified part `row`.
void ReportFlashPart(Report& report, ULONG row, const FlashPart& part, ULONG totalSize);
// fw-version, hdmi-info: one text under `key`, and "`label`: text".
void ReportText(Report& report, const char* key, const char* label, const std::string& text);
void ReportRegister(Report& report, bool write, std::uint32_t address, std::uint32_t value);
void ReportIic(Report& report, bool write, std::uint8_t device, std::uint8_t offset, std::uint8_t value,
               std::uint8_t returnCode);
void ReportGpioPin(Report& report, int pin);  // first: a failed gpio command's document names its pin too
void ReportGpioDirection(Report& report, int pin, bool out);
void ReportGpioLevel(Report& report, bool write, int pin, std::uint8_t level);
void ReportHdcp(Report& report, bool on);

// The files of burn ("image", "backup"), verify ("image") and dump ("file").
void ReportFiles(Report& report, const Options& o);
// The areas a burn or verify covers.
void ReportAreas(Report& report, const std::vector<FlashRange>& ranges);

struct BurnSummary {
    std::string devicePath, image;
    bool entire = true;
    ULONG bytes = 0;  // written
    std::string sha256, verification, result;
    std::string interruption;  // the run's outcome text when a stop request ended it
};
// Adds the burn's members and its summary line; answers the line, for the log.
std::string ReportBurn(Report& report, const BurnSummary& burn);

void ReportDump(Report& report, const std::string& file, std::size_t bytes, const std::string& sha256);

// "N of M bytes differ; the first at 0x...: expected .., found .."
std::string DifferenceText(const Difference& difference, ULONG compared);
void ReportVerify(Report& report, ULONG compared, const Difference& difference);

// The run's result in one line of key=value fields that grep and a line supervisor read:
//   result command=burn exit=0 device=1-2.3 serial=A1 bytes=262144 sha256=... verification=passed
// with error="..." when it failed.
std::string ResultLine(const std::string& command, const Outcome& outcome, const Report& report);

// Finishes the document with the run's outcome, the boxes shown and the warnings, and
// prints it (--json) or the plain lines and the error; the plain lines go to standard
// error instead when `out` carries a dump. Answers whether everything reached `out`.
bool Print(const Options& o, Report& report, const Outcome& outcome, ConsoleReporter& console, std::FILE* out);

}  // namespace cli
