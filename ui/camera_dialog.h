// CameraDialog: the source's main, modeless dialog (template 130), owned by the session from
// MSG_ENABLEDS to MSG_CLOSEDS. Cancel asks the application to close the source.
#pragma once

#include "ui/dialog_window.h"

class CameraDialog : public DialogWindow {
public:
    explicit CameraDialog(HWND parent);
    ~CameraDialog() override;

protected:
    void onCancel() override;
};
