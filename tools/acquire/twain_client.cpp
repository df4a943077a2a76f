#include "tools/acquire/twain_client.h"

#include <cstring>

#include "tools/acquire/twain_names.h"

namespace {

// Enumeration is bounded: a manager that never says TWRC_ENDOFLIST must not hang us.
constexpr int maxListedSources = 256;
// Notifications kept for the message loop; a source that floods us loses the oldest.
constexpr size_t maxCallbackNotifications = 16;

// The client whose callback is registered: a manager calls the callback with the identities
// only, and the RefCon it passes back is not pointer-sized in every manager.
TwainClient* callbackClient = nullptr;

void copyName(char (&field)[34], const char* text) {
    std::strncpy(field, text, sizeof field - 1);
    field[sizeof field - 1] = '\0';
}

}  // namespace

TwainClient::TwainClient() {
    app.Version.MajorNum = 1;
    app.Version.MinorNum = 0;
    app.Version.Language = TWLG_USA;
    app.Version.Country = TWCY_USA;
    copyName(app.Version.Info, "acquire 1.0");
    app.ProtocolMajor = 1;
    app.ProtocolMinor = 9;
    app.SupportedGroups = DG_CONTROL | DG_IMAGE;
    copyName(app.Manufacturer, "Dorvex project");
    copyName(app.ProductFamily, "Test tools");
    copyName(app.ProductName, "acquire");
}

TwainClient::~TwainClient() {
    if (callbackClient == this)
        callbackClient = nullptr;
    if (library)
        FreeLibrary(library);
}

bool TwainClient::load(const std::string& managerFile, std::string& error) {
    library = LoadLibraryA(managerFile.c_str());
    if (!library) {
        error = "cannot load " + managerFile + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    entry = reinterpret_cast<DSMENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(library, "DSM_Entry")));
    if (!entry) {
        error = managerFile + " has no DSM_Entry";
        FreeLibrary(library);
        library = nullptr;
        return false;
    }
    return true;
}

std::string TwainClient::managerPath() const {
    char path[MAX_PATH] = "";
    if (managerIsWines()) {
        // Wine names a built-in DLL it loaded for a path after that path; the DLL's own name
        // stands in its export directory.
        const auto* base = reinterpret_cast<const BYTE*>(library);
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& exports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
        const char* name = "twain_32.dll";
        if (exports.VirtualAddress && exports.Size)
            name = reinterpret_cast<const char*>(
                base + reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + exports.VirtualAddress)->Name);
        const UINT length = GetSystemDirectoryA(path, sizeof path);
        if (length && length < sizeof path)
            return std::string(path, length) + "\\" + name;
        return name;
    }
    const DWORD length = library ? GetModuleFileNameA(library, path, sizeof path) : 0;
    return length && length < sizeof path ? std::string(path, length) : std::string("(unknown)");
}

// Wine marks the DLLs it builds for itself in the DOS header, where the image is mapped.
bool TwainClient::managerIsWines() const {
    static const char mark[] = "Wine builtin DLL";
    return library && std::memcmp(reinterpret_cast<const char*>(library) + 0x40, mark, sizeof mark - 1) == 0;
}

TW_UINT16 TwainClient::managerCall(pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    TW_UINT16 rc = entry(&app, dest, dg, dat, msg, data);
    lastCallOk = rc == TWRC_SUCCESS;
    if (!lastCallOk && rc != TWRC_ENDOFLIST)
        recordFailure(dest, dg, dat, msg, rc);
    return rc;
}

