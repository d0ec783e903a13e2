// SetupAPI-shaped enumeration over the registered transports.
#include "platform/hid/setupapi.h"

#include <cstring>

#include "platform/hid/hid_library.h"
#include "platform/hid/hidsdi.h"
#include "platform/win/handles.h"
#include "platform/win/win_error.h"

namespace {

class DeviceInfoSet final : public KernelObject {
public:
    GUID classGuid{};
    std::vector<hidtransport::InterfaceInfo> interfaces;
};

GUID HidGuid() {
    GUID guid{};
    HidD_GetHidGuid(&guid);
    return guid;
}

}  // namespace

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND, DWORD flags) {
    hidlibrary::EnsureRegistered();
    // Only the present interfaces of the HID class exist here.
    if (classGuid == nullptr || enumerator != nullptr || (flags & DIGCF_DEVICEINTERFACE) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_DEVINFO_HANDLE;
    }
    auto set = std::make_shared<DeviceInfoSet>();
    set->classGuid = *classGuid;
    if (*classGuid == HidGuid())
        for (auto& provider : hidtransport::Providers()) provider->Enumerate(set->interfaces);
    return RegisterHandle(std::move(set));
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO setHandle, PSP_DEVINFO_DATA, const GUID* interfaceClassGuid,
                                 DWORD memberIndex, PSP_DEVICE_INTERFACE_DATA data) {
    auto set = LookupHandleAs<DeviceInfoSet>(setHandle);
    if (!set) return FALSE;
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || interfaceClassGuid == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!(*interfaceClassGuid == set->classGuid) || memberIndex >= set->interfaces.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->InterfaceClassGuid = set->classGuid;
    data->Flags = 1;  // SPINT_ACTIVE
    data->Reserved = memberIndex + 1;  // names the interface for the detail query
    return TRUE;
}

BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO setHandle, PSP_DEVICE_INTERFACE_DATA data,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize,
                                      PDWORD requiredSize, PSP_DEVINFO_DATA) {
    auto set = LookupHandleAs<DeviceInfoSet>(setHandle);
    if (!set) return FALSE;
    if (data == nullptr || data->Reserved == 0 || data->Reserved > set->interfaces.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::u16string& path = set->interfaces[data->Reserved - 1].path;
    DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                      (path.size() + 1) * sizeof(WCHAR));
    if (requiredSize != nullptr) *requiredSize = needed;
    if (detail == nullptr) {
        SetLastError(detailSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (detailSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(detail->DevicePath, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO setHandle) {
    if (!LookupHandleAs<DeviceInfoSet>(setHandle)) return FALSE;
    return CloseHandle(setHandle);
}
