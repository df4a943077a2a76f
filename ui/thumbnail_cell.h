// ThumbnailCell: one 110 x 110 window of the thumbnail sheet showing one picture slot:
// thumbnail (or the placeholder bitmap), a selection frame, label, date and mark.
// A click selects the slot, a double click asks the dialog to acquire it.
#pragma once

#include <windows.h>

struct PictureEntry;
class ThumbnailSheet;

// Face name of the cell font, reloaded from the string table each time a grid is created.
extern char cellFontFace[32];

class ThumbnailCell {
public:
    static constexpr int Size = 110;
    static constexpr int FirstControlId = 51;

    // The cell of slot index (its control id is FirstControlId + index).
    ThumbnailCell(ThumbnailSheet& sheet, PictureEntry& entry, int index);
    ~ThumbnailCell();
    ThumbnailCell(const ThumbnailCell&) = delete;
    ThumbnailCell& operator=(const ThumbnailCell&) = delete;

    // Creates the window as child controlId of parent; null on failure.
    HWND create(HWND parent, int controlId);
    void destroyWindow();
    HWND hwnd() const { return window; }

    // The selection itself is the sheet's (cells come and go as the grid scrolls); it counts
    // only while the slot holds a picture.
    int isSelected() const;

    static bool registerClass();
    static void unregisterClass();

private:
    // Sets window and calls handle().
    template <class T>
    friend LRESULT CALLBACK attachedWindowProc(HWND, UINT, WPARAM, LPARAM);

    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT onLeftButtonDown(WPARAM wParam, LPARAM lParam);
    LRESULT onDoubleClick(WPARAM wParam, LPARAM lParam);
    void paint();
    void drawPicture(HDC dc);
    void drawFrame(HDC dc);
    void drawTexts(HDC dc);
    void postToDialog(UINT message);

    ThumbnailSheet& sheet;
    PictureEntry& entry;
    int index;
    HWND window = nullptr;
};

// Draws a thumbnail (the placeholder picture when there is none) at x, y at its own scale,
// cut to maxWidth x maxHeight: the grid's cells and the information dialog show it alike.
void drawThumbnail(HDC dc, HBITMAP thumbnail, int x, int y, int maxWidth, int maxHeight);
