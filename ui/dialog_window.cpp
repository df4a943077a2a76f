#include "ui/dialog_window.h"

#include "source/module.h"

DialogWindow::~DialogWindow() {
    destroyWindow();
}

HWND DialogWindow::createModeless(int templateId, HWND parent) {
    modal = false;
    return CreateDialogParamA(moduleInstance(), MAKEINTRESOURCEA(templateId), parent, dialogProc,
                              reinterpret_cast<LPARAM>(this));
}

INT_PTR DialogWindow::runModal(int templateId, HWND parent) {
    modal = true;
    const INT_PTR result = DialogBoxParamA(moduleInstance(), MAKEINTRESOURCEA(templateId), parent, dialogProc,
                                           reinterpret_cast<LPARAM>(this));
    window = nullptr;
    return result;
}

void DialogWindow::destroyWindow() {
    if (window && !modal) {
        HWND doomed = window;
        DestroyWindow(doomed);  // WM_NCDESTROY clears window
        window = nullptr;
    }
}

DialogWindow* DialogWindow::fromWindow(HWND hwnd) {
    return hwnd ? reinterpret_cast<DialogWindow*>(GetWindowLongPtrA(hwnd, DWLP_USER)) : nullptr;
}

void DialogWindow::endDialog(INT_PTR result) {
    if (!window) return;
    if (modal)
        EndDialog(window, result);
    else
        destroyWindow();
}

void DialogWindow::onCommand(int id, int, HWND) {
    if (id == IDOK)
        onOK();
    else if (id == IDCANCEL)
        onCancel();
}

INT_PTR DialogWindow::onMessage(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return FALSE;
}

INT_PTR DialogWindow::handle(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    handled = true;
    switch (message) {
    case WM_INITDIALOG:
        return onInitDialog();
    case WM_COMMAND:
        onCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return TRUE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        // The stock light grey brush is exactly RGB(192,192,192) and needs no freeing.
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkColor(dc, backgroundColour);
        return reinterpret_cast<INT_PTR>(GetStockObject(LTGRAY_BRUSH));
    }
    case WM_DESTROY:
        onDestroy();
        return FALSE;
    default:
        break;
    }
    return onMessage(message, wParam, lParam, handled);
}

INT_PTR CALLBACK DialogWindow::dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    DialogWindow* self = fromWindow(hwnd);
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<DialogWindow*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->window = hwnd;
    }
    if (!self) return FALSE;  // messages before WM_INITDIALOG
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        self->window = nullptr;
        return FALSE;
    }
    bool handled = false;
    const INT_PTR result = self->handle(message, wParam, lParam, handled);
    return handled ? result : FALSE;
}
