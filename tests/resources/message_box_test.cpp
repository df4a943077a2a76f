// A message box of the source as the user meets it, in the running language: the settings
// dialog refuses a bad date with string 3007 under the title "Zelmar Dorvex". The source shows its
// boxes through the ANSI functions, so under a Japanese user language the text travels through
// code page 932; it is read back here as UTF-16 from the box itself. Under with_screenshots.sh
// the box is also photographed (message_box_en/_ja.png).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

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
