// Handles, modules, text, files and the errno mapping of the Win32-shaped platform services.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "platform/win/file_api.h"
#include "platform/win/handles.h"
#include "platform/win/module.h"
#include "platform/win/text.h"
#include "platform/win/win_error.h"

namespace {

class Dummy : public KernelObject {};

TEST(Handles, ZeroAndInvalidAreNeverLive) {
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_EQ(LookupHandle(nullptr), nullptr);
    HANDLE h = RegisterHandle(std::make_shared<Dummy>());
    EXPECT_NE(h, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_NE(LookupHandle(h), nullptr);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));  // closing twice is refused
    EXPECT_EQ(LookupHandle(h), nullptr);
}

void Exported() {}

TEST(Modules, ResolveByNameIgnoringCaseAndHonourHiddenExports) {
    RegisterModule(u"TEST.DLL", {{"Exported", &Exported}});
    HMODULE module = LoadLibraryW(u"test.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(GetProcAddress(module, "Exported"), &Exported);
    EXPECT_EQ(GetProcAddress(module, "Missing"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    module_testing::HideExport(u"TEST.DLL", "Exported", true);
    EXPECT_EQ(GetProcAddress(module, "Exported"), nullptr);
    module_testing::HideExport(u"TEST.DLL", "Exported", false);
    EXPECT_EQ(GetProcAddress(module, "Exported"), &Exported);
    EXPECT_EQ(LoadLibraryW(u"NOPE.DLL"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST(Text, RoundTripsUtf16IncludingSurrogatesAndReplacesBrokenInput) {
    std::string text = "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80";
    std::u16string wide = Utf8ToUtf16(text);
    EXPECT_EQ(wide.size(), 8u);  // "Grüße " is six units, the emoji a surrogate pair
    EXPECT_EQ(Utf16ToUtf8(wide), text);
    EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");          // truncated sequence
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, 0xD800)), "\xEF\xBF\xBD");  // lone surrogate
    EXPECT_TRUE(EqualsIgnoringAsciiCase(u"Hid.Dll", u"HID.DLL"));
    EXPECT_FALSE(EqualsIgnoringAsciiCase(u"HID.DL", u"HID.DLL"));
}

class Files : public ::testing::Test {
protected:
    std::filesystem::path dir = std::filesystem::temp_directory_path() / ("uvc-files-" + std::to_string(::getpid()));
    void SetUp() override { std::filesystem::create_directories(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::u16string Wide(const std::filesystem::path& p) { return Utf8ToUtf16(p.string()); }
};

TEST_F(Files, CreateAlwaysEmptiesAndOpenAlwaysKeeps) {
    auto path = dir / "dump.bin";
    { std::ofstream(path) << "old contents"; }
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "abc", 3, &written, nullptr));
    EXPECT_EQ(written, 3u);
    EXPECT_TRUE(FlushFileBuffers(file));
    DWORD high = 7;
    EXPECT_EQ(GetFileSize(file, &high), 3u);
    EXPECT_EQ(high, 0u);
    // A second writer is refused while the first holds the file.
    EXPECT_EQ(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(CloseHandle(file));
    HANDLE read = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(read, INVALID_HANDLE_VALUE);
    char buffer[8] = {};
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(read, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(got, 3u);  // a short read at the end is not an error
    EXPECT_STREQ(buffer, "abc");
    EXPECT_TRUE(CloseHandle(read));
}

TEST_F(Files, OpenFailuresGiveWin32Numbers) {
    for (auto [path, error] : {std::pair{dir / "none" / "x", ERROR_FILE_NOT_FOUND}, {dir, ERROR_ACCESS_DENIED}}) {
        EXPECT_EQ(CreateFileW(Wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), error) << path;
    }
    EXPECT_EQ(CreateFileW(u"", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    DWORD n = 5;
    EXPECT_FALSE(ReadFile(nullptr, &n, 1, &n, nullptr));
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(Files, AFullDiskIsReportedAsDiskFull) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    HANDLE full = CreateFileW(u"/dev/full", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(full, INVALID_HANDLE_VALUE);
    DWORD written = 9;
    EXPECT_FALSE(WriteFile(full, "abcd", 4, &written, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    EXPECT_EQ(written, 0u);
    CloseHandle(full);
}

TEST(Hresult, FromWin32KeepsZeroAndNegativeAndMapsTheRest) {
    EXPECT_EQ(HRESULT_FROM_WIN32(0), 0);
    EXPECT_EQ(HRESULT_FROM_WIN32(-5), -5);
    EXPECT_EQ(static_cast<ULONG>(HRESULT_FROM_WIN32(112)), 0x80070070u);
    EXPECT_EQ(static_cast<ULONG>(HRESULT_FROM_WIN32(0x12345)), 0x80072345u);
}

// The one errno mapping, grouped by the Windows error each condition is reported as.
TEST(Win32ErrorFromErrno, MapsEachErrnoAsWindowsReportsTheCondition) {
    const std::pair<DWORD, std::vector<int>> groups[] = {
        {ERROR_SUCCESS, {0}},
        {ERROR_FILE_NOT_FOUND, {ENOENT}},
        {ERROR_PATH_NOT_FOUND, {ENOTDIR}},
        {ERROR_TOO_MANY_OPEN_FILES, {EMFILE, ENFILE}},
        {ERROR_ACCESS_DENIED, {EACCES, EPERM, EISDIR}},
        {ERROR_INVALID_HANDLE, {EBADF}},
        {ERROR_NOT_ENOUGH_MEMORY, {ENOMEM}},
        {ERROR_WRITE_PROTECT, {EROFS}},
        {ERROR_BUSY, {EBUSY}},
        {ERROR_ALREADY_EXISTS, {EEXIST}},
        {ERROR_INVALID_PARAMETER, {EINVAL}},
        {ERROR_NOACCESS, {EFAULT}},
        {ERROR_DISK_FULL, {ENOSPC, EDQUOT}},
        {ERROR_FILE_TOO_LARGE, {EFBIG}},
        {ERROR_FILENAME_EXCED_RANGE, {ENAMETOOLONG}},
        {ERROR_SEM_TIMEOUT, {ETIMEDOUT}},
        {ERROR_DEVICE_NOT_CONNECTED, {ENODEV, ENXIO, ESHUTDOWN, ECONNREFUSED, ECONNRESET}},
        // EPIPE is a stall: the device refused, it is still there.
        {ERROR_GEN_FAILURE, {EPIPE, EPROTO, EILSEQ, ETIME, EWOULDBLOCK, -1, 100000}},
        {ERROR_IO_DEVICE, {EIO}},
        {ERROR_NOT_SUPPORTED, {ENOTTY, ENOSYS, EOPNOTSUPP}},
    };
    for (const auto& [expected, errnos] : groups)
        for (int err : errnos) EXPECT_EQ(Win32ErrorFromErrno(err), expected) << "errno " << err;
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(FailWithErrno(ENOSPC), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
}

}  // namespace
