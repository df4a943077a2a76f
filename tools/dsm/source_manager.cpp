#include "tools/dsm/source_manager.h"

#include <cstring>

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

TW_UINT16 SourceManager::entry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                               TW_UINT16 msg, TW_MEMREF data) {
    if (!origin)
        return fail(nullptr, TWCC_BADPROTOCOL);
    if (dg == DG_CONTROL && dat == DAT_NULL)
        return notificationFromSource(origin, dest, msg);
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
    HWND window = *static_cast<HWND*>(data);
    if (!IsWindow(window))
        return fail(nullptr, TWCC_BADVALUE);
    if (applications.size() >= maxApplications)
        return fail(nullptr, TWCC_MAXCONNECTIONS);
    auto app = std::make_unique<Application>();
    origin->Id = nextId++;
    app->identity = *origin;
    app->window = window;
    // The catalog is read once per session: the sources are loaded for their identities
    // while none of them is open, so no source sees a stranger's MSG_GET while it serves us.
    app->catalog = findSources(sourcesRoot(), origin);
    applications.push_back(std::move(app));
    strayConditionCode = TWCC_SUCCESS;
    return succeed(*applications.back());
}

TW_UINT16 SourceManager::closeManager(Application& app) {
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
        return selectSource(app, identity);
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

// The default source is the first of the catalog; an identity naming a product chooses that
// one instead. This manager has no selection dialog, so MSG_USERSELECT picks the same way.
const CatalogEntry* SourceManager::chooseSource(const Application& app, const TW_IDENTITY& wanted) const {
    if (app.catalog.empty())
        return nullptr;
    if (wanted.ProductName[0] == '\0')
        return &app.catalog.front();
    for (const CatalogEntry& entry : app.catalog)
        if (sameName(entry.identity.ProductName, wanted.ProductName, sizeof wanted.ProductName))
            return &entry;
    return nullptr;
}

TW_UINT16 SourceManager::selectSource(Application& app, TW_IDENTITY& inOut) {
    const CatalogEntry* entry = chooseSource(app, inOut);
    if (!entry)
        return fail(&app, TWCC_NODS);
    inOut = entry->identity;
    return succeed(app);
}

TW_UINT16 SourceManager::openSource(Application& app, pTW_IDENTITY origin, TW_IDENTITY& inOut) {
    const CatalogEntry* entry = chooseSource(app, inOut);
    if (!entry)
        return fail(&app, TWCC_NODS);
    for (auto& open : app.sources)
        if (sameName(open->identity.ProductName, entry->identity.ProductName, sizeof inOut.ProductName))
            return fail(&app, TWCC_SEQERROR);
    if (app.sources.size() >= maxOpenSources)
        return fail(&app, TWCC_MAXCONNECTIONS);
    auto source = std::make_unique<OpenSource>();
    if (!source->load(entry->path))
        return fail(&app, TWCC_OPERATIONERROR);
    inOut = entry->identity;
    inOut.Id = nextId++;
    source->identity = inOut;
    TW_UINT16 result = source->call(origin, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &inOut);
    if (result != TWRC_SUCCESS) {
        // The application asks us, not the source, why the open failed.
        TW_UINT16 code = source->askStatus(origin);
        inOut.Id = 0;
        return fail(&app, code == TWCC_SUCCESS ? TWCC_OPERATIONERROR : code);
    }
    app.sources.push_back(std::move(source));
    return succeed(app);
}

TW_UINT16 SourceManager::closeSource(Application& app, pTW_IDENTITY origin, TW_IDENTITY& which) {
    OpenSource* source = findOpenSource(app, which.Id);
    if (!source)
        return fail(&app, TWCC_NODS);
    // Closing a source from inside one of its own calls would unload the code still running.
    if (source->busy())
        return fail(&app, TWCC_SEQERROR);
    TW_UINT16 result = source->call(origin, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &which);
    // The call may have re-entered the manager; look the source up again.
    source = findOpenSource(app, which.Id);
    if (result != TWRC_SUCCESS) {
        TW_UINT16 code = source ? source->askStatus(origin) : TWCC_BUMMER;
        return fail(&app, code == TWCC_SUCCESS ? TWCC_OPERATIONERROR : code);
    }
    for (auto it = app.sources.begin(); it != app.sources.end(); ++it) {
        if (it->get() == source) {
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
    bool processEvent = dg == DG_CONTROL && dat == DAT_EVENT && msg == MSG_PROCESSEVENT;
    if (processEvent && !data)
        return fail(&app, TWCC_BADVALUE);
    TW_UINT16 result = source->call(origin, dg, dat, msg, data);
    if (!processEvent || result != TWRC_NOTDSEVENT)
        return result;
    // The source did not want this message: a notification it sent earlier goes out now.
    // The source's call may have re-entered the manager, so it is looked up again.
    Application* owner = findApplication(origin->Id);
    source = owner ? findOpenSource(*owner, sourceId) : nullptr;
    TW_UINT16 pending = MSG_NULL;
    if (!source || !source->takeNotification(pending))
        return result;
    static_cast<TW_EVENT*>(data)->TWMessage = pending;
    return TWRC_DSEVENT;
}

TW_UINT16 SourceManager::notificationFromSource(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT16 msg) {
    Application* app = ownerOfSource(origin->Id);
    if (!app)
        return fail(nullptr, TWCC_BADPROTOCOL);
    // Refusals go to the stray code: the application's own code is not the source's business.
    if (dest && dest->Id != app->identity.Id)
        return fail(nullptr, TWCC_BADDEST);
    if (!isNotification(msg))
        return fail(nullptr, TWCC_BADPROTOCOL);
    findOpenSource(*app, origin->Id)->queueNotification(msg);
    // Wakes the application's message loop; the message itself carries nothing it must read.
    PostMessageA(app->window, notifyMessageId, origin->Id, msg);
    return TWRC_SUCCESS;
}
