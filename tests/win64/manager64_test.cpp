// Our manager's 64-bit build (TWAINDSM.DLL) with the 64-bit DorvexTwain.ds: the 2.x route.
// The manager hands a DF_DS2 source its entry point before MSG_OPENDS (the source, asked
// directly, gives it back through DAT_ENTRYPOINT MSG_GET), answers a DF_APP2 application's DAT_ENTRYPOINT, and
// takes DAT_CALLBACK2 registrations for open sources only; refusals carry their codes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/source/test_support.h"

namespace {

class Manager64Test : public ::testing::Test {
protected:
    void SetUp() override {
        // The test's own source folder: a copy of the 64-bit source beside this program.
        const std::string dir = programDirectory();
        ASSERT_TRUE(SetEnvironmentVariableA("DORVEX_TWAIN_DIR", (dir + "\\sources").c_str()));
        manager = LoadLibraryA((dir + "\\TWAINDSM.DLL").c_str());
        ASSERT_NE(manager, nullptr);
        entry = reinterpret_cast<DSMENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(manager, "DSM_Entry")));
        ASSERT_NE(entry, nullptr);
        window = CreateWindowA("STATIC", "manager64", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        if (sourceOpen) call(nullptr, DAT_IDENTITY, MSG_CLOSEDS, &source);
        if (managerOpen) call(nullptr, DAT_PARENT, MSG_CLOSEDSM, &window);
        if (window) DestroyWindow(window);
        // The manager stays loaded: it keeps its tables for the process, as an application's would.
    }
    TW_UINT16 call(pTW_IDENTITY dest, TW_UINT16 dat, TW_UINT16 msg, void* data) {
        return entry(&app, dest, DG_CONTROL, dat, msg, data);
    }
    TW_UINT16 managerCode() {
        TW_STATUS status{};
        EXPECT_EQ(call(nullptr, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
        return status.ConditionCode;
    }
    void openManager(bool app2) {
        if (app2) app.SupportedGroups |= DF_APP2;
        app.Id = 0;
        ASSERT_EQ(call(nullptr, DAT_PARENT, MSG_OPENDSM, &window), TWRC_SUCCESS);
        managerOpen = true;
    }
    void openSource() {
        source = TW_IDENTITY{};
        std::strcpy(source.ProductName, "Zelmar Dorvex");
        ASSERT_EQ(call(nullptr, DAT_IDENTITY, MSG_OPENDS, &source), TWRC_SUCCESS) << managerCode();
        sourceOpen = true;
    }

    HMODULE manager = nullptr;
    DSMENTRYPROC entry = nullptr;
    HWND window = nullptr;
    TW_IDENTITY app = makeAppIdentity(0, "Manager64 Test");
    TW_IDENTITY source{};
    bool managerOpen = false;
    bool sourceOpen = false;
};

TEST_F(Manager64Test, ADs2SourceGetsTheManagersEntryBeforeItOpens) {
    openManager(false);
    TW_IDENTITY listed{};
    ASSERT_EQ(call(nullptr, DAT_IDENTITY, MSG_GETFIRST, &listed), TWRC_SUCCESS);
    EXPECT_STREQ(listed.ProductName, "Zelmar Dorvex");
    EXPECT_EQ(listed.SupportedGroups & DF_DS2, DF_DS2);
    openSource();
    // The source, asked directly in this process where the manager loaded it, gives back what
    // it received: this manager's own entry and memory functions. (Through the manager,
    // DAT_ENTRYPOINT is always the manager's own triplet.)
    HMODULE loaded = GetModuleHandleA("DorvexTwain.ds");
    ASSERT_NE(loaded, nullptr);
    auto sourceEntry =
        reinterpret_cast<DSENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(loaded, "DS_Entry")));
    ASSERT_NE(sourceEntry, nullptr);
    TW_ENTRYPOINT received{};
    received.Size = sizeof received;
    ASSERT_EQ(sourceEntry(&app, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &received), TWRC_SUCCESS);
    EXPECT_EQ(reinterpret_cast<void*>(received.DSM_Entry), reinterpret_cast<void*>(entry));
    ASSERT_NE(received.DSM_MemAllocate, nullptr);
    ASSERT_NE(received.DSM_MemLock, nullptr);
    // The memory functions make global blocks, usable with either set of functions.
    TW_HANDLE block = received.DSM_MemAllocate(64);
    ASSERT_NE(block, nullptr);
    EXPECT_GE(GlobalSize(block), 64u);
    auto* bytes = static_cast<uint8_t*>(received.DSM_MemLock(block));
    ASSERT_NE(bytes, nullptr);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(bytes[i], 0);
    received.DSM_MemUnlock(block);
    received.DSM_MemFree(block);
    // A 1.x application may not ask for the entry point.
    TW_ENTRYPOINT mine{};
    mine.Size = sizeof mine;
    EXPECT_EQ(call(nullptr, DAT_ENTRYPOINT, MSG_GET, &mine), TWRC_FAILURE);
    EXPECT_EQ(managerCode(), TWCC_BADPROTOCOL);
    EXPECT_EQ(mine.DSM_Entry, nullptr);
}

