// TiffThumbnailDecoder: grey, WhiteIsZero, RGB and subsampled YCbCr thumbnails from the test
// writer, strip layouts, and every failure the decoder reports.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/tiff_thumbnail_decoder.h"
#include "tiff_test_writer.h"

using testtiff::Writer;

namespace {

struct Thumb {
    uint16_t photometric = 1;
    std::vector<uint32_t> bits{8};
    uint32_t width = 4;
    uint32_t height = 2;
    std::vector<uint8_t> data;
    int rowsPerStrip = 0;        // 0: no tag
    std::vector<uint32_t> strips;  // offsets relative to the data area; empty: one strip at 0
    int byteCounts = -1;         // number of StripByteCounts values; -1: as many as strips
    std::vector<uint32_t> subsampling;  // YCbCrSubSampling, empty: no tag
    bool little = true;
};

Writer thumbWriter(const Thumb& t) {
    Writer w(t.little);
    w.setData(t.data);
    const int ifd = w.addIfd();
    w.numbers(ifd, 256, testtiff::Short, {t.width});
    w.numbers(ifd, 257, testtiff::Long, {t.height});
    w.numbers(ifd, 258, testtiff::Short, t.bits);
    w.numbers(ifd, 259, testtiff::Short, {1});
    w.numbers(ifd, 262, testtiff::Short, {t.photometric});
    std::vector<uint32_t> offsets;
    for (uint32_t s : (t.strips.empty() ? std::vector<uint32_t>{0} : t.strips)) {
        offsets.push_back(Writer::dataOffset() + s);
    }
    w.numbers(ifd, 273, testtiff::Long, offsets);
    if (t.rowsPerStrip) {
        w.numbers(ifd, 278, testtiff::Short, {static_cast<uint32_t>(t.rowsPerStrip)});
    }
    const size_t counts = t.byteCounts < 0 ? offsets.size() : static_cast<size_t>(t.byteCounts);
    w.numbers(ifd, 279, testtiff::Long, std::vector<uint32_t>(counts, static_cast<uint32_t>(t.data.size())));
    if (!t.subsampling.empty()) {
        w.numbers(ifd, 530, testtiff::Short, t.subsampling);
    }
    w.chain({ifd});
    return w;
}

struct Result {
    int ok = 0;
    int32_t error = ErrNone;
    int32_t width = 0;
    std::vector<uint8_t> rgb;
};

Result decode(const std::vector<uint8_t>& file) {
    TiffThumbnailDecoder d;
    Result r;
    if (d.attach(file.data(), static_cast<int32_t>(file.size()))) {
        r.ok = d.decode();
    }
    r.error = d.lastError;
    r.width = d.width;
    if (r.ok) {
        r.rgb.assign(d.pixels, d.pixels + static_cast<size_t>(d.width) * d.height * 3);
    }
    return r;
}

Result decode(const Thumb& t) {
    return decode(thumbWriter(t).build());
}

std::vector<uint8_t> pixel(const Result& r, int x, int y) {
    const size_t at = (static_cast<size_t>(y) * r.width + x) * 3;
    return {r.rgb[at], r.rgb[at + 1], r.rgb[at + 2]};
}

TEST(TiffThumbnail, GreyAndWhiteIsZero) {
    Thumb t;
    t.data = {0, 64, 128, 255, 10, 20, 30, 40};
    for (bool little : {true, false}) {
        t.little = little;
        t.photometric = 1;
        Result r = decode(t);
        ASSERT_TRUE(r.ok) << imageErrorName(r.error);
        EXPECT_EQ(pixel(r, 1, 0), (std::vector<uint8_t>{64, 64, 64}));
        EXPECT_EQ(pixel(r, 3, 1), (std::vector<uint8_t>{40, 40, 40}));
        t.photometric = 0;
        r = decode(t);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(pixel(r, 0, 0), (std::vector<uint8_t>{255, 255, 255}));
        EXPECT_EQ(pixel(r, 3, 0), (std::vector<uint8_t>{0, 0, 0}));
    }
}

TEST(TiffThumbnail, RgbInSeveralStrips) {
    Thumb t;
    t.photometric = 2;
    t.bits = {8, 8, 8};
    t.width = 2;
    t.height = 3;
    // Three strips of one row each, stored in reverse order in the data area.
    t.data = {50, 51, 52, 53, 54, 55, 30, 31, 32, 33, 34, 35, 10, 11, 12, 13, 14, 15};
    t.rowsPerStrip = 1;
    t.strips = {12, 6, 0};
    const Result r = decode(t);
    ASSERT_TRUE(r.ok) << imageErrorName(r.error);
    EXPECT_EQ(pixel(r, 0, 0), (std::vector<uint8_t>{10, 11, 12}));
    EXPECT_EQ(pixel(r, 1, 1), (std::vector<uint8_t>{33, 34, 35}));
    EXPECT_EQ(pixel(r, 1, 2), (std::vector<uint8_t>{53, 54, 55}));
}

TEST(TiffThumbnail, YCbCrWorkedValue) {
    Thumb t;
    t.photometric = 6;
    t.bits = {8, 8, 8};
    t.width = 1;
    t.height = 1;
    t.subsampling = {1, 1};
    t.data = {121, 189, 242};
    const Result r = decode(t);
    ASSERT_TRUE(r.ok) << imageErrorName(r.error);
    EXPECT_EQ(pixel(r, 0, 0), (std::vector<uint8_t>{255, 18, 229}));
}

// Independent statement of the conversion: factors as floats, arithmetic in long double.
std::vector<uint8_t> expectedYCbCr(int y, int cbByte, int crByte) {
    const long double cb = cbByte - 128, cr = crByte - 128;
    const long double v[3] = {1.402f * cr + y, -0.344f * cb + -0.714f * cr + y, 1.772f * cb + y};
    std::vector<uint8_t> out;
    for (long double c : v) {
        out.push_back(c > 255 ? 255 : c <= 0 ? 0 : static_cast<uint8_t>(static_cast<float>(c)));
    }
    return out;
}

TEST(TiffThumbnail, SubsampledYCbCrWithPartialUnits) {
    // 5 x 3 pixels. 4:2:2 has 3 units per row (the last one half used); 4:2:0 has 3 units
    // per unit row and 2 unit rows (the second one half used).
    for (uint32_t v : {1u, 2u}) {
        Thumb t;
        t.photometric = 6;
        t.bits = {8, 8, 8};
        t.width = 5;
        t.height = 3;
        t.subsampling = {2, v};
        const uint32_t unitBytes = 2 * v + 2;
        const uint32_t unitRows = (3 + v - 1) / v;
        for (uint32_t u = 0; u < 3 * unitRows; ++u) {
            for (uint32_t i = 0; i < 2 * v; ++i) {
                t.data.push_back(static_cast<uint8_t>(40 + u * 10 + i));
            }
            t.data.push_back(static_cast<uint8_t>(100 + u * 9));   // Cb
            t.data.push_back(static_cast<uint8_t>(200 - u * 11));  // Cr
        }
        const Result r = decode(t);
        ASSERT_TRUE(r.ok) << imageErrorName(r.error);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 5; ++x) {
                const uint32_t unit = (y / v) * 3 + x / 2;
                const uint8_t* u = t.data.data() + unit * unitBytes;
                const int luma = u[(y % v) * 2 + x % 2];
                EXPECT_EQ(pixel(r, x, y), expectedYCbCr(luma, u[2 * v], u[2 * v + 1])) << v << " " << x << "," << y;
            }
        }
    }
}

