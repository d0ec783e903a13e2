// The main dialog over an in-process simulated device, with an identified 8 MiB flash of
// 4 KiB sectors, for the burn and dump engines' tests. Runs are waited for by joining the
// worker; a gate in the window services can hold a worker inside its first burst.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/hid/virtual_device.h"
#include "sim/simulated_device.h"
#include "ui/main_dialog.h"
#include "ui/services/control_ids.h"
#include "ui/services/recording_window.h"

namespace enginetest {

namespace ids = ui::ids;
using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint16_t k4KSectorPartRow = 44;  // 8 MiB, 4 KiB sectors
inline constexpr std::uint16_t k256KPartRow = 34;      // 256 KiB, 64 KiB sectors

// Holds every burst at its start (the progress-range call) while the gate is closed, so a
// test can look at the dialog mid-run without timing.
class GatedWindow : public ui::RecordingWindow {
public:
    void SetProgressRange(int id, std::uint32_t total) override {
        RecordingWindow::SetProgressRange(id, total);
        std::unique_lock lock(gate_);
        held_ = closed_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return !closed_; });
    }
    void CloseGate() {
        std::lock_guard lock(gate_);
        closed_ = true;
    }
    bool WaitUntilHeld() {
        std::unique_lock lock(gate_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return held_; });
    }
    void OpenGate() {
        std::lock_guard lock(gate_);
        closed_ = false;
        changed_.notify_all();
    }

private:
    std::mutex gate_;
    std::condition_variable changed_;
    bool closed_ = false, held_ = false;
};

class DialogUnderTest : public Cuvc_hid_quendaDlg {
public:
    using Cuvc_hid_quendaDlg::Cuvc_hid_quendaDlg;
    ~DialogUnderTest() override {
        JoinWorkers();
        ReleaseFlashFile();
        ReleaseHidDevice(device);
        ReleaseCommandBuffers();
    }
    void ForgetSectorSize() { flashSectorSize = 0; }
};

// A raw image of `size` bytes whose firmware header (when the image holds it) gives
// Header_len + Boot_Size = firmwareSum.
inline Bytes MakeImage(std::size_t size, ULONG firmwareSum = 0x3001) {
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
    auto put = [&](ULONG at, ULONG value) {
        for (ULONG k = 0; k < 4 && at + k < size; ++k) image[at + k] = static_cast<std::uint8_t>(value >> (24 - 8 * k));
    };
    put(kHeaderLenOffset, firmwareSum - 0x100);
    put(kBootSizeOffset, 0x100);
    return image;
}

inline Bytes Slice(const Bytes& bytes, std::size_t at, std::size_t length) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
}

class EngineFixture : public ::testing::Test {
protected:
    // Publishes a simulator whose flash holds `preload` (a pattern no image uses), opens
    // it and runs Get ID, as the user would before a burn or a dump.
    void Start(std::uint16_t partRow = k4KSectorPartRow, std::uint16_t readCount = 256) {
        sim::Config config;
        config.vendorId = 0x1209;
        config.productId = 0x5A5B;  // unique to these tests
        config.partRow = partRow;
        config.input[0].count = readCount;
        std::string error;
        sim = sim::SimulatedDevice::Create(std::move(config), error);
        ASSERT_TRUE(sim) << error;
        preload.assign(sim->Geometry().totalSize, 0x5A);
        ASSERT_TRUE(sim->LoadFlash(preload));
        vhid::DeviceInfo info = sim->Info();
        info.path = vhid::MakePath("engine");
        publication = vhid::Publish(std::move(info), sim);
        window.TypeText(ids::kVid, "1209");
        window.TypeText(ids::kPid, "5A5B");
        dialog.OnOpenDevice();
        ASSERT_EQ(dialog.IsDeviceOpen(), 1);
        dialog.OnGetId();
        ASSERT_NE(IdentifiedPartIndex, kNoIdentifiedPart);
        sim->ClearLog();
        window.ClearCalls();
    }

    void TearDown() override {
        dialog.JoinWorkers();
        IdentifiedPartIndex = kNoIdentifiedPart;  // process-wide
        std::error_code ignored;
        for (const std::string& path : files) std::filesystem::remove(path, ignored);
    }

    // One name per process and suffix; each test removes its files.
    std::string TempPath(const char* suffix) {
        files.push_back(::testing::TempDir() + "engine_" + std::to_string(getpid()) + "_" + suffix);
        return files.back();
    }

    void PickBurnFile(const Bytes& image) {
        std::string path = TempPath("image.bin");
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()),
                                                    static_cast<std::streamsize>(image.size()));
        window.QueueOpenFileResult(path);
        dialog.OnBrowseBurnFile();
        ASSERT_TRUE(dialog.Image().IsLoaded());
    }

    void PickDumpFile(const std::string& path) {
        window.QueueOpenFileResult(path);
        dialog.OnBrowseDumpFile();
    }

    // "entire", or the Other Area boxes as letters: f(irmware), p(rivate), c(ustomized).
    void Choose(const std::string& choice) {
        bool entire = choice == "entire";
        window.SetCheck(ids::kEntireFlash, entire ? 1 : 0);
        window.SetCheck(ids::kOtherArea, entire ? 0 : 1);
        const char letters[] = {'f', 'p', 'c'};
        for (int row = 0; row < kFlashAreaCount; ++row)
            window.SetCheck(ids::kFirmwareBox + row, !entire && choice.find(letters[row]) != std::string::npos);
    }

    void RunBurn() {
        dialog.OnBurn();
        dialog.JoinWorkers();
    }

    // The one message box of a run, as "caption: text".
    std::string OnlyBox() const {
        auto boxes = window.MessageBoxes();
        if (boxes.size() != 1) return "boxes: " + std::to_string(boxes.size());
        return boxes[0].caption + ": " + boxes[0].text;
    }

    // The update-flag values written, in order: byte 0 of each data report sent while
    // access mode 2 was announced.
    std::vector<int> FlagWrites() const {
        std::vector<int> values;
        int mode = -1;
        for (const sim::TransferRecord& r : sim->Log()) {
            if (r.direction != sim::Direction::Output || r.bytes.size() < 5) continue;
            if (r.reportId == 2 && r.bytes[2] == 0x03) mode = r.bytes[3];
            if (r.reportId == 1 && mode == kModeUpdateFlag) values.push_back(r.bytes[4]);
        }
        return values;
    }

    // The end step ran: file and image released, "Status: Wait", the start button
    // disabled, the exit traces last, and the run flag down.
    void ExpectEnded(int startButton) const {
        EXPECT_FALSE(dialog.IsRunning());
        EXPECT_FALSE(dialog.File().IsOpen());
        EXPECT_FALSE(dialog.Image().IsLoaded());
        EXPECT_EQ(window.Control(ids::kStatusText).text, "Status: Wait");
        EXPECT_FALSE(window.Control(startButton).enabled);
        auto traces = window.Traces();
        ASSERT_GE(traces.size(), 2u);
        EXPECT_EQ(traces[traces.size() - 2], "Call ExitThread_0.\n");
        EXPECT_EQ(traces.back(), "Call ExitThread_1.\n");
    }

    std::shared_ptr<sim::SimulatedDevice> sim;
    std::unique_ptr<vhid::Publication> publication;
    Bytes preload;
    GatedWindow window;
    DialogUnderTest dialog{window};
    std::vector<std::string> files;
};

}  // namespace enginetest
