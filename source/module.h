// The module that holds the source's code and resources: the DLL, or a test program that links
// the same code statically.
//
// Its lifetime. A Source Manager may unload the source as soon as MSG_CLOSEDS returns, and an
// application may send MSG_CLOSEDS from inside one of the source's own message loops (a modal
// dialog, a message box, the listing's wait for the camera): the code of that loop is still on the
// stack, and would return into an unmapped image. A manager may also unload an enabled source
// without closing it, and its windows would outlive their window procedure. So:
// - every entry into the module from outside (DS_Entry, the dialogs' window procedure) is
//   counted while it runs (ModuleCall);
// - while the source has windows (MSG_ENABLEDS until MSG_CLOSEDS) it holds a reference on its
//   own module, so that no FreeLibrary of the manager can unload it under them;
// - MSG_CLOSEDS gives that reference back only when it is the one call of ours running, and
//   not itself: the manager may already have freed its own reference (and still sends
//   MSG_DISABLEDS and MSG_CLOSEDS through the entry point it had), so ours may be the last,
//   and the close still has to return through our code. A thread of ours takes the reference
//   over and frees it with FreeLibraryAndExitThread once no call of ours runs, and a moment
//   later (the entry's last instructions run after its ModuleCall has ended). Calls that begin
//   meanwhile come from a manager that loaded the source again and holds its own reference. A close made inside
//   one of our loops keeps the reference: the image stays mapped (with nothing of ours running
//   once the loop has unwound) until a later MSG_CLOSEDS from outside our loops gives it back,
//   or the process ends.
// - A manager that unloads a source with windows and loads it again finds it loaded still,
//   and nothing tells that apart from a source never unloaded: the session it lost ends when
//   the same application opens the source again (control_operations.cpp).
#pragma once

#include <windows.h>

HINSTANCE moduleInstance();

// Counts one entry into the module for as long as it runs.
class ModuleCall {
public:
    ModuleCall();
    ~ModuleCall();
    ModuleCall(const ModuleCall&) = delete;
    ModuleCall& operator=(const ModuleCall&) = delete;
};

// Entries into the module running now, on any thread.
long moduleCallsRunning();

// Takes the source's reference on its own module, once; false when it could not.
bool holdModule();
// Gives the reference back, through a thread of ours, when the caller is the only entry of ours
// running (see above); true when it was handed over or none was held.
bool releaseModuleHold();

// A thread of ours that may outlive every other reference on the module (work handed over at
// a close, the return of the source's own reference): it runs on a reference of its own, so
// that an unload waits for it instead of unmapping its code, and gives that reference back as
// its very last act. False, and nothing started, when either could not be had.
bool startModuleThread(LPTHREAD_START_ROUTINE start, void* parameter);
// Ends such a thread: gives its reference back and exits without returning into the image.
[[noreturn]] void exitModuleThread();
