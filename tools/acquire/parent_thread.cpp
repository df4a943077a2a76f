#include "tools/acquire/parent_thread.h"

namespace {

constexpr DWORD startMs = 10000;
constexpr DWORD stopMs = 10000;

}  // namespace

ParentThread::~ParentThread() {
    if (thread) {
        // The window goes with its thread's loop; a thread that does not stop in time is left
        // to the process's exit rather than waited for without end.
        PostThreadMessageA(threadId, WM_QUIT, 0, 0);
        WaitForSingleObject(thread, stopMs);
        CloseHandle(thread);
    }
    if (ready)
        CloseHandle(ready);
}

bool ParentThread::start() {
    ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!ready)
        return false;
    thread = CreateThread(nullptr, 0, run, this, 0, &threadId);
    if (!thread)
        return false;
    return WaitForSingleObject(ready, startMs) == WAIT_OBJECT_0 && hwnd != nullptr;
}

DWORD WINAPI ParentThread::run(void* self) {
    auto& parent = *static_cast<ParentThread*>(self);
    HWND window = CreateWindowA("STATIC", "acquire parent", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 200,
                                100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before anyone posts to it
    parent.hwnd = window;
    SetEvent(parent.ready);
    if (!window)
        return 1;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    DestroyWindow(window);
    return 0;
}
