// Floyd-Steinberg error diffusion of 24-bit DIB bits towards the shared 8x8x4 colour cube.
//
// The errors are pushed straight into the neighbouring bytes of the same buffer (no row
// buffer), each addition clamped to 0..255, and limited by errorLimit so that a large
// difference (a saturated edge) does not smear across the picture.
#include "imaging/dib_image.h"
#include "imaging/colour_cube.h"

#include <cstddef>
#include <cstdint>

namespace {

// Errors stay within -96..96 after the limit; the share of one neighbour is e * n / 16
// (truncated toward zero) for n = 7, 5, 3, 1, and a byte plus a share lies in -96..351.
constexpr int kMaxError = 96;
constexpr int kClampLow = -kMaxError;
constexpr int kClampHigh = 255 + kMaxError;

struct DitherTables {
    uint8_t blue[256];
    uint8_t green[256];
    uint8_t red[256];
    int16_t limit[511];  // indexed by difference + 255
    int16_t share[4][2 * kMaxError + 1];  // [7, 5, 3, 1][e + 96]: e * n / 16
    uint8_t clamp[kClampHigh - kClampLow + 1];  // [value + 96]: value held to 0..255

    DitherTables() {
        for (int i = 0; i < 256; ++i) {
            const PaletteColour c = sharedPaletteColour(i);
            blue[i] = c.blue;
            green[i] = c.green;
            red[i] = c.red;
        }
        for (int d = -255; d <= 255; ++d) {
            const int magnitude = d < 0 ? -d : d;
            int limited = kMaxError;
            if (magnitude <= 64) {
                limited = magnitude;
            } else if (magnitude < 128) {
                limited = 64 + (magnitude - 63) / 2;
            }
            limit[d + 255] = static_cast<int16_t>(d < 0 ? -limited : limited);
        }
        static const int kNumerators[4] = {7, 5, 3, 1};
        for (int n = 0; n < 4; ++n) {
            for (int e = -kMaxError; e <= kMaxError; ++e) {
                share[n][e + kMaxError] = static_cast<int16_t>(e * kNumerators[n] / 16);
            }
        }
        for (int v = kClampLow; v <= kClampHigh; ++v) {
            clamp[v - kClampLow] = static_cast<uint8_t>(v > 255 ? 255 : (v <= 0 ? 0 : v));
        }
    }
};

enum Neighbour { kRight = 0, kBelow = 1, kBelowLeft = 2, kBelowRight = 3 };  // 7, 5, 3, 1 sixteenths

// Adds the neighbour's share of the errors (one per channel, B, G, R, each offset by 96) to
// the pixel at p, each byte held to 0..255.
inline void diffuse(const DitherTables& t, uint8_t* p, const int e[3], Neighbour n) {
    const int16_t* share = t.share[n];
    for (int c = 0; c < 3; ++c) {
        p[c] = t.clamp[p[c] + share[e[c]] - kClampLow];
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
            const int e[3] = {tables.limit[p[0] - tables.blue[index] + 255] + kMaxError,
                              tables.limit[p[1] - tables.green[index] + 255] + kMaxError,
                              tables.limit[p[2] - tables.red[index] + 255] + kMaxError};
            p[0] = tables.blue[index];
            p[1] = tables.green[index];
            p[2] = tables.red[index];
            const bool last = x + 1 == width;
            if (!last) {
                diffuse(tables, p + 3, e, kRight);
            }
            if (next != nullptr) {
                uint8_t* below = next + static_cast<size_t>(x) * 3;
                diffuse(tables, below, e, kBelow);
                if (x > 0) {
                    diffuse(tables, below - 3, e, kBelowLeft);
                }
                if (!last) {
                    diffuse(tables, below + 3, e, kBelowRight);
                }
            }
        }
    }
}
