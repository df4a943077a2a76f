// ResponsivenessProbe: how long the application's thread goes without answering.
//
// start() makes a message-only window on the calling thread and a second thread that sends it
// WM_NULL every 50 ms (SendMessageTimeout, as other programs and the shell do) and keeps the
// longest time one took to be answered. A source that waits on our thread without handling
// its messages shows up here; stop() ends the probe and returns that longest time.
#pragma once

#include <windows.h>

class ResponsivenessProbe {
public:
    ResponsivenessProbe() = default;
    ~ResponsivenessProbe();
    ResponsivenessProbe(const ResponsivenessProbe&) = delete;
    ResponsivenessProbe& operator=(const ResponsivenessProbe&) = delete;

    bool start();
    bool running() const { return thread != nullptr; }
    // Milliseconds; waits for the probe's last send (bounded by its time-out).
    DWORD stop();
    // When the longest wait began, in milliseconds after start().
    DWORD longestAfterStart() const { return static_cast<DWORD>(longestAt); }

private:
    static DWORD WINAPI threadMain(LPVOID self);

    HWND target = nullptr;
    HANDLE thread = nullptr;
    volatile LONG quit = 0;
    volatile LONG longest = 0;
    volatile LONG longestAt = 0;
    DWORD startedAt = 0;
};
