// The Win32-shaped platform services (handles, modules, text, files, errno mapping) and
// virtual devices through the Win32-shaped SetupAPI and HidD_* calls.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "platform/hid/hidsdi.h"
#include "platform/hid/setupapi.h"
#include "platform/hid/virtual_device.h"
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

// A handle looked up again and again stays valid until it is closed, on any thread, even
// while its object lives on in a user's hands; the other handles stay as they were.
TEST(Handles, AClosedHandleIsInvalidAtOnceThoughItsObjectLivesOn) {
    auto object = std::make_shared<Dummy>();
    HANDLE kept = RegisterHandle(std::make_shared<Dummy>());
    HANDLE h = RegisterHandle(object);
    EXPECT_EQ(LookupHandle(h), object);
    EXPECT_EQ(LookupHandle(h), object);
    std::thread([h] { EXPECT_TRUE(CloseHandle(h)); }).join();
    SetLastError(0);
    EXPECT_EQ(LookupHandle(h), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(LookupHandleAs<Dummy>(h), nullptr);
    EXPECT_NE(LookupHandle(kept), nullptr);
    EXPECT_TRUE(CloseHandle(kept));
    EXPECT_EQ(LookupHandle(kept), nullptr);
}

void Exported() {}

TEST(Modules, ResolveByNameIgnoringCase) {
    RegisterModule(u"TEST.DLL", {{"Exported", &Exported}});
    HMODULE module = LoadLibraryW(u"test.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(GetProcAddress(module, "Exported"), &Exported);
    EXPECT_EQ(GetProcAddress(module, "Missing"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
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
}

class Files : public ::testing::Test {
protected:
    std::filesystem::path dir = std::filesystem::temp_directory_path() / ("uvc-files-" + std::to_string(::getpid()));
    std::filesystem::path image = dir / "image.bin";
    void SetUp() override {
        std::filesystem::create_directories(dir);
        std::ofstream(image, std::ios::binary) << "firmware image";
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::u16string Wide(const std::filesystem::path& p) { return Utf8ToUtf16(p.string()); }
    HANDLE OpenImage(DWORD access, DWORD share, DWORD disposition) {
        return CreateFileW(Wide(image).c_str(), access, share, nullptr, disposition, 0, nullptr);
    }
    std::string Contents() const {
        std::ifstream in(image, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
};

// Truncating opens empty a file only once the sharing check passed: a refused open leaves
// another holder's file, say a burn image, intact.
TEST_F(Files, TruncatingOpenRefusedForSharingKeepsTheHoldersBytes) {
    HANDLE held = OpenImage(GENERIC_READ, FILE_SHARE_READ, OPEN_ALWAYS);  // as the dialog holds a burn image
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    for (DWORD disposition : {DWORD{CREATE_ALWAYS}, DWORD{TRUNCATE_EXISTING}}) {
        for (DWORD access : {DWORD{GENERIC_WRITE}, DWORD{GENERIC_READ}}) {
            EXPECT_EQ(OpenImage(access, FILE_SHARE_READ | FILE_SHARE_WRITE, disposition), INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION) << disposition << " " << access;
            EXPECT_EQ(Contents(), "firmware image") << disposition << " " << access;
        }
    }
    EXPECT_TRUE(CloseHandle(held));
    HANDLE dump = OpenImage(GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);  // the holder let go: emptied
    ASSERT_NE(dump, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Contents(), "");
    std::ofstream(image, std::ios::binary | std::ios::app) << "new";
    EXPECT_EQ(OpenImage(GENERIC_WRITE, FILE_SHARE_READ, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(Contents(), "new");
    EXPECT_TRUE(CloseHandle(dump));
    std::filesystem::remove(image);
    EXPECT_EQ(OpenImage(GENERIC_WRITE, 0, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(std::filesystem::exists(image));
    // A device has nothing to truncate: the open succeeds as O_TRUNC would.
    HANDLE null = CreateFileW(u"/dev/null", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                              0, nullptr);
    ASSERT_NE(null, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(null));
}

TEST_F(Files, WritesAreCountedAndAShortReadAtTheEndSucceeds) {
    HANDLE file = OpenImage(GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
    DWORD done = 0, high = 7;
    EXPECT_TRUE(WriteFile(file, "abc", 3, &done, nullptr) && FlushFileBuffers(file));
    EXPECT_EQ(std::tuple(done, GetFileSize(file, &high), high, Contents()), std::tuple(3u, 3u, 0u, "abc"));
    EXPECT_TRUE(CloseHandle(file));
    HANDLE read = OpenImage(GENERIC_READ, FILE_SHARE_READ, OPEN_ALWAYS);
    char buffer[8] = {};
    EXPECT_TRUE(ReadFile(read, buffer, sizeof buffer, &done, nullptr));  // a short read at the end is not an error
    EXPECT_EQ(std::tuple(done, std::string(buffer)), std::tuple(3u, "abc"));
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
        {ERROR_SUCCESS, {0}}, {ERROR_FILE_NOT_FOUND, {ENOENT}}, {ERROR_PATH_NOT_FOUND, {ENOTDIR}},
        {ERROR_TOO_MANY_OPEN_FILES, {EMFILE, ENFILE}}, {ERROR_ACCESS_DENIED, {EACCES, EPERM, EISDIR}},
        {ERROR_INVALID_HANDLE, {EBADF}}, {ERROR_NOT_ENOUGH_MEMORY, {ENOMEM}}, {ERROR_WRITE_PROTECT, {EROFS}},
        {ERROR_BUSY, {EBUSY}}, {ERROR_ALREADY_EXISTS, {EEXIST}}, {ERROR_INVALID_PARAMETER, {EINVAL}},
        {ERROR_NOACCESS, {EFAULT}}, {ERROR_DISK_FULL, {ENOSPC, EDQUOT}}, {ERROR_FILE_TOO_LARGE, {EFBIG}},
        {ERROR_FILENAME_EXCED_RANGE, {ENAMETOOLONG}}, {ERROR_SEM_TIMEOUT, {ETIMEDOUT}}, {ERROR_IO_DEVICE, {EIO}},
        {ERROR_DEVICE_NOT_CONNECTED, {ENODEV, ENXIO, ESHUTDOWN, ECONNREFUSED, ECONNRESET}},
        // EPIPE is a stall: the device refused, it is still there.
        {ERROR_GEN_FAILURE, {EPIPE, EPROTO, EILSEQ, ETIME, EWOULDBLOCK, -1, 100000}},
        {ERROR_NOT_SUPPORTED, {ENOTTY, ENOSYS, EOPNOTSUPP}}};
    for (const auto& [expected, errnos] : groups)
        for (int err : errnos) EXPECT_EQ(Win32ErrorFromErrno(err), expected) << "errno " << err;
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(FailWithErrno(ENOSPC), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
}

// ---- virtual devices

class Silent final : public vhid::DeviceHandler {
public:
    DWORD OnOutputReport(std::span<const std::uint8_t>) override { return ERROR_SUCCESS; }
    DWORD OnInputRequest(std::uint8_t, ULONG, std::vector<std::uint8_t>&) override { return ERROR_SUCCESS; }
};

std::unique_ptr<vhid::Publication> Publish(USHORT vid) {
    vhid::DeviceInfo info;
    info.path = vhid::MakePath("virtual");
    info.vendorId = vid;
    info.productId = 0x5678;
    info.versionNumber = 0x0103;
    info.manufacturer = u"Maker";
    info.product = u"Capture Bridge";
    info.indexedStrings = {u"", u"First", u"\u00C4rger"};  // no serial number
    return vhid::Publish(std::move(info), std::make_shared<Silent>());
}

HANDLE Open(const vhid::Publication& device) {
    return CreateFileW(device.Path().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

// Every interface of the HID class, checking the detail buffer rules on the way.
std::vector<std::u16string> EnumeratedPaths() {
    GUID guid{};
    HidD_GetHidGuid(&guid);
    HDEVINFO set = SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_NE(set, INVALID_DEVINFO_HANDLE);
    std::vector<std::u16string> paths;
    for (DWORD i = 0;; ++i) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &guid, i, &data)) {
            EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
            break;
        }
        DWORD size = 0;
        EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        std::vector<std::uint8_t> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        // One byte short is refused rather than truncated.
        EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size - 1, nullptr, nullptr));
        EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr));
        paths.emplace_back(detail->DevicePath);
    }
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    return paths;
}

class VirtualDevice : public ::testing::Test {
protected:
    void SetUp() override {
        device_ = Publish(0x30);
        handle_ = Open(*device_);
        ASSERT_NE(handle_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }

    std::unique_ptr<vhid::Publication> device_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

TEST_F(VirtualDevice, EnumerationListsPublishedDevicesInOrderAndForgetsWithdrawnOnes) {
    auto later = Publish(0x20);
    auto paths = EnumeratedPaths();
    auto at = [&](const std::u16string& p) { return std::find(paths.begin(), paths.end(), p) - paths.begin(); };
    ASSERT_LT(at(device_->Path()), at(later->Path()));
    ASSERT_LT(static_cast<std::size_t>(at(later->Path())), paths.size());
    const std::u16string withdrawn = later->Path();
    later.reset();
    paths = EnumeratedPaths();
    EXPECT_EQ(std::count(paths.begin(), paths.end(), device_->Path()), 1);
    EXPECT_EQ(std::count(paths.begin(), paths.end(), withdrawn), 0);
}

TEST_F(VirtualDevice, WithdrawnDeviceFailsAsAfterAnUnplug) {
    HIDD_ATTRIBUTES attributes{};
    std::uint8_t report[4] = {1, 2, 3, 4};
    ASSERT_TRUE(HidD_GetAttributes(handle_, &attributes) && HidD_SetOutputReport(handle_, report, sizeof report));
    device_.reset();
    auto unplugged = [](BOOLEAN done) { return !done && GetLastError() == ERROR_DEVICE_NOT_CONNECTED; };
    char16_t text[32];
    EXPECT_TRUE(unplugged(HidD_SetOutputReport(handle_, report, sizeof report)));
    EXPECT_TRUE(unplugged(HidD_GetAttributes(handle_, &attributes)));
    EXPECT_TRUE(unplugged(HidD_GetManufacturerString(handle_, text, sizeof text)));
}

// An exact or larger (also odd) buffer gets the text and its terminator and nothing past
// them; a shorter or odd one nothing at all. Every string takes this path; a non-ASCII one
// shows that the room is counted in UTF-16 units. The dispatcher tests read the named ones.
TEST_F(VirtualDevice, StringsFillOnlyABufferThatHoldsTextAndTerminator) {
    const std::u16string text = u"\u00C4rger";
    const std::size_t bytes = (text.size() + 1) * 2;
    for (std::size_t length : {bytes, bytes + 5}) {
        std::vector<std::uint8_t> buffer(bytes + 5, 0xCD);
        ASSERT_TRUE(HidD_GetIndexedString(handle_, 2, buffer.data(), static_cast<ULONG>(length))) << length;
        std::u16string got(text.size() + 1, u'?');
        std::memcpy(got.data(), buffer.data(), bytes);
        EXPECT_EQ(got, text + u'\0') << length;
        EXPECT_EQ(buffer[bytes], 0xCD) << length;
    }
    for (std::size_t length : {bytes - 1, bytes - 2}) {
        std::vector<std::uint8_t> buffer(bytes, 0xCD);
        SetLastError(0);
        EXPECT_FALSE(HidD_GetIndexedString(handle_, 2, buffer.data(), static_cast<ULONG>(length))) << length;
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER) << length;
        EXPECT_EQ(buffer, std::vector<std::uint8_t>(bytes, 0xCD)) << length;
    }
}

TEST_F(VirtualDevice, BadArgumentsAbsentStringsAndMissingDescriptorsFail) {
    static char16_t buffer[32];
    struct Row { const char* name; BOOLEAN (*call)(HANDLE); DWORD error; };
    const Row rows[] = {
        {"no serial number", [](HANDLE h) { return HidD_GetSerialNumberString(h, buffer, sizeof buffer); },
         ERROR_INVALID_PARAMETER},
        {"no string 9", [](HANDLE h) { return HidD_GetIndexedString(h, 9, buffer, sizeof buffer); },
         ERROR_INVALID_PARAMETER},
        {"null buffer", [](HANDLE h) { return HidD_GetProductString(h, nullptr, sizeof buffer); },
         ERROR_INVALID_USER_BUFFER},
        {"physical", [](HANDLE h) { return HidD_GetPhysicalDescriptor(h, buffer, sizeof buffer); }, ERROR_INVALID_FUNCTION},
    };
    for (const Row& row : rows) {
        SetLastError(0);
        EXPECT_FALSE(row.call(handle_)) << row.name;
        EXPECT_EQ(GetLastError(), row.error) << row.name;
    }
    EXPECT_EQ(CreateFileW(u"\\\\?\\vhid#nothing#0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    std::uint8_t report[2] = {};
    EXPECT_FALSE(HidD_SetOutputReport(nullptr, report, 2));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(HidD_SetOutputReport(handle_, nullptr, 2));
    EXPECT_FALSE(HidD_SetOutputReport(handle_, report, 0));
    EXPECT_FALSE(HidD_GetPreparsedData(handle_, nullptr));
    EXPECT_FALSE(HidD_FreePreparsedData(nullptr));
}

TEST_F(VirtualDevice, NumInputBuffersIsBoundedAndKeptPerHandle) {
    ULONG count = 0;
    // A refused count leaves the last accepted one, 512.
    for (auto [requested, accepted] : {std::pair<ULONG, bool>{2, true}, {512, true}, {1, false}, {513, false}}) {
        SetLastError(0);
        EXPECT_EQ(HidD_SetNumInputBuffers(handle_, requested), accepted ? TRUE : FALSE) << requested;
        ASSERT_TRUE(HidD_GetNumInputBuffers(handle_, &count));
        EXPECT_EQ(std::tuple(count, GetLastError()), std::tuple(accepted ? requested : 512u, accepted ? 0u : ERROR_INVALID_PARAMETER));
    }
    HANDLE second = Open(*device_);  // a new handle starts from the default
    ASSERT_TRUE(HidD_GetNumInputBuffers(second, &count));
    EXPECT_EQ(count, 32u);
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_FALSE(HidD_GetNumInputBuffers(handle_, nullptr));
    EXPECT_FALSE(HidD_SetNumInputBuffers(nullptr, 8));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
