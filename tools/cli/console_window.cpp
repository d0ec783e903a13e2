#include "tools/cli/console_window.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "tools/cli/json.h"
#include "ui/services/control_ids.h"

namespace cli {

namespace ids = ui::ids;

namespace {

constexpr auto kBarRedraw = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;

std::string_view WithoutNewline(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    return line;
}

// A log entry is one line: line breaks inside a text (the burn verdict has some) are escaped.
std::string OneLine(std::string_view text) {
    std::string out;
    for (char c : WithoutNewline(text)) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

std::string TimeStamp() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string Duration(double seconds) {
    auto whole = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

}  // namespace

int ClassifyBox(ui::BoxOwner owner, std::string_view text, ui::Icon icon) {
    if (icon == ui::Icon::Information || icon == ui::Icon::None) return kExitOk;
    if (icon == ui::Icon::Warning) return kExitFileError;  // the full disk under a dump
    if (text == "HID Device no found !") return kExitNoDevice;
    // A device this user may not open is no device to work with; the text says how to get access.
    if (text.find("is present, but this user may not open it") != std::string_view::npos) return kExitNoDevice;
    if (text.starts_with("device busy")) return kExitBusy;
    if (text.starts_with("Please select the") || text == "The file path is too long !") return kExitFileError;
    if (text == "Please execute Get ID function !") return kExitDeviceError;
    if (text == "- Compare NG, Firmware update failed !") return kExitCompare;
    // The handlers' own refusals before a run are owned by the dialog; a worker's are not.
    return owner == ui::BoxOwner::Dialog ? kExitRefused : kExitDeviceError;
}

int ClassifyTrace(std::string_view line) {
    if (line.starts_with("Unknown error:")) return kExitDeviceError;
    if (line.find("Compare data fail") != std::string_view::npos) return kExitCompare;
    if (line.find("Read data fail") != std::string_view::npos) return kExitFileError;  // a short dump-file write
    if (line.find("dump file fail") != std::string_view::npos) return kExitFileError;  // its flush or its rename
    if (line.find("fail -- return code") != std::string_view::npos) return kExitDeviceError;
    return kExitOk;
}

ConsoleWindow::ConsoleWindow(bool json, ProgressStyle progress, std::FILE* log, std::FILE* err)
    : json_(json), progress_(progress), log_(log), err_(err) {}

void ConsoleWindow::Trace(std::string_view line) {
    std::lock_guard guard(lock_);
    if (json_) {
        std::fprintf(err_, "%s\n", JsonObject().Add("trace", WithoutNewline(line)).Text().c_str());
    } else {
        if (barOpen_) std::fputc('\n', err_);
        barOpen_ = false;
        std::fprintf(err_, "%s\n", OneLine(line).c_str());
    }
    WriteLog(OneLine(line));
    if (int code = ClassifyTrace(line); code != kExitOk && outcome_.code == kExitOk)
        outcome_ = {code, std::string(WithoutNewline(line))};
}

void ConsoleWindow::MessageBox(ui::BoxOwner owner, std::string_view text, std::string_view caption, ui::Icon icon) {
    std::lock_guard guard(lock_);
    boxes_.push_back({std::string(caption), std::string(text)});
    if (!json_) {
        if (barOpen_) std::fputc('\n', err_);
        barOpen_ = false;
        std::fprintf(err_, "[%.*s] %.*s\n", static_cast<int>(caption.size()), caption.data(),
                     static_cast<int>(text.size()), text.data());
    }
    WriteLog("[" + OneLine(caption) + "] " + OneLine(text));
    if (icon == ui::Icon::Information) {
        ++infoBoxes_;
        lastInfo_ = std::string(text);
    }
    if (int code = ClassifyBox(owner, text, icon); code != kExitOk && outcome_.code == kExitOk)
        outcome_ = {code, std::string(text)};
}

std::string ConsoleWindow::GetControlText(int id, int maxCount) {
    std::lock_guard guard(lock_);
    std::string text = texts_[id];
    if (maxCount <= 0) return {};
    if (text.size() >= static_cast<std::size_t>(maxCount)) text.resize(static_cast<std::size_t>(maxCount - 1));
    return text;
}

void ConsoleWindow::SetControlText(int id, std::string_view text) {
    std::lock_guard guard(lock_);
    texts_[id] = std::string(text);
    // A burst ends by setting "Status: Wait"; its last progress still names what it did.
    if (id == ids::kStatusText && text.starts_with("Status: ") && text != "Status: Wait")
        transferStatus_ = std::string(text.substr(8));
}

void ConsoleWindow::EnableControl(int id, bool enable) {
    std::lock_guard guard(lock_);
    enabled_[id] = enable;
}

bool ConsoleWindow::IsControlEnabled(int id) {
    std::lock_guard guard(lock_);
    auto it = enabled_.find(id);
    return it == enabled_.end() || it->second;
}

int ConsoleWindow::GetCheck(int id) {
    std::lock_guard guard(lock_);
    return checks_[id];
}

void ConsoleWindow::SetCheck(int id, int state) {
    std::lock_guard guard(lock_);
    checks_[id] = state;
}

void ConsoleWindow::SelectListItem(int id, int index) {
    std::lock_guard guard(lock_);
    selections_[id] = index;
}

int ConsoleWindow::GetListSelection(int id) {
    std::lock_guard guard(lock_);
    auto it = selections_.find(id);
    return it == selections_.end() ? -1 : it->second;
}

void ConsoleWindow::RequestClose() {
    std::lock_guard guard(lock_);
    closeRequested_ = true;
}

bool ConsoleWindow::OpenFileDialog(ui::BoxOwner, const ui::OpenFileRequest&, std::string& path) {
    std::lock_guard guard(lock_);
    if (!nextPick_) return false;
    path = *nextPick_;
    nextPick_.reset();
    return true;
}

void ConsoleWindow::AnswerNextPick(std::string path) {
    std::lock_guard guard(lock_);
    nextPick_ = std::move(path);
}

void ConsoleWindow::Fail(int code, std::string text) {
    std::lock_guard guard(lock_);
    if (outcome_.code == kExitOk) outcome_ = {code, std::move(text)};
}

Outcome ConsoleWindow::TakeOutcome() {
    std::lock_guard guard(lock_);
    return std::exchange(outcome_, Outcome{});
}

Outcome ConsoleWindow::CurrentOutcome() {
    std::lock_guard guard(lock_);
    return outcome_;
}

std::vector<ShownBox> ConsoleWindow::Boxes() {
    std::lock_guard guard(lock_);
    return boxes_;
}

int ConsoleWindow::InfoBoxes() {
    std::lock_guard guard(lock_);
    return infoBoxes_;
}

std::string ConsoleWindow::LastInfoText() {
    std::lock_guard guard(lock_);
    return lastInfo_;
}

bool ConsoleWindow::CloseRequested() {
    std::lock_guard guard(lock_);
    return closeRequested_;
}

void ConsoleWindow::LogLine(std::string_view line) {
    std::lock_guard guard(lock_);
    WriteLog(OneLine(line));
}

void ConsoleWindow::Warn(std::string text) {
    std::lock_guard guard(lock_);
    if (barOpen_) std::fputc('\n', err_);
    barOpen_ = false;
    if (json_) std::fprintf(err_, "%s\n", JsonObject().Add("warning", text).Text().c_str());
    else std::fprintf(err_, "uvc-hid: warning: %s\n", text.c_str());
    WriteLog("warning: " + OneLine(text));
    warnings_.push_back(std::move(text));
}

std::vector<std::string> ConsoleWindow::Warnings() {
    std::lock_guard guard(lock_);
    return warnings_;
}

std::string ConsoleWindow::LogError() {
    std::lock_guard guard(lock_);
    return logError_;
}

// One whole line per write, checked; after the first failure the log gets nothing more,
// so it never holds lines with a gap before them.
void ConsoleWindow::WriteLog(const std::string& line) {
    if (log_ == nullptr || !logError_.empty()) return;
    std::string stamped = TimeStamp() + " " + line + "\n";
    errno = 0;
    if (std::fputs(stamped.c_str(), log_) == EOF || std::fflush(log_) == EOF || std::ferror(log_))
        logError_ = errno != 0 ? std::strerror(errno) : "write error";
}

// A new burst: its progress starts from nothing.
void ConsoleWindow::SetProgressRange(int, std::uint32_t total) {
    std::lock_guard guard(lock_);
    total_ = total;
    done_ = 0;
    shownPercent_ = 0;
    start_ = std::chrono::steady_clock::now();
    lastDraw_ = {};
}

void ConsoleWindow::SetProgressPosition(int, std::uint32_t position) {
    std::lock_guard guard(lock_);
    ShowProgress(position, false);
}

void ConsoleWindow::PostProgress(int doneId, int, std::uint32_t done) {
    std::lock_guard guard(lock_);
    texts_[doneId] = std::to_string(done);
    ShowProgress(done, false);
}

void ConsoleWindow::FlushProgress() {
    std::lock_guard guard(lock_);
    ShowProgress(done_, true);
    if (barOpen_) std::fputc('\n', err_);
    barOpen_ = false;
}

void ConsoleWindow::ShowProgress(std::uint32_t done, bool final) {
    done_ = done;
    if (total_ == 0) return;
    if (progress_ == ProgressStyle::JsonLines) {
        auto percent = static_cast<std::uint32_t>(std::uint64_t{done} * 100 / total_);
        bool complete = done == total_;
        // One line per percent; the complete burst once, also when the flush repeats it.
        if (final ? shownPercent_ > 100 || !complete : percent <= shownPercent_) return;
        shownPercent_ = complete ? 101 : percent;
        JsonObject progress;
        progress.Add("status", transferStatus_).Add("done", std::int64_t{done}).Add("total", std::int64_t{total_});
        std::fprintf(err_, "%s\n", JsonObject().AddRaw("progress", progress.Text()).Text().c_str());
    } else if (progress_ == ProgressStyle::Bar) {
        auto now = std::chrono::steady_clock::now();
        if (!final && done != total_ && now - lastDraw_ < kBarRedraw) return;
        lastDraw_ = now;
        DrawBar(done);
    }
}

// "Write [#######-----]  65536/262144 bytes  120.4 KiB/s  0:02 left"
void ConsoleWindow::DrawBar(std::uint32_t done) {
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    double rate = seconds > 0 ? done / seconds : 0;
    auto filled = static_cast<int>(std::uint64_t{done} * kBarWidth / total_);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(kBarWidth, '-');
    std::string left = rate > 0 ? Duration((total_ - done) / rate) + " left" : "";
    std::fprintf(err_, "\r%-7s [%s] %u/%u bytes  %.1f KiB/s  %s   ", transferStatus_.c_str(), bar.c_str(), done, total_,
                 rate / 1024, left.c_str());
    std::fflush(err_);
    barOpen_ = true;
}

}  // namespace cli
