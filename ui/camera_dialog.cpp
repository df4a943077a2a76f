#include "ui/camera_dialog.h"

#include <algorithm>
#include <iterator>
#include <new>

#include "camera/camera_link.h"
#include "resources/resource_ids.h"
#include "source/module.h"
#include "source/source_session.h"
#include "ui/acquire_dialog.h"
#include "ui/context_help.h"
#include "ui/listing_fetcher.h"
#include "ui/settings_dialog.h"
#include "ui/gdi_palette.h"
#include "ui/source_settings.h"
#include "ui/user_messages.h"
#include "ui/wait_cursor.h"

namespace {

// The camera's line settings, the only ones ever used: 8 data bits, no parity, one stop bit,
// CTS flow control.
constexpr int lineParity = 0, lineStopBits = 0, lineByteSize = 8, lineFlowFlags = 2;

constexpr HelpEntry cameraHelp[] = {
    {IDC_PICS_TAKEN, IDC_PICS_TAKEN, 4000},
    {IDC_POWER, IDC_POWER, 4001},
    {IDC_OPEN, IDC_OPEN, 4002},
    {IDC_SETTING, IDC_SETTING, 4003},
};

// Power texts 2010..2014 ("Enpty", "Low", "Full", "AC", "Unknown") by the sum of the two power
// values; any larger sum would land on unrelated strings, so it reads as "Unknown".
constexpr unsigned powerTextCount = 5;

void setItemText(HWND dialog, int id, const char* text) {
    SetDlgItemTextA(dialog, id, text);
}

}  // namespace

CameraDialog::CameraDialog(HWND parent, bool loadProfile) : settings(sourceSettings()) {
    if (loadProfile) settings.load();
    createModeless(IDD_CAMERA, parent);
}

CameraDialog::~CameraDialog() {
    destroyWindow();  // runs the shutdown steps while the object is still whole
    if (cameraLink) releaseCamera();  // a window destroyed under a handler that never returned
    deleteSharedPalette();
    delete cameraLink;
    cameraLink = nullptr;
    logo.release();
}

