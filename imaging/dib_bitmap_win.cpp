// createBitmap: the one GDI call of the image objects, built only into the Windows library.
#include "imaging/dib_image.h"

#include <windows.h>

HBITMAP DibImage::createBitmap(HDC dc, int dither) {
    lastError = ErrNone;
    if (dc == nullptr) {
        lastError = ErrBadArgument;
        return nullptr;
    }
    uint32_t size = 0;
    uint8_t* bits = makeDibBits(&size);
    if (bits == nullptr) {
        return nullptr;
    }
    if (dither) {
        ditherToPalette(bits);
    }
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = width;
    header.biHeight = height;  // positive: rows bottom-up, as makeDibBits lays them out
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = size;
    HBITMAP bitmap = CreateDIBitmap(dc, &header, CBM_INIT, bits, reinterpret_cast<const BITMAPINFO*>(&header),
                                    DIB_RGB_COLORS);
    delete[] bits;
    if (bitmap == nullptr) {
        lastError = ErrBitmap;
    }
    return bitmap;
}
