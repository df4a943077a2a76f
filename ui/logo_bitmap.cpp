#include "ui/logo_bitmap.h"

#include "resources/resource_ids.h"
#include "source/module.h"
#include "ui/gdi_palette.h"

namespace {

// Where the parts of a packed DIB (header, colour table, bits) lie inside a resource of size
// bytes; false when the resource does not hold what its header promises.
bool locateParts(const BITMAPINFOHEADER* header, DWORD size, unsigned& colours, const BYTE*& bits) {
    if (size < sizeof(BITMAPINFOHEADER) || header->biSize < sizeof(BITMAPINFOHEADER) || header->biSize > size)
        return false;
    if (header->biCompression != BI_RGB || header->biPlanes != 1 || header->biWidth <= 0 || header->biHeight == 0)
        return false;
    const unsigned depth = header->biBitCount;
    if (depth != 1 && depth != 4 && depth != 8 && depth != 16 && depth != 24 && depth != 32) return false;
    // A colour table has 2^depth entries, or fewer when the header says so.
    colours = depth <= 8 ? 1u << depth : 0;
    if (depth <= 8 && header->biClrUsed != 0 && header->biClrUsed < colours) colours = header->biClrUsed;
    const DWORD tableEnd = header->biSize + 4 * colours;
    const LONG height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
    const unsigned long long stride = ((static_cast<unsigned long long>(header->biWidth) * depth + 31) / 32) * 4;
    if (tableEnd > size || stride * static_cast<unsigned long long>(height) > size - tableEnd) return false;
    bits = reinterpret_cast<const BYTE*>(header) + tableEnd;
    return true;
}

}  // namespace

LogoBitmap::~LogoBitmap() {
    release();
}

void LogoBitmap::release() {
    if (bitmap) DeleteObject(bitmap);
    if (palette) DeleteObject(palette);
    bitmap = nullptr;
    palette = nullptr;
}

bool LogoBitmap::load(HWND window, bool paletteScreen) {
    release();
    HMODULE module = moduleInstance();
    HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(IDB_LOGO), MAKEINTRESOURCEA(2) /* RT_BITMAP */);
    HGLOBAL loaded = info ? LoadResource(module, info) : nullptr;
    const auto* header = loaded ? static_cast<const BITMAPINFOHEADER*>(LockResource(loaded)) : nullptr;
    unsigned colours = 0;
    const BYTE* bits = nullptr;
    if (!header || !locateParts(header, SizeofResource(module, info), colours, bits)) return false;

    const auto* table = reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const BYTE*>(header) + header->biSize);
    if (paletteScreen && colours > 0) palette = createPaletteFromColourTable(table, colours);

    HDC dc = GetDC(window);
    if (!dc) {
        release();
        return false;
    }
    HPALETTE previous = palette ? SelectPalette(dc, palette, FALSE) : nullptr;
    if (palette) RealizePalette(dc);
    bitmap = CreateDIBitmap(dc, header, CBM_INIT, bits, reinterpret_cast<const BITMAPINFO*>(header), DIB_RGB_COLORS);
    if (previous) SelectPalette(dc, previous, FALSE);
    ReleaseDC(window, dc);
    if (!bitmap) release();
    return bitmap != nullptr;
}
