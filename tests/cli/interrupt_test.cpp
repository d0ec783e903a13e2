// Interrupting uvc-hid: signals during a burn or a dump, in-process (raised by the device
// as a chosen flash data chunk passes, under the handlers the program installs) and as a
// program (a real SIGINT; standard output and error on a closed pipe).
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <tuple>
#include <csignal>

#include "tests/cli/cli_fixture.h"
#include "tools/cli/exit_codes.h"
#include "tools/cli/json.h"
#include "tools/cli/sha256.h"
#include "ui/services/stop_request.h"

extern char** environ;

namespace clitest {
namespace {

constexpr std::uint8_t kFlashDataReport = 1;
constexpr std::size_t kImageSize = 0x10000;  // one sector of the 256 KiB part: 256 chunks

// The simulator behind a device that raises a signal once the chosen flash data chunks
// have passed: the nth data report sent (a write) or fetched (a read).
class SignalingDevice final : public vhid::DeviceHandler {
public:
    explicit SignalingDevice(std::shared_ptr<sim::SimulatedDevice> device) : device_(std::move(device)) {}
    DWORD OnOutputReport(std::span<const std::uint8_t> report) override {
        DWORD result = device_->OnOutputReport(report);
        if (!report.empty() && report[0] == kFlashDataReport) Pass(afterWrite, ++writes_);
        return result;
    }
    DWORD OnInputRequest(std::uint8_t reportId, ULONG length, std::vector<std::uint8_t>& answer) override {
        DWORD result = device_->OnInputRequest(reportId, length, answer);
        if (reportId == kFlashDataReport) Pass(afterRead, ++reads_);
        return result;
    }
    std::map<int, int> afterWrite, afterRead;  // chunk number -> signal

private:
    static void Pass(const std::map<int, int>& at, int chunk) {
        if (auto it = at.find(chunk); it != at.end()) std::raise(it->second);
    }
    std::shared_ptr<sim::SimulatedDevice> device_;
    std::atomic<int> writes_{0}, reads_{0};
};

class Interrupt : public CliFixture {
protected:
    void SetUp() override {
        CliFixture::SetUp();
        ui::ResetStopRequests();
    }
    void TearDown() override {
        ui::ResetStopRequests();
        publication_.reset();
        CliFixture::TearDown();
    }
    std::shared_ptr<sim::SimulatedDevice> PublishSignaling() {
        sim::Config config;
        config.vendorId = 0x1209;
        config.productId = 0x5A5B;
        config.partRow = 34;
        std::string error;
        auto device = sim::SimulatedDevice::Create(std::move(config), error);
        EXPECT_TRUE(device) << error;
        signaling = std::make_shared<SignalingDevice>(device);
        vhid::DeviceInfo info = device->Info();
        info.path = vhid::MakePath("cli-interrupt");
        publication_ = vhid::Publish(std::move(info), signaling);
        return device;
    }
    static std::string Text(const std::string& path) {
        auto bytes = Read(path);
        return std::string(bytes.begin(), bytes.end());
    }

    ui::StopSignals handlers{""};  // as the program installs them
    std::shared_ptr<SignalingDevice> signaling;

private:
    std::unique_ptr<vhid::Publication> publication_;
};

struct BurnRow {
    const char* name;
    std::map<int, int> afterWrite;
    const char* error;
    ULONG bytes;  // written
    const char* verification;
};
void PrintTo(const BurnRow& row, std::ostream* os) { *os << row.name; }

class InterruptedBurn : public Interrupt, public ::testing::WithParamInterface<BurnRow> {};

// Exit 130 and every report (document, summary, log) tells the bytes actually written.
TEST_P(InterruptedBurn, ReportsTheBytesWrittenAndExits130) {
    const BurnRow& row = GetParam();
    auto device = PublishSignaling();
    const auto image = Pattern(kImageSize, 5);
    Write(File("image.bin"), image);
    signaling->afterWrite = row.afterWrite;
    RunResult r = Run("burn " + File("image.bin") + " --log " + File("run.log"));

    EXPECT_EQ(r.code, cli::InterruptedExit(SIGINT)) << r.text;
    EXPECT_EQ(r.doc["exit_code"], "130");
    EXPECT_EQ(r.doc["error"], row.error);
    EXPECT_EQ(r.doc["result"], row.error);
    EXPECT_EQ(r.doc.Number("bytes"), row.bytes);
    EXPECT_EQ(r.doc["verification"], row.verification);
    cli::Sha256 sha;
    sha.Update(std::span(image).first(row.bytes));
    const std::string written = sha.HexDigest();
    EXPECT_EQ(r.doc["sha256"], written);
    EXPECT_EQ(r.doc["messages"], "0") << "an interrupted burn shows no verdict box";
    auto flash = device->FlashContents();
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + row.bytes, flash.begin()));
    EXPECT_EQ(flash[kImageSize], 0xFF) << "written past the image";

