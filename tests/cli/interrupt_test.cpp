// Interrupting uvc-hid: in-process at a chosen chunk, and as a program (real SIGINT, closed pipe).
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "tests/cli/cli_fixture.h"
#include "platform/win/text.h"
#include "tests/support/signaling_sim.h"
#include "tools/cli/exit_codes.h"
#include "tools/cli/json.h"
#include "tools/cli/log_file.h"
#include "tools/cli/sha256.h"
#include "core/stop_request.h"

extern char** environ;

namespace clitest {
namespace {

constexpr std::size_t kImageSize = 0x10000;  // one sector of the 256 KiB part: 256 chunks
const std::string kWriteFinished = "interrupted: the write in progress was finished; nothing further was done";

// The handlers as the program installs them; no stop request before or after the test.
class Interrupt : public CliFixture {
protected:
    struct StopState {
        StopState() { core::ResetStopRequests(); }
        ~StopState() { core::ResetStopRequests(); }
        core::StopSignals handlers{""};
    } stops;
};

struct BurnRow {
    const char* name;
    std::map<int, int> afterWrite;  // chunk -> signal
    std::string error;
    ULONG bytes;  // written
    const char* verification;
};
void PrintTo(const BurnRow& row, std::ostream* os) { *os << row.name; }

class InterruptedBurn : public Interrupt, public ::testing::WithParamInterface<BurnRow> {};

// Exit 130, and the document, the summary and the log give the bytes actually written.
TEST_P(InterruptedBurn, ReportsTheBytesWrittenAndExits130) {
    const BurnRow& row = GetParam();
    auto published = testsupport::PublishSignalingSim("cli-interrupt");
    ASSERT_TRUE(published.sim);
    published.sim->afterWrite = row.afterWrite;
    const auto image = Pattern(kImageSize, 5);
    Write(File("image.bin"), image);
    RunResult r = Run("burn " + File("image.bin") + " --log " + File("run.log"));

    EXPECT_EQ(r.code, cli::InterruptedExit(SIGINT)) << r.text;
    cli::Sha256 sha;
    sha.Update(std::span(image).first(row.bytes));
    const std::string written = sha.HexDigest();
    EXPECT_EQ(r.doc["error"] + " | " + r.doc["result"] + " | " + r.doc["bytes"] + " | " + r.doc["sha256"] + " | " +
                  r.doc["verification"] + " | " + r.doc["messages"],
              row.error + " | " + row.error + " | " + std::to_string(row.bytes) + " | " + written + " | " +
                  row.verification + " | 0");
    auto flash = published.sim->device->FlashContents();
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + row.bytes, flash.begin()));
    EXPECT_EQ(flash[row.bytes], 0xFF) << "written past the stop";
    std::string log = Text(File("run.log"));
    for (const std::string& line : std::vector<std::string>{
             row.error, std::to_string(row.bytes) + " bytes (entire), sha256 " + written + ", verification " +
                            row.verification + ", " + row.error,
             "result command=burn exit=130" + cli::Field("device", Utf16ToUtf8(published.publication->Path())) +
                 " serial=SIM0001 bytes=" + std::to_string(row.bytes) + " sha256=" + written +
                 cli::Field("verification", row.verification) + cli::Field("error", row.error)})
        EXPECT_NE(log.find(line + "\n"), std::string::npos) << line << "\n" << log;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, InterruptedBurn,
    ::testing::Values(BurnRow{"OneSignalFinishesTheWriteAndItsCompare", {{10, SIGINT}}, kWriteFinished, kImageSize,
                              "passed"},
                      BurnRow{"SecondSignalStopsAtTheNextChunk", {{10, SIGINT}, {20, SIGINT}},
                              "interrupted: the flash is incomplete", 20 * 256, "not run"}),
    [](const auto& row) { return std::string(row.param.name); });

// A dump stops at the next chunk; the file named keeps what it held, nothing is left beside it.
TEST_F(Interrupt, DumpStopsAtTheNextChunkAndExits143) {
    auto published = testsupport::PublishSignalingSim("cli-interrupt-dump");
    ASSERT_TRUE(published.sim);
    published.sim->afterRead = {{10, SIGTERM}};
    const std::string folder = File("dumps");
    std::filesystem::create_directory(folder);
    const auto kept = Pattern(3000, 9);
    Write(folder + "/kept.bin", kept);
    RunResult r = Run("dump " + folder + "/kept.bin");
    EXPECT_EQ(r.code, cli::InterruptedExit(SIGTERM)) << r.text;
    EXPECT_EQ(r.doc["error"], "interrupted: the dump is incomplete");
    EXPECT_EQ(Read(folder + "/kept.bin"), kept);
    std::vector<std::filesystem::path> files(std::filesystem::directory_iterator(folder), {});
    EXPECT_EQ(files.size(), 1u) << "the unfinished dump was left behind";
}

