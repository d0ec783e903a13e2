// A held device: every command refuses with the holder's pid (exit 7), nothing
// reaches the device, and it works again once the holder lets go.
#include <unistd.h>

#include "tests/support/device_holder.h"
#include "platform/win/text.h"
#include "tests/cli/cli_fixture.h"
#include "tests/support/vendor_descriptor.h"
#include "tools/cli/exit_codes.h"

namespace clitest {
namespace {

using Holder = testsupport::DeviceHolder;

std::string BusyText() { return "device busy: held by process " + std::to_string(::getpid()); }

class CliBusy : public CliFixture {};

TEST_F(CliBusy, EveryCommandRefusesAHeldDeviceAndSendsItNothing) {
    auto device = Publish("cli-busy");
    Write(File("image.bin"), Pattern(0x10000, 3));
    Write(File("kept.bin"), {1, 2, 3});
    {
        Holder holder(paths_[0]);
        const char* lines[] = {"id", "reg write 100 cafe0001", "gpio write 2 1", "hdcp off",
                               "burn image.bin", "dump kept.bin", "dump fresh.bin", "verify image.bin"};
        for (const char* line : lines) {
            RunResult r = Run(std::regex_replace(line, std::regex("(\\w+\\.bin)"), dir_ + "/$1"));
            EXPECT_EQ(r.code, cli::kExitBusy) << line << ": " << r.text;
            EXPECT_EQ(r.doc["error"], BusyText()) << line;
        }
        RunResult list = Run("list");
        EXPECT_EQ(list.doc.Number("interfaces.0.busy_pid"), ::getpid()) << list.text;
    }
    EXPECT_TRUE(device->Log().empty()) << "a refused command reached the device";
    EXPECT_EQ(Read(File("kept.bin")), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_FALSE(std::filesystem::exists(File("fresh.bin")));
    auto flash = device->FlashContents();
    EXPECT_TRUE(std::all_of(flash.begin(), flash.begin() + 0x10000, [](std::uint8_t b) { return b == 0xFF; }));

    // Once the holder has let go, the device serves again and is listed as free.
    RunResult read = Run("reg read 100");
    EXPECT_EQ(read.code, cli::kExitOk) << read.text;
    EXPECT_NE(read.doc["value"], "cafe0001");
    EXPECT_EQ(Run("list").doc.Kind("interfaces.0.busy_pid"), '\0');
}

// A device that never answers; only its descriptor and strings matter to `list`.
class SilentDevice final : public vhid::DeviceHandler {
public:
    DWORD OnOutputReport(std::span<const std::uint8_t>) override { return ERROR_GEN_FAILURE; }
    DWORD OnInputRequest(std::uint8_t, ULONG, std::vector<std::uint8_t>&) override { return ERROR_GEN_FAILURE; }
};

class CliList : public CliFixture {};

// An unparsable descriptor is listed as such; control characters in a name cannot forge a plain line.
TEST_F(CliList, ListsUnparsableAndHostileInterfacesForWhatTheyAre) {
    vhid::DeviceInfo bad;
    bad.path = vhid::MakePath("list-bad");
    bad.vendorId = 0x1209;
    bad.productId = 0x0BAD;
    bad.reportDescriptor = {0x06, 0x00, 0xFF, 0xA1};  // cut off inside a collection
    vhid::DeviceInfo hostile = bad;
    hostile.path = vhid::MakePath("list-hostile");
    hostile.reportDescriptor = testsupport::CaptureDeviceDescriptor();
    hostile.product = u"cam\n/dev/hidraw0  1209:0001\x1b[2J";
    auto a = vhid::Publish(bad, std::make_shared<SilentDevice>());
    auto b = vhid::Publish(hostile, std::make_shared<SilentDevice>());

    RunResult doc = Run("list");
    EXPECT_EQ(doc.code, cli::kExitOk) << doc.text;
    EXPECT_EQ(doc.doc["interfaces.0.problem"] + "|" + doc.doc["interfaces.0.accessible"] + "|" + doc.doc["interfaces.0.pid"],
              "descriptor does not parse|false|0bad");
    EXPECT_EQ(doc.doc["interfaces.1.product"], "cam\n/dev/hidraw0  1209:0001\x1b[2J");

    cli::Options options;
    ASSERT_EQ(cli::ParseCommandLine({"list"}, options), "");
    std::FILE* out = std::tmpfile();
    EXPECT_EQ(cli::RunCommandLine(options, out), cli::kExitOk);
    std::string plain = ReadAll(out);
    EXPECT_EQ(std::count(plain.begin(), plain.end(), '\n'), 2) << plain;
    EXPECT_EQ(plain.find('\x1b'), std::string::npos) << plain;
    EXPECT_NE(plain.find("(descriptor does not parse)"), std::string::npos) << plain;
    EXPECT_NE(plain.find(Utf16ToUtf8(hostile.path) + "  1209:0bad  usage page ff00 usage 0001  cam\\n/dev/hidraw0  1209:0001\\u001b[2J"),
              std::string::npos) << "a path must read as typed, only control characters escaped: " << plain;
}

}  // namespace
}  // namespace clitest
