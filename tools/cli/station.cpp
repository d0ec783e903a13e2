#include "tools/cli/station.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <list>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "core/format.h"
#include "core/stop_request.h"
#include "device_ids.h"
#include "platform/hid/change_notifier.h"
#include "protocol/flash_parts.h"
#include "tools/cli/cli_checks.h"
#include "tools/cli/commands.h"
#include "tools/cli/console_reporter.h"
#include "tools/cli/device_choice.h"
#include "tools/cli/flash_plan.h"
#include "tools/cli/json.h"
#include "tools/cli/log_file.h"
#include "tools/cli/report.h"
#include "tools/cli/runner.h"
#include "tools/cli/session.h"

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;

// How often the station looks again without an event: a safety net beside the notifier,
// the only way when the notifier could not be set up.
constexpr int kRescanMs = 2000;
constexpr int kPollMs = 250;

constexpr const char* kStationStopNotice =
    "interrupt received: finishing the boards in progress, taking no more; interrupt again to stop them as a burn stops";

// One board: the interfaces of one USB device (or one interface without a port).
struct Board {
    std::string key;  // BoardKey
    std::vector<InterfaceEntry> interfaces;
};

// Whether `now` is still the plug-in `served` was: the same serial number and one of its
// interfaces still there, at the same path with the same plug identity. (An interface of a
// board that appears after the others does not make it a new board. A board plugged in
// again, even between two looks at the same port with the same serial number and node,
// has a plug identity of its own.) An identity the transport could not tell is no change.
bool SamePlugIn(const Board& served, const Board& now) {
    if (served.interfaces.front().serial != now.interfaces.front().serial) return false;
    return std::any_of(now.interfaces.begin(), now.interfaces.end(), [&](const InterfaceEntry& entry) {
        return std::any_of(served.interfaces.begin(), served.interfaces.end(), [&](const InterfaceEntry& old) {
            return old.path == entry.path && (old.plugId.empty() || entry.plugId.empty() || old.plugId == entry.plugId);
        });
    });
}

// A board being served, in a thread of its own, and then its result.
struct BoardRun {
    Board board;
    int number = 0;  // in the order the boards were taken
    std::string label, serial;
    Outcome outcome;
    double seconds = 0;
    std::vector<std::pair<std::string, std::string>> fields;  // bytes, sha256, verification
    std::thread thread;
    std::atomic<bool> done{false};
};

std::string FieldOf(const BoardRun& run, const std::string& key) {
    for (const auto& [name, value] : run.fields)
        if (name == key) return value;
    return {};
}

// A pipe that a finished board writes a byte to, so the station's wait ends.
class WakePipe {
public:
    WakePipe() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) read_ = fds[0], write_ = fds[1];
    }
    ~WakePipe() {
        if (read_ >= 0) close(read_);
        if (write_ >= 0) close(write_);
    }
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;
    int Fd() const { return read_; }
    void Wake() const {
        const char byte = 1;
        if (write_ >= 0 && write(write_, &byte, 1) < 0) {
        }  // a full pipe has wakes enough
    }

private:
    int read_ = -1, write_ = -1;
};

void Drain(int fd) {
    char bytes[64];
    while (fd >= 0 && read(fd, bytes, sizeof bytes) > 0) {
    }
}

class Station {
public:
    Station(const Options& o, std::FILE* out, LogFile* log, const Image& image)
        : o_(o), out_(out), log_(log), image_(image), vid_(o.vid.value_or(uvc::kDeviceVendorId)),
          pid_(o.pid.value_or(uvc::kDeviceProductId)) {
        burn_ = o;
        burn_.command = Command::Burn;
        burn_.name = "burn";
    }
    ~Station() {
        for (auto& run : runs_)
            if (run->thread.joinable()) run->thread.join();
    }
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    int Run(int stopWakeFd);

private:
    std::vector<Board> Scan() const;
    void Dispatch(const std::vector<Board>& present);
    void Serve(BoardRun& run);
    void Collect();
    void PrintBoard(const BoardRun& run);
    int Finish(bool stopped);
    // A progress line on standard error (not with -q unless `always`) and in the log.
    void Progress(const std::string& text, const std::string& device = "-", bool always = false);
    bool Running(const std::string& key) const;
    bool Done() const { return o_.count != 0 && finished_ >= o_.count; }

