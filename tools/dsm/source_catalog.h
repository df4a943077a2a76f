// The sources installed on this machine: every "*.ds" file below the TWAIN folder, with the
// identity each one reports about itself.
#pragma once

#include <string>
#include <vector>

#include "source/twain.h"

struct CatalogEntry {
    std::string path;      // full path of the .ds file
    TW_IDENTITY identity;  // as the source reported it (Id 0)
};

// The folder searched: %DORVEX_TWAIN_DIR% when set (tests point it at their own sources),
// otherwise <Windows directory>\twain_32 (twain_64 in the 64-bit build).
std::string sourcesRoot();

// Finds every *.ds file below root (sub-folders included, depth and count bounded), loads each
// one to ask DAT_IDENTITY MSG_GET with origin as the caller, and unloads it again. Files that
// are no loadable source (no DS_Entry, or a refused MSG_GET) are left out. Sorted by path, so
// the first entry - the default source - does not depend on directory order.
std::vector<CatalogEntry> findSources(const std::string& root, TW_IDENTITY* origin);

// Loads a source library the way the catalog does (its own folder searched for its DLLs).
HMODULE loadSourceLibrary(const std::string& path);
// The library's DS_Entry, or null.
DSENTRYPROC sourceEntry(HMODULE module);
