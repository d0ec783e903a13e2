// The one errno mapping, row by row.
#include <cerrno>

#include <gtest/gtest.h>

#include "platform/win/win_error.h"

namespace {

TEST(Win32ErrorFromErrno, MapsEachErrnoAsWindowsReportsTheCondition) {
    struct Row {
        int err;
        DWORD expected;
    };
    const Row rows[] = {
        {0, ERROR_SUCCESS},
        {ENOENT, ERROR_FILE_NOT_FOUND},
        {ENOTDIR, ERROR_PATH_NOT_FOUND},
        {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
        {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
        {EACCES, ERROR_ACCESS_DENIED},
        {EPERM, ERROR_ACCESS_DENIED},
        {EISDIR, ERROR_ACCESS_DENIED},
        {EBADF, ERROR_INVALID_HANDLE},
        {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
        {EROFS, ERROR_WRITE_PROTECT},
        {EBUSY, ERROR_BUSY},
        {EEXIST, ERROR_ALREADY_EXISTS},
        {EINVAL, ERROR_INVALID_PARAMETER},
        {EFAULT, ERROR_NOACCESS},
        {ENOSPC, ERROR_DISK_FULL},
        {EDQUOT, ERROR_DISK_FULL},
        {EFBIG, ERROR_FILE_TOO_LARGE},
        {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
        {EPIPE, ERROR_GEN_FAILURE},  // a stall: the device refused, it is still there
        {ETIMEDOUT, ERROR_SEM_TIMEOUT},
        {ENODEV, ERROR_DEVICE_NOT_CONNECTED},
        {ENXIO, ERROR_DEVICE_NOT_CONNECTED},
        {ESHUTDOWN, ERROR_DEVICE_NOT_CONNECTED},
        {ECONNREFUSED, ERROR_DEVICE_NOT_CONNECTED},
        {ECONNRESET, ERROR_DEVICE_NOT_CONNECTED},
        {EPROTO, ERROR_GEN_FAILURE},
        {EILSEQ, ERROR_GEN_FAILURE},
        {ETIME, ERROR_GEN_FAILURE},
        {EIO, ERROR_IO_DEVICE},
        {ENOTTY, ERROR_NOT_SUPPORTED},
        {ENOSYS, ERROR_NOT_SUPPORTED},
        {EOPNOTSUPP, ERROR_NOT_SUPPORTED},
        {EWOULDBLOCK, ERROR_GEN_FAILURE},
        {-1, ERROR_GEN_FAILURE},
        {100000, ERROR_GEN_FAILURE},
    };
    for (const Row& row : rows) EXPECT_EQ(Win32ErrorFromErrno(row.err), row.expected) << "errno " << row.err;
}

TEST(Win32ErrorFromErrno, FailWithErrnoSetsTheLastError) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(FailWithErrno(ENOSPC), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
}

}  // namespace
