#include "source/module.h"

namespace {

volatile LONG callsRunning = 0;
bool held = false;

// How the releasing thread waits for the call that handed it the reference to be gone: it
// polls until no call of ours runs (calls begun later come from a caller that holds a
// reference of its own: a manager that loaded the source again), then leaves the entry's last
// instructions, after its ModuleCall, a moment to run. After maxPolls it gives up.
constexpr DWORD pollInterval = 10;
constexpr int maxPolls = 12000;  // two minutes
constexpr DWORD epilogueGrace = 50;

DWORD WINAPI releaseWhenQuiet(LPVOID) {
    for (int poll = 0; moduleCallsRunning() != 0; ++poll) {
        // Given up: the reference stays, and so does the image - never freed under a caller.
        if (poll == maxPolls) ExitThread(0);
        Sleep(pollInterval);
    }
    Sleep(epilogueGrace);
    exitModuleThread();
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

bool startModuleThread(LPTHREAD_START_ROUTINE start, void* parameter) {
    HMODULE self = nullptr;
    // Without GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT: the thread's own reference.
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&startModuleThread),
                            &self))
        return false;
    HANDLE thread = CreateThread(nullptr, 0, start, parameter, 0, nullptr);
    if (!thread) {
        FreeLibrary(self);
        return false;
    }
    CloseHandle(thread);
    return true;
}

void exitModuleThread() {
    // Does not return: the image may be gone once the reference is.
    FreeLibraryAndExitThread(moduleInstance(), 0);
}
