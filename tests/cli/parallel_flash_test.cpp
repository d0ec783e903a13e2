// Four simulator processes flashed at once by four uvc-hid processes, each naming its --device:
// every flash holds its own image and every process answers its own exit status.
#include <sys/wait.h>

#include <csignal>

#include "tests/cli/cli_fixture.h"
#include "tools/cli/exit_codes.h"

namespace clitest {
namespace {

// A program under timeout (then a kill), started through a shell that prints its pid first;
// standard error goes to `errors`. No leak check: timeout's SIGCONT after a forwarded signal
// cancels the stop the leak check waits for, and the child hangs (their own suites check leaks).
class Process {
public:
    Process(const std::string& command, const std::string& errors)
        : out_(popen(("echo $$; exec env ASAN_OPTIONS=detect_leaks=0 timeout -k 5 60 " + command + " 2>" + errors).c_str(),
                     "r")),
          pid_(std::atoi(Line().c_str())) {}
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    // timeout runs in a process group of its own with its child: both go, so a child whose
    // timeout was killed before it forwarded a signal is not left running.
    ~Process() {
        if (out_ && pid_ > 0) {
            kill(-pid_, SIGKILL);
            kill(pid_, SIGKILL);
        }
        if (out_) pclose(out_);
    }
    std::string Line() {  // the next line of standard output, without its newline
        char buffer[1024];
        std::string line = out_ && std::fgets(buffer, sizeof buffer, out_) ? buffer : "";
        return line.ends_with('\n') ? line.substr(0, line.size() - 1) : line;
    }
    int Finish(std::string& rest) {  // reads standard output to its end; the exit status
        for (int c; (c = std::fgetc(out_)) != EOF;) rest += static_cast<char>(c);
        int status = pclose(std::exchange(out_, nullptr));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void Interrupt() const { kill(pid_, SIGINT); }

private:
    std::FILE* out_;
    pid_t pid_;
};

class ParallelFlash : public CliFixture {};

TEST_F(ParallelFlash, FourDevicesFlashedAtOnceEachHoldItsOwnImage) {
    constexpr std::size_t kDevices = 4;
    constexpr std::size_t kCorrupted = 2;  // its compare sees a flipped byte: the burn must fail alone
    std::vector<std::unique_ptr<Process>> sims, burns;
    for (std::size_t i = 0; i < kDevices; ++i) {
        std::string n = std::to_string(i);
        Write(File("image-" + n + ".bin"), Pattern(0x20000 + 100 * i, static_cast<std::uint8_t>(0x40 * i + 1)));
        sims.push_back(std::make_unique<Process>(std::string(UVC_SIM_PROGRAM) + " --name line-" + n + ".sock --part-row 34" +
                                                 " --save-flash " + File("flash-" + n + ".bin") +
                                                 (i == kCorrupted ? " --corrupt-read 3:5" : ""),
                                               File("sim-" + n + ".err")));
    }
    for (std::size_t i = 0; i < kDevices; ++i) {
        std::string ready = sims[i]->Line();
        ASSERT_NE(ready.find("ready: "), std::string::npos)
            << "simulator " << i << ": " << ready << Text(File("sim-" + std::to_string(i) + ".err"));
        burns.push_back(std::make_unique<Process>(std::string(UVC_CLI_PROGRAM) + " burn " + File("image-" + std::to_string(i) + ".bin") +
                                                  " --json --device " + ready.substr(ready.find("ready: ") + 7),
                                                  File("burn-" + std::to_string(i) + ".err")));
    }
    Process usage(std::string(UVC_CLI_PROGRAM) + " --json reg read 54G", "/dev/null");
    for (std::size_t i = 0; i <= kDevices; ++i) {
        Process& run = i < kDevices ? *burns[i] : usage;
        const int expected = i == kDevices ? cli::kExitUsage : i == kCorrupted ? cli::kExitCompare : cli::kExitOk;
        std::string output;
        EXPECT_EQ(run.Finish(output), expected) << "run " << i << ": " << output;
        Json doc;
        ASSERT_TRUE(doc.Parse(output)) << output;
        ExpectSchema(doc, "run " + std::to_string(i));
        EXPECT_EQ(doc["exit_code"], std::to_string(expected));
        if (i == kDevices) {
            EXPECT_EQ(doc["command"] + ": " + doc["error"], ": '54G' is not a hexadecimal number");
            break;
        }
        EXPECT_EQ(doc["device.path"], "\\\\?\\simhid#line-" + std::to_string(i) + ".sock");
        EXPECT_EQ(doc["verification"], i == kCorrupted ? "failed" : "passed");
    }
    for (std::size_t i = 0; i < kDevices; ++i) {
        sims[i]->Interrupt();
        std::string rest;
        EXPECT_EQ(sims[i]->Finish(rest), 0) << "simulator " << i;
        auto image = Read(File("image-" + std::to_string(i) + ".bin"));
        auto flash = Read(File("flash-" + std::to_string(i) + ".bin"));
        ASSERT_EQ(flash.size(), 256u * 1024);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin())) << "flash " << i << " does not hold its image";
        EXPECT_EQ(flash[image.size()], 0xFF) << "flash " << i << " was written past its image";
    }
}

// Two dumps at once on one simulator each run whole or refuse, never interleaved.
TEST_F(ParallelFlash, TwoProgramsOnOneDeviceAreNeverInterleaved) {
    const auto image = Pattern(256 * 1024, 0x33);
    Write(File("flash.bin"), image);
    Process sim(std::string(UVC_SIM_PROGRAM) + " --name shared.sock --part-row 34 --image " + File("flash.bin"),
                File("sim.err"));
    std::string ready = sim.Line();
    ASSERT_NE(ready.find("ready: "), std::string::npos) << ready << Text(File("sim.err"));
    const std::string device = " --json --device " + ready.substr(ready.find("ready: ") + 7);
    std::vector<std::unique_ptr<Process>> dumps;
    for (int i = 0; i < 2; ++i)
        dumps.push_back(std::make_unique<Process>(
            std::string(UVC_CLI_PROGRAM) + " dump " + File("dump-" + std::to_string(i) + ".bin") + device,
            File("dump-" + std::to_string(i) + ".err")));
    int finished = 0;
    for (int i = 0; i < 2; ++i) {
        std::string output;
        int code = dumps[static_cast<std::size_t>(i)]->Finish(output);
        ASSERT_TRUE(code == cli::kExitOk || code == cli::kExitBusy) << "dump " << i << ": " << output;
        if (code != cli::kExitOk) continue;
        ++finished;
        EXPECT_TRUE(Read(File("dump-" + std::to_string(i) + ".bin")) == image) << "dump " << i << " is not the flash";
    }
    EXPECT_GE(finished, 1);
    sim.Interrupt();
}

}  // namespace
}  // namespace clitest
