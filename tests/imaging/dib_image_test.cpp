// DibImage: attachment rules, DIB layout and dithering towards the shared palette.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "imaging/dib_image.h"
#include "imaging/colour_cube.h"

namespace {

// A DibImage whose pixels a test fills directly.
class TestImage : public DibImage {
public:
    TestImage(int32_t w, int32_t h, const std::vector<uint8_t>& rgb) {
        width = w;
        height = h;
        EXPECT_TRUE(allocatePixels());
        std::memcpy(pixels, rgb.data(), rgb.size());
    }
};

std::vector<uint8_t> uniform(int count, uint8_t r, uint8_t g, uint8_t b) {
    std::vector<uint8_t> v;
    for (int i = 0; i < count; ++i) {
        v.insert(v.end(), {r, g, b});
    }
    return v;
}

struct Bits {
    std::unique_ptr<uint8_t[]> data;
    uint32_t size = 0;
};

Bits dibBits(DibImage& image) {
    Bits b;
    b.data.reset(image.makeDibBits(&b.size));
    return b;
}

TEST(DibImage, AttachAcceptsOneNonEmptyInputOnce) {
    const uint8_t data[4] = {1, 2, 3, 4};
    DibImage a;
    EXPECT_FALSE(a.attach(nullptr, 4));
    EXPECT_EQ(a.lastError, ErrBadArgument);
    EXPECT_FALSE(a.attach(data, 0));
    EXPECT_EQ(a.lastError, ErrBadArgument);
    EXPECT_TRUE(a.attach(data, 4));
    EXPECT_EQ(a.lastError, ErrNone);
    EXPECT_EQ(a.inputLength, 4);
    EXPECT_FALSE(a.attach(data + 1, 3));
    EXPECT_EQ(a.lastError, ErrBadArgument);
    EXPECT_EQ(a.input, data);
    EXPECT_EQ(a.inputLength, 4);
}

TEST(DibImage, AllocatePixelsRefusesZeroSizeSecondBufferAndHugeSizes) {
    DibImage image;
    EXPECT_FALSE(image.allocatePixels());
    EXPECT_EQ(image.lastError, ErrNoImage);
    image.width = 3;
    image.height = 2;
    EXPECT_TRUE(image.allocatePixels());
    EXPECT_NE(image.pixels, nullptr);
    EXPECT_FALSE(image.allocatePixels());
    EXPECT_EQ(image.lastError, ErrNoImage);

    DibImage huge;
    huge.width = 65535;
    huge.height = 65535;
    EXPECT_FALSE(huge.allocatePixels());
    EXPECT_EQ(huge.lastError, ErrNoMemory);
    EXPECT_EQ(huge.pixels, nullptr);
}

TEST(DibImage, MakeDibBitsWithoutPixelsFails) {
    DibImage image;
    uint32_t size = 7;
    EXPECT_EQ(image.makeDibBits(&size), nullptr);
    EXPECT_EQ(image.lastError, ErrNoImage);
}

TEST(DibImage, StridesArePaddedToFourBytes) {
    EXPECT_EQ(DibImage::dibStride(1), 4u);
    EXPECT_EQ(DibImage::dibStride(2), 8u);
    EXPECT_EQ(DibImage::dibStride(3), 12u);
    EXPECT_EQ(DibImage::dibStride(4), 12u);
    EXPECT_EQ(DibImage::dibStride(5), 16u);
    EXPECT_EQ(DibImage::dibStride(1152), 3456u);
}

TEST(DibImage, DibBitsAreBottomUpBgrWithZeroPadding) {
    // 2 x 2: top row red, green; bottom row blue, white.
    TestImage image(2, 2, {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255});
    Bits bits = dibBits(image);
    ASSERT_NE(bits.data, nullptr);
    ASSERT_EQ(bits.size, 16u);
    const uint8_t expected[16] = {255, 0, 0, 255, 255, 255, 0, 0,   // bottom row: blue, white, pad
                                  0, 0, 255, 0, 255, 0, 0, 0};     // top row: red, green, pad
    EXPECT_EQ(std::memcmp(bits.data.get(), expected, 16), 0);
}

TEST(SharedPalette, CubeLevels) {
    const uint8_t redGreen[8] = {0, 36, 72, 109, 145, 182, 218, 255};
    const uint8_t blue[4] = {0, 85, 170, 255};
    for (int r = 0; r < 8; ++r) {
        for (int g = 0; g < 8; ++g) {
            for (int b = 0; b < 4; ++b) {
                const PaletteColour c = sharedPaletteColour(r * 32 + g * 4 + b);
                EXPECT_EQ(c.red, redGreen[r]);
                EXPECT_EQ(c.green, redGreen[g]);
                EXPECT_EQ(c.blue, blue[b]);
            }
        }
    }
    EXPECT_EQ(sharedPaletteIndex(255, 255, 255), 255);
    EXPECT_EQ(sharedPaletteIndex(0, 0, 0), 0);
}

TEST(Dither, GreyCheckerboard) {
    TestImage image(2, 2, uniform(4, 128, 128, 128));
    Bits bits = dibBits(image);
    image.ditherToPalette(bits.data.get());
    const uint8_t expected[16] = {170, 145, 145, 85, 109, 109, 0, 0,
                                  85, 109, 109, 170, 145, 145, 0, 0};
    EXPECT_EQ(std::memcmp(bits.data.get(), expected, 6), 0);
    EXPECT_EQ(std::memcmp(bits.data.get() + 8, expected + 8, 6), 0);
}

TEST(Dither, TwoByOneGrey100) {
    TestImage image(2, 1, uniform(2, 100, 100, 100));
    Bits bits = dibBits(image);
    image.ditherToPalette(bits.data.get());
    const uint8_t expected[6] = {85, 109, 109, 85, 109, 109};
    EXPECT_EQ(std::memcmp(bits.data.get(), expected, 6), 0);
}

TEST(Dither, WhiteAndBlackAreExactPaletteColours) {
    for (uint8_t level : {uint8_t{255}, uint8_t{0}}) {
        TestImage image(3, 3, uniform(9, level, level, level));
        Bits bits = dibBits(image);
        image.ditherToPalette(bits.data.get());
        for (int row = 0; row < 3; ++row) {
            for (int i = 0; i < 9; ++i) {
                EXPECT_EQ(bits.data[row * 12 + i], level);
            }
        }
    }
}

TEST(Dither, OnePixelAndNullBuffer) {
    TestImage image(1, 1, {200, 40, 100});
    Bits bits = dibBits(image);
    image.ditherToPalette(bits.data.get());
    // B 100 -> level 85, G 40 -> 36, R 200 -> 218 (B div 64, G and R div 32).
    EXPECT_EQ(bits.data[0], 85);
    EXPECT_EQ(bits.data[1], 36);
    EXPECT_EQ(bits.data[2], 218);
    image.ditherToPalette(nullptr);  // must simply return
}

TEST(Dither, OutputUsesOnlyPaletteColoursAndKeepsMeanBrightness) {
    // A horizontal grey ramp: every output pixel is a palette colour and the average
    // of each row stays close to the input average (error diffusion, not plain rounding).
    const int w = 64, h = 8;
    std::vector<uint8_t> rgb;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint8_t v = static_cast<uint8_t>(x * 4);
            rgb.insert(rgb.end(), {v, v, v});
        }
    }
    TestImage image(w, h, rgb);
    Bits bits = dibBits(image);
    image.ditherToPalette(bits.data.get());
    const uint32_t stride = DibImage::dibStride(w);
    long inputSum = 0, outputSum = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = bits.data.get() + y * stride + x * 3;
            const PaletteColour c = sharedPaletteColour(sharedPaletteIndex(p[2], p[1], p[0]));
            EXPECT_EQ(p[0], c.blue);
            EXPECT_EQ(p[1], c.green);
            EXPECT_EQ(p[2], c.red);
            inputSum += x * 4;
            outputSum += p[1];
        }
    }
    EXPECT_NEAR(static_cast<double>(outputSum) / (w * h), static_cast<double>(inputSum) / (w * h), 3.0);
}

