#include "tools/acquire/console_text.h"
#include "tools/acquire/cycle_runner.h"

#include <cstdio>

#include <windows.h>

#include "tools/acquire/acquire_app.h"
#include "tools/acquire/resource_meter.h"

namespace {
long long delta(size_t later, size_t earlier) {
    return static_cast<long long>(later) - static_cast<long long>(earlier);
}

void printGrowth(const char* what, const ResourceSample& from, const ResourceSample& to) {
    say("Growth %s: working set %+lld KiB, private %+lld KiB, handles %+lld, threads %+lld, GDI %+lld, "
        "USER %+lld, heap %+lld blocks / %+lld KiB\n",
        what, delta(to.workingSetKiB, from.workingSetKiB), delta(to.privateKiB, from.privateKiB),
        delta(to.handles, from.handles), delta(to.threads, from.threads), delta(to.gdiObjects, from.gdiObjects),
        delta(to.userObjects, from.userObjects), delta(to.heapBlocks, from.heapBlocks),
        delta(to.heapKiB, from.heapKiB));
}

}  // namespace

int runCycles(const AcquireOptions& options) {
    // An application loads the Source Manager once; keeping it loaded here means each cycle's
    // own load and release of it leaves it in place, and what grows belongs to the sessions.
    HMODULE manager = LoadLibraryA(options.manager.empty() ? defaultManager() : options.manager.c_str());
    ResourceSample start = sampleResources();
    say("Resources at start: %s\n", describeSample(start).c_str());
    ResourceSample afterFirst;
    int result = 0;
    int done = 0;
    DWORD began = GetTickCount();
    for (int cycle = 1; cycle <= options.cycles; ++cycle) {
        int status;
        // A close made inside the previous session's loops quit it with WM_QUIT, which may be
        // still queued when our own loop ended first.
        MSG quit;
        while (PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
        {
            AcquireApp app(options);
            status = app.run();
        }
        say("Cycle %d: exit status %d\n", cycle, status);
        // A rude act ends its session without a picture; the next cycle opens the source again.
        const bool rudeEnd = options.rude != RudeAct::None && status == ExitNoPicture;
        if (status != ExitPicture && !rudeEnd) {
            result = status;
            break;
        }
        done = cycle;
        if (cycle == 1) {
            afterFirst = sampleResources();
            say("Resources after cycle 1: %s\n", describeSample(afterFirst).c_str());
        }
    }
    ResourceSample end = sampleResources();
    say("Resources at end: %s\n", describeSample(end).c_str());
    say("Cycles completed: %d of %d in %.1f s\n", done, options.cycles, (GetTickCount() - began) / 1000.0);
    printGrowth("from start to end", start, end);
    if (done >= 1)
        printGrowth("from cycle 1 to the end", afterFirst, end);
    if (manager)
        FreeLibrary(manager);
    return result;
}
