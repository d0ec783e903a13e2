// The command line's parts that need no device: the console reporter (what it writes on
// standard error for each progress style, and which exit status each box and trace line of
// the services stands for), and the pieces of the burn and verify summaries (the ranges a
// choice covers, the compare, the JSON text).
#include "core/format.h"
#include "tests/cli/cli_fixture.h"
#include "tools/cli/console_reporter.h"
#include "tools/cli/flash_plan.h"
#include "tools/cli/json.h"

namespace cli {
namespace {

using clitest::Json;

// Two bursts as the protocol reports them: a write, then its compare.
void TwoBursts(ConsoleReporter& console) {
    for (std::uint32_t total : {1000u, 77u}) {
        console.Start(total, total == 1000 ? "Status: Write" : "Status: Compare");
        for (std::uint32_t done = 0; done < total; done += 3) console.Post(done);
        console.Post(total);
        console.Flush();
        console.Status("Status: Wait");
        console.Flush();  // the end of a run asks again
    }
}

// With --json: JSON lines only, progress per percent that never goes back or past the
// total, the last one complete and once.
TEST(ConsoleReporter, JsonProgressLinesPerPercentEndingAtTheTotal) {
    std::FILE* err = std::tmpfile();
    ConsoleReporter console(true, ProgressStyle::JsonLines, nullptr, err);
    TwoBursts(console);
    console.Trace("FlashWrite -- Compare data OK.\n");

    std::istringstream lines(clitest::ReadAll(err));
    std::map<std::string, std::vector<double>> doneByStatus;
    std::map<std::string, double> totalByStatus;
    std::string trace;
    for (std::string line; std::getline(lines, line);) {
        Json doc;
        ASSERT_TRUE(doc.Parse(line)) << line;
        if (doc.Kind("trace") == 's') trace = doc["trace"];
        if (doc.Kind("progress") != 'o') continue;
        doneByStatus[doc["progress.status"]].push_back(doc.Number("progress.done"));
        totalByStatus[doc["progress.status"]] = doc.Number("progress.total");
    }
    EXPECT_EQ(trace, "FlashWrite -- Compare data OK.");
    ASSERT_EQ(doneByStatus.size(), 2u);  // "Write" and "Compare", never "Wait"
    for (const auto& [status, dones] : doneByStatus) {
        EXPECT_LE(dones.size(), 101u) << status;
        EXPECT_TRUE(std::is_sorted(dones.begin(), dones.end())) << status;
        EXPECT_EQ(dones.back(), totalByStatus[status]) << status << ": the last line is the whole burst";
        EXPECT_EQ(std::count(dones.begin(), dones.end(), dones.back()), 1) << status << ": the total once";
    }
}

// On a terminal: each burst's finished bar once, on a line of its own, before the next text.
TEST(ConsoleReporter, BarEndsEachBurstOnceBeforeTheNextLine) {
    std::FILE* err = std::tmpfile();
    ConsoleReporter console(false, ProgressStyle::Bar, nullptr, err);
    TwoBursts(console);
    console.Show({core::BoxOwner::None, "Dump firmware has finished!", "Info", core::Icon::Information});

    std::vector<std::string> lines;
    std::istringstream text(clitest::ReadAll(err));
    for (std::string line; std::getline(text, line);) lines.push_back(line.substr(line.rfind('\r') + 1));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(Write   \[#{30}\] 1000/1000 bytes .*)"))) << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(Compare \[#{30}\] 77/77 bytes .*)"))) << lines[1];
    EXPECT_EQ(lines[2], "[Info] Dump firmware has finished!");
}

// The services' texts as the exit statuses the documentation gives them.
TEST(ConsoleReporter, BoxesAndTraceLinesDecideTheExitStatus) {
    using core::BoxOwner, core::Icon;
    const struct {
        BoxOwner owner;
        Icon icon;
        const char* text;
        int code;
    } boxes[] = {
        {BoxOwner::None, Icon::Information, "The entire flash has updated, please replug-in device!", kExitOk},
        {BoxOwner::Dialog, Icon::Warning, "The disk containing dump file has run out of space", kExitFileError},
        {BoxOwner::Dialog, Icon::Error, "HID Device no found !", kExitNoDevice},
        {BoxOwner::Dialog, Icon::Error, "The HID device (VID 0x1209, PID 0x0001) is present, but this user may not open it",
         kExitNoDevice},
        {BoxOwner::Dialog, Icon::Error, "device busy: held by process 42", kExitBusy},
        {BoxOwner::Dialog, Icon::Error, "Please select the dump file !", kExitFileError},
        {BoxOwner::Dialog, Icon::Error, "The file path is too long !", kExitFileError},
        {BoxOwner::Dialog, Icon::Error, "Please execute Get ID function !", kExitDeviceError},
        {BoxOwner::None, Icon::Error, "- Compare NG, Firmware update failed !", kExitCompare},
        {BoxOwner::Dialog, Icon::Error, "The burn file is larger than the flash !", kExitRefused},
        {BoxOwner::None, Icon::Error, "- Flash burn failed !", kExitDeviceError},
    };
    for (const auto& box : boxes) EXPECT_EQ(ClassifyBox(box.owner, box.text, box.icon), box.code) << box.text;
    const std::pair<const char*, int> traces[] = {
        {"Device ID: 34\n", kExitOk},
        {"Unknown error: Couldn't execute REPORT_REG_READ function\n", kExitDeviceError},
        {"FlashWrite -- Compare data fail, data(0x00000100~0x00000200) \n", kExitCompare},
        {"FlashRead -- Read data fail, data(0x00004000~0x00004100) \n", kExitFileError},
        {"FlashRead -- Save dump file fail, rename: Permission denied.\n", kExitFileError},
        {"OnBnClickedRdoEHdcpKey fail -- return code is 0x0\n", kExitDeviceError},
    };
    for (const auto& [line, code] : traces) EXPECT_EQ(ClassifyTrace(line), code) << line;
}

constexpr ULONG k8MiB = 0x800000;

// An image with a firmware header giving Header_len + Boot_Size = `sum` (Boot_Size 0x100
// where it fits).
std::vector<std::uint8_t> ImageWithFirmware(ULONG size, ULONG sum) {
    std::vector<std::uint8_t> image(size, 0x5A);
    const ULONG boot = std::min<ULONG>(sum, 0x100);
    for (ULONG i = 0; i < 4; ++i) {
        image[0x18000C + i] = static_cast<std::uint8_t>((sum - boot) >> (24 - 8 * i));
        image[0x180010 + i] = static_cast<std::uint8_t>(boot >> (24 - 8 * i));
    }
    return image;
}

AreaChoice Areas(bool firmware, bool privateData, bool customized) { return {false, {firmware, privateData, customized}}; }

// The ranges a choice covers ("address+length", "=" for those the burn compares), or the
// refusal that comes before anything is written.
TEST(FlashPlan, RangesOrRefusalOfEachChoice) {
    const AreaChoice firmware = Areas(true, false, false);
    const struct {
        std::vector<std::uint8_t> image;
        AreaChoice choice;
        ULONG sectorSize, flashSize;
        const char* plan;
    } rows[] = {
        {std::vector<std::uint8_t>(1000), AreaChoice{}, 0x10000, 0x40000, "0+3e8="},
        // One byte past three 4 KiB sectors rounds to four; Private follows, not compared by the burn.
        {ImageWithFirmware(0x500000, 3 * 4096 + 1), Areas(true, true, false), 4096, k8MiB, "180000+4000= 4f0000+10000"},
        {{}, AreaChoice{}, 4096, k8MiB, "the image is empty"},
        {std::vector<std::uint8_t>(0x40001), AreaChoice{}, 4096, 0x40000, "the image is larger than the flash (262144 bytes)"},
        {std::vector<std::uint8_t>(0x180013), firmware, 4096, k8MiB,
         "the image is too short for the firmware area (it needs 1572884 bytes)"},
        {ImageWithFirmware(0x181000, 0x1001), firmware, 4096, k8MiB,
         "the image is too short for the firmware area (it needs 1581056 bytes)"},
        {ImageWithFirmware(0x190000, 0x100), firmware, 0, k8MiB, "the flash sector size is unknown, the firmware area cannot be burned"},
        {ImageWithFirmware(0x190000, 0x100 + 0x370001), firmware, 4096, k8MiB, "the firmware length in the image exceeds the firmware area"},
        // A header whose lengths add up to 0 would burn nothing and still set the update flag.
        {ImageWithFirmware(0x190000, 0), firmware, 4096, k8MiB, "the image's firmware header gives a firmware length of 0"},
        {ImageWithFirmware(0x190000, 0x100), Areas(false, false, true), 4096, k8MiB,
         "the image is too short for the customized area (it needs 8388608 bytes)"},
        {std::vector<std::uint8_t>(0x500000), Areas(false, true, false), 4096, 0x400000,
         "the private area lies beyond the end of the flash (4194304 bytes)"},
    };
    for (const auto& row : rows) {
        std::vector<FlashRange> ranges;
        std::string refusal = PlanFlashRanges(row.image, row.choice, row.sectorSize, row.flashSize, ranges), plan;
        for (const FlashRange& r : ranges) plan += core::Format(" %x+%x", r.address, r.length) + (r.comparedByBurn ? "=" : "");
        EXPECT_EQ(refusal.empty() ? plan.erase(0, 1) : refusal, row.plan);
    }
}

TEST(FlashPlan, CompareCountsAndKeepsTheFirstDifference) {
    std::vector<std::uint8_t> image(64, 0xAA), found(32, 0xAA);
    found[5] = 0x01;
    found[31] = 0x02;
    Difference d;
    CompareRange(FlashRange{16, 32, "entire", true}, image, found, d);
    EXPECT_EQ(core::Format("%u at %x: %x, found %x", d.count, d.firstAddress, d.expected, d.found), "2 at 15: aa, found 1");
}

TEST(Json, EscapesAndKeepsKeyOrder) {
    JsonObject o;
    o.Add("b", "quote \" back \\ line\n tab\t bell\x07").Add("a", std::int64_t{-3}).Add("c", true).AddNull("d");
    o.Add("a", std::int64_t{4});  // replaced in place
    EXPECT_EQ(o.Text(), R"({"b": "quote \" back \\ line\n tab\t bell\u0007", "a": 4, "c": true, "d": null})");
    EXPECT_EQ(JsonArray({"1", "\"x\""}), R"([1, "x"])");
}

}  // namespace
}  // namespace cli
