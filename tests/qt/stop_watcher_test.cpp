// A stop request (SIGTERM) to the dialog program: it closes as Cancel does, and during a
// burn only once the burn has finished its write and compare.
#include <QLineEdit>
#include <QTemporaryDir>

#include <csignal>
#include <fstream>

#include "core/stop_request.h"
#include "tests/qt/dialog_fixture.h"
#include "tests/support/signaling_sim.h"
#include "ui/qt/stop_watcher.h"
#include "ui/services/control_ids.h"

namespace {

namespace ids = ui::ids;

class StopWatch : public qttest::DialogFixture {
protected:
    void SetUp() override { core::ResetStopRequests(); }
    void TearDown() override {
        core::ResetStopRequests();
        DialogFixture::TearDown();
    }
    bool Closes() {
        return QTest::qWaitFor([this] { return !dialog->isVisible(); }, 30000);
    }

    core::StopSignals handlers{""};  // as the program installs them
};

TEST_F(StopWatch, WithNoRunTheDialogClosesAsCancel) {
    Open();
    uiqt::StopWatcher watcher(*dialog, handlers.WakeFd());
    std::raise(SIGTERM);
    ASSERT_TRUE(Closes());
    EXPECT_EQ(dialog->result(), ids::kCancel);
    EXPECT_TRUE(boxes.empty());
}

// The close waits for the run: no refusal box, the whole image written and compared, and
// no verdict box, since the burn stopped on request.
TEST_F(StopWatch, DuringABurnTheDialogClosesOnceTheWriteAndCompareFinished) {
    auto published = testsupport::PublishSignalingSim("qt-stop");
    ASSERT_TRUE(published.sim);
    published.sim->afterWrite = {{10, SIGTERM}};  // mid-write

    QTemporaryDir dir;
    const std::string image = dir.filePath("image.bin").toStdString();
    std::vector<char> bytes(64 * 1024);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 11 + i / 256) & 0xFF);
    std::ofstream(image, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));

    Open();
    uiqt::StopWatcher watcher(*dialog, handlers.WakeFd());
    ControlAs<QLineEdit>(ids::kVid)->setText("1209");
    ControlAs<QLineEdit>(ids::kPid)->setText("5A5B");
    Click(ids::kOpenDevice);
    Click(ids::kGetId);
    dialog->Services().SetFilePicker([&image](const ui::OpenFileRequest&, std::string& path) {
        path = image;
        return true;
    });
    Click(ids::kBrowseBurnFile);
    Click(ids::kBurn);
    ASSERT_TRUE(Closes());

    EXPECT_EQ(dialog->result(), ids::kCancel);
    EXPECT_TRUE(boxes.empty()) << boxes.front().text;
    EXPECT_EQ(dialog->Logic().LastRun().interruption,
              "interrupted: the write in progress was finished; nothing further was done");
    const std::vector<std::uint8_t> flash = published.sim->device->FlashBytes(0, static_cast<std::uint32_t>(bytes.size()));
    EXPECT_TRUE(std::vector<char>(flash.begin(), flash.end()) == bytes);
}

}  // namespace
