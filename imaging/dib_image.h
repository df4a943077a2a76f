// DibImage: the base of every image object (JPEG decoder, TIFF thumbnail decoder, EXIF reader).
//
// It holds the attached input bytes (owned by the caller), the decoded picture as top-down,
// unpadded R,G,B rows, the picture's size and the error code of the last operation. It turns
// the pixels into 24-bit DIB bits (bottom-up B,G,R rows padded to 4 bytes), can dither those
// bits to the shared 8x8x4 colour cube and, on Windows, makes a device bitmap of them.
#pragma once

#include <cstdint>
#include <functional>

#ifdef _WIN32
#include <windows.h>
#endif

// Every image error: its code, its name and the words a tool shows for it. A failure always
// sets one of these other than ErrNone, so that a caller can say what went wrong.
#define DORVEX_IMAGE_ERRORS(X)                                                                      \
    X(ErrNone, 0, "no error")                                                                        \
    X(ErrEndOfData, 1, "file ends early")                                                            \
    X(ErrBadArgument, 2, "no data to decode")                                                        \
    X(ErrWrongFormat, 3, "not a picture of the expected format")                                     \
    X(ErrBadSegment, 4, "malformed header (a segment or tag with values out of range)")              \
    X(ErrBadData, 5, "bad picture data (corrupt coded data, or a sampling that is not supported)")   \
    X(ErrBitmap, 7, "the device bitmap could not be made")                                           \
    X(ErrNoMemory, 8, "out of memory (or the picture is too large)")                                 \
    X(ErrNoImage, 9, "no picture (nothing attached, already decoded, or a width or height of 0)")    \
    X(ErrUnsupported, 10, "a kind of picture that is not supported")

enum ImageError : int32_t {
#define DORVEX_IMAGE_ERROR_CODE(name, code, text) name = code,
    DORVEX_IMAGE_ERRORS(DORVEX_IMAGE_ERROR_CODE)
#undef DORVEX_IMAGE_ERROR_CODE
};

// Name of an error code ("ErrBadData"), for tools and tests.
const char* imageErrorName(int32_t error);
// What the error means, in words ("file ends early"); "unknown error" for other codes.
const char* imageErrorText(int32_t error);

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

protected:
    // The one byte-reading rule of every decoder: the byte at readPosition, or 0xFF with
    // ErrEndOfData once the input is exhausted. lastError is cleared before each read.
    uint8_t readByte();
    // Big-endian two-byte value; 0xFFFF (and ErrEndOfData) when either byte is missing.
    uint16_t readBig16();
    // Number in the given TIFF byte order (0x4949 little-endian, otherwise big-endian);
    // all ones when the read ran past the end.
    uint16_t readNumber16(uint16_t byteOrder);
    uint32_t readNumber32(uint16_t byteOrder);
    // JPEG marker search: skips to 0xFF, steps back over fill bytes, passes over 0xFF 0x00.
    // Returns the marker code, or -1 when the input ran out (ErrEndOfData).
    int findMarker();
    // Moves the read position, never beyond the end of the input and never before 0.
    void seek(int64_t position);

    // TIFF image file directories (TIFF 6.0 section 2), walked the same way by the EXIF reader
    // and the TIFF decoder. A tag handler is called with the read position just after an
    // entry's 2-byte tag; it consumes the other 10 bytes (skipEntry when the tag is not used)
    // and returns 0 to stop the walk. A handler that stops without an error code has met a
    // malformed entry: the walk fails with ErrBadSegment, never without a cause.
    using IfdTagHandler = std::function<int(uint16_t tag)>;
    // Follows the chain of IFDs whose first offset stands at the read position until an offset
    // of 0 ends it. More than maxIfds IFDs (a chain that loops) is ErrBadSegment.
    int walkIfdChain(uint16_t byteOrder, int maxIfds, const IfdTagHandler& handler);
    // One IFD at the read position: its entry count, then every entry's tag to the handler.
    // Leaves the read position after the last entry (at the next-IFD offset).
    int walkIfdEntries(uint16_t byteOrder, const IfdTagHandler& handler);
    // A 4-byte IFD offset; ErrEndOfData when it is missing or points beyond the input.
    int readIfdOffset(uint16_t byteOrder, uint32_t* offset);
    // Passes over the rest of an entry: type, count and value, 10 bytes.
    int skipEntry();
};
