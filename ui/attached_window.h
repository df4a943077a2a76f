// attachedWindowProc: the window procedure shared by the thumbnail windows, and
// registerAttachedClass, which registers a class of them. Each window keeps
// its C++ object in window extra bytes at offset 0 (the class needs cbWndExtra >= sizeof(LONG_PTR)),
// set from CreateWindowEx's last argument. T needs a member `HWND window` and a member
// `LRESULT handle(UINT, WPARAM, LPARAM)`; a private T befriends this template.
#pragma once

#include <windows.h>

template <class T>
LRESULT CALLBACK attachedWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<T*>(GetWindowLongPtrA(hwnd, 0));
    if (message == WM_NCCREATE) {
        self = static_cast<T*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        SetWindowLongPtrA(hwnd, 0, reinterpret_cast<LONG_PTR>(self));
        self->window = hwnd;
    }
    // Messages before WM_NCCREATE (WM_GETMINMAXINFO) and after WM_NCDESTROY have no object.
    if (!self) return DefWindowProcA(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        // Detach so nothing reaches an object that may already be going away.
        SetWindowLongPtrA(hwnd, 0, 0);
        self->window = nullptr;
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    return self->handle(message, wParam, lParam);
}

// Registers the class of T's windows in instance unless it is registered already:
// attachedWindowProc<T>, room for the object, arrow cursor, light grey background, the given style.
template <class T>
bool registerAttachedClass(HINSTANCE instance, const char* className, UINT style) {
    WNDCLASSEXA existing{};
    existing.cbSize = sizeof(existing);
    if (GetClassInfoExA(instance, className, &existing)) return true;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.style = style;
    wc.lpfnWndProc = attachedWindowProc<T>;
    wc.cbWndExtra = sizeof(LONG_PTR);
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
    wc.lpszClassName = className;
    return RegisterClassExA(&wc) != 0;
}
