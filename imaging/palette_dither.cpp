// Floyd-Steinberg error diffusion of 24-bit DIB bits towards the shared 8x8x4 colour cube.
//
// The errors are pushed straight into the neighbouring bytes of the same buffer (no row
// buffer), each addition clamped to 0..255, and limited by errorLimit so that a large
// difference (a saturated edge) does not smear across the picture.
#include "imaging/dib_image.h"
#include "imaging/shared_palette.h"

#include <cstddef>
#include <cstdint>

namespace {

struct DitherTables {
    uint8_t blue[256];
    uint8_t green[256];
    uint8_t red[256];
    int16_t limit[511];  // indexed by difference + 255

    DitherTables() {
        for (int i = 0; i < 256; ++i) {
            const PaletteColour c = sharedPaletteColour(i);
            blue[i] = c.blue;
            green[i] = c.green;
            red[i] = c.red;
        }
        for (int d = -255; d <= 255; ++d) {
            const int magnitude = d < 0 ? -d : d;
            int limited = 96;
            if (magnitude <= 64) {
                limited = magnitude;
            } else if (magnitude < 128) {
                limited = 64 + (magnitude - 63) / 2;
            }
            limit[d + 255] = static_cast<int16_t>(d < 0 ? -limited : limited);
        }
    }
};

inline void addClamped(uint8_t* byte, int amount) {
    const int value = *byte + amount;
    *byte = static_cast<uint8_t>(value > 255 ? 255 : (value <= 0 ? 0 : value));
}

// Adds error e (one per channel, B, G, R) times numerator / 16 to the pixel at p.
inline void diffuse(uint8_t* p, const int e[3], int numerator) {
    for (int c = 0; c < 3; ++c) {
        addClamped(p + c, e[c] * numerator / 16);
    }
}

}  // namespace

void DibImage::ditherToPalette(uint8_t* bits) const {
    if (bits == nullptr || width <= 0 || height <= 0) {
        return;
    }
    const DitherTables tables;
    const size_t stride = dibStride(width);
    for (int32_t row = 0; row < height; ++row) {
        uint8_t* line = bits + static_cast<size_t>(row) * stride;
        uint8_t* next = row + 1 < height ? line + stride : nullptr;
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = line + static_cast<size_t>(x) * 3;
            const int index = sharedPaletteIndex(p[2], p[1], p[0]);
            const int e[3] = {tables.limit[p[0] - tables.blue[index] + 255],
                              tables.limit[p[1] - tables.green[index] + 255],
                              tables.limit[p[2] - tables.red[index] + 255]};
            p[0] = tables.blue[index];
            p[1] = tables.green[index];
            p[2] = tables.red[index];
            const bool last = x + 1 == width;
            if (!last) {
                diffuse(p + 3, e, 7);
            }
            if (next != nullptr) {
                uint8_t* below = next + static_cast<size_t>(x) * 3;
                diffuse(below, e, 5);
                if (x > 0) {
                    diffuse(below - 3, e, 3);
                }
                if (!last) {
                    diffuse(below + 3, e, 1);
                }
            }
        }
    }
}
