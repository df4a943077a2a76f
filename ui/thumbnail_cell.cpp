#include "ui/thumbnail_cell.h"

#include <cstring>

#include "resources/resource_ids.h"
#include "source/module.h"
#include "ui/attached_window.h"
#include "ui/picture_list.h"
#include "ui/thumbnail_sheet.h"
#include "ui/user_messages.h"

char cellFontFace[32] = "MS Sans Serif";

namespace {

const char cellClassName[] = "DorvexThumbnailCell";

// Cell layout, in cell client coordinates.
constexpr int pictureLeft = 15;
constexpr int pictureTop = 10;
constexpr int pictureWidth = 80;
constexpr int pictureHeight = 60;
constexpr RECT innerFrame = {12, 7, 98, 73};
constexpr RECT labelRect = {8, 76, 90, 90};
constexpr RECT dateRect = {8, 92, 108, 106};
constexpr RECT markRect = {90, 76, 108, 90};
constexpr int labelMaxChars = 13;
constexpr int dateMaxChars = 16;
constexpr int cellFontTenthsOfPoint = 76;

int clippedLength(const char* text, size_t capacity, int maxChars) {
    const size_t length = strnlen(text, capacity);
    return static_cast<int>(length < static_cast<size_t>(maxChars) ? length : static_cast<size_t>(maxChars));
}

void drawCellText(HDC dc, const char* text, int length, RECT rect) {
    DrawTextA(dc, text, length, &rect, DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX);
}

}  // namespace

ThumbnailCell::ThumbnailCell(ThumbnailSheet& owner, PictureEntry& slot, int slotIndex)
    : sheet(owner), entry(slot), index(slotIndex) {}

ThumbnailCell::~ThumbnailCell() {
    destroyWindow();
}

bool ThumbnailCell::registerClass() {
    return registerAttachedClass<ThumbnailCell>(moduleInstance(), cellClassName, CS_PARENTDC | CS_DBLCLKS);
}

void ThumbnailCell::unregisterClass() {
    UnregisterClassA(cellClassName, moduleInstance());  // refused while windows of it exist
}

HWND ThumbnailCell::create(HWND parent, int controlId) {
    return CreateWindowExA(0, cellClassName, "", WS_CHILD | WS_VISIBLE, 0, 0, Size, Size, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)), moduleInstance(), this);
}

void ThumbnailCell::destroyWindow() {
    if (window) DestroyWindow(window);  // WM_NCDESTROY clears window
    window = nullptr;
}

int ThumbnailCell::isSelected() const {
    return sheet.isSelected(index);
}

LRESULT ThumbnailCell::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_WINDOWPOSCHANGING: {
        auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
        pos->cx = Size;
        pos->cy = Size;
        pos->flags &= ~SWP_NOSIZE;
        break;
    }
    case WM_LBUTTONDOWN:
        return onLeftButtonDown(wParam, lParam);
    case WM_LBUTTONDBLCLK:
        return onDoubleClick(wParam, lParam);
    case WM_PAINT:
        paint();
        return 0;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT ThumbnailCell::onLeftButtonDown(WPARAM wParam, LPARAM lParam) {
    if (!entry.isFilled()) return 0;
    sheet.select(index);
    postToDialog(UM_SELCHANGED);
    return DefWindowProcA(window, WM_LBUTTONDOWN, wParam, lParam);
}

LRESULT ThumbnailCell::onDoubleClick(WPARAM wParam, LPARAM lParam) {
    if (!entry.isFilled()) return 0;
    postToDialog(UM_ACTIVATE_PICTURE);
    return DefWindowProcA(window, WM_LBUTTONDBLCLK, wParam, lParam);
}

// cell -> sheet -> grid -> dialog
void ThumbnailCell::postToDialog(UINT message) {
    HWND sheetWindow = GetParent(window);
    HWND gridWindow = sheetWindow ? GetParent(sheetWindow) : nullptr;
    HWND dialog = gridWindow ? GetParent(gridWindow) : nullptr;
    if (dialog) PostMessageA(dialog, message, 0, 0);
}

void ThumbnailCell::paint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    if (dc && entry.isFilled()) {
        drawPicture(dc);
        drawFrame(dc);
        drawTexts(dc);
    }
    EndPaint(window, &ps);
}

void ThumbnailCell::drawPicture(HDC dc) {
    drawThumbnail(dc, entry.thumbnail, pictureLeft, pictureTop, pictureWidth, pictureHeight);
}

void drawThumbnail(HDC dc, HBITMAP thumbnail, int x, int y, int maxWidth, int maxHeight) {
    HBITMAP placeholder = nullptr;
    HBITMAP picture = thumbnail;
    if (!picture) picture = placeholder = LoadBitmapA(moduleInstance(), MAKEINTRESOURCEA(IDB_PLACEHOLDER));
    if (!picture) return;
    // Thumbnails are shown at their own scale: only the top-left maxWidth x maxHeight pixels,
    // never more than the bitmap has.
    BITMAP info{};
    GetObjectA(picture, sizeof(info), &info);
    const int width = info.bmWidth < maxWidth ? info.bmWidth : maxWidth;
    const int height = info.bmHeight < maxHeight ? info.bmHeight : maxHeight;
    HDC memory = CreateCompatibleDC(dc);
    if (memory) {
        HGDIOBJ previous = SelectObject(memory, picture);
        BitBlt(dc, x, y, width, height, memory, 0, 0, SRCCOPY);
        SelectObject(memory, previous);
        DeleteDC(memory);
    }
    if (placeholder) DeleteObject(placeholder);
}

void ThumbnailCell::drawFrame(HDC dc) {
    // Always drawn: a repaint without erasing must turn an old red frame grey again.
    HBRUSH red = isSelected() ? CreateSolidBrush(RGB(255, 0, 0)) : nullptr;
    HBRUSH brush = red ? red : static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
    RECT frame = innerFrame;
    FrameRect(dc, &frame, brush);
    InflateRect(&frame, 1, 1);
    FrameRect(dc, &frame, brush);
    if (red) DeleteObject(red);
}

void ThumbnailCell::drawTexts(HDC dc) {
    LOGFONTA font{};
    font.lfHeight = -MulDiv(cellFontTenthsOfPoint, GetDeviceCaps(dc, LOGPIXELSY), 720);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    lstrcpynA(font.lfFaceName, cellFontFace, LF_FACESIZE);
    HFONT cellFont = CreateFontIndirectA(&font);
    HGDIOBJ previous = cellFont ? SelectObject(dc, cellFont) : nullptr;
    SetBkMode(dc, TRANSPARENT);
    drawCellText(dc, entry.label, clippedLength(entry.label, sizeof(entry.label), labelMaxChars), labelRect);
    drawCellText(dc, entry.dateText, clippedLength(entry.dateText, sizeof(entry.dateText), dateMaxChars),
                 dateRect);
    if (entry.markFlag) drawCellText(dc, "(P)", 3, markRect);
    if (previous) SelectObject(dc, previous);
    if (cellFont) DeleteObject(cellFont);
}
