// Picture: what the application received, as top-down rows of red, green, blue bytes, and the
// two ways of filling it - from a native-transfer DIB and from buffered memory blocks - plus
// writing it as a 24-bit bottom-up BMP file.
//
// Everything a source hands over is untrusted: sizes and offsets are checked against the
// picture and the buffer before a byte is copied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class Picture {
public:
    // False (and an empty picture) for sizes that are not positive or too large to hold.
    bool reset(int32_t width, int32_t height);

    int32_t width() const { return pictureWidth; }
    int32_t height() const { return pictureHeight; }
    const uint8_t* row(int32_t y) const { return rgb.data() + static_cast<size_t>(y) * pictureWidth * 3; }
    uint8_t* row(int32_t y) { return rgb.data() + static_cast<size_t>(y) * pictureWidth * 3; }

    // Rows received by memory transfer so far (each row counted once).
    int32_t rowsReceived() const { return receivedRows; }
    bool complete() const { return pictureHeight > 0 && receivedRows == pictureHeight; }
    void markRows(int32_t first, int32_t count);

    static constexpr int32_t maxSide = 32768;

private:
    int32_t pictureWidth = 0;
    int32_t pictureHeight = 0;
    int32_t receivedRows = 0;
    std::vector<uint8_t> rgb;
    std::vector<bool> rowSeen;
};

// Reads a packed DIB (BITMAPINFOHEADER, optional colour masks or table, then the bits) of
// `size` bytes. 24-bit BI_RGB only, bottom-up or top-down. Error text in `error` on failure.
bool pictureFromDib(const uint8_t* dib, size_t size, Picture& picture, std::string& error);

// One block of a buffered memory transfer (the TW_IMAGEMEMXFER fields that matter) with the
// buffer it arrived in.
struct MemoryBlock {
    uint16_t compression;
    uint32_t bytesPerRow, columns, rows, xOffset, yOffset, bytesWritten;
    const uint8_t* data;
    size_t bufferLength;
};
bool addMemoryBlock(const MemoryBlock& block, Picture& picture, std::string& error);

// The file as bytes: BITMAPFILEHEADER, BITMAPINFOHEADER, rows bottom-up, blue-green-red,
// each padded to four bytes.
std::vector<uint8_t> encodeBmp(const Picture& picture);
bool writeBmp(const std::string& path, const Picture& picture, std::string& error);
