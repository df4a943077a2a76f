// A library holding the picture cache as the source does (picture_cache_test loads it): its
// DllMain frees the cache on an unload only, as the source's does. A handler registered before
// the cache is first used runs after whatever the library's runtime destroys at its detach, and
// writes down how much of the runtime's heap was in use then.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/ui/runtime_heap.h"
#include "ui/picture_cache.h"

namespace {

char report[MAX_PATH];
size_t filled = 0;

void atDetach() {
    if (!report[0]) return;
    HANDLE f = CreateFileA(report, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    char line[96];
    const int n = std::snprintf(line, sizeof line, "%zu %zu\n", filled, runtimeHeapBytesInUse());
    DWORD written = 0;
    WriteFile(f, line, static_cast<DWORD>(n), &written, nullptr);
    CloseHandle(f);
}

}  // namespace

// Puts thumbnails of about `bytes` in all into the cache; returns the runtime heap's bytes in use
// after. With a report file, atDetach writes "bytes-in-use-after-filling bytes-in-use-at-detach"
// there when the library is detached.
extern "C" __declspec(dllexport) size_t probeFill(size_t bytes, const char* reportFile) {
    if (reportFile) {
        lstrcpynA(report, reportFile, MAX_PATH);
        std::atexit(atDetach);  // before the cache is first used: runs after it is destroyed
    }
    const std::vector<uint8_t> thumb(20000, 0x5A);
    for (uint16_t n = 0; size_t{n} * thumb.size() < bytes; ++n) {
        PictureKey key;
        key.number = n;
        key.info.assign(40, static_cast<uint8_t>(n));
        pictureCache().putThumbnail(key, thumb.data(), thumb.size());
    }
    filled = runtimeHeapBytesInUse();
    return filled;
}

// Saves one thumbnail to file with the library's cache; returns what save() returned.
extern "C" __declspec(dllexport) bool probeSave(const char* file) {
    const uint8_t thumb[] = {1, 2, 3};
    PictureKey key;
    key.info.assign(8, 0x11);
    pictureCache().setFile(file);
    pictureCache().putThumbnail(key, thumb, sizeof thumb);
    return pictureCache().save();
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && !reserved) releasePictureCache();
    return TRUE;
}
