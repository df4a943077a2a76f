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
        // On FreeLibrary the dialog and the picture go with the session. When the process is
        // exiting (reserved non-null) other threads are gone and windows may be half torn
        // down: the system reclaims everything, so nothing is touched.
        if (!reserved) releaseSession();
        break;
    default:
        break;
    }
    return TRUE;
}
