#include "tools/dsm/source_manager.h"

#include <cstring>

#include "tools/dsm/other_manager.h"
#include "tools/dsm/source_choice.h"

namespace {

bool isNotification(TW_UINT16 msg) {
    return msg == MSG_XFERREADY || msg == MSG_CLOSEDSREQ || msg == MSG_CLOSEDSOK;
}

bool sameName(const char* a, const char* b, size_t size) {
    return std::strncmp(a, b, size) == 0;
}

}  // namespace

SourceManager& SourceManager::instance() {
    // Never destroyed: its destructor would run while the process detaches this library,
    // under the loader lock, and unload sources an application left open - their own exit
    // code (destroying windows) must not run from there. The process is ending anyway.
    static SourceManager* manager = new SourceManager();
    return *manager;
}

SourceManager::SourceManager() {
    notifyMessageId = RegisterWindowMessageA("TWAIN_32 source notification");
}

SourceManager::Application* SourceManager::findApplication(TW_UINT32 id) {
    if (id == 0)
        return nullptr;
    for (auto& app : applications)
        if (app->identity.Id == id)
            return app.get();
    return nullptr;
}

OpenSource* SourceManager::findOpenSource(Application& app, TW_UINT32 sourceId) {
    for (auto& source : app.sources)
        if (source->identity.Id == sourceId)
            return source.get();
    return nullptr;
}

SourceManager::Application* SourceManager::ownerOfSource(TW_UINT32 sourceId) {
    for (auto& app : applications)
        if (findOpenSource(*app, sourceId))
            return app.get();
    return nullptr;
}

TW_UINT16 SourceManager::fail(Application* app, TW_UINT16 code) {
    (app ? app->conditionCode : strayConditionCode) = code;
    return TWRC_FAILURE;
}

TW_UINT16 SourceManager::succeed(Application& app) {
    app.conditionCode = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

// Test-only: DORVEX_DSM_NESTED_CLOSE=1 lets an application close a source from inside one
// of the source's own calls (as some managers do), so that tests can play that.
static bool nestedCloseAllowed() {
    static const bool allowed = [] {
        char value[8] = "";
        const DWORD length = GetEnvironmentVariableA("DORVEX_DSM_NESTED_CLOSE", value, sizeof value);
        return length == 1 && value[0] == '1';
    }();
    return allowed;
}

// Test-only: DORVEX_DSM_UNLOAD plays the Working Group's manager, which frees a source's library
// as soon as its MSG_CLOSEDS returns and takes a close made inside one of the source's calls:
// "closeds" does that; "closedsm" also lets MSG_CLOSEDSM unload the sources the application
// left open, enabled or not, without closing them; "freefirst" frees the library of an enabled
// source before it passes the application's MSG_DISABLEDS (or a MSG_CLOSEDS without one) on,
// and sends both through the entry point it had, as a manager whose application still holds
// that entry point may.
enum class UnloadMode { Never, AfterCloseDS, AlsoAtCloseDSM, FreeFirst };

static UnloadMode unloadMode() {
    static const UnloadMode mode = [] {
        char value[16] = "";
        const DWORD length = GetEnvironmentVariableA("DORVEX_DSM_UNLOAD", value, sizeof value);
        const std::string text = length < sizeof value ? value : "";
        if (text == "closeds")
            return UnloadMode::AfterCloseDS;
        if (text == "closedsm")
            return UnloadMode::AlsoAtCloseDSM;
        if (text == "freefirst")
            return UnloadMode::FreeFirst;
        return UnloadMode::Never;
    }();
    return mode;
}

TW_UINT16 SourceManager::entry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                               TW_UINT16 msg, TW_MEMREF data) {
    // Sources closed from inside their own calls are unloaded once those calls have returned.
    for (auto it = retiredSources.begin(); it != retiredSources.end();)
        it = (*it)->busy() ? it + 1 : retiredSources.erase(it);
    if (!origin)
        return fail(nullptr, TWCC_BADPROTOCOL);
    if (dg == DG_CONTROL && dat == DAT_NULL)
        return notificationFromSource(origin, dest, msg, data);
#ifdef _WIN64
    if (dg == DG_CONTROL && (dat == DAT_ENTRYPOINT || dat == DAT_CALLBACK2))
        return entry2x(origin, dest, dat, msg, data);
#endif
    Application* app = findApplication(origin->Id);
    bool managerDat = dat == DAT_PARENT || dat == DAT_IDENTITY || (dat == DAT_STATUS && !dest);
    // DAT_IDENTITY MSG_GET with a destination asks that source for its identity.
    if (dest && dat == DAT_IDENTITY && msg == MSG_GET)
        managerDat = false;
    if (dg == DG_CONTROL && managerDat)
        return managerCall(app, origin, dat, msg, data);
    if (!app)
        return fail(nullptr, TWCC_SEQERROR);
    if (!dest)
        return fail(app, TWCC_BADPROTOCOL);
    return forward(*app, origin, dest, dg, dat, msg, data);
}

