#include "source/module.h"

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
