// Helpers shared by the source's Windows tests: application identities, the recording
// manager's log, dialog lookup, and a count of live blocks on the process heap (where
// GlobalAlloc takes its memory) to catch global handles left behind.
#pragma once

#include <string>
#include <vector>

#include "source/twain.h"
#include "tests/source/dsm_recorder.h"

TW_IDENTITY makeAppIdentity(TW_UINT32 id, const char* name);

// The directory of the running test program, with a trailing backslash.
std::string programDirectory();
std::vector<uint8_t> readProgramFile(const char* name);

// The camera dialogs (top-level dialog windows with an Open button) of this thread; other
// dialogs, such as the camera link's hidden progress window, are not counted.
std::vector<HWND> cameraDialogs();
// Handles the messages waiting for this thread's windows. Only once no camera dialog is
// left: a live one would start connecting to the camera.
void pumpMessages();

// Live blocks and bytes on the process heap.
struct HeapUsage {
    size_t blocks = 0;
    size_t bytes = 0;
    bool operator==(const HeapUsage& o) const { return blocks == o.blocks && bytes == o.bytes; }
};
HeapUsage processHeapUsage();

// Creates (and on destruction removes) the shared log the recording manager writes to.
class DsmLogView {
public:
    DsmLogView();
    ~DsmLogView();
    DsmLogView(const DsmLogView&) = delete;
    DsmLogView& operator=(const DsmLogView&) = delete;
    bool valid() const { return log != nullptr; }
    LONG count() const { return log ? log->count : -1; }
    const DsmCallRecord& record(LONG i) const { return log->records[i]; }
    void clear() { if (log) ZeroMemory(log, sizeof *log); }
    void setCallback(DsmCallback callback) { if (log) log->callback = callback; }

private:
    HANDLE mapping = nullptr;
    DsmCallLog* log = nullptr;
};
