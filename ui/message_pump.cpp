#include "ui/message_pump.h"

#include "ui/dialog_window.h"

namespace {

// Messages whose time tells nothing (a zero time) are bounded by a count instead.
constexpr int maxMessagesPerRound = 1000;

}  // namespace

bool MessagePump::run(const DialogWindow* dialog) {
    const DWORD began = GetTickCount();
    MSG msg;
    for (int handled = 0; handled < maxMessagesPerRound && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++handled) {
        if (msg.message == WM_QUIT) {
            quit = true;
            quitCode = static_cast<int>(msg.wParam);
            break;
        }
        if (!dialog || !dialog->alive() || !IsDialogMessageA(dialog->hwnd(), &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        // Posted after the round began, or made then (timer and paint messages are made when
        // they are taken): the rest waits for the next round.
        if (static_cast<LONG>(msg.time - began) > 0) break;
    }
    return quit;
}

bool MessagePump::waitAndRun(HANDLE wake, DWORD waitMs, const DialogWindow* dialog) {
    MsgWaitForMultipleObjectsEx(wake ? 1 : 0, wake ? &wake : nullptr, waitMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    return run(dialog);
}

void MessagePump::repostQuit() {
    if (quit) PostQuitMessage(quitCode);
    quit = false;
}
