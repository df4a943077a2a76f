// Windows of the source that no dialog test photographs, in the running language:
// - a message box as the user meets it: the settings dialog refuses a bad date with string 3007
//   under the title "Zelmar Dorvex". The source shows its boxes through the ANSI functions, so
//   under a Japanese user language the text travels through code page 932; it is read back here
//   as UTF-16 from the box itself;
// - the transfer progress window of the camera link, part way through a download.
// Under with_screenshots.sh both are photographed (message_box_*.png, progress_window_*.png).
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "camera/camera_link.h"
#include "resources/resource_ids.h"
#include "tests/ui/screenshot.h"
#include "tests/ui/ui_script.h"
#include "ui/settings_dialog.h"

namespace {

bool japaneseRun() {
    const char* expected = std::getenv("DORVEX_EXPECT_LANGUAGE");
    return expected && std::string(expected) == "ja";
}

std::wstring windowTextW(HWND window) {
    WCHAR text[512] = {};
    const int length = GetWindowTextW(window, text, 512);
    return std::wstring(text, static_cast<size_t>(length > 0 ? length : 0));
}

std::string utf8(const std::wstring& text) {
    char out[1024] = {};
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out, sizeof out, nullptr, nullptr);
    return out;
}

}  // namespace

TEST(MessageBox, ShowsTheRunningLanguagesTextUnderTheProductTitle) {
    SettingsRequest request;
    request.bitRateIndex = 0;
    request.portIndex = 0;
    const uint8_t clock[6] = {98, 1, 1, 12, 0, 0};
    std::copy(clock, clock + 6, request.clock);
    SourceSettings settings;
    std::wstring title, text;
    std::string icon, buttons;
    bool photographed = false;
    UiScript script;
    script.step("settings: a 13th month, OK", [](HWND w) { return isDialogWith(w, IDC_BIT_RATE); }, [](HWND d) {
        SendMessageW(GetDlgItem(d, IDC_MONTH), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"13"));
        postClick(d, IDOK);
    }, false);
    script.step("message box", isSourceMessageBox, [&](HWND box) {
        title = windowTextW(box);
        text = windowTextW(GetDlgItem(box, 0xFFFF));
        icon = messageBoxIcon(box);
        buttons = messageBoxButtons(box);
        if (std::getenv("DORVEX_SHOT_DIR")) {
            SetCursorPos(0, 0);
            Sleep(300);
            photographed = takeScreenshot("message_box", box);
        }
        postClick(box, IDOK);
    });
    script.step("settings: cancel", [](HWND w) { return isDialogWith(w, IDC_BIT_RATE); },
                [](HWND d) { postClick(d, IDCANCEL); });
    script.start();
    SettingsDialog dialog(request, settings, nullptr);
    EXPECT_EQ(IDCANCEL, dialog.run());
    ASSERT_TRUE(script.finish());

    EXPECT_EQ(utf8(title), "Zelmar Dorvex");
    EXPECT_EQ(utf8(text), japaneseRun() ? "日時の設定が不正です。" : "Invalid Date or Time format.");
    EXPECT_EQ(icon, "!");
    EXPECT_EQ(buttons, "OK");
    if (std::getenv("DORVEX_SHOT_DIR")) {
        EXPECT_TRUE(photographed);
    }
}

namespace {

// The first child of `window` with control id `id` (the label has none: -1).
HWND childWithId(HWND window, int id) {
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (static_cast<int16_t>(GetDlgCtrlID(child)) == id) return child;
    return nullptr;
}

}  // namespace

TEST(ProgressWindow, ShowsTheRunningLanguagesTextsPartWayThroughADownload) {
    CameraLink link(0);
    HWND window = link.createWindow(nullptr);
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(link.startProgress(0, 100, 1), 1);
    for (int position = 1; position <= 40; ++position) link.stepProgress(position);
    link.showProgress();
    pumpFor(300);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(utf8(windowTextW(window)), "Zelmar Dorvex");
    EXPECT_EQ(utf8(windowTextW(childWithId(window, -1))), japaneseRun() ? "転送中．．．" : "Progress of Transfer...");
    EXPECT_EQ(utf8(windowTextW(GetDlgItem(window, IDCANCEL))), japaneseRun() ? "ｷｬﾝｾﾙ" : "Cancel");
    EXPECT_EQ(SendDlgItemMessageW(window, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0), 40);
    if (std::getenv("DORVEX_SHOT_DIR")) {
        // Taken from another thread while this one keeps the window painted.
        SetCursorPos(0, 0);
        bool photographed = false;
        std::atomic<bool> finished{false};
        std::thread shooter([&] {
            photographed = takeScreenshot("progress_window", window);
            finished = true;
        });
        pumpUntil([&] { return finished.load(); }, 20000);
        shooter.join();
        EXPECT_TRUE(photographed);
    }
    link.hideProgress();
    link.destroyWindow();
}