BOOL CameraDialog::onInitDialog() {
    registerHelpTarget(hwnd());
    cameraLink = new (std::nothrow) CameraLink(1);
    if (!cameraLink || !cameraLink->buffers) {
        delete cameraLink;
        cameraLink = nullptr;
        // Without a link the source can do nothing: ask to be closed straight away.
        PostMessageA(hwnd(), WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        return TRUE;
    }
    cameraLink->createWindow(hwnd());
    const bool paletteScreen = screenIsPaletteBased();
    if (paletteScreen) createSharedPalette();
    if (logo.load(hwnd(), paletteScreen)) {
        SendDlgItemMessageA(hwnd(), IDC_LOGO, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(logo.bitmap));
        layOut();
    }
    EnableWindow(item(IDC_OPEN), FALSE);
    EnableWindow(item(IDC_SETTING), FALSE);
    EnableWindow(item(IDCANCEL), FALSE);
    ShowWindow(hwnd(), SW_SHOW);
    UpdateWindow(hwnd());
    connectDue = true;
    PostMessageA(hwnd(), UM_CONNECT, 0, 0);
    return TRUE;
}

void CameraDialog::layOut() {
    HWND logoControl = item(IDC_LOGO);
    RECT logoRect{};
    GetWindowRect(logoControl, &logoRect);
    const int w = logoRect.right - logoRect.left, h = logoRect.bottom - logoRect.top;
    SetWindowPos(logoControl, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    struct Place {
        int id, x, y, width;
    };
    const Place places[] = {
        {IDC_PICS_TAKEN_LABEL, 50, h, 80}, {IDC_PICS_TAKEN, 140, h, 60},  {IDC_POWER_LABEL, w - 240, h, 80},
        {IDC_POWER, w - 150, h, 80},        {IDC_OPEN, 30, h + 36, 80},    {IDC_SETTING, 120, h + 36, 80},
        {IDCANCEL, w - 110, h + 36, 80},
    };
    for (const Place& place : places)
        SetWindowPos(item(place.id), nullptr, place.x, place.y, place.width, 26, SWP_NOZORDER | SWP_NOACTIVATE);
    const int outerWidth = w + 2 + 2 * GetSystemMetrics(SM_CXDLGFRAME);
    const int outerHeight = h + 78 + 2 * GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYCAPTION);
    SetWindowPos(hwnd(), nullptr, 0, 0, outerWidth, outerHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    centreOverOwner(hwnd());
}

// A question or message over the dialog. A dialog destroyed or ended meanwhile gets IDCANCEL,
// and the caller finds alive() false.
int CameraDialog::ask(UINT stringId, UINT type) {
    if (!alive()) return IDCANCEL;
    return messageBox(hwnd(), stringId, type);
}

int CameraDialog::setIO(uint32_t bitRate) {
    return cameraLink->SetIO(static_cast<uint8_t>(settings.portIndex + 1), bitRate, lineParity, lineStopBits,
                             lineByteSize, lineFlowFlags, false);
}

void CameraDialog::requestClose() {
    // A dialog closed under a question has nobody left to ask.
    if (alive()) theSession().notifyApplication(MSG_CLOSEDSREQ);
}

void CameraDialog::onCancel() {
    // The window stays: the application answers with MSG_DISABLEDS and MSG_CLOSEDS.
    requestClose();
}

// ---- connection ----

int CameraDialog::connectAtConfiguredRate() {
    if (!cameraLink) return 0;
    lastCommError = 0;
    const uint32_t bitRate = bitRateOfIndex(settings.bitRateIndex);
    if (bitRate == 0 || settings.portIndex > 3) return 0;
    WaitCursor wait;
    if (setIO(bitRate)) return 1;
    lastCommError = cameraLink->takeLinkError();
    return 0;
}

int CameraDialog::connectCamera() {
    if (!cameraLink) return 0;
    // Repeats only while the camera reports busy and the user answers OK.
    for (;;) {
        const uint8_t configured = settings.bitRateIndex;
        settings.bitRateIndex = 0;
        const int at9600 = connectAtConfiguredRate();
        settings.bitRateIndex = configured;
        if (at9600) return configured == 0 ? 1 : connectAtConfiguredRate();
        if (lastCommError == LinkErrorHeld) return 0;  // our own listing has the link
        // No answer at 9600: the camera may still run at the configured rate from an earlier use.
        if (lastCommError && configured != 0) return connectAtConfiguredRate();
        if (cameraLink->lastResultCode() != ResultBusy) return 0;
        if (ask(IDS_ASK_BUSY, MB_OKCANCEL | MB_ICONQUESTION) != IDOK || !alive()) return 0;
    }
}

void CameraDialog::startConnection() {
    connectDue = false;
    if (!connectCamera()) {
        if (!alive() || lastCommError == LinkErrorHeld) return;
        if (ask(IDS_ASK_NO_RESPONSE, MB_YESNO | MB_ICONQUESTION) != IDYES) {
            requestClose();
            return;
        }
        connectCamera();
    }
    if (!alive()) return;
    StatusRecord status;
    if (cameraLink && cameraLink->isConnected() && cameraLink->statusRecord(status) && status.powerB == 2 &&
        ask(IDS_ASK_LOW_BATTERY, MB_YESNO | MB_ICONQUESTION) != IDYES) {
        requestClose();
        return;
    }
    if (!alive()) return;
    EnableWindow(item(IDC_SETTING), TRUE);
    EnableWindow(item(IDCANCEL), TRUE);
    refreshStatus();
}

void CameraDialog::refreshStatus() {
    HWND open = item(IDC_OPEN), setting = item(IDC_SETTING);
    StatusRecord status;
    if (cameraLink && cameraLink->isConnected() && cameraLink->statusRecord(status)) {
        // A camera that flags a low battery (power value B = 2) reads "Low": by the sum alone
        // the values 0 and 2 would read "Full" right after the low-battery question.
        const unsigned power = status.powerB == 2 ? 1u : static_cast<unsigned>(status.powerIndex());
        char text[128] = {};
        LoadStringA(moduleInstance(), IDS_POWER_FIRST + (power < powerTextCount ? power : powerTextCount - 1), text,
                    sizeof text);
        setItemText(hwnd(), IDC_POWER, text);
        wsprintfA(text, "%u", static_cast<unsigned>(status.picturesTaken));
        setItemText(hwnd(), IDC_PICS_TAKEN, text);
        if (status.picturesTaken == 0) {
            // Also when the focus is on neither Setting nor Cancel, as after connecting with every
            // button disabled: the user lands on the one thing there is to do.
            HWND focus = GetFocus();
            if (IsWindowEnabled(open) || (focus != setting && focus != item(IDCANCEL))) {
                SendMessageA(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(setting), TRUE);
                EnableWindow(open, FALSE);
            }
        } else if (!IsWindowEnabled(open)) {
            EnableWindow(open, TRUE);
            SendMessageA(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(open), TRUE);
        }
        return;
    }
    setItemText(hwnd(), IDC_POWER, "");
    setItemText(hwnd(), IDC_PICS_TAKEN, "");
    SendMessageA(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(setting), TRUE);
    EnableWindow(open, FALSE);
}

// ---- Open and Setting ----

void CameraDialog::onOpen() {
    // Not while a transfer runs (state 7). With one pending (state 6) the new picture replaces
    // the pending one: the application's next transfer delivers it, with no second notice.
    const TwainState stateBefore = theSession().state;
    if (stateBefore == StateTransferring) {
        MessageBeep(MB_ICONEXCLAMATION);
        return;
    }
    StatusRecord status;
    if (!cameraLink || !cameraLink->statusRecord(status) || !status.cardPresent()) {
        ask(IDS_ERR_NO_CARD, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    INT_PTR result;
    {
        AcquireDialog acquire(*cameraLink, settings);
        result = acquire.run(hwnd());
    }
    // Destroyed, disabled or closed while the acquire dialog ran: the picture goes nowhere.
    if (!alive() || theSession().state != stateBefore) {
        if (cameraLink) cameraLink->buffers->releaseJpeg();
        return;
    }
    if (result == AcquireDialog::ResultReportedError) {
        requestClose();
        return;
    }
    if (result != IDOK) return;
    UpdateWindow(hwnd());
    LinkBuffer& jpeg = cameraLink->buffers->jpeg;
    if (!jpeg.data || jpeg.count == 0) return;
    int prepared;
    {
        WaitCursor wait;
        prepared = theSession().prepareImage(jpeg.data, jpeg.count);
        cameraLink->buffers->releaseJpeg();
    }
    if (prepared) {
        if (stateBefore != StateReady) theSession().notifyApplication(MSG_XFERREADY);
        return;
    }
    ask(IDS_ERR_CONVERSION, MB_OK | MB_ICONEXCLAMATION);
    requestClose();
}

void CameraDialog::onSetting() {
    SettingsRequest request;
    if (!readCameraSettings(&request)) return;
    INT_PTR answer;
    {
        SettingsDialog dialog(request, settings, hwnd());
        answer = dialog.run();
    }
    if (answer == IDOK && alive()) applyCameraSettings(&request);
}

int CameraDialog::readCameraSettings(SettingsRequest* request) {
    if (!cameraLink || !request) return 0;
    if (!cameraLink->isConnected()) {
        request->bitRateIndex = SettingsRequest::noIndex;
        request->portIndex = SettingsRequest::noIndex;
        return 1;
    }
    int ok;
    {
        WaitCursor wait;
        ok = cameraLink->GetStat(0, false);
    }
    StatusRecord status;
    if (!ok || !cameraLink->statusRecord(status)) {
        const int error = cameraLink->takeLinkError();
        if (!alive()) return 0;
        if (error == LinkErrorHeld) {
            MessageBeep(MB_ICONEXCLAMATION);  // the listing has the link: asked again later
            return 0;
        }
        refreshStatus();
        ask(error ? IDS_ERR_COMMUNICATION : IDS_ERR_TRANSFER, MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    request->bitRateIndex = settings.bitRateIndex;
    request->portIndex = settings.portIndex;
    const uint8_t clock[6] = {status.year, status.month, status.day, status.hour, status.minute, status.second};
    std::copy(std::begin(clock), std::end(clock), request->clock);
    return 1;
}

int CameraDialog::applyCameraSettings(const SettingsRequest* request) {
    if (!cameraLink || !request) return 0;
    uint8_t oldBitRate = settings.bitRateIndex, oldPort = settings.portIndex;
    UINT failure = 0;
    if (request->flags & (SettingsRequest::bitRateChanged | SettingsRequest::portChanged)) {
        settings.bitRateIndex = request->bitRateIndex;
        settings.portIndex = request->portIndex;
        if (!connectCamera()) {
            failure = IDS_ERR_CONNECT;
        } else {
            // The camera now runs at the new rate on the new port: a later failure (the clock)
            // must not put the profile out of step with it.
            oldBitRate = settings.bitRateIndex;
            oldPort = settings.portIndex;
        }
        if (!alive()) return 0;
    }
    if (!failure && (request->flags & (SettingsRequest::dateChanged | SettingsRequest::timeChanged))) {
        const uint8_t* c = request->clock;
        int ok = cameraLink->setStatusClock(c[0], c[1], c[2], c[3], c[4], c[5]);
        if (ok) {
            WaitCursor wait;
            ok = cameraLink->SetDate(false);
        }
        if (!ok) failure = cameraLink->takeLinkError() ? IDS_ERR_COMMUNICATION : IDS_ERR_CLOCK;
    }
    if (!failure) {
        refreshStatus();
        return 1;
    }
    // The earlier choice comes back into the settings unless the camera was moved to the new
    // one; the link is not reconnected.
    settings.bitRateIndex = oldBitRate;
    settings.portIndex = oldPort;
    refreshStatus();
    ask(failure, MB_OK | MB_ICONEXCLAMATION);
    return 0;
}

// ---- messages ----

void CameraDialog::onCommand(int id, int notifyCode, HWND control) {
    switch (id) {
    case IDC_OPEN:
        onOpen();
        return;
    case IDC_SETTING:
        onSetting();
        return;
    case ID_HELP_COMMAND:
        runHelpCommand();
        return;
    default:
        DialogWindow::onCommand(id, notifyCode, control);
    }
}

BOOL CameraDialog::onQueryNewPalette() {
    if (!logo.palette) return FALSE;
    return realizePalette(hwnd(), logo.palette);
}

INT_PTR CameraDialog::onMessage(UINT message, WPARAM wParam, LPARAM, bool& handled) {
    handled = true;
    switch (message) {
    case UM_CONNECT:
        // Once, from onInitDialog. A listing still stopping (of a dialog this one replaces)
        // keeps the port: connect once it has let go.
        KillTimer(hwnd(), connectRetryTimer);
        if (!connectDue) return TRUE;
        if (ListingFetcher::anyRunning()) {
            SetTimer(hwnd(), connectRetryTimer, 250, nullptr);
            return TRUE;
        }
        startConnection();
        return TRUE;
    case WM_TIMER:
        if (wParam != connectRetryTimer) break;
        KillTimer(hwnd(), connectRetryTimer);
        PostMessageA(hwnd(), UM_CONNECT, 0, 0);
        return TRUE;
    case UM_CONTEXT_HELP:
        showContextHelp(hwnd(), cameraHelp, std::size(cameraHelp));
        return TRUE;
    case WM_HELP:
        forwardHelpRequest(hwnd());
        return TRUE;
    case WM_QUERYNEWPALETTE:
        SetWindowLongPtrA(hwnd(), DWLP_MSGRESULT, onQueryNewPalette());
        return TRUE;
    default:
        break;
    }
    handled = false;
    return FALSE;
}

void CameraDialog::onDestroy() {
    unregisterHelpTarget(hwnd());
}

void CameraDialog::onRelease() {
    releaseCamera();
}

void CameraDialog::releaseCamera() {
    // The process is ending: no serial or registry work under the loader lock.
    if (processEnding) {
        delete cameraLink;
        cameraLink = nullptr;
        return;
    }
    if (cameraLink) {
        // Back to 9600 bit/s, so that the next connection finds the camera where it starts.
        if (cameraLink->isConnected() && settings.portIndex <= 3) {
            WaitCursor wait;
            setIO(9600);
        }
        delete cameraLink;  // closes the port and destroys the link's window
        cameraLink = nullptr;
    }
    settings.save();
}
