// TWAIN_32.DLL's only export.
#include "tools/dsm/source_manager.h"

extern "C" TW_UINT16 TW_CALLINGSTYLE DSM_Entry(pTW_IDENTITY origin, pTW_IDENTITY dest,
                                                                     TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                                                     TW_MEMREF data) {
    return SourceManager::instance().entry(origin, dest, dg, dat, msg, data);
}
