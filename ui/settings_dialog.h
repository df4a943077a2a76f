// SettingsDialog (dialog 132): bit rate, port, the camera's clock (by hand or from the PC's
// clock) and the automatic-thumbnail switch.
//
// It sends nothing to the camera: it edits the SettingsRequest it was given, marks what changed,
// and ends with IDOK only when something did (OK with no change ends as IDCANCEL). The
// automatic-thumbnail choice goes into SourceSettings at once on OK.
#pragma once

#include "ui/dialog_window.h"
#include "ui/settings_request.h"
#include "ui/source_settings.h"

class SettingsDialog : public DialogWindow {
public:
    SettingsDialog(SettingsRequest& request, SourceSettings& settings, HWND parent);
    ~SettingsDialog() override;

    // Runs the dialog modally: IDOK with request.flags set, IDCANCEL otherwise, -1 on failure.
    INT_PTR run();

    // Range check of a date and time as typed; returns the id of the first bad field, 0 if all
    // are good. Years run from 1996 to 2037; February has 29 days in leap years only.
    static int firstInvalidField(int year, int month, int day, int hour, int minute, int second);

protected:
    BOOL onInitDialog() override;
    void onCommand(int id, int notifyCode, HWND control) override;
    void onOK() override;
    INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

private:
    void fillFromRequest();
    void fillFromClock();
    void setClockFields(const int values[6]);
    void enableClockEditing(bool enable);
    void disableDateTime();
    void updateOkButton();
    bool readClockFields(int values[6], int& badField);
    void storeChanges();

    SettingsRequest* request;
    SourceSettings* settings;
    HWND parent;
    int dateTimeAvailable = 1;
};
