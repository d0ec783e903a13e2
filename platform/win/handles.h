// The process's table of kernel-object handles. Every open device or file is an object
// behind a small integer handle; handle value 0 and INVALID_HANDLE_VALUE are never live.
#pragma once

#include <memory>
#include <typeinfo>

#include "platform/win/win_types.h"

class KernelObject {
public:
    virtual ~KernelObject() = default;
    KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;
};

// Adds an object to the table and returns its new handle.
HANDLE RegisterHandle(std::shared_ptr<KernelObject> object);

// The object behind a handle, or null (last error ERROR_INVALID_HANDLE) when the handle
// is not live. The shared pointer keeps the object alive for the caller's call even when
// another thread closes the handle meanwhile.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
    std::shared_ptr<KernelObject> object = LookupHandle(handle);
    if (!object) return nullptr;
    // Asked at every report: the exact type is told by one comparison, a cast searches.
    KernelObject& kernelObject = *object;
    T* typed = typeid(kernelObject) == typeid(T) ? static_cast<T*>(&kernelObject) : dynamic_cast<T*>(&kernelObject);
    return typed ? std::shared_ptr<T>(std::move(object), typed) : nullptr;  // no second count taken
}

// Closes a handle. 0 and INVALID_HANDLE_VALUE are not handles: FALSE, ERROR_INVALID_HANDLE.
BOOL CloseHandle(HANDLE handle);

// Number of live handles, for leak checks in tests.
std::size_t LiveHandleCount();
