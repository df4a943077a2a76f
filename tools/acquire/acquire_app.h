// AcquireApp: the TWAIN application - a hidden top-level window with its own message loop,
// a session with one source, and the picture it receives.
//
// Every window message goes to the source first (MSG_PROCESSEVENT) while it is enabled; the
// notifications it returns drive the session: MSG_XFERREADY takes and saves the picture,
// MSG_CLOSEDSREQ ends the session. A timer bounds the run and ticks the dialog driver.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/acquire/dialog_driver.h"
#include "tools/acquire/options.h"
#include "tools/acquire/parent_thread.h"
#include "tools/acquire/responsiveness_probe.h"
#include "tools/acquire/sent_ticker.h"
#include "tools/acquire/twain_client.h"

enum ExitStatus {
    ExitPicture = 0,
    ExitFailure = 1,
    ExitNoPicture = 2,
    ExitTimedOut = 3,
    ExitUsage = 4,
    ExitRudeMissed = 5,  // --rude: the act's moment never came
};

class AcquireApp {
public:
    explicit AcquireApp(const AcquireOptions& options);
    ~AcquireApp();
    int run();

private:
    bool createWindow();
    bool outputFolderWritable(std::string& error) const;
    bool startSession();
    bool openChosenSource(const std::vector<TW_IDENTITY>& sources);
    HWND twainParent() const;
    bool negotiate();
    void messageLoop();
    void onNotification(TW_UINT16 msg);
    void onTransferReady();
    void takePicture();
    void endSession();
    void finish(int status);
    void failTwain();
    void onTimer();
    void closeWhileBusy();
    void actRudely();
    void afterRudeAct();
    void afterDisableListing();
    void unloadEnabled();
    std::string picturePath() const;
    static void CALLBACK timerProc(HWND hwnd, UINT, UINT_PTR, DWORD);
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    const AcquireOptions& options;
    TwainClient client;
    std::unique_ptr<DialogDriver> driver;
    HWND window = nullptr;
    ParentThread parentThread;  // --parent thread
    SentTicker sentTicker;      // --callback-lazy: ticks instead of the timer
    DWORD deadline = 0;
    bool finished = false;
    bool timedOut = false;
    int exitStatus = ExitNoPicture;
    bool closing = false;  // --close-during: the session is being closed early
    // --rude: done once; disable-subdialog enables the source again after some ticks.
    bool rudeDone = false;
    int rudeWaited = 0;
    int reenableTicks = 0;
    // disable-listing: ticks left to see the camera dialog connected again after the enable.
    int reconnectTicks = 0;
    ResponsivenessProbe probe;  // with --rude
};
