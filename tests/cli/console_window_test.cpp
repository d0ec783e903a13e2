// What the command line's window services write on standard error with --json: JSON lines
// only, progress per percent that never goes back or past the total, the last one complete.
#include "tests/cli/cli_fixture.h"
#include "tools/cli/console_window.h"
#include "ui/services/control_ids.h"

namespace cli {
namespace {

namespace ids = ui::ids;
using clitest::Json;

TEST(ConsoleWindowJson, ProgressLinesPerPercentEndingAtTheTotal) {
    std::FILE* err = std::tmpfile();
    ConsoleWindow window(true, ProgressStyle::JsonLines, nullptr, err);
    for (std::uint32_t total : {1000u, 77u}) {  // two bursts: a write, then its compare
        window.SetControlText(ids::kStatusText, total == 1000 ? "Status: Write" : "Status: Compare");
        window.SetProgressRange(ids::kProgressBar, total);
        for (std::uint32_t done = 0; done < total; done += 3) window.PostProgress(ids::kProgressDone, ids::kProgressBar, done);
        window.PostProgress(ids::kProgressDone, ids::kProgressBar, total);
        window.SetControlText(ids::kStatusText, "Status: Wait");
        window.FlushProgress();
    }
    window.Trace("FlashWrite -- Compare data OK.\n");

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

}  // namespace
}  // namespace cli
