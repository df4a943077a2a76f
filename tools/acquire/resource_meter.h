// ResourceMeter: what this process holds right now - memory, kernel handles, GDI and USER
// objects, heap blocks - so that a run of many sessions can show whether anything grows.
//
// Under Wine some counters are not kept (GetGuiResources answers 0); the GDI object count then
// comes from the process's shared GDI handle table, and `gdiSource` says which was used.
#pragma once

#include <cstddef>
#include <string>

struct ResourceSample {
    size_t workingSetKiB = 0;
    size_t privateKiB = 0;       // private bytes (page-file usage)
    unsigned long handles = 0;   // kernel handles
    unsigned long threads = 0;
    unsigned long gdiObjects = 0;
    unsigned long userObjects = 0;
    size_t heapBlocks = 0;       // busy blocks of the process heap (GlobalAlloc memory lives there)
    size_t heapKiB = 0;          // their total size
    std::string gdiSource;       // "GetGuiResources" or "handle table"
};

ResourceSample sampleResources();

// "working set 12345 KiB, private 6789 KiB, handles 40, GDI 55 (GetGuiResources), USER 12,
//  heap 1234 blocks / 567 KiB"
std::string describeSample(const ResourceSample& sample);