    std::string log = Text(File("run.log"));
    EXPECT_NE(log.find("Z " + std::string(row.error) + "\n"), std::string::npos) << log;
    EXPECT_NE(log.find(", " + std::to_string(row.bytes) + " bytes (entire), sha256 " + written +
                       ", verification " + row.verification + ", " + row.error + "\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("burn: exit 130 (" + std::string(row.error) + ")\n"), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, InterruptedBurn,
    ::testing::Values(
        BurnRow{"OneSignalFinishesTheWriteAndItsCompare", {{10, SIGINT}},
                "interrupted: the write in progress was finished; nothing further was done", kImageSize, "passed"},
        BurnRow{"SecondSignalStopsAtTheNextChunk", {{10, SIGINT}, {20, SIGINT}}, "interrupted: the flash is incomplete",
                20 * 256, "not run"}),
    [](const auto& row) { return std::string(row.param.name); });

// A dump stops at the next chunk; the file named keeps what it held and nothing is left beside it.
TEST_F(Interrupt, DumpStopsAtTheNextChunkAndExits143) {
    PublishSignaling();
    const std::string folder = File("dumps");
    std::filesystem::create_directory(folder);
    const auto kept = Pattern(3000, 9);
    Write(folder + "/kept.bin", kept);
    signaling->afterRead = {{10, SIGTERM}};
    RunResult r = Run("dump " + folder + "/kept.bin");
    EXPECT_EQ(r.code, cli::InterruptedExit(SIGTERM)) << r.text;
    EXPECT_EQ(r.doc["error"], "interrupted: the dump is incomplete");
    EXPECT_EQ(Read(folder + "/kept.bin"), kept);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++files;
    EXPECT_EQ(files, 1u) << "the unfinished dump was left behind";
}

// A program with its standard output and error on pipes, or both on `sink`; killed if
// still running when it goes. Reads wait at most a minute.
class Child {
public:
    explicit Child(const std::vector<std::string>& args, int sink = -1) {
        int out[2] = {-1, -1}, err[2] = {-1, -1};
        if (sink < 0 && (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, sink < 0 ? out[1] : sink, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, sink < 0 ? err[1] : sink, STDERR_FILENO);
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        if (sink >= 0) return;
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (int fd : {out_, err_})
            if (fd >= 0) close(fd);
    }
    pid_t Pid() const { return pid_; }

    // The next line of standard output or error, without its newline; "" at the end.
    std::string OutLine() { return Line(outText_); }
    std::string ErrLine() { return Line(errText_); }

    // Reads both to their end and reaps the program: its exit status, or -1 when a
    // signal ended it (or it had to be killed).
    int Finish(std::string& out, std::string& err) {
        while (Fill()) {
        }
        out = std::exchange(outText_, {});
        err = std::exchange(errText_, {});
        int status = 0;
        if (waitpid(std::exchange(pid_, -1), &status, 0) < 0) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    std::string Line(std::string& text) {
        std::size_t end;
        while ((end = text.find('\n')) == std::string::npos && Fill()) {
        }
        std::string line = text.substr(0, end);
        text.erase(0, end == std::string::npos ? end : end + 1);
        return line;
    }
    // Takes what either pipe has (both at once, so a full one never stalls the program);
    // false once both ended, or after a minute without anything (the program is killed).
    bool Fill() {
        pollfd entries[] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (out_ < 0 && err_ < 0) return false;
        if (poll(entries, 2, 60000) <= 0) {
            if (pid_ > 0) kill(pid_, SIGKILL);
            return false;
        }
        for (auto [entry, fd, text] : {std::tuple{entries[0], &out_, &outText_}, std::tuple{entries[1], &err_, &errText_}}) {
            if (entry.revents == 0) continue;
            char chunk[4096];
            ssize_t got = read(*fd, chunk, sizeof chunk);
            if (got > 0) {
                text->append(chunk, static_cast<std::size_t>(got));
            } else {
                close(*fd);
                *fd = -1;
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    std::string outText_, errText_;
};

// The program itself, against the simulator program (1 ms a transfer, so a burn of 256
// chunks writes for a quarter of a second and compares as long).
class InterruptProgram : public Interrupt {
protected:
    void SetUp() override {
        Interrupt::SetUp();
        sim_ = std::make_unique<Child>(std::vector<std::string>{UVC_SIM_PROGRAM, "--name", "interrupt.sock", "--part-row",
                                                                "34", "--delay-ms", "1"});
        std::string ready = sim_->OutLine();
        ASSERT_NE(ready.find("ready: "), std::string::npos) << ready << sim_->ErrLine();
        socket = ready.substr(ready.find("ready: ") + 7);
        Write(File("image.bin"), Pattern(kImageSize, 1));
    }
    void TearDown() override {
        kill(sim_->Pid(), SIGINT);
        std::string out, err;
        EXPECT_EQ(sim_->Finish(out, err), 0) << err;
        Interrupt::TearDown();
    }
    // The flash holds the image: an in-process verify says so.
    int Verify() { return Run("verify " + File("image.bin") + " --device " + socket).code; }

    std::string socket;

private:
    std::unique_ptr<Child> sim_;
};

// A real SIGINT mid-write is announced at once, deferred, and answered with 130.
TEST_F(InterruptProgram, ASignalMidWriteIsAnnouncedAndDeferred) {
    Child burn({UVC_CLI_PROGRAM, "--json", "burn", File("image.bin"), "--device", socket});
    for (std::string line; (line = burn.ErrLine()).find(R"("status": "Write")") == std::string::npos;)
        ASSERT_FALSE(line.empty()) << "no write progress";
    kill(burn.Pid(), SIGINT);
    std::string out, err;
    EXPECT_EQ(burn.Finish(out, err), cli::InterruptedExit(SIGINT)) << err;
    EXPECT_NE(err.find(cli::JsonObject().Add("trace", ui::kStopDeferredNotice).Text() + "\n"), std::string::npos)
        << err;
    Json doc;
    ASSERT_TRUE(doc.Parse(out)) << out;
    EXPECT_EQ(doc["error"], "interrupted: the write in progress was finished; nothing further was done");
    EXPECT_EQ(doc.Number("bytes"), kImageSize);
    EXPECT_EQ(Verify(), cli::kExitOk);
}

// Standard output and error on a closed pipe: the burn completes and the status says the
// report was lost.
TEST_F(InterruptProgram, AClosedPipeIsAnOutputErrorAfterACompleteBurn) {
    int closed[2];
    ASSERT_EQ(pipe2(closed, O_CLOEXEC), 0);
    close(closed[0]);
    Child burn({UVC_CLI_PROGRAM, "burn", File("image.bin"), "--device", socket}, closed[1]);
    close(closed[1]);
    std::string out, err;
    EXPECT_EQ(burn.Finish(out, err), cli::kExitOutput);
    EXPECT_EQ(Verify(), cli::kExitOk);
}

}  // namespace
}  // namespace clitest
