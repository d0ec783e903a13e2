// The station in-process against boards published and withdrawn while it runs: what each
// board's flash holds, the line per board and the tally, one serving per plug-in (boards
// swapped between two looks, simulator programs started again under their name, and the
// plug identity that tells them apart), and stop requests that let the boards in progress
// finish.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <optional>

#include "platform/hid/hid_transport.h"
#include "tests/cli/cli_fixture.h"
#include "tests/support/signaling_sim.h"
#include "tools/cli/exit_codes.h"
#include "tools/cli/station.h"

namespace clitest {
namespace {

// A station run on its own thread; its standard output is read line by line as it comes.
class StationRun {
public:
    StationRun(const std::string& line, int stopWakeFd) {
        EXPECT_EQ(cli::ParseCommandLine(Words(line), options_), "") << line;
        int fds[2];
        EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
        read_ = fds[0];
        std::FILE* out = fdopen(fds[1], "w");
        thread_ = std::thread([this, out, stopWakeFd] {
            code_ = cli::RunCommandLine(options_, out, stopWakeFd);
            std::fclose(out);
        });
    }
    ~StationRun() {
        if (thread_.joinable()) {  // a test that failed midway: stop it as a third signal would
            for (int i = 0; i < 3; ++i) core::RequestStop(SIGTERM);
            thread_.join();
        }
        close(read_);
    }
    StationRun(const StationRun&) = delete;
    StationRun& operator=(const StationRun&) = delete;

    // The next line of its output, or "" when none came within a minute.
    std::string Line() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        for (std::size_t end; (end = pending_.find('\n')) == std::string::npos;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd fd{read_, POLLIN, 0};
            char bytes[4096];
            ssize_t n = left.count() > 0 && poll(&fd, 1, static_cast<int>(left.count())) == 1 ? read(read_, bytes, sizeof bytes) : 0;
            if (n <= 0) return "";
            pending_.append(bytes, static_cast<std::size_t>(n));
        }
        std::string line = pending_.substr(0, pending_.find('\n'));
        pending_.erase(0, line.size() + 1);
        return line;
    }
    Json JsonLine() {
        Json doc;
        const std::string line = Line();
        EXPECT_TRUE(doc.Parse(line)) << "not one JSON value: " << line;
        return doc;
    }
    int Wait() {
        thread_.join();
        return code_;
    }

private:
    cli::Options options_;
    std::thread thread_;
    int read_ = -1;
    int code_ = -1;
    std::string pending_;
};

// The serial number of the station's next board line when it says the board passed; else the line.
std::string PassedSerial(StationRun& station) {
    std::smatch field;
    std::string line = station.Line();
    return std::regex_search(line, field, std::regex(" serial=(\\S+) .* result=passed ")) ? field[1].str() : line;
}

// A provider listed before every other that holds each enumeration while it is shut: the
// station's look waits there, so a test changes boards between two of its looks and the
// station sees nothing in between.
class LookGate final : public hidtransport::Provider {
public:
    void Enumerate(std::vector<hidtransport::InterfaceInfo>&) override {
        std::unique_lock lock(mutex_);
        ++held_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return open_; });
        --held_;
    }
    bool Owns(std::u16string_view) const override { return false; }
    DWORD Open(std::u16string_view, DWORD, DWORD, std::unique_ptr<hidtransport::Connection>&) override {
        return ERROR_FILE_NOT_FOUND;
    }
    void SetOpen(bool open) {
        std::lock_guard lock(mutex_);
        open_ = open;
        changed_.notify_all();
    }
    // Whether a look waits at the gate (within a minute).
    bool HoldsALook() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::minutes(1), [this] { return held_ > 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = true;
    int held_ = 0;
};

// A provider listed before every other that runs `swap` at the first open of `path` and then
// lets the path's own provider open it: the board changes between a look and its open.
class OpenGate final : public hidtransport::Provider {
public:
    OpenGate(std::u16string path, std::function<void()> swap) : path_(std::move(path)), swap_(std::move(swap)) {}
    void Enumerate(std::vector<hidtransport::InterfaceInfo>&) override {}
    bool Owns(std::u16string_view path) const override { return path == path_; }
    DWORD Open(std::u16string_view path, DWORD access, DWORD share,
               std::unique_ptr<hidtransport::Connection>& out) override {
        if (auto swap = std::exchange(swap_, nullptr)) swap();
        for (const auto& provider : hidtransport::Providers())
            if (provider.get() != this && provider->Owns(path)) return provider->Open(path, access, share, out);
        return ERROR_FILE_NOT_FOUND;
    }

private:
    const std::u16string path_;
    std::function<void()> swap_;
};

