// uvc-hid against in-process simulators: each command's JSON document against the schema
// that --help and docs/cli.md give, and the exit status of every failure kind.
#include <map>
#include <regex>

#include "platform/win/text.h"
#include "tests/cli/cli_fixture.h"
#include "tools/cli/exit_codes.h"
#include "ui/services/window_services.h"

namespace clitest {
namespace {

using K = Json::Kind;
using Schema = std::vector<std::pair<std::string, std::vector<K>>>;  // key, the kinds it may take

const Schema kCommon = {{"command", {K::String}}, {"ok", {K::Bool}}, {"exit_code", {K::Number}},
                        {"messages", {K::Array}}, {"device", {K::Object}}, {"error", {K::String}}};
const std::map<std::string, Schema> kPerCommand = {
    {"list", {{"interfaces", {K::Array}}}},
    {"id", {{"flash", {K::Object}}}},
    {"fw-version", {{"firmware_version", {K::String}}}},
    {"hdmi-info", {{"hdmi_info", {K::String}}}},
    {"reg read", {{"address", {K::String}}, {"value", {K::String}}}},
    {"reg write", {{"address", {K::String}}, {"value", {K::String}}}},
    {"iic read", {{"iic_device", {K::String}}, {"offset", {K::String}}, {"value", {K::String}}, {"return_code", {K::String}}}},
    {"iic write", {{"iic_device", {K::String}}, {"offset", {K::String}}, {"value", {K::String}}, {"return_code", {K::String}}}},
    {"gpio dir", {{"pin", {K::String}}, {"direction", {K::String}}}},
    {"gpio write", {{"pin", {K::String}}, {"level", {K::String}}}},
    {"gpio read", {{"pin", {K::String}}, {"level", {K::String}}}},
    {"hdcp on", {{"hdcp", {K::String}}}},
    {"burn", {{"image", {K::String}}, {"backup", {K::String, K::Null}}, {"areas", {K::Array}}, {"bytes", {K::Number}},
              {"sha256", {K::String}}, {"verification", {K::String}}, {"result", {K::String}}}},
    {"dump", {{"file", {K::String}}, {"bytes", {K::Number}}, {"sha256", {K::String}}}},
    {"verify", {{"image", {K::String}}, {"areas", {K::Array}}, {"bytes", {K::Number}}, {"differences", {K::Number}},
                {"first_difference", {K::Object, K::Null}}}},
};
const std::vector<std::string> kFlashKeys = {"device_id", "name", "page_size", "sector_size", "pages_per_sector",
                                             "sectors_per_block", "total_blocks", "total_size"};

// Every key documented with one of its kinds; on success every key of the command present.
void ExpectSchema(const Json& doc) {
    std::string command = Str(doc, "command");
    auto perCommand = kPerCommand.find(command);
    ASSERT_NE(perCommand, kPerCommand.end()) << command;
    Schema schema = kCommon;
    schema.insert(schema.end(), perCommand->second.begin(), perCommand->second.end());
    for (const Json::Member& member : doc.members) {
        const std::string& key = member.first;  // clang 14 cannot capture a structured binding
        const Json& value = member.second;
        auto rule = std::find_if(schema.begin(), schema.end(), [&](const auto& r) { return r.first == key; });
        ASSERT_NE(rule, schema.end()) << command << ": undocumented key " << key;
        EXPECT_NE(std::find(rule->second.begin(), rule->second.end(), value.kind), rule->second.end()) << command << "." << key;
    }
    if (!doc.Find("ok") || !doc.Find("ok")->boolean) return;
    for (const auto& [key, kinds] : perCommand->second) EXPECT_TRUE(doc.Find(key)) << command << " lacks " << key;
    if (command != "id") return;
    for (const std::string& key : kFlashKeys)
        EXPECT_EQ(doc.Find("flash")->Find(key)->kind, key == "name" ? K::String : K::Number) << key;
}

class CliRun : public CliFixture {};

TEST_F(CliRun, EveryCommandAnswersOneDocumentOfTheDocumentedShape) {
    auto device = Publish("cli-schema");
    Write(File("image.bin"), Pattern(3000, 1));
    const std::pair<const char*, const char*> rows[] = {
        {"list", nullptr}, {"id", nullptr}, {"fw-version", "01.00.1a.05"}, {"hdmi-info", nullptr},
        {"reg write 100 cafe0001", nullptr}, {"reg read 100", "cafe0001"},
        {"iic write 90 10 5a", nullptr}, {"iic read 90 10", "5a"},
        {"gpio dir 2 out", nullptr}, {"gpio write 2 1", nullptr}, {"gpio read 2", "01"},
        {"hdcp on", nullptr}, {"burn image.bin", nullptr}, {"verify image.bin", nullptr}, {"dump dump.bin", nullptr},
    };
    for (const auto& [line, value] : rows) {
        std::string withFiles = std::regex_replace(line, std::regex("(\\w+\\.bin)"), dir_ + "/$1");
        RunResult r = Run(withFiles);
        EXPECT_EQ(r.code, cli::kExitOk) << line << ": " << r.text;
        ExpectSchema(r.doc);
        if (value == nullptr) continue;
        std::string_view key = std::string_view(line).starts_with("fw")     ? "firmware_version"
                               : std::string_view(line).starts_with("gpio") ? "level"
                                                                            : "value";
        EXPECT_EQ(Str(r.doc, key), value) << line;
    }
    EXPECT_EQ(Read(File("dump.bin")).size(), 256u * 1024);
    auto flash = device->FlashContents();
    EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + 3000, Pattern(3000, 1).begin()));
}

