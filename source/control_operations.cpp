// DG_CONTROL operations other than DAT_CAPABILITY: identity, user interface, status,
// pending transfers, memory-transfer setup and the transfer group.
//
// Each handler checks state and message in the order the TWAIN 1.x state machine of this
// source defines (some test the message first, some the state), then refuses a missing data
// structure with TWCC_BADVALUE, and only then changes anything: a failing operation changes
// nothing but the condition code.
#include <cstring>
#include <new>

#include "imaging/jpeg_decoder.h"
#include "source/module.h"
#include "source/source_session.h"
#include "ui/camera_dialog.h"

namespace {

bool inStates(TwainState state, TwainState first, TwainState last) {
    return state >= first && state <= last;
}

// Two identities name the same application or source when their names agree; the Id is the
// manager's and the same for both only within one manager's session.
bool sameProduct(const TW_IDENTITY& a, const TW_IDENTITY& b) {
    return std::strncmp(a.Manufacturer, b.Manufacturer, sizeof a.Manufacturer) == 0 &&
           std::strncmp(a.ProductFamily, b.ProductFamily, sizeof a.ProductFamily) == 0 &&
           std::strncmp(a.ProductName, b.ProductName, sizeof a.ProductName) == 0;
}

}  // namespace

TW_UINT16 SourceSession::routeControl() {
    switch (currentCall->DAT) {
    case DAT_CAPABILITY:
        return capability();
    case DAT_IDENTITY:
        return identity();
    case DAT_PENDINGXFERS:
        return pendingTransfers();
    case DAT_SETUPMEMXFER:
        return setupMemTransfer();
    case DAT_STATUS:
        return status();
    case DAT_USERINTERFACE:
        return userInterface();
    case DAT_XFERGROUP:
        return transferGroup();
#ifdef _WIN64
    case DAT_ENTRYPOINT:
        return entryPoint();
#endif
    default:  // DAT_SETUPFILEXFER, DAT_EVENT, DAT_PARENT and anything unknown, in every state
        return fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 SourceSession::identity() {
    switch (currentCall->MSG) {
    case MSG_GET:
        if (!currentCall->data) return fail(TWCC_BADVALUE);
        *static_cast<TW_IDENTITY*>(currentCall->data) = sourceIdentity;
        return succeed();
    case MSG_OPENDS:
        return openSource();
    case MSG_CLOSEDS:
        return closeSource();
    default:
        return fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 SourceSession::openSource() {
    if (state != StateLoaded && !lostSession()) return fail(TWCC_SEQERROR);
    if (!currentCall->data) return fail(TWCC_BADVALUE);
    // The manager of the new session handed its entry point over just before (2.x).
    if (state != StateLoaded) endSession(false);
    appIdentity = *currentCall->origin;
    // The manager hands back our identity with the Id it assigned.
    sourceIdentity = *static_cast<const TW_IDENTITY*>(currentCall->data);
    state = StateOpen;
    return succeed();
}

// A session with windows holds our module, so a manager that unloads the source without
// closing it and loads it again finds the session as it left it, and cannot open the source
// any more. No manager that still has the source open sends its application's MSG_OPENDS to
// it again (it refuses that itself): an open of this very source by the same application,
// while the session has windows, means the manager lost it, and the session is ended as
// MSG_CLOSEDS would. Another application's session is never taken, and an open session
// without windows (whose unload is real) still refuses a second open.
bool SourceSession::lostSession() const {
    const auto* wanted = static_cast<const TW_IDENTITY*>(currentCall->data);
    return callerHoldsWindows() && wanted && sameProduct(*wanted, sourceIdentity);
}

bool SourceSession::callerHoldsWindows() const {
    const TW_IDENTITY& caller = *currentCall->origin;
    return cameraDialog && caller.Id == appIdentity.Id && sameProduct(caller, appIdentity);
}

TW_UINT16 SourceSession::closeSource() {
    if (!inStates(state, StateOpen, StateTransferring)) return fail(TWCC_SEQERROR);
    endSession(true);
    return succeed();
}

void SourceSession::endSession(bool forgetManager) {
    // Nothing may notify anyone once the close is accepted, not even the dialog's teardown.
    state = StateLoaded;
    destroyDialog();
    appIdentity.Id = 0;
    // Its windows are gone (or go as soon as the handlers below us return): the module may be
    // unloaded once the last of our calls has returned.
    releaseModuleHold();
#ifdef _WIN64
    // The manager hands its entry point over again before the next MSG_OPENDS.
    if (forgetManager) {
        haveManagerEntry = false;
        managerEntry = TW_ENTRYPOINT{};
    }
#else
    (void)forgetManager;
#endif
}

TW_UINT16 SourceSession::userInterface() {
    switch (currentCall->MSG) {
    case MSG_ENABLEDS:
        return enableSource();
    case MSG_DISABLEDS:
        return disableSource();
    default:  // MSG_ENABLEDSUIONLY included: there is no settings-only interface
        return fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 SourceSession::enableSource() {
    if (state != StateOpen) return fail(TWCC_SEQERROR);
    auto* ui = static_cast<TW_USERINTERFACE*>(currentCall->data);
    if (!ui) return fail(TWCC_BADVALUE);
    // A dialog left hidden by MSG_DISABLEDS is replaced, not reused: the new one gets the
    // parent window of this call, and the old one's camera link (and port) is closed first so
    // that the new dialog can open it.
    // The new dialog is made first, so that a failure leaves the earlier one as it was; it
    // opens the port only once its connection message runs, after the old one let it go.
    // It keeps the settings in memory when it replaces one (they are the newer ones).
    CameraDialog* dialog = new (std::nothrow) CameraDialog(static_cast<HWND>(ui->hParent), cameraDialog == nullptr);
    // While it has windows the source keeps its own module loaded (source/module.h).
    if (!dialog || !dialog->hwnd() || !holdModule()) {
        delete dialog;
        return fail(TWCC_OPERATIONERROR);
    }
    destroyDialog();
    cameraDialog = dialog;
    // The dialog is modeless and lives on the application's message loop.
    ui->ModalUI = FALSE;
    if (ui->ShowUI) ShowWindow(dialog->hwnd(), SW_SHOW);
    state = StateEnabled;
    return succeed();
}

TW_UINT16 SourceSession::disableSource() {
    if (!inStates(state, StateEnabled, StateTransferring)) return fail(TWCC_SEQERROR);
    // Hidden whatever ShowUI says: applications pass the structure of MSG_ENABLEDS again, and
    // a dialog left on screen in state 4 could still signal a transfer.
    // Its modal dialogs and message boxes end too, as cancelled: none of them may go on to
    // download a picture for an application that no longer wants one.
    state = StateOpen;
    if (cameraDialog && cameraDialog->hwnd()) {
        DialogWindow::endModalLoopsOwnedBy(cameraDialog->hwnd());
        ShowWindow(cameraDialog->hwnd(), SW_HIDE);
    }
    return succeed();
}

TW_UINT16 SourceSession::status() {
    if (currentCall->MSG != MSG_GET) return fail(TWCC_BADPROTOCOL);
    auto* st = static_cast<TW_STATUS*>(currentCall->data);
    if (!st) return fail(TWCC_BADVALUE);
    st->ConditionCode = conditionCode;
    st->Reserved = 0;
    return succeed();
}

TW_UINT16 SourceSession::pendingTransfers() {
    const TW_UINT16 msg = currentCall->MSG;
    if (msg != MSG_GET && msg != MSG_RESET && msg != MSG_ENDXFER) return fail(TWCC_BADPROTOCOL);
    if (!inStates(state, msg == MSG_GET ? StateOpen : StateReady, StateTransferring)) return fail(TWCC_SEQERROR);
    auto* pending = static_cast<TW_PENDINGXFERS*>(currentCall->data);
    if (!pending) return fail(TWCC_BADVALUE);
    if (msg == MSG_GET) {
        pending->Count = state >= StateReady ? 0xFFFF : 0;
        return succeed();
    }
    if (msg == MSG_ENDXFER && !transferComplete) {
        // The picture is not all delivered: it stays, and so does the row to deliver next.
        pending->Count = 0xFFFF;
        state = StateReady;
        return succeed();
    }
    discardPicture();
    pending->Count = 0;
    state = StateEnabled;
    return succeed();
}

TW_UINT16 SourceSession::setupMemTransfer() {
    if (!inStates(state, StateOpen, StateReady)) return fail(TWCC_SEQERROR);
    if (currentCall->MSG != MSG_GET) return fail(TWCC_BADPROTOCOL);
    auto* setup = static_cast<TW_SETUPMEMXFER*>(currentCall->data);
    if (!setup) return fail(TWCC_BADVALUE);
    setup->MinBufSize = memXferBufferSize;
    setup->MaxBufSize = memXferBufferSize;
    setup->Preferred = memXferBufferSize;
    return succeed();
}

TW_UINT16 SourceSession::transferGroup() {
    if (!inStates(state, StateOpen, StateReady)) return fail(TWCC_SEQERROR);
    if (currentCall->MSG != MSG_GET) return fail(TWCC_BADPROTOCOL);
    if (!currentCall->data) return fail(TWCC_BADVALUE);
    *static_cast<TW_UINT32*>(currentCall->data) = DG_IMAGE;
    return succeed();
}

#ifdef _WIN64
// DAT_ENTRYPOINT: a 2.x manager sets its entry point and memory functions before MSG_OPENDS
// (states 3 and 4, or later just before the open that ends a session it lost, from that
// session's application); MSG_GET reads back what was set, in any open state. A structure
// whose Size is smaller than ours, or that lacks the entry or any of the four memory functions,
// is refused whole: a source that used half a set of memory functions would free with one what
// it allocated with another.
TW_UINT16 SourceSession::entryPoint() {
    const TW_UINT16 msg = currentCall->MSG;
    if (msg != MSG_SET && msg != MSG_GET) return fail(TWCC_BADPROTOCOL);
    if (msg == MSG_SET && state > StateOpen && !callerHoldsWindows()) return fail(TWCC_SEQERROR);
    auto* entry = static_cast<TW_ENTRYPOINT*>(currentCall->data);
    if (!entry) return fail(TWCC_BADVALUE);
    if (entry->Size < sizeof(TW_ENTRYPOINT)) return fail(TWCC_BADVALUE);
    if (msg == MSG_GET) {
        if (!haveManagerEntry) return fail(TWCC_SEQERROR);
        *entry = managerEntry;
        return succeed();
    }
    if (!entry->DSM_Entry || !entry->DSM_MemAllocate || !entry->DSM_MemFree || !entry->DSM_MemLock ||
        !entry->DSM_MemUnlock)
        return fail(TWCC_BADVALUE);
    // Blocks already handed out stay valid: both kinds belong to the application from then on.
    managerEntry = *entry;
    managerEntry.Size = sizeof(TW_ENTRYPOINT);
    haveManagerEntry = true;
    return succeed();
}
#endif

void SourceSession::destroyDialog() {
    if (!cameraDialog) return;
    CameraDialog* dialog = cameraDialog;
    cameraDialog = nullptr;  // cleared first: its teardown may call back into the session
    // Its window goes now, with every dialog and message box it owns; the object itself goes
    // once none of its handlers is running any more (one may be below us, in a nested loop).
    dialog->dispose();
}

void SourceSession::discardPicture() {
    delete decodedImage;
    decodedImage = nullptr;
    nextRow = 0;
    transferComplete = 0;
}
