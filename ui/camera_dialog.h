// CameraDialog: the source's main, modeless dialog (template 130), owned by the session from
// MSG_ENABLEDS to MSG_CLOSEDS.
//
// Once on screen it connects to the camera (9600 bit/s first, then the configured rate), shows
// the pictures taken and the power state, and offers Open (the acquire dialog; the chosen
// picture goes to the session for transfer) and Setting (the settings dialog). Cancel only asks
// the application to close the source. When its window is destroyed it puts the camera back to
// 9600 bit/s and saves the SourceSettings to the profile. It owns the camera link, the logo and
// its palette, and the library's sharedPalette.
#pragma once

#include <cstdint>

#include "ui/dialog_window.h"
#include "ui/logo_bitmap.h"
#include "ui/settings_request.h"

class CameraLink;
struct SourceSettings;

class CameraDialog : public DialogWindow {
public:
    // loadProfile false keeps the settings in memory (a dialog replacing an earlier one).
    explicit CameraDialog(HWND parent, bool loadProfile = true);
    ~CameraDialog() override;

    // The dialog's own operations, non-zero on success.
    int connectAtConfiguredRate();
    int connectCamera();
    void refreshStatus();
    int readCameraSettings(SettingsRequest* request);
    int applyCameraSettings(const SettingsRequest* request);

    CameraLink* link() const { return cameraLink; }
    HPALETTE logoPalette() const { return logo.palette; }

    // Set when the process is ending or the library is being unloaded: the dialog then gives
    // back memory only, with no camera reset and no profile write.
    static inline bool processEnding = false;

protected:
    BOOL onInitDialog() override;
    void onCommand(int id, int notifyCode, HWND control) override;
    void onCancel() override;
    void onDestroy() override;
    void onRelease() override;
    INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

private:
    void layOut();
    void releaseCamera();
    void startConnection();
    void onOpen();
    void onSetting();
    BOOL onQueryNewPalette();
    void requestClose();
    int ask(UINT stringId, UINT type);
    // SetIO on the configured port with the camera's one set of line settings.
    int setIO(uint32_t bitRate);

    static constexpr UINT_PTR connectRetryTimer = 1;

    SourceSettings& settings;
    CameraLink* cameraLink = nullptr;  // owned
    LogoBitmap logo;                   // logoBitmap and logoPalette
    int lastCommError = 0;
    bool connectDue = false;  // UM_CONNECT connects once, however often it comes
};
