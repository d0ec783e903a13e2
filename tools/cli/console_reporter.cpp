#include "tools/cli/console_reporter.h"

#include <utility>

#include "tools/cli/json.h"

namespace cli {

namespace {

constexpr auto kBarRedraw = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;

std::string_view WithoutNewline(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    return line;
}

std::string Duration(double seconds) {
    auto whole = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

}  // namespace

int ClassifyBox(core::BoxOwner owner, std::string_view text, core::Icon icon) {
    if (icon == core::Icon::Information || icon == core::Icon::None) return kExitOk;
    if (icon == core::Icon::Warning) return kExitFileError;  // the full disk under a dump
    if (text == "HID Device no found !") return kExitNoDevice;
    // A device this user may not open is no device to work with; the text says how to get access.
    if (text.find("is present, but this user may not open it") != std::string_view::npos) return kExitNoDevice;
    if (text.starts_with("device busy")) return kExitBusy;
    if (text.starts_with("Please select the") || text == "The file path is too long !") return kExitFileError;
    if (text == "Please execute Get ID function !") return kExitDeviceError;
    if (text == "- Compare NG, Firmware update failed !") return kExitCompare;
    // The refusals before a run are owned by the dialog; a run's verdicts are not.
    return owner == core::BoxOwner::Dialog ? kExitRefused : kExitDeviceError;
}

int ClassifyTrace(std::string_view line) {
    if (line.starts_with("Unknown error:")) return kExitDeviceError;
    if (line.find("Compare data fail") != std::string_view::npos) return kExitCompare;
    if (line.find("Read data fail") != std::string_view::npos) return kExitFileError;  // a short dump-file write
    if (line.find("dump file fail") != std::string_view::npos) return kExitFileError;  // its flush or its rename
    if (line.find("fail -- return code") != std::string_view::npos) return kExitDeviceError;
    return kExitOk;
}

ConsoleReporter::ConsoleReporter(bool json, ProgressStyle progress, LogFile* log, std::FILE* err, Verbosity verbosity)
    : json_(json), progress_(verbosity == Verbosity::Quiet ? ProgressStyle::None : progress), log_(log), err_(err),
      verbosity_(verbosity) {}

void ConsoleReporter::SetDevice(std::string device) {
    std::lock_guard guard(lock_);
    device_ = std::move(device);
    label_ = labelLines_ ? OneLine(device_) + ": " : "";
}

void ConsoleReporter::LabelLines() {
    std::lock_guard guard(lock_);
    labelLines_ = true;
    label_ = OneLine(device_) + ": ";
}

std::string ConsoleReporter::JsonLine(std::string_view key, std::string_view text) const {
    JsonObject line;
    if (!label_.empty()) line.Add("device", device_);
    return line.Add(key, text).Text();
}

void ConsoleReporter::EndBarLine() {
    if (barOpen_) std::fputc('\n', err_);
    barOpen_ = false;
}

void ConsoleReporter::Trace(std::string_view line) {
    std::lock_guard guard(lock_);
    if (verbosity_ != Verbosity::Verbose) {
    } else if (json_) {
        std::fprintf(err_, "%s\n", JsonLine("trace", WithoutNewline(line)).c_str());
    } else {
        EndBarLine();
        std::fprintf(err_, "%s%s\n", label_.c_str(), OneLine(line).c_str());
    }
    if (log_) log_->Write(device_, "trace", line);
    if (int code = ClassifyTrace(line); code != kExitOk && outcome_.code == kExitOk)
        outcome_ = {code, std::string(WithoutNewline(line))};
}

void ConsoleReporter::Show(const core::Box& box) {
    std::lock_guard guard(lock_);
    boxes_.push_back({box.caption, box.text});
    if (!json_ && verbosity_ != Verbosity::Quiet) {
        EndBarLine();
        std::fprintf(err_, "%s[%s] %s\n", label_.c_str(), box.caption.c_str(), box.text.c_str());
    }
    if (log_)
        log_->WriteValue(device_, "message", "[" + OneLine(box.caption) + "] " + OneLine(box.text),
                         JsonObject().Add("caption", box.caption).Add("text", box.text).Text());
    if (int code = ClassifyBox(box.owner, box.text, box.icon); code != kExitOk && outcome_.code == kExitOk)
        outcome_ = {code, box.text};
}

void ConsoleReporter::Fail(int code, std::string text) {
    std::lock_guard guard(lock_);
    if (outcome_.code == kExitOk) outcome_ = {code, std::move(text)};
}

Outcome ConsoleReporter::TakeOutcome() {
    std::lock_guard guard(lock_);
    return std::exchange(outcome_, Outcome{});
}

Outcome ConsoleReporter::CurrentOutcome() {
    std::lock_guard guard(lock_);
    return outcome_;
}

std::vector<ShownBox> ConsoleReporter::Boxes() {
    std::lock_guard guard(lock_);
    return boxes_;
}

void ConsoleReporter::LogLine(std::string_view kind, std::string_view line) {
    std::lock_guard guard(lock_);
    if (log_) log_->Write(device_, kind, line);
}

void ConsoleReporter::Warn(std::string text) {
    std::lock_guard guard(lock_);
    EndBarLine();
    if (json_) std::fprintf(err_, "%s\n", JsonLine("warning", text).c_str());
    else std::fprintf(err_, "%suvc-hid: warning: %s\n", label_.c_str(), text.c_str());
    if (log_) log_->WriteValue(device_, "warning", "warning: " + OneLine(text), JsonString(text));
    warnings_.push_back(std::move(text));
}

std::vector<std::string> ConsoleReporter::Warnings() {
    std::lock_guard guard(lock_);
    return warnings_;
}

std::string ConsoleReporter::LogError() { return log_ ? log_->Error() : std::string(); }

// The burst's name for its progress: "Status: Write" names it "Write"; the "Status: Wait"
// that ends a burst does not replace it, so the last progress still names what was done.
void ConsoleReporter::TakeStatus(std::string_view text) {
    if (text.starts_with("Status: ") && text != "Status: Wait") transferStatus_ = std::string(text.substr(8));
}

// A new burst: its progress starts from nothing.
void ConsoleReporter::Start(std::uint32_t total, std::string_view status) {
    std::lock_guard guard(lock_);
    TakeStatus(status);
    total_ = total;
    done_ = 0;
    shownPercent_ = 0;
    flushed_ = false;
    start_ = std::chrono::steady_clock::now();
    lastDraw_ = {};
    ShowProgress(0, false);
}

// Called at every report of a burst: with no progress shown, nothing to lock.
void ConsoleReporter::Post(std::uint32_t done) {
    if (progress_ == ProgressStyle::None) return;
    std::lock_guard guard(lock_);
    ShowProgress(done, false);
}

void ConsoleReporter::Position(std::uint32_t done) { Post(done); }

void ConsoleReporter::Status(std::string_view text) {
    std::lock_guard guard(lock_);
    TakeStatus(text);
}

// The final state of the burst, once however often it is asked for.
void ConsoleReporter::Flush() {
    std::lock_guard guard(lock_);
    if (!flushed_) ShowProgress(done_, true);
    flushed_ = true;
    EndBarLine();
}

void ConsoleReporter::ShowProgress(std::uint32_t done, bool final) {
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
        JsonObject line;
        if (!label_.empty()) line.Add("device", device_);
        std::fprintf(err_, "%s\n", line.AddRaw("progress", progress.Text()).Text().c_str());
    } else if (progress_ == ProgressStyle::Bar) {
        auto now = std::chrono::steady_clock::now();
        if (!final && done != total_ && now - lastDraw_ < kBarRedraw) return;
        lastDraw_ = now;
        DrawBar(done);
    }
}

// "Write [#######-----]  65536/262144 bytes  120.4 KiB/s  0:02 left"
void ConsoleReporter::DrawBar(std::uint32_t done) {
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
