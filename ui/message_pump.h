// MessagePump: what a loop of the source that waits on something other than the user (a
// listing, its stop) does between two looks at what it waits for.
//
// The source runs on the application's thread, so the application's messages must keep being
// answered meanwhile; but the loop must also get back to its own condition. One round handles
// the messages that were queued when it began and at most one that came after: an application
// timer whose handler outlasts its period, or a thread that keeps posting, cannot keep the loop
// from looking again.
//
// WM_QUIT: taken out and kept, and the round ends; the loop's owner reads quitSeen() and winds
// up. Posted again at once it would end every wait of the loop straight away, so it is posted
// again (once, with its code) by repostQuit() or the destructor, when the loop is over.
#pragma once

#include <windows.h>

class DialogWindow;

class MessagePump {
public:
    MessagePump() = default;
    ~MessagePump() { repostQuit(); }
    MessagePump(const MessagePump&) = delete;
    MessagePump& operator=(const MessagePump&) = delete;

    // One round. Messages go through dialog's dialog navigation while it is alive (dialog may
    // be null). True once a WM_QUIT has been seen, in this round or an earlier one.
    bool run(const DialogWindow* dialog);
    // Waits up to waitMs for wake (may be null) to be signalled or a message to come, then
    // runs one round.
    bool waitAndRun(HANDLE wake, DWORD waitMs, const DialogWindow* dialog);

    bool quitSeen() const { return quit; }
    void repostQuit();

private:
    bool quit = false;
    int quitCode = 0;
};
