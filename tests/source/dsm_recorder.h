// Shared-memory log of the DSM_Entry calls a source makes to the recording stand-in for the
// Source Manager (dsm_recorder.cpp, built as TWAIN_32.DLL next to the test programs). The
// test creates the mapping; each call of the stand-in appends one record.
#pragma once

#include "source/twain.h"

struct DsmCallRecord {
    uintptr_t originPointer;
    uintptr_t destinationPointer;
    TW_IDENTITY origin;
    TW_IDENTITY destination;
    TW_UINT32 dg;
    TW_UINT16 dat;
    TW_UINT16 msg;
    TW_UINT32 dataWasNull;
};

// Called (in the process that loaded the stand-in) after a call has been recorded, as a
// manager that hands notifications straight to the application would.
typedef void (*DsmCallback)(TW_UINT16 msg);

struct DsmCallLog {
    LONG count;  // calls seen, also those beyond the capacity
    DsmCallRecord records[32];
    DsmCallback callback;
};

#include <cstdio>

// One log per process: test programs may run side by side.
inline void dsmCallLogName(char (&name)[64]) {
    std::snprintf(name, sizeof name, "DorvexTestDsmCallLog.%lu", static_cast<unsigned long>(GetCurrentProcessId()));
}
