// Interrupting uvc-hid: in-process at a chosen chunk, and as a program (real SIGINT, closed pipe).
#include <fcntl.h>
#include <unistd.h>

#include <csignal>

#include "tests/cli/cli_fixture.h"
#include "platform/win/text.h"
#include "tests/support/signaling_sim.h"
#include "tools/cli/exit_codes.h"
#include "tools/cli/json.h"
#include "tools/cli/log_file.h"

namespace clitest {
namespace {

constexpr std::size_t kImageSize = 0x10000;  // one sector of the 256 KiB part: 256 chunks
const std::string kWriteFinished = "interrupted: the write in progress was finished; nothing further was done";

class Interrupt : public CliFixture {
protected:
    StopState stops;
};

// Exit 130, and the document, the summary and the log give the bytes actually written: one
// signal lets the write and its compare finish, a second stops at the next chunk.
TEST_F(Interrupt, ABurnReportsTheBytesWrittenAndExits130) {
    const auto image = Pattern(kImageSize, 5);
    Write(File("image.bin"), image);
    const struct {
        std::map<int, int> afterWrite;  // chunk -> signal
        std::string error;
        ULONG bytes;  // written
        const char* verification;
    } rows[] = {{{{10, SIGINT}}, kWriteFinished, kImageSize, "passed"},
                {{{10, SIGINT}, {20, SIGINT}}, "interrupted: the flash is incomplete", 20 * 256, "not run"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.error);
        core::ResetStopRequests();
        auto published = testsupport::PublishSignalingSim("cli-interrupt", row.afterWrite);
        ASSERT_TRUE(published.sim);
        const std::string logFile = File(std::to_string(row.bytes) + ".log");
        RunResult r = Run("burn " + File("image.bin") + " --log " + logFile);
        EXPECT_EQ(r.code, cli::InterruptedExit(SIGINT)) << r.text;
        const std::string written = Sha256Of(std::span(image).first(row.bytes));
        EXPECT_EQ(r.doc["error"] + " | " + r.doc["result"] + " | " + r.doc["bytes"] + " | " + r.doc["sha256"] + " | " +
                      r.doc["verification"] + " | " + r.doc["messages"],
                  row.error + " | " + row.error + " | " + std::to_string(row.bytes) + " | " + written + " | " +
                      row.verification + " | 0");
        auto flash = published.sim->device->FlashContents();
        EXPECT_TRUE(std::equal(image.begin(), image.begin() + row.bytes, flash.begin()));
        EXPECT_EQ(flash[row.bytes], 0xFF) << "written past the stop";
        // The log's result line names the device by its path, as it has no port.
        const std::string path = Utf16ToUtf8(published.publication->Path()), log = Text(logFile);
        EXPECT_NE(log.find("] " + path + ": result command=burn exit=130" + cli::Field("device", path) +
                           " serial=SIM0001 bytes=" + std::to_string(row.bytes) + " sha256=" + written +
                           cli::Field("verification", row.verification) + cli::Field("error", row.error) + "\n"),
                  std::string::npos) << log;
    }
}

// A dump stops at the next chunk; the file named keeps what it held, nothing is left beside it.
TEST_F(Interrupt, DumpStopsAtTheNextChunkAndExits143) {
    auto published = testsupport::PublishSignalingSim("cli-interrupt-dump", {}, {{10, SIGTERM}});
    ASSERT_TRUE(published.sim);
    const std::string folder = File("dumps");
    std::filesystem::create_directory(folder);
    Write(folder + "/kept.bin", Pattern(3000, 9));
    RunResult r = Run("dump " + folder + "/kept.bin");
    EXPECT_EQ(r.code, cli::InterruptedExit(SIGTERM)) << r.text;
    EXPECT_EQ(r.doc["error"], "interrupted: the dump is incomplete");
    EXPECT_EQ(Read(folder + "/kept.bin"), Pattern(3000, 9));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()), 1)
        << "the unfinished dump was left behind";
}

// The program against the simulator program at 1 ms a transfer: 256 chunks take a quarter second.
class InterruptProgram : public Interrupt {
protected:
    void SetUp() override {
        Interrupt::SetUp();
        socket = StartSimulator("interrupt.sock", {"--part-row", "34", "--delay-ms", "1"});
        ASSERT_FALSE(socket.empty());
        Write(File("image.bin"), Pattern(kImageSize, 1));
    }
    // Whether the flash holds the image, by an in-process verify.
    bool FlashHoldsTheImage() { return Run("verify " + File("image.bin") + " --device " + socket).code == cli::kExitOk; }

    std::string socket;
};

// A real SIGINT mid-write is announced at once, the write and compare finish, status 130.
TEST_F(InterruptProgram, ASignalMidWriteIsAnnouncedAndDeferred) {
    pid_t burn = Spawn({UVC_CLI_PROGRAM, "--json", "burn", File("image.bin"), "--device", socket}, File("out"), File("err"));
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
    StopSimulator();
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
    StopSimulator();
}

}  // namespace
}  // namespace clitest