class Station : public CliFixture {
protected:
    void SetUp() override {
        CliFixture::SetUp();
        Write(File("image.bin"), image);
    }
    int WakeFd() const { return stops->handlers.WakeFd(); }
    // A board at USB port 1-<port> with a serial number of its own; at `path` when given.
    std::shared_ptr<sim::SimulatedDevice> Board(int port, const std::string& serial, const std::u16string& path = {}) {
        return Publish("board", 34, {}, serial, "1-" + std::to_string(port), path);
    }
    bool HoldsTheImage(const std::vector<std::uint8_t>& flash) const {
        return flash.size() >= image.size() && std::equal(image.begin(), image.end(), flash.begin());
    }
    std::string Line(const std::string& more) const { return "station " + dir_ + "/image.bin --vid 1209 --pid 5a5b " + more; }
    // Runs `swap` while a look of the station waits at the gate: no look sees the boards in between.
    void BetweenTwoLooks(const std::function<void()>& swap) {
        auto gate = std::make_shared<LookGate>();
        hidtransport::ProviderOverride first{0, gate};  // no provider has rank 0: it is added before hidraw
        gate->SetOpen(false);
        // Not on the station's ports: it wakes the station, whose look then waits.
        offPort.push_back(Board(4, "OFF-PORT"));
        EXPECT_TRUE(gate->HoldsALook());
        swap();
        gate->SetOpen(true);  // before the gate leaves the providers
    }

    std::optional<StopState> stops{std::in_place};
    std::vector<std::shared_ptr<sim::SimulatedDevice>> offPort;  // never to be served
    const std::vector<std::uint8_t> image = Pattern(0x20000, 0x5c);  // half the 256 KiB flash
};

// Eight boards in two waves at four ports, at most three burning at once: the first four go
// once served and four others take their ports. One is pulled midway through its burn: it
// alone fails, and the tally and the status say so.
TEST_F(Station, EightBoardsComeAndGoAndOneFailingHoldsUpNoOther) {
    StationRun station(Line("--count 8 --jobs 3 --json --log-json --log " + File("station.log")), WakeFd());
    std::map<std::string, std::shared_ptr<sim::SimulatedDevice>> bySerial;
    std::map<std::string, Json> lines;
    std::vector<double> tallies;
    for (int wave = 0; wave < 2; ++wave) {
        if (wave) publications_.erase(publications_.begin(), publications_.begin() + 4);  // unplugged
        for (int i = 4 * wave; i < 4 * wave + 4; ++i)
            bySerial["SN-" + std::to_string(i)] = Board(1 + i % 4, "SN-" + std::to_string(i));
        if (!wave) bySerial["SN-2"]->UnplugAfter(300);  // well into the write of 512 chunks
        for (int i = 0; i < 4; ++i) {
            Json line = station.JsonLine();
            tallies.push_back(line.Number("passed") + line.Number("failed"));
            lines[line["board.serial"]] = line;
        }
    }
    Json summary = station.JsonLine();
    EXPECT_EQ(station.Wait(), cli::kExitDeviceError);
    EXPECT_EQ(summary["station.boards"] + " " + summary["station.passed"] + " " + summary["station.failed"] + " " +
                  summary["station.exit_code"],
              "8 7 1 1");
    ASSERT_EQ(lines.size(), 8u);
    for (std::size_t i = 0; i < tallies.size(); ++i) EXPECT_EQ(tallies[i], static_cast<double>(i + 1)) << "tally after board " << i;
    for (const auto& [serial, line] : lines) {
        const bool failing = serial == "SN-2";
        EXPECT_EQ(line["board.result"], failing ? "failed" : "passed") << serial;
        EXPECT_EQ(line["board.port"], "1-" + std::to_string(1 + std::stoi(serial.substr(3)) % 4)) << serial;
        if (failing) {
            EXPECT_EQ(line["board.exit_code"], std::to_string(cli::kExitDeviceError));
            EXPECT_NE(line["board.error"], "<board.error missing>");
        } else {
            EXPECT_EQ(line["board.sha256"], Sha256Of(image)) << serial;
            EXPECT_TRUE(HoldsTheImage(bySerial[serial]->FlashContents())) << serial << "'s flash does not hold the image";
        }
    }
    // Every log line is a JSON object naming its time, process and device; the board's own by its port.
    std::istringstream log(Text(File("station.log")));
    int failedBoardLines = 0;
    for (std::string text; std::getline(log, text);) {
        Json entry;
        ASSERT_TRUE(entry.Parse(text)) << text;
        EXPECT_EQ(entry.Kind("time") + std::string(1, entry.Kind("pid")) + entry.Kind("device"), "sns") << text;
        if (entry["board.serial"] == "SN-2") failedBoardLines += entry["device"] == "1-3" && entry["board.result"] == "failed";
    }
    EXPECT_EQ(failedBoardLines, 1);
}

