// WaitCursor: shows the wait cursor for the lifetime of the object and puts back the cursor
// that was there before.
#pragma once

#include <windows.h>

class WaitCursor {
public:
    WaitCursor() : previous(SetCursor(LoadCursor(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { SetCursor(previous); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    HCURSOR previous;
};
