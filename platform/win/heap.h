// Process heap, as the dispatcher's allocating codes use it. Blocks handed out here
// belong to the caller and go back with HeapFree.
#pragma once

#include "platform/win/win_types.h"

inline constexpr DWORD HEAP_ZERO_MEMORY = 0x00000008u;

HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);

namespace heap_testing {
// Makes the allocation after `skip` successful ones fail (once); -1 disarms.
void FailAllocationAfter(int skip);
}
