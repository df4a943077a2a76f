// The session object: start-up and shutdown, the routing of triplets, MSG_PROCESSEVENT,
// notifications to the application and the capability container allocator.
#include "source/source_session.h"

#include <cstring>
#include <new>

#include "imaging/jpeg_decoder.h"
#include "resources/resource_ids.h"
#include "source/module.h"
#include "ui/camera_dialog.h"

namespace {

// The session lives in static storage so that creating it cannot fail, and is constructed and
// destroyed explicitly, from DllMain, rather than by the runtime's exit handlers in an order
// of their choosing.
alignas(SourceSession) unsigned char sessionStorage[sizeof(SourceSession)];
SourceSession* instance = nullptr;

// GMEM_MOVEABLE | GMEM_ZEROINIT: the application locks, reads and frees the block itself.
constexpr UINT containerFlags = GMEM_MOVEABLE | GMEM_ZEROINIT;

// Largest item payload a container may be asked for; keeps the header arithmetic from wrapping.
constexpr uint32_t maxContainerItemBytes = 0x00FFFFFF;

void loadField(UINT id, char* field) {
    // TW_STR32 holds 33 characters and the terminator; LoadStringA cuts longer texts and
    // always terminates.
    if (LoadStringA(moduleInstance(), id, field, sizeof(TW_STR32)) <= 0) field[0] = '\0';
}

}  // namespace

SourceSession& theSession() {
    if (!instance) {
        instance = new (sessionStorage) SourceSession();
        instance->startup();
    }
    return *instance;
}

void releaseSession() {
    if (!instance) return;
    instance->~SourceSession();
    instance = nullptr;
}

SourceSession::SourceSession() {
    sourceIdentity.Version.MajorNum = 2;
    sourceIdentity.Version.MinorNum = 0;
    sourceIdentity.Version.Language = TWLG_USA;
    sourceIdentity.Version.Country = TWCY_USA;
    sourceIdentity.ProtocolMajor = 1;
    sourceIdentity.ProtocolMinor = 6;
    sourceIdentity.SupportedGroups = DG_CONTROL | DG_IMAGE;
#ifdef _WIN64
    // 64-bit applications reach sources only through a 2.x manager, which has no TWAIN_32.DLL
    // for notifications: it hands its own entry point over with DAT_ENTRYPOINT, and only to
    // sources that say DF_DS2.
    sourceIdentity.ProtocolMajor = 2;
    sourceIdentity.ProtocolMinor = 0;
    sourceIdentity.SupportedGroups |= DF_DS2;
#endif
}

SourceSession::~SourceSession() {
    shutdown();
}

int SourceSession::startup() {
    // The dialogs' grey background is drawn by DialogWindow itself, and the settings code
    // opens its profile key directly, so only the identity strings remain to be loaded.
    loadField(IDS_MANUFACTURER, sourceIdentity.Manufacturer);
    loadField(IDS_PRODUCT_FAMILY, sourceIdentity.ProductFamily);
    loadField(IDS_PRODUCT_NAME, sourceIdentity.ProductName);
    loadField(IDS_VERSION_INFO, sourceIdentity.Version.Info);
    return 1;
}

void SourceSession::shutdown() {
    destroyDialog();
    delete decodedImage;
    decodedImage = nullptr;
}

TW_UINT16 SourceSession::dispatch(TripletCall& call) {
    // Remember the caller's call: a dialog handler run from MSG_PROCESSEVENT may re-enter.
    TripletCall* const outer = currentCall;
    currentCall = &call;
    TW_UINT16 rc;
    if (!call.origin)
        rc = identityForAnyone();
    else if (appIdentity.Id != 0 && call.origin->Id != appIdentity.Id)
        rc = fail(TWCC_BADPROTOCOL);  // only the connected application is served
    else
        rc = route();
    currentCall = outer;
    return rc;
}

// A 1.x-compatible manager learns a source's identity with a null origin, before any
// application has opened it and also while one has: DAT_IDENTITY MSG_GET needs no caller. It
// leaves the condition code alone, which belongs to the connected application. Anything else
// without an origin has nobody to answer to.
TW_UINT16 SourceSession::identityForAnyone() {
    const TripletCall& call = *currentCall;
    if (call.DG != DG_CONTROL || call.DAT != DAT_IDENTITY || call.MSG != MSG_GET) return fail(TWCC_BADPROTOCOL);
    if (!call.data) return TWRC_FAILURE;
    *static_cast<TW_IDENTITY*>(call.data) = sourceIdentity;
    return TWRC_SUCCESS;
}

