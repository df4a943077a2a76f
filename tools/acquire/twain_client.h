// TwainClient: the application's side of TWAIN - the Source Manager library, the application's
// identity, the one source it opens, and a record of the last failure (triplet, return code and
// the condition code asked right after it) so that every failure can be reported precisely.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "source/twain.h"

class TwainClient {
public:
    TwainClient();
    ~TwainClient();
    TwainClient(const TwainClient&) = delete;
    TwainClient& operator=(const TwainClient&) = delete;

    // Loads the manager library (TWAIN_32.DLL, TWAINDSM.DLL or any file named) and finds DSM_Entry.
    bool load(const std::string& managerFile, std::string& error);
    // The file of the manager that answers DSM_Entry, and whether it is Wine's own (which lists
    // only Wine's sources). Wine's own is reported by its place in the system folder, even
    // when Wine loaded it in place of a file we named.
    std::string managerPath() const;
    bool managerIsWines() const;

    // Before openManager: act as a TWAIN 2.x application. The identity says DF_APP2; after
    // MSG_OPENDSM the manager's memory functions are asked for (DAT_ENTRYPOINT), and after
    // MSG_OPENDS a DAT_CALLBACK2 callback is registered, through which the manager delivers
    // the source's notifications instead of through MSG_PROCESSEVENT. The callback posts a
    // wake-up to `window`; with a null window it posts nothing.
    void actAsApp2(HWND window);
    bool isApp2() const { return app2; }
    // A notification that arrived through the callback, oldest first.
    bool takeCallbackNotification(TW_UINT16& msg);

    // Memory the source handed over (native bitmaps): locked, unlocked and freed with the
    // manager's functions when a 2.x manager gave them, the global-memory functions otherwise.
    void* lockHandle(TW_HANDLE handle);
    void unlockHandle(TW_HANDLE handle);
    void freeHandle(TW_HANDLE handle);

    bool openManager(HWND window);
    bool listSources(std::vector<TW_IDENTITY>& sources);
    bool openSource(const std::string& productName);
    // MSG_OPENDS with an identity that holds nothing but the Id.
    bool openSourceById(TW_UINT32 id);
    bool enableSource(HWND window, bool showUI);
    bool disableSource();
    bool closeSource();
    bool closeManager();

    // Passes one window message to the source. True when the source took it; then
    // `notification` holds TW_EVENT.TWMessage (MSG_NULL, MSG_XFERREADY, MSG_CLOSEDSREQ...).
    bool processEvent(MSG& message, TW_UINT16& notification);

    // A triplet to the open source. `accepted` lists the return codes that count as success
    // (TWRC_SUCCESS alone when empty); any other result is recorded as the last failure.
    TW_UINT16 sourceCall(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data,
                         std::initializer_list<TW_UINT16> accepted = {});
    bool succeeded() const { return lastCallOk; }

    bool managerOpen() const { return managerIsOpen; }
    bool sourceOpen() const { return sourceIsOpen; }
    bool sourceEnabled() const { return sourceIsEnabled; }
    const TW_IDENTITY& sourceIdentity() const { return source; }

    // "DG_CONTROL / DAT_CAPABILITY / MSG_SET: TWRC_FAILURE, condition code 10 (TWCC_BADVALUE)"
    std::string failureText() const { return lastFailure; }
    // Records a failure found by the caller in a result that TWAIN called a success.
    void noteFailure(const std::string& text) { lastFailure = text; }

private:
    static TW_UINT16 TW_CALLINGSTYLE callback(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                                              TW_UINT16 msg, TW_MEMREF data);
    bool askEntryPoint();
    bool registerCallback();

    TW_UINT16 managerCall(pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
    void recordFailure(pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 rc);

    HMODULE library = nullptr;
    DSMENTRYPROC entry = nullptr;
    TW_IDENTITY app{};
    TW_IDENTITY source{};
    HWND parent = nullptr;
    TW_USERINTERFACE ui{};
    bool managerIsOpen = false;
    bool sourceIsOpen = false;
    bool sourceIsEnabled = false;
    bool lastCallOk = false;
    std::string lastFailure;
    bool app2 = false;
    HWND callbackWindow = nullptr;
    TW_ENTRYPOINT managerEntry{};
    bool haveManagerEntry = false;
    std::deque<TW_UINT16> callbackNotifications;
};
