// The camera dialog's logo: bitmap resource 200 turned into a device bitmap, with a palette
// made from its colour table on palette-based screens so that its colours survive there.
#pragma once

#include <windows.h>

struct LogoBitmap {
    HBITMAP bitmap = nullptr;   // owned
    HPALETTE palette = nullptr; // owned; only on palette-based screens

    LogoBitmap() = default;
    ~LogoBitmap();
    LogoBitmap(const LogoBitmap&) = delete;
    LogoBitmap& operator=(const LogoBitmap&) = delete;

    // Loads resource IDB_LOGO for the screen of window. False (and nothing held) when the
    // resource is missing or malformed, or the bitmap cannot be made.
    bool load(HWND window, bool paletteScreen);
    void release();
};
