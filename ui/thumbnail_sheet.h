// ThumbnailSheet: the tall window inside the thumbnail grid that holds the cells of the picture
// slots, four to a row. The grid scrolls by moving it; every move tells the dialog.
//
// Cell windows exist only for the rows in view and a margin of rows around them (made and
// dropped as the grid scrolls), so that any picture count a camera can report costs a bounded
// number of windows. The sheet spans only those rows (window coordinates stay small): its top
// is the first of them, baseRow(). The selection belongs to the sheet, not to the cells.
#pragma once

#include <windows.h>

class PictureList;
class ThumbnailCell;

class ThumbnailSheet {
public:
    static constexpr int ControlId = 50;
    static constexpr int Columns = 4;
    static constexpr int Width = 440;
    static constexpr int MinimumHeight = 330;
    // Rows with cells: the three in view and this many above and below them.
    static constexpr int MarginRows = 8;
    static constexpr int LiveRows = 3 + 2 * MarginRows;

    explicit ThumbnailSheet(PictureList& list);
    ~ThumbnailSheet();  // destroys the cells (window, then object), then its own window
    ThumbnailSheet(const ThumbnailSheet&) = delete;
    ThumbnailSheet& operator=(const ThumbnailSheet&) = delete;

    // Creates the window and its cells as child ControlId of the grid; null on failure.
    HWND create(HWND grid);
    HWND hwnd() const { return window; }

    void clearSelection();
    // Selects slot index alone when it holds a picture; otherwise nothing changes.
    void select(int index);
    // 1 when slot index holds a picture and is selected (the first slot is, at the start).
    int isSelected(int index) const;
    // Makes the cells of the rows around top (the first row in view) and drops the others.
    void showRowsAround(int top);
    // Cells that have a window now.
    int liveCells() const;
    // The row at the sheet's top edge.
    int baseRow() const { return firstLiveRow; }

    int height() const;
    // Redraws one slot's cell (its picture was just listed or got its thumbnail).
    void refreshCell(int index);

    static bool registerClass();
    static void unregisterClass();

private:
    // Sets window and calls handle().
    template <class T>
    friend LRESULT CALLBACK attachedWindowProc(HWND, UINT, WPARAM, LPARAM);

    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    bool createCells();
    void createCell(int index);
    void placeCell(int index);
    void destroyCells();

    PictureList& list;
    ThumbnailCell** cells = nullptr;
    int cellCount = 0;  // the list's count when the cells were made
    int firstLiveRow = 0;
    int endLiveRow = 0;  // rows [firstLiveRow, endLiveRow) have their cells
    int selectedIndex = 0;
    HWND window = nullptr;
};
