#include "tools/cli/commands.h"

#include <optional>
#include <string>
#include <vector>

#include "core/format.h"
#include "core/stop_request.h"
#include "platform/win/win_error.h"
#include "tools/cli/cli_checks.h"
#include "tools/cli/flash_plan.h"
#include "tools/cli/sha256.h"

namespace cli {

namespace {

std::string Sha256Of(std::span<const std::uint8_t> bytes) {
    Sha256 sha;
    sha.Update(bytes);
    return sha.HexDigest();
}

class Commands {
public:
    Commands(Session& s, ConsoleReporter& c, const Options& options, const Image& given, Report& r)
        : session(s), protocol(s.Protocol()), programmer(s.Programmer()), console(c), o(options), image(given.bytes),
          slotPath(given.slotPath), report(r) {}

    void Run() {
        if (Interrupted("interrupted: nothing was done")) return;
        Dispatch();
        Interrupted("interrupted: the command had finished");
    }

private:
    bool Failed() { return console.CurrentOutcome().code != kExitOk; }
    // Whether a stop was requested; if so, `text` is the run's outcome unless a failure came first.
    bool Interrupted(const std::string& text);
    // A command's answer: a failure the services reported decides the outcome; a failed
    // answer they did not report fails the run all the same.
    bool Answered(bool ok);
    void Dispatch();

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
    RunOutcome BurnImage();
    void FinishRun(const RunOutcome& run, const char* unfinished);
    bool ReadFlash(const FlashRange& range, std::vector<std::uint8_t>& bytes);
    // Reads back and compares the ranges; answers the bytes compared (0 after a device failure).
    ULONG CompareWithFlash(const std::vector<FlashRange>& ranges, bool onlyUncompared, Difference& difference);

