// Screenshots of the source's windows for the documentation, taken by the test's wrapper
// (with_screenshots.sh) on request.
#pragma once

#include <windows.h>

#include <string>

// "_en" or "_ja", after the user interface language.
std::string languageSuffix();
// Asks the wrapper for a picture of window's screen rectangle named name + languageSuffix();
// waits (bounded) until it exists. False without a wrapper or when it never came. Call it from
// a thread other than the window's, so that the window keeps painting meanwhile.
bool takeScreenshot(const std::string& name, HWND window);
