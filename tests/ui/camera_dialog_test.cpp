// The camera dialog against the simulated camera: connection with its questions, the status
// display, Open's card check, the settings round trip, closing, and context help. Each test is
// one scenario; CMake runs it with its own simulator (run_with_sim.sh) and checks the trace.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "camera/camera_link.h"
#include "imaging/colour_cube.h"
#include "imaging/jpeg_decoder.h"
#include "resources/resource_ids.h"
#include "source/source_session.h"
#include "tests/ui/dialog_driver.h"
#include "tests/ui/screenshot.h"
#include "tests/ui/ui_script.h"
#include "ui/camera_dialog.h"
#include "ui/gdi_palette.h"
#include "ui/source_settings.h"

namespace {

const char* const profileKey = "Software\\Zelmar\\Dorvex TwainDS";

// Replaces the profile: values given as -1 are left out.
void setProfile(long bitRate, long port, long thumbnails) {
    RegDeleteKeyA(HKEY_CURRENT_USER, profileKey);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, profileKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                             nullptr));
    const std::pair<const char*, long> values[] = {{"BaudRate", bitRate}, {"ComPort", port}, {"Thumbnail", thumbnails}};
    for (const auto& [name, value] : values) {
        if (value < 0) continue;
        const DWORD v = static_cast<DWORD>(value);
        RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
    }
    RegCloseKey(key);
}

// A profile value, -1 when missing.
long profileValue(const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, profileKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return -1;
    DWORD value = 0, size = sizeof value, type = 0;
    const LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS && type == REG_DWORD ? static_cast<long>(value) : -1;
}

bool enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

// The dialog under test with the script that answers its questions.
class CameraDialogTest : public ::testing::Test {
protected:
    void TearDown() override { closeDialog(); }

    // Creates the dialog (it connects on its own) and waits until it has settled: Setting
    // enabled, or the script finished and the dialog left alone for a moment.
    void open(UiScript& script) {
        script.start();
        dialog = std::make_unique<CameraDialog>(nullptr);
        ASSERT_NE(nullptr, dialog->hwnd());
        // Settled: every question answered, and connected unless a question was asked.
        pumpUntil(
            [&] {
                return script.stepsDone() == script.stepCount() &&
                       (script.stepCount() > 0 || enabled(dialog->hwnd(), IDC_SETTING));
            },
            60000);
        pumpFor(300);
        EXPECT_TRUE(script.finish(5000)) << "script steps left";
    }

    void closeDialog() { dialog.reset(); }

    HWND hwnd() const { return dialog->hwnd(); }
    std::string text(int id) const { return itemText(hwnd(), id); }
    bool focusOn(int id) const { return focusOf(GetCurrentThreadId()) == GetDlgItem(hwnd(), id); }

    std::unique_ptr<CameraDialog> dialog;
};

std::vector<std::string> boxes(const UiScript& script) {
    std::vector<std::string> out;
    for (const std::string& line : script.log())
        if (line.rfind("box ", 0) == 0) out.push_back(line.substr(4));
    return out;
}

}  // namespace

// ---- connection ----

TEST_F(CameraDialogTest, FirstConnectionWithoutProfileUsesCom1At9600) {
    RegDeleteKeyA(HKEY_CURRENT_USER, profileKey);
    UiScript script;
    open(script);
    EXPECT_TRUE(boxes(script).empty());
    EXPECT_EQ("6", text(IDC_PICS_TAKEN));
    EXPECT_EQ(loadString(IDS_POWER_FIRST + 2), text(IDC_POWER));  // power values 2,0
    EXPECT_TRUE(enabled(hwnd(), IDC_OPEN));
    EXPECT_TRUE(enabled(hwnd(), IDCANCEL));
    EXPECT_TRUE(focusOn(IDC_OPEN));
    ASSERT_NE(nullptr, dialog->link());
    EXPECT_TRUE(dialog->link()->isConnected());
    closeDialog();
    // Closing writes all three values, unchanged ones included.
    EXPECT_EQ(0, profileValue("BaudRate"));
    EXPECT_EQ(0, profileValue("ComPort"));
    EXPECT_EQ(0, profileValue("Thumbnail"));
}

TEST_F(CameraDialogTest, ConfiguredRateAfter9600) {
    setProfile(4, 0, 1);
    UiScript script;
    open(script);
    EXPECT_TRUE(boxes(script).empty());
    EXPECT_EQ("6", text(IDC_PICS_TAKEN));
    closeDialog();
    EXPECT_EQ(4, profileValue("BaudRate"));
    EXPECT_EQ(1, profileValue("Thumbnail"));
}

TEST_F(CameraDialogTest, CameraStillAtConfiguredRateIsReachedDirectly) {
    setProfile(4, 0, 0);
    UiScript script(90000);
    open(script);
    EXPECT_TRUE(boxes(script).empty());
    EXPECT_EQ("6", text(IDC_PICS_TAKEN));
    EXPECT_TRUE(dialog->link()->isConnected());
}

