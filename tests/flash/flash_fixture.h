// What the flash suites share: burn images, a folder of real files per test, the simulated
// part rows and reading the update flag off the wire.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "flash/flash_layout.h"
#include "flash/flash_programmer.h"
#include "sim/simulated_device.h"

namespace flashtest {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Rows of the flash part table the simulator is built as.
constexpr std::uint16_t k4KSectorPartRow = 44;  // 8 MiB, 4 KiB sectors: the whole layout
constexpr std::uint16_t k4MiBPartRow = 41;      // 4 MiB, 64 KiB sectors: ends inside Private
constexpr std::uint16_t k1MiBPartRow = 14;      // 1 MiB, 64 KiB sectors: ends before the Firmware area
constexpr std::uint16_t k256KPartRow = 34;      // 256 KiB, 64 KiB sectors

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

inline Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// "entire", or the Other Area boxes as letters: f(irmware), p(rivate), c(ustomized).
inline BurnRequest Choice(const std::string& choice) {
    BurnRequest request;
    request.otherArea = choice != "entire";
    const char letters[] = {'f', 'p', 'c'};
    for (int row = 0; row < kFlashAreaCount; ++row)
        request.areas[static_cast<std::size_t>(row)] = request.otherArea && choice.find(letters[row]) != std::string::npos;
    return request;
}

// The update-flag values written, in order (data reports sent in access mode 2).
inline std::vector<int> FlagWrites(const std::vector<sim::TransferRecord>& log) {
    std::vector<int> values;
    int mode = -1;
    for (const sim::TransferRecord& r : log) {
        if (r.direction != sim::Direction::Output || r.bytes.size() < 5) continue;
        if (r.reportId == 2 && r.bytes[2] == 0x03) mode = r.bytes[3];
        if (r.reportId == 1 && mode == kModeUpdateFlag) values.push_back(r.bytes[4]);
    }
    return values;
}

// Flash data requests (report 1 in): one per read chunk.
inline std::size_t ReadRequests(const std::vector<sim::TransferRecord>& log) {
    return static_cast<std::size_t>(std::count_if(log.begin(), log.end(), [](const sim::TransferRecord& r) {
        return r.direction == sim::Direction::Input && r.reportId == 1;
    }));
}

// A folder of its own for each test, removed with everything in it.
class Folder {
public:
    Folder() : path_(fs::temp_directory_path() / ("flash_test_" + std::to_string(::getpid()))) {
        fs::create_directories(path_);
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    const fs::path& Path() const { return path_; }
    std::string Write(const std::string& name, const Bytes& bytes) const {
        std::string path = (path_ / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    // The names in the folder, sorted: a dump's temporary file shows up here.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(path_)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    fs::path path_;
};

constexpr auto kRowName = [](const auto& info) { return std::string(info.param.name); };

}  // namespace flashtest