// The error diffusion written out plainly: errors limited, shares e * n / 16 truncated toward
// zero, each byte clamped as it is pushed. The table-driven ditherToPalette must match it.
void ditherPlainly(uint8_t* bits, int32_t w, int32_t h) {
    const auto limit = [](int d) {
        const int m = d < 0 ? -d : d;
        const int l = m <= 64 ? m : (m < 128 ? 64 + (m - 63) / 2 : 96);
        return d < 0 ? -l : l;
    };
    const auto push = [](uint8_t* p, const int e[3], int n) {
        for (int c = 0; c < 3; ++c) {
            const int v = p[c] + e[c] * n / 16;
            p[c] = static_cast<uint8_t>(v > 255 ? 255 : (v < 0 ? 0 : v));
        }
    };
    const uint32_t stride = DibImage::dibStride(w);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            uint8_t* p = bits + y * stride + x * 3;
            const PaletteColour c = sharedPaletteColour(sharedPaletteIndex(p[2], p[1], p[0]));
            const int e[3] = {limit(p[0] - c.blue), limit(p[1] - c.green), limit(p[2] - c.red)};
            p[0] = c.blue;
            p[1] = c.green;
            p[2] = c.red;
            if (x + 1 < w) push(p + 3, e, 7);
            if (y + 1 < h) {
                uint8_t* below = p + stride;
                push(below, e, 5);
                if (x > 0) push(below - 3, e, 3);
                if (x + 1 < w) push(below + 3, e, 1);
            }
        }
    }
}

TEST(Dither, SameBitsAsThePlainDiffusion) {
    // Random noise (every error size, clamping at both ends), saturated edges and odd widths.
    uint32_t seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<uint8_t>(seed >> 16);
    };
    for (const int32_t w : {1, 7, 33, 128}) {
        for (const int pattern : {0, 1, 2}) {
            const int32_t h = 37;
            std::vector<uint8_t> rgb;
            for (int32_t i = 0; i < w * h; ++i) {
                for (int c = 0; c < 3; ++c) {
                    uint8_t v = next();
                    if (pattern == 1) v = (v & 1) ? 255 : 0;
                    if (pattern == 2) v = static_cast<uint8_t>((i % w) * 255 / (w > 1 ? w - 1 : 1));
                    rgb.push_back(v);
                }
            }
            TestImage image(w, h, rgb);
            Bits bits = dibBits(image);
            std::vector<uint8_t> expected(bits.data.get(), bits.data.get() + bits.size);
            ditherPlainly(expected.data(), w, h);
            image.ditherToPalette(bits.data.get());
            EXPECT_EQ(std::memcmp(bits.data.get(), expected.data(), bits.size), 0) << w << " " << pattern;
        }
    }
}

}  // namespace
