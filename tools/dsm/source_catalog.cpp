#include "tools/dsm/source_catalog.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace {

// Bounds on what a scan may visit: a TWAIN folder holds a handful of sources; anything beyond
// these is a misconfiguration (or a link loop) and must not hang the application.
constexpr int maxDepth = 8;
constexpr size_t maxSources = 64;
constexpr size_t maxVisited = 4096;

bool endsWithDs(const char* name) {
    size_t n = std::strlen(name);
    return n > 3 && _stricmp(name + n - 3, ".ds") == 0;
}

void collectPaths(const std::string& folder, int depth, std::vector<std::string>& out, size_t& visited) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (++visited > maxVisited || out.size() >= maxSources)
            break;
        if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0)
            continue;
        std::string path = folder + "\\" + found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (depth < maxDepth && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                collectPaths(path, depth + 1, out, visited);
        } else if (endsWithDs(found.cFileName)) {
            out.push_back(path);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// Identities already read in this process, by path, valid while the file keeps its size and
// time stamp. Loading a source only to ask its identity is not free: some (Wine's own camera
// sources among them) leave megabytes mapped behind after they are unloaded, so an application
// that opens the manager again and again must not load them again and again.
struct KnownIdentity {
    FILETIME written;
    DWORD sizeLow;
    DWORD sizeHigh;
    bool valid;
    TW_IDENTITY identity;
};

std::map<std::string, KnownIdentity>& knownIdentities() {
    static std::map<std::string, KnownIdentity> known;  // never destroyed before the manager
    return known;
}

bool readIdentityFromSource(const std::string& path, TW_IDENTITY* origin, TW_IDENTITY& identity) {
    HMODULE module = loadSourceLibrary(path);
    if (!module)
        return false;
    DSENTRYPROC entry = sourceEntry(module);
    bool ok = false;
    if (entry) {
        std::memset(&identity, 0, sizeof identity);
        ok = entry(origin, DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity) == TWRC_SUCCESS;
        identity.Id = 0;
        // A source's strings come from its own resources; never trust the terminators.
        identity.Version.Info[sizeof identity.Version.Info - 1] = '\0';
        identity.Manufacturer[sizeof identity.Manufacturer - 1] = '\0';
        identity.ProductFamily[sizeof identity.ProductFamily - 1] = '\0';
        identity.ProductName[sizeof identity.ProductName - 1] = '\0';
    }
    FreeLibrary(module);
    return ok;
}

bool readIdentity(const std::string& path, TW_IDENTITY* origin, TW_IDENTITY& identity) {
    WIN32_FILE_ATTRIBUTE_DATA file;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &file))
        return false;
    std::string key = path;
    CharLowerA(&key[0]);
    auto& known = knownIdentities();
    auto found = known.find(key);
    if (found != known.end() && CompareFileTime(&found->second.written, &file.ftLastWriteTime) == 0 &&
        found->second.sizeLow == file.nFileSizeLow && found->second.sizeHigh == file.nFileSizeHigh) {
        identity = found->second.identity;
        return found->second.valid;
    }
    KnownIdentity entry{file.ftLastWriteTime, file.nFileSizeLow, file.nFileSizeHigh, false, {}};
    entry.valid = readIdentityFromSource(path, origin, entry.identity);
    identity = entry.identity;
    known[key] = entry;
    return entry.valid;
}

}  // namespace

std::string sourcesRoot() {
    char buffer[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("DORVEX_TWAIN_DIR", buffer, sizeof buffer);
    if (n > 0 && n < sizeof buffer)
        return buffer;
#ifdef _WIN64
    // 64-bit sources live apart from the 32-bit ones, which a 64-bit process cannot load.
    const char* const folder = "twain_64";
#else
    const char* const folder = "twain_32";
#endif
    n = GetWindowsDirectoryA(buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer)
        return std::string("C:\\windows\\") + folder;
    return std::string(buffer) + "\\" + folder;
}

HMODULE loadSourceLibrary(const std::string& path) {
    return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

DSENTRYPROC sourceEntry(HMODULE module) {
    // Through void*: FARPROC and the entry's real type are unrelated function pointer types.
    return reinterpret_cast<DSENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(module, "DS_Entry")));
}

std::vector<CatalogEntry> findSources(const std::string& root, TW_IDENTITY* origin) {
    std::vector<std::string> paths;
    size_t visited = 0;
    collectPaths(root, 0, paths, visited);
    std::sort(paths.begin(), paths.end(),
              [](const std::string& a, const std::string& b) { return _stricmp(a.c_str(), b.c_str()) < 0; });
    std::vector<CatalogEntry> sources;
    for (const std::string& path : paths) {
        CatalogEntry entry;
        entry.path = path;
        if (readIdentity(path, origin, entry.identity))
            sources.push_back(entry);
    }
    return sources;
}
