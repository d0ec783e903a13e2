// Truncating opens (CREATE_ALWAYS, TRUNCATE_EXISTING) empty a file only once the sharing
// check passed: a refused open leaves another holder's file, say a burn image, intact.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/win/file_api.h"
#include "platform/win/handles.h"
#include "platform/win/text.h"
#include "platform/win/win_error.h"

namespace {

namespace fs = std::filesystem;

class TruncatingOpen : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir);
        std::ofstream(path, std::ios::binary) << "firmware image";
    }
    void TearDown() override { fs::remove_all(dir); }

    HANDLE Open(DWORD access, DWORD share, DWORD disposition) {
        return CreateFileW(Utf8ToUtf16(path.string()).c_str(), access, share, nullptr, disposition, 0, nullptr);
    }
    std::string Contents() const {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    fs::path dir = fs::temp_directory_path() / ("uvc-truncate-" + std::to_string(::getpid()));
    fs::path path = dir / "image.bin";
};

TEST_F(TruncatingOpen, RefusedForSharingKeepsTheHoldersBytes) {
    // Held as the dialog holds a burn image: read, others may only read.
    HANDLE image = Open(GENERIC_READ, FILE_SHARE_READ, OPEN_ALWAYS);
    ASSERT_NE(image, INVALID_HANDLE_VALUE);
    for (DWORD disposition : {DWORD{CREATE_ALWAYS}, DWORD{TRUNCATE_EXISTING}}) {
        for (DWORD access : {DWORD{GENERIC_WRITE}, DWORD{GENERIC_READ}}) {
            EXPECT_EQ(Open(access, FILE_SHARE_READ | FILE_SHARE_WRITE, disposition), INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION) << disposition << " " << access;
            EXPECT_EQ(Contents(), "firmware image") << disposition << " " << access;
        }
    }
    EXPECT_TRUE(CloseHandle(image));

    // Once the holder let go, the same open empties the file.
    HANDLE dump = Open(GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
    ASSERT_NE(dump, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Contents(), "");
    // ... and holds it against a second truncating open.
    std::ofstream(path, std::ios::binary | std::ios::app) << "new";
    EXPECT_EQ(Open(GENERIC_WRITE, FILE_SHARE_READ, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(Contents(), "new");
    EXPECT_TRUE(CloseHandle(dump));
}

TEST_F(TruncatingOpen, TruncateExistingNeedsTheFileAndLeavesDevicesAlone) {
    fs::remove(path);
    EXPECT_EQ(Open(GENERIC_WRITE, 0, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(fs::exists(path));

    // A device has nothing to truncate: the open succeeds as O_TRUNC would.
    HANDLE null = CreateFileW(u"/dev/null", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                              0, nullptr);
    ASSERT_NE(null, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(null));
}

}  // namespace