    const Options& o_;
    Options burn_;  // what each board runs
    std::FILE* const out_;
    LogFile* const log_;
    const Image& image_;
    const std::uint16_t vid_, pid_;
    WakePipe finishedWake_;
    std::list<std::unique_ptr<BoardRun>> runs_;
    std::map<std::string, Board> served_;  // by board key, until the board goes
    std::uint32_t started_ = 0, finished_ = 0, passed_ = 0, failed_ = 0;
    int firstFailure_ = kExitOk;
    bool outputFailed_ = false;
};

void Station::Progress(const std::string& text, const std::string& device, bool always) {
    if (log_) log_->Write(device, "station", text);
    if (o_.verbosity == Verbosity::Quiet && !always) return;
    if (o_.json) std::fprintf(stderr, "%s\n", JsonObject().Add("station", text).Text().c_str());
    else std::fprintf(stderr, "station: %s\n", text.c_str());
}

// The boards present now with the station's ids, on its ports.
std::vector<Board> Station::Scan() const {
    std::vector<Board> boards;
    for (const InterfaceEntry& entry : ListHidInterfaces(false)) {
        if (entry.vid != vid_ || entry.pid != pid_) continue;
        if (!o_.ports.empty() &&
            std::find(o_.ports.begin(), o_.ports.end(), entry.portPath) == o_.ports.end())
            continue;
        const std::string key = BoardKey(entry);
        auto board = std::find_if(boards.begin(), boards.end(), [&](const Board& b) { return b.key == key; });
        if (board == boards.end()) board = boards.insert(boards.end(), Board{key, {}});
        board->interfaces.push_back(entry);
    }
    return boards;
}

bool Station::Running(const std::string& key) const {
    return std::any_of(runs_.begin(), runs_.end(), [&](const auto& run) { return run->board.key == key; });
}

// Forgets the served boards that went (or were replaced at their port), then starts the
// waiting ones while there is room.
void Station::Dispatch(const std::vector<Board>& present) {
    for (auto it = served_.begin(); it != served_.end();) {
        auto now = std::find_if(present.begin(), present.end(), [&](const Board& b) { return b.key == it->first; });
        it = now == present.end() || !SamePlugIn(it->second, *now) ? served_.erase(it) : std::next(it);
    }
    for (const Board& board : present) {
        if (o_.count != 0 && started_ >= o_.count) return;
        if (o_.jobs != 0 && runs_.size() >= o_.jobs) return;
        if (served_.count(board.key) || Running(board.key)) continue;
        auto run = std::make_unique<BoardRun>();
        run->board = board;
        run->number = static_cast<int>(++started_);
        run->label = DeviceLabel(board.interfaces.front().path, board.interfaces.front().portPath);
        run->serial = board.interfaces.front().serial;
        Progress(run->label + (run->serial.empty() ? "" : " (serial " + run->serial + ")") + ": burning", run->label);
        BoardRun& started = *run;
        runs_.push_back(std::move(run));
        started.thread = std::thread([this, &started] { Serve(started); });
    }
}

