// The real DorvexTwain.ds driven through DS_Entry: identity, the DG_CONTROL table in the
// states an application reaches without a camera (3 to 5), the one-application rule, status,
// MSG_PROCESSEVENT and the camera dialog's life from MSG_ENABLEDS to unload.
#include "tests/source/control_table.h"
#include "tests/source/entry_fixture.h"

#include <cstdlib>
#include <cstring>
#include <string>

// Grants the driver the fixture's protected helpers.
class EntryTableTest : public EntryTest {
public:
    TW_UINT16 doCall(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) { return call(dg, dat, msg, data); }
    TW_UINT16 doConditionCode() { return conditionCode(); }
    int doProbeState() { return probeState(); }
    void doReload() { unload(); ASSERT_TRUE(load()); }
    void doOpen() { open(); }
    void doEnable() { enable(false); }
};

TEST_F(EntryTableTest, EveryControlOperationInStatesThreeToFive) {
    struct Driver : ControlDriver {
        EntryTableTest& t;
        explicit Driver(EntryTableTest& test) : t(test) {}
        void reach(int state) override {
            t.doReload();
            if (state >= 4) t.doOpen();
            if (state >= 5) t.doEnable();
        }
        TW_UINT16 call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) override {
            return t.doCall(dg, dat, msg, data);
        }
        TW_UINT16 lastConditionCode() override { return t.doConditionCode(); }
        int currentState() override { return t.doProbeState(); }
    } driver(*this);
    checkControlTable(driver, 3, 5);
}

TEST_F(EntryTest, IdentityComesFromTheStringTableAndAdoptsTheManagersId) {
    TW_IDENTITY id{};
    std::memset(&id, 0xCC, sizeof id);
    ASSERT_EQ(call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &id), TWRC_SUCCESS);
    EXPECT_EQ(id.Id, 0u);
    EXPECT_EQ(id.Version.MajorNum, 2);
    EXPECT_EQ(id.Version.MinorNum, 0);
    EXPECT_EQ(id.Version.Language, TWLG_USA);
    EXPECT_EQ(id.Version.Country, TWCY_USA);
    EXPECT_STREQ(id.Version.Info, "1.00J - Nov.1997");
    EXPECT_EQ(id.ProtocolMajor, 1);
    EXPECT_EQ(id.ProtocolMinor, 6);
    EXPECT_EQ(id.SupportedGroups, DG_CONTROL | DG_IMAGE);
    EXPECT_STREQ(id.Manufacturer, "Zelmar Corporation");
    EXPECT_STREQ(id.ProductFamily, "Digital Still Camera");
    EXPECT_STREQ(id.ProductName, "Zelmar Dorvex");

    open(4242);
    TW_IDENTITY after{};
    ASSERT_EQ(call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &after), TWRC_SUCCESS);
    EXPECT_EQ(after.Id, 4242u);
    EXPECT_STREQ(after.ProductName, "Zelmar Dorvex");
    // A second open is out of sequence and leaves the source open.
    ASSERT_EQ(call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &after), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_SEQERROR);
    EXPECT_EQ(probeState(), 4);
}

TEST_F(EntryTest, OnlyTheConnectedApplicationIsServed) {
    open();
    TW_IDENTITY id{};
    EXPECT_EQ(callAs(otherApp, DG_CONTROL, DAT_IDENTITY, MSG_GET, &id), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_BADPROTOCOL);
    MSG msg{};
    TW_EVENT event{&msg, 0xFFFF};
    EXPECT_EQ(callAs(otherApp, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_FAILURE);
    EXPECT_EQ(event.TWMessage, 0xFFFF);
    EXPECT_EQ(conditionCode(), TWCC_BADPROTOCOL);
    TW_STATUS status{};
    EXPECT_EQ(callAs(otherApp, DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_FAILURE);
    EXPECT_EQ(callAs(otherApp, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr), TWRC_FAILURE);
    EXPECT_EQ(probeState(), 4);  // the other application's close did nothing
    TW_CAPABILITY cap{CAP_XFERCOUNT, 0, nullptr};
    EXPECT_EQ(callAs(otherApp, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap), TWRC_FAILURE);
    EXPECT_EQ(cap.hContainer, nullptr);

    // Once the first application has closed, the other one may open.
    ASSERT_EQ(call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr), TWRC_SUCCESS);
    TW_IDENTITY source{};
    ASSERT_EQ(callAs(otherApp, DG_CONTROL, DAT_IDENTITY, MSG_GET, &source), TWRC_SUCCESS);
    ASSERT_EQ(callAs(otherApp, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source), TWRC_SUCCESS);
    EXPECT_EQ(call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &id), TWRC_FAILURE);
}

