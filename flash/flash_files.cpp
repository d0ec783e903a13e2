// The file slot shared by the burn image and the dump file, the two "..." picks, and the
// loading of a burn image with its version.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>
#include <random>

#include "flash/flash_programmer.h"
#include "platform/win/file_api.h"
#include "platform/win/text.h"
#include "core/format.h"
#include "platform/win/win_error.h"

namespace {

constexpr const char* kDiskFullText =
    "The disk containing dump file has run out of space, so the dump filter has been stopped.\r\n\r\n"
    "You must set a new dump file name or restart the graph to clear this filter error.";

constexpr std::size_t kMaxPathChars = 260;  // including the terminator
constexpr std::size_t kWriteStep = 64 * 1024;

// A path the slot can hold; a longer one is refused whole rather than cut to a name of
// another file.
bool FitsSlot(core::Reporter& reporter, const std::string& path) {
    if (Utf8ToUtf16(path).size() < kMaxPathChars) return true;
    reporter.Show(core::ErrorBox("The file path is too long !"));
    return false;
}

// ERROR_SUCCESS for a regular file or a name not taken yet. Anything else is refused
// before an open could block on it (a pipe without its other end) or write into a device.
DWORD CheckRegularFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno == ENOENT ? ERROR_SUCCESS : Win32ErrorFromErrno(errno);
    return S_ISREG(st.st_mode) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// Creates the dump's temporary file beside `target`, exclusively and with the mode of any
// new file: ".NAME.XXXXXX.part" (".uvc-hid-dump.XXXXXX.part" for a very long name).
HANDLE CreateTemporaryFile(const std::filesystem::path& target, std::string& created) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string name = target.filename().string();
    if (name.size() > 200) name = "uvc-hid-dump";
    std::random_device seed;
    std::minstd_rand random(seed());
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string suffix;
        for (int i = 0; i < 6; ++i) suffix += kLetters[random() % (sizeof kLetters - 1)];
        std::string path = (target.parent_path() / ("." + name + "." + suffix + ".part")).string();
        HANDLE handle = CreateFileW(Utf8ToUtf16(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, 0,
                                    nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            created = path;
            return handle;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) break;
    }
    return INVALID_HANDLE_VALUE;
}

// Waits until the folder's entries (a rename into it) are on the disk; answers an errno or 0.
int FlushFolder(const std::filesystem::path& folder) {
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    int error = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return error;
}

// The whole file, zero-filled one byte past its end; the image length is what was read.
void LoadBurnImage(FlashProgrammer& files, HANDLE handle, BurnImage& image, core::Reporter& reporter) {
    DWORD size = GetFileSize(handle, nullptr);
    if (size == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) {
        files.ReportFileError();
        return;
    }
    try {
        image.bytes.assign(std::size_t{size} + 1, 0);
    } catch (const std::bad_alloc&) {
        image = {};
        reporter.Trace("Error allocating memory\n");
        return;
    }
    image.length = files.ReadFlashFile(image.bytes.data(), size);
}

}  // namespace

// Symbolic links are followed as far as they lead, also to a name not created yet.
std::filesystem::path FollowSymlinks(const std::filesystem::path& path) {
    namespace fs = std::filesystem;
    fs::path target = path;
    std::error_code ec;
    for (int hops = 0; hops < 40 && fs::is_symlink(target, ec); ++hops) {
        fs::path link = fs::read_symlink(target, ec);
        if (ec) break;
        target = link.is_absolute() ? link : target.parent_path() / link;
    }
    return target;
}

namespace {

core::Error TooLong() { return {ERROR_FILENAME_EXCED_RANGE, "The file path is too long !"}; }

}  // namespace

core::Status FlashProgrammer::SelectBurnFile(const std::string& path,
                                             std::optional<std::span<const std::uint8_t>> given) {
    if (!FitsSlot(reporter, path)) return TooLong();
    flashFile.path = path;
    ReleaseFlashFile();
    // A failed open leaves the slot closed; Burn then refuses for want of a file.
    if (OpenFlashFile(true) != 0 || !flashFile.IsOpen()) {
        DWORD error = GetLastError();
        return core::Error{error, "cannot open the image " + path + ": " + Win32ErrorText(error)};
    }
    if (!given) {
        LoadBurnImage(*this, flashFile.handle, burnImage, reporter);
    } else {
        try {
            burnImage.bytes.reserve(given->size() + 1);
            burnImage.bytes.assign(given->begin(), given->end());
            burnImage.bytes.push_back(0);
            burnImage.length = static_cast<ULONG>(given->size());
        } catch (const std::bad_alloc&) {
            burnImage = {};
            reporter.Trace("Error allocating memory\n");
        }
    }
    if (given && burnImage.length != given->size())
        return core::Error{ERROR_NOT_ENOUGH_MEMORY, "cannot hold the image " + path + " in memory"};
    return core::Ok();
}

core::Status FlashProgrammer::SelectDumpFile(const std::string& path) {
    if (!FitsSlot(reporter, path)) return TooLong();
    flashFile.path = path;
    ReleaseFlashFile();
    // Creates the temporary file now, the target untouched; Dump refuses if this failed.
    if (OpenFlashFile(false) != 0 || !flashFile.IsOpen()) {
        DWORD error = GetLastError();
        return core::Error{error, "cannot create the dump file beside " + path + ": " + Win32ErrorText(error)};
    }
    return core::Ok();
}