// The board's own burn, as `uvc-hid burn --device` would run it, with a reporter of its own.
void Station::Serve(BoardRun& run) {
    const auto start = Clock::now();
    {
        ConsoleReporter console(o_.json, ProgressStyle::None, log_, stderr, o_.verbosity);
        console.SetDevice(run.label);
        console.LabelLines();
        Session session(console);
        Report report = StartReport(burn_.name);
        if (session.OpenBoard(burn_, run.board.interfaces)) RunCommand(session, console, burn_, image_, report);
        if (!session.Serial().empty()) run.serial = session.Serial();
        run.outcome = console.TakeOutcome();
        run.fields = report.fields;
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.done.store(true, std::memory_order_release);
    finishedWake_.Wake();
}

void Station::Collect() {
    for (auto it = runs_.begin(); it != runs_.end();) {
        BoardRun& run = **it;
        if (!run.done.load(std::memory_order_acquire)) {
            ++it;
            continue;
        }
        run.thread.join();
        ++finished_;
        if (run.outcome.code == kExitOk) {
            ++passed_;
        } else {
            ++failed_;
            if (firstFailure_ == kExitOk) firstFailure_ = run.outcome.code;
        }
        served_.insert_or_assign(run.board.key, run.board);
        PrintBoard(run);
        it = runs_.erase(it);
    }
}

// "board=3 port=1-2.3 serial=A1 path=/dev/hidraw3 result=passed exit=0 seconds=3.21
//  bytes=262144 sha256=... verification=passed passed=3 failed=0"
void Station::PrintBoard(const BoardRun& run) {
    const InterfaceEntry& first = run.board.interfaces.front();
    const bool ok = run.outcome.code == kExitOk;
    const std::string seconds = core::Format("%.2f", run.seconds);
    std::string line = "board=" + std::to_string(run.number) + Field("port", first.portPath) +
                       Field("serial", run.serial) + Field("path", first.path) + Field("result", ok ? "passed" : "failed") +
                       Field("exit", std::to_string(run.outcome.code)) + Field("seconds", seconds);
    JsonObject board;
    board.Add("number", std::int64_t{run.number}).Add("port", first.portPath).Add("serial", run.serial);
    board.Add("path", first.path).Add("result", ok ? "passed" : "failed").Add("exit_code", std::int64_t{run.outcome.code});
    board.AddRaw("seconds", seconds);
    for (const char* key : {"bytes", "sha256", "verification"}) {
        const std::string value = FieldOf(run, key);
        if (value.empty()) continue;
        line += Field(key, value);
        if (std::string_view(key) == "bytes") board.AddRaw(key, value);
        else board.Add(key, value);
    }
    if (!ok) {
        line += Field("error", OneLine(run.outcome.text));
        board.Add("error", run.outcome.text);
    }
    line += Field("passed", std::to_string(passed_)) + Field("failed", std::to_string(failed_));
    const std::string json = JsonObject()
                                 .AddRaw("board", board.Text())
                                 .Add("passed", std::int64_t{passed_})
                                 .Add("failed", std::int64_t{failed_})
                                 .Text();
    if (log_) log_->WriteValue(run.label, "board", line, board.Text());
    std::fprintf(out_, "%s\n", (o_.json ? json : line).c_str());
    if (std::fflush(out_) != 0 || std::ferror(out_)) outputFailed_ = true;
}

int Station::Finish(bool stopped) {
    int code = firstFailure_;
    // Without --count a signal is the way a station ends; with it, one that came first
    // leaves the station's work undone.
    if (code == kExitOk && stopped && o_.count != 0 && finished_ < o_.count) code = InterruptedExit(core::StopSignal());
    const std::string line = "station" + Field("boards", std::to_string(finished_)) +
                             Field("passed", std::to_string(passed_)) + Field("failed", std::to_string(failed_)) +
                             Field("exit", std::to_string(code));
    JsonObject summary;
    summary.Add("boards", std::int64_t{finished_}).Add("passed", std::int64_t{passed_}).Add("failed", std::int64_t{failed_});
    summary.Add("exit_code", std::int64_t{code});
    if (log_) log_->WriteValue("-", "station", line, summary.Text());
    std::fprintf(out_, "%s\n", (o_.json ? JsonObject().AddRaw("station", summary.Text()).Text() : line).c_str());
    if (std::fflush(out_) != 0 || std::ferror(out_)) outputFailed_ = true;
    if (code == kExitOk && outputFailed_) return kExitOutput;
    return code;
}

int Station::Run(int stopWakeFd) {
    core::StopHold hold;  // the first request is the station's: no new boards
    hidtransport::ChangeNotifier notifier;  // made before the first look, so no change is missed
    const int timeout = notifier.Fd() >= 0 ? kRescanMs : kPollMs;
    std::string ports;
    for (const std::string& port : o_.ports) ports += (ports.empty() ? "" : ",") + port;
    Progress("waiting for boards " + Hex(vid_, 4) + ":" + Hex(pid_, 4) +
             (ports.empty() ? " on every port" : " on ports " + ports));
    bool stopping = false;
    Dispatch(Scan());
    for (;;) {
        Collect();
        if (!stopping && core::StopRequestsReceived() > 0) {
            stopping = true;
            // Said even with -q, as a burn announces a deferred stop: the operator must know
            // why the station goes on.
            Progress(std::string(kStationStopNotice) + " (" + std::to_string(runs_.size()) + " in progress)", "-", true);
        }
        if (Done() || (stopping && runs_.empty())) break;
        pollfd fds[3] = {{finishedWake_.Fd(), POLLIN, 0}, {stopWakeFd, POLLIN, 0}, {notifier.Fd(), POLLIN, 0}};
        poll(fds, 3, stopping ? -1 : timeout);
        Drain(finishedWake_.Fd());
        Drain(stopWakeFd);
        if (fds[2].revents & POLLIN) notifier.Drain();
        // Every wake looks again: a board that went frees its port, one that came is served.
        if (!stopping && !Done()) Dispatch(Scan());
    }
    return Finish(stopping);
}

}  // namespace