TEST_F(CameraDialogTest, StoredPortOutOfRangeSendsNothingAndAsks) {
    setProfile(0, 4, 0);
    UiScript script;
    script.answerBox(IDNO);
    open(script);
    ASSERT_EQ(1u, boxes(script).size());
    EXPECT_EQ(loadString(IDS_ASK_NO_RESPONSE), boxes(script)[0]);
    // No: the source asked to be closed and the dialog stays as it was while connecting.
    EXPECT_FALSE(enabled(hwnd(), IDC_SETTING));
    EXPECT_FALSE(enabled(hwnd(), IDCANCEL));
    EXPECT_FALSE(dialog->link()->isConnected());
}

TEST_F(CameraDialogTest, StoredBitRateOutOfRangeStaysAt9600) {
    setProfile(5, 0, 0);
    UiScript script;
    std::string buttons, icon;
    script.step("no response", isSourceMessageBox, [&](HWND box) {
        script.note("box " + messageBoxText(box));
        buttons = messageBoxButtons(box);
        icon = messageBoxIcon(box);
        postClick(box, IDYES);
    });
    open(script);
    ASSERT_EQ(1u, boxes(script).size());
    EXPECT_EQ(loadString(IDS_ASK_NO_RESPONSE), boxes(script)[0]);
    EXPECT_EQ("Yes/No", buttons);
    EXPECT_EQ("?", icon);
    // Yes: the link answered at 9600 and stays connected there.
    EXPECT_TRUE(dialog->link()->isConnected());
    EXPECT_EQ("6", text(IDC_PICS_TAKEN));
    EXPECT_TRUE(enabled(hwnd(), IDC_OPEN));
}

TEST_F(CameraDialogTest, NoCameraAnsweredNoAsksToClose) {
    RegDeleteKeyA(HKEY_CURRENT_USER, profileKey);
    UiScript script(60000);
    script.answerBox(IDNO);
    open(script);
    ASSERT_EQ(1u, boxes(script).size());
    EXPECT_EQ(loadString(IDS_ASK_NO_RESPONSE), boxes(script)[0]);
    EXPECT_FALSE(enabled(hwnd(), IDC_SETTING));
    EXPECT_FALSE(enabled(hwnd(), IDCANCEL));
}

TEST_F(CameraDialogTest, NoCameraAnsweredYesShowsTheEmptyDisplay) {
    RegDeleteKeyA(HKEY_CURRENT_USER, profileKey);
    UiScript script(60000);
    script.answerBox(IDYES);
    open(script);
    ASSERT_EQ(1u, boxes(script).size());
    EXPECT_TRUE(enabled(hwnd(), IDC_SETTING));
    EXPECT_TRUE(enabled(hwnd(), IDCANCEL));
    EXPECT_FALSE(enabled(hwnd(), IDC_OPEN));
    EXPECT_EQ("", text(IDC_PICS_TAKEN));
    EXPECT_EQ("", text(IDC_POWER));
    EXPECT_TRUE(focusOn(IDC_SETTING));
    closeDialog();
    EXPECT_EQ(0, profileValue("ComPort"));
}

TEST_F(CameraDialogTest, BusyCameraIsAskedForUntilReady) {
    RegDeleteKeyA(HKEY_CURRENT_USER, profileKey);
    UiScript script;
    std::string buttons;
    script.step("busy 1", isSourceMessageBox, [&](HWND box) {
        script.note("box " + messageBoxText(box));
        buttons = messageBoxButtons(box);
        postClick(box, IDOK);
    });
    script.answerBox(IDOK);
    open(script);
    const auto seen = boxes(script);
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(loadString(IDS_ASK_BUSY), seen[0]);
    EXPECT_EQ(loadString(IDS_ASK_BUSY), seen[1]);
    EXPECT_EQ("OK/Cancel", buttons);
    EXPECT_EQ("6", text(IDC_PICS_TAKEN));
}

TEST_F(CameraDialogTest, LowBatteryAnsweredNoAsksToClose) {
    RegDeleteKeyA(HKEY_CURRENT_USER, profileKey);
    UiScript script;
    script.answerBox(IDNO);
    open(script);
    ASSERT_EQ(1u, boxes(script).size());
    EXPECT_EQ(loadString(IDS_ASK_LOW_BATTERY), boxes(script)[0]);
    EXPECT_FALSE(enabled(hwnd(), IDC_SETTING));
}

TEST_F(CameraDialogTest, LowBatteryAnsweredYesGoesOn) {
    RegDeleteKeyA(HKEY_CURRENT_USER, profileKey);
    UiScript script;
    script.answerBox(IDYES);
    open(script);
    ASSERT_EQ(1u, boxes(script).size());
    EXPECT_EQ(loadString(IDS_ASK_LOW_BATTERY), boxes(script)[0]);
    EXPECT_TRUE(enabled(hwnd(), IDC_SETTING));
    // Power values 0 and 2: the low-battery flag reads "Low", not the sum's "Full".
    EXPECT_EQ(loadString(IDS_POWER_FIRST + 1), text(IDC_POWER));
}

