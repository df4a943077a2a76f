// The source's only export. Placeholder until the session lands.
#include "source/twain.h"

extern "C" TW_UINT16 TW_CALLINGSTYLE DS_Entry(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF) {
    return TWRC_FAILURE;
}
