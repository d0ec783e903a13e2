#include "tools/cli/runner.h"

#include <unistd.h>

#include <memory>

#include "tools/cli/cli_checks.h"
#include "tools/cli/commands.h"
#include "tools/cli/console_reporter.h"
#include "tools/cli/device_choice.h"
#include "tools/cli/report.h"
#include "tools/cli/session.h"
#include "tools/cli/station.h"

namespace cli {

namespace {

ProgressStyle ChooseProgress(const Options& o) {
    if (o.json) return ProgressStyle::JsonLines;
    return isatty(STDERR_FILENO) ? ProgressStyle::Bar : ProgressStyle::None;
}

// The command on its device, once its files passed their checks.
void RunOnDevice(const Options& o, const Image& image, ConsoleReporter& console, Report& report) {
    Session session(console);
    const bool ready = session.Open(o);
    if (!session.Candidates().empty()) ReportCandidates(report, session.Candidates());
    if (session.DeviceOpened()) {
        const HidDevice& device = session.Device();
        ReportDevice(report, session.DevicePath(), device.attributes.VendorID, device.attributes.ProductID,
                     session.PortPath(), session.Serial());
    }
    if (ready) RunCommand(session, console, o, image, report);
}

// What the command needs before the device is opened: its files checked, its image read
// and, from standard input, kept where the flash programmer's slot can hold it.
core::Status Prepare(const Options& o, std::FILE* out, std::vector<std::uint8_t>& bytes, TemporaryFolder& folder,
                     Image& image) {
    if (o.command == Command::Dump && o.file == kStandardStream && isatty(fileno(out)))
        return core::Error{0, "cannot dump to standard output: it is a terminal (redirect it to a file or a pipe)"};
    if (core::Status prepared = PrepareFiles(o, bytes); !prepared) return prepared;
    image = {bytes, o.file};
    if (o.command != Command::Burn || o.file != kStandardStream) return core::Ok();
    if (core::Status created = folder.Create(); !created) return created;
    core::Result<std::string> kept = folder.Keep("image.bin", bytes);
    if (!kept) return kept.error();
    image.slotPath = kept.value();
    return core::Ok();
}

}  // namespace

core::Result<std::unique_ptr<LogFile>> OpenLogFile(const Options& o) {
    if (o.log.empty()) return std::unique_ptr<LogFile>();
    core::Result<std::FILE*> opened = OpenLog(o.log);
    if (!opened) return opened.error();
    return std::make_unique<LogFile>(opened.value(), o.logJson);
}

std::string FinishLog(const Options& o, LogFile* log, Outcome& outcome) {
    std::string logError = log ? log->Close() : std::string();
    if (logError.empty()) return logError;
    logError = "cannot append to " + o.log + ": " + logError;
    if (outcome.code == kExitOk) outcome = {kExitFileError, logError};
    else outcome.text += "; " + logError;
    return logError;
}

int RunCommandLine(const Options& o, std::FILE* out, int stopWakeFd) {
    std::clearerr(stderr);  // a failed write to it is judged per run
    if (o.command == Command::Station) return RunStation(o, out, stopWakeFd);
    // One file in two roles would be read back with another role's bytes in it: refused first.
    std::string refusal;
    int refusalCode = kExitUsage;
    core::Result<std::unique_ptr<LogFile>> log = std::unique_ptr<LogFile>();
    if (core::Status distinct = SameFileInTwoRoles(o); !distinct) {
        refusal = distinct.error().message;
    } else if (log = OpenLogFile(o); !log) {
        refusal = log.error().message;
        refusalCode = kExitFileError;
    }
    if (!refusal.empty()) {
        ConsoleReporter console(o.json, ProgressStyle::None, nullptr, stderr, o.verbosity);
        console.Fail(refusalCode, refusal);
        Report report = StartReport(o.name);
        Outcome outcome = console.TakeOutcome();
        Print(o, report, outcome, console, out);
        return outcome.code;
    }
    LogFile* const logFile = log.value().get();
    ConsoleReporter console(o.json, ChooseProgress(o), logFile, stderr, o.verbosity);
    Report report = StartReport(o.name);
    std::vector<std::uint8_t> bytes;
    TemporaryFolder folder;
    Image image;
    if (o.command == Command::List) {
        ReportInterfaces(report, ListHidInterfaces());
    } else if (core::Status prepared = Prepare(o, out, bytes, folder, image); !prepared) {
        console.Fail(kExitFileError, prepared.error().message);
    } else {
        RunOnDevice(o, image, console, report);
    }
    Outcome outcome = console.TakeOutcome();
    // Trace lines, progress or boxes that could not be written (a closed pipe) fail a run
    // that had passed; the run itself went on regardless.
    if (outcome.code == kExitOk && std::ferror(stderr)) outcome = {kExitOutput, "cannot write to standard error"};
    // The log is finished before the result is printed, so that a log that could not be
    // written is part of it: a file error, after the command's own failure if it had one.
    console.LogLine("result", ResultLine(o.name, outcome, report));
    FinishLog(o, logFile, outcome);
    if (!Print(o, report, outcome, console, out) && outcome.code == kExitOk) {
        std::fprintf(stderr, "uvc-hid: cannot write to standard output\n");
        return kExitOutput;
    }
    return outcome.code;
}

}  // namespace cli