TEST_F(CliRun, BurnSummaryNamesWhatWasWrittenAndReadsBackTheBlindAreas) {
    auto device = Publish("cli-areas", 29);  // 8 MiB, room for every area
    auto image = Pattern(0x500000, 9);
    for (ULONG i = 0; i < 8; ++i) image[0x18000C + i] = i == 6 ? 0x10 : 0;  // Header_len 0, Boot_Size 0x1000
    Write(File("areas.bin"), image);
    RunResult r = Run("burn " + File("areas.bin") + " --area private,firmware --log " + File("run.log"));
    ASSERT_EQ(r.code, cli::kExitOk) << r.text;
    ExpectSchema(r.doc);
    EXPECT_EQ(Str(r.doc, "verification"), "passed");
    EXPECT_EQ(r.doc.Find("bytes")->number, 0x10000 + 0x10000);  // one firmware sector, the private area
    EXPECT_EQ(r.doc.Find("areas")->items.size(), 2u);
    EXPECT_EQ(Str(r.doc, "result"), "- Firmware Area\n- Private Area\n\n has updated, please replug-in device!");
    auto flash = device->FlashContents();
    EXPECT_TRUE(std::equal(image.begin() + 0x4F0000, image.begin() + 0x500000, flash.begin() + 0x4F0000));

    // The burn writes Private blind; the read-back after it finds a difference.
    device->CorruptReadChunk(1, 0);
    RunResult blind = Run("burn " + File("areas.bin") + " --area private");
    EXPECT_EQ(blind.code, cli::kExitCompare) << blind.text;
    EXPECT_EQ(Str(blind.doc, "verification"), "failed");
    EXPECT_NE(Str(blind.doc, "error").find("1 of 65536 bytes differ; the first at 0x004f0000"), std::string::npos);

    // The log holds the trace lines and the summary, each with its time stamp.
    std::ifstream log(File("run.log"));
    std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    std::regex stamped("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ ");
    EXPECT_TRUE(std::regex_search(text, std::regex("Z FlashWrite -- Compare data OK\\.\n")));
    EXPECT_TRUE(std::regex_search(text, std::regex("Z burn summary: .*sha256 " + Str(r.doc, "sha256") + ", verification passed\n")));
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) EXPECT_TRUE(std::regex_search(line, stamped)) << line;
}

struct FailureRow {
    const char* name;
    int code;
};

