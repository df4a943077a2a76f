// The source's only export, DS_Entry, and the library's start-up and shutdown.
#include <new>

#include "source/source_session.h"
#include "ui/camera_dialog.h"
#include "ui/picture_cache.h"

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
        // The process is ending (reserved non-null): its windows, port and memory go with it,
        // and no window, serial or registry work may run under the loader lock now. The camera
        // reset and the profile save belong to MSG_CLOSEDS, which such an application skipped.
        if (reserved) {
            CameraDialog::processEnding = true;
            break;
        }
        // Unloaded with the source still open: the dialog's teardown puts the camera back to
        // its start-up rate and saves the settings.
        releaseSession();
        releasePictureCache();
        break;
    default:
        break;
    }
    return TRUE;
}
