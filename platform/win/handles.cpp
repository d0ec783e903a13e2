#include "platform/win/handles.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>

#include "platform/win/win_error.h"

namespace {

struct HandleTable {
    std::mutex lock;
    std::map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
    std::uintptr_t next = 4;  // handles are multiples of 4, as on Windows; never reused
    std::atomic<std::uint64_t> closes{0};  // handles closed so far, counted under lock
};

// The last handle this thread looked up: a burst asks for the same handle at every report.
// It holds while no handle was closed since: keys are never reused, so the key still names
// that object, and the object is only watched, never kept alive.
struct LastLookup {
    std::uintptr_t key = 0;
    std::uint64_t closes = 0;
    std::weak_ptr<KernelObject> object;
};
thread_local LastLookup lastLookup;

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
    if (lastLookup.key == Key(handle) && lastLookup.closes == table.closes.load(std::memory_order_acquire))
        if (std::shared_ptr<KernelObject> object = lastLookup.object.lock()) return object;
    std::lock_guard guard(table.lock);
    auto it = table.objects.find(Key(handle));
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || it == table.objects.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    lastLookup = {Key(handle), table.closes.load(std::memory_order_relaxed), it->second};
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
        table.closes.fetch_add(1, std::memory_order_release);
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
