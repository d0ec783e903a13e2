// The console reporter: what it writes on standard error for each progress style, and
// which exit status each box and trace line of the services stands for.
#include "tests/cli/cli_fixture.h"
#include "tools/cli/console_reporter.h"

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

}  // namespace
}  // namespace cli
