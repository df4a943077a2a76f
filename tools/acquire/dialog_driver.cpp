#include "tools/acquire/console_text.h"
#include "tools/acquire/dialog_driver.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "resources/resource_ids.h"

namespace {

// The sheet inside the grid and its cells: ids 50 and 51 + slot index.
constexpr int sheetId = 50;
constexpr int firstCellId = 51;
constexpr char boxTitle[] = "Zelmar Dorvex";
constexpr int cellsPerRow = 4;
constexpr int visibleRows = 3;
// How long a clicked cell may take to show its selection: 3 s of ticks.
constexpr int maxConfirmTicks = 30;

BOOL CALLBACK collectWindow(HWND hwnd, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> threadWindows() {
    std::vector<HWND> windows;
    EnumThreadWindows(GetCurrentThreadId(), collectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

bool hasControls(HWND window, int a, int b) { return GetDlgItem(window, a) && GetDlgItem(window, b); }

HWND findWindowWith(int a, int b) {
    for (HWND hwnd : threadWindows())
        if (IsWindowVisible(hwnd) && hasControls(hwnd, a, b))
            return hwnd;
    return nullptr;
}

std::string windowText(HWND hwnd) {
    char text[512] = "";
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

bool isMessageBox(HWND hwnd) {
    char className[16] = "";
    GetClassNameA(hwnd, className, sizeof className);
    // The camera dialog and the progress window carry the same title; they have our controls.
    return IsWindowVisible(hwnd) && std::string(className) == "#32770" && windowText(hwnd) == boxTitle &&
           !GetDlgItem(hwnd, IDC_OPEN) && !GetDlgItem(hwnd, IDC_PROGRESS_BAR);
}

// The text of a message box: its static controls with text (the icon has none).
std::string messageBoxText(HWND box) {
    std::string text;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[16] = "";
        GetClassNameA(child, className, sizeof className);
        std::string part = windowText(child);
        if (_stricmp(className, "Static") == 0 && !part.empty())
            text += (text.empty() ? "" : " ") + part;
    }
    return text;
}

int answerId(BoxAnswer answer) {
    switch (answer) {
    case BoxAnswer::Ok:
        return IDOK;
    case BoxAnswer::Cancel:
        return IDCANCEL;
    case BoxAnswer::Yes:
        return IDYES;
    case BoxAnswer::No:
        return IDNO;
    default:
        return 0;
    }
}

// A selected cell has a red frame; (12, 7) lies on it.
bool cellShowsSelection(HWND cell) {
    HDC dc = GetDC(cell);
    if (!dc)
        return false;
    COLORREF colour = GetPixel(dc, 12, 7);
    ReleaseDC(cell, dc);
    return colour == RGB(255, 0, 0);
}

void clickWindow(HWND hwnd) {
    LPARAM centre = MAKELPARAM(55, 55);
    PostMessageA(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, centre);
    PostMessageA(hwnd, WM_LBUTTONUP, 0, centre);
}

}  // namespace

bool pressButton(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    if (!button || !IsWindowEnabled(button))
        return false;
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    return true;
}

DialogDriver::DialogDriver(const AcquireOptions& options)
    : options(options), position(options.autoMode == AutoMode::All ? 1 : options.picture) {
    if (options.closeDuring == CloseDuring::Download || options.rude == RudeAct::DestroyDownload ||
        options.rude == RudeAct::CloseDownload)
        progressWatch = std::make_unique<ProgressWatch>(GetCurrentThreadId());
}

DialogDriver::~DialogDriver() = default;

void DialogDriver::pictureTaken() {
    if (options.autoMode != AutoMode::All || state != State::WaitTransfer)
        return;
    ++position;
    connectedTicks = 0;
    state = State::WaitConnected;
}

void DialogDriver::tick() {
    if (handleMessageBoxes())
        return;
    switch (state) {
    case State::WaitConnected:
        waitConnected();
        break;
    case State::WaitSettingsDialog:
        waitSettingsDialog();
        break;
    case State::WaitSettingsClosed:
        waitSettingsClosed();
        break;
    case State::WaitAcquireDialog:
        waitAcquireDialog();
        break;
    case State::WaitListing:
        waitListing();
        break;
    case State::ConfirmSelection:
        confirmSelection();
        break;
    default:
        break;
    }
}

// True while a message box of the source is up: the dialogs under it wait.
bool DialogDriver::handleMessageBoxes() {
    bool anyOpen = false;
    for (HWND hwnd : threadWindows()) {
        if (!isMessageBox(hwnd))
            continue;
        anyOpen = true;
        if (reportedBoxes.insert(hwnd).second)
            say("Message box: %s\n", messageBoxText(hwnd).c_str());
        if (options.rude == RudeAct::DestroyQuestion || options.rude == RudeAct::CloseQuestion) {
            wantRude("message box");
            continue;
        }
        if (answerId(options.answer) == 0 || !answeredBoxes.insert(hwnd).second)
            continue;
        pressAnswer(hwnd);
    }
    return anyOpen;
}

bool DialogDriver::pressAnswer(HWND box) {
    int id = answerId(options.answer);
    int other = answerId(options.otherAnswer);
    if (!GetDlgItem(box, id) && other != 0)
        id = other;
    if (pressButton(box, id)) {
        say("Answered the message box with button %d\n", id);
        return true;
    }
    say("The message box has no button %d; left open\n", id);
    return false;
}

void DialogDriver::waitConnected() {
    cameraDialog = findWindowWith(IDC_OPEN, IDC_SETTING);
    if (!cameraDialog)
        return;
    bool openEnabled = IsWindowEnabled(GetDlgItem(cameraDialog, IDC_OPEN));
    bool settingEnabled = IsWindowEnabled(GetDlgItem(cameraDialog, IDC_SETTING));
    // Connected on two ticks in a row: the dialog enables its buttons and then fills in the
    // status in the same step, but a tick between the two must not read half a display.
    connectedTicks = (openEnabled || settingEnabled) ? connectedTicks + 1 : 0;
    if (connectedTicks < 2)
        return;
    if (connectedTicks == 2) {
        char pictures[64] = "", power[64] = "";
        GetDlgItemTextA(cameraDialog, IDC_PICS_TAKEN, pictures, sizeof pictures);
        GetDlgItemTextA(cameraDialog, IDC_POWER, power, sizeof power);
        if (!connectionReported)
            say("Camera connected: pictures taken \"%s\", power \"%s\"\n", pictures, power);
        connectionReported = true;
        total = std::atoi(pictures);
    }
    if (options.rude == RudeAct::ExitOpen || options.rude == RudeAct::UnloadEnabled) {
        wantRude("connected camera dialog");
        return;
    }
    bool wantSettings = options.setRate >= 0 || options.clockFromPc || options.rude == RudeAct::DestroySettings ||
                        options.rude == RudeAct::CloseSettings;
    if (wantSettings && !settingsDone) {
        if (pressButton(cameraDialog, IDC_SETTING)) {
            say("Pressed Setting\n");
            state = State::WaitSettingsDialog;
        }
    } else if (options.autoMode == AutoMode::All && position > total) {
        if (pressButton(cameraDialog, IDCANCEL)) {
            say("All %d pictures taken; pressed Cancel\n", total);
            state = State::Done;
        }
    } else if (options.autoMode != AutoMode::Status && !openEnabled) {
        giveUp("Open is disabled (no pictures on the card)");
    } else if (options.autoMode == AutoMode::Status) {
        // Cancel may still be disabled for a moment; pressed once it is enabled.
        if (pressButton(cameraDialog, IDCANCEL)) {
            say("Pressed Cancel\n");
            state = State::Done;
        }
    } else if (pressButton(cameraDialog, IDC_OPEN)) {
        say("Pressed Open\n");
        state = State::WaitAcquireDialog;
    }
}

void DialogDriver::waitAcquireDialog() {
    acquireDialog = findWindowWith(IDC_THUMBNAIL_GRID, IDC_AQUIRE);
    if (acquireDialog) {
        say("Acquire dialog open; listing\n");
        state = State::WaitListing;
    }
}

void DialogDriver::waitSettingsDialog() {
    settingsDialog = findWindowWith(IDC_BIT_RATE, IDC_CLOCK_FROM_PC);
    if (!settingsDialog)
        return;
    if (options.rude == RudeAct::DestroySettings || options.rude == RudeAct::CloseSettings) {
        wantRude("settings dialog");
        return;
    }
    if (options.setRate >= 0) {
        SendDlgItemMessageA(settingsDialog, IDC_BIT_RATE, CB_SETCURSEL, options.setRate, 0);
        // As a user's choice would: the dialog hears of it through CBN_SELCHANGE.
        SendMessageA(settingsDialog, WM_COMMAND, MAKEWPARAM(IDC_BIT_RATE, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(GetDlgItem(settingsDialog, IDC_BIT_RATE)));
        say("Settings: bit rate index %d\n", options.setRate);
    }
    if (options.clockFromPc && IsWindowEnabled(GetDlgItem(settingsDialog, IDC_CLOCK_FROM_PC))) {
        SendDlgItemMessageA(settingsDialog, IDC_CLOCK_FROM_PC, BM_CLICK, 0, 0);
        const int fields[] = {IDC_YEAR, IDC_MONTH, IDC_DAY, IDC_HOUR, IDC_MINUTE, IDC_SECOND};
        std::string shown;
        for (int id : fields) {
            char text[16] = "";
            GetDlgItemTextA(settingsDialog, id, text, sizeof text);
            shown += std::string(shown.empty() ? "" : " ") + text;
        }
        say("Settings: clock from the PC (%s)\n", shown.c_str());
    }
    if (pressButton(settingsDialog, IDOK)) {
        say("Pressed OK in the settings\n");
        state = State::WaitSettingsClosed;
    }
}

void DialogDriver::waitSettingsClosed() {
    if (IsWindow(settingsDialog) && IsWindowVisible(settingsDialog))
        return;
    settingsDone = true;
    connectedTicks = 0;
    state = State::WaitConnected;
}

void DialogDriver::waitListing() {
    if (!IsWindow(acquireDialog)) {
        giveUp("the acquire dialog closed during the listing");
        return;
    }
    if (!IsWindowEnabled(GetDlgItem(acquireDialog, IDC_AQUIRE))) {
        if (options.closeDuring == CloseDuring::Listing)
            wantClose("listing");
        if (options.rude == RudeAct::DestroyListing || options.rude == RudeAct::ExitListing ||
            options.rude == RudeAct::DisableListing || options.rude == RudeAct::CloseListing)
            wantRude("listing");
        return;
    }
    if (options.rude == RudeAct::DisableSubdialog) {
        wantRude("open acquire dialog");
        return;
    }
    HWND grid = GetDlgItem(acquireDialog, IDC_THUMBNAIL_GRID);
    HWND sheet = GetDlgItem(grid, sheetId);
    // The grid shows three rows; a cell further down is scrolled into the bottom row first,
    // so that its frame can be seen (and, in a long list, so that its window exists).
    int row = (position - 1) / cellsPerRow;
    if (row >= visibleRows)
        SendMessageA(grid, WM_VSCROLL, MAKEWPARAM(SB_THUMBTRACK, row - (visibleRows - 1)), 0);
    cell = sheet ? GetDlgItem(sheet, firstCellId + position - 1) : nullptr;
    if (!cell) {
        pressButton(acquireDialog, IDCANCEL);
        giveUp("the list has no position " + std::to_string(position));
        return;
    }
    say("Listing done; selecting list position %d\n", position);
    clickWindow(cell);
    confirmTicks = 0;
    state = State::ConfirmSelection;
}

// A click on an empty slot selects nothing and leaves the earlier selection, which Aquire
// would then take: Aquire is pressed only once the cell shows its red frame.
void DialogDriver::confirmSelection() {
    if (!IsWindow(acquireDialog) || !IsWindow(cell)) {
        giveUp("the acquire dialog closed before Aquire");
        return;
    }
    if (!cellShowsSelection(cell)) {
        if (++confirmTicks >= maxConfirmTicks) {
            pressButton(acquireDialog, IDCANCEL);
            giveUp("list position " + std::to_string(position) + " cannot be selected (an empty slot?)");
        }
        return;
    }
    if (pressButton(acquireDialog, IDC_AQUIRE)) {
        say("Pressed Aquire\n");
        state = State::WaitTransfer;
    }
}

void DialogDriver::wantClose(const char* during) {
    if (closeMoment)
        return;
    say("Closing the source during the %s\n", during);
    closeMoment = true;
}

void DialogDriver::wantRude(const char* during) {
    if (rudeMoment)
        return;
    say("Rude act during the %s\n", during);
    rudeMoment = true;
}

void DialogDriver::giveUp(const std::string& why) {
    say("Giving up: %s; pressing Cancel\n", why.c_str());
    // The camera dialog's Cancel asks the application to close the source.
    if (cameraDialog && IsWindow(cameraDialog))
        pressButton(cameraDialog, IDCANCEL);
    state = State::GaveUp;
}