TEST_F(CameraDialogTest, EmptyBatteryTextFollowsTheUserLanguage) {
    RegDeleteKeyA(HKEY_CURRENT_USER, profileKey);
    UiScript script;
    open(script);
    EXPECT_EQ(loadString(IDS_POWER_FIRST), text(IDC_POWER));
    EXPECT_EQ(PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE ? "0 %" : "Enpty", text(IDC_POWER));
}

TEST_F(CameraDialogTest, NoPicturesKeepsOpenDisabledWithFocusOnSetting) {
    RegDeleteKeyA(HKEY_CURRENT_USER, profileKey);
    UiScript script;
    open(script);
    EXPECT_EQ("0", text(IDC_PICS_TAKEN));
    EXPECT_EQ(loadString(IDS_POWER_FIRST + 3), text(IDC_POWER));  // AC
    EXPECT_FALSE(enabled(hwnd(), IDC_OPEN));
    EXPECT_TRUE(focusOn(IDC_SETTING));
}

TEST_F(CameraDialogTest, OpenWithoutCardSaysSo) {
    RegDeleteKeyA(HKEY_CURRENT_USER, profileKey);
    UiScript script;
    open(script);
    UiScript openScript;
    std::string icon;
    openScript.step("no card", isSourceMessageBox, [&](HWND box) {
        openScript.note("box " + messageBoxText(box));
        icon = messageBoxIcon(box);
        postClick(box, IDOK);
    });
    openScript.start();
    // Open is disabled without pictures; the command still reaches the card check.
    SendMessageA(hwnd(), WM_COMMAND, MAKEWPARAM(IDC_OPEN, BN_CLICKED), 0);
    ASSERT_TRUE(openScript.finish());
    ASSERT_EQ(1u, boxes(openScript).size());
    EXPECT_EQ(loadString(IDS_ERR_NO_CARD), boxes(openScript)[0]);
    EXPECT_EQ("!", icon);
    EXPECT_TRUE(enabled(hwnd(), IDC_SETTING));
}

// ---- settings round trip (simulator with a frozen clock at 2001-02-03 04:05:06) ----

