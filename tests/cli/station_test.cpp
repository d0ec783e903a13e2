// The station in-process against boards published and withdrawn while it runs: what each
// board's flash holds, the line per board and the tally, one serving per plug-in (boards
// swapped between two looks, simulator programs started again under their name, and the
// plug identity that tells them apart), and stop requests that let the boards in progress
// finish.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

#include "core/stop_request.h"
#include "platform/hid/hid_transport.h"
#include "tests/cli/cli_fixture.h"
#include "tests/support/signaling_sim.h"
#include "tools/cli/exit_codes.h"
#include "tools/cli/sha256.h"
#include "tools/cli/station.h"

namespace clitest {
namespace {

// A station run on its own thread; its standard output is read line by line as it comes.
class StationRun {
public:
    StationRun(const std::string& line, int stopWakeFd) {
        std::vector<std::string> args;
        std::istringstream in(line);
        for (std::string word; in >> word;) args.push_back(word);
        EXPECT_EQ(cli::ParseCommandLine(args, options_), "") << line;
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
        std::string line = Line();
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
    void Shut() {
        std::lock_guard lock(mutex_);
        open_ = false;
    }
    void Let() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
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

// The gate, first among the providers while this lives; every look passes once it goes.
struct GatedLooks {
    std::shared_ptr<LookGate> gate = std::make_shared<LookGate>();
    hidtransport::ProviderOverride first{0, gate};  // no provider has rank 0: it is added before hidraw
    ~GatedLooks() { gate->Let(); }
};

std::string Sha256Of(const std::vector<std::uint8_t>& bytes) {
    cli::Sha256 sha;
    sha.Update(bytes);
    return sha.HexDigest();
}

class Station : public CliFixture {
protected:
    struct StopState {
        StopState() { core::ResetStopRequests(); }
        ~StopState() { core::ResetStopRequests(); }
        core::StopSignals handlers{""};
    } stops;

    void SetUp() override {
        CliFixture::SetUp();
        Write(File("image.bin"), image);
    }
    void TearDown() override {
        if (sim_ > 0 && kill(sim_, SIGKILL) == 0) waitpid(std::exchange(sim_, -1), nullptr, 0);  // a test that stopped midway
        CliFixture::TearDown();
    }
    // A board at USB port 1-<port> with a serial number of its own.
    std::shared_ptr<sim::SimulatedDevice> Board(int port, const std::string& serial) {
        return Publish("board", 34, {}, serial, "1-" + std::to_string(port));
    }
    // Another board plugged in where `path` was: the same node, port and serial number.
    std::shared_ptr<sim::SimulatedDevice> BoardAt(const std::u16string& path, int port, const std::string& serial) {
        sim::Config config;
        config.vendorId = 0x1209;
        config.productId = 0x5A5B;
        config.partRow = 34;
        config.serialNumber = std::u16string(serial.begin(), serial.end());
        config.portPath = u"1-" + std::u16string(1, static_cast<char16_t>(u'0' + port));
        std::string error;
        auto device = sim::SimulatedDevice::Create(std::move(config), error);
        EXPECT_TRUE(device) << error;
        vhid::DeviceInfo info = device->Info();
        info.path = path;
        publications_.push_back(vhid::Publish(std::move(info), device));
        return device;
    }
    bool HoldsTheImage(const std::vector<std::uint8_t>& flash) const {
        return flash.size() >= image.size() && std::equal(image.begin(), image.end(), flash.begin());
    }
    bool HoldsTheImage(const sim::SimulatedDevice& board) const { return HoldsTheImage(board.FlashContents()); }
    std::string Line(const std::string& more) const {
        return "station " + dir_ + "/image.bin --vid 1209 --pid 5a5b " + more;
    }

    const std::vector<std::uint8_t> image = Pattern(0x20000, 0x5c);  // half the 256 KiB flash
};

// Eight boards in two waves at four ports, at most three burning at once: the first four go
// once served and four others take their ports. One is pulled midway through its burn: it alone fails, and the tally
// and the status say so.
TEST_F(Station, EightBoardsComeAndGoAndOneFailingHoldsUpNoOther) {
    StationRun station(Line("--count 8 --jobs 3 --json --log-json --log " + File("station.log")), stops.handlers.WakeFd());
    std::vector<std::shared_ptr<sim::SimulatedDevice>> boards;
    std::map<std::string, std::shared_ptr<sim::SimulatedDevice>> bySerial;
    auto plug = [&](int first) {
        for (int i = first; i < first + 4; ++i) {
            boards.push_back(Board(1 + i % 4, "SN-" + std::to_string(i)));
            bySerial["SN-" + std::to_string(i)] = boards.back();
        }
    };
    plug(0);
    boards[2]->UnplugAfter(300);  // well into the write of 512 chunks
    std::map<std::string, Json> lines;
    std::vector<std::pair<double, double>> tallies;
    auto collect = [&] {
        for (int i = 0; i < 4; ++i) {
            Json line = station.JsonLine();
            lines[line["board.serial"]] = line;
            tallies.emplace_back(line.Number("passed"), line.Number("failed"));
        }
    };
    collect();
    publications_.erase(publications_.begin(), publications_.begin() + 4);  // unplugged
    plug(4);
    collect();
    Json summary = station.JsonLine();
    EXPECT_EQ(station.Wait(), cli::kExitDeviceError);
    EXPECT_EQ(summary["station.boards"] + " " + summary["station.passed"] + " " + summary["station.failed"] + " " +
                  summary["station.exit_code"],
              "8 7 1 1");
    ASSERT_EQ(lines.size(), 8u);
    for (std::size_t i = 0; i < tallies.size(); ++i)
        EXPECT_EQ(tallies[i].first + tallies[i].second, static_cast<double>(i + 1)) << "tally after board " << i;
    for (const auto& [serial, line] : lines) {
        const bool failing = serial == "SN-2";
        EXPECT_EQ(line["board.result"], failing ? "failed" : "passed") << serial;
        EXPECT_EQ(line["board.port"], "1-" + std::to_string(1 + std::stoi(serial.substr(3)) % 4)) << serial;
        if (failing) {
            EXPECT_EQ(line["board.exit_code"], std::to_string(cli::kExitDeviceError));
            EXPECT_NE(line["board.error"], "<board.error missing>");
            continue;
        }
        EXPECT_EQ(line["board.sha256"], Sha256Of(image)) << serial;
        EXPECT_TRUE(HoldsTheImage(*bySerial[serial])) << serial << "'s flash does not hold the image";
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

// A board stays served while it stays plugged in, however often the station looks again;
// plugged in again, at the same port with the same serial number and path, it is served anew.
TEST_F(Station, ABoardIsServedOncePerPlugIn) {
    StationRun station(Line("--count 4 --ports 1-1,1-2,1-3"), stops.handlers.WakeFd());
    auto serialOf = [&station] { return PassedSerial(station); };
    auto first = Board(1, "FIRST");
    EXPECT_EQ(serialOf(), "FIRST");
    auto off = Board(4, "OFF-PORT");  // not on the station's ports: never served
    Board(2, "SECOND");
    EXPECT_EQ(serialOf(), "SECOND");  // looked again since FIRST finished, and took only SECOND
    const std::uint64_t transfers = first->TransferCount();

    const std::u16string path = paths_[0];
    publications_.erase(publications_.begin());  // FIRST unplugged
    Board(3, "THIRD");
    EXPECT_EQ(serialOf(), "THIRD");  // a look that saw FIRST gone
    EXPECT_EQ(first->TransferCount(), transfers) << "FIRST was served twice while plugged in";
    vhid::DeviceInfo again = first->Info();
    again.path = path;
    again.serialNumber = u"FIRST";
    again.portPath = u"1-1";
    publications_.push_back(vhid::Publish(std::move(again), first));
    EXPECT_EQ(serialOf(), "FIRST");
    EXPECT_EQ(station.Line(), "station boards=4 passed=4 failed=0 exit=0");
    EXPECT_EQ(station.Wait(), cli::kExitOk);
    EXPECT_EQ(off->TransferCount(), 0u);
}

// A board unplugged and another plugged in at its place between two looks of the station
// (the same node, port and serial number, and no look in between) is a new plug-in: it is
// served, and once.
TEST_F(Station, ABoardSwappedBetweenTwoLooksIsServedOnce) {
    StationRun station(Line("--count 3 --ports 1-1,1-2"), stops.handlers.WakeFd());
    auto first = Board(1, "SAME");
    ASSERT_EQ(PassedSerial(station), "SAME");
    const std::uint64_t firstTransfers = first->TransferCount();
    std::shared_ptr<sim::SimulatedDevice> second;
    {
        GatedLooks looks;
        looks.gate->Shut();
        Board(4, "OFF-PORT");  // wakes the station, whose look then waits at the gate
        ASSERT_TRUE(looks.gate->HoldsALook());
        publications_.erase(publications_.begin());  // the first board unplugged
        second = BoardAt(paths_[0], 1, "SAME");
    }
    ASSERT_EQ(PassedSerial(station), "SAME") << "the board plugged in at the same place was not served";
    EXPECT_TRUE(HoldsTheImage(*second));
    EXPECT_EQ(first->TransferCount(), firstTransfers);
    const std::uint64_t secondTransfers = second->TransferCount();
    Board(2, "NEXT");
    ASSERT_EQ(PassedSerial(station), "NEXT");
    EXPECT_EQ(second->TransferCount(), secondTransfers) << "the swapped-in board was served twice";
    EXPECT_EQ(station.Line(), "station boards=3 passed=3 failed=0 exit=0");
    EXPECT_EQ(station.Wait(), cli::kExitOk);
}

// A simulator program stopped and started again under its socket name has a new plug
// identity (the same socket name, serial number and port), which stays while it runs; a
// connection to the one before does not carry on with the new one.
TEST_F(Station, ASimulatorStartedAgainUnderItsNameHasANewPlugIdentity) {
    const std::vector<std::string> options = {"--part-row", "34", "--serial", "PROG", "--port-path", "1-1"};
    const std::u16string path = u"\\\\?\\simhid#plug.sock";
    auto plugIdOf = [&path] {
        for (const hidtransport::InterfaceInfo& info : hidtransport::EnumerateInterfaces())
            if (info.path == path) return info.plugId;
        return std::u16string(u"(not listed)");
    };
    ASSERT_FALSE(StartSimulator("plug.sock", options).empty());
    const std::u16string first = plugIdOf();
    EXPECT_TRUE(first.starts_with(u"sock:")) << std::string(first.begin(), first.end());
    EXPECT_EQ(plugIdOf(), first);
    std::unique_ptr<hidtransport::Connection> connection;
    for (const auto& provider : hidtransport::Providers())
        if (provider->Owns(path)) {
            EXPECT_EQ(provider->Open(path, 0, 0, connection), ERROR_SUCCESS);
        }
    ASSERT_TRUE(connection);
    hidtransport::InterfaceInfo attributes;
    ASSERT_EQ(connection->GetAttributes(attributes), ERROR_SUCCESS);
    EXPECT_EQ(attributes.plugId, first);
    std::uint32_t holder = 0;
    EXPECT_EQ(connection->Claim(hidtransport::ClaimOp::Query, holder), ERROR_SUCCESS);

    StopSimulator();
    ASSERT_FALSE(StartSimulator("plug.sock", options).empty());
    const std::u16string second = plugIdOf();
    EXPECT_TRUE(second.starts_with(u"sock:")) << std::string(second.begin(), second.end());
    EXPECT_NE(second, first);
    EXPECT_EQ(connection->Claim(hidtransport::ClaimOp::Query, holder), ERROR_DEVICE_NOT_CONNECTED)
        << "a connection carried on with another simulator";
    connection.reset();
    StopSimulator();
}

// The same through the station: a simulator program started again under its name between
// two looks is served again, once, and its flash holds the image.
TEST_F(Station, ASimulatorStartedAgainBetweenTwoLooksIsServedOnce) {
    std::vector<std::string> options = {"--part-row", "34", "--vid", "1209", "--pid", "5a5b",
                                        "--serial",   "PROG", "--port-path", "1-1"};
    StationRun station(Line("--count 3 --ports 1-1,1-2"), stops.handlers.WakeFd());
    ASSERT_FALSE(StartSimulator("board.sock", options).empty());
    ASSERT_EQ(PassedSerial(station), "PROG");
    {
        GatedLooks looks;
        looks.gate->Shut();
        Board(4, "OFF-PORT");
        ASSERT_TRUE(looks.gate->HoldsALook());
        StopSimulator();
        options.insert(options.end(), {"--save-flash", File("again.flash")});
        ASSERT_FALSE(StartSimulator("board.sock", options).empty());
    }
    ASSERT_EQ(PassedSerial(station), "PROG") << "the simulator started again was not served";
    Board(2, "NEXT");
    ASSERT_EQ(PassedSerial(station), "NEXT") << "the simulator started again was served twice";
    EXPECT_EQ(station.Line(), "station boards=3 passed=3 failed=0 exit=0");
    EXPECT_EQ(station.Wait(), cli::kExitOk);
    StopSimulator();
    EXPECT_TRUE(HoldsTheImage(Read(File("again.flash"))));
}

struct SignalRow {
    const char* name;
    std::map<int, int> afterWrite;  // chunk -> signal
    const char* result;
    int boardExit, stationExit;
};
void PrintTo(const SignalRow& row, std::ostream* os) { *os << row.name; }

class StationSignal : public Station, public ::testing::WithParamInterface<SignalRow> {};

// A first signal ends the intake and the burns in progress finish untouched; a second
// reaches them as a first reaches a lone burn: the write in progress finishes, nothing after.
TEST_P(StationSignal, BoardsInProgressFinish) {
    const SignalRow& row = GetParam();
    auto signaling = testsupport::PublishSignalingSim("station-signal");
    ASSERT_TRUE(signaling.sim);
    signaling.sim->afterWrite = row.afterWrite;
    StationRun station(Line("--json"), stops.handlers.WakeFd());
    Json line = station.JsonLine();
    auto late = Board(2, "LATE");  // plugged in after the signal: not served
    Json summary = station.JsonLine();
    EXPECT_EQ(station.Wait(), row.stationExit);
    EXPECT_EQ(line["board.result"] + " " + line["board.exit_code"], std::string(row.result) + " " + std::to_string(row.boardExit));
    EXPECT_EQ(line["board.bytes"], std::to_string(image.size())) << "the write in progress did not finish";
    EXPECT_EQ(summary["station.boards"] + " " + summary["station.exit_code"], "1 " + std::to_string(row.stationExit));
    auto flash = signaling.sim->device->FlashContents();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    EXPECT_EQ(late->TransferCount(), 0u) << "a board was taken after the signal";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StationSignal,
    ::testing::Values(SignalRow{"OneSignalLetsTheBurnFinishWhole", {{10, SIGINT}}, "passed", 0, 0},
                      SignalRow{"SecondSignalFinishesOnlyTheWriteInProgress", {{10, SIGINT}, {20, SIGTERM}}, "failed",
                                cli::InterruptedExit(SIGINT), cli::InterruptedExit(SIGINT)}),
    [](const auto& row) { return std::string(row.param.name); });

// What no board could take is refused before any is served.
TEST_F(Station, AnImageNoFlashCanTakeIsRefusedAtTheStart) {
    const std::vector<std::uint8_t> header(0x180014, 0);  // a firmware header giving length 0
    const std::pair<cli::AreaChoice, std::string> rows[] = {
        {cli::AreaChoice{}, "the image is empty"},
        {cli::AreaChoice{false, {true, false, false}}, "the image's firmware header gives a firmware length of 0"},
    };
    EXPECT_EQ(cli::StationImageRefusal(Pattern(0x20000, 1), rows[0].first), "");
    EXPECT_EQ(cli::StationImageRefusal({}, rows[0].first), rows[0].second + "; no flash part could take it, no board was burned");
    EXPECT_EQ(cli::StationImageRefusal(header, rows[1].first), rows[1].second + "; no flash part could take it, no board was burned");
    Write(File("empty.bin"), {});
    StationRun station("station " + File("empty.bin") + " --json", -1);
    Json line = station.JsonLine();
    EXPECT_EQ(station.Wait(), cli::kExitRefused);
    EXPECT_EQ(line["station.exit_code"], std::to_string(cli::kExitRefused));
}

}  // namespace
}  // namespace clitest