TW_UINT16 SourceSession::route() {
    if (currentCall->MSG == MSG_PROCESSEVENT) return processEvent();
    switch (currentCall->DG) {
    case DG_CONTROL:
        return routeControl();
    case DG_IMAGE:
        return routeImage();
    default:
        return fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 SourceSession::processEvent() {
    // Whatever DG and DAT say; the condition code is left alone.
    auto* event = static_cast<TW_EVENT*>(currentCall->data);
    if (!cameraDialog || !cameraDialog->hwnd() || !event || !event->pEvent) return TWRC_NOTDSEVENT;
    // A close or a destroy arriving while the dialog handles this message is taken care of
    // by the dialog's own lifetime rules.
    const BOOL taken = IsDialogMessageA(cameraDialog->hwnd(), static_cast<MSG*>(event->pEvent));
    if (!taken) return TWRC_NOTDSEVENT;
    event->TWMessage = MSG_NULL;
    return TWRC_DSEVENT;
}

TW_UINT16 SourceSession::fail(TW_UINT16 code) {
    conditionCode = code;
    return TWRC_FAILURE;
}

TW_UINT16 SourceSession::succeed(TW_UINT16 rc) {
    conditionCode = TWCC_SUCCESS;
    return rc;
}

int SourceSession::notifyApplication(TW_UINT16 msg) {
    // A transfer is offered only by an enabled source with none pending; a closed or disabled
    // source notifies nobody (the application has taken the control back).
    if (msg == MSG_XFERREADY) {
        if (state != StateEnabled || appIdentity.Id == 0) return 0;
        state = StateReady;
    } else if (msg == MSG_CLOSEDSREQ) {
        if (state < StateEnabled || appIdentity.Id == 0) return 0;
    } else {
        return 0;
    }
    sendNotification(msg);
    // Applications that take notifications through a callback may act on one only when their
    // message loop next gets a message, and a manager's own wake-up may go to a window of
    // another process or not be posted at all: a message for our dialog, which lives on the
    // application's thread, makes sure one comes. Where the application has already answered
    // (disabled the source from its callback) there is no dialog left to post to.
    if (cameraDialog && cameraDialog->hwnd()) PostMessageA(cameraDialog->hwnd(), WM_NULL, 0, 0);
    return 1;
}

void SourceSession::sendNotification(TW_UINT16 msg) {
#ifdef _WIN64
    if (haveManagerEntry) {
        managerEntry.DSM_Entry(&sourceIdentity, &appIdentity, DG_CONTROL, DAT_NULL, msg, nullptr);
        return;
    }
#endif
    // Loaded for each notification so that no handle to the manager stays open between calls.
    HMODULE manager = LoadLibraryA("TWAIN_32.DLL");
    if (!manager) return;
    // FARPROC is a generic function pointer; the manager exports the six-argument stdcall entry.
    auto entry = reinterpret_cast<DSMENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(manager, "DSM_Entry")));
    if (entry) entry(&sourceIdentity, &appIdentity, DG_CONTROL, DAT_NULL, msg, nullptr);
    FreeLibrary(manager);
}

HGLOBAL SourceSession::allocContainer(TW_UINT16 type, uint32_t itemBytes) {
    switch (type) {
    case TWON_ARRAY:  // 6-byte header
        return itemBytes <= maxContainerItemBytes ? allocBlock(SIZE_T(itemBytes) + 7) : nullptr;
    case TWON_ENUMERATION:  // 14-byte header
        return itemBytes <= maxContainerItemBytes ? allocBlock(SIZE_T(itemBytes) + 15) : nullptr;
    case TWON_ONEVALUE:
        return allocBlock(sizeof(TW_ONEVALUE));
    case TWON_RANGE:
        return allocBlock(sizeof(TW_RANGE));
    default:
        return nullptr;
    }
}

#ifdef _WIN64

HGLOBAL SourceSession::allocBlock(SIZE_T size) {
    if (!haveManagerEntry) return GlobalAlloc(containerFlags, size);
    if (size > 0xFFFFFFFFu) return nullptr;
    // The manager's blocks come with no promise about their contents.
    HGLOBAL block = static_cast<HGLOBAL>(managerEntry.DSM_MemAllocate(TW_UINT32(size)));
    if (!block) return nullptr;
    void* bytes = managerEntry.DSM_MemLock(block);
    if (!bytes) {
        managerEntry.DSM_MemFree(block);
        return nullptr;
    }
    std::memset(bytes, 0, size);
    managerEntry.DSM_MemUnlock(block);
    return block;
}

void* SourceSession::lockBlock(HGLOBAL block) {
    return haveManagerEntry ? managerEntry.DSM_MemLock(block) : GlobalLock(block);
}

void SourceSession::unlockBlock(HGLOBAL block) {
    if (haveManagerEntry)
        managerEntry.DSM_MemUnlock(block);
    else
        GlobalUnlock(block);
}

void SourceSession::freeBlock(HGLOBAL block) {
    if (haveManagerEntry)
        managerEntry.DSM_MemFree(block);
    else
        GlobalFree(block);
}

#else

HGLOBAL SourceSession::allocBlock(SIZE_T size) {
    return GlobalAlloc(containerFlags, size);
}

void* SourceSession::lockBlock(HGLOBAL block) {
    return GlobalLock(block);
}

void SourceSession::unlockBlock(HGLOBAL block) {
    GlobalUnlock(block);
}

void SourceSession::freeBlock(HGLOBAL block) {
    GlobalFree(block);
}

#endif
