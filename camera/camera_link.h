// CameraLink: the connection to the camera on COM1..COM4 and, in the same object, the transfer
// progress window (dialog IDD_PROGRESS), so that the receive loop can step the bar and notice a
// click on Cancel between packets.
//
// The protocol, the command set and their error rules are LinkCore's (camera/link_core.h);
// this class puts it on the Win32 serial port (LinkPort) and shows its download progress.
// Everything runs on the caller's thread; an exchange blocks it, but every wait is bounded by
// the link's time-outs.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "camera/link_buffers.h"
#include "camera/link_core.h"
#include "camera/link_port.h"
#include "ui/dialog_window.h"

// The observer comes first so that it is built before the core that is handed a pointer to it.
class CameraLink : private LinkObserver, public DialogWindow, public LinkCore {
public:
    explicit CameraLink(int progressSuppressed);
    ~CameraLink() override;

    LinkPort linkPort;
    LinkPort* port = &linkPort;
    RECT cancelRect{};  // Cancel button in the progress window's client coordinates

    // ---- progress window ----
    // Creates the window modeless and hidden, owned by parent (may be null). Null on failure.
    HWND createWindow(HWND parent);
    int startProgress(int low, int high, int step);
    int stepProgress(int position);
    void showProgress();
    void hideProgress();

protected:
    BOOL onInitDialog() override;
    void onCancel() override {}  // Escape or a click on Cancel never ends the window

private:
    // LinkObserver: a download shows the window, holds the capture and steps the bar.
    void downloadBegins() override;
    bool progressStep(int percent) override;
    void downloadEnds(bool succeeded) override;
};
