// The program's streams for a supervisor: what -q, the default and -v put on standard error
// while the log always has everything, and "-" as standard input for an image and standard
// output for a dump.
#include "tests/cli/cli_fixture.h"
#include "tools/cli/exit_codes.h"
#include "tools/cli/sha256.h"

namespace clitest {
namespace {

class CliOutput : public CliFixture {
protected:
    void SetUp() override {
        CliFixture::SetUp();
        Write(File("image.bin"), image);
        socket = StartSimulator("out.sock", {"--part-row", "34", "--serial", "OUT-1", "--port-path", "2-1"});
        ASSERT_FALSE(socket.empty());
    }
    void TearDown() override {
        StopSimulator();
        CliFixture::TearDown();
    }
    // Runs uvc-hid on the simulator with `args`, standard input from `input` when given.
    int Program(std::vector<std::string> args, int input = -1) {
        args.insert(args.begin(), UVC_CLI_PROGRAM);
        args.insert(args.end(), {"--device", "usb:2-1"});
        return Wait(Spawn(args, File("out"), File("err"), -1, input));
    }

    const std::vector<std::uint8_t> image = Pattern(0x20000, 0x21);
    std::string socket;
};

TEST_F(CliOutput, QuietDefaultAndVerboseAddToStandardErrorWhatTheLogAlwaysHas) {
    const std::string box = "[Info] The entire flash has updated", trace = "Open Device Info--VID/PID";
    const struct {
        const char* level;
        bool box, trace;
    } rows[] = {{"-q", false, false}, {"", true, false}, {"-v", true, true}};
    for (const auto& row : rows) {
        std::vector<std::string> args = {"burn", File("image.bin"), "--log", File("run.log")};
        if (*row.level) args.push_back(row.level);
        ASSERT_EQ(Program(args), cli::kExitOk) << row.level << Text(File("err"));
        const std::string err = Text(File("err"));
        EXPECT_EQ(err.find(box) != std::string::npos, row.box) << row.level << ": " << err;
        EXPECT_EQ(err.find(trace) != std::string::npos, row.trace) << row.level << ": " << err;
        EXPECT_TRUE(std::regex_search(err, std::regex("(^|\n)result command=burn exit=0 device=2-1 serial=OUT-1 bytes=131072 ")))
            << row.level << ": " << err;
        EXPECT_NE(Text(File("out")).find("burn summary: "), std::string::npos) << row.level;
    }
    // Each of the three runs logged all of it, by the board's port.
    const std::string log = Text(File("run.log"));
    for (const std::string& line : {trace, box, std::string("result command=burn exit=0")}) {
        const std::string wanted = "] 2-1: " + line;
        int runs = 0;
        for (std::size_t at = 0; (at = log.find(wanted, at)) != std::string::npos; at += wanted.size()) ++runs;
        EXPECT_EQ(runs, 3) << line << "\n" << log;
    }
}

TEST_F(CliOutput, StandardInputCarriesAnImageAndStandardOutputADump) {
    // The image through a pipe, which hands it over in pieces.
    int pipe[2];
    ASSERT_EQ(pipe2(pipe, O_CLOEXEC), 0);
    pid_t burn = Spawn({UVC_CLI_PROGRAM, "burn", "-", "--json", "--device", "usb:2-1"}, File("out"), File("err"), -1, pipe[0]);
    close(pipe[0]);
    for (std::size_t done = 0; done < image.size(); done += 1000)
        ASSERT_GT(write(pipe[1], image.data() + done, std::min<std::size_t>(1000, image.size() - done)), 0);
    close(pipe[1]);
    ASSERT_EQ(Wait(burn), cli::kExitOk) << Text(File("err"));
    Json burned;
    ASSERT_TRUE(burned.Parse(Text(File("out"))));
    cli::Sha256 sha;
    sha.Update(image);
    EXPECT_EQ(burned["image"] + " " + burned["sha256"] + " " + burned["verification"], "- " + sha.HexDigest() + " passed");

    // The dump: the flash's bytes alone on standard output, the document on standard error.
    ASSERT_EQ(Program({"dump", "-", "--json"}), cli::kExitOk) << Text(File("err"));
    const auto dumped = Read(File("out"));
    ASSERT_EQ(dumped.size(), 256u * 1024);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), dumped.begin()));
    const std::string err = Text(File("err"));
    Json doc;
    ASSERT_TRUE(doc.Parse(err.substr(err.rfind('\n', err.size() - 2) + 1))) << err;
    EXPECT_EQ(doc["file"] + " " + doc["bytes"], "- 262144");
}

}  // namespace
}  // namespace clitest