// For reading, the file itself; for a dump, a new temporary file beside the target, which
// must be a regular file the user may write, or not exist yet.
HRESULT FlashProgrammer::OpenFlashFile(bool forRead) {
    if (flashFile.IsOpen()) return 0;
    // A dump lands where writing through a symbolic link would put it, and the link stays.
    std::filesystem::path target = forRead ? std::filesystem::path(flashFile.path) : FollowSymlinks(flashFile.path);
    DWORD refused = CheckRegularFile(target.string());
    if (refused == ERROR_SUCCESS && !forRead && ::access(target.c_str(), F_OK) == 0 && ::access(target.c_str(), W_OK) != 0)
        refused = Win32ErrorFromErrno(errno);  // a file the user keeps read-only is not replaced
    if (refused != ERROR_SUCCESS) {
        SetLastError(refused);
        return HRESULT_FROM_WIN32(static_cast<LONG>(refused));
    }
    std::string pending;
    // An image that is gone is not created anew (empty) in its place.
    HANDLE handle = forRead ? CreateFileW(Utf8ToUtf16(flashFile.path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr)
                            : CreateTemporaryFile(target, pending);
    if (handle == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(static_cast<LONG>(GetLastError()));
    flashFile.handle = handle;
    flashFile.staged.clear();
    if (!forRead) flashFile.staged.reserve(kWriteStep);
    flashFile.forRead = forRead;
    flashFile.pending = pending;
    flashFile.target = forRead ? std::string() : target.string();
    DWORD high = 0;
    DWORD low = GetFileSize(handle, &high);
    reporter.Trace(core::Format("FileSize %s = [%d] [%d]\n", forRead ? "READ" : "WRITE", static_cast<int>(high),
                             static_cast<int>(low)));
    return 0;
}

ULONG FlashProgrammer::ReadFlashFile(std::uint8_t* buffer, ULONG count) {
    if (!flashFile.IsOpen()) return 0;
    DWORD read = 0;
    if (!ReadFile(flashFile.handle, buffer, count, &read, nullptr)) ReportFileError();
    return read;
}

// A dump's chunks are gathered and written 64 KiB at a time (a write per 256-byte chunk
// would be a quarter of a chunk's system calls), and each write starts the disk's
// writeback, so the data goes on to the disk as the dump runs. Waiting for the disk after
// every write would cost a dump many times its transfer time: it waits once, at its end.
ULONG FlashProgrammer::WriteFlashFile(const std::uint8_t* buffer, ULONG count) {
    if (!flashFile.IsOpen()) return 0;
    flashFile.staged.insert(flashFile.staged.end(), buffer, buffer + count);
    if (flashFile.staged.size() >= kWriteStep && !WriteStaged()) {
        ReportFileError();
        return 0;
    }
    return count;
}

bool FlashProgrammer::WriteStaged() {
    std::vector<std::uint8_t>& staged = flashFile.staged;
    if (staged.empty()) return true;
    DWORD written = 0;
    const bool ok = WriteFile(flashFile.handle, staged.data(), static_cast<DWORD>(staged.size()), &written, nullptr) &&
                    written == staged.size();
    staged.clear();
    if (ok) FileExt_StartWriteback(flashFile.handle);
    return ok;
}

BOOL FlashProgrammer::FlushFlashFile() {
    return flashFile.IsOpen() && WriteStaged() && FlushFileBuffers(flashFile.handle);
}

BOOL FlashProgrammer::CommitFlashFile() {
    if (!flashFile.IsOpen() || flashFile.pending.empty()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const std::filesystem::path target(flashFile.target);
    std::string failed;  // the step that failed, and why
    if (!FlushFlashFile()) {
        failed = core::Format("flush, error %lu", static_cast<unsigned long>(GetLastError()));
    } else if (::rename(flashFile.pending.c_str(), target.c_str()) != 0) {
        failed = std::string("rename: ") + std::strerror(errno);
        FailWithErrno(errno);
    } else {
        flashFile.pending.clear();  // the target is the dump now
        int error = FlushFolder(target.parent_path());
        if (error == 0) return TRUE;
        failed = std::string("folder flush: ") + std::strerror(error);
        FailWithErrno(error);
    }
    const DWORD error = GetLastError();
    reporter.Trace("FlashRead -- Save dump file fail, " + failed + ".\n");
    SetLastError(error);
    ReportFileError();
    return FALSE;
}

int FlashProgrammer::ReleaseFlashFile() {
    burnImage = {};
    flashFile.staged = {};  // a dump that was not committed is not kept
    if (flashFile.IsOpen()) {
        if (flashFile.pending.empty()) FlushFileBuffers(flashFile.handle);  // an unfinished dump is not kept
        CloseHandle(flashFile.handle);
    }
    if (!flashFile.pending.empty()) ::unlink(flashFile.pending.c_str());
    flashFile.pending.clear();
    flashFile.target.clear();
    flashFile.handle = INVALID_HANDLE_VALUE;
    return 0;
}

HRESULT FlashProgrammer::ReportFileError() {
    DWORD error = GetLastError();
    // A file-size limit stops a dump as a full disk does.
    if (error == ERROR_DISK_FULL || error == ERROR_FILE_TOO_LARGE)
        reporter.Show({core::BoxOwner::Dialog, kDiskFullText, "Dump Filter failure", core::Icon::Warning});
    return HRESULT_FROM_WIN32(static_cast<LONG>(error));
}
