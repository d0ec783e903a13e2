// The window services of the command line: controls are plain values the handlers set and
// the command line reads back; message boxes and trace lines are judged as they arrive,
// so the first failure a handler reports decides the exit status. Thread-safe: the burn
// and dump workers call it too.
#pragma once

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tools/cli/exit_codes.h"
#include "ui/services/window_services.h"

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
// the dialog) from a worker's outcome (no owner); a few texts name a file or the device.
int ClassifyBox(ui::BoxOwner owner, std::string_view text, ui::Icon icon);
// The failure a trace line reports, or kExitOk for a line that reports none.
int ClassifyTrace(std::string_view line);

class ConsoleWindow final : public ui::WindowServices {
public:
    // Diagnostics (trace, boxes, progress) go to `err`; `log`, when set, gets them time-stamped.
    ConsoleWindow(bool json, ProgressStyle progress, std::FILE* log, std::FILE* err = stderr);

    void Trace(std::string_view line) override;
    void MessageBox(ui::BoxOwner owner, std::string_view text, std::string_view caption, ui::Icon icon) override;
    bool HasControl(int) override { return true; }
    std::string GetControlText(int id, int maxCount) override;
    void SetControlText(int id, std::string_view text) override;
    void EnableControl(int id, bool enable) override;
    bool IsControlEnabled(int id) override;
    int GetCheck(int id) override;
    void SetCheck(int id, int state) override;
    void AddListItem(int, std::string_view) override {}
    void SelectListItem(int id, int index) override;
    int GetListSelection(int id) override;
    void SetProgressRange(int id, std::uint32_t total) override;
    void SetProgressPosition(int id, std::uint32_t position) override;
    void PostProgress(int doneId, int barId, std::uint32_t done) override;
    void FlushProgress() override;
    void SetTextLimit(int, int) override {}
    void RequestClose() override;
    void EndDialog(int) override {}
    void ShowAboutBox() override {}
    // The path set by AnswerNextPick stands for the user's choice in the file dialog.
    bool OpenFileDialog(ui::BoxOwner, const ui::OpenFileRequest&, std::string& path) override;
    int ReadProfileInt(std::string_view, std::string_view, int defaultValue) override { return defaultValue; }
    void WriteProfileInt(std::string_view, std::string_view, int) override {}

    void AnswerNextPick(std::string path);
    // Reports a failure found by the command line itself (a compare, a refusal).
    void Fail(int code, std::string text);
    Outcome TakeOutcome();  // and starts a new one
    Outcome CurrentOutcome();
    std::vector<ShownBox> Boxes();
    int InfoBoxes();
    std::string LastInfoText();
    bool CloseRequested();
    // A line of the log file (time-stamped), e.g. the summary.
    void LogLine(std::string_view line);
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
    void WriteLog(const std::string& line);  // under lock_

    std::mutex lock_;
    const bool json_;
    const ProgressStyle progress_;
    std::FILE* const log_;
    std::FILE* const err_;
    std::map<int, std::string> texts_;
    std::map<int, int> checks_;
    std::map<int, bool> enabled_;
    std::map<int, int> selections_;
    std::optional<std::string> nextPick_;
    std::vector<ShownBox> boxes_;
    int infoBoxes_ = 0;
    std::string lastInfo_;
    Outcome outcome_;
    std::string logError_;
    std::vector<std::string> warnings_;
    bool closeRequested_ = false;

    std::uint32_t total_ = 0;
    std::uint32_t done_ = 0;
    std::uint32_t shownPercent_ = 0;
    bool barOpen_ = false;
    std::string transferStatus_;  // of the current burst: "Write", "Compare", "Read"
    std::chrono::steady_clock::time_point start_, lastDraw_;
};

}  // namespace cli