// A board stays served while it stays plugged in, however often the station looks again.
// Between two looks (no look in between), a board unplugged and another plugged in at its
// place (the same node, port and serial number), and a simulator program started again
// under its socket name: each is a new plug-in, served once. The simulator's plug identity
// is new, and a connection to the one before does not carry on with it. Boards on other
// ports are never served.
TEST_F(Station, EachPlugInIsServedOnce) {
    StationRun station(Line("--count 5 --ports 1-1,1-2,1-3"), WakeFd());
    auto first = Board(1, "SAME");
    ASSERT_EQ(PassedSerial(station), "SAME");
    const std::uint64_t firstTransfers = first->TransferCount();
    std::shared_ptr<sim::SimulatedDevice> second;
    BetweenTwoLooks([&] {
        publications_.erase(publications_.begin());  // the first board unplugged
        second = Board(1, "SAME", paths_[0]);
    });
    ASSERT_EQ(PassedSerial(station), "SAME") << "the board plugged in at the same place was not served";
    EXPECT_TRUE(HoldsTheImage(second->FlashContents()));
    EXPECT_EQ(first->TransferCount(), firstTransfers);

    std::vector<std::string> options = {"--part-row", "34", "--vid", "1209", "--pid", "5a5b",
                                        "--serial", "PROG", "--port-path", "1-2"};
    const std::u16string path = u"\\\\?\\simhid#board.sock";
    auto plugIdOf = [&path] {
        for (const hidtransport::InterfaceInfo& info : hidtransport::EnumerateInterfaces())
            if (info.path == path) return info.plugId;
        return std::u16string(u"(not listed)");
    };
    ASSERT_FALSE(StartSimulator("board.sock", options).empty());
    ASSERT_EQ(PassedSerial(station), "PROG");
    const std::u16string plugId = plugIdOf();
    std::unique_ptr<hidtransport::Connection> connection;
    for (const auto& provider : hidtransport::Providers())
        if (provider->Owns(path)) {
            EXPECT_EQ(provider->Open(path, 0, 0, connection), ERROR_SUCCESS);
        }
    ASSERT_TRUE(connection);
    hidtransport::InterfaceInfo attributes;
    ASSERT_EQ(connection->GetAttributes(attributes), ERROR_SUCCESS);
    EXPECT_EQ(attributes.plugId, plugId);
    std::uint32_t holder = 0;
    EXPECT_EQ(connection->Claim(hidtransport::ClaimOp::Query, holder), ERROR_SUCCESS);
    BetweenTwoLooks([&] {
        StopSimulator();
        options.insert(options.end(), {"--save-flash", File("again.flash")});
        ASSERT_FALSE(StartSimulator("board.sock", options).empty());
    });
    ASSERT_EQ(PassedSerial(station), "PROG") << "the simulator started again was not served";
    EXPECT_NE(plugIdOf(), plugId);
    EXPECT_EQ(connection->Claim(hidtransport::ClaimOp::Query, holder), ERROR_DEVICE_NOT_CONNECTED)
        << "a connection carried on with another simulator";
    connection.reset();

    const std::uint64_t secondTransfers = second->TransferCount();
    Board(3, "NEXT");
    ASSERT_EQ(PassedSerial(station), "NEXT") << "a board swapped in or started again was served twice";
    EXPECT_EQ(second->TransferCount(), secondTransfers);
    EXPECT_EQ(station.Line(), "station boards=5 passed=5 failed=0 exit=0");
    for (const auto& board : offPort) EXPECT_EQ(board->TransferCount(), 0u);
    EXPECT_EQ(station.Wait(), cli::kExitOk);
    StopSimulator();
    EXPECT_TRUE(HoldsTheImage(Read(File("again.flash"))));
}

