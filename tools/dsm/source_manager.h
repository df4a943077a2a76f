// SourceManager: the TWAIN 1.x Source Manager behind DSM_Entry, as an application sees it.
//
// It serves the triplets that have no destination (DAT_PARENT, the DAT_IDENTITY source
// operations, DAT_STATUS for its own condition code), forwards every triplet with a
// destination to that source's DS_Entry, and passes notifications from a source back to its
// application: the source calls DSM_Entry(source, application, DG_CONTROL, DAT_NULL,
// MSG_XFERREADY | MSG_CLOSEDSREQ, null); the manager queues the message, posts a registered
// window message to the application's window so that its message loop wakes up, and hands
// the message out through the next MSG_PROCESSEVENT that the source does not claim.
//
// Everything runs on the application's thread. A source's modal loops may call back into
// the manager (notifications, or the application's own window procedure), so no reference
// into the tables is held across a call into a source.
#pragma once

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
        HWND window = nullptr;
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
    TW_UINT16 selectSource(Application& app, TW_IDENTITY& inOut);
    TW_UINT16 openSource(Application& app, pTW_IDENTITY origin, TW_IDENTITY& inOut);
    TW_UINT16 closeSource(Application& app, pTW_IDENTITY origin, TW_IDENTITY& which);
    const CatalogEntry* chooseSource(const Application& app, const TW_IDENTITY& wanted) const;

    TW_UINT16 forward(Application& app, pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                      TW_UINT16 msg, TW_MEMREF data);
    TW_UINT16 notificationFromSource(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT16 msg);

    std::vector<std::unique_ptr<Application>> applications;
    TW_UINT32 nextId = 1;
    // Condition code for callers that have no application record (before MSG_OPENDSM).
    TW_UINT16 strayConditionCode = TWCC_SUCCESS;
    UINT notifyMessageId = 0;
};