TEST_F(EntryTest, StatusReportsTheLastFailureOnceAndFailuresChangeNothingElse) {
    EXPECT_EQ(conditionCode(), TWCC_SUCCESS);
    EXPECT_EQ(call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_SEQERROR);
    EXPECT_EQ(conditionCode(), TWCC_SUCCESS);
    // The latest failure wins; a success clears it.
    EXPECT_EQ(call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, nullptr), TWRC_FAILURE);
    EXPECT_EQ(call(DG_AUDIO, DAT_IDENTITY, MSG_GET, nullptr), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_BADPROTOCOL);
    EXPECT_EQ(call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_SET, nullptr), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_SEQERROR);  // state checked before the message
    open();
    TW_SETUPMEMXFER setup{};
    EXPECT_EQ(call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_SET, &setup), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_BADPROTOCOL);
    EXPECT_EQ(call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup), TWRC_SUCCESS);
    EXPECT_EQ(setup.MinBufSize, 3520u);
    EXPECT_EQ(setup.MaxBufSize, 3520u);
    EXPECT_EQ(setup.Preferred, 3520u);
    TW_UINT32 group = 0;
    EXPECT_EQ(call(DG_CONTROL, DAT_XFERGROUP, MSG_GET, &group), TWRC_SUCCESS);
    EXPECT_EQ(group, DG_IMAGE);
    TW_PENDINGXFERS pending{0x1234, 0};
    EXPECT_EQ(call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_SUCCESS);
    EXPECT_EQ(pending.Count, 0);
}

TEST_F(EntryTest, ForeignGroupsAndImageOperationsWithoutATransferAreRefused) {
    alignas(8) uint8_t data[64] = {};
    for (int state = 3; state <= 5; ++state) {
        SCOPED_TRACE(state);
        if (state == 4) open();
        if (state == 5) enable(false);
        EXPECT_EQ(call(DG_AUDIO, DAT_IDENTITY, MSG_GET, data), TWRC_FAILURE);
        EXPECT_EQ(conditionCode(), TWCC_BADPROTOCOL);
        EXPECT_EQ(call(0x8000, DAT_IDENTITY, MSG_GET, data), TWRC_FAILURE);
        EXPECT_EQ(conditionCode(), TWCC_BADPROTOCOL);
        for (TW_UINT16 dat : {DAT_IMAGEFILEXFER, DAT_CIECOLOR, DAT_GRAYRESPONSE, DAT_RGBRESPONSE,
                              DAT_JPEGCOMPRESSION, DAT_PALETTE8, TW_UINT16(0x0199)}) {
            EXPECT_EQ(call(DG_IMAGE, dat, MSG_GET, data), TWRC_FAILURE);
            EXPECT_EQ(conditionCode(), TWCC_BADPROTOCOL) << std::hex << dat;
        }
        // Transfers and image information need state 6 whatever else is wrong.
        for (TW_UINT16 dat : {DAT_IMAGEINFO, DAT_IMAGENATIVEXFER, DAT_IMAGEMEMXFER}) {
            EXPECT_EQ(call(DG_IMAGE, dat, MSG_SET, data), TWRC_FAILURE);
            EXPECT_EQ(conditionCode(), TWCC_SEQERROR) << std::hex << dat;
        }
        TW_IMAGELAYOUT layout{};
        EXPECT_EQ(call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout), state == 3 ? TWRC_FAILURE : TWRC_SUCCESS);
        EXPECT_EQ(conditionCode(), state == 3 ? TWCC_SEQERROR : TWCC_SUCCESS);
    }
}

