// The help pop-up and the search for the control under the cursor, without a camera.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <iterator>
#include <string>

#include "resources/resource_ids.h"
#include "tests/ui/ui_script.h"
#include "ui/context_help.h"
#include "ui/dialog_window.h"
#include "ui/help_popup.h"

namespace {

bool isHelpPopup(HWND window) {
    return isDialogWith(window, IDC_HELP_TEXT);
}


// A plain modeless dialog to look for controls in: the settings template has labels without
// ids, hidden-able edits and spin buttons.
class Host : public DialogWindow {
public:
    Host() { createModeless(IDD_SETTINGS, nullptr); }
    ~Host() override { destroyWindow(); }
};

POINT centreOf(HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

}  // namespace

TEST(ContextHelp, HelpTableLookup) {
    const HelpEntry table[] = {{1013, 1013, 4008}, {1017, 1022, 4010}, {1023, 1028, 4011}};
    EXPECT_EQ(4008u, helpStringFor(table, std::size(table), 1013));
    EXPECT_EQ(4010u, helpStringFor(table, std::size(table), 1017));
    EXPECT_EQ(4010u, helpStringFor(table, std::size(table), 1022));
    EXPECT_EQ(4011u, helpStringFor(table, std::size(table), 1023));
    EXPECT_EQ(0u, helpStringFor(table, std::size(table), 1014));
    EXPECT_EQ(0u, helpStringFor(table, std::size(table), 0));
    EXPECT_EQ(0u, helpStringFor(nullptr, 0, 1013));
}

TEST(ContextHelp, FindsDirectVisibleChildrenWithAnId) {
    Host host;
    ASSERT_NE(nullptr, host.hwnd());
    ShowWindow(host.hwnd(), SW_SHOW);
    pumpFor(100);
    SetCursorPos(centreOf(host.item(IDC_PORT)).x, centreOf(host.item(IDC_PORT)).y);
    EXPECT_EQ(IDC_PORT, findControlUnderCursor(host.hwnd()));
    SetCursorPos(centreOf(host.item(IDC_YEAR_SPIN)).x, centreOf(host.item(IDC_YEAR_SPIN)).y);
    EXPECT_EQ(IDC_YEAR_SPIN, findControlUnderCursor(host.hwnd()));
    // A hidden control is not found, even under the cursor.
    ShowWindow(host.item(IDC_YEAR_SPIN), SW_HIDE);
    const int behind = findControlUnderCursor(host.hwnd());
    EXPECT_NE(IDC_YEAR_SPIN, behind);
    // Labels without an id (0xFFFF) and empty places give 0.
    RECT dialog{};
    GetWindowRect(host.hwnd(), &dialog);
    SetCursorPos(dialog.left + 40, (centreOf(host.item(IDC_BIT_RATE)).y));  // on "Bit rate:"
    EXPECT_EQ(0, findControlUnderCursor(host.hwnd()));
    SetCursorPos(dialog.right - 4, dialog.bottom - 4);
    EXPECT_EQ(0, findControlUnderCursor(host.hwnd()));
    EXPECT_EQ(0, findControlUnderCursor(nullptr));
}

namespace {

// The mouse capture as the pop-up's own thread sees it, sampled by a timer in its modal loop.
std::atomic<HWND> captureSeen{nullptr};
std::atomic<bool> captureSampled{false};
void CALLBACK sampleCapture(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    captureSeen = GetCapture();
    captureSampled = true;
}

}  // namespace

TEST(HelpPopup, OpensAtTheCursorHoldsTheCaptureAndClosesOnAClick) {
    SetCursorPos(200, 150);
    std::string text;
    RECT placed{};
    HWND popupWindow = nullptr;
    UiScript script;
    script.step("popup", isHelpPopup, [&](HWND popup) {
        popupWindow = popup;
        text = itemText(popup, IDC_HELP_TEXT);
        GetWindowRect(popup, &placed);
        waitUntil([] { return captureSampled.load(); }, 20000);  // the sampler runs in the pop-up's loop
        PostMessageA(popup, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(300, 300));
    });
    script.start();
    captureSeen = nullptr;
    captureSampled = false;
    SetTimer(nullptr, 0, 150, sampleCapture);
    HelpPopup popup(4003, nullptr);
    EXPECT_EQ(IDCANCEL, popup.run());
    ASSERT_TRUE(script.finish());
    EXPECT_EQ(loadString(4003), text);
    EXPECT_EQ(200, placed.left);
    EXPECT_EQ(150, placed.top);
    EXPECT_EQ(popupWindow, captureSeen.load());
    EXPECT_EQ(nullptr, GetCapture());  // released with the window
}

TEST(HelpPopup, MissingStringShowsAnEmptyPopupThatClosesOnAKey) {
    std::string text = "<unset>";
    UiScript script;
    script.step("popup", isHelpPopup, [&](HWND popup) {
        text = itemText(popup, IDC_HELP_TEXT);
        // A key pressed while the text has the focus reaches the pop-up as well.
        PostMessageA(GetDlgItem(popup, IDC_HELP_TEXT), WM_KEYDOWN, VK_SPACE, 0);
    });
    script.start();
    HelpPopup popup(3999, nullptr);
    EXPECT_EQ(IDCANCEL, popup.run());
    ASSERT_TRUE(script.finish());
    EXPECT_EQ("", text);
}

namespace {

// Switches the activation from the pop-up's own thread, as a click on another window would.
void CALLBACK activateOther(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (HWND other = FindWindowA(nullptr, "help test: other window")) SetActiveWindow(other);
}

}  // namespace

TEST(HelpPopup, ClosesWhenAnotherWindowIsActivated) {
    HWND other = CreateWindowExA(0, "STATIC", "help test: other window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 600, 400,
                                 200, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, other);
    bool closedBySwitch = false;
    UiScript script;
    script.step("popup", isHelpPopup, [&](HWND popup) {
        closedBySwitch = waitUntil([popup] { return !IsWindow(popup) || !IsWindowVisible(popup); }, 20000);
        if (!closedBySwitch) PostMessageA(popup, WM_COMMAND, IDCANCEL, 0);  // never hang
    });
    script.start();
    SetTimer(nullptr, 0, 300, activateOther);
    HelpPopup popup(4000, nullptr);
    EXPECT_EQ(IDCANCEL, popup.run());
    ASSERT_TRUE(script.finish());
    EXPECT_TRUE(closedBySwitch);
    DestroyWindow(other);
}
