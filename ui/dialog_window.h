// DialogWindow: the base of every dialog of the source (modeless or modal, from a template).
//
// The object is reached from its own window through DWLP_USER; messages that arrive before
// WM_INITDIALOG (WM_SETFONT and the like) find no object and take the default. Derived
// classes override the onXxx handlers; anything they leave unhandled goes to the dialog
// manager. Every dialog gets the source's light grey background with black text.
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
    INT_PTR runModal(int templateId, HWND parent);
    // Destroys a modeless window (safe when there is none).
    void destroyWindow();

    HWND hwnd() const { return window; }
    HWND item(int id) const { return GetDlgItem(window, id); }
    bool isModal() const { return modal; }

    static DialogWindow* fromWindow(HWND hwnd);

    // The grey of every dialog and its labels.
    static constexpr COLORREF backgroundColour = RGB(192, 192, 192);

protected:
    virtual BOOL onInitDialog() { return TRUE; }
    virtual void onCommand(int id, int notifyCode, HWND control);
    virtual void onOK() { endDialog(IDOK); }
    virtual void onCancel() { endDialog(IDCANCEL); }
    virtual void onDestroy() {}
    // Every other message; set handled to take it (the return value becomes the dialog
    // procedure's result, SetWindowLongPtr(DWLP_MSGRESULT) being the handler's business).
    virtual INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);

    // Ends a modal dialog with result; destroys a modeless one.
    void endDialog(INT_PTR result);

private:
    static INT_PTR CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);

    HWND window = nullptr;
    bool modal = false;
};
