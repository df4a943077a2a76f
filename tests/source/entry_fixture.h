// A fresh copy of the real DorvexTwain.ds for each test, driven through DS_Entry as the
// Source Manager would drive it.
#pragma once

#include <gtest/gtest.h>

#include "tests/source/test_support.h"

class EntryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(load()) << "cannot load DorvexTwain.ds next to the test program"; }
    void TearDown() override { unload(); }

    bool load();
    // Disables and closes the source, frees the library and waits (bounded) for the source's own
    // reference, which a thread of its own gives back once the close has returned.
    void unload();
    // True once DorvexTwain.ds is no longer mapped; waits for that a bounded while.
    static bool unmapped();

    TW_UINT16 call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) { return callAs(app, dg, dat, msg, data); }
    TW_UINT16 callAs(TW_IDENTITY& origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
        return entry(&origin, dg, dat, msg, data);
    }
    // DAT_STATUS MSG_GET: the condition code (which the read clears); 0xFFFF when it fails.
    TW_UINT16 conditionCode();
    // The state as the triplets reveal it (this clears the condition code).
    int probeState();
    // Leads the source from state 3 to 4 (with the Id a manager would assign), then to 5.
    void open(TW_UINT32 sourceId = 77);
    void enable(bool showUI, HWND parent = nullptr);

    HMODULE module = nullptr;
    DSENTRYPROC entry = nullptr;
    TW_IDENTITY app = makeAppIdentity(1, "Test Application");
    TW_IDENTITY otherApp = makeAppIdentity(2, "Other Application");
};
