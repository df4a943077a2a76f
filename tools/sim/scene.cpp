#include "tools/sim/scene.h"

#include <algorithm>
#include <cstdint>

namespace sim {

namespace {

// 5x7 digits, one row per byte, bit 4 = leftmost column.
const uint8_t digitFont[10][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}};

uint32_t hash(uint32_t x, uint32_t y, uint32_t seed) {
    uint32_t h = x * 0x8DA6B343u ^ y * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 13;
    h *= 0x5BD1E995u;
    h ^= h >> 15;
    return h;
}

bool insideDigits(int number, int x, int y, int width, int height) {
    // Two digits in the lower-left area, each cell 1/60 of the width.
    const int cell = std::max(1, width / 60);
    const int left = width / 16, top = height - height / 16 - 7 * cell;
    if (y < top || y >= top + 7 * cell) return false;
    const int row = (y - top) / cell;
    const int digits[2] = {(number / 10) % 10, number % 10};
    for (int d = 0; d < 2; ++d) {
        const int x0 = left + d * 6 * cell;
        if (x < x0 || x >= x0 + 5 * cell) continue;
        const int column = (x - x0) / cell;
        return (digitFont[digits[d]][row] >> (4 - column)) & 1;
    }
    return false;
}

uint8_t clampByte(int value) { return static_cast<uint8_t>(std::clamp(value, 0, 255)); }

}  // namespace

RgbImage renderScene(int number, int width, int height, int textureStrength) {
    RgbImage image;
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<size_t>(width) * height * 3);
    const int hueShift = (number * 53) % 256;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // Relative coordinates in 1/1024 of the picture size.
            const int u = static_cast<int>(static_cast<int64_t>(x) * 1024 / width);
            const int v = static_cast<int>(static_cast<int64_t>(y) * 1024 / height);
            int r = (u / 4 + hueShift) % 256;
            int g = 64 + v / 8;
            int b = 255 - v / 5;
            // Sun: a disc whose place depends on the number.
            const int du = u - (200 + (number * 97) % 600), dv = v - 260;
            if (du * du + dv * dv < 110 * 110) { r = 250; g = 210; b = 60; }
            // Ground with a textured field.
            if (v > 640) {
                r = 60 + (u % 97); g = 120 + (v - 640) / 4; b = 40;
                const int noise = static_cast<int>(hash(x, y, number) % 64) - 32;
                r += noise * textureStrength / 8;
                g += noise * textureStrength / 8;
            }
            // A house: rectangle and a roof.
            if (u > 620 && u < 860 && v > 520 && v < 760) { r = 180; g = 60 + (number * 30) % 150; b = 50; }
            if (v > 380 && v <= 520 && u > 600 && u < 880 && (v - 380) * 2 > std::abs(u - 740)) {
                r = 90; g = 40; b = 30;
            }
            if (insideDigits(number, x, y, width, height)) { r = 255; g = 255; b = 255; }
            uint8_t* p = &image.pixels[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = clampByte(r);
            p[1] = clampByte(g);
            p[2] = clampByte(b);
        }
    }
    return image;
}

}  // namespace sim
