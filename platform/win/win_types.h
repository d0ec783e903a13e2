// Basic Windows type names used by the layers above, so that code written to the
// Win32/HID interfaces reads the same on Linux. Sizes match the Windows x64 ABI where
// records are laid out with them (WCHAR is UTF-16, LONG and ULONG are 32-bit).
#pragma once

#include <cstddef>
#include <cstdint>

using BOOL = int;
using BOOLEAN = unsigned char;
using BYTE = std::uint8_t;
using UCHAR = std::uint8_t;
using CHAR = char;
using USHORT = std::uint16_t;
using SHORT = std::int16_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using INT = std::int32_t;
using ULONG_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using WPARAM = ULONG_PTR;
using LPARAM = LONG_PTR;
using SIZE_T = std::size_t;
using WCHAR = char16_t;
using PVOID = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using PCHAR = char*;
using PUCHAR = std::uint8_t*;
using PWCHAR = WCHAR*;
using LPCWSTR = const WCHAR*;
using PCWSTR = const WCHAR*;
using LPWSTR = WCHAR*;
using PWSTR = WCHAR*;
using LPCSTR = const char*;
using PULONG = ULONG*;
using PUSHORT = USHORT*;
using LPDWORD = DWORD*;
using PDWORD = DWORD*;
using NTSTATUS = LONG;
using HRESULT = LONG;

// Opaque handle values. 0 is never a live handle; INVALID_HANDLE_VALUE marks "not open".
using HANDLE = void*;
using HWND = void*;
using HMODULE = void*;
using FARPROC = void (*)();

inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
using LPGUID = GUID*;
using LPCGUID = const GUID*;

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}

// Access, sharing and creation values of CreateFileW.
inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD FILE_SHARE_READ = 0x00000001u;
inline constexpr DWORD FILE_SHARE_WRITE = 0x00000002u;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;
inline constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000u;
inline constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;
