#include "tools/acquire/sent_ticker.h"

SentTicker::~SentTicker() {
    stop();
}

bool SentTicker::start(HWND window, UINT tick, DWORD periodMs) {
    stop();
    target = window;
    message = tick;
    period = periodMs;
    outstanding = false;
    stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!stopEvent)
        return false;
    thread = CreateThread(nullptr, 0, run, this, 0, nullptr);
    if (!thread) {
        CloseHandle(stopEvent);
        stopEvent = nullptr;
    }
    return thread != nullptr;
}

void SentTicker::stop() {
    if (!thread)
        return;
    SetEvent(stopEvent);
    // SendNotifyMessage never waits for the receiver, so the thread ends at once.
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    CloseHandle(stopEvent);
    thread = stopEvent = nullptr;
}

DWORD WINAPI SentTicker::run(LPVOID self) {
    auto* ticker = static_cast<SentTicker*>(self);
    while (WaitForSingleObject(ticker->stopEvent, ticker->period) == WAIT_TIMEOUT) {
        if (ticker->outstanding.exchange(true))
            continue;  // the last tick is still on its way (the receiver is busy)
        if (!SendNotifyMessageA(ticker->target, ticker->message, 0, 0))
            ticker->outstanding = false;
    }
    return 0;
}
