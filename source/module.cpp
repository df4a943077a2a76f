#include "source/module.h"

namespace {

volatile LONG callsRunning = 0;
// Entries made so far: a quiet spell is one in which this does not move.
volatile LONG callsMade = 0;
bool held = false;

// How the releasing thread waits for our callers to be gone: polls of quietPoll ms, until
// quietPolls in a row saw no call running and none begun; after maxPolls it gives up.
constexpr DWORD quietPoll = 20;
constexpr int quietPolls = 5;
constexpr int maxPolls = 6000;  // two minutes

DWORD WINAPI releaseWhenQuiet(LPVOID) {
    int quiet = 0;
    LONG made = InterlockedCompareExchange(&callsMade, 0, 0);
    for (int poll = 0; poll < maxPolls && quiet < quietPolls; ++poll) {
        Sleep(quietPoll);
        const LONG now = InterlockedCompareExchange(&callsMade, 0, 0);
        quiet = now == made && moduleCallsRunning() == 0 ? quiet + 1 : 0;
        made = now;
    }
    // Given up: the reference stays, and so does the image - never freed under a caller.
    if (quiet < quietPolls) ExitThread(0);
    // Does not return here: the image may be gone once the reference is.
    FreeLibraryAndExitThread(moduleInstance(), 0);
}

}  // namespace

HINSTANCE moduleInstance() {
    static HMODULE module = nullptr;
    if (!module) {
        // Ask which module contains this very function: correct whether we are the DLL or
        // linked into a test executable.
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&moduleInstance), &module);
    }
    return module;
}

ModuleCall::ModuleCall() {
    InterlockedIncrement(&callsMade);
    InterlockedIncrement(&callsRunning);
}

ModuleCall::~ModuleCall() {
    InterlockedDecrement(&callsRunning);
}

long moduleCallsRunning() {
    return InterlockedCompareExchange(&callsRunning, 0, 0);
}

bool holdModule() {
    if (held) return true;
    HMODULE self = nullptr;
    // Without GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT: a reference, as LoadLibrary takes.
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&holdModule), &self))
        return false;
    held = true;
    return true;
}

bool releaseModuleHold() {
    if (!held) return true;
    if (moduleCallsRunning() > 1) return false;
    // An executable is never unmapped while it runs: its reference can go here and now.
    if (moduleInstance() == GetModuleHandleA(nullptr)) {
        held = false;
        FreeLibrary(moduleInstance());
        return true;
    }
    // Ours may be the last reference (the manager freed its own while the source had windows),
    // and the caller returns through our code: a thread of ours gives it back once nothing of
    // ours runs. Without that thread the reference stays, and the image with it.
    HANDLE thread = CreateThread(nullptr, 0, releaseWhenQuiet, nullptr, 0, nullptr);
    if (!thread) return false;
    CloseHandle(thread);
    held = false;
    return true;
}
