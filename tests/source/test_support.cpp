#include "tests/source/test_support.h"

#include <cstdio>
#include <cstring>

#include "resources/resource_ids.h"

TW_IDENTITY makeAppIdentity(TW_UINT32 id, const char* name) {
    TW_IDENTITY app{};
    app.Id = id;
    app.Version.MajorNum = 1;
    app.ProtocolMajor = 1;
    app.ProtocolMinor = 9;
    app.SupportedGroups = DG_CONTROL | DG_IMAGE;
    std::strncpy(app.ProductName, name, sizeof app.ProductName - 1);
    return app;
}

std::string programDirectory() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    const size_t slash = dir.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
}

std::vector<uint8_t> readProgramFile(const char* name) {
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen((programDirectory() + name).c_str(), "rb");
    if (!f) return bytes;
    uint8_t chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    return bytes;
}

namespace {
BOOL CALLBACK collectDialog(HWND hwnd, LPARAM param) {
    char cls[16] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    if (std::strcmp(cls, "#32770") == 0 && GetDlgItem(hwnd, IDC_OPEN))
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}
}  // namespace

std::vector<HWND> cameraDialogs() {
    std::vector<HWND> dialogs;
    EnumThreadWindows(GetCurrentThreadId(), collectDialog, reinterpret_cast<LPARAM>(&dialogs));
    return dialogs;
}

void pumpMessages() {
    MSG msg;
    for (int i = 0; i < 1000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

HeapUsage processHeapUsage() {
    HeapUsage usage;
    HANDLE heap = GetProcessHeap();
    if (!HeapLock(heap)) return usage;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heap, &entry)) {
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
            ++usage.blocks;
            usage.bytes += entry.cbData;
        }
    }
    HeapUnlock(heap);
    return usage;
}

DsmLogView::DsmLogView() {
    char name[64];
    dsmCallLogName(name);
    mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(DsmCallLog), name);
    if (mapping) log = static_cast<DsmCallLog*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(DsmCallLog)));
    clear();
}

DsmLogView::~DsmLogView() {
    if (log) UnmapViewOfFile(log);
    if (mapping) CloseHandle(mapping);
}