TW_UINT16 SourceManager::managerCall(Application* app, pTW_IDENTITY origin, TW_UINT16 dat, TW_UINT16 msg,
                                     TW_MEMREF data) {
    if (dat == DAT_STATUS)
        return readStatus(app, msg, data);
    if (dat == DAT_PARENT && msg == MSG_OPENDSM)
        return app ? fail(app, TWCC_SEQERROR) : openManager(origin, data);
    if (!app)
        return fail(nullptr, TWCC_SEQERROR);
    if (dat == DAT_PARENT)
        return msg == MSG_CLOSEDSM ? closeManager(*app) : fail(app, TWCC_BADPROTOCOL);
    return identityCall(*app, origin, msg, data);
}

TW_UINT16 SourceManager::openManager(pTW_IDENTITY origin, TW_MEMREF data) {
    if (!data)
        return fail(nullptr, TWCC_BADVALUE);
    // A console application passes its console window (another process's) or, with no
    // console window at all, null; both are fine, since wake-ups go to the calling thread
    // whenever the window is not that thread's own. A handle that is no window is a mistake.
    HWND window = *static_cast<HWND*>(data);
    if (window && !IsWindow(window))
        return fail(nullptr, TWCC_BADVALUE);
    if (applications.size() >= maxApplications)
        return fail(nullptr, TWCC_MAXCONNECTIONS);
    auto app = std::make_unique<Application>();
    origin->Id = nextId++;
    app->identity = *origin;
    app->window = window;
    app->thread = GetCurrentThreadId();
    // The catalog is read once per session: the sources are loaded for their identities
    // while none of them is open, so no source sees a stranger's MSG_GET while it serves us.
    app->catalog = findSources(sourcesRoot(), origin);
    for (CatalogEntry& entry : app->catalog)
        entry.identity.Id = idForPath(entry.path);
    applications.push_back(std::move(app));
    strayConditionCode = TWCC_SUCCESS;
    return succeed(*applications.back());
}

TW_UINT32 SourceManager::idForPath(const std::string& path) {
    std::string key = path;
    if (!key.empty())
        CharLowerA(&key[0]);
    auto found = sourceIds.find(key);
    if (found != sourceIds.end())
        return found->second;
    TW_UINT32 id = nextId++;
    sourceIds[key] = id;
    return id;
}

