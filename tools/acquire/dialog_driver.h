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
// Message boxes titled "Zelmar Dorvex" are reported once each, and answered only when an
// answer was given on the command line; while one is up nothing else is done.
#pragma once

#include <set>
#include <string>

#include <windows.h>

#include "tools/acquire/options.h"

class DialogDriver {
public:
    explicit DialogDriver(const AcquireOptions& options);

    void tick();

    // The status report is done and Cancel pressed (--auto without N).
    bool reportDone() const { return state == State::Done; }
    // The driver gave up (no such list position, Open disabled); it pressed Cancel.
    bool gaveUp() const { return state == State::GaveUp; }

private:
    enum class State { WaitConnected, WaitAcquireDialog, WaitListing, ConfirmSelection, WaitTransfer, Done, GaveUp };

    bool handleMessageBoxes();
    void waitConnected();
    void waitAcquireDialog();
    void waitListing();
    void confirmSelection();
    void giveUp(const std::string& why);

    const AcquireOptions& options;
    State state = State::WaitConnected;
    HWND cameraDialog = nullptr;
    HWND acquireDialog = nullptr;
    int connectedTicks = 0;
    HWND cell = nullptr;
    int confirmTicks = 0;
    std::set<HWND> reportedBoxes;
    std::set<HWND> answeredBoxes;
};

// Posts the command of a dialog's button (as a click would) when the button exists and is
// enabled. False otherwise.
bool pressButton(HWND dialog, int id);