std::string StationImageRefusal(std::span<const std::uint8_t> image, const AreaChoice& areas) {
    std::string refusal;
    ULONG largest = 0;
    for (const FlashPart& part : FlashPartTable) {
        const ULONG total = FlashPartTotalSize(part);
        std::vector<FlashRange> ranges;
        std::string why = PlanFlashRanges(image, areas, part.sectorSize, total, ranges);
        if (why.empty() && areas.entire && image.size() < part.sectorSize)
            why = "the image (" + std::to_string(image.size()) + " bytes) is shorter than one sector of the flash";
        if (why.empty()) return {};
        // The refusal for the largest flash says best why no board could take the image.
        if (total >= largest) largest = total, refusal = why;
    }
    return refusal + "; no flash part could take it, no board was burned";
}

int RunStation(const Options& o, std::FILE* out, int stopWakeFd) {
    std::string refusal;
    int code = kExitOk;
    std::vector<std::uint8_t> bytes;
    TemporaryFolder folder;
    Image image;
    core::Result<std::unique_ptr<LogFile>> log = std::unique_ptr<LogFile>();
    if (core::Status distinct = SameFileInTwoRoles(o); !distinct) {
        refusal = distinct.error().message, code = kExitUsage;
    } else if (log = OpenLogFile(o); !log) {
        refusal = log.error().message, code = kExitFileError;
    } else if (core::Status prepared = PrepareFiles(o, bytes); !prepared) {
        refusal = prepared.error().message, code = kExitFileError;
    } else if (std::string why = StationImageRefusal(bytes, o.areas); !why.empty()) {
        refusal = why, code = kExitRefused;
    } else if (core::Status created = folder.Create(); !created) {
        refusal = created.error().message, code = kExitFileError;
    } else if (core::Result<std::string> kept = folder.Keep("image.bin", bytes); !kept) {
        refusal = kept.error().message, code = kExitFileError;
    } else {
        // Every board's slot holds this private copy, so the file may change or go meanwhile.
        image = {bytes, kept.value()};
    }
    LogFile* const logFile = log ? log.value().get() : nullptr;
    Outcome outcome{code, refusal};
    if (code != kExitOk) {
        std::fprintf(stderr, "uvc-hid: %s\n", refusal.c_str());
        if (o.json) {
            JsonObject station;
            station.Add("boards", std::int64_t{0}).Add("passed", std::int64_t{0}).Add("failed", std::int64_t{0});
            station.Add("exit_code", std::int64_t{code}).Add("error", refusal);
            std::fprintf(out, "%s\n", JsonObject().AddRaw("station", station.Text()).Text().c_str());
        }
    } else {
        if (logFile) logFile->Write("-", "station", "image " + o.file + ", " + std::to_string(bytes.size()) + " bytes");
        outcome.code = Station(o, out, logFile, image).Run(stopWakeFd);
    }
    if (const std::string logError = FinishLog(o, logFile, outcome); !logError.empty())
        std::fprintf(stderr, "uvc-hid: %s\n", logError.c_str());
    return outcome.code;
}

}  // namespace cli
