#include "tools/cli/runner.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/win/text.h"
#include "tools/cli/cli_checks.h"
#include "tools/cli/console_window.h"
#include "tools/cli/device_choice.h"
#include "tools/cli/flash_plan.h"
#include "tools/cli/json.h"
#include "tools/cli/sha256.h"
#include "ui/main_dialog.h"
#include "ui/services/control_ids.h"
#include "ui/services/stop_request.h"

namespace cli {

namespace {

namespace ids = ui::ids;

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*x", digits, value);
    return text;
}

// What a run prints: the JSON document, or its lines of plain text.
struct Report {
    JsonObject json;
    std::vector<std::string> lines;
};

// The "Flash Information" group of the dialog, as Get ID fills it.
struct FlashField {
    int id;
    const char* label;
};
constexpr FlashField kFlashFields[] = {
    {ids::kDeviceName, "Device Name"}, {ids::kDeviceId, "Device ID"},   {ids::kPageSize, "Page Size"},
    {ids::kSectorSize, "Sector Size"}, {ids::kPagesPerSector, "Pages per Sector"},
    {ids::kSectorsPerBlock, "Sectors per block"}, {ids::kTotalBlock, "Total Block"}, {ids::kTotalSize, "Total Size"},
};

std::string Sha256Of(std::span<const std::uint8_t> bytes) {
    Sha256 sha;
    sha.Update(bytes);
    return sha.HexDigest();
}

class CliDialog : public Cuvc_hid_quendaDlg {
public:
    CliDialog(ConsoleWindow& window, const Options& options, std::vector<std::uint8_t> imageBytes, Report& result)
        : Cuvc_hid_quendaDlg(window), console(window), o(options), image(std::move(imageBytes)), report(result) {}

    bool Open();
    // Runs the command unless a stop was requested first; a stop that came while it ran
    // decides the exit status unless a failure did.
    void Run();
    void Close() {
        JoinWorkers();
        ReleaseDevice();
        OnBnClickedCancel();
    }

private:
    bool Failed() { return console.CurrentOutcome().code != kExitOk; }
    // Whether a stop was requested; if so, `text` is the run's outcome unless a failure came first.
    bool Interrupted(const std::string& text);
    void RunCommand();
    void SelectPanel(int radio);
    // Runs a panel handler; answers whether it reported no failure.
    bool Press(void (CliDialog::*handler)()) {
        (this->*handler)();
        return !Failed();
    }
    std::string Field(int id) { return console.GetControlText(id, 256); }

    void Id();
    void Register(bool write);
    void Iic(bool write);
    void Gpio();
    void Hdcp(bool on);
    void Burn();
    void Dump();
    void Verify();

    bool Identify();
    bool Plan(std::vector<FlashRange>& ranges);
    bool DumpInto(const std::string& path);
    bool ReadFlash(const FlashRange& range, std::vector<std::uint8_t>& bytes);
    // Reads back and compares the ranges; answers the bytes compared (0 after a device failure).
    ULONG CompareWithFlash(const std::vector<FlashRange>& ranges, bool onlyUncompared, Difference& difference);
    std::string AreasJson(const std::vector<FlashRange>& ranges);

