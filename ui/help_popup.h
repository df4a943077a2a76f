// HelpPopup: the caption-less box (dialog 135) that shows one help text at the mouse cursor.
//
// It holds the mouse capture while it is open and closes with IDCANCEL on the next left click
// anywhere, on a key press, or when it stops being the active window.
#pragma once

#include "ui/dialog_window.h"

class HelpText;

class HelpPopup : public DialogWindow {
public:
    HelpPopup(UINT stringId, HWND parent);
    ~HelpPopup() override;

    // Runs the pop-up modally; returns IDCANCEL (or -1 when it could not be created).
    INT_PTR run();

    // Ends the pop-up (the text control forwards key presses here).
    void close();

protected:
    BOOL onInitDialog() override;
    void onOK() override { close(); }
    void onCancel() override { close(); }
    void onDestroy() override;
    INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

private:
    UINT stringId;
    HWND parent;
    HelpText* text = nullptr;  // owned
};
