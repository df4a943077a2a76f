// Bytes in use in the C runtime's heap (which a DLL linked to the same runtime shares): how the
// picture cache tests see whether the cache's memory was given back.
#pragma once

#include <windows.h>
#include <malloc.h>

#include <cstddef>

inline size_t runtimeHeapBytesInUse() {
    HANDLE heap = reinterpret_cast<HANDLE>(_get_heap_handle());
    size_t bytes = 0;
    if (!HeapLock(heap)) return 0;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heap, &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) bytes += entry.cbData;
    HeapUnlock(heap);
    return bytes;
}
