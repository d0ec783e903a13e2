// Two figures of the production line, printed, not judged (not part of the test suite):
//
// 1. The station serving 8 boards against serving 1, each board an in-process simulated
//    device at a modelled pace of 250 us per transfer (a high-speed device's control
//    transfer). The transfers wait on the devices, so boards in parallel should cost
//    little more than one: host CPU per transfer is what decides it. The pace is modelled
//    twice: as a sleep (a device takes no host CPU while it works) and as the simulator's
//    own pace, which waits on the clock and so spends a core per board.
// 2. A flash chunk through uvc-hid and the simulator program (an 8 MiB dump) against a bare
//    round trip of the same sizes over a Unix socket between two processes, both with the
//    processes free to run on any core and with every process on one core.
//
//   uvc_station_bench [--quick]    (--quick: one run per figure instead of three)
#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/hid/hid_library.h"
#include "platform/hid/virtual_device.h"
#include "sim/simulated_device.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/runner.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr auto kPace = std::chrono::microseconds(250);
constexpr std::uint16_t k256KiBPartRow = 34;
constexpr std::uint16_t k8MiBPartRow = 29;
constexpr std::uint16_t kBenchProductId = 0xBE05;  // no running simulator has it
constexpr std::size_t kChunk = 256;               // flash bytes per read report
constexpr std::size_t kRequestBytes = 8 + 5;      // GetInput: header, report ID, length
constexpr std::size_t kReplyBytes = 8 + 4 + 257;  // Reply: header, status, the report

int runs = 3;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A device's time on the bus as a sleep: the host's thread waits without spending a core.
class SleepingPace final : public vhid::DeviceHandler {
public:
    explicit SleepingPace(std::shared_ptr<sim::SimulatedDevice> device) : device_(std::move(device)) {}
    DWORD OnOutputReport(std::span<const std::uint8_t> report) override { return Pace(), device_->OnOutputReport(report); }
    DWORD OnInputRequest(std::uint8_t id, ULONG length, std::vector<std::uint8_t>& answer) override {
        return Pace(), device_->OnInputRequest(id, length, answer);
    }
    DWORD OnSetFeature(std::span<const std::uint8_t> report) override { return Pace(), device_->OnSetFeature(report); }
    DWORD OnGetFeature(std::uint8_t id, ULONG length, std::vector<std::uint8_t>& answer) override {
        return Pace(), device_->OnGetFeature(id, length, answer);
    }

private:
    static void Pace() {
        timespec wait{0, std::chrono::nanoseconds(kPace).count()};
        while (clock_nanosleep(CLOCK_MONOTONIC, 0, &wait, &wait) != 0) {
        }
    }
    std::shared_ptr<sim::SimulatedDevice> device_;
};

// The station's wall time for `boards` boards present from its start, each burnt whole.
double StationSeconds(int boards, bool sleeping, const std::string& image) {
    std::vector<std::unique_ptr<vhid::Publication>> published;
    for (int i = 0; i < boards; ++i) {
        sim::Config config;
        config.productId = kBenchProductId;
        config.partRow = k256KiBPartRow;
        config.logLimit = 0;
        config.serialNumber = u"BENCH-" + std::u16string(1, static_cast<char16_t>(u'0' + i));
        config.portPath = u"9-" + std::u16string(1, static_cast<char16_t>(u'1' + i));
        std::string error;
        auto device = sim::SimulatedDevice::Create(config, error);
        if (!device) {
            std::fprintf(stderr, "uvc_station_bench: %s\n", error.c_str());
            std::exit(1);
        }
        vhid::DeviceInfo info = device->Info();
        info.path = vhid::MakePath("station-bench");
        if (!sleeping) device->SetDelay(kPace);
        std::shared_ptr<vhid::DeviceHandler> handler = device;
        if (sleeping) handler = std::make_shared<SleepingPace>(device);
        published.push_back(vhid::Publish(std::move(info), handler));
    }
    cli::Options options;
    if (std::string e = cli::ParseCommandLine({"station", image, "--count", std::to_string(boards), "--vid", "1209", "--pid",
                                               "be05", "-q"},
                                              options);
        !e.empty()) {
        std::fprintf(stderr, "uvc_station_bench: %s\n", e.c_str());
        std::exit(1);
    }
    std::FILE* out = std::tmpfile();
    const auto start = Clock::now();
    const int code = cli::RunCommandLine(options, out, -1);
    const double seconds = Seconds(Clock::now() - start);
    std::fclose(out);
    if (code != 0) {
        std::fprintf(stderr, "uvc_station_bench: the station ended with status %d\n", code);
        std::exit(1);
    }
    return seconds;
}

