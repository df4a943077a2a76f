#include "tools/acquire/console_text.h"
#include "tools/acquire/progress_watch.h"

#include <cstdio>

#include "resources/resource_ids.h"

namespace {

constexpr DWORD pollMs = 10;

BOOL CALLBACK findProgress(HWND hwnd, LPARAM found) {
    if (IsWindowVisible(hwnd) && GetDlgItem(hwnd, IDC_PROGRESS_BAR)) {
        *reinterpret_cast<bool*>(found) = true;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

ProgressWatch::ProgressWatch(DWORD threadId) : watchedThread(threadId) {
    thread = CreateThread(nullptr, 0, threadMain, this, 0, nullptr);
}

ProgressWatch::~ProgressWatch() {
    stopping = true;
    if (thread) {
        WaitForSingleObject(thread, INFINITE);  // ends within one poll interval
        CloseHandle(thread);
    }
}

DWORD WINAPI ProgressWatch::threadMain(LPVOID self) {
    static_cast<ProgressWatch*>(self)->poll();
    return 0;
}

void ProgressWatch::poll() {
    while (!stopping) {
        bool found = false;
        EnumThreadWindows(watchedThread, findProgress, reinterpret_cast<LPARAM>(&found));
        if (found) {
            say("Closing the source during the download\n");
            progressSeen = true;
            return;
        }
        Sleep(pollMs);
    }
}
