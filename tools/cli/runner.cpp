#include "tools/cli/runner.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/cli/cli_checks.h"
#include "tools/cli/commands.h"
#include "tools/cli/console_reporter.h"
#include "tools/cli/device_choice.h"
#include "tools/cli/report.h"
#include "tools/cli/session.h"

namespace cli {

namespace {

ProgressStyle ChooseProgress(const Options& o) {
    if (o.json) return ProgressStyle::JsonLines;
    return isatty(STDERR_FILENO) ? ProgressStyle::Bar : ProgressStyle::None;
}

// The command on its device, once its files passed their checks.
void RunOnDevice(const Options& o, std::span<const std::uint8_t> image, ConsoleReporter& console, Report& report) {
    Session session(console);
    const bool ready = session.Open(o);
    if (session.DeviceOpened()) {
        const HidDevice& device = session.Device();
        ReportDevice(report, session.DevicePath(), device.attributes.VendorID, device.attributes.ProductID);
    }
    if (ready) RunCommand(session, console, o, image, report);
}

}  // namespace

int RunCommandLine(const Options& o, std::FILE* out) {
    std::clearerr(stderr);  // a failed write to it is judged per run
    std::FILE* log = nullptr;
    // One file in two roles would be read back with another role's bytes in it: refused first.
    std::string refusal;
    int refusalCode = kExitUsage;
    if (core::Status distinct = SameFileInTwoRoles(o); !distinct) {
        refusal = distinct.error().message;
    } else if (!o.log.empty()) {
        core::Result<std::FILE*> opened = OpenLog(o.log);
        if (opened) {
            log = opened.value();
        } else {
            refusal = opened.error().message;
            refusalCode = kExitFileError;
        }
    }
    if (!refusal.empty()) {
        ConsoleReporter console(o.json, ProgressStyle::None, nullptr);
        console.Fail(refusalCode, refusal);
        Report report = StartReport(o.name);
        Outcome outcome = console.TakeOutcome();
        Print(o, report, outcome, console, out);
        return outcome.code;
    }
    // One write per line, so that processes sharing a log append whole lines.
    if (log) std::setvbuf(log, nullptr, _IOLBF, 0);
    ConsoleReporter console(o.json, ChooseProgress(o), log);
    Report report = StartReport(o.name);
    std::vector<std::uint8_t> image;
    if (o.command == Command::List) {
        ReportInterfaces(report, ListHidInterfaces());
    } else if (core::Status prepared = PrepareFiles(o, image); !prepared) {
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
