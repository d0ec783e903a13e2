// Four simulated devices, each a process of its own with its own socket and image, flashed
// at once by four uvc-hid processes that each name their device with --device. Every flash
// must hold its own image, and every process must answer its own exit status.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "tests/cli/cli_fixture.h"
#include "tools/cli/exit_codes.h"

extern char** environ;

namespace clitest {
namespace {

using Clock = std::chrono::steady_clock;

// A child process whose standard output the test reads; standard error is discarded. A
// child still running when the test ends is killed.
class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (fd_ >= 0) close(fd_);
    }

    bool Start(const std::vector<std::string>& args) {
        int out[2];
        if (pipe(out) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        fd_ = out[0];
        return pid_ > 0;
    }

    // Reads until the output holds `text` (empty: until the end); false at the deadline.
    bool ReadUntil(std::string_view text, Clock::time_point deadline) {
        char buffer[4096];
        while (text.empty() || output.find(text) == std::string::npos) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd p{fd_, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return false;
            ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n <= 0) return text.empty();
            output.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }

    // The exit status once the output has ended (the child closes it by exiting).
    int Wait(Clock::time_point deadline) {
        if (!ReadUntil("", deadline)) return -1;
        int status = 0;
        if (waitpid(pid_, &status, 0) != pid_) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void Interrupt() const { kill(pid_, SIGINT); }

    std::string output;

private:
    pid_t pid_ = -1;
    int fd_ = -1;
};

class ParallelFlash : public CliFixture {};

TEST_F(ParallelFlash, FourDevicesFlashedAtOnceEachHoldItsOwnImage) {
    constexpr int kDevices = 4;
    constexpr int kCorrupted = 2;  // its compare sees a flipped byte: the burn must fail alone
    Child sims[kDevices], burns[kDevices];
    std::string sockets[kDevices];
    auto deadline = Clock::now() + std::chrono::seconds(60);
    for (int i = 0; i < kDevices; ++i) {
        std::string n = std::to_string(i);
        Write(File("image-" + n + ".bin"), Pattern(0x10000 - 100 * static_cast<std::size_t>(i), static_cast<std::uint8_t>(0x40 * i + 1)));
        std::vector<std::string> args = {UVC_SIM_PROGRAM, "--name", "line-" + n + ".sock", "--part-row", "34",
                                         "--save-flash", File("flash-" + n + ".bin")};
        if (i == kCorrupted) args.insert(args.end(), {"--corrupt-read", "3:5"});
        ASSERT_TRUE(sims[i].Start(args));
        ASSERT_TRUE(sims[i].ReadUntil("\n", deadline)) << "simulator " << i << " did not get ready";
        auto at = sims[i].output.find("ready: ");
        ASSERT_NE(at, std::string::npos) << sims[i].output;
        sockets[i] = sims[i].output.substr(at + 7, sims[i].output.find('\n', at) - at - 7);
    }
    for (int i = 0; i < kDevices; ++i)
        ASSERT_TRUE(burns[i].Start({UVC_CLI_PROGRAM, "burn", File("image-" + std::to_string(i) + ".bin"), "--device",
                                    sockets[i], "--json"}));
    for (int i = 0; i < kDevices; ++i) {
        int expected = i == kCorrupted ? cli::kExitCompare : cli::kExitOk;
        EXPECT_EQ(burns[i].Wait(deadline), expected) << "burn " << i << ": " << burns[i].output;
        Json doc;
        ASSERT_TRUE(JsonReader::Parse(burns[i].output, doc)) << burns[i].output;
        EXPECT_EQ(Str(*doc.Find("device"), "path"), "\\\\?\\simhid#line-" + std::to_string(i) + ".sock");
        EXPECT_EQ(Str(doc, "verification"), i == kCorrupted ? "failed" : "passed");
    }
    for (int i = 0; i < kDevices; ++i) {
        sims[i].Interrupt();
        EXPECT_EQ(sims[i].Wait(deadline), 0) << "simulator " << i;
        auto image = Read(File("image-" + std::to_string(i) + ".bin"));
        auto flash = Read(File("flash-" + std::to_string(i) + ".bin"));
        ASSERT_EQ(flash.size(), 256u * 1024);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin())) << "flash " << i << " does not hold its image";
        EXPECT_EQ(flash[image.size()], 0xFF) << "flash " << i << " was written past its image";
    }
}

}  // namespace
}  // namespace clitest
