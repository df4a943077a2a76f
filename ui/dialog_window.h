// DialogWindow: the base of every dialog of the source (modeless or modal, from a template).
//
// The object is reached from its own window through DWLP_USER; messages that arrive before
// WM_INITDIALOG (WM_SETFONT and the like) find no object and take the default. Derived
// classes override the onXxx handlers; anything they leave unhandled goes to the dialog
// manager. Every dialog gets the source's light grey background with black text.
//
// Lifetime. The source lives on the application's thread, so any message loop it runs (a
// modal dialog, a message box, a pump between two camera commands) may run the application's
// code, which may destroy the window that owns ours, disable or close the source. Hence:
// - every handler runs counted (handlerDepth); a window destroyed under a running handler
//   is seen through alive(), which every loop checks after each pump and which every handler
//   checks after a nested loop returns, unwinding at once when it reads false;
// - onRelease() runs once the window is gone and no handler of the object runs any more:
//   that is where resources that running handlers still use are given back;
// - dispose() deletes the object now, or when its last handler has returned.
#pragma once

#include <windows.h>

class DialogWindow {
public:
    DialogWindow() = default;
    virtual ~DialogWindow();
    DialogWindow(const DialogWindow&) = delete;
    DialogWindow& operator=(const DialogWindow&) = delete;

    // Creates the dialog modeless (hidden unless the template says WS_VISIBLE). Null on failure.
    HWND createModeless(int templateId, HWND parent);
    // Runs the dialog modally; returns what endDialog was given, or -1 when it could not start.
    // A dialog whose window was destroyed from outside returns IDCANCEL.
    INT_PTR runModal(int templateId, HWND parent);
    // Destroys a modeless window (safe when there is none).
    void destroyWindow();
    // Destroys the window and deletes the object, at once when none of its handlers is
    // running, otherwise as soon as the outermost one returns.
    void dispose();

    HWND hwnd() const { return window; }
    HWND item(int id) const { return GetDlgItem(window, id); }
    bool isModal() const { return modal; }
    // The window exists and has not been ended: false once it was destroyed, ended or
    // dismissed from outside. Loops and handlers stop as soon as they read false.
    bool alive() const { return window != nullptr && !ending; }
    // A handler of this object is on the stack.
    bool inHandler() const { return handlerDepth > 0; }

    static DialogWindow* fromWindow(HWND hwnd);

    // Ends every modal dialog and message box of this thread owned, directly or not, by
    // owner: each returns as cancelled once its loop gets to run. Windows of the source only
    // (what the caller owns); the owner itself stays.
    static void endModalLoopsOwnedBy(HWND owner);

    // Runs a message box of the source (its title, a text from the string table) owned by
    // owner. The box is ended with IDCANCEL when the source is disabled or closed under it.
    static int messageBox(HWND owner, UINT stringId, UINT type);

    // Places window centred over its owner when the owner is visible (the work area
    // otherwise), kept whole on the work area.
    static void centreOverOwner(HWND window);

    // The grey of every dialog and its labels.
    static constexpr COLORREF backgroundColour = RGB(192, 192, 192);

protected:
    virtual BOOL onInitDialog() { return TRUE; }
    virtual void onCommand(int id, int notifyCode, HWND control);
    virtual void onOK() { endDialog(IDOK); }
    virtual void onCancel() { endDialog(IDCANCEL); }
    virtual void onDestroy() {}
    // The window is gone and no handler of this object runs: give back what handlers used.
    // Runs once per window.
    virtual void onRelease() {}
    // Every other message; set handled to take it (the return value becomes the dialog
    // procedure's result, SetWindowLongPtr(DWLP_MSGRESULT) being the handler's business).
    virtual INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);

    // Ends a modal dialog with result; destroys a modeless one.
    void endDialog(INT_PTR result);

private:
    static INT_PTR CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    // After a handler returned: release and delete what waited for it.
    bool settleAfterHandler();

    HWND window = nullptr;
    bool modal = false;
    bool ending = false;          // ended or destroyed from outside; handlers unwind
    bool selfEnded = false;       // ended or destroyed by its own endDialog/destroyWindow
    bool releasePending = false;  // window gone, onRelease not yet run
    bool deletePending = false;   // dispose() waits for the handlers
    int handlerDepth = 0;
};
