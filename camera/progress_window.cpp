// CameraLink's window: the transfer progress dialog. It is serviced only from inside a download:
// no messages are dispatched while the link blocks the thread, so each progress step paints the
// window itself and takes at most one pending click to see whether Cancel was hit.
#include <windows.h>
#include <commctrl.h>

#include "camera/camera_link.h"
#include "resources/resource_ids.h"

HWND CameraLink::createWindow(HWND parent) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);
    return createModeless(IDD_PROGRESS, parent);
}

BOOL CameraLink::onInitDialog() {
    HWND cancel = item(IDCANCEL);
    if (cancel) {
        RECT rect{};
        GetWindowRect(cancel, &rect);
        MapWindowPoints(HWND_DESKTOP, hwnd(), reinterpret_cast<POINT*>(&rect), 2);
        cancelRect = rect;
    }
    centreOverOwner(hwnd());
    return TRUE;
}

int CameraLink::startProgress(int low, int high, int step) {
    if (progressSuppressed) return 0;
    HWND cancel = item(IDCANCEL);
    if (cancel) SendMessageA(cancel, BM_SETSTATE, FALSE, 0);
    HWND bar = item(IDC_PROGRESS_BAR);
    if (!bar) return 0;
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(static_cast<WORD>(low), static_cast<WORD>(high)));
    SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(low), 0);
    SendMessageA(bar, PBM_SETSTEP, static_cast<WPARAM>(step), 0);
    return 1;
}

int CameraLink::stepProgress(int position) {
    if (progressSuppressed) return 1;
    MSG message;
    // One click per step, never dispatched. The window holds the capture during a download, so
    // every click arrives here in its client coordinates; one addressed to a child is mapped.
    if (hwnd() && PeekMessageA(&message, hwnd(), WM_LBUTTONDOWN, WM_LBUTTONDOWN, PM_REMOVE)) {
        POINT point = {static_cast<short>(LOWORD(message.lParam)), static_cast<short>(HIWORD(message.lParam))};
        if (message.hwnd != hwnd()) MapWindowPoints(message.hwnd, hwnd(), &point, 1);
        if (PtInRect(&cancelRect, point)) {
            HWND cancel = item(IDCANCEL);
            if (cancel) SendMessageA(cancel, BM_SETSTATE, TRUE, 0);
            cancelRequested = 1;
        }
    }
    HWND bar = item(IDC_PROGRESS_BAR);
    if (!bar) return 0;
    SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    RedrawWindow(hwnd(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    return 1;
}

void CameraLink::showProgress() {
    if (!hwnd()) return;
    ShowWindow(hwnd(), SW_SHOW);
    UpdateWindow(hwnd());
}

void CameraLink::hideProgress() {
    if (hwnd()) ShowWindow(hwnd(), SW_HIDE);
}
