#include "ui/thumbnail_grid.h"

#include <new>

#include "resources/resource_ids.h"
#include "source/module.h"
#include "ui/attached_window.h"
#include "ui/picture_list.h"
#include "ui/thumbnail_cell.h"
#include "ui/thumbnail_sheet.h"

namespace {
const char gridClassName[] = "DorvexThumbnailGrid";
}

ThumbnailGrid::~ThumbnailGrid() {
    discardSheet();
    if (window) DestroyWindow(window);
    // Classes registered by a DLL outlive it unless unregistered; each call is refused while
    // another grid still has windows of the class.
    UnregisterClassA(gridClassName, moduleInstance());
    ThumbnailSheet::unregisterClass();
    ThumbnailCell::unregisterClass();
}

int ThumbnailGrid::windowWidth() {
    return ClientWidth + 4 + GetSystemMetrics(SM_CXVSCROLL);
}

bool ThumbnailGrid::registerClasses() {
    if (!ThumbnailCell::registerClass() || !ThumbnailSheet::registerClass()) return false;
    return registerAttachedClass<ThumbnailGrid>(moduleInstance(), gridClassName, CS_PARENTDC);
}

HWND ThumbnailGrid::create(HWND parent, int controlId) {
    if (window || !registerClasses()) return nullptr;
    return CreateWindowExA(WS_EX_CLIENTEDGE, gridClassName, "", WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_GROUP, 0,
                           0, windowWidth(), windowHeight(), parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)), moduleInstance(), this);
}

void ThumbnailGrid::discardSheet() {
    delete sheet;  // destroys its window and cells
    sheet = nullptr;
    topRow = 0;
    maxTopRow = 0;
}

void ThumbnailGrid::setList(PictureList& list) {
    if (!window) return;
    discardSheet();
    sheet = new (std::nothrow) ThumbnailSheet(list);
    if (!sheet) return;  // the grid stays empty
    HWND sheetWindow = sheet->create(window);
    if (sheetWindow) MoveWindow(sheetWindow, 0, 0, ThumbnailSheet::Width, sheet->height(), TRUE);
    topRow = 0;
    const int lastRow = (list.count - 1) / ThumbnailSheet::Columns;  // truncates toward zero: 0 for count 0
    SCROLLINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
    info.nMin = 0;
    info.nMax = lastRow;
    info.nPage = VisibleRows;
    info.nPos = 0;
    SetScrollInfo(window, SB_VERT, &info, TRUE);
    maxTopRow = lastRow - (VisibleRows - 1);
    InvalidateRect(window, nullptr, FALSE);
}

void ThumbnailGrid::showRow(int row) {
    topRow = row;
    SetScrollPos(window, SB_VERT, row, TRUE);
    sheet->showRowsAround(row);
    if (sheet->hwnd())
        MoveWindow(sheet->hwnd(), 0, -ThumbnailCell::Size * (row - sheet->baseRow()), ThumbnailSheet::Width,
                   sheet->height(), TRUE);
}

void ThumbnailGrid::scrollTo(int row) {
    if (!sheet || !window) return;
    // Moving the sheet to where it already is would still repaint every cell: the listing
    // asks after each picture, and only every fourth one starts a new row.
    if (row >= 0 && row <= maxTopRow && row != topRow) showRow(row);
    InvalidateRect(window, nullptr, FALSE);
}

void ThumbnailGrid::showFilledSlot(int slot, int row) {
    if (!sheet || !window) return;
    if (row >= 0 && row <= maxTopRow && row != topRow)
        showRow(row);
    else
        sheet->refreshCell(slot);
}

int ThumbnailGrid::isSelected(int index) const {
    return sheet ? sheet->isSelected(index) : 0;
}

void ThumbnailGrid::onVerticalScroll(int request, int trackPosition) {
    switch (request) {
    case SB_LINEUP:
    case SB_PAGEUP:  // pages move one row, like lines
        if (topRow - 1 < 0)
            topRow = 0;
        else
            showRow(topRow - 1);
        break;
    case SB_LINEDOWN:
    case SB_PAGEDOWN:
        if (topRow + 1 > maxTopRow)
            topRow = maxTopRow;
        else
            showRow(topRow + 1);
        break;
    case SB_THUMBTRACK:
        if (trackPosition >= 0 && trackPosition <= maxTopRow) showRow(trackPosition);
        break;
    default:  // end of drag, top, bottom, end scroll: the sheet is already where it belongs
        break;
    }
}

LRESULT ThumbnailGrid::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: {
        const LRESULT result = DefWindowProcA(window, message, wParam, lParam);
        if (result == -1) return -1;
        if (LoadStringA(moduleInstance(), IDS_CELL_FONT, cellFontFace, sizeof(cellFontFace)) <= 0)
            lstrcpynA(cellFontFace, "MS Sans Serif", sizeof(cellFontFace));
        ShowScrollBar(window, SB_VERT, TRUE);
        return result;
    }
    case WM_WINDOWPOSCHANGING: {
        auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
        pos->cx = windowWidth();
        pos->cy = windowHeight();
        pos->flags &= ~SWP_NOSIZE;
        break;
    }
    case WM_VSCROLL:
        if (sheet) onVerticalScroll(LOWORD(wParam), static_cast<short>(HIWORD(wParam)));
        break;
    case WM_DESTROY:
        // The sheet's window goes with ours; its object and cells go now too.
        discardSheet();
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
