// ParentThread: a top-level window that lives on a thread of its own and pumps its messages
// there, as a console application's console window belongs to someone else. acquire.exe
// --parent thread hands it to the Source Manager and the source as the application's window,
// while its own message loop keeps running on the main thread.
#pragma once

#include <windows.h>

class ParentThread {
public:
    ParentThread() = default;
    ~ParentThread();
    ParentThread(const ParentThread&) = delete;
    ParentThread& operator=(const ParentThread&) = delete;

    // Starts the thread and waits (at most a few seconds) for its window. False when either
    // cannot be made.
    bool start();
    HWND window() const { return hwnd; }

private:
    static DWORD WINAPI run(void* self);

    HANDLE thread = nullptr;
    HANDLE ready = nullptr;
    DWORD threadId = 0;
    HWND hwnd = nullptr;
};
