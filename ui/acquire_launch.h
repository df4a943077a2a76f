// Runs the acquire dialog for the camera dialog's Open: IDOK with the chosen picture's JPEG in
// the link's JPEG buffer, IDCANCEL, or AcquireDialog::ResultReportedError (3).
#pragma once

#include <windows.h>

class CameraLink;
struct SourceSettings;

INT_PTR runAcquireDialog(CameraLink& link, SourceSettings& settings, HWND parent);
