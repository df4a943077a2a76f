// The source's only export, DS_Entry, and the library's start-up and shutdown.
#include <new>

#include "source/module.h"
#include "source/source_session.h"
#include "ui/camera_dialog.h"
#include "ui/picture_cache.h"

extern "C" TW_UINT16 TW_CALLINGSTYLE DS_Entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                               TW_MEMREF data) {
    ModuleCall running;
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
        // Under the loader lock, and perhaps on a thread other than the application's: only
        // memory is given back here. The camera reset, the profile save and the windows belong
        // to MSG_CLOSEDS (or to the last handler returning after it); while the source has
        // windows it holds its own module, so a plain FreeLibrary cannot get here before. At
        // process exit (reserved non-null) the windows, port and memory go with the process,
        // and nothing another thread may have been changing is touched.
        CameraDialog::processEnding = true;
        if (!reserved) {
            releaseSession();
            releasePictureCache();
        }
        break;
    default:
        break;
    }
    return TRUE;
}
