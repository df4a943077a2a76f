// Every DG_CONTROL operation of the source (capabilities apart) with the states that accept
// it and which of the two checks, state or message, comes first. Each row is tried in each
// state from a fresh source, through whichever driver the test supplies (the real DLL's
// DS_Entry, or a session object linked into the test).
#pragma once

#include "source/twain.h"

struct ControlDriver {
    virtual ~ControlDriver() = default;
    // A fresh source led to the given state (3 to 7) by legitimate operations.
    virtual void reach(int state) = 0;
    virtual TW_UINT16 call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) = 0;
    // The condition code left by the last call, read without disturbing anything else.
    virtual TW_UINT16 lastConditionCode() = 0;
    virtual int currentState() = 0;
};

// Tries every row in every state from firstState to lastState; failures are reported with
// the row's name and the state.
void checkControlTable(ControlDriver& driver, int firstState, int lastState);
