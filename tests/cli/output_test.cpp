// The program's streams for a supervisor: what -q, the default and -v put on standard error
// while the log always has everything, and "-" as standard input for an image and standard
// output for a dump.
#include "tests/cli/cli_fixture.h"
#include "tools/cli/exit_codes.h"

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
    for (const auto& [level, withBox, withTrace] : {std::tuple{"-q", false, false}, {"", true, false}, {"-v", true, true}}) {
        std::vector<std::string> args = {"burn", File("image.bin"), "--log", File("run.log")};
        if (*level) args.push_back(level);
        const int code = Program(args);
        const std::string err = Text(File("err"));
        ASSERT_EQ(code, cli::kExitOk) << level << err;
        EXPECT_EQ(err.find(box) != std::string::npos, withBox) << level << ": " << err;
        EXPECT_EQ(err.find(trace) != std::string::npos, withTrace) << level << ": " << err;
        EXPECT_TRUE(std::regex_search(err, std::regex("(^|\n)result command=burn exit=0 device=2-1 serial=OUT-1 bytes=131072 ")))
            << level << ": " << err;
        EXPECT_NE(Text(File("out")).find("burn summary: "), std::string::npos) << level;
    }
    // Each of the three runs logged all of it, every line with its UTC time, the process and the board's port.
    const std::string log = Text(File("run.log"));
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(std::regex_match(line, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z uvc-hid\[\d+\] 2-1: .*)"))) << line;
    for (const std::string& line : {trace, box, std::string("burn summary: "), std::string("result command=burn exit=0")}) {
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
    EXPECT_EQ(burned["image"] + " " + burned["sha256"] + " " + burned["verification"], "- " + Sha256Of(image) + " passed");

    // The dump: the flash's bytes alone on standard output, the document on standard error.
    ASSERT_EQ(Program({"dump", "-", "--json"}), cli::kExitOk) << Text(File("err"));
    const auto dumped = Read(File("out"));
    ASSERT_EQ(dumped.size(), 256u * 1024);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), dumped.begin()));
    StopSimulator();
    const std::string err = Text(File("err"));
    Json doc;
    ASSERT_TRUE(doc.Parse(err.substr(err.rfind('\n', err.size() - 2) + 1))) << err;
    EXPECT_EQ(doc["file"] + " " + doc["bytes"], "- 262144");
}

}  // namespace
}  // namespace clitest
