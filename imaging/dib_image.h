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
    // and returns 0 to stop the walk.
    using IfdTagHandler = std::function<int(uint16_t tag)>;
    // What a handler that stops the walk without setting an error code means: a deliberate
    // stop whose ErrNone is passed on, or a malformed entry (ErrBadSegment).
    enum class SilentStop { KeepNoError, BadSegment };
    // Follows the chain of IFDs whose first offset stands at the read position until an offset
    // of 0 ends it. More than maxIfds IFDs (a chain that loops) is ErrBadSegment.
    int walkIfdChain(uint16_t byteOrder, int maxIfds, SilentStop silentStop, const IfdTagHandler& handler);
    // One IFD at the read position: its entry count, then every entry's tag to the handler.
    // Leaves the read position after the last entry (at the next-IFD offset).
    int walkIfdEntries(uint16_t byteOrder, SilentStop silentStop, const IfdTagHandler& handler);
    // A 4-byte IFD offset; ErrEndOfData when it is missing or points beyond the input.
    int readIfdOffset(uint16_t byteOrder, uint32_t* offset);
    // Passes over the rest of an entry: type, count and value, 10 bytes.
    int skipEntry();
};
