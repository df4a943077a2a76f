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

struct DsmCallLog {
    LONG count;  // calls seen, also those beyond the capacity
    DsmCallRecord records[32];
};

constexpr const char* dsmCallLogName = "DorvexTestDsmCallLog";
