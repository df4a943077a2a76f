// ProgressWatch: notices from a second thread that the source's progress window is up.
//
// During a download the source blocks our thread and looks only at its progress window's
// Cancel clicks, so no timer of ours runs; an application that wants to close the source then
// can only ask for it, and the request is handled once the source lets go of the thread. This
// watcher plays that request: it polls the windows of the application's thread and sets its
// flag when a visible window with the progress bar appears.
#pragma once

#include <atomic>

#include <windows.h>

class ProgressWatch {
public:
    explicit ProgressWatch(DWORD threadId);
    ~ProgressWatch();
    ProgressWatch(const ProgressWatch&) = delete;
    ProgressWatch& operator=(const ProgressWatch&) = delete;

    bool seen() const { return progressSeen.load(); }

private:
    static DWORD WINAPI threadMain(LPVOID self);
    void poll();

    DWORD watchedThread;
    HANDLE thread = nullptr;
    std::atomic<bool> progressSeen{false};
    std::atomic<bool> stopping{false};
};