    ConsoleWindow& console;
    const Options& o;
    std::vector<std::uint8_t> image;
    Report& report;
    std::string devicePath;  // of the opened interface, for the log
};

bool CliDialog::Open() {
    OnInitDialog();
    if (o.vid) console.SetControlText(ids::kVid, Hex(*o.vid, 4));
    if (o.pid) console.SetControlText(ids::kPid, Hex(*o.pid, 4));
    OnOpenDevice();
    if (console.CloseRequested() || IsDeviceOpen() == 0) {
        console.Fail(kExitNoDevice, "HID Device no found !");
        return false;
    }
    const HidDevice& opened = OpenedDevice();
    devicePath = opened.path ? Utf16ToUtf8(opened.path.get()) : std::string();
    JsonObject chosen;
    chosen.Add("path", devicePath)
        .Add("vid", Hex(opened.attributes.VendorID, 4))
        .Add("pid", Hex(opened.attributes.ProductID, 4));
    report.json.AddRaw("device", chosen.Text());
    // Open Device leaves its button enabled when the device cannot serve the commands.
    if (console.IsControlEnabled(ids::kOpenDevice)) {
        console.Fail(kExitDeviceError, "the device does not offer the reports the commands need");
        return false;
    }
    // The whole run holds the device, so no other program's frames come between ours.
    return o.command == Command::List || ClaimDevice();
}

bool CliDialog::Interrupted(const std::string& text) {
    if (ui::StopSignal() == 0) return false;
    console.Fail(InterruptedExit(ui::StopSignal()), text);
    return true;
}

void CliDialog::Run() {
    if (Interrupted("interrupted: nothing was done")) return;
    RunCommand();
    Interrupted("interrupted: the command had finished");
}

void CliDialog::RunCommand() {
    switch (o.command) {
        case Command::Id: return Id();
        case Command::FwVersion:
            if (Press(&CliDialog::OnGetFwVersion)) {
                report.json.Add("firmware_version", Field(ids::kFirmwareVersion));
                report.lines.push_back("firmware version: " + Field(ids::kFirmwareVersion));
            }
            return;
        case Command::HdmiInfo:
            if (Press(&CliDialog::OnGetHdmiInfo)) {
                report.json.Add("hdmi_info", Field(ids::kHdmiInfo));
                report.lines.push_back("hdmi info: " + Field(ids::kHdmiInfo));
            }
            return;
        case Command::RegRead: return Register(false);
        case Command::RegWrite: return Register(true);
        case Command::IicRead: return Iic(false);
        case Command::IicWrite: return Iic(true);
        case Command::GpioDir:
        case Command::GpioWrite:
        case Command::GpioRead: return Gpio();
        case Command::HdcpOn: return Hdcp(true);
        case Command::HdcpOff: return Hdcp(false);
        case Command::Burn: return Burn();
        case Command::Dump: return Dump();
        case Command::Verify: return Verify();
        case Command::List: return;
    }
}

void CliDialog::SelectPanel(int radio) {
    for (int id : {ids::kRadioRegister, ids::kRadioIic, ids::kRadioGpio}) console.SetCheck(id, id == radio ? 1 : 0);
}

void CliDialog::Id() {
    OnGetId();
    if (Failed()) return;
    if (IdentifiedPartIndex == kNoIdentifiedPart) {
        console.Fail(kExitDeviceError, "Get ID named no known flash part (Device ID " + Field(ids::kDeviceId) + ")");
        return;
    }
    const FlashPart& part = IdentifiedPart;
    JsonObject flash;
    flash.Add("device_id", std::int64_t{IdentifiedPartIndex})
        .Add("name", FlashPartTable[IdentifiedPartIndex].name)
        .Add("page_size", std::int64_t{part.pageSize})
        .Add("sector_size", std::int64_t{part.sectorSize})
        .Add("pages_per_sector", std::int64_t{part.sectorSize / part.pageSize})
        .Add("sectors_per_block", std::int64_t{part.sectorsPerBlock})
        .Add("total_blocks", std::int64_t{part.totalBlocks})
        .Add("total_size", std::int64_t{FlashPartTotalSize(part)});
    report.json.AddRaw("flash", flash.Text());
    for (const FlashField& field : kFlashFields)
        report.lines.push_back(ui::Format("%-18s: %s", field.label, Field(field.id).c_str()));
}

void CliDialog::Register(bool write) {
    SelectPanel(ids::kRadioRegister);
    console.SetControlText(ids::kRegAddr, Hex(o.values[0], 8));
    if (write) console.SetControlText(ids::kRegValue, Hex(o.values[1], 8));
    if (!Press(write ? &CliDialog::OnWrite : &CliDialog::OnRead)) return;
    std::string address = Hex(o.values[0], 8), value = write ? Hex(o.values[1], 8) : Field(ids::kRegValue);
    report.json.Add("address", address).Add("value", value);
    report.lines.push_back("register " + address + (write ? " <- " : " = ") + value);
}

// The panel's IIC data field carries the offset, and for a write the byte after it.
void CliDialog::Iic(bool write) {
    SelectPanel(ids::kRadioIic);
    console.SetControlText(ids::kIicAddr, Hex(o.values[0], 2));
    console.SetControlText(ids::kIicData, write ? Hex(o.values[1] << 8 | o.values[2], 4) : Hex(o.values[1], 2));
    if (!Press(write ? &CliDialog::OnWrite : &CliDialog::OnRead)) return;
    std::string chip = Hex(o.values[0], 2), offset = Hex(o.values[1], 2);
    std::string value = write ? Hex(o.values[2], 2) : Field(ids::kIicData), code = Field(ids::kIicRetCode);
    report.json.Add("iic_device", chip).Add("offset", offset).Add("value", value).Add("return_code", code);
    report.lines.push_back("iic " + chip + "[" + offset + "]" + (write ? " <- " : " = ") + value + " (return code " +
                           code + ")");
}

void CliDialog::Gpio() {
    SelectPanel(ids::kRadioGpio);
    const int pin = static_cast<int>(o.values[0]);
    console.SelectListItem(ids::kGpioNumber, pin);
    std::string pinText = std::to_string(pin);
    report.json.Add("pin", pinText);
    if (o.command == Command::GpioDir) {
        console.SelectListItem(ids::kGpioDirection, static_cast<int>(o.values[1]));
        if (!Press(&CliDialog::OnSetGpio)) return;
        const char* direction = o.values[1] ? "out" : "in";
        report.json.Add("direction", direction);
        report.lines.push_back("gpio " + pinText + " direction " + direction);
        return;
    }
    if (o.command == Command::GpioWrite) console.SetControlText(ids::kGpioValue, Hex(o.values[1], 2));
    if (!Press(o.command == Command::GpioWrite ? &CliDialog::OnWrite : &CliDialog::OnRead)) return;
    std::string level = o.command == Command::GpioWrite ? Hex(o.values[1], 2) : Field(ids::kGpioValue);
    report.json.Add("level", level);
    report.lines.push_back("gpio " + pinText + (o.command == Command::GpioWrite ? " <- " : " = ") + level);
}

void CliDialog::Hdcp(bool on) {
    console.SetCheck(ids::kEnableHdcpKey, on ? 1 : 0);
    console.SetCheck(ids::kDisableHdcpKey, on ? 0 : 1);
    if (!Press(on ? &CliDialog::OnBnClickedRdoEHdcpKey : &CliDialog::OnBnClickedRdoDHdcpKey)) return;
    report.json.Add("hdcp", on ? "on" : "off");
    report.lines.push_back(std::string("hdcp key use ") + (on ? "on" : "off"));
}

bool CliDialog::Identify() {
    OnGetId();
    if (Failed()) return false;
    if (IdentifiedPartIndex != kNoIdentifiedPart) return true;
    console.Fail(kExitDeviceError, "Get ID named no known flash part (Device ID " + Field(ids::kDeviceId) + ")");
    return false;
}

bool CliDialog::Plan(std::vector<FlashRange>& ranges) {
    std::string refusal = PlanFlashRanges(image, o.areas, FlashSectorSize(), FlashTotalSize(), ranges);
    if (!refusal.empty()) console.Fail(kExitRefused, refusal + "; nothing was written");
    return refusal.empty();
}

std::string CliDialog::AreasJson(const std::vector<FlashRange>& ranges) {
    std::vector<std::string> names;
    for (const FlashRange& range : ranges) names.push_back(JsonString(range.area));
    return JsonArray(names);
}

// Picks the file and presses Dump, as the user would; the worker's success box decides.
bool CliDialog::DumpInto(const std::string& path) {
    int infos = console.InfoBoxes();
    console.AnswerNextPick(path);
    OnBrowseDumpFile();
    OnDump();
    JoinWorkers();
    if (!Interruption().empty()) Interrupted(Interruption());
    else if (console.InfoBoxes() == infos) console.Fail(kExitDeviceError, "the dump did not finish");
    return !Failed();
}

bool CliDialog::ReadFlash(const FlashRange& range, std::vector<std::uint8_t>& bytes) {
    bytes.assign(range.length, 0);
    auto lock = LockTransfers();  // nothing may come between the set-up and the burst
    if (!FlashAccess(AP_FLASH_BURST_LATER, kModeWholeFlash, range.address, range.length, {})) {
        windows.Trace(ui::Format("Unknown error: Couldn't execute AP_FLASH_BURST_LATER--case %d\n", kModeWholeFlash));
        return false;
    }
    ULONG done = 0;
    ULONG left = FlashBurst(AP_FLASH_BURST_READ_TO_MEMORY, range.length, bytes, 0, done);
    windows.FlushProgress();
    windows.SetControlText(ids::kStatusText, "Status: Wait");
    return left == 0;
}

ULONG CliDialog::CompareWithFlash(const std::vector<FlashRange>& ranges, bool onlyUncompared, Difference& difference) {
    ULONG compared = 0;
    std::vector<std::uint8_t> found;
    for (const FlashRange& range : ranges) {
        if (onlyUncompared && range.comparedByBurn) continue;
        const char* stopped = onlyUncompared ? "interrupted: the read-back is incomplete"
                                             : "interrupted: the verification is incomplete";
        if (Interrupted(stopped)) return 0;
        if (!ReadFlash(range, found)) {
            if (!Interrupted(stopped)) console.Fail(kExitDeviceError, "reading the flash back failed");
            return 0;
        }
        CompareRange(range, image, found, difference);
        compared += range.length;
    }
    return compared;
}

std::string DifferenceText(const Difference& d, ULONG compared) {
    return ui::Format("%u of %u bytes differ; the first at 0x%08x: expected %02x, found %02x", d.count, compared,
                      d.firstAddress, d.expected, d.found);
}

void CliDialog::Burn() {
    std::vector<FlashRange> ranges;
    report.json.Add("image", o.file);
    if (o.backup.empty()) report.json.AddNull("backup");
    else report.json.Add("backup", o.backup);
    if (!Identify() || !Plan(ranges)) return;
    report.json.AddRaw("areas", AreasJson(ranges));
    if (o.areas.entire && !AcceptImageLength(console, image.size(), FlashSectorSize(), FlashTotalSize(), o.force)) return;
    if (!o.backup.empty() && !DumpInto(o.backup)) {
        Outcome failed = console.TakeOutcome();
        console.Fail(failed.code, "the backup dump failed, nothing was burned: " + failed.text);
        return;
    }
    console.SetCheck(ids::kEntireFlash, o.areas.entire ? 1 : 0);
    console.SetCheck(ids::kOtherArea, o.areas.entire ? 0 : 1);
    for (int row = 0; row < kFlashAreaCount; ++row)
        console.SetCheck(ids::kFirmwareBox + row, o.areas.boxes[static_cast<std::size_t>(row)] ? 1 : 0);

    int infos = console.InfoBoxes();
    UseBurnImage(o.file, image);  // the bytes planned here and hashed below, not a second read
    OnBurn();
    JoinWorkers();
    if (!Interruption().empty()) Interrupted(Interruption());
    else if (console.InfoBoxes() == infos) console.Fail(kExitDeviceError, "the burn did not finish");

    // What the burn actually moved, which a failure or a stop leaves short of the plan.
    Sha256 sha;
    ULONG bytes = 0;
    bool allCompared = !WrittenSpans().empty();
    for (const WrittenSpan& span : WrittenSpans()) {
        sha.Update(std::span(image).subspan(span.address, span.length));
        bytes += span.length;
        allCompared = allCompared && span.compared;
    }
    std::string digest = sha.HexDigest();
    // The burn compares what it can; the areas it writes blind are read back here, unless
    // a stop ended it: then only its own compare can have verified what it wrote.
    std::string verification = console.CurrentOutcome().code == kExitCompare ? "failed" : "not run";
    if (!Failed()) {
        Difference difference;
        ULONG compared = CompareWithFlash(ranges, true, difference);
        if (!Failed()) verification = difference.count ? "failed" : "passed";
        if (difference.count) console.Fail(kExitCompare, DifferenceText(difference, compared));
    } else if (!Interruption().empty() && allCompared) {
        verification = "passed";
    }
    std::string result = Failed() ? console.CurrentOutcome().text : console.LastInfoText();
    report.json.Add("bytes", std::int64_t{bytes}).Add("sha256", digest).Add("verification", verification).Add("result", result);
    std::string summary = "burn summary: " + devicePath + ", " + o.file + ", " + std::to_string(bytes) + " bytes (" +
                          std::string(o.areas.entire ? "entire" : "areas") + "), sha256 " + digest + ", verification " +
                          verification;
    if (Outcome now = console.CurrentOutcome(); now.code >= kExitInterrupted) summary += ", " + now.text;
    report.lines.push_back(summary);
    console.LogLine(summary);
}

void CliDialog::Dump() {
    report.json.Add("file", o.file);
    if (!Identify() || !DumpInto(o.file)) return;
    std::vector<std::uint8_t> dumped;
    if (std::string error = ReadRegularFile(o.file, dumped); !error.empty()) {
        console.Fail(kExitFileError, error);
        return;
    }
    std::string digest = Sha256Of(dumped);
    report.json.Add("bytes", static_cast<std::int64_t>(dumped.size())).Add("sha256", digest);
    report.lines.push_back("dump: " + std::to_string(dumped.size()) + " bytes into " + o.file + ", sha256 " + digest);
}

void CliDialog::Verify() {
    std::vector<FlashRange> ranges;
    report.json.Add("image", o.file);
    if (!Identify() || !Plan(ranges)) return;
    report.json.AddRaw("areas", AreasJson(ranges));
    Difference difference;
    ULONG compared = CompareWithFlash(ranges, false, difference);
    if (Failed()) return;
    report.json.Add("bytes", std::int64_t{compared}).Add("differences", std::int64_t{difference.count});
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
    console.Fail(kExitCompare, DifferenceText(difference, compared));
}

// A device's own text for a plain line: control characters escaped as the JSON document
// escapes them (\n, \u001b), so a hostile name cannot forge lines or move the cursor.
// Backslashes stay as they are: paths such as \\?\simhid#... must read as typed.
std::string PlainText(const std::string& text) {
    std::string plain;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20) {
            plain += c;
            continue;
        }
        std::string quoted = JsonString(std::string_view(&c, 1));
        plain += quoted.substr(1, quoted.size() - 2);
    }
    return plain;
}

