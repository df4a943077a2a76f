// The TWAIN 2.x route of the 64-bit manager.
//
// A 2.x source (DF_DS2 in its identity) gets the manager's entry point and memory functions
// with DAT_ENTRYPOINT MSG_SET before MSG_OPENDS and sends its notifications through that
// entry; a 2.x application (DF_APP2) may ask for the same structure with MSG_GET, and may
// register a DAT_CALLBACK2 callback per source, through which it then receives that source's
// notifications instead of through MSG_PROCESSEVENT.
#include "tools/dsm/source_manager.h"

#include <cstring>

extern "C" TW_UINT16 TW_CALLINGSTYLE DSM_Entry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                                              TW_UINT16 msg, TW_MEMREF data);

namespace {

// The memory functions: movable, zero-filled global blocks, as 1.x applications and sources
// exchange them, so that either side may also use the global-memory functions on them.
TW_HANDLE TW_CALLINGSTYLE memAllocate(TW_UINT32 size) {
    return GlobalAlloc(GHND, size);
}

void TW_CALLINGSTYLE memFree(TW_HANDLE handle) {
    if (handle)
        GlobalFree(handle);
}

TW_MEMREF TW_CALLINGSTYLE memLock(TW_HANDLE handle) {
    return handle ? GlobalLock(handle) : nullptr;
}

void TW_CALLINGSTYLE memUnlock(TW_HANDLE handle) {
    if (handle)
        GlobalUnlock(handle);
}

TW_ENTRYPOINT managerEntryPoint() {
    TW_ENTRYPOINT entry{};
    entry.Size = sizeof entry;
    entry.DSM_Entry = DSM_Entry;
    entry.DSM_MemAllocate = memAllocate;
    entry.DSM_MemFree = memFree;
    entry.DSM_MemLock = memLock;
    entry.DSM_MemUnlock = memUnlock;
    return entry;
}

}  // namespace

TW_UINT16 SourceManager::entry2x(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT16 dat, TW_UINT16 msg,
                                 TW_MEMREF data) {
    Application* app = findApplication(origin->Id);
    if (!app)
        return fail(nullptr, TWCC_SEQERROR);
    if (dat == DAT_ENTRYPOINT) {
        if (msg != MSG_GET || !(app->identity.SupportedGroups & DF_APP2))
            return fail(app, TWCC_BADPROTOCOL);
        auto* entry = static_cast<TW_ENTRYPOINT*>(data);
        if (!entry || entry->Size < sizeof(TW_ENTRYPOINT))
            return fail(app, TWCC_BADVALUE);
        *entry = managerEntryPoint();
        return succeed(*app);
    }
    // DAT_CALLBACK2: for one of the application's open sources.
    if (msg != MSG_REGISTER_CALLBACK)
        return fail(app, TWCC_BADPROTOCOL);
    if (!dest)
        return fail(app, TWCC_BADDEST);
    OpenSource* source = findOpenSource(*app, dest->Id);
    if (!source)
        return fail(app, TWCC_BADDEST);
    auto* registration = static_cast<TW_CALLBACK2*>(data);
    if (!registration || !registration->CallBackProc)
        return fail(app, TWCC_BADVALUE);
    source->callback = *registration;
    return succeed(*app);
}

bool SourceManager::handOverEntryPoint(OpenSource& source, pTW_IDENTITY origin) {
    if (!(source.identity.SupportedGroups & DF_DS2))
        return true;
    TW_ENTRYPOINT entry = managerEntryPoint();
    return source.call(origin, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry) == TWRC_SUCCESS;
}

TW_UINT16 SourceManager::callApplication(Application& app, OpenSource& source, TW_UINT16 msg) {
    // Copies: the callback may re-enter the manager and close the source or the session.
    TW_IDENTITY applicationIdentity = app.identity;
    TW_IDENTITY sourceIdentity = source.identity;
    TW_CALLBACK2 callback = source.callback;
    auto proc = reinterpret_cast<DSMENTRYPROC>(callback.CallBackProc);
    proc(&sourceIdentity, &applicationIdentity, DG_CONTROL, DAT_NULL, msg, reinterpret_cast<TW_MEMREF>(callback.RefCon));
    return TWRC_SUCCESS;
}
