#include "tools/acquire/resource_meter.h"

#include <cstdio>

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

namespace {

// One entry of the GDI handle table that the process environment block points to (offset 0x94
// on 32-bit Windows); Wine keeps it as 24-byte entries. A non-zero type marks a live object.
struct GdiTableEntry {
    unsigned long long object;
    unsigned long owner;
    unsigned short unique;
    unsigned char type;
    unsigned char flags;
    unsigned long long userPointer;
};
static_assert(sizeof(GdiTableEntry) == 24, "GDI handle table entry layout");
constexpr size_t gdiTableEntries = 0x10000;
constexpr size_t pebGdiTableOffset = 0x94;

const void* gdiHandleTable() {
    const unsigned char* peb = nullptr;
#if defined(__i386__)
    __asm__("movl %%fs:0x30, %0" : "=r"(peb));
#endif
    if (!peb)
        return nullptr;
    return *reinterpret_cast<const void* const*>(peb + pebGdiTableOffset);
}

unsigned long countGdiTable() {
    const auto* table = static_cast<const GdiTableEntry*>(gdiHandleTable());
    if (!table)
        return 0;
    // The table is committed in one piece; stop where it is not readable.
    MEMORY_BASIC_INFORMATION info{};
    if (!VirtualQuery(table, &info, sizeof info) || info.State != MEM_COMMIT)
        return 0;
    size_t readable = (static_cast<const char*>(info.BaseAddress) + info.RegionSize) -
                      reinterpret_cast<const char*>(table);
    size_t entries = readable / sizeof(GdiTableEntry);
    if (entries > gdiTableEntries)
        entries = gdiTableEntries;
    unsigned long count = 0;
    for (size_t i = 0; i < entries; ++i)
        if (table[i].type != 0)
            ++count;
    return count;
}

void walkHeap(ResourceSample& sample) {
    HANDLE heap = GetProcessHeap();
    if (!HeapLock(heap))
        return;
    PROCESS_HEAP_ENTRY entry{};
    size_t bytes = 0;
    while (HeapWalk(heap, &entry)) {
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
            ++sample.heapBlocks;
            bytes += entry.cbData;
        }
    }
    HeapUnlock(heap);
    sample.heapKiB = bytes / 1024;
}

unsigned long countThreads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    unsigned long count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    CloseHandle(snapshot);
    return count;
}

}  // namespace

ResourceSample sampleResources() {
    ResourceSample sample;
    HANDLE self = GetCurrentProcess();
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(self, &memory, sizeof memory)) {
        sample.workingSetKiB = memory.WorkingSetSize / 1024;
        sample.privateKiB = memory.PagefileUsage / 1024;
    }
    DWORD handles = 0;
    if (GetProcessHandleCount(self, &handles))
        sample.handles = handles;
    sample.threads = countThreads();
    sample.gdiObjects = GetGuiResources(self, GR_GDIOBJECTS);
    sample.userObjects = GetGuiResources(self, GR_USEROBJECTS);
    sample.gdiSource = "GetGuiResources";
    if (sample.gdiObjects == 0) {
        sample.gdiObjects = countGdiTable();
        sample.gdiSource = "handle table";
    }
    walkHeap(sample);
    return sample;
}

std::string describeSample(const ResourceSample& s) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "working set %zu KiB, private %zu KiB, handles %lu, threads %lu, GDI %lu (%s), USER %lu, "
                  "heap %zu blocks / %zu KiB",
                  s.workingSetKiB, s.privateKiB, s.handles, s.threads, s.gdiObjects, s.gdiSource.c_str(), s.userObjects,
                  s.heapBlocks, s.heapKiB);
    return text;
}
