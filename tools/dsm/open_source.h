// OpenSource: one source that an application has opened through the manager - its library,
// its entry point, the identity (with the Id the manager assigned) and the notifications the
// source sent that the application has not yet received.
#pragma once

#include <deque>
#include <string>

#include "source/twain.h"

class OpenSource {
public:
    OpenSource() = default;
    ~OpenSource();
    OpenSource(const OpenSource&) = delete;
    OpenSource& operator=(const OpenSource&) = delete;

    // Loads the library and finds DS_Entry. False (and nothing held) when either fails.
    bool load(const std::string& path);

    // Calls the source's DS_Entry. While a call runs the source may not be closed: its modal
    // loops can hand control back to the application, which might try.
    TW_UINT16 call(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
    bool busy() const { return callDepth > 0; }
    // Unloads the library now, running calls or not (test-only: a manager that frees the source
    // as soon as MSG_CLOSEDS returns). Nothing more may be called.
    void unload();
    // Frees the library but goes on calling the entry point found (test-only: a manager that
    // unloads an enabled source and then disables and closes it; the source's own reference
    // keeps it mapped meanwhile). Once only; unload() then has nothing left to free.
    void freeLibraryKeepingEntry();

    // The source's own condition code (DAT_STATUS MSG_GET), TWCC_BUMMER when it will not say.
    TW_UINT16 askStatus(pTW_IDENTITY origin);

    // Notifications (MSG_XFERREADY, MSG_CLOSEDSREQ, MSG_CLOSEDSOK) in the order sent. The
    // queue is bounded: a source that keeps notifying an application that never asks loses
    // its oldest notifications rather than growing without end.
    void queueNotification(TW_UINT16 msg);
    bool takeNotification(TW_UINT16& msg);
    size_t pendingCount() const { return pending.size(); }

    TW_IDENTITY identity{};
#ifdef _WIN64
    // The application's DAT_CALLBACK2 registration for this source; notifications go to
    // callback.CallBackProc when it is set.
    TW_CALLBACK2 callback{};
#endif

private:
    static constexpr size_t maxPending = 16;

    HMODULE module = nullptr;
    DSENTRYPROC entry = nullptr;
    int callDepth = 0;
    std::deque<TW_UINT16> pending;
};
