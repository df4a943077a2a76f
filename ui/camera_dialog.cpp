#include "ui/camera_dialog.h"

#include "resources/resource_ids.h"
#include "source/source_session.h"

CameraDialog::CameraDialog(HWND parent) {
    // Created hidden; the session shows it when the application asks for the user interface.
    createModeless(IDD_CAMERA, parent);
}

CameraDialog::~CameraDialog() {
    destroyWindow();
}

void CameraDialog::onCancel() {
    // The dialog is not destroyed here: the application answers with MSG_DISABLEDS and
    // MSG_CLOSEDS, and the session deletes it then.
    theSession().notifyApplication(MSG_CLOSEDSREQ);
}
