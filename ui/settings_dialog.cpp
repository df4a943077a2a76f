#include "ui/settings_dialog.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "resources/resource_ids.h"
#include "source/module.h"
#include "ui/context_help.h"
#include "ui/dialog_init_data.h"
#include "ui/user_messages.h"

namespace {

// The six clock fields in the order of SettingsRequest::clock, with their spin controls,
// ranges and text limits.
struct ClockField {
    int edit;
    int spin;
    int minimum;
    int maximum;
    int textLimit;
};
constexpr ClockField clockFields[6] = {
    {IDC_YEAR, IDC_YEAR_SPIN, 1996, 2037, 4},  {IDC_MONTH, IDC_MONTH_SPIN, 1, 12, 2},
    {IDC_DAY, IDC_DAY_SPIN, 1, 31, 2},         {IDC_HOUR, IDC_HOUR_SPIN, 0, 23, 2},
    {IDC_MINUTE, IDC_MINUTE_SPIN, 0, 59, 2},   {IDC_SECOND, IDC_SECOND_SPIN, 0, 59, 2},
};

constexpr HelpEntry settingsHelp[] = {
    {IDC_BIT_RATE, IDC_BIT_RATE, 4008}, {IDC_PORT, IDC_PORT, 4009},
    {IDC_YEAR, IDC_DAY_SPIN, 4010},     {IDC_HOUR, IDC_SECOND_SPIN, 4011},
    {IDC_CLOCK_FROM_PC, IDC_CLOCK_FROM_PC, 4012}, {IDC_AUTO_THUMBNAILS, IDC_AUTO_THUMBNAILS, 4013},
};

// The camera keeps the year modulo 100: 96..99 are the 1990s, everything below the 2000s.
int fullYear(uint8_t yearModulo100) {
    return yearModulo100 >= 96 ? 1900 + yearModulo100 : 2000 + yearModulo100;
}

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// Field i of values (year, month, day, hour, minute, second) within its range. The day's limit
// uses the year and month, which the caller has judged before.
bool fieldInRange(int i, const int values[6]) {
    const int maximum = i == 2 ? daysInMonth(values[0], values[1]) : clockFields[i].maximum;
    return values[i] >= clockFields[i].minimum && values[i] <= maximum;
}

// A field's text as a signed decimal number; empty text is 0. Anything that is not a number
// (pasted letters, a value too long for an int) is refused rather than guessed at.
bool parseField(const char* text, int& value) {
    if (text[0] == '\0') {
        value = 0;
        return true;
    }
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (*end != '\0' || parsed < -99999 || parsed > 99999) return false;
    value = static_cast<int>(parsed);
    return true;
}

}  // namespace

SettingsDialog::SettingsDialog(SettingsRequest& request, SourceSettings& settings, HWND parent)
    : request(&request), settings(&settings), parent(parent) {}

SettingsDialog::~SettingsDialog() = default;

INT_PTR SettingsDialog::run() {
    // The spin controls need the up-down class registered before the template is created.
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&classes);
    return runModal(IDD_SETTINGS, parent);
}

int SettingsDialog::firstInvalidField(int year, int month, int day, int hour, int minute, int second) {
    const int values[6] = {year, month, day, hour, minute, second};
    for (int i = 0; i < 6; ++i)
        if (!fieldInRange(i, values)) return clockFields[i].edit;
    return 0;
}

