#include "platform/win/file_api.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>

#include "platform/win/text.h"
#include "platform/win/win_error.h"

namespace {

std::mutex openerLock;
std::atomic<int> flushFailCountdown{-1};
std::atomic<DWORD> flushFailError{ERROR_SUCCESS};

// The injected failure of FailFlushAfter, when this flush is the one.
bool FlushFailsNow() {
    int countdown = flushFailCountdown.load();
    while (countdown >= 0) {
        if (flushFailCountdown.compare_exchange_weak(countdown, countdown - 1)) return countdown == 0;
    }
    return false;
}

DeviceOpener& Opener() {
    static DeviceOpener opener;
    return opener;
}

class PosixFile final : public FileObject {
public:
    explicit PosixFile(int fd) : fd_(fd) {}
    ~PosixFile() override { ::close(fd_); }

    DWORD Read(void* buffer, DWORD count, DWORD& done) override {
        done = 0;
        auto* out = static_cast<char*>(buffer);
        while (done < count) {
            ssize_t n = ::read(fd_, out + done, count - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                return Win32ErrorFromErrno(errno);
            }
            if (n == 0) break;  // end of file: a short read, not an error
            done += static_cast<DWORD>(n);
        }
        return ERROR_SUCCESS;
    }

    DWORD Write(const void* buffer, DWORD count, DWORD& done) override {
        done = 0;
        const auto* in = static_cast<const char*>(buffer);
        while (done < count) {
            ssize_t n = ::write(fd_, in + done, count - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                return Win32ErrorFromErrno(errno);
            }
            done += static_cast<DWORD>(n);
        }
        return ERROR_SUCCESS;
    }

    DWORD StartWriteback() override {
        if (::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE) == 0) return ERROR_SUCCESS;
        // Pipes and devices have no page cache of their own to write back.
        return errno == ESPIPE || errno == EINVAL ? ERROR_SUCCESS : Win32ErrorFromErrno(errno);
    }
    DWORD Flush() override { return ::fsync(fd_) == 0 || errno == EINVAL ? ERROR_SUCCESS : Win32ErrorFromErrno(errno); }

    DWORD Size(std::uint64_t& size) override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) return Win32ErrorFromErrno(errno);
        size = static_cast<std::uint64_t>(st.st_size);
        return ERROR_SUCCESS;
    }

private:
    int fd_;
};

HANDLE OpenPosixFile(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
    int flags = O_CLOEXEC;
    bool read = (access & GENERIC_READ) != 0, write = (access & GENERIC_WRITE) != 0;
    flags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    // A truncating open empties the file only after the sharing check below, so a refused
    // open leaves another holder's file as it was.
    bool truncate = false;
    switch (disposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT; truncate = true; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: truncate = true; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
    // ftruncate needs a writable descriptor, as O_TRUNC needs write permission.
    if (truncate && !write) flags = (flags & ~O_ACCMODE) | O_RDWR;
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) {
        DWORD error = Win32ErrorFromErrno(errno);
        SetLastError(disposition == CREATE_NEW && errno == EEXIST ? ERROR_FILE_EXISTS : error);
        return INVALID_HANDLE_VALUE;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        DWORD error = S_ISDIR(st.st_mode) ? ERROR_ACCESS_DENIED : Win32ErrorFromErrno(errno);
        ::close(fd);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    // Without write sharing, another writer of the same file is refused, as on Windows;
    // advisory locks are the nearest POSIX equivalent. Truncating counts as writing.
    if ((share & FILE_SHARE_WRITE) == 0 || write || truncate) {
        int lockMode = (write || truncate || (share & FILE_SHARE_READ) == 0) ? LOCK_EX : LOCK_SH;
        if (::flock(fd, lockMode | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            ::close(fd);
            SetLastError(ERROR_SHARING_VIOLATION);
            return INVALID_HANDLE_VALUE;
        }
    }
    // Pipes and devices have nothing to truncate (O_TRUNC ignores them too).
    if (truncate && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) {
        DWORD error = Win32ErrorFromErrno(errno);
        ::close(fd);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    return RegisterHandle(std::make_shared<PosixFile>(fd));
}

std::shared_ptr<FileObject> LookupFile(HANDLE handle) { return LookupHandleAs<FileObject>(handle); }

}  // namespace

void RegisterDeviceOpener(DeviceOpener opener) {
    std::lock_guard guard(openerLock);
    Opener() = std::move(opener);
}

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE) {
    if (fileName == nullptr || fileName[0] == 0) {
        SetLastError(fileName == nullptr ? ERROR_INVALID_PARAMETER : ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::u16string_view path(fileName, WideLength(fileName));
    DeviceOpener opener;
    {
        std::lock_guard guard(openerLock);
        opener = Opener();
    }
    if (opener) {
        DWORD error = ERROR_SUCCESS;
        std::shared_ptr<FileObject> device;
        if (opener(path, desiredAccess, shareMode, flagsAndAttributes, error, device)) {
            if (error != ERROR_SUCCESS || !device) {
                SetLastError(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE);
                return INVALID_HANDLE_VALUE;
            }
            return RegisterHandle(std::move(device));
        }
    }
    return OpenPosixFile(Utf16ToUtf8(path), desiredAccess, shareMode, creationDisposition);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
    if (read != nullptr) *read = 0;
    auto object = LookupFile(file);
    if (!object) return FALSE;
    if (buffer == nullptr && toRead > 0) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    DWORD done = 0;
    DWORD error = object->Read(buffer, toRead, done);
    if (read != nullptr) *read = done;
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
    if (written != nullptr) *written = 0;
    auto object = LookupFile(file);
    if (!object) return FALSE;
    if (buffer == nullptr && toWrite > 0) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    DWORD done = 0;
    DWORD error = object->Write(buffer, toWrite, done);
    if (written != nullptr) *written = done;
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
    auto object = LookupFile(file);
    if (!object) return FALSE;
    DWORD error = FlushFailsNow() ? flushFailError.load() : object->Flush();
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL FileExt_StartWriteback(HANDLE file) {
    auto object = LookupFile(file);
    if (!object) return FALSE;
    DWORD error = object->StartWriteback();
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

DWORD GetFileSize(HANDLE file, LPDWORD high) {
    auto object = LookupFile(file);
    if (!object) return INVALID_FILE_SIZE;
    std::uint64_t size = 0;
    DWORD error = object->Size(size);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return INVALID_FILE_SIZE;
    }
    if (high != nullptr) *high = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

void file_testing::FailFlushAfter(int skip, DWORD error) {
    flushFailError.store(error);
    flushFailCountdown.store(skip);
}
