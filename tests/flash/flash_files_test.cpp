// The file slot and the two picks against real files: what each pick opens, releases,
// shows and enables; the image and its version; writes to a full disk.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <optional>

#include "flash/flash_programmer.h"
#include "platform/win/handles.h"
#include "ui/services/control_ids.h"
#include "ui/services/recording_window.h"

namespace {

namespace ids = ui::ids;
namespace fs = std::filesystem;

// A window whose file dialog can also hand over a path longer than the slot holds.
class PickWindow : public ui::RecordingWindow {
public:
    bool OpenFileDialog(ui::BoxOwner owner, const ui::OpenFileRequest& request, std::string& path) override {
        bool picked = RecordingWindow::OpenFileDialog(owner, request, path);
        if (picked && longPath) path = *longPath;
        return picked;
    }
    std::optional<std::string> longPath;
};

class FlashFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("flash_files_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override {
        files.ReleaseFlashFile();
        EXPECT_EQ(LiveHandleCount(), handlesBefore);
        fs::remove_all(dir);
    }

    std::string Write(const std::string& name, std::vector<std::uint8_t> bytes) {
        std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    void PickBurn(std::optional<std::string> path) {
        window.QueueOpenFileResult(std::move(path));
        files.OnBrowseBurnFile();
    }
    void PickDump(std::optional<std::string> path) {
        window.QueueOpenFileResult(std::move(path));
        files.OnBrowseDumpFile();
    }
    bool Enabled(int id) const { return window.Control(id).enabled; }

    std::size_t handlesBefore = LiveHandleCount();
    fs::path dir;
    PickWindow window;
    FlashProgrammer files{window};
};

TEST_F(FlashFiles, BurnPickLoadsTheImageAndShowsItsVersion) {
    struct Case {
        std::size_t size;
        const char* version;
    };
    for (const Case& c : {Case{0x180020, "04.80.ab.01"}, Case{0x18001F, ""}}) {
        std::vector<std::uint8_t> bytes(c.size, 0x11);
        for (std::size_t i = 0; i < 4 && 0x18001C + i < c.size; ++i)
            bytes[0x18001C + i] = std::array<std::uint8_t, 4>{0x01, 0xAB, 0x80, 0x04}[i];
        window.ClearCalls();
        std::string path = Write("image.bin", bytes);
        PickBurn(path);
        ASSERT_TRUE(files.File().IsOpen());
        EXPECT_TRUE(files.File().forRead);
        EXPECT_EQ(files.Image().length, c.size);
        ASSERT_EQ(files.Image().bytes.size(), c.size + 1);
        EXPECT_EQ(files.Image().bytes.back(), 0);
        EXPECT_EQ(window.Control(ids::kImageVersion).text, c.version);
        EXPECT_EQ(window.Control(ids::kBurnFilePath).text, path);
        EXPECT_TRUE(Enabled(ids::kBurn));
        EXPECT_FALSE(Enabled(ids::kDump));
        EXPECT_EQ(window.Traces(), std::vector<std::string>{ui::Format("FileSize READ = [0] [%d]\n", static_cast<int>(c.size))});
    }
    ui::OpenFileRequest request = window.OpenFileRequests().back();
    EXPECT_EQ(request.filters, (std::vector<std::pair<std::string, std::string>>{{"All", "*.*"}, {"Text", "*.TXT"}}));
    EXPECT_TRUE(request.pathMustExist && request.fileMustExist);
}

TEST_F(FlashFiles, PicksReleaseEachOtherAndADumpPickEmptiesTheFile) {
    std::string image = Write("image.bin", std::vector<std::uint8_t>(64, 0x22));
    std::string dump = Write("dump.bin", std::vector<std::uint8_t>(100, 0x33));
    PickBurn(image);
    PickDump(dump);
    EXPECT_FALSE(window.OpenFileRequests().back().fileMustExist);
    EXPECT_FALSE(files.Image().IsLoaded());
    EXPECT_FALSE(files.File().forRead);
    EXPECT_EQ(fs::file_size(dump), 0u);
    EXPECT_EQ(window.Control(ids::kDumpFilePath).text, dump);
    EXPECT_TRUE(Enabled(ids::kDump));
    EXPECT_FALSE(Enabled(ids::kBurn));
    EXPECT_EQ(LiveHandleCount(), handlesBefore + 1);  // the image's handle was closed

    const std::uint8_t chunk[3] = {1, 2, 3};
    EXPECT_EQ(files.WriteFlashFile(chunk, 3), 3u);
    EXPECT_EQ(fs::file_size(dump), 3u);
    PickBurn(image);
    EXPECT_EQ(files.Image().length, 64u);
    EXPECT_TRUE(Enabled(ids::kBurn));
    EXPECT_FALSE(Enabled(ids::kDump));
}

TEST_F(FlashFiles, CancelOrATooLongPathChangesNothing) {
    std::string dump = Write("dump.bin", {});
    PickDump(dump);
    const HANDLE handle = files.File().handle;
    window.ClearCalls();
    PickBurn(std::nullopt);
    PickDump(std::nullopt);
    window.longPath = (dir / std::string(260, 'x')).string();
    PickBurn("x");
    PickDump("x");
    EXPECT_EQ(files.File().handle, handle);
    EXPECT_EQ(files.File().path, dump);
    EXPECT_EQ(window.Control(ids::kDumpFilePath).text, dump);
    EXPECT_EQ(window.Control(ids::kBurnFilePath).text, "");
    EXPECT_TRUE(Enabled(ids::kDump));
    EXPECT_EQ(window.CallsOf("SetText").size() + window.CallsOf("Enable").size(), 0u);
    ASSERT_EQ(window.MessageBoxes().size(), 2u);
    EXPECT_EQ(window.MessageBoxes()[0].caption, "Error");
}

TEST_F(FlashFiles, AFailedOpenLeavesBurnEnabledWithTheSlotClosed) {
    PickBurn(dir.string());  // a folder cannot be opened as a file
    EXPECT_TRUE(Enabled(ids::kBurn));
    EXPECT_FALSE(files.File().IsOpen());
    EXPECT_FALSE(files.Image().IsLoaded());
    EXPECT_EQ(window.Control(ids::kImageVersion).text, "");
    std::uint8_t byte = 7;
    EXPECT_EQ(files.ReadFlashFile(&byte, 1), 0u);
    EXPECT_EQ(files.WriteFlashFile(&byte, 1), 0u);
    EXPECT_TRUE(window.MessageBoxes().empty());
}

TEST_F(FlashFiles, OnlyAFullDiskShowsTheDumpFilterBox) {
    const std::uint8_t chunk[16] = {};
    PickBurn(Write("image.bin", {1, 2}));
    EXPECT_EQ(files.WriteFlashFile(chunk, 16), 0u);  // a file open for reading refuses the write
    EXPECT_TRUE(window.MessageBoxes().empty());

    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    PickDump("/dev/full");
    ASSERT_TRUE(files.File().IsOpen());
    EXPECT_EQ(files.WriteFlashFile(chunk, 16), 0u);
    ASSERT_EQ(window.MessageBoxes().size(), 1u);
    const ui::RecordedCall box = window.MessageBoxes()[0];
    EXPECT_EQ(box.caption, "Dump Filter failure");
    EXPECT_EQ(box.icon, ui::Icon::Warning);
    EXPECT_EQ(box.owner, ui::BoxOwner::Dialog);
    EXPECT_EQ(box.text,
              "The disk containing dump file has run out of space, so the dump filter has been stopped.\r\n\r\n"
              "You must set a new dump file name or restart the graph to clear this filter error.");
}

}  // namespace