// A board swapped at its node between the look and the open is not burnt as the board
// looked at, by the station or by a command that chose it by serial number: the run fails
// with nothing sent to the board that took its place.
TEST_F(Station, ABoardSwappedBetweenTheLookAndTheOpenIsSentNothing) {
    for (bool station : {true, false}) {
        SCOPED_TRACE(station ? "station" : "burn --device serial:FIRST");
        const std::u16string path = vhid::MakePath(station ? "swap-station" : "swap-burn");
        Board(1, "FIRST", path);
        std::shared_ptr<sim::SimulatedDevice> swapped;
        hidtransport::ProviderOverride first{0, std::make_shared<OpenGate>(path, [&] {
            publications_.clear();
            swapped = Board(1, "SWAPPED", path);
        })};
        if (station) {
            StationRun run(Line("--count 1"), WakeFd());
            const std::string line = run.Line();
            EXPECT_TRUE(std::regex_search(line, std::regex(" serial=FIRST .* result=failed exit=3 "))) << line;
            EXPECT_EQ(run.Wait(), cli::kExitNoDevice);
        } else {
            RunResult r = Run("burn " + dir_ + "/image.bin --device serial:FIRST");
            EXPECT_EQ(r.code, cli::kExitNoDevice) << r.text;
        }
        ASSERT_TRUE(swapped);
        EXPECT_EQ(swapped->TransferCount(), 0u) << "the board swapped in was sent the burn of the one looked at";
        publications_.clear();
    }
}

// A first signal ends the intake and the burns in progress finish untouched; a second
// reaches them as a first reaches a lone burn: the write in progress finishes, nothing after.
TEST_F(Station, BoardsInProgressFinishAfterASignal) {
    const struct {
        std::map<int, int> afterWrite;  // chunk -> signal
        const char* result;
        int exit;  // the board's and the station's
    } rows[] = {{{{10, SIGINT}}, "passed", 0}, {{{10, SIGINT}, {20, SIGTERM}}, "failed", cli::InterruptedExit(SIGINT)}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.result);
        stops.reset();
        stops.emplace();
        auto signaling = testsupport::PublishSignalingSim("station-signal", row.afterWrite);
        ASSERT_TRUE(signaling.sim);
        StationRun station(Line("--json"), WakeFd());
        Json line = station.JsonLine();
        auto late = Board(2, "LATE");  // plugged in after the signal: not served
        Json summary = station.JsonLine();
        EXPECT_EQ(station.Wait(), row.exit);
        EXPECT_EQ(line["board.result"] + " " + line["board.exit_code"], row.result + (" " + std::to_string(row.exit)));
        EXPECT_EQ(line["board.bytes"], std::to_string(image.size())) << "the write in progress did not finish";
        EXPECT_EQ(summary["station.boards"] + " " + summary["station.exit_code"], "1 " + std::to_string(row.exit));
        EXPECT_TRUE(HoldsTheImage(signaling.sim->device->FlashContents()));
        EXPECT_EQ(late->TransferCount(), 0u) << "a board was taken after the signal";
        publications_.clear();
    }
}

// What no board could take is refused before any is served.
TEST_F(Station, AnImageNoFlashCanTakeIsRefusedAtTheStart) {
    const std::string none = "; no flash part could take it, no board was burned";
    EXPECT_EQ(cli::StationImageRefusal(Pattern(0x20000, 1), {}), "");
    EXPECT_EQ(cli::StationImageRefusal({}, {}), "the image is empty" + none);
    Write(File("empty.bin"), {});
    StationRun station("station " + File("empty.bin") + " --json", -1);
    EXPECT_EQ(station.JsonLine()["station.exit_code"], std::to_string(cli::kExitRefused));
    EXPECT_EQ(station.Wait(), cli::kExitRefused);
}

}  // namespace
}  // namespace clitest
