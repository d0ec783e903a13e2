// The uvc_hid_sim program in a process of its own, found through the socket transport.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "sim_bench.h"
#include "socket_fixture.h"

extern char** environ;

namespace {

using namespace simtest;

// A running simulator program; killed (and reaped) if the test did not stop it.
class Program {
public:
    explicit Program(std::vector<std::string> args) {
        args.insert(args.begin(), UVC_SIM_PROGRAM);
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        int out[2];
        if (pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        if (posix_spawn(&pid_, UVC_SIM_PROGRAM, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        stdout_ = out[0];
    }
    ~Program() {
        if (pid_ > 0) Stop(SIGKILL);
        if (stdout_ >= 0) close(stdout_);
    }
    // What the program printed up to its first line, or until it fell silent for 10 s.
    std::string FirstLine() {
        std::string text;
        char buffer[256];
        for (pollfd p{stdout_, POLLIN, 0}; text.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0;) {
            const ssize_t n = read(stdout_, buffer, sizeof buffer);
            if (n <= 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }
    // The exit status after `signal`, or -1.
    int Stop(int signal) { return pid_ > 0 && kill(pid_, signal) == 0 ? Wait() : -1; }
    int Wait() {
        int status = 0;
        if (waitpid(pid_, &status, 0) != pid_) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
};

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class SimProgram : public RuntimeDirFixture {};

TEST_F(SimProgram, ServesOverItsSocketAndSavesAtSigterm) {
    const std::string flash = Root() + "/flash.bin", log = Root() + "/log.txt", image = Root() + "/image.bin";
    std::ofstream(image, std::ios::binary) << "IMAGE";
    Program program({"--vid", "abcd", "--pid", "0x0002", "--part-row", "34", "--image", image, "--name", "t.sock",
                     "--save-flash", flash, "--save-log", log});
    ASSERT_EQ(program.FirstLine(), "uvc_hid_sim ready: " + SimDir() + "/t.sock\n");

    auto listed = Enumerate();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].vendorId, 0xABCD);
    EXPECT_EQ(listed[0].productId, 0x0002);
    std::unique_ptr<hidtransport::Connection> connection;
    ASSERT_EQ(Provider().Open(listed[0].path, 0, 0, connection), ERROR_SUCCESS);

    // Write 16 bytes at 0x100 of the 256 KiB flash, over the wire.
    const Bench frames;  // only builds frames; its own device is not used
    const Bytes data = Pattern(16, 0xA0);
    ASSERT_EQ(connection->SetOutputReport(frames.Control(0x07, 0x03, {{1}, Le4(0x100)})), ERROR_SUCCESS);
    ASSERT_EQ(connection->SetOutputReport(frames.Control(0x06, 0x05, {Le4(16)})), ERROR_SUCCESS);
    ASSERT_EQ(connection->SetOutputReport(frames.Frame(ReportKind::FlashData, 0, 0, {{0}, data})), ERROR_SUCCESS);
    Bytes answer;
    ASSERT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_SUCCESS);
    EXPECT_EQ(First(answer), 34);

    EXPECT_EQ(program.Stop(SIGTERM), 0);
    EXPECT_FALSE(std::filesystem::exists(SimDir() + "/t.sock"));
    const Bytes saved = ReadFile(flash);
    ASSERT_EQ(saved.size(), 0x40000u);
    // The write burst erased sector 0 (and with it the loaded image) and programmed its bytes.
    EXPECT_EQ(saved[0], 0xFF);
    EXPECT_EQ(Bytes(saved.begin() + 0x100, saved.begin() + 0x110), data);
    const Bytes logText = ReadFile(log);
    EXPECT_EQ(std::count(logText.begin(), logText.end(), '\n'), 4) << "one line a transfer";
}

TEST_F(SimProgram, KilledSimulatorLeavesAStaleSocketThatEnumerationRemoves) {
    Program program({"--name", "k.sock", "--fail-transfer", "1"});
    ASSERT_NE(program.FirstLine().find("ready"), std::string::npos);
    std::unique_ptr<hidtransport::Connection> connection;
    ASSERT_EQ(Provider().Open(u"\\\\?\\simhid#k.sock", 0, 0, connection), ERROR_SUCCESS);
    Bytes answer;
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_GEN_FAILURE) << "the fault option";
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_SUCCESS);
    program.Stop(SIGKILL);
    EXPECT_TRUE(std::filesystem::exists(SimDir() + "/k.sock"));
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(Enumerate().empty());
    EXPECT_FALSE(std::filesystem::exists(SimDir() + "/k.sock"));
}

TEST_F(SimProgram, HelpAndBadOptions) {
    Program help({"--help"});
    EXPECT_NE(help.FirstLine().find("usage: uvc_hid_sim"), std::string::npos);
    EXPECT_EQ(help.Wait(), 0);
    for (std::vector<std::string> bad : {std::vector<std::string>{"--frobnicate", "1"}, {"--part-row", "46"},
                                         {"--vid", "xyz"}, {"--report", "flash-in=1"}, {"--name", "../x.sock"},
                                         {"--part-row"}}) {
        Program program(bad);
        EXPECT_EQ(program.Wait(), 2) << bad[0];
    }
}

}  // namespace
