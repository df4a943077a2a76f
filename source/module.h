// The module that holds the source's code and resources: the DLL, or a test program that links
// the same code statically.
#pragma once

#include <windows.h>

HINSTANCE moduleInstance();
