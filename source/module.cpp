#include "source/module.h"

namespace {

volatile LONG callsRunning = 0;
bool held = false;

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
    held = false;
    FreeLibrary(moduleInstance());
    return true;
}