void TwainClient::recordFailure(pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 rc) {
    // The condition code belongs to whoever failed: the source for triplets sent to it,
    // the manager for its own.
    TW_STATUS status{};
    TW_UINT16 statusRc = entry(&app, dest, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    lastFailure = tripletName(dg, dat, msg) + ": " + returnCodeName(rc);
    if (statusRc == TWRC_SUCCESS)
        lastFailure += ", condition code " + std::to_string(status.ConditionCode) + " (" +
                       conditionCodeName(status.ConditionCode) + ")";
    else
        lastFailure += ", condition code unavailable";
}

void TwainClient::actAsApp2(HWND window) {
    app2 = true;
    callbackWindow = window;
    app.ProtocolMajor = 2;
    app.ProtocolMinor = 4;
    app.SupportedGroups |= DF_APP2;
}

bool TwainClient::openManager(HWND window) {
    parent = window;
    managerIsOpen = managerCall(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent) == TWRC_SUCCESS;
    if (managerIsOpen && app2)
        return askEntryPoint();
    return managerIsOpen;
}

bool TwainClient::askEntryPoint() {
    TW_ENTRYPOINT answer{};
    answer.Size = sizeof answer;
    if (managerCall(nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &answer) != TWRC_SUCCESS)
        return false;
    if (!answer.DSM_MemAllocate || !answer.DSM_MemFree || !answer.DSM_MemLock || !answer.DSM_MemUnlock) {
        noteFailure("DAT_ENTRYPOINT: the manager gave no memory functions");
        return false;
    }
    managerEntry = answer;
    haveManagerEntry = true;
    return true;
}

bool TwainClient::registerCallback() {
    TW_CALLBACK2 registration{};
    registration.CallBackProc = reinterpret_cast<TW_MEMREF>(&TwainClient::callback);
    registration.RefCon = 0;
    callbackClient = this;
    return sourceCall(DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &registration) == TWRC_SUCCESS;
}

// Runs inside the source's call that sent the notification: it only records the message and
// wakes the message loop, which acts on it once the source has returned.
TW_UINT16 TW_CALLINGSTYLE TwainClient::callback(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32 dg, TW_UINT16 dat,
                                                TW_UINT16 msg, TW_MEMREF) {
    TwainClient* client = callbackClient;
    if (!client || dg != DG_CONTROL || dat != DAT_NULL)
        return TWRC_FAILURE;
    if (client->callbackNotifications.size() >= maxCallbackNotifications)
        client->callbackNotifications.pop_front();
    client->callbackNotifications.push_back(msg);
    // Without a window (--callback-lazy) the loop wakes only when something else sends it a
    // message; a null window here would post to this thread's queue.
    if (client->callbackWindow)
        PostMessageA(client->callbackWindow, WM_NULL, 0, 0);
    return TWRC_SUCCESS;
}

bool TwainClient::takeCallbackNotification(TW_UINT16& msg) {
    if (callbackNotifications.empty())
        return false;
    msg = callbackNotifications.front();
    callbackNotifications.pop_front();
    return true;
}

void* TwainClient::lockHandle(TW_HANDLE handle) {
    return haveManagerEntry ? managerEntry.DSM_MemLock(handle) : GlobalLock(handle);
}

void TwainClient::unlockHandle(TW_HANDLE handle) {
    if (haveManagerEntry)
        managerEntry.DSM_MemUnlock(handle);
    else
        GlobalUnlock(handle);
}

void TwainClient::freeHandle(TW_HANDLE handle) {
    if (haveManagerEntry)
        managerEntry.DSM_MemFree(handle);
    else
        GlobalFree(handle);
}

bool TwainClient::listSources(std::vector<TW_IDENTITY>& sources) {
    sources.clear();
    TW_IDENTITY id{};
    TW_UINT16 rc = managerCall(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id);
    while (rc == TWRC_SUCCESS && sources.size() < maxListedSources) {
        sources.push_back(id);
        rc = managerCall(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &id);
    }
    return rc == TWRC_SUCCESS || rc == TWRC_ENDOFLIST;
}

bool TwainClient::openSource(const std::string& productName) {
    source = TW_IDENTITY{};
    copyName(source.ProductName, productName.c_str());
    sourceIsOpen = managerCall(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source) == TWRC_SUCCESS;
    if (sourceIsOpen && app2)
        return registerCallback();
    return sourceIsOpen;
}

bool TwainClient::openSourceById(TW_UINT32 id) {
    source = TW_IDENTITY{};
    source.Id = id;
    sourceIsOpen = managerCall(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source) == TWRC_SUCCESS;
    return sourceIsOpen;
}

bool TwainClient::enableSource(HWND window, bool showUI) {
    ui = TW_USERINTERFACE{static_cast<TW_BOOL>(showUI), FALSE, window};
    sourceIsEnabled = sourceCall(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui) == TWRC_SUCCESS;
    return sourceIsEnabled;
}

bool TwainClient::disableSource() {
    // The same structure as for the enable, as applications usually pass it.
    bool ok = sourceCall(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui) == TWRC_SUCCESS;
    if (ok)
        sourceIsEnabled = false;
    return ok;
}

bool TwainClient::closeSource() {
    bool ok = managerCall(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source) == TWRC_SUCCESS;
    if (ok) {
        sourceIsOpen = false;
        sourceIsEnabled = false;
        callbackNotifications.clear();
    }
    return ok;
}

bool TwainClient::closeManager() {
    bool ok = managerCall(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent) == TWRC_SUCCESS;
    if (ok)
        managerIsOpen = false;
    return ok;
}

bool TwainClient::processEvent(MSG& message, TW_UINT16& notification) {
    TW_EVENT event{&message, MSG_NULL};
    TW_UINT16 rc = entry(&app, &source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    notification = rc == TWRC_DSEVENT ? event.TWMessage : MSG_NULL;
    return rc == TWRC_DSEVENT;
}

TW_UINT16 TwainClient::sourceCall(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data,
                                  std::initializer_list<TW_UINT16> accepted) {
    TW_UINT16 rc = entry(&app, &source, dg, dat, msg, data);
    lastCallOk = false;
    if (accepted.size() == 0)
        lastCallOk = rc == TWRC_SUCCESS;
    for (TW_UINT16 ok : accepted)
        lastCallOk = lastCallOk || rc == ok;
    if (!lastCallOk)
        recordFailure(&source, dg, dat, msg, rc);
    return rc;
}
