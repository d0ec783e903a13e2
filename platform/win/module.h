// Loading a library module and resolving entry points by name. Our "modules" are tables
// of the functions that a platform library exports; "HID.DLL" is provided by platform/hid.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/win/win_types.h"

struct ModuleExport {
    const char* name;
    FARPROC address;
};

// Registers a module's export table under a name (compared ignoring ASCII case).
void RegisterModule(std::u16string name, std::vector<ModuleExport> exports);

// A module handle, or null with ERROR_MOD_NOT_FOUND.
HMODULE LoadLibraryW(LPCWSTR name);

// An export, or null with ERROR_PROC_NOT_FOUND.
FARPROC GetProcAddress(HMODULE module, LPCSTR name);

namespace module_testing {
// Hides (or shows again) one export of a module, to test the paths where it is missing.
void HideExport(std::u16string_view module, std::string_view name, bool hidden);
}
