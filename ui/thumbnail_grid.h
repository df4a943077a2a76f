// ThumbnailGrid: the picture browser control of the acquire dialog. Four columns by three
// visible rows of thumbnail cells on a sheet that scrolls by whole rows. It reads the dialog's
// PictureList and reports clicks and scrolling by posting UM_SELCHANGED / UM_ACTIVATE_PICTURE
// to its parent.
#pragma once

#include <windows.h>

class PictureList;
class ThumbnailSheet;

class ThumbnailGrid {
public:
    static constexpr int VisibleRows = 3;
    static constexpr int ClientWidth = 440;
    static constexpr int ClientHeight = 330;

    ThumbnailGrid() = default;
    ~ThumbnailGrid();  // destroys the sheet (and its cells) and the window
    ThumbnailGrid(const ThumbnailGrid&) = delete;
    ThumbnailGrid& operator=(const ThumbnailGrid&) = delete;

    // Creates the grid window as child controlId of parent, sized by itself; null on failure.
    HWND create(HWND parent, int controlId);
    HWND hwnd() const { return window; }

    // Shows one cell per slot of list (which must outlive the grid's use of it) from row 0.
    void setList(PictureList& list);
    // Shows row at the top when 0 <= row <= maxTopRow; repaints in any case.
    void scrollTo(int row);
    // While listing: shows `row` at the top (as scrollTo) when the sheet has to move, which
    // repaints it; otherwise redraws only the cell of `slot`, just filled.
    void showFilledSlot(int slot, int row);
    // 1 when slot index holds a picture and is selected, else 0.
    int isSelected(int index) const;

    ThumbnailSheet* sheetObject() const { return sheet; }
    int topRowIndex() const { return topRow; }
    int maxTopRowIndex() const { return maxTopRow; }

    // Window size forced on every move or resize.
    static int windowWidth();
    static int windowHeight() { return ClientHeight + 4; }

private:
    // Sets window and calls handle().
    template <class T>
    friend LRESULT CALLBACK attachedWindowProc(HWND, UINT, WPARAM, LPARAM);

    static bool registerClasses();
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void onVerticalScroll(int request, int trackPosition);
    void showRow(int row);
    void discardSheet();

    ThumbnailSheet* sheet = nullptr;
    int topRow = 0;
    int maxTopRow = 0;
    HWND window = nullptr;
};