// Starts a program with standard output and error into files, or both onto `sink`.
pid_t Spawn(const std::vector<std::string>& args, const std::string& out, const std::string& err, int sink = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (auto [fd, path] : {std::pair{STDOUT_FILENO, &out}, std::pair{STDERR_FILENO, &err}}) {
        if (sink >= 0) posix_spawn_file_actions_adddup2(&actions, sink, fd);
        else posix_spawn_file_actions_addopen(&actions, fd, path->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The program's exit status within a minute; -1 when a signal ended it or it had to be killed.
int Wait(pid_t pid) {
    for (int tick = 0; pid > 0 && tick < 6000; ++tick) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
    return -1;
}

// The program against the simulator program at 1 ms a transfer: 256 chunks take a quarter second.
class InterruptProgram : public Interrupt {
protected:
    void SetUp() override {
        Interrupt::SetUp();
        sim_ = Spawn({UVC_SIM_PROGRAM, "--name", "interrupt.sock", "--part-row", "34", "--delay-ms", "1"},
                     File("sim.out"), File("sim.err"));
        std::string ready = WaitFor(File("sim.out"), "\n");
        ASSERT_NE(ready.find("ready: "), std::string::npos) << ready << Text(File("sim.err"));
        socket = ready.substr(ready.find("ready: ") + 7, ready.find('\n') - ready.find("ready: ") - 7);
        Write(File("image.bin"), Pattern(kImageSize, 1));
    }
    void TearDown() override {
        if (sim_ > 0) kill(sim_, SIGINT);
        EXPECT_EQ(Wait(sim_), 0) << Text(File("sim.err"));
        Interrupt::TearDown();
    }
    // The file's text once it holds `text` (at most a minute later).
    static std::string WaitFor(const std::string& path, const std::string& text) {
        std::string now;
        for (int tick = 0; tick < 6000 && (now = Text(path)).find(text) == std::string::npos; ++tick)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return now;
    }
    // Whether the flash holds the image, by an in-process verify.
    bool FlashHoldsTheImage() { return Run("verify " + File("image.bin") + " --device " + socket).code == cli::kExitOk; }

    std::string socket;

private:
    pid_t sim_ = -1;
};

// A real SIGINT mid-write is announced at once, the write and compare finish, status 130.
TEST_F(InterruptProgram, ASignalMidWriteIsAnnouncedAndDeferred) {
    pid_t burn = Spawn({UVC_CLI_PROGRAM, "--json", "burn", File("image.bin"), "--device", socket}, File("out"),
                       File("err"));
    EXPECT_NE(WaitFor(File("err"), R"("status": "Write")").find("Write"), std::string::npos) << "no write progress";
    kill(burn, SIGINT);
    EXPECT_EQ(Wait(burn), cli::InterruptedExit(SIGINT)) << Text(File("err"));
    EXPECT_NE(Text(File("err")).find(cli::JsonObject().Add("trace", core::kStopDeferredNotice).Text() + "\n"),
              std::string::npos);
    Json doc;
    ASSERT_TRUE(doc.Parse(Text(File("out")))) << Text(File("out"));
    EXPECT_EQ(doc["error"], kWriteFinished);
    EXPECT_EQ(doc.Number("bytes"), kImageSize);
    EXPECT_TRUE(FlashHoldsTheImage());
}

// Output and error on a closed pipe: the burn completes and the status says the report was lost.
TEST_F(InterruptProgram, AClosedPipeIsAnOutputErrorAfterACompleteBurn) {
    int closed[2];
    ASSERT_EQ(pipe2(closed, O_CLOEXEC), 0);
    close(closed[0]);
    pid_t burn = Spawn({UVC_CLI_PROGRAM, "burn", File("image.bin"), "--device", socket}, "", "", closed[1]);
    close(closed[1]);
    EXPECT_EQ(Wait(burn), cli::kExitOutput);
    EXPECT_TRUE(FlashHoldsTheImage());
}

}  // namespace
}  // namespace clitest