BOOL SettingsDialog::onInitDialog() {
    applyDialogInitData(hwnd(), IDD_SETTINGS);
    // A list rejects a position it does not have (255 = not connected, or a stored index out of
    // range): then the camera's clock is unknown too and the date and time group stays off.
    if (SendDlgItemMessageA(hwnd(), IDC_BIT_RATE, CB_SETCURSEL, request->bitRateIndex, 0) == CB_ERR)
        dateTimeAvailable = 0;
    if (SendDlgItemMessageA(hwnd(), IDC_PORT, CB_SETCURSEL, request->portIndex, 0) == CB_ERR) dateTimeAvailable = 0;
    for (const ClockField& field : clockFields) {
        SendDlgItemMessageA(hwnd(), field.edit, EM_LIMITTEXT, field.textLimit, 0);
        SendDlgItemMessageA(hwnd(), field.spin, UDM_SETRANGE32, field.minimum, field.maximum);
    }
    CheckDlgButton(hwnd(), IDC_AUTO_THUMBNAILS, settings->autoThumbnails ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(hwnd(), IDC_CLOCK_FROM_PC, BST_UNCHECKED);
    updateOkButton();
    if (dateTimeAvailable)
        fillFromRequest();
    else
        disableDateTime();
    return TRUE;
}

void SettingsDialog::setClockFields(const int values[6]) {
    for (int i = 0; i < 6; ++i) SetDlgItemInt(hwnd(), clockFields[i].edit, static_cast<UINT>(values[i]), FALSE);
}

void SettingsDialog::fillFromRequest() {
    const uint8_t* clock = request->clock;
    const int values[6] = {fullYear(clock[0]), clock[1], clock[2], clock[3], clock[4], clock[5]};
    setClockFields(values);
}

void SettingsDialog::fillFromClock() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    const int values[6] = {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
    setClockFields(values);
}

void SettingsDialog::enableClockEditing(bool enable) {
    for (const ClockField& field : clockFields) {
        EnableWindow(item(field.edit), enable);
        EnableWindow(item(field.spin), enable);
    }
}

void SettingsDialog::disableDateTime() {
    for (const ClockField& field : clockFields) SetDlgItemTextA(hwnd(), field.edit, "");
    enableClockEditing(false);
    EnableWindow(item(IDC_DATE_LABEL), FALSE);
    EnableWindow(item(IDC_TIME_LABEL), FALSE);
    EnableWindow(item(IDC_CLOCK_FROM_PC), FALSE);
}

void SettingsDialog::updateOkButton() {
    const bool chosen = SendDlgItemMessageA(hwnd(), IDC_BIT_RATE, CB_GETCURSEL, 0, 0) != CB_ERR &&
                        SendDlgItemMessageA(hwnd(), IDC_PORT, CB_GETCURSEL, 0, 0) != CB_ERR;
    // Without both choices Enter must not end the dialog: Cancel becomes the default button.
    SendMessageA(hwnd(), DM_SETDEFID, chosen ? IDOK : IDCANCEL, 0);
    EnableWindow(item(IDOK), chosen);
}

void SettingsDialog::onCommand(int id, int notifyCode, HWND control) {
    if ((id == IDC_BIT_RATE || id == IDC_PORT) && notifyCode == CBN_SELCHANGE) {
        updateOkButton();
        return;
    }
    if (id == IDC_CLOCK_FROM_PC && notifyCode == BN_CLICKED) {
        // The PC's time is taken once, now: OK sends this time, not the time OK is pressed.
        const bool checked = IsDlgButtonChecked(hwnd(), IDC_CLOCK_FROM_PC) == BST_CHECKED;
        if (checked)
            fillFromClock();
        else
            fillFromRequest();
        enableClockEditing(!checked);
        return;
    }
    DialogWindow::onCommand(id, notifyCode, control);
}

bool SettingsDialog::readClockFields(int values[6], int& badField) {
    bool parsed[6];
    for (int i = 0; i < 6; ++i) {
        char text[16] = {};
        GetDlgItemTextA(hwnd(), clockFields[i].edit, text, sizeof text);
        values[i] = 0;
        parsed[i] = parseField(text, values[i]);
    }
    // Fields are judged in order; an unreadable field fails at its own turn.
    for (int i = 0; i < 6; ++i) {
        if (!parsed[i] || !fieldInRange(i, values)) {
            badField = clockFields[i].edit;
            return false;
        }
    }
    badField = 0;
    return true;
}

void SettingsDialog::storeChanges() {
    request->flags = 0;
    const LRESULT bitRate = SendDlgItemMessageA(hwnd(), IDC_BIT_RATE, CB_GETCURSEL, 0, 0);
    const LRESULT port = SendDlgItemMessageA(hwnd(), IDC_PORT, CB_GETCURSEL, 0, 0);
    if (bitRate != CB_ERR && bitRate != request->bitRateIndex) {
        request->bitRateIndex = static_cast<uint8_t>(bitRate);
        request->flags |= SettingsRequest::bitRateChanged;
    }
    if (port != CB_ERR && port != request->portIndex) {
        request->portIndex = static_cast<uint8_t>(port);
        request->flags |= SettingsRequest::portChanged;
    }
    if (!dateTimeAvailable) return;
    int values[6] = {};
    int badField = 0;
    if (!readClockFields(values, badField)) return;  // validated before; nothing to store
    values[0] %= 100;
    for (int i = 0; i < 6; ++i) {
        if (request->clock[i] == values[i]) continue;
        request->clock[i] = static_cast<uint8_t>(values[i]);
        request->flags |= i < 3 ? SettingsRequest::dateChanged : SettingsRequest::timeChanged;
    }
}

void SettingsDialog::onOK() {
    if (dateTimeAvailable) {
        int values[6] = {};
        int badField = 0;
        if (!readClockFields(values, badField)) {
            SetFocus(item(badField));
            messageBox(hwnd(), IDS_ERR_DATE_FORMAT, MB_OK | MB_ICONEXCLAMATION);
            return;
        }
    }
    storeChanges();
    settings->autoThumbnails = IsDlgButtonChecked(hwnd(), IDC_AUTO_THUMBNAILS) == BST_CHECKED ? 1 : 0;
    endDialog(request->flags ? IDOK : IDCANCEL);
}

INT_PTR SettingsDialog::onMessage(UINT message, WPARAM, LPARAM, bool& handled) {
    handled = true;
    switch (message) {
    case WM_HELP:
        forwardHelpRequest(hwnd());
        return TRUE;
    case UM_CONTEXT_HELP:
        showContextHelp(hwnd(), settingsHelp, std::size(settingsHelp));
        return TRUE;
    default:
        handled = false;
        return FALSE;
    }
}
