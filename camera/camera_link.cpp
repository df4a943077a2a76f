// CameraLink: construction and the core's download hooks.
#include "camera/camera_link.h"

// The core's line codes are the DCB's own values.
static_assert(lineParityNone == NOPARITY && lineParityOdd == ODDPARITY && lineParityEven == EVENPARITY,
              "parity codes");
static_assert(lineOneStopBit == ONESTOPBIT && lineTwoStopBits == TWOSTOPBITS, "stop-bit codes");

CameraLink::CameraLink(int suppressed) : LinkCore(linkPort, this) {
    progressSuppressed = suppressed;
}

CameraLink::~CameraLink() {
    ClosePort();
    destroyWindow();
}

void CameraLink::downloadBegins() {
    startProgress(0, 100, 1);
    if (hwnd()) SetCapture(hwnd());
    showProgress();
}

bool CameraLink::progressStep(int percent) {
    return stepProgress(percent) != 0;
}

void CameraLink::downloadEnds(bool succeeded) {
    if (GetCapture() == hwnd() && hwnd()) ReleaseCapture();
    if (!succeeded) hideProgress();
}
