// Simulator processes flashed at once by several uvc-hid processes: every flash holds its own
// image, every process answers its own exit status, and two dumps on one device never interleave.
#include "tests/cli/cli_fixture.h"
#include "tools/cli/exit_codes.h"

namespace clitest {
namespace {

class ParallelFlash : public CliFixture {};

// Four burns, each naming its --device, and a usage error meanwhile; the third device's
// compare sees a flipped byte, and its burn alone fails.
TEST_F(ParallelFlash, FourDevicesFlashedAtOnceEachHoldItsOwnImage) {
    constexpr std::size_t kDevices = 4, kCorrupted = 2;
    std::vector<pid_t> runs;
    for (std::size_t i = 0; i < kDevices; ++i) {
        const std::string n = std::to_string(i);
        Write(File("image-" + n), Pattern(0x20000 + 100 * i, static_cast<std::uint8_t>(0x40 * i + 1)));
        std::vector<std::string> options = {"--part-row", "34", "--save-flash", File("flash-" + n)};
        if (i == kCorrupted) options.insert(options.end(), {"--corrupt-read", "3:5"});
        const std::string socket = StartSimulator("line-" + n + ".sock", options);
        ASSERT_FALSE(socket.empty());
        runs.push_back(Spawn({UVC_CLI_PROGRAM, "burn", File("image-" + n), "--json", "--device", socket}, File("out-" + n),
                             File("err-" + n)));
    }
    runs.push_back(Spawn({UVC_CLI_PROGRAM, "--json", "reg", "read", "54G"}, File("out-4"), File("err-4")));
    for (std::size_t i = 0; i <= kDevices; ++i) {
        const std::string n = std::to_string(i);
        const int expected = i == kDevices ? cli::kExitUsage : i == kCorrupted ? cli::kExitCompare : cli::kExitOk;
        EXPECT_EQ(Wait(runs[i]), expected) << "run " << i << ": " << Text(File("err-" + n));
        Json doc;
        ASSERT_TRUE(doc.Parse(Text(File("out-" + n)))) << Text(File("out-" + n));
        ExpectSchema(doc, "run " + n);
        if (i == kDevices) {
            EXPECT_EQ(doc["command"] + ": " + doc["error"], ": '54G' is not a hexadecimal number");
            break;
        }
        EXPECT_EQ(doc["device.path"], "\\\\?\\simhid#line-" + n + ".sock");
        EXPECT_EQ(doc["verification"], i == kCorrupted ? "failed" : "passed");
    }
    for (std::size_t i = 0; i < kDevices; ++i) StopSimulator();
    for (std::size_t i = 0; i < kDevices; ++i) {
        const auto image = Read(File("image-" + std::to_string(i))), flash = Read(File("flash-" + std::to_string(i)));
        ASSERT_EQ(flash.size(), 256u * 1024);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin())) << "flash " << i << " does not hold its image";
        EXPECT_EQ(flash[image.size()], 0xFF) << "flash " << i << " was written past its image";
    }
}

// Two dumps at once on one simulator each run whole or refuse, never interleaved.
TEST_F(ParallelFlash, TwoProgramsOnOneDeviceAreNeverInterleaved) {
    const auto image = Pattern(256 * 1024, 0x33);
    Write(File("flash.bin"), image);
    const std::string socket = StartSimulator("shared.sock", {"--part-row", "34", "--image", File("flash.bin")});
    ASSERT_FALSE(socket.empty());
    std::vector<pid_t> dumps;
    for (const char* n : {"0", "1"})
        dumps.push_back(Spawn({UVC_CLI_PROGRAM, "dump", File(std::string("dump-") + n), "--json", "--device", socket},
                              File(std::string("out-") + n), File(std::string("err-") + n)));
    int finished = 0;
    for (std::size_t i = 0; i < 2; ++i) {
        const int code = Wait(dumps[i]);
        ASSERT_TRUE(code == cli::kExitOk || code == cli::kExitBusy) << "dump " << i << ": " << Text(File("out-" + std::to_string(i)));
        if (code == cli::kExitOk) {
            ++finished;
            EXPECT_TRUE(Read(File("dump-" + std::to_string(i))) == image) << "dump " << i << " is not the flash";
        }
    }
    EXPECT_GE(finished, 1);
    StopSimulator();
}

}  // namespace
}  // namespace clitest