// The 32-bit source is a 1.x source: a manager's DAT_ENTRYPOINT (even a well-formed one) and
// the callback registrations are not its triplets, in any state, and change nothing.
TEST_F(EntryTest, TwainTwoTripletsAreNotTheThirtyTwoBitSourcesBusiness) {
    TW_ENTRYPOINT entryPoint{};
    entryPoint.Size = sizeof entryPoint;
    TW_CALLBACK2 callback{};
    for (int state = 3; state <= 5; ++state) {
        SCOPED_TRACE(state);
        if (state == 4) open();
        if (state == 5) enable(false);
        for (TW_UINT16 msg : {MSG_SET, MSG_GET}) {
            EXPECT_EQ(call(DG_CONTROL, DAT_ENTRYPOINT, msg, &entryPoint), TWRC_FAILURE);
            EXPECT_EQ(conditionCode(), TWCC_BADPROTOCOL);
        }
        EXPECT_EQ(call(DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback), TWRC_FAILURE);
        EXPECT_EQ(conditionCode(), TWCC_BADPROTOCOL);
        EXPECT_EQ(probeState(), state);
    }
    TW_IDENTITY id{};
    ASSERT_EQ(call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &id), TWRC_SUCCESS);
    EXPECT_EQ(id.SupportedGroups & DF_DS2, 0u);
}