TEST_F(CliRun, EachFailureKindHasItsExitStatus) {
    auto device = Publish("cli-failures");
    auto image = Pattern(4096, 3);
    Write(File("image.bin"), image);
    auto expect = [&](const std::string& line, int code, const std::string& error) {
        RunResult r = Run(line);
        EXPECT_EQ(r.code, code) << line << ": " << r.text;
        EXPECT_EQ(r.doc.Find("exit_code")->number, code) << line;
        EXPECT_FALSE(r.doc.Find("ok")->boolean) << line;
        EXPECT_NE(Str(r.doc, "error").find(error), std::string::npos) << line << ": " << Str(r.doc, "error");
        return r;
    };
    expect("id --vid 1209 --pid 5a5c", cli::kExitNoDevice, "HID Device no found !");
    expect("id --device " + File("image.bin"), cli::kExitNoDevice, "is not a HID interface");
    expect("burn " + File("missing.bin"), cli::kExitFileError, "cannot read");
    EXPECT_FALSE(std::filesystem::exists(File("missing.bin")));  // not created by the image's open
    expect("dump " + File("no/such/folder.bin"), cli::kExitFileError, "no folder");
    expect("burn " + File("image.bin") + " --area private", cli::kExitRefused, "too short for the private area");

    device->FailTransfer(1);
    expect("reg read 54", cli::kExitDeviceError, "REPORT_REG_WRITE_ADDR");
    device->FailTransfer(2);  // the second of four register reads
    expect("fw-version", cli::kExitDeviceError, "REPORT_REG_READ");

    // The flash holds the image but for one byte: verify names it, burn's own compare fails.
    auto flash = image;
    flash[1000] ^= 0xFF;
    device->LoadFlash(flash);
    RunResult diff = expect("verify " + File("image.bin"), cli::kExitCompare, "1 of 4096 bytes differ");
    const Json* first = diff.doc.Find("first_difference");
    ASSERT_TRUE(first && first->kind == K::Object);
    EXPECT_EQ(Str(*first, "address"), "000003e8");
    EXPECT_EQ(Str(*first, "expected"), ui::Format("%02x", image[1000]));
    EXPECT_EQ(Str(*first, "found"), ui::Format("%02x", flash[1000]));
    device->CorruptReadChunk(2, 7);  // the compare's second chunk comes back with a flipped byte
    RunResult burn = expect("burn " + File("image.bin"), cli::kExitCompare, "Compare data fail");
    EXPECT_EQ(Str(burn.doc, "verification"), "failed");
    EXPECT_EQ(Str(burn.doc, "sha256").size(), 64u);
}

TEST_F(CliRun, BackupThatFailsKeepsTheFlashUntouched) {
    auto device = Publish("cli-backup");
    auto before = device->FlashContents();
    Write(File("image.bin"), Pattern(4096, 5));
    // Get ID, the dump's set-up, then a few chunks; the device is gone after that.
    device->UnplugAfter(12);
    RunResult r = Run("burn " + File("image.bin") + " --backup " + File("backup.bin"));
    EXPECT_EQ(r.code, cli::kExitDeviceError) << r.text;
    EXPECT_NE(Str(r.doc, "error").find("the backup dump failed, nothing was burned"), std::string::npos);
    device->ClearFaults();
    EXPECT_EQ(device->FlashContents(), before);
    for (const sim::TransferRecord& record : device->Log())
        EXPECT_FALSE(record.direction == sim::Direction::Output && record.reportId == 1) << "a flash data report was sent";
}

TEST_F(CliRun, DevicePathServesOneOfTwoDevicesWithTheSameIds) {
    auto first = Publish("cli-first");
    auto second = Publish("cli-second");
    second->SetRegister(0x100, 0x22222222);
    first->SetRegister(0x100, 0x11111111);
    RunResult any = Run("reg read 100");
    EXPECT_EQ(Str(any.doc, "value"), "11111111");  // the first in enumeration order
    RunResult chosen = Run("reg read 100 --device " + Utf16ToUtf8(paths_[1]));
    ASSERT_EQ(chosen.code, cli::kExitOk) << chosen.text;
    EXPECT_EQ(Str(chosen.doc, "value"), "22222222");
    EXPECT_EQ(Str(*chosen.doc.Find("device"), "path"), Utf16ToUtf8(paths_[1]));
}

}  // namespace
}  // namespace clitest
