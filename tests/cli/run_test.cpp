// uvc-hid against in-process simulators: each command's JSON document (checked against the
// schema by Run), what it answers, the exit status of every failure kind, held devices, and
// what list shows of hostile ones.
#include <unistd.h>

#include <cerrno>

#include "platform/hid/transport_hidraw.h"
#include "platform/win/text.h"
#include "tests/cli/cli_fixture.h"
#include "tests/support/device_holder.h"
#include "tests/support/vendor_descriptor.h"
#include "tools/cli/exit_codes.h"
#include "core/format.h"

namespace clitest {
namespace {

using CliRun = CliFixture;

TEST_F(CliRun, EveryCommandAnswersOneDocumentOfTheDocumentedShape) {
    auto device = Publish("cli-schema");
    Write(File("image.bin"), Pattern(0x20000, 1));  // half the flash: a burn without a warning
    const struct {
        const char *line, *key, *value;
    } rows[] = {
        {"list", "", ""}, {"id", "flash.total_size", "262144"}, {"fw-version", "firmware_version", "01.00.1a.05"},
        {"hdmi-info", "", ""}, {"reg write 100 cafe0001", "", ""}, {"reg read 100", "value", "cafe0001"},
        {"iic write 90 10 5a", "", ""}, {"iic read 90 10", "value", "5a"}, {"gpio dir 2 out", "direction", "out"},
        {"gpio write 2 1", "", ""}, {"gpio read 2", "level", "01"}, {"hdcp off", "hdcp", "off"}, {"hdcp on", "hdcp", "on"},
        {"burn image.bin", "verification", "passed"}, {"verify image.bin", "differences", "0"}, {"dump dump.bin", "bytes", "262144"},
    };
    std::string dumpedSha;
    for (const auto& row : rows) {
        RunResult r = Run(std::regex_replace(row.line, std::regex("(\\w+\\.bin)"), dir_ + "/$1"));
        EXPECT_EQ(r.code, cli::kExitOk) << row.line << ": " << r.text;
        EXPECT_EQ(*row.key ? r.doc[row.key] : "", row.value) << row.line;
        if (std::string_view(row.line).starts_with("dump")) dumpedSha = r.doc["sha256"];
    }
    auto flash = device->FlashContents();
    EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + 0x20000, Pattern(0x20000, 1).begin()));
    const auto dumped = Read(File("dump.bin"));
    EXPECT_TRUE(dumped.size() == flash.size() && std::equal(flash.begin(), flash.end(), dumped.begin()));
    EXPECT_EQ(dumpedSha, Sha256Of(dumped)) << "the result names the file as it lies on the disk";
}

TEST_F(CliRun, BurnSummaryNamesWhatWasWrittenAndReadsBackTheBlindAreas) {
    auto device = Publish("cli-areas", 29);  // 8 MiB, room for every area
    auto image = Pattern(0x500000, 9);
    for (ULONG i = 0; i < 8; ++i) image[0x18000C + i] = i == 6 ? 0x10 : 0;  // Header_len 0, Boot_Size 0x1000
    Write(File("areas.bin"), image);
    RunResult r = Run("burn " + File("areas.bin") + " --area private,firmware");
    ASSERT_EQ(r.code, cli::kExitOk) << r.text;
    EXPECT_EQ(r.doc["verification"], "passed");
    EXPECT_EQ(r.doc.Number("bytes"), 0x10000 + 0x10000);  // one firmware sector, the private area
    EXPECT_EQ(r.doc["areas.0"] + "," + r.doc["areas.1"] + "," + r.doc["areas"], "firmware,private,2");
    auto flash = device->FlashContents();
    EXPECT_TRUE(std::equal(image.begin() + 0x4F0000, image.begin() + 0x500000, flash.begin() + 0x4F0000));

    // The burn writes Private blind; the read-back after it finds a difference.
    device->CorruptReadChunk(1, 0);
    RunResult blind = Run("burn " + File("areas.bin") + " --area private");
    EXPECT_EQ(blind.code, cli::kExitCompare) << blind.text;
    EXPECT_EQ(blind.doc["verification"], "failed");
    EXPECT_NE(blind.doc["error"].find("1 of 65536 bytes differ; the first at 0x004f0000"), std::string::npos);
}

