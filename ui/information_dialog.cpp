#include "ui/information_dialog.h"

#include <iterator>

#include "resources/resource_ids.h"
#include "source/module.h"
#include "ui/context_help.h"
#include "ui/picture_info_text.h"
#include "ui/picture_list.h"
#include "ui/gdi_palette.h"
#include "ui/thumbnail_cell.h"
#include "ui/user_messages.h"

namespace {

constexpr HelpEntry informationHelp[] = {
    {IDC_THUMBNAIL, IDC_THUMBNAIL, IDS_HELP_FIRST + 14},
};

constexpr int pictureWidth = 80;
constexpr int pictureHeight = 60;

}  // namespace

ImageInfoDialog::ImageInfoDialog(unsigned number, const PictureInfoText& text, const PictureEntry& slot,
                                 HWND owner)
    : listNumber(number), info(text), entry(slot), parent(owner) {}

INT_PTR ImageInfoDialog::run() {
    return runModal(IDD_INFORMATION, parent);
}

BOOL ImageInfoDialog::onInitDialog() {
    SetDlgItemInt(hwnd(), IDC_LIST_NUMBER, listNumber, FALSE);
    if (entry.thumbnail) EnableWindow(item(IDC_THUMBNAIL), FALSE);
    SetDlgItemTextA(hwnd(), IDC_INFO_DATE, info.date);
    SetDlgItemTextA(hwnd(), IDC_INFO_QUALITY, info.quality);
    SetDlgItemTextA(hwnd(), IDC_INFO_SIZE, info.size);
    SetDlgItemTextA(hwnd(), IDC_INFO_SHUTTER, info.shutter);
    SetDlgItemTextA(hwnd(), IDC_INFO_APERTURE, info.aperture);
    SetDlgItemTextA(hwnd(), IDC_INFO_EXPOSURE, info.exposureComp);
    SetDlgItemTextA(hwnd(), IDC_INFO_MAKE, info.make);
    SetDlgItemTextA(hwnd(), IDC_INFO_MODEL, info.model);
    RECT marker{};
    GetWindowRect(item(IDC_PICTURE_MARKER), &marker);
    pictureOrigin = {marker.left, marker.top};
    ScreenToClient(hwnd(), &pictureOrigin);
    return TRUE;  // default focus
}

void ImageInfoDialog::onCommand(int id, int notifyCode, HWND control) {
    if (id == IDC_THUMBNAIL)
        onThumbnailButton();
    else
        DialogWindow::onCommand(id, notifyCode, control);
}

void ImageInfoDialog::onThumbnailButton() {
    if (!SendMessageA(parent, UM_FETCH_THUMBNAIL, 0, 0)) {
        // The acquire dialog reported a failure and is closing; so do we.
        endDialog(IDCANCEL);
        return;
    }
    SendMessageA(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item(IDOK)), TRUE);
    EnableWindow(item(IDC_THUMBNAIL), FALSE);
    InvalidateRect(hwnd(), nullptr, FALSE);
}

void ImageInfoDialog::paint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd(), &ps);
    if (!dc) return;
    HPALETTE previousPalette = sharedPalette ? SelectPalette(dc, sharedPalette, TRUE) : nullptr;
    drawThumbnail(dc, entry.thumbnail, pictureOrigin.x, pictureOrigin.y, pictureWidth, pictureHeight);
    if (previousPalette) SelectPalette(dc, previousPalette, TRUE);
    EndPaint(hwnd(), &ps);
}

INT_PTR ImageInfoDialog::onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    handled = true;
    switch (message) {
    case WM_PAINT:
        paint();
        return TRUE;
    case WM_QUERYNEWPALETTE: {
        const BOOL changed = realizeSharedPalette(hwnd());
        SetWindowLongPtrA(hwnd(), DWLP_MSGRESULT, changed);
        return changed;
    }
    case UM_CONTEXT_HELP:
        showContextHelp(hwnd(), informationHelp, std::size(informationHelp));
        return TRUE;
    case WM_HELP:
        forwardHelpRequest(hwnd());
        return TRUE;
    default:
        break;
    }
    return DialogWindow::onMessage(message, wParam, lParam, handled);
}
