// The one errno mapping, grouped by the Windows error each condition is reported as.
#include <cerrno>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/win/win_error.h"

namespace {

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
