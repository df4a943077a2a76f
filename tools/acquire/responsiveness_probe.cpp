#include "tools/acquire/responsiveness_probe.h"

namespace {

// Longer than any stop of the source may take: a send that runs into it counts in full.
constexpr UINT sendTimeoutMs = 120000;
constexpr DWORD intervalMs = 50;

}  // namespace

ResponsivenessProbe::~ResponsivenessProbe() {
    stop();
}

bool ResponsivenessProbe::start() {
    if (thread)
        return true;
    target = CreateWindowExA(0, "STATIC", "probe", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr),
                             nullptr);
    if (!target)
        return false;
    quit = 0;
    longest = 0;
    longestAt = 0;
    startedAt = GetTickCount();
    thread = CreateThread(nullptr, 0, threadMain, this, 0, nullptr);
    return thread != nullptr;
}

DWORD ResponsivenessProbe::stop() {
    if (thread) {
        InterlockedExchange(&quit, 1);
        // The probe may be inside a send to this thread: answer it while waiting.
        while (MsgWaitForMultipleObjects(1, &thread, FALSE, sendTimeoutMs + 5000, QS_SENDMESSAGE) ==
               WAIT_OBJECT_0 + 1) {
            MSG msg;
            PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        CloseHandle(thread);
        thread = nullptr;
    }
    if (target) {
        DestroyWindow(target);
        target = nullptr;
    }
    return static_cast<DWORD>(longest);
}

DWORD WINAPI ResponsivenessProbe::threadMain(LPVOID self) {
    auto* probe = static_cast<ResponsivenessProbe*>(self);
    while (!probe->quit) {
        const DWORD sentAt = GetTickCount();
        DWORD_PTR answer = 0;
        SendMessageTimeoutA(probe->target, WM_NULL, 0, 0, SMTO_NORMAL, sendTimeoutMs, &answer);
        const LONG took = static_cast<LONG>(GetTickCount() - sentAt);
        if (took > probe->longest) {
            InterlockedExchange(&probe->longest, took);
            InterlockedExchange(&probe->longestAt, static_cast<LONG>(sentAt - probe->startedAt));
        }
        Sleep(intervalMs);
    }
    return 0;
}