namespace {

bool isSettingsDialog(HWND window) {
    return isDialogWith(window, IDC_BIT_RATE);
}

void setText(HWND dialog, int id, const char* text) {
    SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void select(HWND dialog, int id, int position) {
    HWND list = GetDlgItem(dialog, id);
    SendMessageA(list, CB_SETCURSEL, position, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

}  // namespace

class CameraSettingsTest : public CameraDialogTest {
protected:
    void SetUp() override {
        RegDeleteKeyA(HKEY_CURRENT_USER, profileKey);
        UiScript script;
        open(script);
        ASSERT_TRUE(dialog->link()->isConnected());
    }

    // Presses Setting and lets script drive the settings dialog (and what follows).
    void runSettings(UiScript& script) {
        script.start();
        SendMessageA(hwnd(), WM_COMMAND, MAKEWPARAM(IDC_SETTING, BN_CLICKED), 0);
        EXPECT_TRUE(script.finish()) << "script steps left";
    }
};

TEST_F(CameraSettingsTest, BitRateChangeReconnects) {
    std::string shownYear, shownTime;
    UiScript script;
    script.step("115200", isSettingsDialog, [&](HWND d) {
        shownYear = itemText(d, IDC_YEAR) + "/" + itemText(d, IDC_MONTH) + "/" + itemText(d, IDC_DAY);
        shownTime = itemText(d, IDC_HOUR) + ":" + itemText(d, IDC_MINUTE) + ":" + itemText(d, IDC_SECOND);
        select(d, IDC_BIT_RATE, 4);
        postClick(d, IDOK);
    });
    runSettings(script);
    EXPECT_EQ("2001/2/3", shownYear);
    EXPECT_EQ("4:5:6", shownTime);
    EXPECT_TRUE(boxes(script).empty());
    EXPECT_TRUE(dialog->link()->isConnected());
    EXPECT_EQ("6", text(IDC_PICS_TAKEN));
    closeDialog();
    EXPECT_EQ(4, profileValue("BaudRate"));
}

TEST_F(CameraSettingsTest, PortChangeToAMissingPortFailsAndKeepsThePort) {
    UiScript script;
    script.step("COM3", isSettingsDialog, [&](HWND d) {
        select(d, IDC_PORT, 2);
        postClick(d, IDOK);
    });
    script.answerBox(IDOK);
    runSettings(script);
    ASSERT_EQ(1u, boxes(script).size());
    EXPECT_EQ(loadString(IDS_ERR_CONNECT), boxes(script)[0]);
    // The display follows the link, which lost the camera.
    EXPECT_FALSE(enabled(hwnd(), IDC_OPEN));
    closeDialog();
    EXPECT_EQ(0, profileValue("ComPort"));
}

TEST_F(CameraSettingsTest, MinuteChangeSendsTheWholeClock) {
    UiScript script;
    script.step("minute 7", isSettingsDialog, [&](HWND d) {
        setText(d, IDC_MINUTE, "7");
        postClick(d, IDOK);
    });
    runSettings(script);
    EXPECT_TRUE(boxes(script).empty());
    StatusRecord status;
    ASSERT_TRUE(dialog->link()->statusRecord(status));
    EXPECT_EQ(7, status.minute);
    EXPECT_EQ(4, status.hour);
    EXPECT_EQ(6, status.second);
}

TEST_F(CameraSettingsTest, YearsGoToTheCameraModulo100) {
    for (const char* year : {"2000", "1999"}) {
        UiScript script;
        script.step(year, isSettingsDialog, [&](HWND d) {
            setText(d, IDC_YEAR, year);
            postClick(d, IDOK);
        });
        runSettings(script);
        EXPECT_TRUE(boxes(script).empty());
    }
    // The next settings dialog shows the year the camera now holds.
    std::string shown;
    UiScript check;
    check.step("read", isSettingsDialog, [&](HWND d) {
        shown = itemText(d, IDC_YEAR);
        postClick(d, IDCANCEL);
    });
    runSettings(check);
    EXPECT_EQ("1999", shown);
}

TEST_F(CameraSettingsTest, InvalidDateAndUnchangedOkSendNothing) {
    UiScript script;
    script.step("30 February", isSettingsDialog, [&](HWND d) {
        setText(d, IDC_DAY, "30");
        postClick(d, IDOK);
    }, false);
    script.answerBox(IDOK);
    script.step("cancel", isSettingsDialog, [&](HWND d) { postClick(d, IDCANCEL); });
    runSettings(script);
    ASSERT_EQ(1u, boxes(script).size());
    EXPECT_EQ(loadString(IDS_ERR_DATE_FORMAT), boxes(script)[0]);
    UiScript unchanged;
    unchanged.step("OK", isSettingsDialog, [&](HWND d) { postClick(d, IDOK); });
    runSettings(unchanged);
    EXPECT_TRUE(boxes(unchanged).empty());
}

TEST_F(CameraSettingsTest, ClockCheckBoxSendsThePcTime) {
    SYSTEMTIME before{};
    UiScript script;
    script.step("PC clock", isSettingsDialog, [&](HWND d) {
        GetLocalTime(&before);
        SendDlgItemMessageA(d, IDC_CLOCK_FROM_PC, BM_CLICK, 0, 0);
        postClick(d, IDOK);
    });
    runSettings(script);
    StatusRecord status;
    ASSERT_TRUE(dialog->link()->statusRecord(status));
    EXPECT_EQ(before.wYear % 100, status.year);
    EXPECT_EQ(before.wMonth, status.month);
    EXPECT_EQ(before.wDay, status.day);
    EXPECT_EQ(before.wHour, status.hour);
}

// ---- context help ----

namespace {

bool isHelpPopup(HWND window) {
    return isDialogWith(window, IDC_HELP_TEXT);
}

BOOL CALLBACK collectHelpPopup(HWND window, LPARAM found) {
    if (IsWindowVisible(window) && isHelpPopup(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

HWND findHelpPopup(DWORD thread) {
    HWND popup = nullptr;
    EnumThreadWindows(thread, collectHelpPopup, reinterpret_cast<LPARAM>(&popup));
    return popup;
}

// Help requests that reach the camera dialog as its help command, counted when its handler
// has returned (with any pop-up it showed closed).
std::atomic<int> helpRequests{0};

LRESULT CALLBACK countHelpRequests(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_COMMAND && LOWORD(call->wParam) == ID_HELP_COMMAND) ++helpRequests;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// From the helper thread: puts the cursor on control id of dialog, makes the help request the
// caption button makes, and returns the pop-up's text ("" when the request was answered without
// one). The pop-up must open at the cursor; it is closed by a click or, with useKey, a key press.
std::string helpAt(UiScript& script, HWND dialog, int id, DWORD uiThread, bool useKey, bool& atCursor) {
    RECT r{};
    GetWindowRect(GetDlgItem(dialog, id), &r);
    const POINT cursor{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    // The help names the control under the cursor as the dialog's thread sees it.
    if (!script.moveCursor(cursor)) return "<cursor not moved>";
    // WM_HELP carries a pointer, so it can only be sent, not posted; the send returns when the
    // pop-up has closed, so it runs on a thread of its own while this one watches the pop-up.
    std::atomic<bool> answered{false};
    std::thread request([&answered, dialog, id, cursor] {
        HELPINFO info{};
        info.cbSize = sizeof info;
        info.iContextType = HELPINFO_WINDOW;
        info.iCtrlId = id;
        info.hItemHandle = GetDlgItem(dialog, id);
        info.MousePos = cursor;
        SendMessageA(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
        answered = true;
    });
    // Until the pop-up shows or the request is answered without one.
    HWND popup = nullptr;
    waitUntil([&] { return (popup = findHelpPopup(uiThread)) != nullptr || answered; }, 20000);
    if (!popup) {
        request.join();
        return answered ? "" : "<not answered>";
    }
    RECT placed{};
    GetWindowRect(popup, &placed);
    atCursor = placed.left == cursor.x && placed.top == cursor.y;
    const std::string shown = itemText(popup, IDC_HELP_TEXT);
    if (useKey)
        PostMessageA(popup, WM_KEYDOWN, 'A', 0);
    else
        PostMessageA(popup, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1, 1));
    // The request is answered once the pop-up has closed.
    const bool closed = waitUntil([&] { return answered.load(); }, 20000);
    if (!closed) PostMessageA(popup, WM_COMMAND, IDCANCEL, 0);
    request.join();
    return closed ? shown : "<not closed>";
}

void pressF1(bool down) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = VK_F1;
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    SendInput(1, &input, sizeof input);
}

}  // namespace

TEST_F(CameraSettingsTest, HelpTextsOverTheCameraDialog) {
    const DWORD uiThread = GetCurrentThreadId();
    struct Expect {
        int id;
        std::string text;
    };
    const Expect cases[] = {
        {IDC_PICS_TAKEN, loadString(4000)}, {IDC_POWER, loadString(4001)}, {IDC_OPEN, loadString(4002)},
        {IDC_SETTING, loadString(4003)},    {IDC_LOGO, ""},               {IDC_PICS_TAKEN_LABEL, ""},
        {IDC_POWER_LABEL, ""},              {IDCANCEL, ""},
    };
    std::vector<std::string> shown;
    std::vector<bool> placed;
    std::string withF1 = "<not tried>";
    UiScript script;
    HWND camera = hwnd();
    script.step("help", [camera](HWND w) { return w == camera; }, [&](HWND d) {
        // The help goes to the thread's active window.
        SetForegroundWindow(d);
        GUITHREADINFO thread{};
        thread.cbSize = sizeof thread;
        waitUntil([&] { return GetGUIThreadInfo(uiThread, &thread) && thread.hwndActive == d; }, 20000);
        int n = 0;
        for (const Expect& c : cases) {
            bool atCursor = false;
            shown.push_back(helpAt(script, d, c.id, uiThread, (n++ & 1) != 0, atCursor));
            placed.push_back(atCursor);
        }
        // F1 over a control: the key's own help request reaches the dialog but shows nothing.
        // The key stays down until that request has been answered; a pop-up that shows anyway is
        // noted and closed, so that the test cannot hang on it.
        RECT r{};
        GetWindowRect(GetDlgItem(d, IDC_OPEN), &r);
        script.moveCursor({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
        withF1 = "<not answered>";
        const int before = helpRequests;
        pressF1(true);
        if (waitUntil(
                [&] {
                    if (HWND popup = findHelpPopup(uiThread)) {
                        withF1 = "<pop-up: " + itemText(popup, IDC_HELP_TEXT) + ">";
                        PostMessageA(popup, WM_COMMAND, IDCANCEL, 0);
                    }
                    return helpRequests > before;
                },
                20000) &&
            withF1 == "<not answered>")
            withF1 = "";
        pressF1(false);
    }, false);
    helpRequests = 0;
    HHOOK spy = SetWindowsHookExA(WH_CALLWNDPROCRET, countHelpRequests, nullptr, uiThread);
    script.start();
    ASSERT_TRUE(script.finish(60000));
    UnhookWindowsHookEx(spy);
    // Every request reached the camera dialog as its help command, the F1 key's too.
    EXPECT_EQ(static_cast<int>(std::size(cases)) + 1, helpRequests);
    EXPECT_EQ("", withF1);
    ASSERT_EQ(std::size(cases), shown.size());
    for (size_t i = 0; i < shown.size(); ++i) {
        EXPECT_EQ(cases[i].text, shown[i]) << "control " << cases[i].id;
        if (!cases[i].text.empty()) {
            EXPECT_TRUE(placed[i]) << "control " << cases[i].id;
        }
    }
}

TEST_F(CameraSettingsTest, HelpTextsOverTheSettingsDialog) {
    const DWORD uiThread = GetCurrentThreadId();
    struct Expect {
        int id;
        UINT string;
    };
    const Expect cases[] = {
        {IDC_BIT_RATE, 4008},   {IDC_PORT, 4009},        {IDC_YEAR, 4010},        {IDC_YEAR_SPIN, 4010},
        {IDC_DAY, 4010},        {IDC_DAY_SPIN, 4010},    {IDC_HOUR, 4011},        {IDC_SECOND_SPIN, 4011},
        {IDC_CLOCK_FROM_PC, 4012}, {IDC_AUTO_THUMBNAILS, 4013}, {IDC_DATE_LABEL, 0}, {IDC_TIME_LABEL, 0},
        {IDOK, 0},
    };
    std::vector<std::string> shown;
    UiScript script;
    script.step("help", isSettingsDialog, [&](HWND d) {
        int n = 0;
        for (const Expect& c : cases) {
            bool atCursor = false;
            shown.push_back(helpAt(script, d, c.id, uiThread, (n++ & 1) != 0, atCursor));
        }
        postClick(d, IDCANCEL);
    });
    runSettings(script);
    ASSERT_EQ(std::size(cases), shown.size());
    for (size_t i = 0; i < shown.size(); ++i)
        EXPECT_EQ(cases[i].string ? loadString(cases[i].string) : std::string(), shown[i]) << "control " << cases[i].id;
}

// ---- screenshots for the documentation (only under with_screenshots.sh) ----

TEST_F(CameraDialogTest, Screenshots) {
    if (!std::getenv("DORVEX_SHOT_DIR")) GTEST_SKIP() << "no screenshot wrapper";
    RegDeleteKeyA(HKEY_CURRENT_USER, profileKey);
    UiScript connect;
    open(connect);
    const DWORD uiThread = GetCurrentThreadId();
    bool camera = false, settings = false, popup = false;
    UiScript script;
    HWND cameraWindow = hwnd();
    // The cursor stays off the dialogs, so that no control is drawn hot under it.
    SetCursorPos(0, 0);
    script.step("camera", [cameraWindow](HWND w) { return w == cameraWindow; }, [&](HWND d) {
        Sleep(300);
        camera = takeScreenshot("camera_dialog", d);
        postClick(d, IDC_SETTING);
    }, false);
    script.step("settings", isSettingsDialog, [&](HWND d) {
        SetCursorPos(0, 0);
        Sleep(300);
        settings = takeScreenshot("settings_dialog", d);
        RECT r{};
        GetWindowRect(GetDlgItem(d, IDC_AUTO_THUMBNAILS), &r);
        // Moved on the dialogs' own thread, so that the help is asked for where the cursor landed.
        script.moveCursor({r.left + 20, (r.top + r.bottom) / 2});
        std::thread request([d] { SendMessageA(d, WM_HELP, 0, 0); });
        HWND shown = nullptr;
        for (int i = 0; i < 1000 && !shown; ++i) {
            Sleep(20);
            shown = findHelpPopup(uiThread);
        }
        if (shown) {
            Sleep(300);
            popup = takeScreenshot("help_popup", shown);
            PostMessageA(shown, WM_KEYDOWN, 'A', 0);
        }
        request.join();
        postClick(d, IDCANCEL);
    });
    script.start();
    EXPECT_TRUE(script.finish(60000));
    EXPECT_TRUE(camera);
    EXPECT_TRUE(settings);
    EXPECT_TRUE(popup);
}

// ---- palettes (run on a 24-bit screen and on a 256-colour one) ----

TEST_F(CameraDialogTest, PalettesFollowTheScreen) {
    const char* expected = std::getenv("DORVEX_EXPECT_PALETTE");
    const bool paletteScreen = expected && std::string(expected) == "1";
    ASSERT_EQ(paletteScreen, screenIsPaletteBased()) << "the screen is not what the scenario set up";
    RegDeleteKeyA(HKEY_CURRENT_USER, profileKey);
    UiScript script;
    open(script);
    const LRESULT answer = SendMessageA(hwnd(), WM_QUERYNEWPALETTE, 0, 0);
    if (!paletteScreen) {
        EXPECT_EQ(nullptr, sharedPalette);
        EXPECT_EQ(nullptr, dialog->logoPalette());
        EXPECT_EQ(FALSE, answer);
    } else {
        ASSERT_NE(nullptr, sharedPalette);
        PALETTEENTRY entries[256] = {};
        ASSERT_EQ(256u, GetPaletteEntries(sharedPalette, 0, 256, entries));
        for (unsigned i = 0; i < 256; ++i) {
            const PaletteColour want = sharedPaletteColour(static_cast<int>(i));
            EXPECT_EQ(want.red, entries[i].peRed) << i;
            EXPECT_EQ(want.green, entries[i].peGreen) << i;
            EXPECT_EQ(want.blue, entries[i].peBlue) << i;
        }
        // The logo's palette holds the colour table of bitmap 200.
        ASSERT_NE(nullptr, dialog->logoPalette());
        HRSRC info = FindResourceA(nullptr, MAKEINTRESOURCEA(IDB_LOGO), MAKEINTRESOURCEA(2));
        ASSERT_NE(nullptr, info);
        const auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(nullptr, info)));
        const auto* table = reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const BYTE*>(header) + header->biSize);
        ASSERT_EQ(256u, GetPaletteEntries(dialog->logoPalette(), 0, 256, entries));
        for (unsigned i = 0; i < 256; ++i) {
            EXPECT_EQ(table[i].rgbRed, entries[i].peRed) << i;
            EXPECT_EQ(table[i].rgbBlue, entries[i].peBlue) << i;
        }
        EXPECT_EQ(TRUE, answer);
    }
    // The logo is laid out at the top left and the dialog sized around it.
    RECT logo{}, client{};
    GetWindowRect(GetDlgItem(hwnd(), IDC_LOGO), &logo);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&logo), 2);
    GetClientRect(hwnd(), &client);
    EXPECT_EQ(0, logo.left);
    EXPECT_EQ(0, logo.top);
    EXPECT_EQ(474, logo.right - logo.left);
    EXPECT_EQ(264, logo.bottom - logo.top);
    EXPECT_GE(client.bottom, 264 + 36 + 26);
    closeDialog();
    EXPECT_EQ(nullptr, sharedPalette);
}

// ---- Open: the acquire dialog, then the picture goes to the session ----

namespace {

bool isAcquireDialog(HWND window) {
    return isDialogWith(window, IDC_AQUIRE);
}

// From the helper thread: waits until the acquire dialog has listed its pictures.
bool waitForListing(HWND acquire) {
    for (int i = 0; i < 300; ++i) {
        if (IsWindowEnabled(GetDlgItem(acquire, IDC_AQUIRE))) return true;
        Sleep(50);
    }
    return false;
}

}  // namespace

TEST_F(CameraDialogTest, OpenAcquiresOnePictureForTheApplication) {
    RegDeleteKeyA(HKEY_CURRENT_USER, profileKey);
    UiScript connect;
    open(connect);
    SourceSession& session = theSession();
    const TwainState stateBefore = session.state;
    const TW_UINT32 appBefore = session.appIdentity.Id;
    // As for an application that opened and enabled the source: a transfer is offered in
    // state 5 only.
    session.state = StateEnabled;
    session.appIdentity.Id = 21;
    bool listed = false;
    UiScript script(90000);
    script.step("choose picture 2", isAcquireDialog, [&](HWND d) {
        listed = waitForListing(d);
        DialogDriver::clickCell(d, 1);
        Sleep(200);
        postClick(d, IDC_AQUIRE);
    });
    script.start();
    SendMessageA(hwnd(), WM_COMMAND, MAKEWPARAM(IDC_OPEN, BN_CLICKED), 0);
    ASSERT_TRUE(script.finish(30000));
    EXPECT_TRUE(listed);
    EXPECT_TRUE(boxes(script).empty());
    // The picture is decoded into the session, which now reports a transfer ready.
    ASSERT_NE(nullptr, session.decodedImage);
    EXPECT_GT(session.decodedImage->width, 0u);
    EXPECT_GT(session.decodedImage->height, 0u);
    EXPECT_EQ(6u, session.state);
    // The link's copy of the JPEG is released; the dialog stays for the next picture.
    EXPECT_EQ(nullptr, dialog->link()->buffers->jpeg.data);
    EXPECT_EQ(0u, dialog->link()->buffers->jpeg.count);
    EXPECT_TRUE(enabled(hwnd(), IDC_OPEN));
    const auto pixelsOf = [](const JpegDecoder* image) {
        return std::vector<uint8_t>(image->pixels, image->pixels + size_t(image->width) * size_t(image->height) * 3);
    };
    const std::vector<uint8_t> firstPixels = pixelsOf(session.decodedImage);
    // With the transfer pending (state 6), a second picture replaces the pending one; the
    // application, told once already, takes the newest with its next transfer.
    UiScript second(90000);
    second.step("choose picture 3", isAcquireDialog, [&](HWND d) {
        waitForListing(d);
        DialogDriver::clickCell(d, 2);
        Sleep(200);
        postClick(d, IDC_AQUIRE);
    });
    second.start();
    SendMessageA(hwnd(), WM_COMMAND, MAKEWPARAM(IDC_OPEN, BN_CLICKED), 0);
    ASSERT_TRUE(second.finish(30000)) << "Open ignored in state 6";
    EXPECT_TRUE(boxes(second).empty());
    ASSERT_NE(nullptr, session.decodedImage);
    EXPECT_EQ(6u, session.state);
    EXPECT_NE(firstPixels, pixelsOf(session.decodedImage));
    // While a transfer runs (state 7), Open is ignored: no listing.
    session.state = StateTransferring;
    UiScript again(3000);
    again.step("no acquire dialog", isAcquireDialog, [&](HWND d) { postClick(d, IDCANCEL); });
    again.start();
    SendMessageA(hwnd(), WM_COMMAND, MAKEWPARAM(IDC_OPEN, BN_CLICKED), 0);
    EXPECT_FALSE(again.finish(1000)) << "Open ran in state 7";
    EXPECT_EQ(7u, session.state);
    session.state = stateBefore;
    session.appIdentity.Id = appBefore;
}

BOOL CALLBACK cancelSettingsDialog(HWND window, LPARAM seen) {
    if (isSettingsDialog(window)) {
        *reinterpret_cast<bool*>(seen) = true;
        postClick(window, IDCANCEL);
    }
    return TRUE;
}

// A command posted to the camera dialog while its listing owns the link (by another program:
// the dialog itself is disabled meanwhile) does no camera work: Setting shows nothing, Open
// lists nothing and reports nothing.
TEST_F(CameraDialogTest, CommandsFromOutsideWaitForTheListing) {
    setProfile(-1, -1, 1);  // thumbnails: the paced listing takes seconds
    UiScript connect;
    open(connect);
    HWND camera = hwnd();
    const DWORD thread = GetCurrentThreadId();
    bool settingsSeen = false, listed = false;
    UiScript script(90000);
    script.step("listing", isAcquireDialog, [&](HWND d) {
        Sleep(1000);  // the dialog is seen before its listing starts
        PostMessageA(camera, WM_COMMAND, MAKEWPARAM(IDC_SETTING, BN_CLICKED), 0);
        PostMessageA(camera, WM_COMMAND, MAKEWPARAM(IDC_OPEN, BN_CLICKED), 0);
        for (int i = 0; i < 30 && !settingsSeen; ++i) {
            Sleep(50);
            EnumThreadWindows(thread, cancelSettingsDialog, reinterpret_cast<LPARAM>(&settingsSeen));
        }
        postClick(d, IDCANCEL);  // stops the listing
        for (int i = 0; i < 1200 && !listed; ++i) {
            listed = IsWindowEnabled(GetDlgItem(d, IDC_AQUIRE)) != FALSE;
            Sleep(50);
        }
        postClick(d, IDCANCEL);
    });
    script.start();
    SendMessageA(camera, WM_COMMAND, MAKEWPARAM(IDC_OPEN, BN_CLICKED), 0);
    ASSERT_TRUE(script.finish(90000));
    EXPECT_TRUE(listed);
    EXPECT_FALSE(settingsSeen) << "Setting ran during the listing";
    EXPECT_TRUE(boxes(script).empty());
}

TEST_F(CameraDialogTest, OpenCancelledChangesNothing) {
    RegDeleteKeyA(HKEY_CURRENT_USER, profileKey);
    UiScript connect;
    open(connect);
    SourceSession& session = theSession();
    const TwainState stateBefore = session.state;
    UiScript script(90000);
    script.step("cancel", isAcquireDialog, [&](HWND d) {
        waitForListing(d);
        postClick(d, IDCANCEL);
    });
    script.start();
    SendMessageA(hwnd(), WM_COMMAND, MAKEWPARAM(IDC_OPEN, BN_CLICKED), 0);
    ASSERT_TRUE(script.finish(30000));
    EXPECT_EQ(stateBefore, session.state);
    EXPECT_TRUE(enabled(hwnd(), IDC_OPEN));
    EXPECT_TRUE(dialog->link()->isConnected());
}

// ---- settings without a camera: choosing a port and bit rate connects ----

TEST_F(CameraDialogTest, SettingsWithoutCameraConnectWithTheNewChoice) {
    RegDeleteKeyA(HKEY_CURRENT_USER, profileKey);  // COM1, where no camera is
    UiScript connect(60000);
    connect.answerBox(IDYES);
    open(connect);
    ASSERT_FALSE(dialog->link()->isConnected());
    int rateShown = 0, portShown = 0;
    bool yearEnabled = true;
    UiScript script(60000);
    script.step("COM2 at 19200", isSettingsDialog, [&](HWND d) {
        rateShown = static_cast<int>(SendDlgItemMessageA(d, IDC_BIT_RATE, CB_GETCURSEL, 0, 0));
        portShown = static_cast<int>(SendDlgItemMessageA(d, IDC_PORT, CB_GETCURSEL, 0, 0));
        yearEnabled = IsWindowEnabled(GetDlgItem(d, IDC_YEAR)) != FALSE;
        select(d, IDC_BIT_RATE, 1);
        select(d, IDC_PORT, 1);
        postClick(d, IDOK);
    });
    script.start();
    SendMessageA(hwnd(), WM_COMMAND, MAKEWPARAM(IDC_SETTING, BN_CLICKED), 0);
    ASSERT_TRUE(script.finish(30000));
    EXPECT_EQ(CB_ERR, rateShown);
    EXPECT_EQ(CB_ERR, portShown);
    EXPECT_FALSE(yearEnabled);
    EXPECT_TRUE(boxes(script).empty());
    EXPECT_TRUE(dialog->link()->isConnected());
    EXPECT_EQ("6", text(IDC_PICS_TAKEN));
    EXPECT_TRUE(enabled(hwnd(), IDC_OPEN));
    closeDialog();
    EXPECT_EQ(1, profileValue("BaudRate"));
    EXPECT_EQ(1, profileValue("ComPort"));
}
