// The settings dialog driven through its real window: lists, spin controls, the clock check box,
// validation with its message and the change flags it hands back.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "resources/resource_ids.h"
#include "tests/ui/ui_script.h"
#include "ui/settings_dialog.h"

namespace {

SettingsRequest connectedRequest() {
    SettingsRequest request;
    request.bitRateIndex = 2;
    request.portIndex = 1;
    const uint8_t clock[6] = {97, 12, 31, 23, 59, 58};
    std::copy(clock, clock + 6, request.clock);
    return request;
}

const int clockEdits[6] = {IDC_YEAR, IDC_MONTH, IDC_DAY, IDC_HOUR, IDC_MINUTE, IDC_SECOND};
const int clockSpins[6] = {IDC_YEAR_SPIN, IDC_MONTH_SPIN, IDC_DAY_SPIN, IDC_HOUR_SPIN, IDC_MINUTE_SPIN, IDC_SECOND_SPIN};

bool isSettingsDialog(HWND window) {
    return isDialogWith(window, IDC_BIT_RATE);
}

void setText(HWND dialog, int id, const char* text) {
    SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void setClock(HWND dialog, const char* const values[6]) {
    for (int i = 0; i < 6; ++i) setText(dialog, clockEdits[i], values[i]);
}

void select(HWND dialog, int id, int position) {
    HWND list = GetDlgItem(dialog, id);
    SendMessageA(list, CB_SETCURSEL, position, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

std::string listEntries(HWND dialog, int id) {
    std::string all;
    const LRESULT count = SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char text[32] = {};
        SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        all += std::string(all.empty() ? "" : ",") + text;
    }
    return all;
}

bool enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

struct DialogRun {
    INT_PTR result;
    std::vector<std::string> log;
    bool allSteps;
};

// Runs the dialog with the script's steps; the last step must end the dialog.
DialogRun runDialog(SettingsRequest& request, SourceSettings& settings, UiScript& script) {
    script.start();
    SettingsDialog dialog(request, settings, nullptr);
    const INT_PTR result = dialog.run();
    const bool all = script.finish();
    return {result, script.log(), all};
}

}  // namespace

TEST(SettingsDialog, ConnectedOpensWithTheCameraValuesAndCancelKeepsEverything) {
    SettingsRequest request = connectedRequest();
    const SettingsRequest before = request;
    SourceSettings settings;
    settings.autoThumbnails = 1;
    std::string bitRates, ports, clock, flagsSeen;
    int selectedRate = -1, selectedPort = -1, limits[6] = {};
    bool okEnabled = false, clockChecked = true, autoChecked = false, editsEnabled = true;
    LRESULT defaultId = 0;
    UiScript script;
    script.step("inspect and cancel", isSettingsDialog, [&](HWND d) {
        bitRates = listEntries(d, IDC_BIT_RATE);
        ports = listEntries(d, IDC_PORT);
        selectedRate = static_cast<int>(SendDlgItemMessageA(d, IDC_BIT_RATE, CB_GETCURSEL, 0, 0));
        selectedPort = static_cast<int>(SendDlgItemMessageA(d, IDC_PORT, CB_GETCURSEL, 0, 0));
        for (int i = 0; i < 6; ++i) {
            clock += itemText(d, clockEdits[i]) + " ";
            limits[i] = static_cast<int>(SendDlgItemMessageA(d, clockEdits[i], EM_GETLIMITTEXT, 0, 0));
            editsEnabled = editsEnabled && enabled(d, clockEdits[i]) && enabled(d, clockSpins[i]);
        }
        okEnabled = enabled(d, IDOK);
        defaultId = LOWORD(SendMessageA(d, DM_GETDEFID, 0, 0));
        clockChecked = IsDlgButtonChecked(d, IDC_CLOCK_FROM_PC) == BST_CHECKED;
        autoChecked = IsDlgButtonChecked(d, IDC_AUTO_THUMBNAILS) == BST_CHECKED;
        // Changes that Cancel must throw away.
        select(d, IDC_BIT_RATE, 4);
        SendDlgItemMessageA(d, IDC_AUTO_THUMBNAILS, BM_SETCHECK, BST_UNCHECKED, 0);
        postClick(d, IDCANCEL);
    });
    const DialogRun run = runDialog(request, settings, script);
    ASSERT_TRUE(run.allSteps);
    EXPECT_EQ(IDCANCEL, run.result);
    EXPECT_EQ("9600,19200,38400,57600,115200", bitRates);
    EXPECT_EQ("COM1,COM2,COM3,COM4", ports);
    EXPECT_EQ(2, selectedRate);
    EXPECT_EQ(1, selectedPort);
    EXPECT_EQ("1997 12 31 23 59 58 ", clock);
    EXPECT_EQ(4, limits[0]);
    for (int i = 1; i < 6; ++i) EXPECT_EQ(2, limits[i]) << i;
    EXPECT_TRUE(editsEnabled);
    EXPECT_TRUE(okEnabled);
    EXPECT_EQ(IDOK, defaultId);
    EXPECT_FALSE(clockChecked);
    EXPECT_TRUE(autoChecked);
    EXPECT_EQ(0, std::memcmp(&before, &request, sizeof request));
    EXPECT_EQ(1u, settings.autoThumbnails);
}

TEST(SettingsDialog, NotConnectedNeedsBothChoicesAndReportsThem) {
    SettingsRequest request;  // both indices 0xFF: not connected
    SourceSettings settings;
    bool okAtStart = true, okAfterOne = true, okAfterBoth = false, groupOff = true;
    LRESULT defaultAtStart = 0, defaultAfterBoth = 0;
    std::string clock;
    UiScript script;
    script.step("choose and OK", isSettingsDialog, [&](HWND d) {
        okAtStart = enabled(d, IDOK);
        defaultAtStart = LOWORD(SendMessageA(d, DM_GETDEFID, 0, 0));
        for (int i = 0; i < 6; ++i) {
            clock += itemText(d, clockEdits[i]);
            groupOff = groupOff && !enabled(d, clockEdits[i]) && !enabled(d, clockSpins[i]);
        }
        groupOff = groupOff && !enabled(d, IDC_DATE_LABEL) && !enabled(d, IDC_TIME_LABEL) &&
                   !enabled(d, IDC_CLOCK_FROM_PC) && enabled(d, IDC_AUTO_THUMBNAILS);
        select(d, IDC_BIT_RATE, 4);
        okAfterOne = enabled(d, IDOK);
        select(d, IDC_PORT, 2);
        okAfterBoth = enabled(d, IDOK);
        defaultAfterBoth = LOWORD(SendMessageA(d, DM_GETDEFID, 0, 0));
        postClick(d, IDOK);
    });
    const DialogRun run = runDialog(request, settings, script);
    ASSERT_TRUE(run.allSteps);
    EXPECT_FALSE(okAtStart);
    EXPECT_EQ(IDCANCEL, defaultAtStart);
    EXPECT_TRUE(groupOff);
    EXPECT_EQ("", clock);
    EXPECT_FALSE(okAfterOne);
    EXPECT_TRUE(okAfterBoth);
    EXPECT_EQ(IDOK, defaultAfterBoth);
    EXPECT_EQ(IDOK, run.result);
    EXPECT_EQ(SettingsRequest::bitRateChanged | SettingsRequest::portChanged, request.flags);
    EXPECT_EQ(4, request.bitRateIndex);
    EXPECT_EQ(2, request.portIndex);
}

TEST(SettingsDialog, StoredIndexOutOfRangeShowsNoSelectionAndNoClock) {
    SettingsRequest request = connectedRequest();
    request.bitRateIndex = 7;
    SourceSettings settings;
    int selectedRate = 0;
    bool okEnabled = true, yearEnabled = true;
    UiScript script;
    script.step("inspect", isSettingsDialog, [&](HWND d) {
        selectedRate = static_cast<int>(SendDlgItemMessageA(d, IDC_BIT_RATE, CB_GETCURSEL, 0, 0));
        okEnabled = enabled(d, IDOK);
        yearEnabled = enabled(d, IDC_YEAR);
        postClick(d, IDCANCEL);
    });
    const DialogRun run = runDialog(request, settings, script);
    ASSERT_TRUE(run.allSteps);
    EXPECT_EQ(CB_ERR, selectedRate);
    EXPECT_FALSE(okEnabled);
    EXPECT_FALSE(yearEnabled);
}

TEST(SettingsDialog, OkWithoutChangeEndsAsCancelButStoresTheThumbnailSwitch) {
    SettingsRequest request = connectedRequest();
    SourceSettings settings;
    settings.autoThumbnails = 0;
    UiScript script;
    script.step("tick thumbnails, OK", isSettingsDialog, [&](HWND d) {
        SendDlgItemMessageA(d, IDC_AUTO_THUMBNAILS, BM_SETCHECK, BST_CHECKED, 0);
        postClick(d, IDOK);
    });
    const DialogRun run = runDialog(request, settings, script);
    ASSERT_TRUE(run.allSteps);
    EXPECT_EQ(IDCANCEL, run.result);
    EXPECT_EQ(0, request.flags);
    EXPECT_EQ(1u, settings.autoThumbnails);
}

TEST(SettingsDialog, OnlyTheChangedHalfOfTheClockIsFlagged) {
    struct Case {
        const char* values[6];
        uint8_t flags;
        uint8_t clock[6];
    };
    const Case cases[] = {
        {{"1997", "12", "31", "23", "58", "58"}, SettingsRequest::timeChanged, {97, 12, 31, 23, 58, 58}},
        {{"1997", "11", "30", "23", "59", "58"}, SettingsRequest::dateChanged, {97, 11, 30, 23, 59, 58}},
        {{"2000", "1", "1", "0", "0", "0"}, SettingsRequest::dateChanged | SettingsRequest::timeChanged, {0, 1, 1, 0, 0, 0}},
        {{"1999", "12", "31", "23", "59", "58"}, SettingsRequest::dateChanged, {99, 12, 31, 23, 59, 58}},
        // Empty hour, minute and second count as 0.
        {{"1997", "12", "31", "", "", ""}, SettingsRequest::timeChanged, {97, 12, 31, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SettingsRequest request = connectedRequest();
        SourceSettings settings;
        UiScript script;
        script.step("type, OK", isSettingsDialog, [&](HWND d) {
            setClock(d, c.values);
            postClick(d, IDOK);
        });
        const DialogRun run = runDialog(request, settings, script);
        ASSERT_TRUE(run.allSteps);
        EXPECT_EQ(IDOK, run.result) << c.values[0] << "/" << c.values[1];
        EXPECT_EQ(c.flags, request.flags) << c.values[0] << "/" << c.values[1];
        EXPECT_EQ(0, std::memcmp(c.clock, request.clock, 6)) << c.values[0] << "/" << c.values[1];
        EXPECT_EQ(2, request.bitRateIndex);
        EXPECT_EQ(1, request.portIndex);
    }
}

TEST(SettingsDialog, YearsAreShownFromTheCameraByte) {
    for (const auto& [byte, shown] : {std::pair<uint8_t, const char*>{0, "2000"}, {99, "1999"}, {96, "1996"}, {37, "2037"}}) {
        SettingsRequest request = connectedRequest();
        request.clock[0] = byte;
        SourceSettings settings;
        std::string year;
        UiScript script;
        script.step("read year", isSettingsDialog, [&](HWND d) {
            year = itemText(d, IDC_YEAR);
            postClick(d, IDCANCEL);
        });
        ASSERT_TRUE(runDialog(request, settings, script).allSteps);
        EXPECT_EQ(shown, year);
    }
}

TEST(SettingsDialog, InvalidDatesAreRefusedWithTheFocusOnTheBadField) {
    struct Case {
        const char* values[6];
        int badField;
    };
    const Case cases[] = {
        {{"1998", "2", "30", "1", "1", "1"}, IDC_DAY},    {{"1998", "4", "31", "1", "1", "1"}, IDC_DAY},
        {{"1998", "13", "1", "1", "1", "1"}, IDC_MONTH},  {{"1995", "1", "1", "1", "1", "1"}, IDC_YEAR},
        {{"2038", "1", "1", "1", "1", "1"}, IDC_YEAR},    {{"", "1", "1", "1", "1", "1"}, IDC_YEAR},
        {{"1998", "", "1", "1", "1", "1"}, IDC_MONTH},    {{"1998", "1", "", "1", "1", "1"}, IDC_DAY},
        {{"1998", "1", "1", "24", "1", "1"}, IDC_HOUR},   {{"1998", "1", "1", "1", "60", "1"}, IDC_MINUTE},
        {{"1998", "1", "1", "1", "1", "60"}, IDC_SECOND}, {{"1997", "2", "29", "1", "1", "1"}, IDC_DAY},
        {{"1998", "0", "1", "1", "1", "1"}, IDC_MONTH},   {{"1998", "1", "0", "1", "1", "1"}, IDC_DAY},
        // Text that is no number (pasted past the digits-only edit) is refused, not read as 0.
        {{"1998", "1", "1", "1", "x", "1"}, IDC_MINUTE},
    };
    const DWORD uiThread = GetCurrentThreadId();
    for (const Case& c : cases) {
        SettingsRequest request = connectedRequest();
        const SettingsRequest before = request;
        SourceSettings settings;
        HWND expectedFocus = nullptr, focusAfterBox = nullptr;
        std::string boxButtons, boxIcon;
        UiScript script;
        script.step("type, OK", isSettingsDialog, [&](HWND d) {
            setClock(d, c.values);
            postClick(d, IDOK);
        }, false);
        script.step("box", isSourceMessageBox, [&](HWND box) {
            script.note("box " + messageBoxText(box));
            boxButtons = messageBoxButtons(box);
            boxIcon = messageBoxIcon(box);
            postClick(box, IDOK);
        });
        script.step("still open, cancel", isSettingsDialog, [&](HWND d) {
            expectedFocus = GetDlgItem(d, c.badField);
            // The focus moves once the box has gone: a bounded wait, for a busy machine.
            waitUntil([&] { return focusOf(uiThread) == expectedFocus; }, 20000);
            focusAfterBox = focusOf(uiThread);
            postClick(d, IDCANCEL);
        });
        const DialogRun run = runDialog(request, settings, script);
        const std::string label = std::string(c.values[0]) + "/" + c.values[1] + "/" + c.values[2] + " " +
                                  c.values[3] + ":" + c.values[4] + ":" + c.values[5];
        ASSERT_TRUE(run.allSteps) << label;
        EXPECT_EQ(IDCANCEL, run.result) << label;
        ASSERT_GE(run.log.size(), 2u);
        EXPECT_EQ("box " + loadString(IDS_ERR_DATE_FORMAT), run.log[1]) << label;
        EXPECT_EQ("OK", boxButtons);
        EXPECT_EQ("!", boxIcon);
        ASSERT_NE(nullptr, expectedFocus);
        EXPECT_EQ(expectedFocus, focusAfterBox) << label;
        EXPECT_EQ(0, std::memcmp(&before, &request, sizeof request)) << label;
    }
}

TEST(SettingsDialog, ValidDatesAreAccepted) {
    const char* const dates[][6] = {
        {"2000", "2", "29", "0", "0", "0"},  {"1996", "2", "29", "12", "0", "0"}, {"1996", "1", "1", "0", "0", "0"},
        {"2037", "12", "31", "23", "59", "59"}, {"1998", "4", "30", "1", "2", "3"}, {"1998", "1", "31", "1", "2", "3"},
    };
    for (const auto& values : dates) {
        SettingsRequest request = connectedRequest();
        SourceSettings settings;
        UiScript script;
        script.step("type, OK", isSettingsDialog, [&](HWND d) {
            setClock(d, values);
            postClick(d, IDOK);
        });
        const DialogRun run = runDialog(request, settings, script);
        ASSERT_TRUE(run.allSteps);
        EXPECT_EQ(IDOK, run.result) << values[0] << "/" << values[1] << "/" << values[2];
        EXPECT_EQ(std::atoi(values[0]) % 100, request.clock[0]);
        EXPECT_EQ(std::atoi(values[2]), request.clock[2]);
    }
}

TEST(SettingsDialog, ClockCheckBoxTakesThePcTimeOnceAndGivesTheCameraValuesBack) {
    SettingsRequest request = connectedRequest();
    SourceSettings settings;
    SYSTEMTIME before{}, after{};
    std::string checkedYear, restored;
    bool editsOffWhileChecked = true, editsOnAfter = true;
    UiScript script;
    script.step("check, uncheck, check, OK", isSettingsDialog, [&](HWND d) {
        SendDlgItemMessageA(d, IDC_CLOCK_FROM_PC, BM_CLICK, 0, 0);
        for (int i = 0; i < 6; ++i)
            editsOffWhileChecked = editsOffWhileChecked && !enabled(d, clockEdits[i]) && !enabled(d, clockSpins[i]);
        checkedYear = itemText(d, IDC_YEAR);
        SendDlgItemMessageA(d, IDC_CLOCK_FROM_PC, BM_CLICK, 0, 0);
        for (int i = 0; i < 6; ++i) {
            restored += itemText(d, clockEdits[i]) + " ";
            editsOnAfter = editsOnAfter && enabled(d, clockEdits[i]) && enabled(d, clockSpins[i]);
        }
        GetLocalTime(&before);
        SendDlgItemMessageA(d, IDC_CLOCK_FROM_PC, BM_CLICK, 0, 0);
        GetLocalTime(&after);
        Sleep(1100);  // OK must send the time of checking, not of pressing OK
        postClick(d, IDOK);
    });
    const DialogRun run = runDialog(request, settings, script);
    ASSERT_TRUE(run.allSteps);
    EXPECT_TRUE(editsOffWhileChecked);
    EXPECT_TRUE(editsOnAfter);
    EXPECT_EQ("1997 12 31 23 59 58 ", restored);
    EXPECT_EQ(std::to_string(before.wYear), checkedYear);
    EXPECT_EQ(IDOK, run.result);
    EXPECT_EQ(before.wYear % 100, request.clock[0]);
    EXPECT_EQ(before.wMonth, request.clock[1]);
    // The second taken lies between the two readings around the click.
    const int taken = request.clock[3] * 3600 + request.clock[4] * 60 + request.clock[5];
    const int low = before.wHour * 3600 + before.wMinute * 60 + before.wSecond;
    const int high = after.wHour * 3600 + after.wMinute * 60 + after.wSecond;
    if (high >= low) {  // not across midnight
        EXPECT_GE(taken, low);
        EXPECT_LE(taken, high);
    }
}

TEST(SettingsDialog, SpinControlsWrapAndWritePlainNumbers) {
    SettingsRequest request = connectedRequest();
    request.clock[0] = 37;  // 2037
    SourceSettings settings;
    std::string month, yearUp, yearDown, hourDown;
    UiScript script;
    script.step("spin", isSettingsDialog, [&](HWND d) {
        // The arrow keys in an edit move its spin control.
        SendDlgItemMessageA(d, IDC_MONTH, WM_KEYDOWN, VK_UP, 0);  // 12 -> 1
        month = itemText(d, IDC_MONTH);
        SendDlgItemMessageA(d, IDC_YEAR, WM_KEYDOWN, VK_UP, 0);  // 2037 -> 1996
        yearUp = itemText(d, IDC_YEAR);
        SendDlgItemMessageA(d, IDC_YEAR, WM_KEYDOWN, VK_DOWN, 0);  // 1996 -> 2037
        yearDown = itemText(d, IDC_YEAR);
        setText(d, IDC_HOUR, "0");
        SendDlgItemMessageA(d, IDC_HOUR, WM_KEYDOWN, VK_DOWN, 0);  // 0 -> 23
        hourDown = itemText(d, IDC_HOUR);
        postClick(d, IDCANCEL);
    });
    ASSERT_TRUE(runDialog(request, settings, script).allSteps);
    EXPECT_EQ("1", month);
    EXPECT_EQ("1996", yearUp);
    EXPECT_EQ("2037", yearDown);
    EXPECT_EQ("23", hourDown);
}
