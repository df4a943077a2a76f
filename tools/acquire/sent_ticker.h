// SentTicker: ticks a window of another thread with sent messages, from a thread of its own.
//
// A sent message runs the window procedure inside the receiving thread's GetMessage (or any
// other message retrieval) without making it return, so these ticks never wake that thread's
// message loop, as a timer or a posted message would: for --callback-lazy, whose loop nothing
// of ours may feed. At most one tick is on its way at a time.
#pragma once

#include <atomic>

#include <windows.h>

class SentTicker {
public:
    SentTicker() = default;
    ~SentTicker();
    SentTicker(const SentTicker&) = delete;
    SentTicker& operator=(const SentTicker&) = delete;

    bool start(HWND target, UINT message, DWORD periodMs);
    void stop();
    // The receiver has handled a tick: the next one may go.
    void handled() { outstanding = false; }

private:
    static DWORD WINAPI run(LPVOID self);

    HWND target = nullptr;
    UINT message = 0;
    DWORD period = 100;
    HANDLE thread = nullptr;
    HANDLE stopEvent = nullptr;
    std::atomic<bool> outstanding{false};
};
