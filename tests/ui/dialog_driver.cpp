#include "dialog_driver.h"

#include <cstdio>

namespace {

DialogDriver* active = nullptr;

// The message box's text control; the same id on Windows and Wine.
constexpr int messageBoxTextId = 0xFFFF;
constexpr int messageBoxIconId = 0x0440;

struct Search {
    int controlId;
    HWND found;
};

BOOL CALLBACK findDialog(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<Search*>(lParam);
    char cls[16] = {};
    GetClassNameA(window, cls, sizeof(cls));
    if (lstrcmpA(cls, "#32770") == 0 && IsWindowVisible(window) && GetDlgItem(window, search->controlId)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND cellOf(HWND dialog, int slot) {
    HWND grid = GetDlgItem(dialog, 1002);
    HWND sheet = grid ? GetDlgItem(grid, 50) : nullptr;
    return sheet ? GetDlgItem(sheet, 51 + slot) : nullptr;
}

}  // namespace

DialogDriver::DialogDriver() = default;

DialogDriver::~DialogDriver() {
    stop();
}

void DialogDriver::add(std::string name, std::function<bool()> ready, std::function<void()> act) {
    steps.push_back(Step{std::move(name), std::move(ready), std::move(act)});
}

void DialogDriver::start(DWORD timeoutMs) {
    active = this;
    deadline = GetTickCount() + timeoutMs;
    timer = SetTimer(nullptr, 0, 15, tick);
}

void DialogDriver::stop() {
    if (timer) KillTimer(nullptr, timer);
    timer = 0;
    if (active == this) active = nullptr;
}

void CALLBACK DialogDriver::tick(HWND, UINT, UINT_PTR, DWORD) {
    if (active) active->onTick();
}

void DialogDriver::onTick() {
    if (inside) return;  // a step's message ran a nested loop
    inside = true;
    closeMessageBoxes();
    if (static_cast<LONG>(GetTickCount() - deadline) > 0) {
        expired = true;
        cancelEverything();
    } else if (next < steps.size() && steps[next].ready()) {
        Step& step = steps[next++];
        step.act();
    }
    inside = false;
}

HWND DialogDriver::findDialogWithControl(int controlId) {
    Search search{controlId, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), findDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND DialogDriver::findMessageBox() {
    return findDialogWithControl(messageBoxTextId);
}

void DialogDriver::closeMessageBoxes() {
    HWND box = findMessageBox();
    if (!box) return;
    SeenMessage seen;
    char text[512] = {};
    GetDlgItemTextA(box, messageBoxTextId, text, sizeof(text));
    seen.text = text;
    HICON icon = reinterpret_cast<HICON>(SendDlgItemMessageA(box, messageBoxIconId, STM_GETICON, 0, 0));
    seen.informationIcon = icon && icon == LoadIcon(nullptr, IDI_INFORMATION);
    if (onMessageBox) onMessageBox();
    // Hide it at once so that the next tick does not see it again before it has gone.
    ShowWindow(box, SW_HIDE);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    messages.push_back(seen);
}

void DialogDriver::cancelEverything() {
    for (int id : {1031, 1002}) {  // information dialog, acquire dialog
        HWND dialog = findDialogWithControl(id);
        if (dialog) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }
}

void DialogDriver::click(HWND dialog, int controlId) {
    HWND button = GetDlgItem(dialog, controlId);
    if (button) PostMessageA(button, BM_CLICK, 0, 0);
}

void DialogDriver::clickCell(HWND dialog, int slot) {
    HWND cell = cellOf(dialog, slot);
    if (cell) PostMessageA(cell, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 50));
}

void DialogDriver::doubleClickCell(HWND dialog, int slot) {
    HWND cell = cellOf(dialog, slot);
    if (!cell) return;
    PostMessageA(cell, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 50));
    PostMessageA(cell, WM_LBUTTONUP, 0, MAKELPARAM(50, 50));
    PostMessageA(cell, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(50, 50));
    PostMessageA(cell, WM_LBUTTONUP, 0, MAKELPARAM(50, 50));
}

bool saveWindowScreenshot(HWND window, const std::string& path) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT r;
    GetWindowRect(window, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return false;
    // The window's own DC reads what Wine has drawn, even before it reaches the X server.
    HDC screen = GetWindowDC(window);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
        GdiFlush();
        const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
        const DWORD imageSize = stride * static_cast<DWORD>(height);
        BITMAPFILEHEADER file{};
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
        file.bfSize = file.bfOffBits + imageSize;
        FILE* out = fopen(path.c_str(), "wb");
        if (out) {
            ok = fwrite(&file, sizeof(file), 1, out) == 1 &&
                 fwrite(&info.bmiHeader, sizeof(info.bmiHeader), 1, out) == 1 &&
                 fwrite(bits, 1, imageSize, out) == imageSize;
            ok = fclose(out) == 0 && ok;
        }
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(window, screen);
    return ok;
}