TEST_F(EntryTest, ProcessEventReachesTheDialogOnlyOnceEnabled) {
    DsmLogView log;
    ASSERT_TRUE(log.valid());
    MSG msg{};
    TW_EVENT event{&msg, 0xFFFF};
    // Before MSG_ENABLEDS there is no dialog: not the source's event, condition code untouched.
    EXPECT_EQ(call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
    open();
    call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, nullptr);  // leaves SEQERROR behind
    EXPECT_EQ(call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
    EXPECT_EQ(call(DG_IMAGE, DAT_NULL, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
    EXPECT_EQ(event.TWMessage, 0xFFFF);
    EXPECT_EQ(conditionCode(), TWCC_SEQERROR);

    enable(true);
    const std::vector<HWND> dialogs = cameraDialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    // Escape in the dialog is its Cancel: the dialog manager takes the key, and the source asks
    // the application, through the manager, to close it.
    msg = MSG{dialogs[0], WM_KEYDOWN, VK_ESCAPE, 0x00010001, GetTickCount(), {0, 0}};
    EXPECT_EQ(call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_DSEVENT);
    EXPECT_EQ(event.TWMessage, MSG_NULL);
    ASSERT_EQ(log.count(), 1);
    EXPECT_EQ(log.record(0).msg, MSG_CLOSEDSREQ);
    EXPECT_EQ(log.record(0).origin.Id, 77u);
    EXPECT_EQ(log.record(0).destination.Id, app.Id);
    EXPECT_TRUE(IsWindow(dialogs[0]));  // closing is the application's decision

    // A message for one of the application's own windows is not the source's.
    HWND own = CreateWindowExA(0, "STATIC", "application", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(own, nullptr);
    msg = MSG{own, WM_KEYDOWN, VK_ESCAPE, 0x00010001, GetTickCount(), {0, 0}};
    event.TWMessage = 0xFFFF;
    EXPECT_EQ(call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
    EXPECT_EQ(event.TWMessage, 0xFFFF);
    EXPECT_EQ(call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, nullptr), TWRC_NOTDSEVENT);
    DestroyWindow(own);
    EXPECT_EQ(log.count(), 1);
}

// Whether it is on screen after an enable without ShowUI is the dialog's own business (it
// shows itself to connect), so only its existence and owner are checked here.
TEST_F(EntryTest, EnableCreatesTheModelessDialogAndForcesModalUIOff) {
    open();
    HWND parent = CreateWindowExA(0, "STATIC", "application", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    TW_USERINTERFACE ui{FALSE, TRUE, parent};
    ASSERT_EQ(call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    EXPECT_EQ(ui.ModalUI, FALSE);
    EXPECT_EQ(ui.ShowUI, FALSE);
    std::vector<HWND> dialogs = cameraDialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(GetWindow(dialogs[0], GW_OWNER), parent);
    char caption[64] = {};
    GetWindowTextA(dialogs[0], caption, sizeof caption);
    EXPECT_STREQ(caption, "Zelmar Dorvex");
    EXPECT_EQ(probeState(), 5);
    // A second enable is out of sequence and creates nothing.
    ui.ModalUI = TRUE;
    EXPECT_EQ(call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_SEQERROR);
    EXPECT_EQ(ui.ModalUI, TRUE);
    EXPECT_EQ(cameraDialogs().size(), 1u);
    DestroyWindow(parent);
}

TEST_F(EntryTest, DisableHidesTheDialogEvenWhenShowUIIsSet) {
    open();
    enable(true);
    std::vector<HWND> dialogs = cameraDialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_TRUE(IsWindowVisible(dialogs[0]));
    // Applications pass the structure of MSG_ENABLEDS again, ShowUI still TRUE.
    TW_USERINTERFACE ui{TRUE, FALSE, nullptr};
    ASSERT_EQ(call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    EXPECT_TRUE(IsWindow(dialogs[0]));
    EXPECT_FALSE(IsWindowVisible(dialogs[0]));
    EXPECT_EQ(probeState(), 4);
    EXPECT_EQ(call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_SEQERROR);
}

TEST_F(EntryTest, EnableAfterDisableReplacesTheHiddenDialog) {
    open();
    enable(true);
    const std::vector<HWND> first = cameraDialogs();
    ASSERT_EQ(first.size(), 1u);
    TW_USERINTERFACE ui{FALSE, FALSE, nullptr};
    ASSERT_EQ(call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    enable(true);
    const std::vector<HWND> second = cameraDialogs();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_FALSE(IsWindow(first[0]));
    EXPECT_TRUE(IsWindowVisible(second[0]));
    EXPECT_EQ(probeState(), 5);
}

namespace {

const char* const profileKey = "Software\\Zelmar\\Dorvex TwainDS";

bool profileWritten() {
    HKEY key = nullptr;
    const bool written = RegOpenKeyExA(HKEY_CURRENT_USER, profileKey, 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (key) RegCloseKey(key);
    return written;
}

}  // namespace

TEST_F(EntryTest, CloseAndUnloadDestroyTheDialog) {
    open();
    enable(true);
    std::vector<HWND> dialogs = cameraDialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    ASSERT_EQ(call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr), TWRC_SUCCESS);
    EXPECT_FALSE(IsWindow(dialogs[0]));
    EXPECT_EQ(probeState(), 3);
    TW_IDENTITY id{};
    ASSERT_EQ(call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &id), TWRC_SUCCESS);
    EXPECT_EQ(id.Id, 77u);  // the manager's Id stays with the source identity

    // Unloaded while enabled, without MSG_CLOSEDS: nothing is torn down under the loader lock,
    // and the dialog keeps its code - the library stays loaded while it has windows.
    open();
    enable(false);
    dialogs = cameraDialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    const std::string path = programDirectory() + "DorvexTwain.ds";
    RegDeleteKeyA(HKEY_CURRENT_USER, profileKey);
    FreeLibrary(module);
    module = nullptr;
    entry = nullptr;
    EXPECT_NE(GetModuleHandleA(path.c_str()), nullptr);
    ASSERT_TRUE(IsWindow(dialogs[0]));
    RedrawWindow(dialogs[0], nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    // Loaded again, the session the manager lost ends as a close would (its dialog goes, its
    // settings are saved) when the same application opens the source again.
    ASSERT_TRUE(load());
    EXPECT_EQ(probeState(), 5);
    open();
    EXPECT_FALSE(IsWindow(dialogs[0]));
    EXPECT_TRUE(profileWritten());
    EXPECT_EQ(probeState(), 4);
    // The same once disabled: its hidden dialog still holds the library.
    enable(false);
    dialogs = cameraDialogs();
    TW_USERINTERFACE ui{FALSE, FALSE, nullptr};
    ASSERT_EQ(call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    FreeLibrary(module);
    ASSERT_TRUE(load());
    open();
    EXPECT_FALSE(IsWindow(dialogs[0]));
    // A close ends it, and the next unload is real.
    ASSERT_EQ(call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr), TWRC_SUCCESS);
    unload();
    EXPECT_TRUE(unmapped());
}

// Run in a child process by the test below (disabled, so that no ordinary run lists it): the
// application exits while the source is enabled, without closing it.
TEST_F(EntryTest, DISABLED_ExitHelper) {
    open();
    enable(true);
    ExitProcess(7);
}

TEST_F(EntryTest, ExitingWithTheSourceEnabledEndsCleanly) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string command =
        std::string("\"") + path + "\" --gtest_also_run_disabled_tests --gtest_filter=EntryTest.DISABLED_ExitHelper";
    // The profile is written at MSG_CLOSEDS only: an exiting process does no registry work.
    RegDeleteKeyA(HKEY_CURRENT_USER, profileKey);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    const BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child);
    ASSERT_TRUE(started);
    const DWORD waited = WaitForSingleObject(child.hProcess, 30000);
    if (waited != WAIT_OBJECT_0) TerminateProcess(child.hProcess, 99);
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    EXPECT_EQ(waited, WAIT_OBJECT_0) << "the child did not exit";
    EXPECT_EQ(code, 7u);
    EXPECT_FALSE(profileWritten()) << "the profile was written while the process ended";
}
