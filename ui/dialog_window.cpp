#include "ui/dialog_window.h"

#include <cstring>
#include <vector>

#include "resources/resource_ids.h"
#include "source/module.h"

namespace {

// Every DialogWindow that has a window, so that windows of this source can be told from
// foreign ones (a message box keeps its own data in DWLP_USER).
std::vector<DialogWindow*>& liveDialogs() {
    static std::vector<DialogWindow*> dialogs;
    return dialogs;
}

void forget(DialogWindow* dialog) {
    auto& dialogs = liveDialogs();
    for (auto it = dialogs.begin(); it != dialogs.end(); ++it)
        if (*it == dialog) {
            dialogs.erase(it);
            return;
        }
}

DialogWindow* registeredDialogOf(HWND hwnd) {
    for (DialogWindow* dialog : liveDialogs())
        if (dialog->hwnd() == hwnd) return dialog;
    return nullptr;
}

bool isOwnedBy(HWND window, HWND owner) {
    // Owner chains are short; the bound only protects against a cycle.
    HWND above = GetWindow(window, GW_OWNER);
    for (int depth = 0; above && depth < 32; ++depth) {
        if (above == owner) return true;
        above = GetWindow(above, GW_OWNER);
    }
    return false;
}

BOOL CALLBACK collectWindow(HWND hwnd, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
    return TRUE;
}

bool isDialogClass(HWND hwnd) {
    char name[16] = {};
    GetClassNameA(hwnd, name, sizeof name);
    return std::strcmp(name, "#32770") == 0;
}

}  // namespace

DialogWindow::~DialogWindow() {
    destroyWindow();
    forget(this);
}

HWND DialogWindow::createModeless(int templateId, HWND parent) {
    modal = false;
    ending = false;
    selfEnded = false;
    return CreateDialogParamA(moduleInstance(), MAKEINTRESOURCEA(templateId), parent, dialogProc,
                              reinterpret_cast<LPARAM>(this));
}

INT_PTR DialogWindow::runModal(int templateId, HWND parent) {
    modal = true;
    ending = false;
    selfEnded = false;
    bool destroyedFromOutside = false;
    INT_PTR result = DialogBoxParamA(moduleInstance(), MAKEINTRESOURCEA(templateId), parent, dialogProc,
                                     reinterpret_cast<LPARAM>(this));
    // A dialog ended or destroyed by someone else returns as cancelled, whatever its loop says.
    if (ending) destroyedFromOutside = true;
    window = nullptr;
    return destroyedFromOutside ? IDCANCEL : result;
}

void DialogWindow::destroyWindow() {
    if (window && !modal) {
        selfEnded = true;
        HWND doomed = window;
        DestroyWindow(doomed);  // WM_NCDESTROY clears window
        window = nullptr;
    }
}

void DialogWindow::dispose() {
    if (window) {
        if (modal) {
            ending = true;
            EndDialog(window, IDCANCEL);
        } else {
            destroyWindow();
        }
    }
    if (handlerDepth > 0) {
        deletePending = true;
        return;
    }
    delete this;
}

DialogWindow* DialogWindow::fromWindow(HWND hwnd) {
    return hwnd ? reinterpret_cast<DialogWindow*>(GetWindowLongPtrA(hwnd, DWLP_USER)) : nullptr;
}

void DialogWindow::endModalLoopsOwnedBy(HWND owner) {
    if (!owner) return;
    std::vector<HWND> windows;
    EnumThreadWindows(GetCurrentThreadId(), collectWindow, reinterpret_cast<LPARAM>(&windows));
    for (HWND hwnd : windows) {
        if (!IsWindow(hwnd) || !isOwnedBy(hwnd, owner)) continue;
        if (DialogWindow* dialog = registeredDialogOf(hwnd)) {
            if (!dialog->modal) continue;  // modeless windows (the progress window) stay
            dialog->ending = true;
            ShowWindow(hwnd, SW_HIDE);
            EndDialog(hwnd, IDCANCEL);
        } else if (isDialogClass(hwnd)) {
            // A message box of the source: it returns IDCANCEL, which every caller reads as
            // "no".
            ShowWindow(hwnd, SW_HIDE);
            EndDialog(hwnd, IDCANCEL);
        }
    }
}

int DialogWindow::messageBox(HWND owner, UINT stringId, UINT type) {
    char text[512] = {}, title[128] = {};
    LoadStringA(moduleInstance(), stringId, text, sizeof text);
    LoadStringA(moduleInstance(), IDS_TITLE, title, sizeof title);
    const int answer = MessageBoxA(owner, text, title, type);
    // A box destroyed with its owner returns 0; ended from outside it returns IDCANCEL.
    return answer == 0 ? IDCANCEL : answer;
}

void DialogWindow::centreOverOwner(HWND window) {
    RECT dialog{};
    GetWindowRect(window, &dialog);
    RECT area{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    RECT around = area;
    HWND owner = GetWindow(window, GW_OWNER);
    if (owner && IsWindowVisible(owner)) GetWindowRect(owner, &around);
    const int width = dialog.right - dialog.left;
    const int height = dialog.bottom - dialog.top;
    int x = (around.left + around.right - width) / 2;
    int y = (around.top + around.bottom - height) / 2;
    // Keep the whole dialog on the screen, its caption above all.
    if (x + width > area.right) x = area.right - width;
    if (y + height > area.bottom) y = area.bottom - height;
    if (x < area.left) x = area.left;
    if (y < area.top) y = area.top;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void DialogWindow::endDialog(INT_PTR result) {
    if (!window) return;
    selfEnded = true;
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
        // A dialog ended from outside takes no more commands: its buttons may still be
        // pressed before its loop gets to return.
        if (!ending) onCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
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
    // The source's own requests (UM_*) to an ended dialog are dropped like its commands.
    if (ending && message >= WM_USER && message < 0x8000) return FALSE;
    return onMessage(message, wParam, lParam, handled);
}

bool DialogWindow::settleAfterHandler() {
    if (handlerDepth > 0) return false;
    if (releasePending) {
        releasePending = false;
        onRelease();
    }
    if (deletePending) {
        delete this;
        return true;
    }
    return false;
}

INT_PTR CALLBACK DialogWindow::dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    // Counted, so that a close made from inside a handler's loop keeps the module loaded.
    ModuleCall running;
    DialogWindow* self = fromWindow(hwnd);
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<DialogWindow*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->window = hwnd;
        self->releasePending = false;
        forget(self);
        liveDialogs().push_back(self);
    }
    if (!self) return FALSE;  // messages before WM_INITDIALOG
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        self->window = nullptr;
        // Destroyed by someone else (its owner going, the session closing): a running handler
        // sees alive() false and unwinds, and a modal loop returns as cancelled.
        if (!self->selfEnded) self->ending = true;
        forget(self);
        self->releasePending = true;
        self->settleAfterHandler();
        return FALSE;
    }
    ++self->handlerDepth;
    bool handled = false;
    const INT_PTR result = self->handle(message, wParam, lParam, handled);
    --self->handlerDepth;
    if (self->settleAfterHandler()) return FALSE;  // deleted
    return handled ? result : FALSE;
}