void ListInterfaces(Report& report) {
    std::vector<std::string> items;
    for (const InterfaceEntry& entry : ListHidInterfaces()) {
        JsonObject item;
        item.Add("path", entry.path);
        std::string line = PlainText(entry.path);
        if (entry.vid || entry.pid) {
            item.Add("vid", Hex(entry.vid, 4)).Add("pid", Hex(entry.pid, 4));
            line += "  " + Hex(entry.vid, 4) + ":" + Hex(entry.pid, 4);
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
}

// The files of the command, checked before the device is opened.
bool PrepareFiles(const Options& o, std::vector<std::uint8_t>& image, std::string& error) {
    if (o.command == Command::Burn || o.command == Command::Verify) error = ReadRegularFile(o.file, image);
    if (o.command == Command::Dump) error = CheckOutputFile(o.file, true);
    if (error.empty() && !o.backup.empty()) error = CheckOutputFile(o.backup, true);
    return error.empty();
}

// --device: the interface it names, and its ids unless the command line gave them.
bool ChooseDevice(Options& o, ConsoleWindow& console) {
    if (o.device.empty()) return true;
    std::vector<InterfaceEntry> present = ListHidInterfaces();
    std::string error;
    std::string path = ResolveDevicePath(o.device, present, error);
    if (path.empty()) {
        console.Fail(kExitNoDevice, error);
        return false;
    }
    DeviceSearchPath = Utf8ToUtf16(path);
    for (const InterfaceEntry& entry : present)
        if (entry.path == path && entry.accessible) {
            if (!o.vid) o.vid = entry.vid;
            if (!o.pid) o.pid = entry.pid;
        }
    return true;
}

// Answers whether everything reached `out`.
bool Print(const Options& o, Report& report, const Outcome& outcome, ConsoleWindow& console, std::FILE* out) {
    report.json.Add("ok", outcome.code == kExitOk).Add("exit_code", std::int64_t{outcome.code});
    if (outcome.code != kExitOk) report.json.Add("error", outcome.text);
    std::vector<std::string> messages;
    for (const ShownBox& box : console.Boxes())
        messages.push_back(JsonObject().Add("caption", box.caption).Add("text", box.text).Text());
    report.json.AddRaw("messages", JsonArray(messages));
    std::vector<std::string> warnings;
    for (const std::string& warning : console.Warnings()) warnings.push_back(JsonString(warning));
    if (!warnings.empty()) report.json.AddRaw("warnings", JsonArray(warnings));
    if (o.json) {
        std::fprintf(out, "%s\n", report.json.Text().c_str());
    } else {
        for (const std::string& line : report.lines) std::fprintf(out, "%s\n", line.c_str());
        if (outcome.code != kExitOk) std::fprintf(stderr, "uvc-hid: %s\n", outcome.text.c_str());
    }
    return std::fflush(out) == 0 && !std::ferror(out);
}

ProgressStyle ChooseProgress(const Options& o) {
    if (o.json) return ProgressStyle::JsonLines;
    return isatty(STDERR_FILENO) ? ProgressStyle::Bar : ProgressStyle::None;
}

}  // namespace

int RunCommandLine(const Options& given, std::FILE* out) {
    Options o = given;
    std::clearerr(stderr);  // a failed write to it is judged per run
    std::FILE* log = nullptr;
    // One file in two roles would be read back with another role's bytes in it: refused first.
    std::string refusal = SameFileInTwoRoles(o);
    int refusalCode = kExitUsage;
    if (refusal.empty() && !o.log.empty() && (log = OpenLog(o.log, refusal)) == nullptr) refusalCode = kExitFileError;
    if (!refusal.empty()) {
        ConsoleWindow console(o.json, ProgressStyle::None, nullptr);
        console.Fail(refusalCode, refusal);
        Report report;
        report.json.Add("command", o.name);
        Outcome outcome = console.TakeOutcome();
        Print(o, report, outcome, console, out);
        return outcome.code;
    }
    // One write per line, so that processes sharing a log append whole lines.
    if (log) std::setvbuf(log, nullptr, _IOLBF, 0);
    ConsoleWindow console(o.json, ChooseProgress(o), log);
    Report report;
    report.json.Add("command", o.name).Add("ok", false).Add("exit_code", std::int64_t{0});
    std::vector<std::uint8_t> image;
    std::string error;
    if (o.command == Command::List) {
        ListInterfaces(report);
    } else if (!PrepareFiles(o, image, error)) {
        console.Fail(kExitFileError, error);
    } else if (ChooseDevice(o, console)) {
        CliDialog dialog(console, o, std::move(image), report);
        if (dialog.Open()) dialog.Run();
        dialog.Close();
    }
    DeviceSearchPath.clear();
    Outcome outcome = console.TakeOutcome();
    // Trace lines, progress or boxes that could not be written (a closed pipe) fail a run
    // that had passed; the run itself went on regardless.
    if (outcome.code == kExitOk && std::ferror(stderr)) outcome = {kExitOutput, "cannot write to standard error"};
    // The log is finished before the result is printed, so that a log that could not be
    // written is part of it: a file error, after the command's own failure if it had one.
    console.LogLine("uvc-hid " + o.name + ": exit " + std::to_string(outcome.code) +
                    (outcome.code != kExitOk ? " (" + outcome.text + ")" : ""));
    std::string logError = console.LogError();
    if (log && std::fclose(log) != 0 && logError.empty()) logError = std::strerror(errno);
    if (!logError.empty()) {
        logError = "cannot append to " + o.log + ": " + logError;
        if (outcome.code == kExitOk) outcome = {kExitFileError, logError};
        else outcome.text += "; " + logError;
    }
    if (!Print(o, report, outcome, console, out) && outcome.code == kExitOk) {
        std::fprintf(stderr, "uvc-hid: cannot write to standard output\n");
        return kExitOutput;
    }
    return outcome.code;
}

}  // namespace cli
