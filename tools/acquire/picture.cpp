#include "tools/acquire/picture.h"

#include <cstdio>
#include <cstring>

namespace {

uint32_t readU32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t readU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

void putU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void putU16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

size_t bmpStride(int32_t width) { return (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3); }

constexpr uint32_t biRgb = 0;
constexpr size_t infoHeaderSize = 40;

}  // namespace

bool Picture::reset(int32_t width, int32_t height) {
    pictureWidth = pictureHeight = receivedRows = 0;
    rgb.clear();
    rowSeen.clear();
    if (width <= 0 || height <= 0 || width > maxSide || height > maxSide)
        return false;
    pictureWidth = width;
    pictureHeight = height;
    rgb.assign(static_cast<size_t>(width) * height * 3, 0);
    rowSeen.assign(height, false);
    return true;
}

void Picture::markRows(int32_t first, int32_t count) {
    for (int32_t y = first; y < first + count && y < pictureHeight; ++y) {
        if (y >= 0 && !rowSeen[y]) {
            rowSeen[y] = true;
            ++receivedRows;
        }
    }
}

bool pictureFromDib(const uint8_t* dib, size_t size, Picture& picture, std::string& error) {
    if (!dib || size < infoHeaderSize) {
        error = "bitmap block too small for its header";
        return false;
    }
    uint32_t headerSize = readU32(dib);
    int32_t width = static_cast<int32_t>(readU32(dib + 4));
    int32_t height = static_cast<int32_t>(readU32(dib + 8));
    uint16_t bitCount = readU16(dib + 14);
    uint32_t compression = readU32(dib + 16);
    uint32_t coloursUsed = readU32(dib + 32);
    if (headerSize < infoHeaderSize || headerSize > size) {
        error = "bitmap header size " + std::to_string(headerSize) + " not understood";
        return false;
    }
    if (bitCount != 24 || compression != biRgb) {
        error = "bitmap is " + std::to_string(bitCount) + " bits per pixel, compression " +
                std::to_string(compression) + "; only 24-bit BI_RGB is taken";
        return false;
    }
    bool bottomUp = height > 0;
    int32_t rows = bottomUp ? height : -height;
    if (!picture.reset(width, rows)) {
        error = "bitmap size " + std::to_string(width) + " x " + std::to_string(height) + " refused";
        return false;
    }
    // A 24-bit DIB may still carry a colour table (biClrUsed entries) before its bits.
    size_t offset = headerSize;
    if (coloursUsed > (size - offset) / 4) {
        error = "bitmap colour table larger than the block";
        return false;
    }
    offset += static_cast<size_t>(coloursUsed) * 4;
    size_t stride = bmpStride(width);
    if ((size - offset) / stride < static_cast<size_t>(rows)) {
        error = "bitmap block holds fewer rows than its header says";
        return false;
    }
    for (int32_t y = 0; y < rows; ++y) {
        const uint8_t* in = dib + offset + stride * (bottomUp ? rows - 1 - y : y);
        uint8_t* out = picture.row(y);
        for (int32_t x = 0; x < width; ++x) {
            out[3 * x] = in[3 * x + 2];
            out[3 * x + 1] = in[3 * x + 1];
            out[3 * x + 2] = in[3 * x];
        }
    }
    picture.markRows(0, rows);
    return true;
}

bool addMemoryBlock(const MemoryBlock& block, Picture& picture, std::string& error) {
    if (block.compression != 0) {
        error = "memory block compressed (" + std::to_string(block.compression) + ")";
        return false;
    }
    uint64_t width = static_cast<uint64_t>(picture.width());
    uint64_t height = static_cast<uint64_t>(picture.height());
    bool fits = block.columns > 0 && block.rows > 0 && block.xOffset <= width && block.columns <= width - block.xOffset &&
                block.yOffset <= height && block.rows <= height - block.yOffset &&
                block.bytesPerRow >= static_cast<uint64_t>(block.columns) * 3;
    if (!fits) {
        error = "memory block " + std::to_string(block.columns) + " x " + std::to_string(block.rows) + " at (" +
                std::to_string(block.xOffset) + ", " + std::to_string(block.yOffset) + ") outside the picture";
        return false;
    }
    uint64_t needed = static_cast<uint64_t>(block.bytesPerRow) * (block.rows - 1) + block.columns * 3ull;
    if (needed > block.bufferLength || needed > block.bytesWritten) {
        error = "memory block claims more bytes than its buffer holds";
        return false;
    }
    for (uint32_t r = 0; r < block.rows; ++r) {
        const uint8_t* in = block.data + static_cast<size_t>(block.bytesPerRow) * r;
        std::memcpy(picture.row(block.yOffset + r) + block.xOffset * 3, in, block.columns * 3);
    }
    // Only whole-width blocks complete rows; partial strips are copied but not counted.
    if (block.xOffset == 0 && block.columns == width)
        picture.markRows(block.yOffset, block.rows);
    return true;
}

std::vector<uint8_t> encodeBmp(const Picture& picture) {
    size_t stride = bmpStride(picture.width());
    size_t imageSize = stride * picture.height();
    std::vector<uint8_t> out;
    out.reserve(14 + infoHeaderSize + imageSize);
    out.push_back('B');
    out.push_back('M');
    putU32(out, static_cast<uint32_t>(14 + infoHeaderSize + imageSize));
    putU32(out, 0);
    putU32(out, static_cast<uint32_t>(14 + infoHeaderSize));
    putU32(out, infoHeaderSize);
    putU32(out, static_cast<uint32_t>(picture.width()));
    putU32(out, static_cast<uint32_t>(picture.height()));  // positive: bottom-up
    putU16(out, 1);
    putU16(out, 24);
    putU32(out, biRgb);
    putU32(out, static_cast<uint32_t>(imageSize));
    putU32(out, 2835);  // 72 dots per inch, in dots per metre
    putU32(out, 2835);
    putU32(out, 0);
    putU32(out, 0);
    for (int32_t y = picture.height() - 1; y >= 0; --y) {
        const uint8_t* in = picture.row(y);
        for (int32_t x = 0; x < picture.width(); ++x) {
            out.push_back(in[3 * x + 2]);
            out.push_back(in[3 * x + 1]);
            out.push_back(in[3 * x]);
        }
        out.resize(out.size() + stride - static_cast<size_t>(picture.width()) * 3, 0);
    }
    return out;
}

bool writeBmp(const std::string& path, const Picture& picture, std::string& error) {
    std::vector<uint8_t> bytes = encodeBmp(picture);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = "cannot create " + path;
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        error = "cannot write " + path;
        std::remove(path.c_str());
    }
    return ok;
}