TEST(TiffThumbnail, DefaultAndStandardCoefficients) {
    TiffThumbnailDecoder d;
    uint32_t bits[4];
    std::memcpy(&bits[0], &d.crToRed, 4);
    std::memcpy(&bits[1], &d.cbToBlue, 4);
    std::memcpy(&bits[2], &d.cbToGreen, 4);
    std::memcpy(&bits[3], &d.crToGreen, 4);
    EXPECT_EQ(bits[0], 0x3FB374BCu);
    EXPECT_EQ(bits[1], 0x3FE2D0E5u);
    EXPECT_EQ(bits[2], 0xBEB020C5u);
    EXPECT_EQ(bits[3], 0xBF36C8B4u);

    Thumb t;
    t.photometric = 6;
    t.bits = {8, 8, 8};
    t.width = 1;
    t.height = 1;
    t.subsampling = {1, 1};
    t.data = {121, 189, 242};
    Writer w = thumbWriter(t);
    w.numbers(0, 529, testtiff::Rational, {299, 1000, 587, 1000, 114, 1000});
    const std::vector<uint8_t> file = w.build();
    TiffThumbnailDecoder withTag;
    ASSERT_TRUE(withTag.attach(file.data(), static_cast<int32_t>(file.size())));
    ASSERT_TRUE(withTag.decode()) << imageErrorName(withTag.lastError);
    EXPECT_NEAR(withTag.crToRed, 1.402f, 1e-6);
    EXPECT_NEAR(withTag.cbToBlue, 1.772f, 1e-6);
    EXPECT_NEAR(withTag.cbToGreen, -0.344f, 1e-3);  // 0.114 x 0.886 x 2 / 0.587 = 0.3441
    EXPECT_NEAR(withTag.crToGreen, -0.714f, 1e-3);
}

