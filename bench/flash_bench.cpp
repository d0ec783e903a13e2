// Flash transfer figures through the dialog's own path: the Qt window services (offscreen
// platform), the dialog logic, the burn and dump workers, the dispatcher and the in-process
// simulated device. Prints each figure beside its goal; not part of the test suite.
//
//   uvc_flash_bench [--quick]    (--quick: one run per figure instead of three)
#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "platform/hid/hidsdi.h"
#include "platform/hid/virtual_device.h"
#include "protocol/flash_parts.h"
#include "sim/simulated_device.h"
#include "ui/qt/main_window.h"
#include "ui/services/control_ids.h"

namespace ids = ui::ids;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint16_t k16MiBPartRow = 32;
constexpr std::uint16_t k8MiBPartRow = 29;
constexpr USHORT kBenchProductId = 0xBE0C;  // not the default, so a running simulator is not picked
constexpr auto kDevicePace = std::chrono::microseconds(125);

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Runs the dialog thread's event loop until `done` answers true, waking every millisecond.
void PumpUntil(const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    poll.start(1);
    if (!done()) loop.exec();
}

// Runs `work` on a thread of its own (as a worker would) while the dialog thread serves it.
void RunOffDialogThread(const std::function<void()>& work) {
    std::atomic<bool> finished{false};
    std::thread thread([&] {
        work();
        finished = true;
    });
    PumpUntil([&] { return finished.load(); });
    thread.join();
}

long ProcStatusKiB(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::string(key).size()));
    return -1;
}

// Resets the peak resident size to the current one (Linux clear_refs 5).
void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

struct Figure {
    std::string name;
    double value;
    const char* unit;
    std::string goal;
    bool met;
};

void Print(const std::vector<Figure>& figures) {
    std::printf("%-58s %14s   %-18s %s\n", "figure", "value", "goal", "");
    for (const Figure& f : figures)
        std::printf("%-58s %10.3f %-3s   %-18s %s\n", f.name.c_str(), f.value, f.unit, f.goal.c_str(),
                    f.met ? "met" : "MISSED");
}

// One simulated device with a flash part, and the dialog opened on it with Get ID done.
class Bench {
public:
    explicit Bench(std::uint16_t partRow) {
        std::string error;
        sim::Config config;
        config.productId = kBenchProductId;
        config.partRow = partRow;
        config.logLimit = 0;
        device_ = sim::SimulatedDevice::Create(config, error);
        vhid::DeviceInfo info = device_->Info();
        info.path = vhid::MakePath("flash-bench");
        publication_ = vhid::Publish(std::move(info), device_);
        window_.Services().SetBoxPresenter([this](const uiqt::MessageBoxRequest& box) { lastBox_ = box.text; });
        window_.Services().SetFilePicker([this](const ui::OpenFileRequest&, std::string& path) {
            path = nextPick_;
            return true;
        });
        qobject_cast<QLineEdit*>(window_.Control(ids::kPid))->setText(QStringLiteral("BE0C"));
        Logic().OnOpenDevice();
        Logic().OnGetId();
        ok_ = Logic().Host().IsDeviceOpen() == 1 &&
              Logic().Protocol().FlashTotalSize() == FlashPartTotalSize(FlashPartTable[partRow]);
    }
    ~Bench() { window_.reject(); }

    bool Ok() const { return ok_; }
    Cuvc_hid_quendaDlg& Logic() { return window_.Logic(); }
    sim::SimulatedDevice& Device() { return *device_; }
    const std::string& LastBox() const { return lastBox_; }

    // A dump through the Dump button's handler; answers the wall time from the click to the
    // worker's end step.
    double Dump(const fs::path& file) {
        nextPick_ = file.string();
        Logic().OnBrowseDumpFile();
        auto start = Clock::now();
        Logic().OnDump();
        PumpUntil([&] { return !Logic().IsRunning(); });
        return Seconds(Clock::now() - start);
    }

    // An Entire Flash burn (write and compare) through the Burn button's handler.
    double Burn(const fs::path& image) {
        window_.Services().SetCheck(ids::kOtherArea, 0);
        window_.Services().SetCheck(ids::kEntireFlash, 1);
        nextPick_ = image.string();
        Logic().OnBrowseBurnFile();
        auto start = Clock::now();
        Logic().OnBurn();
        PumpUntil([&] { return !Logic().IsRunning(); });
        return Seconds(Clock::now() - start);
    }

    // A read burst of `total` bytes into memory through FlashBurst, off the dialog thread.
    double ReadBurst(ULONG total, std::vector<std::uint8_t>& into) {
        into.assign(total, 0);
        double seconds = 0;
        RunOffDialogThread([&] {
            ULONG done = 0;
            auto start = Clock::now();
            Logic().Protocol().FlashAccess(AP_FLASH_BURST_LATER, 1, 0, total, {});
            Logic().Protocol().FlashBurst(AP_FLASH_BURST_READ_TO_MEMORY, total, into, 0, done);
            seconds = Seconds(Clock::now() - start);
        });
        return seconds;
    }

    // The same burst as bare transport calls: the device's and the platform's share.
    double ReadBurstRaw(ULONG total, ULONG chunk) {
        const HidDevice& hid = Logic().Host().OpenedDevice();
        std::vector<std::uint8_t> report(hid.caps.InputReportByteLength);
        double seconds = 0;
        RunOffDialogThread([&] {
            auto start = Clock::now();
            Logic().Protocol().FlashAccess(AP_FLASH_BURST_LATER, 1, 0, total, {});
            for (ULONG at = 0; at < total; at += chunk) {
                report[0] = hid.Tables(HidP_Input).valueCaps[0].ReportID;
                HidD_GetInputReport(hid.handle, report.data(), static_cast<ULONG>(report.size()));
            }
            seconds = Seconds(Clock::now() - start);
        });
        return seconds;
    }

