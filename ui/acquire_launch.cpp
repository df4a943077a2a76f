#include "ui/acquire_launch.h"

#include "ui/acquire_dialog.h"

INT_PTR runAcquireDialog(CameraLink& link, SourceSettings& settings, HWND parent) {
    AcquireDialog dialog(link, settings);
    return dialog.run(parent);
}
