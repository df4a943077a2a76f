// A stand-in for the Source Manager that records every DSM_Entry call into the shared
// DsmCallLog (when a test has created it) and answers TWRC_SUCCESS. It keeps no state of its
// own, since the source loads and frees it for each notification.
#include "tests/source/dsm_recorder.h"

extern "C" TW_UINT16 TW_CALLINGSTYLE DSM_Entry(pTW_IDENTITY origin, pTW_IDENTITY destination, TW_UINT32 dg,
                                                TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    char name[64];
    dsmCallLogName(name);
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name);
    if (!mapping) return TWRC_SUCCESS;
    auto* log = static_cast<DsmCallLog*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(DsmCallLog)));
    if (log) {
        const LONG n = log->count++;
        if (n >= 0 && n < LONG(sizeof log->records / sizeof log->records[0])) {
            DsmCallRecord& r = log->records[n];
            r.originPointer = reinterpret_cast<uintptr_t>(origin);
            r.destinationPointer = reinterpret_cast<uintptr_t>(destination);
            if (origin) r.origin = *origin;
            if (destination) r.destination = *destination;
            r.dg = dg;
            r.dat = dat;
            r.msg = msg;
            r.dataWasNull = data == nullptr;
        }
    }
    const DsmCallback callback = log ? log->callback : nullptr;
    if (log) UnmapViewOfFile(log);
    CloseHandle(mapping);
    if (callback) callback(msg);
    return TWRC_SUCCESS;
}