    // Event-loop latency of an input posted every 2 ms to the dialog while a burn runs.
    std::vector<double> LatencyDuringBurn(const fs::path& image) {
        std::vector<double> latencies;
        std::atomic<bool> stop{false};
        std::thread poster([&] {
            while (!stop) {
                auto posted = Clock::now();
                QMetaObject::invokeMethod(
                    &window_, [&latencies, posted] { latencies.push_back(Seconds(Clock::now() - posted) * 1e3); },
                    Qt::QueuedConnection);
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
        Burn(image);
        stop = true;
        poster.join();
        QCoreApplication::processEvents();
        return latencies;
    }

private:
    std::shared_ptr<sim::SimulatedDevice> device_;
    std::unique_ptr<vhid::Publication> publication_;
    uiqt::MainDialogWindow window_;
    std::string nextPick_;
    std::string lastBox_;
    bool ok_ = false;
};

double Best(int runs, const std::function<double()>& run) {
    double best = run();
    for (int i = 1; i < runs; ++i) best = std::min(best, run());
    return best;
}

fs::path FastDirectory() {
    if (access("/dev/shm", W_OK) == 0) return "/dev/shm";
    return fs::temp_directory_path();
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    const int runs = quick ? 1 : 3;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const fs::path dir = FastDirectory() / ("uvc-flash-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::vector<Figure> figures;
    {
        Bench bench(k16MiBPartRow);
        if (!bench.Ok()) {
            std::fprintf(stderr, "the simulated device did not open\n");
            return 1;
        }
        const ULONG size = bench.Logic().Protocol().FlashTotalSize();
        std::vector<std::uint8_t> image(size);
        for (ULONG i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>((i * 131u + (i >> 12)) & 0xFF);
        const fs::path imageFile = dir / "image.bin", dumpFile = dir / "dump.bin";
        std::ofstream(imageFile, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), size);

        double burn = Best(runs, [&] { return bench.Burn(imageFile); });
        bool burnOk = bench.LastBox() == "The entire flash has updated, please replug-in device!";
        figures.push_back({"Entire Flash burn + compare, 16 MiB", burn, "s", "<= 0.6 s", burnOk && burn <= 0.6});

        double dump = Best(runs, [&] { return bench.Dump(dumpFile); });
        bool dumpOk = bench.LastBox() == "Dump firmware has finished!" && fs::file_size(dumpFile) == size;
        figures.push_back({"dump 16 MiB to " + dir.parent_path().string(), dump, "s", "<= 0.25 s",
                           dumpOk && dump <= 0.25});
        const fs::path diskFile = fs::temp_directory_path() / ("uvc-flash-bench-" + std::to_string(getpid()) + ".bin");
        if (dir.parent_path() != fs::temp_directory_path()) {
            double durable = bench.Dump(diskFile);
            figures.push_back({"dump 16 MiB to " + fs::temp_directory_path().string() + " (the disk)",
                               durable, "s", "(no goal)", true});
            fs::remove(diskFile);
        }

        // Host cost per chunk: the whole burst path minus the bare transport calls.
        const ULONG chunk = bench.Logic().Host().OpenedDevice().Tables(HidP_Input).valueCaps[0].ReportCount;
        const ULONG total = 4u << 20;
        std::vector<std::uint8_t> read;
        double full = Best(runs, [&] { return bench.ReadBurst(total, read); });
        double raw = Best(runs, [&] { return bench.ReadBurstRaw(total, chunk); });
        double perChunk = (full - raw) / (total / chunk) * 1e6;
        figures.push_back({"host cost per chunk beyond the transport call", perChunk, "us", "<= 2 us", perChunk <= 2.0});

        // A modelled device pace: the wall time against the device's own time.
        bench.Device().SetDelay(kDevicePace);
        const ULONG pacedTotal = 1u << 20;
        double paced = bench.ReadBurst(pacedTotal, read);
        double deviceTime = Seconds(kDevicePace) * (pacedTotal / chunk + 2);
        double over = (paced / deviceTime - 1.0) * 100.0;
        figures.push_back({"1 MiB read at 125 us per transfer: over the device's pace", over, "%", "<= 2 %", over <= 2.0});
        bench.Device().SetDelay(std::chrono::microseconds(0));

        std::vector<double> latencies = bench.LatencyDuringBurn(imageFile);
        std::sort(latencies.begin(), latencies.end());
        double p99 = latencies.empty() ? 1e9 : latencies[latencies.size() * 99 / 100];
        figures.push_back({"dialog input latency p99 during a 16 MiB burn", p99, "ms", "< 20 ms", p99 < 20.0});
    }

    // Peak memory of a dump: its growth over the resident size before it, for two parts.
    for (std::uint16_t row : {k8MiBPartRow, k16MiBPartRow}) {
        Bench bench(row);
        const fs::path dumpFile = dir / "dump-memory.bin";
        bench.Dump(dumpFile);  // warm: first-use allocations are not the dump's
        ResetPeakMemory();
        long before = ProcStatusKiB("VmRSS:");
        bench.Dump(dumpFile);
        long growth = ProcStatusKiB("VmHWM:") - before;
        double flashMiB = bench.Logic().Protocol().FlashTotalSize() / 1048576.0;
        figures.push_back({"peak memory growth of a dump, " + std::to_string(static_cast<int>(flashMiB)) + " MiB flash",
                           static_cast<double>(growth) / 1024.0, "MiB", "flat in flash size", growth < 1024});
    }
    fs::remove_all(dir);

    Print(figures);
    return std::all_of(figures.begin(), figures.end(), [](const Figure& f) { return f.met; }) ? 0 : 1;
}
