// The source's only export, DS_Entry, and the library's start-up and shutdown.
#include <new>

#include "source/source_session.h"

extern "C" TW_UINT16 TW_CALLINGSTYLE DS_Entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                               TW_MEMREF data) {
    TripletCall call{origin, dg, dat, msg, data};
    return theSession().dispatch(call);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(instance);
        theSession();  // constructed in state 3 and started while the library loads
        break;
    case DLL_PROCESS_DETACH:
        // Also when the application exits without closing the source (reserved non-null): the
        // dialog's teardown puts the camera back to its start-up rate and saves the settings.
        // The source runs no threads of its own, and the system libraries it uses are still
        // attached, since they were loaded before it.
        (void)reserved;
        releaseSession();
        break;
    default:
        break;
    }
    return TRUE;
}
