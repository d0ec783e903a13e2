// Device-interface enumeration in the shape of SetupAPI: a snapshot set of the present
// HID interfaces, interface i of it, its detail with the path, ERROR_NO_MORE_ITEMS after
// the last. The set lists hidraw interfaces first, then in-process virtual devices, then
// simulators published on this machine.
#pragma once

#include "platform/win/win_types.h"

using HDEVINFO = void*;
inline HDEVINFO const INVALID_DEVINFO_HANDLE = reinterpret_cast<HDEVINFO>(static_cast<std::intptr_t>(-1));

inline constexpr DWORD DIGCF_DEFAULT = 0x00000001u;
inline constexpr DWORD DIGCF_PRESENT = 0x00000002u;
inline constexpr DWORD DIGCF_ALLCLASSES = 0x00000004u;
inline constexpr DWORD DIGCF_PROFILE = 0x00000008u;
inline constexpr DWORD DIGCF_DEVICEINTERFACE = 0x00000010u;

struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
};
using PSP_DEVINFO_DATA = SP_DEVINFO_DATA*;

struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
};
using PSP_DEVICE_INTERFACE_DATA = SP_DEVICE_INTERFACE_DATA*;

struct SP_DEVICE_INTERFACE_DETAIL_DATA_W {
    DWORD cbSize;
    WCHAR DevicePath[1];
};
using PSP_DEVICE_INTERFACE_DETAIL_DATA_W = SP_DEVICE_INTERFACE_DETAIL_DATA_W*;

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags);
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                 const GUID* interfaceClassGuid, DWORD memberIndex,
                                 PSP_DEVICE_INTERFACE_DATA deviceInterfaceData);
BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO deviceInfoSet, PSP_DEVICE_INTERFACE_DATA deviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_W deviceInterfaceDetailData,
                                      DWORD deviceInterfaceDetailDataSize, PDWORD requiredSize,
                                      PSP_DEVINFO_DATA deviceInfoData);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO deviceInfoSet);
