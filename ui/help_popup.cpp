#include "ui/help_popup.h"

#include <commctrl.h>

#include <new>

#include "resources/resource_ids.h"
#include "source/module.h"

// The pop-up's text control: a subclassed static whose only behaviour of its own is to pass key
// presses on to the pop-up, so that a key closes the pop-up whichever of the two has the focus.
class HelpText {
public:
    HelpText(HWND control, HWND popup) : control(control), popup(popup) {
        attached = SetWindowSubclass(control, subclassProc, subclassId, reinterpret_cast<DWORD_PTR>(this)) != FALSE;
    }
    ~HelpText() {
        if (attached) RemoveWindowSubclass(control, subclassProc, subclassId);
    }
    HelpText(const HelpText&) = delete;
    HelpText& operator=(const HelpText&) = delete;

    bool isAttached() const { return attached; }

private:
    static constexpr UINT_PTR subclassId = 1;

    static LRESULT CALLBACK subclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                         DWORD_PTR refData) {
        auto* self = reinterpret_cast<HelpText*>(refData);
        if (message == WM_KEYDOWN && self) return SendMessageA(self->popup, message, wParam, lParam);
        if (message == WM_NCDESTROY && self) {
            RemoveWindowSubclass(hwnd, subclassProc, subclassId);
            self->attached = false;
        }
        return DefSubclassProc(hwnd, message, wParam, lParam);
    }

    HWND control;
    HWND popup;
    bool attached = false;
};

HelpPopup::HelpPopup(UINT stringId, HWND parent) : stringId(stringId), parent(parent) {}

HelpPopup::~HelpPopup() {
    delete text;
}

INT_PTR HelpPopup::run() {
    return runModal(IDD_HELP_POPUP, parent);
}

void HelpPopup::close() {
    endDialog(IDCANCEL);
}

BOOL HelpPopup::onInitDialog() {
    HWND control = item(IDC_HELP_TEXT);
    text = control ? new (std::nothrow) HelpText(control, hwnd()) : nullptr;
    if (!text || !text->isAttached()) {
        PostMessageA(hwnd(), WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        return TRUE;
    }
    SetCursor(LoadCursor(nullptr, IDC_ARROW));
    char buffer[512];
    if (LoadStringA(moduleInstance(), stringId, buffer, sizeof buffer) > 0) SetWindowTextA(control, buffer);
    POINT cursor{};
    if (GetCursorPos(&cursor))
        SetWindowPos(hwnd(), nullptr, cursor.x, cursor.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetCapture(hwnd());
    return TRUE;
}

void HelpPopup::onDestroy() {
    if (GetCapture() == hwnd()) ReleaseCapture();
}

INT_PTR HelpPopup::onMessage(UINT message, WPARAM wParam, LPARAM, bool& handled) {
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        close();
        handled = true;
        return TRUE;
    case WM_ACTIVATE:
        // Losing the activation closes the pop-up, after the switch has finished.
        if (LOWORD(wParam) == WA_INACTIVE) PostMessageA(hwnd(), WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        handled = false;
        return FALSE;
    case WM_SHOWWINDOW:
        // The dialog manager cancels modes (WM_CANCELMODE releases the capture) between the
        // initialisation and the showing of a modal dialog, at least under Wine: take the
        // capture again once the pop-up is shown.
        if (wParam) SetCapture(hwnd());
        handled = false;
        return FALSE;
    default:
        handled = false;
        return FALSE;
    }
}
