#include "ui/thumbnail_sheet.h"

#include <new>

#include "source/module.h"
#include "ui/attached_window.h"
#include "ui/picture_list.h"
#include "ui/thumbnail_cell.h"
#include "ui/user_messages.h"

namespace {
const char sheetClassName[] = "DorvexThumbnailSheet";
}

ThumbnailSheet::ThumbnailSheet(PictureList& pictures) : list(pictures) {}

ThumbnailSheet::~ThumbnailSheet() {
    destroyCells();
    if (window) DestroyWindow(window);
}

bool ThumbnailSheet::registerClass() {
    return registerAttachedClass<ThumbnailSheet>(moduleInstance(), sheetClassName, CS_PARENTDC);
}

void ThumbnailSheet::unregisterClass() {
    UnregisterClassA(sheetClassName, moduleInstance());
}

int ThumbnailSheet::height() const {
    const int allRows = (list.count + Columns - 1) / Columns;
    // Before the cells are made the sheet is as tall as the first rows it will hold.
    const int rows = cells ? endLiveRow - firstLiveRow : (allRows < LiveRows ? allRows : LiveRows);
    const int h = rows * ThumbnailCell::Size;
    return h < MinimumHeight ? MinimumHeight : h;
}

HWND ThumbnailSheet::create(HWND grid) {
    return CreateWindowExA(0, sheetClassName, "", WS_CHILD | WS_VISIBLE, 0, 0, Width, height(), grid,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId)), moduleInstance(), this);
}

bool ThumbnailSheet::createCells() {
    selectedIndex = 0;
    if (list.count <= 0) return true;
    cells = new (std::nothrow) ThumbnailCell*[static_cast<size_t>(list.count)]();
    if (!cells) return false;
    cellCount = list.count;
    firstLiveRow = endLiveRow = 0;
    showRowsAround(0);
    return true;
}

void ThumbnailSheet::createCell(int i) {
    cells[i] = new (std::nothrow) ThumbnailCell(*this, list.entries[i], i);
    if (!cells[i]) return;  // not shown; tried again when its row comes back
    // A cell whose window cannot be made is simply not shown.
    HWND cell = cells[i]->create(window, ThumbnailCell::FirstControlId + i);
    if (cell) placeCell(i);
}

void ThumbnailSheet::placeCell(int i) {
    MoveWindow(cells[i]->hwnd(), (i % Columns) * ThumbnailCell::Size, (i / Columns - firstLiveRow) * ThumbnailCell::Size,
               ThumbnailCell::Size, ThumbnailCell::Size, FALSE);
}

void ThumbnailSheet::showRowsAround(int top) {
    if (!cells) return;
    const int rows = (cellCount + Columns - 1) / Columns;
    int first = top - MarginRows;
    if (first < 0) first = 0;
    int end = first + LiveRows;
    if (end > rows) end = rows;
    // Dropped first, so that the number of windows never exceeds the bound.
    for (int row = firstLiveRow; row < endLiveRow; ++row) {
        if (row >= first && row < end) continue;
        for (int i = row * Columns; i < (row + 1) * Columns && i < cellCount; ++i) {
            delete cells[i];
            cells[i] = nullptr;
        }
    }
    const bool moved = first != firstLiveRow;
    firstLiveRow = first;
    endLiveRow = end;
    for (int i = first * Columns; i < end * Columns && i < cellCount; ++i) {
        if (!cells[i])
            createCell(i);
        else if (moved && cells[i]->hwnd())
            placeCell(i);
    }
}

int ThumbnailSheet::liveCells() const {
    int live = 0;
    for (int i = firstLiveRow * Columns; i < endLiveRow * Columns && i < cellCount; ++i)
        if (cells[i] && cells[i]->hwnd()) ++live;
    return live;
}

void ThumbnailSheet::destroyCells() {
    if (!cells) return;
    for (int i = 0; i < cellCount; ++i) delete cells[i];
    delete[] cells;
    cells = nullptr;
    cellCount = 0;
    firstLiveRow = endLiveRow = 0;
}

void ThumbnailSheet::clearSelection() {
    selectedIndex = -1;
}

void ThumbnailSheet::select(int index) {
    if (index < 0 || index >= list.count || !list.entries[index].isFilled()) return;
    selectedIndex = index;
}

void ThumbnailSheet::refreshCell(int index) {
    if (index >= 0 && index < cellCount && cells[index] && cells[index]->hwnd())
        InvalidateRect(cells[index]->hwnd(), nullptr, FALSE);
}

int ThumbnailSheet::isSelected(int index) const {
    if (index < 0 || index >= cellCount || index >= list.count) return 0;
    return list.entries[index].isFilled() && index == selectedIndex ? 1 : 0;
}

LRESULT ThumbnailSheet::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        if (!createCells()) {
            destroyCells();
            return -1;  // fails the window's creation
        }
        return 0;
    case WM_WINDOWPOSCHANGING: {
        auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
        pos->cx = Width;
        pos->cy = height();
        pos->flags &= ~SWP_NOSIZE;
        break;
    }
    case WM_MOVE: {
        // The dialog repaints the grid on this, after creation and after every scroll step.
        const LRESULT result = DefWindowProcA(window, message, wParam, lParam);
        HWND grid = GetParent(window);
        HWND dialog = grid ? GetParent(grid) : nullptr;
        if (dialog) PostMessageA(dialog, UM_SELCHANGED, 0, 0);
        return result;
    }
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
