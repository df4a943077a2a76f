// Built instead of acquire_launch.cpp while the acquire dialog's implementation is not in the
// tree: Open then stops after the card check, as if the user had cancelled.
#include "ui/acquire_launch.h"

INT_PTR runAcquireDialog(CameraLink&, SourceSettings&, HWND) {
    return IDCANCEL;
}
