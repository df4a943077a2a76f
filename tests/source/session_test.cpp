// The session object itself: initial values, notifications through a recording stand-in
// for the Source Manager (and without any manager), container sizes, and the DG_CONTROL
// table in every state from 3 to 7.
#include "resources/resource_ids.h"
#include "tests/source/control_table.h"
#include "tests/source/session_fixture.h"
#include "ui/camera_dialog.h"
#include "ui/source_settings.h"
#include "ui/user_messages.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

TEST_F(SessionTest, StartsInStateThreeWithNothingOpen) {
    EXPECT_EQ(session->state, 3u);
    EXPECT_EQ(session->conditionCode, TWCC_SUCCESS);
    EXPECT_EQ(session->conditionReserved, 0);
    EXPECT_EQ(session->decodedImage, nullptr);
    EXPECT_EQ(session->cameraDialog, nullptr);
    EXPECT_EQ(session->currentCall, nullptr);
    EXPECT_EQ(session->appIdentity.Id, 0u);
    EXPECT_EQ(session->sourceIdentity.Id, 0u);
    EXPECT_STREQ(session->sourceIdentity.Version.Info, "1.00J - Nov.1997");
    EXPECT_STREQ(session->sourceIdentity.ProductName, "Zelmar Dorvex");
    EXPECT_EQ(session->nextRow, 0u);
    EXPECT_EQ(session->transferComplete, 0u);
    EXPECT_EQ(session->xferCount.current, 0xFFFF);
    EXPECT_EQ(session->xferMech.current, TWSX_NATIVE);
    EXPECT_EQ(session->units.current, TWUN_INCHES);
    EXPECT_EQ(session->pixelType.current, TWPT_RGB);
    EXPECT_STREQ(sourceSettingsKey, "Software\\Zelmar\\Dorvex TwainDS");
    // The call being served is known only while it is served.
    TW_STATUS status{};
    EXPECT_EQ(call(DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
    EXPECT_EQ(session->currentCall, nullptr);
}

TEST_F(SessionTest, NotificationsGoThroughTheManagerLoadedForEachCall) {
    DsmLogView log;
    ASSERT_TRUE(log.valid());
    open(1234);
    enable();
    ASSERT_EQ(session->notifyApplication(MSG_CLOSEDSREQ), 1);
    EXPECT_EQ(session->state, 5u);  // a close request leaves the state alone
    ASSERT_EQ(session->notifyApplication(MSG_XFERREADY), 1);
    EXPECT_EQ(session->state, 6u);
    ASSERT_EQ(log.count(), 2);
    const TW_UINT16 messages[] = {MSG_CLOSEDSREQ, MSG_XFERREADY};
    for (LONG i = 0; i < 2; ++i) {
        const DsmCallRecord& r = log.record(i);
        EXPECT_EQ(r.originPointer, reinterpret_cast<uintptr_t>(&session->sourceIdentity));
        EXPECT_EQ(r.destinationPointer, reinterpret_cast<uintptr_t>(&session->appIdentity));
        EXPECT_EQ(r.origin.Id, 1234u);
        EXPECT_STREQ(r.origin.ProductName, "Zelmar Dorvex");
        EXPECT_EQ(r.destination.Id, app.Id);
        EXPECT_STREQ(r.destination.ProductName, "Session Test");
        EXPECT_EQ(r.dg, DG_CONTROL);
        EXPECT_EQ(r.dat, DAT_NULL);
        EXPECT_EQ(r.msg, messages[i]);
        EXPECT_TRUE(r.dataWasNull);
    }
    // The manager is not kept loaded between notifications.
    EXPECT_EQ(GetModuleHandleA("TWAIN_32.DLL"), nullptr);
    // Anything else is not sent and changes nothing.
    for (TW_UINT16 msg : {MSG_NULL, MSG_CLOSEDSOK, MSG_GET, MSG_ENDXFER}) {
        EXPECT_EQ(session->notifyApplication(msg), 0);
    }
    EXPECT_EQ(log.count(), 2);
    EXPECT_EQ(session->state, 6u);
}

// A transfer is offered only by an enabled source with none pending, and a source that is not
// enabled (never opened, disabled or closed) asks nothing of anybody: each refusal sends nothing
// and leaves the state alone.
TEST_F(SessionTest, NotificationsOnlyFromTheStatesThatAllowThem) {
    DsmLogView log;
    ASSERT_TRUE(log.valid());
    const auto refused = [&](TwainState state) {
        session->state = state;
        const LONG sent = log.count();
        EXPECT_EQ(session->notifyApplication(MSG_XFERREADY), 0) << "state " << state;
        EXPECT_EQ(session->state, state);
        if (state < StateEnabled) {
            EXPECT_EQ(session->notifyApplication(MSG_CLOSEDSREQ), 0) << "state " << state;
        }
        EXPECT_EQ(log.count(), sent) << "state " << state;
    };
    refused(StateLoaded);
    open();
    refused(StateOpen);
    enable();
    ASSERT_EQ(session->notifyApplication(MSG_XFERREADY), 1);
    EXPECT_EQ(session->state, 6u);
    EXPECT_EQ(log.count(), 1);
    refused(StateReady);
    refused(StateTransferring);  // as after the first strip of a memory transfer
    session->state = StateReady;
    EXPECT_EQ(session->notifyApplication(MSG_CLOSEDSREQ), 1);
    EXPECT_EQ(log.count(), 2);
    TW_USERINTERFACE ui{FALSE, FALSE, nullptr};
    ASSERT_EQ(call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    refused(StateOpen);
    ASSERT_EQ(call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr), TWRC_SUCCESS);
    EXPECT_EQ(session->notifyApplication(MSG_CLOSEDSREQ), 0);
    EXPECT_EQ(session->notifyApplication(MSG_XFERREADY), 0);
    EXPECT_EQ(session->state, 3u);
    EXPECT_EQ(log.count(), 2);
}

// Run on its own with the manager disabled (see CMakeLists.txt): the notification cannot be
// delivered, but the transfer is ready all the same.
TEST_F(SessionTest, WithoutAManagerXferReadyStillMeansStateSix) {
    if (!std::getenv("DORVEX_TEST_NO_MANAGER")) GTEST_SKIP() << "runs as win.source.session.no_manager";
    HMODULE manager = LoadLibraryA("TWAIN_32.DLL");
    ASSERT_EQ(manager, nullptr) << "a Source Manager could still be loaded";
    open();
    enable();
    EXPECT_EQ(session->notifyApplication(MSG_XFERREADY), 1);
    EXPECT_EQ(session->state, 6u);
    TW_PENDINGXFERS pending{};
    EXPECT_EQ(call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_SUCCESS);
    EXPECT_EQ(pending.Count, 0xFFFF);
    EXPECT_EQ(session->notifyApplication(MSG_CLOSEDSREQ), 1);
    EXPECT_EQ(session->state, 6u);
}

TEST_F(SessionTest, ContainersAreZeroedMovableBlocksSizedByType) {
    struct Case {
        TW_UINT16 type;
        uint32_t items;
        SIZE_T bytes;
    } cases[] = {
        {TWON_ARRAY, 26, 33}, {TWON_ARRAY, 0, 7}, {TWON_ENUMERATION, 4, 19}, {TWON_ENUMERATION, 100, 115},
        {TWON_ONEVALUE, 0, 6}, {TWON_ONEVALUE, 400, 6}, {TWON_RANGE, 0, 22}, {TWON_RANGE, 9, 22},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "type " << c.type << " items " << c.items);
        HGLOBAL h = session->allocContainer(c.type, c.items);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(GlobalSize(h), c.bytes);
        auto* p = static_cast<uint8_t*>(GlobalLock(h));
        ASSERT_NE(p, nullptr);
        EXPECT_NE(static_cast<void*>(p), h);
        for (SIZE_T i = 0; i < c.bytes; ++i) EXPECT_EQ(p[i], 0) << i;
        GlobalUnlock(h);
        EXPECT_EQ(GlobalFree(h), nullptr);
    }
    for (TW_UINT16 type : {TW_UINT16(0), TW_UINT16(1), TW_UINT16(2), TW_UINT16(7), TWON_DONTCARE16})
        EXPECT_EQ(session->allocContainer(type, 4), nullptr) << type;
    // Sizes that would wrap the header arithmetic are refused, not truncated.
    EXPECT_EQ(session->allocContainer(TWON_ARRAY, 0xFFFFFFFCu), nullptr);
    EXPECT_EQ(session->allocContainer(TWON_ENUMERATION, 0xFFFFFFF5u), nullptr);
}

namespace {

// Leads fresh session objects through the states the way application and camera dialog do.
class SessionDriver : public ControlDriver {
public:
    SessionDriver(std::unique_ptr<SourceSession>& s, TW_IDENTITY& a) : session(s), app(a) {}
    void reach(int state) override {
        session = std::make_unique<SourceSession>();
        session->startup();
        if (state >= 4) {
            TW_IDENTITY source = session->sourceIdentity;
            source.Id = 3;
            ASSERT_EQ(call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source), TWRC_SUCCESS);
        }
        if (state >= 5) {
            TW_USERINTERFACE ui{FALSE, FALSE, nullptr};
            ASSERT_EQ(call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
        }
        if (state >= 6) {
            static const std::vector<uint8_t> jpeg = colourJpeg(9, 5);
            ASSERT_EQ(session->prepareImage(jpeg.data(), uint32_t(jpeg.size())), 1);
            session->notifyApplication(MSG_XFERREADY);
        }
        if (state >= 7) {
            TW_UINT32 handle = 0;
            ASSERT_EQ(call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle), TWRC_XFERDONE);
            GlobalFree(reinterpret_cast<HGLOBAL>(uintptr_t(handle)));
        }
        session->conditionCode = TWCC_BUMMER;  // so that every row must set it
    }
    TW_UINT16 call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) override {
        TripletCall c{&app, dg, dat, msg, data};
        return session->dispatch(c);
    }
    TW_UINT16 lastConditionCode() override { return session->conditionCode; }
    int currentState() override { return int(session->state); }

private:
    std::unique_ptr<SourceSession>& session;
    TW_IDENTITY& app;
};

}  // namespace

