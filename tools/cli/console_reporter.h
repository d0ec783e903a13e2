// Where the services' reports go in the command line: trace lines, message boxes and
// warnings on standard error (JSON lines with --json) and in the log, a burst's progress
// as a bar or JSON lines. Boxes and trace lines are judged as they arrive, so the first
// failure a service reports decides the exit status. Thread-safe.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "core/report.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/exit_codes.h"
#include "tools/cli/log_file.h"

namespace cli {

struct ShownBox {
    std::string caption;
    std::string text;
};

enum class ProgressStyle { None, Bar, JsonLines };

// The first failure reported since the last reset.
struct Outcome {
    int code = kExitOk;
    std::string text;
};

// The failure a message box reports: owner and icon tell a refusal before a run (owned by
// the dialog) from a run's verdict (no owner); a few texts name a file or the device.
int ClassifyBox(core::BoxOwner owner, std::string_view text, core::Icon icon);
// The failure a trace line reports, or kExitOk for a line that reports none.
int ClassifyTrace(std::string_view line);

class ConsoleReporter final : public core::Reporter, public core::ProgressSink {
public:
    // Diagnostics go to `err` as `verbosity` allows: trace lines with Verbose, boxes and
    // progress unless Quiet, warnings always. `log`, when set, gets all but progress.
    ConsoleReporter(bool json, ProgressStyle progress, LogFile* log, std::FILE* err = stderr,
                    Verbosity verbosity = Verbosity::Verbose);

    // The device the lines are about, for the log.
    void SetDevice(std::string device);
    // The lines on `err` name the device too (a station's boards share one standard error).
    void LabelLines();

    void Trace(std::string_view line) override;
    void Show(const core::Box& box) override;

    void Start(std::uint32_t total, std::string_view status) override;
    void Post(std::uint32_t done) override;
    void Flush() override;
    void Position(std::uint32_t done) override;
    void Status(std::string_view text) override;

    // Reports a failure found by the command line itself (a compare, a refusal).
    void Fail(int code, std::string text);
    Outcome TakeOutcome();  // and starts a new one
    Outcome CurrentOutcome();
    std::vector<ShownBox> Boxes();
    // A line of the log file of `kind` ("summary", "result", ...), e.g. the burn summary.
    void LogLine(std::string_view kind, std::string_view line);
    // Why the log could not be written (the first failure), or empty. A failed write is
    // not retried, and the command's own outcome is not touched by it.
    std::string LogError();
    // A caution that does not fail the run: on `err` at once (a JSON line with json), in
    // the log, and kept for the document.
    void Warn(std::string text);
    std::vector<std::string> Warnings();

private:
    void ShowProgress(std::uint32_t done, bool final);
    void DrawBar(std::uint32_t done);
    void EndBarLine();                        // under lock_
    void TakeStatus(std::string_view text);   // under lock_
    // A JSON line on err_, with the device when lines are labelled.
    std::string JsonLine(std::string_view key, std::string_view text) const;

    std::mutex lock_;
    const bool json_;
    const ProgressStyle progress_;
    LogFile* const log_;
    std::FILE* const err_;
    const Verbosity verbosity_;
    std::string device_;
    bool labelLines_ = false;
    std::string label_;   // "1-2.3: " before each plain line on err_, or empty
    std::vector<ShownBox> boxes_;
    Outcome outcome_;
    std::vector<std::string> warnings_;

    std::uint32_t total_ = 0;
    std::uint32_t done_ = 0;
    std::uint32_t shownPercent_ = 0;
    bool barOpen_ = false;
    bool flushed_ = false;        // the burst's final state is shown
    std::string transferStatus_;  // of the current burst: "Write", "Compare", "Read"
    std::chrono::steady_clock::time_point start_, lastDraw_;
};

}  // namespace cli
