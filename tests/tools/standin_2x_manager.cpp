// A stand-in for the 2.x Source Manager (TWAINDSM.DLL) in the Source Manager's forwarding
// test: it opens a source as that manager would (its own application identity, its own Id
// for the source) and records every call that reaches its DSM_Entry.
#include <cstring>

#include "source/twain.h"

namespace {

constexpr TW_UINT32 applicationId = 0x7A000001;
constexpr TW_UINT32 sourceId = 0x7A000002;

struct Recorded {
    TW_UINT32 originId, destId, dg;
    TW_UINT16 dat, msg;
    bool destNull;
};

constexpr int maxRecords = 16;
Recorded records[maxRecords];
int recordCount = 0;

HMODULE sourceModule = nullptr;
DSENTRYPROC sourceEntry = nullptr;
TW_IDENTITY application{};
TW_IDENTITY source{};

}  // namespace

extern "C" {

TW_UINT16 TW_CALLINGSTYLE DSM_Entry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                                    TW_UINT16 msg, TW_MEMREF) {
    if (recordCount < maxRecords)
        records[recordCount++] = {origin ? origin->Id : 0, dest ? dest->Id : 0, dg, dat, msg, dest == nullptr};
    return TWRC_SUCCESS;
}

// Loads the source at path and opens it; the source's MSG_OPENDS result.
__declspec(dllexport) TW_UINT16 StandIn_openSource(const char* path) {
    sourceModule = LoadLibraryA(path);
    if (!sourceModule)
        return TWRC_FAILURE;
    sourceEntry = reinterpret_cast<DSENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(sourceModule, "DS_Entry")));
    if (!sourceEntry)
        return TWRC_FAILURE;
    application.Id = applicationId;
    std::strcpy(application.ProductName, "2.x application");
    source.Id = sourceId;
    if (sourceEntry(&application, DG_CONTROL, DAT_IDENTITY, MSG_GET, &source) != TWRC_SUCCESS)
        return TWRC_FAILURE;
    source.Id = sourceId;
    return sourceEntry(&application, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source);
}

// Lets go of the source library without closing the source (a test holds it and closes it).
__declspec(dllexport) void StandIn_releaseSource() {
    if (sourceModule)
        FreeLibrary(sourceModule);
    sourceModule = nullptr;
    sourceEntry = nullptr;
}

__declspec(dllexport) int StandIn_recordCount() { return recordCount; }

// Record i as origin Id, destination Id (0 and destNull when none), DG, DAT, MSG.
__declspec(dllexport) bool StandIn_record(int i, TW_UINT32* originId, TW_UINT32* destId, TW_UINT32* dg,
                                          TW_UINT16* dat, TW_UINT16* msg) {
    if (i < 0 || i >= recordCount)
        return false;
    *originId = records[i].originId;
    *destId = records[i].destId;
    *dg = records[i].dg;
    *dat = records[i].dat;
    *msg = records[i].msg;
    return true;
}

__declspec(dllexport) TW_UINT32 StandIn_applicationId() { return applicationId; }
__declspec(dllexport) TW_UINT32 StandIn_sourceId() { return sourceId; }

}  // extern "C"