TEST_F(SessionTest, EveryControlOperationInEveryState) {
    DsmLogView log;  // keeps the notifications of reach() inside this test
    SessionDriver driver(session, app);
    checkControlTable(driver, 3, 7);
}

TEST_F(SessionTest, CloseKeepsThePictureAndDisableKeepsTheDialog) {
    open();
    enable(true);
    ready(colourJpeg(16, 16));
    HWND dialog = session->cameraDialog->hwnd();
    TW_USERINTERFACE ui{TRUE, FALSE, nullptr};
    ASSERT_EQ(call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    EXPECT_EQ(session->state, 4u);
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_FALSE(IsWindowVisible(dialog));
    ASSERT_EQ(call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr), TWRC_SUCCESS);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(session->cameraDialog, nullptr);
    EXPECT_NE(session->decodedImage, nullptr);
    EXPECT_EQ(session->appIdentity.Id, 0u);
    // The exit hook takes what is left.
    session->shutdown();
    EXPECT_EQ(session->decodedImage, nullptr);
}

// An enable that cannot make its dialog (here: the parent window is gone) changes nothing: the
// dialog left hidden by the disable stays, with its camera and profile untouched, and the
// source stays in state 4.
TEST_F(SessionTest, AFailingEnableLeavesTheEarlierDialogAlone) {
    open();
    enable(true);
    CameraDialog* first = session->cameraDialog;
    ASSERT_NE(first, nullptr);
    HWND firstWindow = first->hwnd();
    TW_USERINTERFACE ui{TRUE, FALSE, nullptr};
    ASSERT_EQ(call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    RegDeleteKeyA(HKEY_CURRENT_USER, sourceSettingsKey);
    HWND gone = CreateWindowA("STATIC", "gone", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(gone, nullptr);
    DestroyWindow(gone);
    TW_USERINTERFACE broken{TRUE, FALSE, gone};
    EXPECT_EQ(call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &broken), TWRC_FAILURE);
    EXPECT_EQ(session->conditionCode, TWCC_OPERATIONERROR);
    EXPECT_EQ(session->state, 4u);
    EXPECT_EQ(session->cameraDialog, first);
    EXPECT_TRUE(IsWindow(firstWindow));
    HKEY key = nullptr;
    const bool written = RegOpenKeyExA(HKEY_CURRENT_USER, sourceSettingsKey, 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (key) RegCloseKey(key);
    EXPECT_FALSE(written) << "the earlier dialog was torn down";
    // A good enable then replaces it.
    enable(true);
    EXPECT_FALSE(IsWindow(firstWindow));
    EXPECT_EQ(session->state, 5u);
    RegDeleteKeyA(HKEY_CURRENT_USER, sourceSettingsKey);
}

namespace {

// The application of the re-entry test, closing the source from inside the notification.
TW_IDENTITY reentrantApp = makeAppIdentity(8, "Reentrant Application");
HWND dialogDuringClose = nullptr;
bool dialogAliveDuringClose = false;
bool dialogVisibleDuringClose = true;

void closeAtOnce(TW_UINT16 msg) {
    if (msg != MSG_CLOSEDSREQ) return;
    TW_USERINTERFACE ui{TRUE, FALSE, nullptr};
    TripletCall disable{&reentrantApp, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui};
    theSession().dispatch(disable);
    TripletCall close{&reentrantApp, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr};
    theSession().dispatch(close);
    dialogAliveDuringClose = IsWindow(dialogDuringClose) != FALSE;
    dialogVisibleDuringClose = IsWindowVisible(dialogDuringClose) != FALSE;
}

}  // namespace

// A manager that hands the close request straight to the application, which closes the
// source while the dialog's Cancel handler is still running: the window goes with the close
// (and any box or dialog it owns with it), the object outlives its handler and goes right
// after.
TEST(SessionReentry, ACloseFromInsideTheDialogsHandlerWaitsForTheHandler) {
    SourceSession& session = theSession();  // the one the dialog reports to
    TW_IDENTITY source = session.sourceIdentity;
    source.Id = 12;
    TripletCall open{&reentrantApp, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source};
    ASSERT_EQ(session.dispatch(open), TWRC_SUCCESS);
    TW_USERINTERFACE ui{TRUE, FALSE, nullptr};
    TripletCall enable{&reentrantApp, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui};
    ASSERT_EQ(session.dispatch(enable), TWRC_SUCCESS);
    dialogDuringClose = session.cameraDialog->hwnd();

    DsmLogView log;
    log.setCallback(closeAtOnce);
    MSG escape{dialogDuringClose, WM_KEYDOWN, VK_ESCAPE, 0x00010001, GetTickCount(), {0, 0}};
    TW_EVENT event{&escape, 0xFFFF};
    TripletCall process{&reentrantApp, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event};
    EXPECT_EQ(session.dispatch(process), TWRC_DSEVENT);
    EXPECT_EQ(log.count(), 1);
    EXPECT_FALSE(dialogAliveDuringClose);
    EXPECT_FALSE(dialogVisibleDuringClose);
    EXPECT_FALSE(IsWindow(dialogDuringClose));
    EXPECT_EQ(session.cameraDialog, nullptr);
    EXPECT_EQ(session.state, 3u);
    releaseSession();
}

namespace {

TW_UINT16 callWithoutOrigin(SourceSession& session, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
    TripletCall c{nullptr, dg, dat, msg, data};
    return session.dispatch(c);
}

HWND handlerDialog = nullptr;
bool closedUnderHandler = false;
bool profileWrittenDuringClose = true;
bool windowGoneDuringClose = false;

bool profileExists() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, sourceSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void CALLBACK closeFromTimer(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    TripletCall close{&reentrantApp, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr};
    closedUnderHandler = theSession().dispatch(close) == TWRC_SUCCESS;
    profileWrittenDuringClose = profileExists();
    windowGoneDuringClose = !IsWindow(handlerDialog);
}

}  // namespace

// A manager asks for the identity with a null origin, whatever application holds the source
// and whatever it is doing; that one question is answered, nothing else is, and the
// application's condition code and state stay as they were.
TEST_F(SessionTest, IdentityWithoutAnOriginInEveryStateAndNothingElse) {
    DsmLogView log;
    std::vector<uint8_t> jpeg = colourJpeg(16, 8);
    for (int state = 3; state <= 7; ++state) {
        SCOPED_TRACE("state " + std::to_string(state));
        fresh();
        if (state >= 4) open(300 + state);
        if (state >= 5) enable();
        if (state >= 6) ready(jpeg);
        if (state >= 7) {
            ASSERT_EQ(nativeTransfer(), TWRC_XFERDONE);
        }
        ASSERT_EQ(session->state, TW_UINT32(state));
        // A failure of the application's own, to be kept for its DAT_STATUS.
        TW_IDENTITY again{};
        EXPECT_EQ(call(DG_CONTROL, DAT_IDENTITY, state == 3 ? MSG_CLOSEDS : MSG_OPENDS, &again), TWRC_FAILURE);
        ASSERT_EQ(session->conditionCode, TWCC_SEQERROR);

        TW_IDENTITY id;
        std::memset(&id, 0xCC, sizeof id);
        ASSERT_EQ(callWithoutOrigin(*session, DG_CONTROL, DAT_IDENTITY, MSG_GET, &id), TWRC_SUCCESS);
        EXPECT_STREQ(id.ProductName, "Zelmar Dorvex");
        EXPECT_STREQ(id.Manufacturer, "Zelmar Corporation");
        EXPECT_EQ(id.Id, state >= 4 ? TW_UINT32(300 + state) : 0u);
        EXPECT_EQ(session->conditionCode, TWCC_SEQERROR);
        EXPECT_EQ(session->state, TW_UINT32(state));
        EXPECT_EQ(session->appIdentity.Id, state >= 4 ? app.Id : 0u);

        TW_IDENTITY other = makeAppIdentity(0, "Nobody");
        TW_STATUS status{};
        TW_CAPABILITY cap{CAP_XFERCOUNT, 0, nullptr};
        TW_USERINTERFACE ui{FALSE, FALSE, nullptr};
        TW_PENDINGXFERS pending{};
        TW_IMAGEINFO info{};
        MSG message{};
        TW_EVENT event{&message, 0xEEEE};
        struct Refused {
            TW_UINT32 dg;
            TW_UINT16 dat, msg;
            void* data;
        } refused[] = {
            {DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &other},     {DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &other},
            {DG_CONTROL, DAT_STATUS, MSG_GET, &status},         {DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap},
            {DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui}, {DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending},
            {DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event},  {DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info},
            {DG_IMAGE, DAT_IDENTITY, MSG_GET, &other},
        };
        for (const Refused& r : refused) {
            SCOPED_TRACE("DAT " + std::to_string(r.dat) + " MSG " + std::to_string(r.msg));
            EXPECT_EQ(callWithoutOrigin(*session, r.dg, r.dat, r.msg, r.data), TWRC_FAILURE);
            EXPECT_EQ(session->conditionCode, TWCC_BADPROTOCOL);
            EXPECT_EQ(session->state, TW_UINT32(state));
        }
        EXPECT_EQ(cap.hContainer, nullptr);
        EXPECT_EQ(event.TWMessage, 0xEEEE);
        EXPECT_EQ(session->appIdentity.Id, state >= 4 ? app.Id : 0u);
    }
}

// The application's own modal loop (no MSG_PROCESSEVENT) hands Setting to the camera dialog,
// and closes the source while the settings dialog runs: the window and the settings dialog go
// at once, but the teardown (camera reset, profile write, deletion) waits until the Setting
// handler has returned.
TEST(SessionReentry, ACloseFromTheApplicationsOwnLoopWaitsForTheRunningHandler) {
    RegDeleteKeyA(HKEY_CURRENT_USER, sourceSettingsKey);
    SourceSession& session = theSession();
    TW_IDENTITY source = session.sourceIdentity;
    source.Id = 13;
    TripletCall open{&reentrantApp, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source};
    ASSERT_EQ(session.dispatch(open), TWRC_SUCCESS);
    TW_USERINTERFACE ui{TRUE, FALSE, nullptr};
    TripletCall enable{&reentrantApp, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui};
    ASSERT_EQ(session.dispatch(enable), TWRC_SUCCESS);
    handlerDialog = session.cameraDialog->hwnd();
    // No camera here: the connection attempt is left out, Setting works unconnected.
    MSG pending;
    while (PeekMessageA(&pending, handlerDialog, UM_CONNECT, UM_CONNECT, PM_REMOVE)) {
    }
    const UINT_PTR timer = SetTimer(nullptr, 0, 200, closeFromTimer);
    ASSERT_NE(timer, 0u);
    SendMessageA(handlerDialog, WM_COMMAND, MAKEWPARAM(IDC_SETTING, BN_CLICKED), 0);
    KillTimer(nullptr, timer);
    EXPECT_TRUE(closedUnderHandler);
    EXPECT_TRUE(windowGoneDuringClose);
    EXPECT_FALSE(profileWrittenDuringClose) << "the dialog was torn down under its running handler";
    EXPECT_TRUE(profileExists()) << "the teardown did not run once the handler returned";
    EXPECT_EQ(session.cameraDialog, nullptr);
    EXPECT_EQ(session.state, 3u);
    releaseSession();
    RegDeleteKeyA(HKEY_CURRENT_USER, sourceSettingsKey);
}