TEST(TiffThumbnail, BitsPerSample) {
    Thumb t;
    t.photometric = 2;
    t.width = 1;
    t.height = 1;
    t.data = {1, 2, 3};
    t.bits = {8, 8, 8};
    EXPECT_TRUE(decode(t).ok);
    t.bits = {8, 8, 16};
    EXPECT_EQ(decode(t).error, ErrBadSegment);
    t.bits = {8, 8, 8, 8, 8};
    EXPECT_EQ(decode(t).error, ErrBadSegment);
}

TEST(TiffThumbnailFailures, HeaderTagsAndLayout) {
    Thumb good;
    good.data = {0, 64, 128, 255, 10, 20, 30, 40};
    ASSERT_TRUE(decode(good).ok);
    std::vector<uint8_t> file = thumbWriter(good).build();
    std::vector<uint8_t> badOrder = file;
    badOrder[0] = 'X';
    EXPECT_EQ(decode(badOrder).error, ErrWrongFormat);
    std::vector<uint8_t> no42 = file;
    no42[2] = 41;
    EXPECT_EQ(decode(no42).error, ErrWrongFormat);
    std::vector<uint8_t> farIfd = file;
    farIfd[7] = 0x70;
    EXPECT_EQ(decode(farIfd).error, ErrEndOfData);

    const auto withExtra = [&](uint16_t tag, testtiff::Type type, std::vector<uint32_t> values) {
        Writer w = thumbWriter(good);
        w.numbers(0, tag, type, std::move(values));
        return decode(w.build()).error;
    };
    EXPECT_EQ(withExtra(256, testtiff::Rational, {4, 1}), ErrBadSegment);  // wrong type
    EXPECT_EQ(withExtra(274, testtiff::Short, {3}), ErrBadSegment);        // orientation
    EXPECT_EQ(withExtra(284, testtiff::Short, {2}), ErrBadSegment);        // planar
    EXPECT_EQ(withExtra(320, testtiff::Short, {0, 0, 0}), ErrUnsupported);  // colour map
    EXPECT_EQ(withExtra(530, testtiff::Short, {2, 0}), ErrBadSegment);     // zero subsampling
    EXPECT_EQ(withExtra(529, testtiff::Rational, {299, 1000, 587, 1000}), ErrBadSegment);
    EXPECT_EQ(withExtra(259, testtiff::Short, {1, 1}), ErrBadSegment);  // two values

    Writer zeroCount = thumbWriter(good);
    zeroCount.raw(0, 262, testtiff::Short, 0, 0);
    EXPECT_EQ(decode(zeroCount.build()).error, ErrBadSegment);

    Thumb photometric = good;
    photometric.photometric = 3;
    EXPECT_EQ(decode(photometric).error, ErrBadSegment);
    Thumb sixteen = good;
    sixteen.bits = {16};
    EXPECT_EQ(decode(sixteen).error, ErrBadSegment);
    Thumb compressed = good;
    Writer c = thumbWriter(compressed);
    c.numbers(0, 259, testtiff::Short, {5});  // met after the first: replaces it
    EXPECT_EQ(decode(c.build()).error, ErrBadSegment);
    Thumb empty = good;
    empty.width = 0;
    EXPECT_EQ(decode(empty).error, ErrNoImage);
}

TEST(TiffThumbnailFailures, StripsMissingOrOutsideTheInput) {
    Thumb good;
    good.data = {0, 64, 128, 255, 10, 20, 30, 40};
    Writer noStrips(true);
    const int ifd = noStrips.addIfd();
    noStrips.numbers(ifd, 256, testtiff::Short, {4});
    noStrips.numbers(ifd, 257, testtiff::Short, {2});
    noStrips.numbers(ifd, 258, testtiff::Short, {8});
    noStrips.numbers(ifd, 262, testtiff::Short, {1});
    noStrips.chain({ifd});
    EXPECT_EQ(decode(noStrips.build()).error, ErrBadSegment);

    Thumb outside = good;
    outside.strips = {100000};
    EXPECT_EQ(decode(outside).error, ErrEndOfData);
    Thumb tooTall = good;
    tooTall.height = 200;  // one strip of 200 rows: far more bytes than the file holds
    EXPECT_EQ(decode(tooTall).error, ErrEndOfData);

    // Three byte counts but one offset, one row per strip: rows 1 and up have no strip.
    Thumb counts = good;
    counts.rowsPerStrip = 1;
    counts.byteCounts = 3;
    EXPECT_EQ(decode(counts).error, ErrBadSegment);
}

}  // namespace
