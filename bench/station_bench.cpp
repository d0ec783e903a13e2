// Two figures of the production line, printed, not judged (not part of the test suite):
//
// 1. The station serving 8 boards against serving 1, each board a simulator program
//    (uvc_hid_sim --pace-us) that takes 250 us of the device's time per transfer (a
//    high-speed device's control transfer) and sleeps it, as a device the host waits on.
//    The 8 simulators run on this machine beside the station; the transfers wait on the
//    devices, so boards in parallel should cost little more than one: host CPU per
//    transfer is what decides it.
// 2. A flash chunk through uvc-hid and the simulator program (an 8 MiB dump) against a bare
//    round trip of the same sizes over a Unix socket between two processes, both with the
//    processes free to run on any core and with every process on one core. Beside it, the
//    same exchange through the socket transport alone (no command line around it), which
//    shows what of the chunk is the socket path's and what is uvc-hid's own work.
//
//   uvc_station_bench [--quick]    (--quick: one run of each station figure instead of three,
//                                   three rounds of the socket figures instead of seven)
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/burst_frames.h"
#include "platform/hid/hid_library.h"
#include "platform/hid/hid_transport.h"
#include "sim/config.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/runner.h"
#include "tests/support/spawn.h"


namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kPaceMicros = 250;
constexpr std::uint16_t k256KiBPartRow = 34;
constexpr std::uint16_t k8MiBPartRow = 29;
constexpr const char* kBenchProductId = "be05";  // no running simulator has it
constexpr std::size_t kChunk = 256;               // flash bytes per read report
constexpr std::size_t kRequestBytes = 8 + 5;      // GetInput: header, report ID, length
constexpr std::size_t kReplyBytes = 8 + 4 + 257;  // Reply: header, status, the report
constexpr int kTrips = 32768;                     // round trips of the bare and the transport loops

int runs = 3;          // of each station figure
int socketRounds = 7;  // of the socket figures
std::vector<pid_t> runningSimulators;  // stopped by Fail too
std::string benchFolder;               // the private runtime folder, removed by Fail too

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int Finish(pid_t pid);

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "uvc_station_bench: %s\n", what.c_str());
    for (pid_t pid : runningSimulators) kill(pid, SIGINT), Finish(pid);
    std::error_code ignored;
    if (!benchFolder.empty()) fs::remove_all(benchFolder, ignored);
    std::exit(1);
}

// ---- programs

// Standard error is dropped: a benchmark's figures go to standard output.
pid_t Start(const std::vector<std::string>& args, const std::string& out) {
    return testsupport::Spawn(args, out, "/dev/null");
}