TEST_F(CliRun, EachFailureKindHasItsExitStatus) {
    auto device = Publish("cli-failures");
    auto image = Pattern(0x20000, 3);
    Write(File("image.bin"), image);
    auto expect = [&](const std::string& line, int code, const std::string& error) {
        RunResult r = Run(line);
        EXPECT_EQ(r.code, code) << line << ": " << r.text;
        EXPECT_EQ(r.doc["exit_code"], std::to_string(code)) << line;  // and so ok false
        EXPECT_NE(r.doc["error"].find(error), std::string::npos) << line << ": " << r.doc["error"];
        return r;
    };
    expect("id --device " + File("image.bin"), cli::kExitNoDevice, "is not a HID interface");
    expect("burn " + File("missing.bin"), cli::kExitFileError, "cannot read");
    EXPECT_FALSE(std::filesystem::exists(File("missing.bin")));  // not created by the image's open
    expect("burn " + File("image.bin") + " --area private", cli::kExitRefused, "too short for the private area");

    device->FailTransfer(1);
    expect("reg read 54", cli::kExitDeviceError, "REPORT_REG_WRITE_ADDR");

    // The flash holds the image but for one byte: verify names it.
    auto flash = image;
    flash[1000] ^= 0xFF;
    device->LoadFlash(flash);
    RunResult diff = expect("verify " + File("image.bin"), cli::kExitCompare, "1 of 131072 bytes differ");
    EXPECT_EQ(diff.doc["first_difference.address"] + " " + diff.doc["first_difference.expected"] + " " +
                  diff.doc["first_difference.found"],
              core::Format("000003e8 %02x %02x", image[1000], flash[1000]));
}

// A device that is there but closed to this user (a fake hidraw node whose open is refused):
// no device to work with, and the error says so; list too.
TEST_F(CliRun, ADeviceThisUserMayNotOpenIsNoDeviceAndTheErrorSaysWhy) {
    namespace fs = std::filesystem;
    const std::string root = File("fake"), node = root + "/dev/hidraw3";
    for (const auto& [path, text] : {std::pair{root + "/sys/devices/HID.3/uevent", "HID_ID=0003:00001209:00005A5B\n"},
                                     {root + "/sys/class/hidraw/hidraw3/uevent", "DEVNAME=hidraw3\n"}, {node, ""}}) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path) << text;
    }
    fs::create_directory_symlink(root + "/sys/devices/HID.3", root + "/sys/class/hidraw/hidraw3/device");
    auto refuse = [](const std::string&) {
        errno = EACCES;
        return -1;
    };
    hidtransport::ProviderOverride fakeTree(
        hidtransport::kRankHidraw,
        hidraw::MakeHidrawProvider({.roots = {root + "/sys/class/hidraw", root + "/dev"}, .openNode = refuse}));

    RunResult r = Run("id");
    EXPECT_EQ(r.code, cli::kExitNoDevice) << r.text;
    EXPECT_NE(r.doc["error"].find("is present, but this user may not open it (" + node + ")"), std::string::npos) << r.text;
    RunResult list = Run("list");
    EXPECT_EQ(list.doc["interfaces.0.path"] + "|" + list.doc["interfaces.0.problem"], node + "|no access") << list.text;
}

