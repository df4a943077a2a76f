// Stand-ins for the source's camera and acquire dialogs inside the fake source, with the
// control ids and titles of the real ones, so acquire.exe's dialog driver can be tested
// without a camera. FAKE_DS_PICTURES (default 3) cells are listed; FAKE_DS_BOX=1 shows an
// information box titled "Zelmar Dorvex" when the listing ends.
#pragma once

#include <windows.h>

struct FakeDialogEvents {
    void (*closeRequested)();
    void (*picked)(int listIndex);  // 0-based slot chosen with Aquire
};

HWND fakeCameraDialogCreate(HWND parent, const FakeDialogEvents& events);
void fakeCameraDialogDestroy();
HWND fakeCameraDialog();
