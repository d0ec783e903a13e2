#include "platform/win/handles.h"

#include <map>
#include <mutex>

#include "platform/win/win_error.h"

namespace {

struct HandleTable {
    std::mutex lock;
    std::map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
    std::uintptr_t next = 4;  // handles are multiples of 4, as on Windows
};

HandleTable& Table() {
    static HandleTable table;
    return table;
}

std::uintptr_t Key(HANDLE handle) { return reinterpret_cast<std::uintptr_t>(handle); }

}  // namespace

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object) {
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    std::uintptr_t key = table.next;
    table.next += 4;
    table.objects.emplace(key, std::move(object));
    return reinterpret_cast<HANDLE>(key);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    auto it = table.objects.find(Key(handle));
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || it == table.objects.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second;
}

BOOL CloseHandle(HANDLE handle) {
    std::shared_ptr<KernelObject> object;
    {
        HandleTable& table = Table();
        std::lock_guard guard(table.lock);
        auto it = table.objects.find(Key(handle));
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE || it == table.objects.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        object = std::move(it->second);
        table.objects.erase(it);
    }
    // The object is destroyed outside the lock, when the last user lets go of it.
    object.reset();
    return TRUE;
}

std::size_t LiveHandleCount() {
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    return table.objects.size();
}
