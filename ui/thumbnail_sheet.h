// ThumbnailSheet: the tall window inside the thumbnail grid that holds one cell per picture
// slot, four to a row. The grid scrolls by moving it; every move tells the dialog.
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

    explicit ThumbnailSheet(PictureList& list);
    ~ThumbnailSheet();  // destroys the cells (window, then object), then its own window
    ThumbnailSheet(const ThumbnailSheet&) = delete;
    ThumbnailSheet& operator=(const ThumbnailSheet&) = delete;

    // Creates the window and its cells as child ControlId of the grid; null on failure.
    HWND create(HWND grid);
    HWND hwnd() const { return window; }

    void clearSelection();
    // 1 when slot index holds a picture and its cell is selected; 0 for a missing cell.
    int isSelected(int index) const;

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
    void destroyCells();

    PictureList& list;
    ThumbnailCell** cells = nullptr;
    int cellCount = 0;  // the list's count when the cells were made
    HWND window = nullptr;
};
