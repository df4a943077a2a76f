#include "tools/dsm/other_manager.h"

DSMENTRYPROC otherManagerEntry() {
    HMODULE other = GetModuleHandleA("TWAINDSM.DLL");
    if (!other)
        return nullptr;
    // A copy of this library under that name must not call itself for ever.
    HMODULE self = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&otherManagerEntry), &self) &&
        self == other)
        return nullptr;
    return reinterpret_cast<DSMENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(other, "DSM_Entry")));
}
