#include "platform/win/win_error.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD error) { lastError = error; }

DWORD Win32ErrorFromErrno(int err) {
    switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EBUSY: return ERROR_BUSY;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EFAULT: return ERROR_NOACCESS;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EFBIG: return ERROR_FILE_TOO_LARGE;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EPIPE: return ERROR_GEN_FAILURE;  // a USB STALL: the device refused the request
    case ETIMEDOUT: return ERROR_SEM_TIMEOUT;  // no answer within the kernel's 5 s
    case ENODEV:
    case ENXIO:
    case ESHUTDOWN: return ERROR_DEVICE_NOT_CONNECTED;  // unplugged
    case EPROTO:
    case EILSEQ:
    case ETIME: return ERROR_GEN_FAILURE;  // transfer broke off (often an unplug in progress)
    case EIO: return ERROR_IO_DEVICE;
    case ECONNREFUSED:
    case ECONNRESET: return ERROR_DEVICE_NOT_CONNECTED;
    case ENOTTY:
    case ENOSYS:
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    default: return ERROR_GEN_FAILURE;
    }
}

BOOL FailWithErrno(int err) {
    SetLastError(Win32ErrorFromErrno(err));
    return FALSE;
}

HRESULT HRESULT_FROM_WIN32(LONG error) {
    if (error <= 0) return error;
    return static_cast<HRESULT>((static_cast<ULONG>(error) & 0x0000FFFFu) | 0x80070000u);
}

std::string Win32ErrorText(DWORD error) {
    // The errno each Win32 error stands for, as the platform layer maps them.
    static constexpr std::pair<DWORD, int> kErrnoOf[] = {
        {ERROR_FILE_NOT_FOUND, ENOENT},    {ERROR_PATH_NOT_FOUND, ENOTDIR},       {ERROR_TOO_MANY_OPEN_FILES, EMFILE},
        {ERROR_ACCESS_DENIED, EACCES},     {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},     {ERROR_WRITE_PROTECT, EROFS},
        {ERROR_BUSY, EBUSY},               {ERROR_ALREADY_EXISTS, EEXIST},        {ERROR_FILE_EXISTS, EEXIST},
        {ERROR_INVALID_PARAMETER, EINVAL}, {ERROR_DISK_FULL, ENOSPC},             {ERROR_FILE_TOO_LARGE, EFBIG},
        {ERROR_IO_DEVICE, EIO},            {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
    };
    for (const auto& [win32, err] : kErrnoOf)
        if (win32 == error) return std::strerror(err);
    return "system error " + std::to_string(error);
}
