#include "tests/tools/fake_dialogs.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int cameraTemplate = 300;
constexpr int acquireTemplate = 301;
constexpr UINT_PTR connectTimer = 1, listingTimer = 2;

HWND camera = nullptr;
FakeDialogEvents events{};
int selected = -1;

HINSTANCE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&thisModule), &module);
    return module;
}

int environmentNumber(const char* name, int fallback) {
    char text[16];
    return GetEnvironmentVariableA(name, text, sizeof text) > 0 ? std::atoi(text) : fallback;
}

// Cells show their selection in red, like the real ones; FAKE_DS_EMPTY names a slot (1-based)
// that is empty and ignores clicks.
LRESULT CALLBACK cellProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    int slot = GetDlgCtrlID(hwnd) - 51;
    if (message == WM_LBUTTONDOWN && slot + 1 != environmentNumber("FAKE_DS_EMPTY", 0)) {
        selected = slot;
        InvalidateRect(GetParent(hwnd), nullptr, TRUE);
        RedrawWindow(GetParent(hwnd), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
    } else if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT all;
        GetClientRect(hwnd, &all);
        HBRUSH brush = CreateSolidBrush(slot == selected ? RGB(255, 0, 0) : RGB(192, 192, 192));
        FillRect(dc, &all, brush);
        DeleteObject(brush);
        EndPaint(hwnd, &ps);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// The grid: a sheet (id 50) holding one cell per picture (ids 51 + slot), as in the real one.
LRESULT CALLBACK gridProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        HWND sheet = CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 400, 200, hwnd,
                                   reinterpret_cast<HMENU>(50), thisModule(), nullptr);
        int count = environmentNumber("FAKE_DS_PICTURES", 3);
        for (int i = 0; i < count; ++i)
            CreateWindowA("FakeThumbnailCell", "", WS_CHILD | WS_VISIBLE, (i % 4) * 40, (i / 4) * 40, 38, 38, sheet,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(51 + i)), thisModule(), nullptr);
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void registerClasses() {
    WNDCLASSA wc{};
    wc.hInstance = thisModule();
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpfnWndProc = gridProc;
    wc.lpszClassName = "FakeThumbnailGrid";
    RegisterClassA(&wc);
    wc.lpfnWndProc = cellProc;
    wc.lpszClassName = "FakeThumbnailCell";
    RegisterClassA(&wc);
}

INT_PTR CALLBACK acquireProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        selected = -1;
        SetTimer(hwnd, listingTimer, 300, nullptr);  // "listing" takes a moment
        return TRUE;
    case WM_TIMER:
        KillTimer(hwnd, listingTimer);
        EnableWindow(GetDlgItem(hwnd, 1010), TRUE);
        if (environmentNumber("FAKE_DS_BOX", 0))
            MessageBoxA(hwnd, "Found image what has no thumbnail image.", "Zelmar Dorvex", MB_OK | MB_ICONINFORMATION);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == 1010 && selected >= 0)
            EndDialog(hwnd, IDOK);
        else if (LOWORD(wParam) == IDCANCEL)
            EndDialog(hwnd, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK cameraProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        SetTimer(hwnd, connectTimer, 300, nullptr);  // "connecting" takes a moment
        return TRUE;
    case WM_TIMER: {
        KillTimer(hwnd, connectTimer);
        int count = environmentNumber("FAKE_DS_PICTURES", 3);
        char text[16];
        std::snprintf(text, sizeof text, "%d", count);
        SetDlgItemTextA(hwnd, 1005, text);
        SetDlgItemTextA(hwnd, 1007, "Full");
        EnableWindow(GetDlgItem(hwnd, 1008), count > 0);
        EnableWindow(GetDlgItem(hwnd, 1009), TRUE);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            events.closeRequested();
        } else if (LOWORD(wParam) == 1008) {
            INT_PTR result = DialogBoxParamA(thisModule(), MAKEINTRESOURCEA(acquireTemplate), hwnd, acquireProc, 0);
            if (result == IDOK && selected >= 0)
                events.picked(selected);
        }
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

HWND fakeCameraDialogCreate(HWND parent, const FakeDialogEvents& handlers) {
    events = handlers;
    registerClasses();
    if (!camera)
        camera = CreateDialogParamA(thisModule(), MAKEINTRESOURCEA(cameraTemplate), parent, cameraProc, 0);
    ShowWindow(camera, SW_SHOW);
    return camera;
}

void fakeCameraDialogDestroy() {
    if (camera)
        DestroyWindow(camera);
    camera = nullptr;
}

HWND fakeCameraDialog() { return camera; }
