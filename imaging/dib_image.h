// DibImage: the base of every image object (JPEG decoder, TIFF thumbnail decoder, EXIF reader).
//
// It holds the attached input bytes (owned by the caller), the decoded picture as top-down,
// unpadded R,G,B rows, the picture's size and the error code of the last operation. It turns
// the pixels into 24-bit DIB bits (bottom-up B,G,R rows padded to 4 bytes), can dither those
// bits to the shared 8x8x4 colour cube and, on Windows, makes a device bitmap of them.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#endif

enum ImageError : int32_t {
    ErrNone = 0,
    ErrEndOfData = 1,
    ErrBadArgument = 2,
    ErrWrongFormat = 3,
    ErrBadSegment = 4,
    ErrBadData = 5,
    ErrBitmap = 7,
    ErrNoMemory = 8,
    ErrNoImage = 9,
};

// Name of an error code ("ErrBadData"), for tools and tests.
const char* imageErrorName(int32_t error);

class DibImage {
public:
    DibImage() = default;
    virtual ~DibImage();
    DibImage(const DibImage&) = delete;
    DibImage& operator=(const DibImage&) = delete;

    int attach(const uint8_t* data, int32_t length);
    int allocatePixels();
    // Newly allocated (new[]) DIB bits; size receives stride x height. The caller deletes[] them.
    uint8_t* makeDibBits(uint32_t* size);
    // Floyd-Steinberg towards the shared palette, in place on bits made by makeDibBits.
    void ditherToPalette(uint8_t* bits) const;
#ifdef _WIN32
    HBITMAP createBitmap(HDC dc, int dither);
#endif

    // Bytes per DIB row of a 24-bit picture of the given width.
    static uint32_t dibStride(int32_t width) { return ((static_cast<uint32_t>(width) * 24u + 31u) / 32u) * 4u; }

    const uint8_t* input = nullptr;
    int32_t inputLength = 0;
    int32_t readPosition = 0;
    uint8_t* pixels = nullptr;
    int32_t height = 0;
    int32_t width = 0;
    uint16_t formatWord = 0;
    uint16_t bitsPerPixel = 0;
    int32_t lastError = ErrNone;
};
