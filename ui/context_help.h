// Context help shared by the source's dialogs.
//
// Route of a help request: the window system turns the caption's help button (and the F1 key)
// into WM_HELP for the dialog. Every dialog hands it to forwardHelpRequest, which passes the
// help command (ID_HELP_COMMAND) to the camera dialog found up the owner chain. The camera
// dialog answers with runHelpCommand: unless F1 is down (a help request made with the key shows
// nothing) it sends UM_CONTEXT_HELP to the active window, and that dialog calls
// showContextHelp with its own table to pop up the text of the control under the mouse cursor.
//
// A dialog with help texts therefore does, in its message handler:
//     case WM_HELP:        forwardHelpRequest(hwnd()); return TRUE;
//     case UM_CONTEXT_HELP: showContextHelp(hwnd(), myTable, std::size(myTable)); return TRUE;
#pragma once

#include <windows.h>

#include <cstddef>

// One row of a dialog's help table: the controls firstId..lastId show string stringId.
struct HelpEntry {
    int firstId;
    int lastId;
    UINT stringId;
};

// The id of the dialog's direct child under the mouse cursor: the first child in window order
// whose id (as 16 bits) is neither 0 nor 0xFFFF, which is visible and whose screen rectangle
// holds the cursor. 0 when there is none.
int findControlUnderCursor(HWND dialog);

// The string of control id in table, 0 when the table has none.
UINT helpStringFor(const HelpEntry* table, size_t count, int id);

// Shows the help pop-up for the control under the cursor when table has a text for it;
// returns the string shown, 0 when nothing was shown.
UINT showContextHelp(HWND dialog, const HelpEntry* table, size_t count);

// Marks the window that answers the help command (the camera dialog) / removes the mark.
void registerHelpTarget(HWND target);
void unregisterHelpTarget(HWND target);

// Sends the help command to the help target: the dialog itself or the first window up its
// owner chain that is marked. Returns false when there is none.
bool forwardHelpRequest(HWND dialog);

// The help command's handler: sends UM_CONTEXT_HELP to the thread's active window unless the
// F1 key is down at this moment. Returns true when the message was sent.
bool runHelpCommand();