void StationFigures(const std::string& folder) {
    const std::string image = folder + "/image.bin";
    {
        std::vector<char> bytes(256 * 1024);
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 13 + (i >> 9));
        std::FILE* file = std::fopen(image.c_str(), "wb");
        if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose(file) != 0) std::exit(1);
    }
    std::printf("station, 256 KiB burnt and compared per board, %lld us per transfer:\n",
                static_cast<long long>(kPace.count()));
    for (bool sleeping : {true, false}) {
        std::vector<double> one, eight;
        for (int run = 0; run < runs; ++run) {
            one.push_back(StationSeconds(1, sleeping, image));
            eight.push_back(StationSeconds(8, sleeping, image));
        }
        const double a = Median(one), b = Median(eight);
        std::printf("  %-44s 1 board %.3f s, 8 boards %.3f s: %.2fx (goal <= 1.25x)\n",
                    sleeping ? "pace as a sleep (the device's own time):" : "the simulator's pace (waits on the clock):",
                    a, b, b / a);
    }
}

// ---- The socket path

pid_t Start(const std::vector<std::string>& args, const std::string& out) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int Finish(pid_t pid) {
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double ProgramSeconds(const std::vector<std::string>& args, const std::string& out) {
    const auto start = Clock::now();
    const int code = Finish(Start(args, out));
    if (code != 0) {
        std::fprintf(stderr, "uvc_station_bench: %s ended with status %d\n", args[1].c_str(), code);
        std::exit(1);
    }
    return Seconds(Clock::now() - start);
}

// Microseconds per chunk of an 8 MiB dump through uvc-hid, beyond what `uvc-hid id` costs
// (start, open, claim, Get ID).
double UvcHidChunkMicros(const std::string& folder) {
    const std::string out = folder + "/sim.out";
    pid_t sim = Start({UVC_SIM_PROGRAM, "--name", "bench.sock", "--part-row", std::to_string(k8MiBPartRow), "--pid", "be05",
                       "--log-limit", "0"},
                      out);
    std::string socket;
    for (int tick = 0; tick < 5000 && socket.empty(); ++tick) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::FILE* file = std::fopen(out.c_str(), "r");
        char line[512] = {};
        if (file && std::fgets(line, sizeof line, file) && std::string(line).find('\n') != std::string::npos) {
            std::string text = line;
            if (auto at = text.find("ready: "); at != std::string::npos) socket = text.substr(at + 7, text.size() - at - 8);
        }
        if (file) std::fclose(file);
    }
    if (socket.empty()) {
        std::fprintf(stderr, "uvc_station_bench: the simulator did not start\n");
        std::exit(1);
    }
    std::vector<double> chunks;
    for (int run = 0; run < runs; ++run) {
        const double fixed = ProgramSeconds({UVC_CLI_PROGRAM, "id", "-q", "--device", socket}, "/dev/null");
        const double dump = ProgramSeconds({UVC_CLI_PROGRAM, "dump", "-q", "/dev/shm/uvc-station-bench.bin", "--device", socket},
                                           "/dev/null");
        chunks.push_back((dump - fixed) * 1e6 / ((8u << 20) / kChunk));
    }
    std::remove("/dev/shm/uvc-station-bench.bin");
    kill(sim, SIGINT);
    Finish(sim);
    return Median(chunks);
}

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

// Microseconds per round trip of a chunk's sizes between this process and a child.
double BareRoundTripMicros() {
    constexpr int kTrips = 32768;
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) std::exit(1);
    pid_t child = fork();
    if (child == 0) {
        close(pair[0]);
        char request[kRequestBytes], reply[kReplyBytes] = {};
        while (Exactly(pair[1], request, sizeof request, false) && Exactly(pair[1], reply, sizeof reply, true)) {
        }
        _exit(0);
    }
    close(pair[1]);
    char request[kRequestBytes] = {}, reply[kReplyBytes];
    std::vector<double> micros;
    for (int run = 0; run < runs; ++run) {
        const auto start = Clock::now();
        for (int i = 0; i < kTrips; ++i)
            if (!Exactly(pair[0], request, sizeof request, true) || !Exactly(pair[0], reply, sizeof reply, false)) std::exit(1);
        micros.push_back(Seconds(Clock::now() - start) * 1e6 / kTrips);
    }
    close(pair[0]);
    Finish(child);
    return Median(micros);
}

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
        const double uvc = UvcHidChunkMicros(folder), bare = BareRoundTripMicros();
        std::printf("  %-12s uvc-hid %.1f us a chunk, bare round trip %.1f us: %.2fx (goal <= 1.25x)\n",
                    pinned ? "one core:" : "unpinned:", uvc, bare, uvc / bare);
    }
    sched_setaffinity(0, sizeof all, &all);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--quick") runs = 1;
    // A private runtime folder: no simulator of the user's is seen, none of ours is left.
    char pattern[] = "/tmp/uvc-station-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const std::string folder = pattern;
    setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    // Sleeps of a few hundred microseconds end on time, not 50 us late; the threads made
    // from here on inherit it.
    prctl(PR_SET_TIMERSLACK, 1UL);
    hidlibrary::EnsureRegistered();
    std::printf("uvc_station_bench on %u cores\n", std::thread::hardware_concurrency());
    StationFigures(folder);
    SocketFigures(folder);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
