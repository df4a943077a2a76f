// DialogDriver: drives the source's dialogs headless, as a user would, for --auto.
//
// The source's dialogs run on our thread, and its modal dialogs and message boxes run their
// own message loops, so the driver is ticked from a TIMERPROC (modal loops dispatch timer
// messages too) and only looks at window state and posts messages; it never waits.
//
// --auto:    wait until the camera dialog has connected (Open or Setting enabled), report the
//            status texts (1005, 1007), press Cancel.
// --auto N:  the same wait, press Open, wait for the acquire dialog's listing to end (Aquire
//            enabled), click the cell of list position N in the grid (scrolled into view),
//            press Aquire once the cell shows it is selected; the application then takes the
//            picture when MSG_XFERREADY arrives.
// --auto all: the --auto N road for N = 1 .. pictures taken, one Open per picture; after the
//            last one, Cancel.
// --close-during listing: on the first tick of the listing the driver asks the application to
//            close the source; download: once the progress window is up (seen from a second
//            thread, as no timer runs during a download), the request waits for the next tick.
// --set-rate I, --clock-from-pc: once connected, press Setting, choose the bit rate and/or tick
//            the PC-clock box, press OK, and go on once the settings dialog has closed.
// Message boxes titled "Zelmar Dorvex" are reported once each, and answered only when an
// answer was given on the command line; while one is up nothing else is done.
#pragma once

#include <memory>
#include <set>
#include <string>

#include <windows.h>

#include "tools/acquire/options.h"
#include "tools/acquire/progress_watch.h"

class DialogDriver {
public:
    explicit DialogDriver(const AcquireOptions& options);
    ~DialogDriver();

    void tick();

    // The status report is done and Cancel pressed (--auto without N).
    bool reportDone() const { return state == State::Done; }
    // The driver gave up (no such list position, Open disabled); it pressed Cancel.
    bool gaveUp() const { return state == State::GaveUp; }
    // The list position being acquired (--auto N, --auto all).
    int listPosition() const { return position; }
    // --auto all: the application has taken the picture; go on with the next one.
    void pictureTaken();
    // --close-during: the moment has come for the application to close the source.
    bool closeWanted() const {
        return closeMoment || (options.closeDuring == CloseDuring::Download && progressWatch && progressWatch->seen());
    }
    // --rude: the moment for the application's act has come (once).
    bool rudeWanted() const {
        return rudeMoment || ((options.rude == RudeAct::DestroyDownload || options.rude == RudeAct::CloseDownload) &&
                              progressWatch && progressWatch->seen());
    }
    // The acquire dialog's window, when one was seen.
    HWND acquireWindow() const { return acquireDialog; }

private:
    enum class State { WaitConnected, WaitSettingsDialog, WaitSettingsClosed, WaitAcquireDialog, WaitListing, ConfirmSelection, WaitTransfer, Done, GaveUp };

    bool handleMessageBoxes();
    void waitConnected();
    void waitAcquireDialog();
    void waitSettingsDialog();
    void waitSettingsClosed();
    void waitListing();
    void confirmSelection();
    void giveUp(const std::string& why);
    void wantClose(const char* during);
    void wantRude(const char* during);
    bool pressAnswer(HWND box);

    const AcquireOptions& options;
    State state = State::WaitConnected;
    HWND cameraDialog = nullptr;
    HWND acquireDialog = nullptr;
    int connectedTicks = 0;
    HWND cell = nullptr;
    int confirmTicks = 0;
    bool connectionReported = false;
    int position = 0;
    int total = 0;  // pictures taken, as the camera dialog shows it
    bool closeMoment = false;
    bool rudeMoment = false;
    bool settingsDone = false;
    HWND settingsDialog = nullptr;
    std::unique_ptr<ProgressWatch> progressWatch;  // --close-during download
    std::set<HWND> reportedBoxes;
    std::set<HWND> answeredBoxes;
};

// Posts the command of a dialog's button (as a click would) when the button exists and is
// enabled. False otherwise.
bool pressButton(HWND dialog, int id);