// Boards with the same ids: without --device none is taken and each is named; a port path,
// a serial number or a path reaches its own board; a serial number two boards share does not.
TEST_F(CliRun, BoardsAreToldApartByPortAndSerialAndNeverTakenByChance) {
    auto first = Publish("cli-first", 34, {}, "A-0001", "1-2.3");
    auto second = Publish("cli-second", 34, {}, "B-0002", "1-2.4");
    first->SetRegister(0x100, 0x11111111);
    second->SetRegister(0x100, 0x22222222);
    RunResult any = Run("reg read 100");
    EXPECT_EQ(any.code, cli::kExitAmbiguous) << any.text;
    EXPECT_EQ(any.doc["error"], "2 boards match 1209:5a5b; choose one with --device: usb:1-2.3 (serial A-0001), "
                                "usb:1-2.4 (serial B-0002)");
    EXPECT_EQ(any.doc["candidates.1.device"] + " " + any.doc["candidates.1.port"] + " " + any.doc["candidates.1.serial"],
              "usb:1-2.4 1-2.4 B-0002");
    EXPECT_EQ(first->TransferCount() + second->TransferCount(), 0u) << "an ambiguous run sent something";

    const struct {
        std::string device, value, port;
    } rows[] = {{"usb:1-2.4", "22222222", "1-2.4"},
                {"serial:A-0001", "11111111", "1-2.3"},
                {Utf16ToUtf8(paths_[1]), "22222222", "1-2.4"}};
    for (const auto& row : rows) {
        RunResult chosen = Run("reg read 100 --device " + row.device);
        ASSERT_EQ(chosen.code, cli::kExitOk) << row.device << ": " << chosen.text;
        EXPECT_EQ(chosen.doc["value"] + " " + chosen.doc["device.port"], row.value + " " + row.port) << row.device;
    }
    EXPECT_EQ(Run("id --device usb:1-2.5").code, cli::kExitNoDevice);
    RunResult list = Run("list");
    EXPECT_EQ(list.doc["interfaces.0.port"] + " " + list.doc["interfaces.0.serial"], "1-2.3 A-0001");

    auto twin = Publish("cli-twin", 34, {}, "A-0001", "1-2.5");  // a serial number that is not unique
    RunResult shared = Run("reg read 100 --device serial:A-0001");
    EXPECT_EQ(shared.code, cli::kExitAmbiguous) << shared.text;
    EXPECT_EQ(shared.doc["candidates"], "2");
}

// A held device: every command refuses with the holder's pid (exit 7), nothing reaches the
// device, and it works again once the holder lets go.
TEST_F(CliRun, EveryCommandRefusesAHeldDeviceAndSendsItNothing) {
    auto device = Publish("cli-busy");
    Write(File("image.bin"), Pattern(0x10000, 3));
    Write(File("kept.bin"), {1, 2, 3});
    {
        testsupport::DeviceHolder holder(paths_[0]);
        const char* lines[] = {"id", "reg write 100 cafe0001", "gpio write 2 1", "hdcp off",
                               "burn image.bin", "dump kept.bin", "dump fresh.bin", "verify image.bin"};
        for (const char* line : lines) {
            RunResult r = Run(std::regex_replace(line, std::regex("(\\w+\\.bin)"), dir_ + "/$1"));
            EXPECT_EQ(r.code, cli::kExitBusy) << line << ": " << r.text;
            EXPECT_EQ(r.doc["error"], "device busy: held by process " + std::to_string(::getpid())) << line;
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
    EXPECT_EQ(Run("list").doc.Kind("interfaces.0.busy_pid"), '\0');
}

// A device that never answers; only its descriptor and strings matter to `list`.
class SilentDevice final : public vhid::DeviceHandler {
public:
    DWORD OnOutputReport(std::span<const std::uint8_t>) override { return ERROR_GEN_FAILURE; }
    DWORD OnInputRequest(std::uint8_t, ULONG, std::vector<std::uint8_t>&) override { return ERROR_GEN_FAILURE; }
};

// An unparsable descriptor is listed as such; control characters in a name cannot forge a plain line.
TEST_F(CliRun, ListsUnparsableAndHostileInterfacesForWhatTheyAre) {
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