    Session& session;
    CommandProtocol& protocol;
    FlashProgrammer& programmer;
    ConsoleReporter& console;
    const Options& o;
    std::span<const std::uint8_t> image;
    const std::string& slotPath;
    Report& report;
};

bool Commands::Interrupted(const std::string& text) {
    if (core::StopRequests() == 0) return false;  // none, or one a station holds for itself
    console.Fail(InterruptedExit(core::StopSignal()), text);
    return true;
}

bool Commands::Answered(bool ok) {
    if (ok && !Failed()) return true;
    console.Fail(kExitDeviceError, "the device did not carry out " + o.name);
    return false;
}

void Commands::Dispatch() {
    switch (o.command) {
        case Command::Id: return Id();
        case Command::FwVersion:
            if (std::optional<std::string> text = protocol.GetFwVersion(); Answered(text.has_value()))
                ReportText(report, "firmware_version", "firmware version", *text);
            return;
        case Command::HdmiInfo:
            if (std::optional<std::string> text = protocol.GetHdmiInfo(); Answered(text.has_value()))
                ReportText(report, "hdmi_info", "hdmi info", *text);
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
        case Command::Burn: ReportFiles(report, o); return Burn();
        case Command::Dump: ReportFiles(report, o); return Dump();
        case Command::Verify: ReportFiles(report, o); return Verify();
        case Command::List:
        case Command::Station: return;  // run by the runner and the station themselves
    }
}

// ---- The device's own commands

// Get ID, which must name a known part: a burn, dump or verify needs its geometry.
bool Commands::Identify() {
    std::optional<ULONG> row = protocol.GetId();
    if (!Answered(row.has_value())) return false;
    if (protocol.IdentifiedPartIndex() != kNoIdentifiedPart) return true;
    console.Fail(kExitDeviceError, "Get ID named no known flash part (Device ID " + std::to_string(*row) + ")");
    return false;
}

void Commands::Id() {
    if (Identify())
        ReportFlashPart(report, protocol.IdentifiedPartIndex(), protocol.IdentifiedPart(), protocol.FlashTotalSize());
}

void Commands::Register(bool write) {
    const ULONG address = o.values[0];
    ULONG value = write ? o.values[1] : 0;
    if (Answered(protocol.RegisterCommand(write ? OP_REG_WRITE : OP_REG_READ, address, value) != 0))
        ReportRegister(report, write, address, write ? o.values[1] : value);
}

// A write sends the offset and the byte after it; a read sends the offset and answers the
// device's return code and the byte.
void Commands::Iic(bool write) {
    const auto chip = static_cast<std::uint8_t>(o.values[0]);
    const auto offset = static_cast<std::uint8_t>(o.values[1]);
    const auto value = static_cast<std::uint8_t>(o.values[2]);
    std::uint8_t bytes[2] = {offset, write ? value : std::uint8_t{0}};
    const int done = write ? protocol.IicCommand(OP_IIC_WRITE, chip, 2, bytes, 0)
                           : protocol.IicCommand(OP_IIC_READ, chip, 1, bytes, 1);
    if (Answered(done != 0)) ReportIic(report, write, chip, offset, write ? value : bytes[1], bytes[0]);
}

void Commands::Gpio() {
    const int pin = static_cast<int>(o.values[0]);
    const auto pinNumber = static_cast<std::uint8_t>(pin);
    ReportGpioPin(report, pin);
    if (o.command == Command::GpioDir) {
        auto direction = static_cast<std::uint8_t>(o.values[1]);
        if (Answered(protocol.GpioCommand(OP_GPIO_SET_DIRECTION, pinNumber, direction) != 0))
            ReportGpioDirection(report, pin, o.values[1] != 0);
        return;
    }
    const bool write = o.command == Command::GpioWrite;
    auto level = static_cast<std::uint8_t>(write ? o.values[1] : 0);
    if (Answered(protocol.GpioCommand(write ? OP_GPIO_WRITE : OP_GPIO_READ, pinNumber, level) != 0))
        ReportGpioLevel(report, write, pin, write ? static_cast<std::uint8_t>(o.values[1]) : level);
}

void Commands::Hdcp(bool on) {
    const int result = protocol.SwitchHdcpKey(on);
    // The line the dialog's HDCP radios trace for a failed switch, so both logs read alike.
    if (result == 0)
        console.Trace(core::Format("%s fail -- return code is 0x%X\n",
                                   on ? "OnBnClickedRdoEHdcpKey" : "OnBnClickedRdoDHdcpKey", result));
    if (Answered(result != 0)) ReportHdcp(report, on);
}

// ---- Burn, dump and verify

bool Commands::Plan(std::vector<FlashRange>& ranges) {
    std::string refusal =
        PlanFlashRanges(image, o.areas, protocol.FlashSectorSize(), protocol.FlashTotalSize(), ranges);
    if (!refusal.empty()) console.Fail(kExitRefused, refusal + "; nothing was written");
    return refusal.empty();
}

// A run's end, as the dialog's worker ends one: its verdict boxes, the file slot released,
// the worker's last trace lines. A stop request's text decides unless a failure came
// first; a run that neither passed nor was stopped failed.
void Commands::FinishRun(const RunOutcome& run, const char* unfinished) {
    for (const core::Box& box : run.boxes) console.Show(box);
    programmer.ReleaseFlashFile();
    console.Trace("Call ExitThread_0.\n");
    console.Trace("Call ExitThread_1.\n");
    if (!run.interruption.empty() && Interrupted(run.interruption)) return;
    if (!run.passed) console.Fail(kExitDeviceError, unfinished);
}

// The whole flash into `path`, through the file slot: a temporary file beside it that
// replaces it only when complete.
bool Commands::DumpInto(const std::string& path) {
    if (core::Status picked = programmer.SelectDumpFile(path); !picked) {
        console.Fail(kExitFileError, picked.error().code == ERROR_FILENAME_EXCED_RANGE
                                         ? "cannot write " + path + ": the path is too long"
                                         : picked.error().message);
        return false;
    }
    if (std::optional<core::Box> refusal = programmer.DumpRefusal()) {
        console.Show(*refusal);
        return false;
    }
    console.Trace("Start read data from flash.\n");
    FinishRun(programmer.Dump(), "the dump did not finish");
    return !Failed();
}

// Burns the bytes read, planned and hashed here: the slot takes this copy, not a second
// read of the file. Answers the run (an empty one when it did not start).
RunOutcome Commands::BurnImage() {
    BurnRequest request;
    request.otherArea = !o.areas.entire;
    request.areas = o.areas.boxes;
    if (core::Status picked = programmer.SelectBurnFile(slotPath, image); !picked) {
        console.Fail(kExitFileError, picked.error().code == ERROR_FILENAME_EXCED_RANGE
                                         ? "cannot read " + o.file + ": the path is too long"
                                         : picked.error().message);
        return {};
    }
    if (std::optional<core::Box> refusal = programmer.BurnRefusal(request)) {
        console.Show(*refusal);
        return {};
    }
    console.Trace("Start write data to flash.\n");
    RunOutcome run = programmer.Burn(request);
    FinishRun(run, "the burn did not finish");
    return run;
}

void Commands::Burn() {
    std::vector<FlashRange> ranges;
    if (!Identify() || !Plan(ranges)) return;
    ReportAreas(report, ranges);
    if (o.areas.entire &&
        !AcceptImageLength(console, image.size(), protocol.FlashSectorSize(), protocol.FlashTotalSize(), o.force))
        return;
    if (!o.backup.empty() && !DumpInto(o.backup)) {
        Outcome failed = console.TakeOutcome();
        console.Fail(failed.code, "the backup dump failed, nothing was burned: " + failed.text);
        return;
    }
    const RunOutcome run = BurnImage();

    // What the burn actually moved, which a failure or a stop leaves short of the plan.
    Sha256 sha;
    BurnSummary summary{.devicePath = session.DevicePath(), .image = o.file, .entire = o.areas.entire};
    bool allCompared = !run.written.empty();
    for (const WrittenSpan& span : run.written) {
        sha.Update(image.subspan(span.address, span.length));
        summary.bytes += span.length;
        allCompared = allCompared && span.compared;
    }
    summary.sha256 = sha.HexDigest();
    // The burn compares what it can; the areas it writes blind are read back here, unless
    // a stop ended it: then only its own compare can have verified what it wrote.
    summary.verification = console.CurrentOutcome().code == kExitCompare ? "failed" : "not run";
    if (!Failed()) {
        Difference difference;
        ULONG compared = CompareWithFlash(ranges, true, difference);
        if (!Failed()) summary.verification = difference.count ? "failed" : "passed";
        if (difference.count) console.Fail(kExitCompare, DifferenceText(difference, compared));
    } else if (!run.interruption.empty() && allCompared) {
        summary.verification = "passed";
    }
    // The failure, or the success box of a burn that passed.
    const Outcome now = console.CurrentOutcome();
    if (now.code != kExitOk) summary.result = now.text;
    else
        for (const core::Box& box : run.boxes)
            if (box.icon == core::Icon::Information) summary.result = box.text;
    if (now.code >= kExitInterrupted) summary.interruption = now.text;
    console.LogLine("summary", ReportBurn(report, summary));
}

// A dump to standard output is made complete in a private folder first, so that the output
// gets the whole flash or nothing: a pipe cannot be replaced the way a file is.
void Commands::Dump() {
    TemporaryFolder folder;
    const bool toOutput = o.file == kStandardStream;
    if (toOutput)
        if (core::Status created = folder.Create(); !created) {
            console.Fail(kExitFileError, created.error().message);
            return;
        }
    const std::string path = toOutput ? folder.File("flash.bin") : o.file;
    if (!Identify() || !DumpInto(path)) return;
    // What the result line names is the file as it lies on the disk, read back; only a dump
    // for standard output is held in memory, to be written there.
    if (!toOutput) {
        core::Result<FileDigest> digest = HashRegularFile(path);
        if (!digest) {
            console.Fail(kExitFileError, digest.error().message);
            return;
        }
        ReportDump(report, o.file, digest.value().size, digest.value().sha256);
        return;
    }
    core::Result<std::vector<std::uint8_t>> dumped = ReadRegularFile(path);
    if (!dumped) {
        console.Fail(kExitFileError, dumped.error().message);
        return;
    }
    ReportDump(report, o.file, dumped.value().size(), Sha256Of(dumped.value()));
    report.dumped = std::move(dumped.value());
}

void Commands::Verify() {
    std::vector<FlashRange> ranges;
    if (!Identify() || !Plan(ranges)) return;
    ReportAreas(report, ranges);
    Difference difference;
    ULONG compared = CompareWithFlash(ranges, false, difference);
    if (Failed()) return;
    ReportVerify(report, compared, difference);
    if (difference.count) console.Fail(kExitCompare, DifferenceText(difference, compared));
}

bool Commands::ReadFlash(const FlashRange& range, std::vector<std::uint8_t>& bytes) {
    bytes.assign(range.length, 0);
    auto lock = protocol.LockTransfers();  // nothing may come between the set-up and the burst
    if (!protocol.FlashAccess(AP_FLASH_BURST_LATER, kModeWholeFlash, range.address, range.length, {})) {
        console.Trace(core::Format("Unknown error: Couldn't execute AP_FLASH_BURST_LATER--case %d\n", kModeWholeFlash));
        return false;
    }
    ULONG done = 0;
    return protocol.FlashBurst(AP_FLASH_BURST_READ_TO_MEMORY, range.length, bytes, 0, done) == 0;
}

ULONG Commands::CompareWithFlash(const std::vector<FlashRange>& ranges, bool onlyUncompared, Difference& difference) {
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

}  // namespace

void RunCommand(Session& session, ConsoleReporter& console, const Options& options, const Image& image,
                Report& report) {
    Commands(session, console, options, image, report).Run();
}

}  // namespace cli