int Finish(pid_t pid) {
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double ProgramSeconds(const std::vector<std::string>& args, const std::string& out) {
    const auto start = Clock::now();
    const int code = Finish(Start(args, out));
    if (code != 0) Fail(args[1] + " ended with status " + std::to_string(code));
    return Seconds(Clock::now() - start);
}

// A simulator program, serving once its socket's path is printed; stopped with SIGINT.
class Simulator {
public:
    Simulator(const std::string& folder, const std::string& name, std::vector<std::string> options) {
        out_ = folder + "/" + name + ".out";
        std::vector<std::string> args{UVC_SIM_PROGRAM, "--name", name, "--pid", kBenchProductId};
        args.insert(args.end(), options.begin(), options.end());
        pid_ = Start(args, out_);
        if (pid_ <= 0) Fail("cannot start " + std::string(UVC_SIM_PROGRAM));
        runningSimulators.push_back(pid_);
    }
    ~Simulator() {
        kill(pid_, SIGINT);
        Finish(pid_);
        std::erase(runningSimulators, pid_);
    }
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // The socket's path once it serves.
    const std::string& Socket() {
        for (int tick = 0; tick < 5000 && socket_.empty(); ++tick) {
            std::FILE* file = std::fopen(out_.c_str(), "r");
            char line[512] = {};
            if (file && std::fgets(line, sizeof line, file) && std::string(line).find('\n') != std::string::npos) {
                const std::string text = line;
                if (auto at = text.find("ready: "); at != std::string::npos)
                    socket_ = text.substr(at + 7, text.size() - at - 8);
            }
            if (file) std::fclose(file);
            if (socket_.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (socket_.empty()) Fail("the simulator did not start");
        return socket_;
    }

private:
    pid_t pid_ = -1;
    std::string out_;
    std::string socket_;
};

// ---- the station

// The station's wall time for `boards` simulators present from its start, each burnt whole.
double StationSeconds(int boards, const std::string& folder, const std::string& image) {
    std::vector<std::unique_ptr<Simulator>> simulators;
    for (int i = 0; i < boards; ++i)
        simulators.push_back(std::make_unique<Simulator>(
            folder, "station-" + std::to_string(i) + ".sock",
            std::vector<std::string>{"--part-row", std::to_string(k256KiBPartRow), "--pace-us",
                                     std::to_string(kPaceMicros), "--serial", "BENCH-" + std::to_string(i),
                                     "--port-path", "9-" + std::to_string(i + 1)}));
    for (auto& simulator : simulators) simulator->Socket();
    cli::Options options;
    if (std::string e = cli::ParseCommandLine(
            {"station", image, "--count", std::to_string(boards), "--vid", "1209", "--pid", kBenchProductId, "-q"},
            options);
        !e.empty())
        Fail(e);
    std::FILE* out = std::tmpfile();
    const auto start = Clock::now();
    const int code = cli::RunCommandLine(options, out, -1);
    const double seconds = Seconds(Clock::now() - start);
    std::fclose(out);
    if (code != 0) Fail("the station ended with status " + std::to_string(code));
    return seconds;
}

void StationFigures(const std::string& folder) {
    const std::string image = folder + "/image.bin";
    {
        std::vector<char> bytes(256 * 1024);
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 13 + (i >> 9));
        std::FILE* file = std::fopen(image.c_str(), "wb");
        if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose(file) != 0)
            Fail("cannot write " + image);
    }
    std::printf("station, 256 KiB burnt and compared per board, each board a simulator program at --pace-us %d:\n",
                kPaceMicros);
    std::vector<double> one, eight, ratios;  // each run's 8 boards against that run's one
    for (int run = 0; run < runs; ++run) {
        one.push_back(StationSeconds(1, folder, image));
        eight.push_back(StationSeconds(8, folder, image));
        ratios.push_back(eight.back() / one.back());
    }
    std::printf("  1 board %.3f s, 8 boards %.3f s: %.2fx (goal <= 1.25x)\n", Median(one), Median(eight),
                Median(ratios));
}

// ---- the socket path

// Microseconds per chunk of an 8 MiB dump through uvc-hid, beyond what `uvc-hid id` costs
// (start, open, claim, Get ID).
double UvcHidChunkMicros(const std::string& socket) {
    const double fixed = ProgramSeconds({UVC_CLI_PROGRAM, "id", "-q", "--device", socket}, "/dev/null");
    const double dump = ProgramSeconds(
        {UVC_CLI_PROGRAM, "dump", "-q", "/dev/shm/uvc-station-bench.bin", "--device", socket}, "/dev/null");
    std::remove("/dev/shm/uvc-station-bench.bin");
    return (dump - fixed) * 1e6 / ((8u << 20) / kChunk);
}

// Flash chunks read through the socket transport alone: a read burst of the whole flash,
// one input request a chunk.
class TransportLoop {
public:
    explicit TransportLoop(const std::string& socket) {
        std::u16string path(u"\\\\?\\simhid#");
        for (char c : fs::path(socket).filename().string()) path.push_back(static_cast<char16_t>(c));  // [A-Za-z0-9._-]
        for (const auto& provider : hidtransport::Providers())
            if (provider->Owns(path) && provider->Open(path, 0, 0, connection_) != ERROR_SUCCESS) connection_.reset();
        if (!connection_) Fail("cannot open the simulator through the socket transport");
    }

    // Microseconds per chunk of one burst.
    double ChunkMicros() {
        const sim::Config config;
        const sim::ReportConfig& data = config.input[static_cast<std::size_t>(sim::ReportKind::FlashData)];
        const auto announce = benchsupport::BurstFrames(kTrips * kChunk);
        if (connection_->SetOutputReport(announce[0]) != ERROR_SUCCESS ||
            connection_->SetOutputReport(announce[1]) != ERROR_SUCCESS)
            Fail("the simulator refused the read burst");
        std::vector<std::uint8_t> answer;
        const auto start = Clock::now();
        for (int i = 0; i < kTrips; ++i)
            if (connection_->GetInputReport(data.id, ULONG{data.count} + 1, answer) != ERROR_SUCCESS ||
                answer.size() != std::size_t{data.count} + 1)
                Fail("a flash chunk failed through the socket transport");
        return Seconds(Clock::now() - start) * 1e6 / kTrips;
    }

private:
    std::unique_ptr<hidtransport::Connection> connection_;
};

bool Exactly(int fd, void* data, std::size_t length, bool write) {
    auto* bytes = static_cast<char*>(data);
    while (length > 0) {
        ssize_t n = write ? ::write(fd, bytes, length) : ::read(fd, bytes, length);
        if (n <= 0) return false;
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// Round trips of a chunk's sizes between this process and a child.
class BareLoop {
public:
    BareLoop() {
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) Fail("socketpair failed");
        child_ = fork();
        if (child_ == 0) {
            close(pair[0]);
            char request[kRequestBytes], reply[kReplyBytes] = {};
            while (Exactly(pair[1], request, sizeof request, false) && Exactly(pair[1], reply, sizeof reply, true)) {
            }
            _exit(0);
        }
        close(pair[1]);
        fd_ = pair[0];
    }
    ~BareLoop() {
        close(fd_);
        Finish(child_);
    }
    BareLoop(const BareLoop&) = delete;
    BareLoop& operator=(const BareLoop&) = delete;

    double TripMicros() {
        char request[kRequestBytes] = {}, reply[kReplyBytes];
        const auto start = Clock::now();
        for (int i = 0; i < kTrips; ++i)
            if (!Exactly(fd_, request, sizeof request, true) || !Exactly(fd_, reply, sizeof reply, false))
                Fail("the bare round trip failed");
        return Seconds(Clock::now() - start) * 1e6 / kTrips;
    }

private:
    pid_t child_ = -1;
    int fd_ = -1;
};

void SocketFigures(const std::string& folder) {
    cpu_set_t all, one;
    sched_getaffinity(0, sizeof all, &all);
    CPU_ZERO(&one);
    for (std::size_t cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &all)) {
            CPU_SET(cpu, &one);
            break;
        }
    std::printf("a flash chunk (%zu-byte request, %zu-byte reply) through uvc-hid and the simulator, 8 MiB dump:\n",
                kRequestBytes, kReplyBytes);
    for (bool pinned : {false, true}) {
        sched_setaffinity(0, sizeof(cpu_set_t), pinned ? &one : &all);  // the processes started inherit it
        // Round by round, the bare trip measured before and after uvc-hid and the transport
        // loop: each round's figures are set against its own bare trip, so the machine's
        // drift from round to round (its host's other guests) cancels out of the ratios.
        std::vector<double> uvcRuns, transportRuns, bareRuns, uvcRatios, transportRatios;
        {
            Simulator simulator(folder, "bench.sock", {"--part-row", std::to_string(k8MiBPartRow)});
            TransportLoop transportLoop(simulator.Socket());
            BareLoop bareLoop;
            for (int round = 0; round < socketRounds; ++round) {
                const double before = bareLoop.TripMicros();
                const double uvc = UvcHidChunkMicros(simulator.Socket());
                const double transport = transportLoop.ChunkMicros();
                const double bare = (before + bareLoop.TripMicros()) / 2;
                uvcRuns.push_back(uvc), transportRuns.push_back(transport), bareRuns.push_back(bare);
                uvcRatios.push_back(uvc / bare), transportRatios.push_back(transport / bare);
            }
        }
        std::printf("  %-12s uvc-hid %.1f us a chunk, bare round trip %.1f us: %.2fx (goal <= 1.25x)\n",
                    pinned ? "one core:" : "unpinned:", Median(uvcRuns), Median(bareRuns), Median(uvcRatios));
        std::printf("  %-12s the socket transport alone %.1f us a chunk: %.2fx of the bare trip\n", "",
                    Median(transportRuns), Median(transportRatios));
    }
    sched_setaffinity(0, sizeof all, &all);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--quick") runs = 1, socketRounds = 3;
    // A private runtime folder: no simulator of the user's is seen, none of ours is left.
    char pattern[] = "/tmp/uvc-station-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const std::string folder = benchFolder = pattern;
    setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    hidlibrary::EnsureRegistered();
    std::printf("uvc_station_bench on %u cores\n", std::thread::hardware_concurrency());
    StationFigures(folder);
    SocketFigures(folder);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
