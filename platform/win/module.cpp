#include "platform/win/module.h"

#include <cstring>
#include <list>
#include <mutex>
#include <set>

#include "platform/win/text.h"
#include "platform/win/win_error.h"

namespace {

struct Module {
    std::u16string name;
    std::vector<ModuleExport> exports;
    std::set<std::string> hidden;
};

struct ModuleTable {
    std::mutex lock;
    std::list<Module> modules;  // list: module handles are stable addresses
};

ModuleTable& Table() {
    static ModuleTable table;
    return table;
}

Module* Find(ModuleTable& table, std::u16string_view name) {
    for (Module& module : table.modules)
        if (EqualsIgnoringAsciiCase(module.name, name)) return &module;
    return nullptr;
}

}  // namespace

void RegisterModule(std::u16string name, std::vector<ModuleExport> exports) {
    ModuleTable& table = Table();
    std::lock_guard guard(table.lock);
    if (Module* existing = Find(table, name)) {
        existing->exports = std::move(exports);
        return;
    }
    table.modules.push_back(Module{std::move(name), std::move(exports), {}});
}

HMODULE LoadLibraryW(LPCWSTR name) {
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    ModuleTable& table = Table();
    std::lock_guard guard(table.lock);
    Module* module = Find(table, std::u16string_view(name, WideLength(name)));
    if (module == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return module;
}

FARPROC GetProcAddress(HMODULE handle, LPCSTR name) {
    ModuleTable& table = Table();
    std::lock_guard guard(table.lock);
    for (Module& module : table.modules) {
        if (&module != handle) continue;
        if (name == nullptr || module.hidden.count(name) != 0) break;
        for (const ModuleExport& entry : module.exports)
            if (std::strcmp(entry.name, name) == 0) return entry.address;
        break;
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

void module_testing::HideExport(std::u16string_view moduleName, std::string_view name, bool hidden) {
    ModuleTable& table = Table();
    std::lock_guard guard(table.lock);
    Module* module = Find(table, moduleName);
    if (module == nullptr) return;
    if (hidden)
        module->hidden.insert(std::string(name));
    else
        module->hidden.erase(std::string(name));
}