TW_UINT16 SourceManager::closeManager(Application& app) {
    if (unloadMode() == UnloadMode::AlsoAtCloseDSM) {
        for (auto& source : app.sources) {
            source->unload();
            if (source->busy())
                retiredSources.push_back(std::move(source));
        }
        app.sources.clear();
    }
    if (!app.sources.empty())
        return fail(&app, TWCC_SEQERROR);
    for (auto it = applications.begin(); it != applications.end(); ++it) {
        if (it->get() == &app) {
            applications.erase(it);
            break;
        }
    }
    strayConditionCode = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

TW_UINT16 SourceManager::readStatus(Application* app, TW_UINT16 msg, TW_MEMREF data) {
    if (msg != MSG_GET)
        return fail(app, TWCC_BADPROTOCOL);
    if (!data)
        return fail(app, TWCC_BADVALUE);
    TW_UINT16& code = app ? app->conditionCode : strayConditionCode;
    auto* status = static_cast<TW_STATUS*>(data);
    status->ConditionCode = code;
    status->Reserved = 0;
    code = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

TW_UINT16 SourceManager::identityCall(Application& app, pTW_IDENTITY origin, TW_UINT16 msg, TW_MEMREF data) {
    bool known = msg == MSG_GETFIRST || msg == MSG_GETNEXT || msg == MSG_GETDEFAULT || msg == MSG_USERSELECT ||
                 msg == MSG_OPENDS || msg == MSG_CLOSEDS;
    if (!known)
        return fail(&app, TWCC_BADPROTOCOL);
    if (!data)
        return fail(&app, TWCC_BADVALUE);
    auto& identity = *static_cast<TW_IDENTITY*>(data);
    switch (msg) {
    case MSG_GETFIRST:
    case MSG_GETNEXT:
        return listSource(app, msg, identity);
    case MSG_GETDEFAULT:
    case MSG_USERSELECT:
        return selectSource(app, msg, identity);
    case MSG_OPENDS:
        return openSource(app, origin, identity);
    default:
        return closeSource(app, origin, identity);
    }
}

TW_UINT16 SourceManager::listSource(Application& app, TW_UINT16 msg, TW_IDENTITY& out) {
    if (msg == MSG_GETFIRST) {
        if (app.catalog.empty())
            return fail(&app, TWCC_NODS);
        app.nextEntry = 0;
        app.enumerating = true;
    } else if (!app.enumerating) {
        return fail(&app, TWCC_SEQERROR);
    }
    if (app.nextEntry >= app.catalog.size()) {
        app.enumerating = false;
        app.conditionCode = TWCC_SUCCESS;
        return TWRC_ENDOFLIST;
    }
    out = app.catalog[app.nextEntry++].identity;
    return succeed(app);
}

// The default: the source this user last selected or opened, when it is still installed,
// else the first one of the catalog.
const CatalogEntry* SourceManager::defaultSource(const Application& app) const {
    if (app.catalog.empty())
        return nullptr;
    std::string remembered = rememberedSource();
    if (!remembered.empty())
        for (const CatalogEntry& entry : app.catalog)
            if (sameName(entry.identity.ProductName, remembered.c_str(), sizeof entry.identity.ProductName))
                return &entry;
    return &app.catalog.front();
}

// MSG_OPENDS: the source with the identity's Id when it has one, else the one of its product
// name, else the default. An Id that names no source falls back to the name; with neither a
// known Id nor a name, nothing is opened rather than a source the application did not mean.
const CatalogEntry* SourceManager::chooseSource(const Application& app, const TW_IDENTITY& wanted) const {
    if (wanted.Id != 0)
        for (const CatalogEntry& entry : app.catalog)
            if (entry.identity.Id == wanted.Id)
                return &entry;
    if (wanted.ProductName[0] != '\0') {
        for (const CatalogEntry& entry : app.catalog)
            if (sameName(entry.identity.ProductName, wanted.ProductName, sizeof wanted.ProductName))
                return &entry;
        return nullptr;
    }
    return wanted.Id == 0 ? defaultSource(app) : nullptr;
}

TW_UINT16 SourceManager::selectSource(Application& app, TW_UINT16 msg, TW_IDENTITY& inOut) {
    const CatalogEntry* entry = defaultSource(app);
    if (!entry)
        return fail(&app, TWCC_NODS);
    if (msg == MSG_USERSELECT) {
        // The list starts at the default source; the user's choice becomes the new default.
        std::vector<std::string> names;
        size_t initial = 0;
        for (const CatalogEntry& listed : app.catalog) {
            if (&listed == entry)
                initial = names.size();
            names.push_back(listed.identity.ProductName);
        }
        HWND owner = app.window && windowOfThisProcess(app.window) ? app.window : nullptr;
        TW_UINT32 appId = app.identity.Id;
        int chosen = askUserForSource(owner, names, initial);
        // The dialog's loop ran the application's window procedures, which may have closed
        // the manager meanwhile: the application is looked up again.
        Application* still = findApplication(appId);
        if (!still || still->catalog.size() != names.size())
            return fail(still, TWCC_SEQERROR);
        if (chosen == -2)
            return fail(still, TWCC_OPERATIONERROR);  // no dialog: no choice either
        if (chosen < 0) {
            still->conditionCode = TWCC_SUCCESS;
            return TWRC_CANCEL;
        }
        const CatalogEntry& picked = still->catalog[static_cast<size_t>(chosen)];
        rememberSource(picked.identity.ProductName);
        inOut = picked.identity;
        return succeed(*still);
    }
    inOut = entry->identity;
    return succeed(app);
}

TW_UINT16 SourceManager::openSource(Application& app, pTW_IDENTITY origin, TW_IDENTITY& inOut) {
    const CatalogEntry* entry = chooseSource(app, inOut);
    if (!entry)
        return fail(&app, TWCC_NODS);
    if (findOpenSource(app, entry->identity.Id))
        return fail(&app, TWCC_SEQERROR);
    if (app.sources.size() >= maxOpenSources)
        return fail(&app, TWCC_MAXCONNECTIONS);
    auto source = std::make_unique<OpenSource>();
    if (!source->load(entry->path))
        return fail(&app, TWCC_OPERATIONERROR);
    std::string name = entry->identity.ProductName;
    inOut = entry->identity;
    source->identity = inOut;
#ifdef _WIN64
    if (!handOverEntryPoint(*source, origin)) {
        inOut.Id = 0;
        return fail(&app, TWCC_OPERATIONERROR);
    }
#endif
    TW_UINT16 result = source->call(origin, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &inOut);
    if (result != TWRC_SUCCESS) {
        // The application asks us, not the source, why the open failed.
        TW_UINT16 code = source->askStatus(origin);
        inOut.Id = 0;
        return fail(&app, code == TWCC_SUCCESS ? TWCC_OPERATIONERROR : code);
    }
    app.sources.push_back(std::move(source));
    rememberSource(name.c_str());
    return succeed(app);
}

TW_UINT16 SourceManager::closeSource(Application& app, pTW_IDENTITY origin, TW_IDENTITY& which) {
    OpenSource* source = findOpenSource(app, which.Id);
    if (!source)
        return fail(&app, TWCC_NODS);
    // Closing a source from inside one of its own calls would unload the code still running;
    // where a test allows it, the library stays loaded until the calls have returned.
    if (source->busy() && !nestedCloseAllowed() && unloadMode() == UnloadMode::Never)
        return fail(&app, TWCC_SEQERROR);
    if (unloadMode() == UnloadMode::FreeFirst)
        source->freeLibraryKeepingEntry();
    TW_UINT16 result = source->call(origin, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &which);
    // The call may have re-entered the manager; look the source up again.
    source = findOpenSource(app, which.Id);
    if (result != TWRC_SUCCESS) {
        TW_UINT16 code = source ? source->askStatus(origin) : TWCC_BUMMER;
        return fail(&app, code == TWCC_SUCCESS ? TWCC_OPERATIONERROR : code);
    }
    if (unloadMode() != UnloadMode::Never && source)
        source->unload();
    for (auto it = app.sources.begin(); it != app.sources.end(); ++it) {
        if (it->get() == source) {
            if (source->busy())
                retiredSources.push_back(std::move(*it));
            app.sources.erase(it);
            break;
        }
    }
    return succeed(app);
}

TW_UINT16 SourceManager::forward(Application& app, pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg,
                                 TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    TW_UINT32 sourceId = dest->Id;
    OpenSource* source = findOpenSource(app, sourceId);
    if (!source)
        return fail(&app, TWCC_BADDEST);
    if (dg == DG_CONTROL && dat == DAT_EVENT && msg == MSG_PROCESSEVENT) {
        if (!data)
            return fail(&app, TWCC_BADVALUE);
        return processEvent(app, origin, sourceId, *static_cast<TW_EVENT*>(data));
    }
    if (dg == DG_CONTROL && dat == DAT_USERINTERFACE && msg == MSG_DISABLEDS && unloadMode() == UnloadMode::FreeFirst)
        source->freeLibraryKeepingEntry();
    return source->call(origin, dg, dat, msg, data);
}

// A waiting notification goes out with this event whatever the source answers: a source whose
// dialog claims every message the application sees (the application's own window lives in
// another thread or process) would otherwise never let it through. The event is still given
// to the source first, so that its dialog loses no input, except for our own wake-up message,
// which is nobody else's business. A notification the source queues while it handles the
// event (a button that starts the transfer) goes out with that same event.
TW_UINT16 SourceManager::processEvent(Application& app, pTW_IDENTITY origin, TW_UINT32 sourceId, TW_EVENT& event) {
    const MSG* message = static_cast<const MSG*>(event.pEvent);
    OpenSource* source = findOpenSource(app, sourceId);
    TW_UINT16 result = TWRC_NOTDSEVENT;
    bool wakeUp = message && notifyMessageId != 0 && message->message == notifyMessageId;
    if (!wakeUp) {
        result = source->call(origin, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
        // The source's own message wins; ours waits for the next event.
        if (result == TWRC_DSEVENT && event.TWMessage != MSG_NULL)
            return result;
        // The source's call may have re-entered the manager, so it is looked up again.
        Application* owner = findApplication(origin->Id);
        source = owner ? findOpenSource(*owner, sourceId) : nullptr;
    }
    TW_UINT16 pending = MSG_NULL;
    if (!source || !source->takeNotification(pending))
        return result;  // for a late wake-up (its notification already went out): not ours
    event.TWMessage = pending;
    return TWRC_DSEVENT;
}

TW_UINT16 SourceManager::notificationFromSource(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT16 msg,
                                                TW_MEMREF data) {
    // Refusals go to the stray code: the application's own code is not the source's business.
    if (!isNotification(msg))
        return fail(nullptr, TWCC_BADPROTOCOL);
    // The destination names the application; a source that leaves it out means its owner.
    Application* app = dest ? findApplication(dest->Id) : ownerOfSource(origin->Id);
    OpenSource* source = app ? findOpenSource(*app, origin->Id) : nullptr;
    if (!source) {
        // Not a source of ours: one that another manager in this process opened may call here.
        if (DSMENTRYPROC other = otherManagerEntry())
            return other(origin, dest, DG_CONTROL, DAT_NULL, msg, data);
        return fail(nullptr, ownerOfSource(origin->Id) ? TWCC_BADDEST : TWCC_BADPROTOCOL);
    }
#ifdef _WIN64
    if (source->callback.CallBackProc)
        return callApplication(*app, *source, msg);
#endif
    source->queueNotification(msg);
    wake(*app, origin->Id, msg);
    return TWRC_SUCCESS;
}

// Wakes the application's message loop; the message itself carries nothing it must read. A
// window of the application's own thread gets it (its loop may filter by window); otherwise
// the thread's queue does, since the parent's loop is not the application's.
void SourceManager::wake(const Application& app, TW_UINT32 sourceId, TW_UINT16 msg) {
    if (app.window && GetWindowThreadProcessId(app.window, nullptr) == app.thread &&
        PostMessageA(app.window, notifyMessageId, sourceId, msg))
        return;
    PostThreadMessageA(app.thread, notifyMessageId, sourceId, msg);
}
