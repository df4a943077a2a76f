// SourceManager: the TWAIN 1.x Source Manager behind DSM_Entry, as an application sees it.
//
// It serves the triplets that have no destination (DAT_PARENT, the DAT_IDENTITY source
// operations, DAT_STATUS for its own condition code), forwards every triplet with a
// destination to that source's DS_Entry, and passes notifications from a source back to its
// application: the source calls DSM_Entry(source, application, DG_CONTROL, DAT_NULL,
// MSG_XFERREADY | MSG_CLOSEDSREQ, null); the manager queues the message, posts a registered
// message to the application (its window when that window belongs to the thread that opened
// the manager, else that thread's queue) so that an idle message loop wakes up, and hands the
// message out through the application's next MSG_PROCESSEVENT for that source, whatever the
// source makes of the event itself.
//
// Every source found gets an Id of its own when first listed, kept for the life of the
// process; an application may open a source by that Id, by its product name, or take the
// default (the one last selected or opened, remembered per user, else the first one found).
//
// A source opened by another manager in this process (the 2.x one, which loads this library
// to catch 1.x notifications) may send its notifications here: they are passed on to that
// manager's DSM_Entry.
//
// Everything runs on the application's thread. A source's modal loops may call back into
// the manager (notifications, or the application's own window procedure), so no reference
// into the tables is held across a call into a source.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "source/twain.h"
#include "tools/dsm/open_source.h"
#include "tools/dsm/source_catalog.h"

class SourceManager {
public:
    static SourceManager& instance();

    TW_UINT16 entry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                    TW_MEMREF data);

    // The window message posted to an application when a notification waits for it
    // (wParam = the source's Id, lParam = the message).
    UINT notifyMessage() const { return notifyMessageId; }

    // Upper bounds on what one application may hold open.
    static constexpr size_t maxApplications = 8;
    static constexpr size_t maxOpenSources = 8;

private:
    struct Application {
        TW_IDENTITY identity{};
        HWND window = nullptr;  // may be null, or a window of another thread or process
        DWORD thread = 0;       // the thread that opened the manager: where wake-ups go
        TW_UINT16 conditionCode = TWCC_SUCCESS;
        std::vector<CatalogEntry> catalog;
        size_t nextEntry = 0;
        bool enumerating = false;
        std::vector<std::unique_ptr<OpenSource>> sources;
    };

    SourceManager();

    Application* findApplication(TW_UINT32 id);
    OpenSource* findOpenSource(Application& app, TW_UINT32 sourceId);
    Application* ownerOfSource(TW_UINT32 sourceId);

    TW_UINT16 fail(Application* app, TW_UINT16 code);
    TW_UINT16 succeed(Application& app);

    TW_UINT16 managerCall(Application* app, pTW_IDENTITY origin, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
    TW_UINT16 openManager(pTW_IDENTITY origin, TW_MEMREF data);
    TW_UINT16 closeManager(Application& app);
    TW_UINT16 readStatus(Application* app, TW_UINT16 msg, TW_MEMREF data);
    TW_UINT16 identityCall(Application& app, pTW_IDENTITY origin, TW_UINT16 msg, TW_MEMREF data);
    TW_UINT16 listSource(Application& app, TW_UINT16 msg, TW_IDENTITY& out);
    TW_UINT16 selectSource(Application& app, TW_UINT16 msg, TW_IDENTITY& inOut);
    TW_UINT16 openSource(Application& app, pTW_IDENTITY origin, TW_IDENTITY& inOut);
    TW_UINT16 closeSource(Application& app, pTW_IDENTITY origin, TW_IDENTITY& which);
    const CatalogEntry* chooseSource(const Application& app, const TW_IDENTITY& wanted) const;
    const CatalogEntry* defaultSource(const Application& app) const;
    TW_UINT32 idForPath(const std::string& path);

    TW_UINT16 forward(Application& app, pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                      TW_UINT16 msg, TW_MEMREF data);
    TW_UINT16 processEvent(Application& app, pTW_IDENTITY origin, TW_UINT32 sourceId, TW_EVENT& event);
    TW_UINT16 notificationFromSource(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT16 msg, TW_MEMREF data);
    void wake(const Application& app, TW_UINT32 sourceId, TW_UINT16 msg);

#ifdef _WIN64
    // The TWAIN 2.x route of the 64-bit build (source_manager_2x.cpp): DAT_ENTRYPOINT for
    // applications (MSG_GET) and for DF_DS2 sources (MSG_SET before their MSG_OPENDS), and
    // application callbacks (DAT_CALLBACK2) that receive notifications instead of the queue.
    TW_UINT16 entry2x(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
    bool handOverEntryPoint(OpenSource& source, pTW_IDENTITY origin);
    TW_UINT16 callApplication(Application& app, OpenSource& source, TW_UINT16 msg);
#endif

    std::vector<std::unique_ptr<Application>> applications;
    // Sources closed while one of their calls was still running (test-only, see
    // DORVEX_DSM_NESTED_CLOSE), kept loaded until it returns.
    std::vector<std::unique_ptr<OpenSource>> retiredSources;
    TW_UINT32 nextId = 1;
    // Condition code for callers that have no application record (before MSG_OPENDSM).
    TW_UINT16 strayConditionCode = TWCC_SUCCESS;
    UINT notifyMessageId = 0;
    // Source Ids by lower-cased path, handed out once per process.
    std::map<std::string, TW_UINT32> sourceIds;
};
