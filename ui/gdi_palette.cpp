#include "ui/gdi_palette.h"

HPALETTE sharedPalette = nullptr;

namespace {

constexpr unsigned maxEntries = 256;

// Builds a LOGPALETTE of count entries in a movable global block (8 bytes of header room plus
// 4 per entry), lets fill write the entries and creates the palette from it.
template <typename Fill>
HPALETTE createPalette(unsigned count, Fill fill) {
    if (count == 0 || count > maxEntries) return nullptr;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 8 + 4 * count);
    if (!block) return nullptr;
    HPALETTE palette = nullptr;
    if (auto* record = static_cast<LOGPALETTE*>(GlobalLock(block))) {
        record->palVersion = 0x300;
        record->palNumEntries = static_cast<WORD>(count);
        for (unsigned i = 0; i < count; ++i) record->palPalEntry[i] = fill(i);
        palette = CreatePalette(record);
        GlobalUnlock(block);
    }
    GlobalFree(block);
    return palette;
}

}  // namespace

PALETTEENTRY sharedPaletteEntry(unsigned index) {
    const unsigned r = (index >> 5) & 7, g = (index >> 2) & 7, b = index & 3;
    PALETTEENTRY entry{};
    entry.peRed = static_cast<BYTE>(r * 255 / 7);
    entry.peGreen = static_cast<BYTE>(g * 255 / 7);
    entry.peBlue = static_cast<BYTE>(b * 255 / 3);
    entry.peFlags = 0;
    return entry;
}

HPALETTE createSharedPalette() {
    if (!sharedPalette) sharedPalette = createPalette(maxEntries, sharedPaletteEntry);
    return sharedPalette;
}

void deleteSharedPalette() {
    if (sharedPalette) DeleteObject(sharedPalette);
    sharedPalette = nullptr;
}

HPALETTE createPaletteFromColourTable(const RGBQUAD* colours, unsigned count) {
    if (!colours) return nullptr;
    return createPalette(count, [colours](unsigned i) {
        PALETTEENTRY entry{};
        entry.peRed = colours[i].rgbRed;
        entry.peGreen = colours[i].rgbGreen;
        entry.peBlue = colours[i].rgbBlue;
        entry.peFlags = 0;
        return entry;
    });
}

bool screenIsPaletteBased() {
    HDC screen = GetDC(nullptr);
    if (!screen) return false;
    const bool palette = (GetDeviceCaps(screen, RASTERCAPS) & RC_PALETTE) != 0;
    ReleaseDC(nullptr, screen);
    return palette;
}

BOOL realizePalette(HWND window, HPALETTE palette) {
    if (!palette) return FALSE;
    HDC dc = GetDC(window);
    if (!dc) return FALSE;
    HPALETTE previous = SelectPalette(dc, palette, FALSE);
    RealizePalette(dc);
    if (previous) SelectPalette(dc, previous, FALSE);
    ReleaseDC(window, dc);
    InvalidateRect(window, nullptr, FALSE);
    return TRUE;
}

BOOL realizeSharedPalette(HWND window) {
    return realizePalette(window, sharedPalette);
}
