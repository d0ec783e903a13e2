// Another program's hold on a device: the device claim taken through a handle of its own.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/hid/hidsdi.h"
#include "platform/win/file_api.h"

namespace testsupport {

class DeviceHolder {
public:
    explicit DeviceHolder(const std::u16string& path)
        : handle_(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr)) {
        ULONG pid = 0;
        EXPECT_TRUE(HidExt_ClaimDevice(handle_, HidExtClaim::Take, &pid));
    }
    ~DeviceHolder() { CloseHandle(handle_); }
    DeviceHolder(const DeviceHolder&) = delete;
    DeviceHolder& operator=(const DeviceHolder&) = delete;

private:
    HANDLE handle_;
};

}  // namespace testsupport
