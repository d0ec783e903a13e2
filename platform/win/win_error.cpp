#include "platform/win/win_error.h"

#include <cerrno>

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
