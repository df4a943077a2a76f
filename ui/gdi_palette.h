// The library-wide display palette for palette-based (256-colour) screens, and the helper that
// builds a palette from a list of colours.
//
// sharedPalette is created by the camera dialog when it opens on a palette-based screen and
// deleted when it closes; the acquire and information dialogs select it for their pictures.
// Its entry r * 32 + g * 4 + b (r, g 0..7, b 0..3) holds red r * 255 / 7, green g * 255 / 7 and
// blue b * 255 / 3: the colours the thumbnail dithering produces.
#pragma once

#include <windows.h>

extern HPALETTE sharedPalette;

// Creates sharedPalette when there is none; returns it (null on failure).
HPALETTE createSharedPalette();
// Deletes sharedPalette and sets it to none.
void deleteSharedPalette();

// Colour of entry index (0..255) of the shared palette.
PALETTEENTRY sharedPaletteEntry(unsigned index);

// A palette of count colours (1..256), the colour table of a DIB (RGBQUAD: blue, green, red),
// built in a movable global block that is freed again. Null on failure.
HPALETTE createPaletteFromColourTable(const RGBQUAD* colours, unsigned count);

// Answers WM_QUERYNEWPALETTE for a window that draws with sharedPalette: realizes it in the
// window's DC and repaints the window. FALSE (nothing done) when there is no shared palette.
BOOL realizeSharedPalette(HWND window);
// The same for any palette (the camera dialog's logo palette). FALSE when palette is null.
BOOL realizePalette(HWND window, HPALETTE palette);

// True when the screen is palette-based.
bool screenIsPaletteBased();
