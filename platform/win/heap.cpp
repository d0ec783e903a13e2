#include "platform/win/heap.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/win/win_error.h"

namespace {
std::atomic<int> failCountdown{-1};
int processHeapToken;
}

HANDLE GetProcessHeap() { return &processHeapToken; }

LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    if (heap != GetProcessHeap()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    int countdown = failCountdown.load();
    while (countdown >= 0) {
        if (failCountdown.compare_exchange_weak(countdown, countdown - 1)) {
            if (countdown == 0) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return nullptr;
            }
            break;
        }
    }
    // malloc(0) may return null; a zero-byte block is still a block.
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if ((flags & HEAP_ZERO_MEMORY) != 0) std::memset(block, 0, bytes);
    return block;
}

BOOL HeapFree(HANDLE heap, DWORD, LPVOID block) {
    if (heap != GetProcessHeap()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::free(block);
    return TRUE;
}

void heap_testing::FailAllocationAfter(int skip) { failCountdown.store(skip); }