TEST_F(Manager64Test, A2xApplicationGetsTheEntryAndRegistersCallbacksForOpenSourcesOnly) {
    // Before MSG_OPENDSM the manager does not know the application.
    TW_ENTRYPOINT mine{};
    mine.Size = sizeof mine;
    app.SupportedGroups |= DF_APP2;
    app.Id = 0;
    EXPECT_EQ(call(nullptr, DAT_ENTRYPOINT, MSG_GET, &mine), TWRC_FAILURE);
    openManager(true);
    TW_ENTRYPOINT small{};
    small.Size = sizeof small - 1;
    EXPECT_EQ(call(nullptr, DAT_ENTRYPOINT, MSG_GET, &small), TWRC_FAILURE);
    EXPECT_EQ(managerCode(), TWCC_BADVALUE);
    EXPECT_EQ(call(nullptr, DAT_ENTRYPOINT, MSG_GET, nullptr), TWRC_FAILURE);
    EXPECT_EQ(managerCode(), TWCC_BADVALUE);
    EXPECT_EQ(call(nullptr, DAT_ENTRYPOINT, MSG_SET, &mine), TWRC_FAILURE);
    EXPECT_EQ(managerCode(), TWCC_BADPROTOCOL);
    ASSERT_EQ(call(nullptr, DAT_ENTRYPOINT, MSG_GET, &mine), TWRC_SUCCESS);
    EXPECT_EQ(reinterpret_cast<void*>(mine.DSM_Entry), reinterpret_cast<void*>(entry));
    EXPECT_NE(mine.DSM_MemFree, nullptr);

    TW_CALLBACK2 registration{};
    registration.CallBackProc = reinterpret_cast<TW_MEMREF>(entry);  // any function will do here
    TW_IDENTITY notOpen{};
    notOpen.Id = 999;
    EXPECT_EQ(call(&notOpen, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &registration), TWRC_FAILURE);
    EXPECT_EQ(managerCode(), TWCC_BADDEST);
    EXPECT_EQ(call(nullptr, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &registration), TWRC_FAILURE);
    EXPECT_EQ(managerCode(), TWCC_BADDEST);
    openSource();
    TW_CALLBACK2 empty{};
    EXPECT_EQ(call(&source, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &empty), TWRC_FAILURE);
    EXPECT_EQ(managerCode(), TWCC_BADVALUE);
    EXPECT_EQ(call(&source, DAT_CALLBACK2, MSG_GET, &registration), TWRC_FAILURE);
    EXPECT_EQ(managerCode(), TWCC_BADPROTOCOL);
    EXPECT_EQ(call(&source, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &registration), TWRC_SUCCESS);
}

}  // namespace
