// JpegDecoder: the arithmetic at its worked values, pixel placement, restart handling and
// every failure the decoder reports, on streams made by the test writer.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "imaging/jpeg_colour.h"
#include "imaging/jpeg_decoder.h"
#include "imaging/jpeg_idct.h"
#include "jpeg_test_writer.h"

using testjpeg::Block;
using testjpeg::dcBlock;
using testjpeg::Writer;

namespace {

struct Decoded {
    int ok = 0;
    int32_t error = ErrNone;
    uint8_t unsupportedMarker = 0;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb;
};

Decoded decodeBytes(const std::vector<uint8_t>& bytes) {
    JpegDecoder decoder;
    Decoded d;
    if (!decoder.attach(bytes.data(), static_cast<int32_t>(bytes.size()))) {
        d.error = decoder.lastError;
        return d;
    }
    d.ok = decoder.decode();
    d.error = decoder.lastError;
    d.unsupportedMarker = decoder.unsupportedMarker;
    d.width = decoder.width;
    d.height = decoder.height;
    if (d.ok) {
        d.rgb.assign(decoder.pixels, decoder.pixels + static_cast<size_t>(d.width) * d.height * 3);
    }
    return d;
}

uint8_t at(const Decoded& d, int x, int y, int channel) {
    return d.rgb[(static_cast<size_t>(y) * d.width + x) * 3 + channel];
}

// A colour stream with the given luma sampling, one MCU row of `mcus` MCUs.
std::vector<uint8_t> colourStream(uint16_t width, uint16_t height, uint8_t sampling,
                                  const std::vector<std::vector<Block>>& mcus, int interval = 0) {
    Writer w;
    w.soi();
    w.tables();
    if (interval) {
        w.dri(static_cast<uint16_t>(interval));
    }
    w.sof0(width, height, 3, sampling);
    w.sos(3);
    std::vector<int> components;
    const int luma = (sampling >> 4) * (sampling & 15);
    components.assign(luma, 0);
    components.push_back(1);
    components.push_back(2);
    w.scan(mcus, components, interval);
    w.eoi();
    return w.bytes;
}

// ---------------------------------------------------------------------------------------------
// Inverse DCT

TEST(JpegIdct, ConstantBlocks) {
    const struct {
        int16_t dc;
        int16_t sample;
    } cases[] = {{80, 10}, {-1024, -128}, {1016, 127}, {0, 0}};
    for (const auto& c : cases) {
        int16_t a[64] = {}, b[64] = {}, d[64] = {};
        a[0] = b[0] = d[0] = c.dc;
        inverseDctReference(a);
        inverseDct(b);
        inverseDctDcOnly(d);
        for (int i = 0; i < 64; ++i) {
            ASSERT_EQ(a[i], c.sample) << "dc " << c.dc;
            ASSERT_EQ(b[i], c.sample);
            ASSERT_EQ(d[i], c.sample);
        }
    }
}

TEST(JpegIdct, FirstHorizontalHarmonic) {
    const int16_t expected[8] = {17, 15, 10, 3, -3, -10, -15, -17};
    int16_t a[64] = {}, b[64] = {};
    a[1] = b[1] = 100;
    inverseDctReference(a);
    inverseDct(b);
    for (int row = 0; row < 8; ++row) {
        for (int column = 0; column < 8; ++column) {
            EXPECT_EQ(a[row * 8 + column], expected[column]);
            EXPECT_EQ(b[row * 8 + column], expected[column]);
        }
    }
}

TEST(JpegIdct, VectorVersionMatchesReferenceBitForBit) {
    // Typical coefficient ranges, sparse blocks, and the full 16-bit range where the 32-bit
    // sums wrap: the two implementations must agree on every bit in all of them.
    std::mt19937 random(12345);
    for (int trial = 0; trial < 80000; ++trial) {
        int16_t a[64], b[64];
        // Kinds 3..5 keep the values in the top-left 4 x 4 (its own shorter path), 6 and 7 in
        // the first four rows or columns only (the full path).
        const int kind = trial % 8;
        for (int i = 0; i < 64; ++i) {
            int32_t v = 0;
            if (kind == 0) {
                v = static_cast<int32_t>(random() % 2048) - 1024;
            } else if (kind == 1) {
                v = (random() % 6 == 0) ? static_cast<int32_t>(random() % 512) - 256 : 0;
            } else if (kind == 2 || kind == 5) {
                v = static_cast<int32_t>(random() % 65536) - 32768;
            } else {
                v = static_cast<int32_t>(random() % 2048) - 1024;
                if (kind == 4 && random() % 3 != 0) {
                    v = 0;
                }
            }
            const bool topLeft = i / 8 < 4 && i % 8 < 4;
            if ((kind >= 3 && kind <= 5 && !topLeft) || (kind == 6 && i / 8 >= 4) || (kind == 7 && i % 8 >= 4)) {
                v = 0;
            }
            a[i] = b[i] = static_cast<int16_t>(v);
        }
        if (trial % 97 == 0) {  // a single extreme value anywhere in the 4 x 4
            std::memset(a, 0, sizeof a);
            a[(trial / 97) % 4 * 8 + (trial / 388) % 4] = (trial & 1) ? -32768 : 32767;
            std::memcpy(b, a, sizeof a);
        }
        inverseDctReference(a);
        inverseDct(b);
        ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << "trial " << trial;
    }
}

// ---------------------------------------------------------------------------------------------
// Colour conversion

TEST(JpegColour, ClampedRedExample) {
    uint8_t rgb[3];
    colourPixelReference(0, 0, 100, rgb);
    EXPECT_EQ(rgb[0], 255);  // 268.2 clamped
    EXPECT_EQ(rgb[1], 56);   // 56.6 truncated
    EXPECT_EQ(rgb[2], 128);
}

TEST(JpegColour, IntegerSplitMatchesDoubleArithmetic) {
    // The decoder's per-chroma integer terms must give exactly what the double formula gives.
    for (int cb = -1100; cb <= 1100; cb += 7) {
        for (int cr = -1100; cr <= 1100; cr += 3) {
            const ChromaTerms t = chromaTerms(static_cast<int16_t>(cb), static_cast<int16_t>(cr));
            const ChromaTerms fast = chromaTermsFast(static_cast<int16_t>(cb), static_cast<int16_t>(cr));
            ASSERT_EQ(fast.exact, t.exact);
            ASSERT_EQ(fast.red, t.red);
            ASSERT_EQ(fast.green, t.green);
            ASSERT_EQ(fast.blue, t.blue);
            if (!t.exact) {
                continue;
            }
            for (int luma = -400; luma <= 400; luma += 23) {
                uint8_t expected[3];
                colourPixelReference(static_cast<int16_t>(luma), static_cast<int16_t>(cb), static_cast<int16_t>(cr),
                                     expected);
                const int32_t y = luma + 128;
                ASSERT_EQ(clampToByte(y + t.red), expected[0]) << cb << " " << cr << " " << luma;
                ASSERT_EQ(clampToByte(y + t.green), expected[1]) << cb << " " << cr << " " << luma;
                ASSERT_EQ(clampToByte(y + t.blue), expected[2]) << cb << " " << cr << " " << luma;
            }
        }
    }
}

TEST(JpegColour, BlockTermsMatchDoubleArithmetic) {
    // Whole chroma blocks through the vector path: whenever it accepts a block, every term
    // must be the double formula's, and that formula must call the sample exact. Values
    // include multiples of 500 and green terms whose thousandths cancel (Cr 172, Cb -357).
    std::mt19937 random(99);
    const int16_t special[] = {0, 500, -500, 1000, 172, -357, 8191, -8192, 1, -1};
    int accepted = 0;
    for (int trial = 0; trial < 4000; ++trial) {
        int16_t cb[64], cr[64];
        for (int i = 0; i < 64; ++i) {
            const int kind = static_cast<int>(random() % 200);
            cb[i] = kind == 0 ? special[random() % 10] : static_cast<int16_t>(static_cast<int>(random() % 600) - 300);
            cr[i] = kind == 1 ? special[random() % 10] : static_cast<int16_t>(static_cast<int>(random() % 600) - 300);
        }
        if (trial % 4 == 0) {  // blocks with the cancelling pair
            for (int i = 0; i < 64; ++i) {
                cb[i] = static_cast<int16_t>(-357 * (i % 3));
                cr[i] = static_cast<int16_t>(172 * (i % 3));
            }
            cb[trial % 64] = static_cast<int16_t>(trial % 400);
        }
        int16_t red[64], green[64], blue[64];
        if (!chromaTermsBlock(cb, cr, red, green, blue)) {
            continue;
        }
        ++accepted;
        for (int i = 0; i < 64; ++i) {
            const ChromaTerms t = chromaTerms(cb[i], cr[i]);
            ASSERT_TRUE(t.exact) << cb[i] << " " << cr[i];
            ASSERT_EQ(red[i], t.red);
            ASSERT_EQ(green[i], t.green);
            ASSERT_EQ(blue[i], t.blue);
        }
    }
    EXPECT_GT(accepted, 100);
}

TEST(JpegColour, BlockRowsOverTheWholeIdctRange) {
    // Every Cr and every Cb of the IDCT's output range -8192..8191, each beside a spread of the
    // other (so every red, blue and green numerator class is met). A row is flagged exactly
    // when one of its terms is an integer in thousandths from non-zero inputs (where the
    // double products may fall either side of it); every other row holds the double
    // formula's terms.
    std::mt19937 random(4242);
    int flagged = 0;
    for (int base = -8192; base < 8192; base += 32) {
        for (int swap = 0; swap < 2; ++swap) {
            int16_t cb[64], cr[64];
            for (int i = 0; i < 64; ++i) {
                const int16_t sweep = static_cast<int16_t>(base + i / 2);
                const int16_t other = (i % 2 == 0) ? static_cast<int16_t>(static_cast<int>(random() % 16384) - 8192)
                                                   : static_cast<int16_t>(static_cast<int>(random() % 9) * 125 - 500);
                cb[i] = swap ? other : sweep;
                cr[i] = swap ? sweep : other;
            }
            int16_t red[64], green[64], blue[64];
            const uint8_t rows = chromaTermsBlockRows(cb, cr, red, green, blue);
            for (int row = 0; row < 8; ++row) {
                bool integral = false;
                for (int i = row * 8; i < row * 8 + 8; ++i) {
                    integral = integral || (cr[i] != 0 && 1402 * cr[i] % 1000 == 0) ||
                               (cb[i] != 0 && 1772 * cb[i] % 1000 == 0) ||
                               ((cr[i] != 0 || cb[i] != 0) && (-714 * cr[i] - 344 * cb[i]) % 1000 == 0);
                    if (!(rows & (1 << row))) {
                        const ChromaTerms t = chromaTerms(cb[i], cr[i]);
                        ASSERT_TRUE(t.exact) << cb[i] << " " << cr[i];
                        ASSERT_EQ(red[i], t.red) << cb[i] << " " << cr[i];
                        ASSERT_EQ(green[i], t.green) << cb[i] << " " << cr[i];
                        ASSERT_EQ(blue[i], t.blue) << cb[i] << " " << cr[i];
                    }
                }
                ASSERT_EQ((rows >> row) & 1, integral ? 1 : 0) << "row " << row << " at " << base;
                flagged += integral;
            }
        }
    }
    EXPECT_GT(flagged, 100);
}

// ---------------------------------------------------------------------------------------------
// Whole streams

TEST(JpegDecoder, DcOnlyGreyBlocks) {
    const struct {
        int16_t dc;
        uint8_t pixel;
    } cases[] = {{80, 138}, {-1024, 0}, {1016, 255}, {0, 128}};
    for (const auto& c : cases) {
        const Decoded d = decodeBytes(testjpeg::greyStream(8, 8, {dcBlock(c.dc)}));
        ASSERT_TRUE(d.ok) << imageErrorName(d.error);
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) {
                for (int ch = 0; ch < 3; ++ch) {
                    ASSERT_EQ(at(d, x, y, ch), c.pixel);
                }
            }
        }
    }
}

TEST(JpegDecoder, HarmonicRowThroughTheDecoder) {
    Block b{};
    b[1] = 100;  // zig-zag position 1 = natural index 1
    const Decoded d = decodeBytes(testjpeg::greyStream(8, 8, {b}));
    ASSERT_TRUE(d.ok);
    const uint8_t expected[8] = {145, 143, 138, 131, 125, 118, 113, 111};
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            EXPECT_EQ(at(d, x, y, 0), expected[x]);
        }
    }
}

TEST(JpegDecoder, ColourExampleThroughTheDecoder) {
    // Cr DC 800 gives chroma samples of 100 after the IDCT; luma 0 gives Y 128.
    const Decoded d = decodeBytes(colourStream(8, 8, 0x11, {{dcBlock(0), dcBlock(0), dcBlock(800)}}));
    ASSERT_TRUE(d.ok) << imageErrorName(d.error);
    EXPECT_EQ(at(d, 3, 3, 0), 255);
    EXPECT_EQ(at(d, 3, 3, 1), 56);
    EXPECT_EQ(at(d, 3, 3, 2), 128);
}

TEST(JpegDecoder, PartialMcusAtRightAndBottom) {
    // 13 x 11 grey: 2 x 2 MCUs, only the pixels inside the picture are written.
    const std::vector<Block> blocks{dcBlock(-800), dcBlock(-400), dcBlock(400), dcBlock(800)};
    const Decoded d = decodeBytes(testjpeg::greyStream(13, 11, blocks));
    ASSERT_TRUE(d.ok) << imageErrorName(d.error);
    ASSERT_EQ(d.width, 13);
    ASSERT_EQ(d.height, 11);
    EXPECT_EQ(at(d, 0, 0, 0), 28);    // -100 + 128
    EXPECT_EQ(at(d, 12, 0, 0), 78);   // -50 + 128
    EXPECT_EQ(at(d, 7, 10, 0), 178);  // 50 + 128
    EXPECT_EQ(at(d, 12, 10, 0), 228);
}

TEST(JpegDecoder, ChromaIsReplicatedOverTheMcu) {
    // 4:2:0, one MCU of 16 x 16: four luma blocks in raster order, one Cb and one Cr block
    // whose left half and right half differ (first horizontal harmonic).
    Block chroma{};
    chroma[1] = 400;
    const std::vector<std::vector<Block>> mcus{
        {dcBlock(-400), dcBlock(0), dcBlock(200), dcBlock(400), dcBlock(0), chroma}};
    const Decoded d = decodeBytes(colourStream(16, 16, 0x22, mcus));
    ASSERT_TRUE(d.ok) << imageErrorName(d.error);
    // Chroma sample column j covers luma columns 2j and 2j+1; rows likewise.
    const int16_t lumaOf[4] = {-50, 0, 25, 50};
    int16_t crRow[8] = {};
    {
        int16_t block[64] = {};
        block[1] = 400;
        inverseDctReference(block);
        std::memcpy(crRow, block, sizeof crRow);
    }
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            uint8_t expected[3];
            colourPixelReference(lumaOf[(y / 8) * 2 + x / 8], 0, crRow[x / 2], expected);
            ASSERT_EQ(at(d, x, y, 0), expected[0]) << x << "," << y;
            ASSERT_EQ(at(d, x, y, 1), expected[1]) << x << "," << y;
            ASSERT_EQ(at(d, x, y, 2), expected[2]) << x << "," << y;
        }
    }
}

TEST(JpegDecoder, VerticalLumaPairIsPlacedTopAndBottom) {
    // Luma sampling 1 x 2: block 1 lies below block 0 (standard order).
    const std::vector<std::vector<Block>> mcus{{dcBlock(-400), dcBlock(400), dcBlock(0), dcBlock(0)}};
    const Decoded d = decodeBytes(colourStream(8, 16, 0x12, mcus));
    ASSERT_TRUE(d.ok) << imageErrorName(d.error);
    EXPECT_EQ(at(d, 4, 2, 1), 78);
    EXPECT_EQ(at(d, 4, 12, 1), 178);
}

TEST(JpegDecoder, FourTwoTwoWithOddWidth) {
    // 4:2:2, 21 x 5: two MCUs of 16 x 8, the second cut to 5 columns and every MCU to 5 rows.
    const std::vector<std::vector<Block>> mcus{{dcBlock(0), dcBlock(80), dcBlock(0), dcBlock(0)},
                                               {dcBlock(-80), dcBlock(800), dcBlock(0), dcBlock(0)}};
    const Decoded d = decodeBytes(colourStream(21, 5, 0x21, mcus));
    ASSERT_TRUE(d.ok) << imageErrorName(d.error);
    EXPECT_EQ(at(d, 0, 0, 0), 128);
    EXPECT_EQ(at(d, 8, 4, 0), 138);
    EXPECT_EQ(at(d, 16, 4, 0), 118);
    EXPECT_EQ(at(d, 20, 0, 0), 118);
}

TEST(JpegDecoder, LineCountFromDnl) {
    Writer w;
    w.start(8, 0, 1);
    w.scan({{dcBlock(80)}, {dcBlock(0)}}, {0});
    w.segment(0xDC, {0, 13});
    w.eoi();
    const Decoded d = decodeBytes(w.bytes);
    ASSERT_TRUE(d.ok) << imageErrorName(d.error);
    EXPECT_EQ(d.height, 13);
    EXPECT_EQ(at(d, 0, 7, 0), 138);
    EXPECT_EQ(at(d, 0, 12, 0), 128);
}

TEST(JpegDecoder, GreyscaleWithDeclaredSubsamplingIsNotInterleaved) {
    // One component declared 2 x 2: its scan still holds one block per MCU, in raster order.
    Writer w;
    w.start(16, 16, 1, 0x22);
    w.scan({{dcBlock(-400)}, {dcBlock(-200)}, {dcBlock(200)}, {dcBlock(400)}}, {0});
    w.eoi();
    const Decoded d = decodeBytes(w.bytes);
    ASSERT_TRUE(d.ok) << imageErrorName(d.error);
    EXPECT_EQ(at(d, 2, 2, 0), 78);
    EXPECT_EQ(at(d, 12, 2, 0), 103);
    EXPECT_EQ(at(d, 2, 12, 0), 153);
    EXPECT_EQ(at(d, 12, 12, 0), 178);
}

std::vector<Block> rampBlocks(int count) {
    std::vector<Block> blocks;
    for (int i = 0; i < count; ++i) {
        blocks.push_back(dcBlock(static_cast<int16_t>(i * 40 - 400)));
    }
    return blocks;
}

TEST(JpegDecoder, RestartMarkersCycleAndWrap) {
    // 20 MCUs with an interval of 2: markers D0..D7, D0, D1 (none after the last MCU).
    const std::vector<Block> blocks = rampBlocks(20);
    const Decoded d = decodeBytes(testjpeg::greyStream(160, 8, blocks, 2));
    ASSERT_TRUE(d.ok) << imageErrorName(d.error);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(at(d, i * 8 + 4, 4, 0), 128 + (i * 40 - 400) / 8);
    }
    // Interval 3 does not divide 20: the last interval is short.
    EXPECT_TRUE(decodeBytes(testjpeg::greyStream(160, 8, blocks, 3)).ok);
}

TEST(JpegDecoder, RestartMarkerOutOfSequenceOrMissing) {
    std::vector<uint8_t> stream = testjpeg::greyStream(32, 8, rampBlocks(4), 1);
    // Find the first restart marker (FF D0) and change it to D1.
    size_t marker = 0;
    for (size_t i = 0; i + 1 < stream.size(); ++i) {
        if (stream[i] == 0xFF && stream[i + 1] == 0xD0) {
            marker = i;
            break;
        }
    }
    ASSERT_NE(marker, 0u);
    std::vector<uint8_t> wrong = stream;
    wrong[marker + 1] = 0xD1;
    EXPECT_EQ(decodeBytes(wrong).error, ErrBadData);
    std::vector<uint8_t> missing = stream;
    missing.erase(missing.begin() + static_cast<long>(marker), missing.begin() + static_cast<long>(marker) + 2);
    EXPECT_EQ(decodeBytes(missing).error, ErrBadData);
}

TEST(JpegDecoder, StreamWithoutApp0AndWithExifApp1) {
    Writer w;
    w.soi();
    w.segment(0xE1, {'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0});
    w.tables();
    w.sof0(8, 8, 1);
    w.sos(1);
    w.scan({{dcBlock(80)}}, {0});
    w.eoi();
    const Decoded d = decodeBytes(w.bytes);
    ASSERT_TRUE(d.ok) << imageErrorName(d.error);
    EXPECT_EQ(at(d, 0, 0, 0), 138);
}

TEST(JpegDecoder, FillBytesBeforeMarkersAndJfxxAreAccepted) {
    Writer w;
    w.soi();
    w.bytes.insert(w.bytes.end(), {0xFF, 0xFF, 0xFF});
    w.app0();
    w.app0("JFXX");
    w.tables();
    w.sof0(8, 8, 1);
    w.bytes.insert(w.bytes.end(), {0xFF, 0xFF});
    w.sos(1);
    w.scan({{dcBlock(80)}}, {0});
    w.eoi();
    EXPECT_TRUE(decodeBytes(w.bytes).ok);
}

// ---------------------------------------------------------------------------------------------
// Failures

// Builds a grey 8 x 8 stream in which the caller replaces one part.
struct StreamParts {
    bool app0 = true;
    uint8_t app0Major = 1;
    const char* app0Id = "JFIF";
    uint8_t dqtByte = 0;
    uint8_t dhtDcByte = 0x00;
    uint8_t frameMarker = 0xC0;
    std::vector<uint8_t> frame{8, 0, 8, 0, 8, 1, 1, 0x11, 0};
    std::vector<uint8_t> scanHeader{1, 1, 0x00, 0, 63, 0};
    bool eoi = true;
};

std::vector<uint8_t> buildStream(const StreamParts& p) {
    Writer w;
    w.soi();
    if (p.app0) {
        w.app0(p.app0Id, p.app0Major);
    }
    w.dqt(p.dqtByte);
    w.dht(p.dhtDcByte);
    w.dht(0x10);
    w.segment(p.frameMarker, p.frame);
    w.segment(0xDA, p.scanHeader);
    w.scan({{dcBlock(80)}}, {0});
    if (p.eoi) {
        w.eoi();
    }
    return w.bytes;
}

TEST(JpegDecoderFailures, InputAndFormat) {
    JpegDecoder unattached;
    EXPECT_FALSE(unattached.decode());
    EXPECT_EQ(unattached.lastError, ErrNoImage);

    const std::vector<uint8_t> good = buildStream({});
    ASSERT_TRUE(decodeBytes(good).ok);
    std::vector<uint8_t> notFF = good;
    notFF[0] = 0x00;
    EXPECT_EQ(decodeBytes(notFF).error, ErrWrongFormat);
    std::vector<uint8_t> notSoi = good;
    notSoi[1] = 0xE0;
    EXPECT_EQ(decodeBytes(notSoi).error, ErrWrongFormat);

    StreamParts otherApp0;
    otherApp0.app0Id = "ABCD";
    EXPECT_EQ(decodeBytes(buildStream(otherApp0)).error, ErrWrongFormat);
    StreamParts jfif2;
    jfif2.app0Major = 2;
    EXPECT_EQ(decodeBytes(buildStream(jfif2)).error, ErrWrongFormat);
}

TEST(JpegDecoderFailures, TableSegments) {
    StreamParts sixteenBit;
    sixteenBit.dqtByte = 0x10;
    EXPECT_EQ(decodeBytes(buildStream(sixteenBit)).error, ErrBadSegment);
    StreamParts badClass;
    badClass.dhtDcByte = 0x02;
    EXPECT_EQ(decodeBytes(buildStream(badClass)).error, ErrBadSegment);

    Writer shortDqt;
    shortDqt.soi();
    shortDqt.segment(0xDB, {0, 1, 1, 1});
    shortDqt.eoi();
    EXPECT_EQ(decodeBytes(shortDqt.bytes).error, ErrBadSegment);

    Writer shortDht;
    shortDht.soi();
    shortDht.segment(0xC4, {0x00, 0, 0, 0, 12});
    shortDht.eoi();
    EXPECT_EQ(decodeBytes(shortDht.bytes).error, ErrBadSegment);

    // More symbols declared than the segment holds.
    Writer symbolsMissing;
    symbolsMissing.soi();
    symbolsMissing.segment(0xC4, {0x00, 0, 0, 0, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2});
    symbolsMissing.eoi();
    EXPECT_EQ(decodeBytes(symbolsMissing.bytes).error, ErrBadSegment);

    // Three codes of length 1 over-subscribe the code space.
    Writer oversubscribed;
    oversubscribed.soi();
    oversubscribed.segment(0xC4, {0x00, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3});
    oversubscribed.eoi();
    EXPECT_EQ(decodeBytes(oversubscribed.bytes).error, ErrBadSegment);

    // A segment length shorter than its own length field.
    Writer tiny;
    tiny.soi();
    tiny.bytes.insert(tiny.bytes.end(), {0xFF, 0xFE, 0x00, 0x01});
    tiny.eoi();
    EXPECT_EQ(decodeBytes(tiny.bytes).error, ErrBadSegment);
}

TEST(JpegDecoderFailures, FrameAndScanHeaders) {
    const auto errorWithFrame = [](std::vector<uint8_t> frame) {
        StreamParts p;
        p.frame = std::move(frame);
        return decodeBytes(buildStream(p)).error;
    };
    EXPECT_EQ(errorWithFrame({12, 0, 8, 0, 8, 1, 1, 0x11, 0}), ErrBadSegment);  // precision
    EXPECT_EQ(errorWithFrame({8, 0, 8, 0, 8, 2, 1, 0x11, 0, 2, 0x11, 0}), ErrBadSegment);  // 2 components
    EXPECT_EQ(errorWithFrame({8, 0, 8, 0, 8, 1, 2, 0x11, 0}), ErrBadSegment);  // identifier 2
    EXPECT_EQ(errorWithFrame({8, 0, 8, 0, 8, 1, 1, 0x11, 4}), ErrBadSegment);  // quant table 4
    EXPECT_EQ(errorWithFrame({8, 0, 8, 0, 8, 1, 1, 0x11, 1}), ErrBadSegment);  // undefined table 1
    EXPECT_EQ(errorWithFrame({8, 0, 0, 0, 8, 1, 1, 0x11, 0}), ErrNoImage);     // height 0, no DNL
    EXPECT_EQ(errorWithFrame({8, 0, 8, 0, 8, 1, 1, 0x01, 0}), ErrBadData);     // sampling 0

    const auto errorWithScan = [](std::vector<uint8_t> scan) {
        StreamParts p;
        p.scanHeader = std::move(scan);
        return decodeBytes(buildStream(p)).error;
    };
    EXPECT_EQ(errorWithScan({2, 1, 0x00, 2, 0x00, 0, 63, 0}), ErrBadSegment);  // 2 components
    EXPECT_EQ(errorWithScan({1, 2, 0x00, 0, 63, 0}), ErrBadSegment);           // selector 2
    EXPECT_EQ(errorWithScan({1, 1, 0x00, 1, 63, 0}), ErrBadSegment);           // spectral start 1
    EXPECT_EQ(errorWithScan({1, 1, 0x00, 0, 63, 1}), ErrBadSegment);           // approximation
    EXPECT_EQ(errorWithScan({1, 1, 0x20, 0, 63, 0}), ErrBadSegment);           // DC table 2
    EXPECT_EQ(errorWithScan({1, 1, 0x11, 0, 63, 0}), ErrBadSegment);           // tables 1 undefined
}

TEST(JpegDecoderFailures, UnsupportedFramesAndStrayMarkersNameTheirCause) {
    for (uint8_t marker : {uint8_t{0xC2}, uint8_t{0xC9}, uint8_t{0xC1}, uint8_t{0xDE}}) {
        StreamParts p;
        p.frameMarker = marker;
        const Decoded d = decodeBytes(buildStream(p));
        EXPECT_FALSE(d.ok);
        EXPECT_EQ(d.error, ErrUnsupported) << int{marker};
        EXPECT_EQ(d.unsupportedMarker, marker);
    }
    // A restart marker between segments is a damaged stream, not another kind of picture.
    StreamParts stray;
    stray.frameMarker = 0xD3;
    EXPECT_EQ(decodeBytes(buildStream(stray)).error, ErrBadSegment);
}

TEST(JpegDecoderFailures, Truncation) {
    StreamParts noEoi;
    noEoi.eoi = false;
    EXPECT_EQ(decodeBytes(buildStream(noEoi)).error, ErrEndOfData);
    const std::vector<uint8_t> good = buildStream({});
    for (size_t cut = 2; cut < good.size() - 2; cut += 3) {
        const std::vector<uint8_t> part(good.begin(), good.begin() + static_cast<long>(cut));
        const Decoded d = decodeBytes(part);
        EXPECT_FALSE(d.ok) << cut;
    }
}

TEST(JpegDecoderFailures, CorruptEntropyData) {
    // A marker inside the scan data where no restart is expected.
    Writer marker;
    marker.start(16, 8, 1);
    marker.scan({{dcBlock(80)}}, {0});
    marker.marker(0xD3);
    marker.scan({{dcBlock(80)}}, {0});
    marker.eoi();
    EXPECT_EQ(decodeBytes(marker.bytes).error, ErrBadData);

    // A bit string that matches no code within 16 bits: the AC table uses 162 of the 256
    // 8-bit codes, so 0xFE 0xFE is no code at any length.
    Writer noCode;
    noCode.start(8, 8, 1);
    noCode.bytes.insert(noCode.bytes.end(), {0x00, 0xFE, 0xFE, 0xFE, 0xFE});  // DC size 0, then junk
    noCode.eoi();
    EXPECT_EQ(decodeBytes(noCode.bytes).error, ErrBadData);
}

TEST(JpegDecoderFailures, UnsupportedLayouts) {
    // Luma 3 x 1 gives five blocks per MCU.
    EXPECT_EQ(decodeBytes(colourStream(24, 8, 0x31, {{dcBlock(0), dcBlock(0), dcBlock(0), dcBlock(0),
                                                      dcBlock(0)}}))
                  .error,
              ErrBadData);
    // Chroma sampled 2 x 2 as well: not one chroma block per MCU.
    Writer w;
    w.start(16, 16, 3, 0x22, 0x22);
    w.scan({{dcBlock(0), dcBlock(0), dcBlock(0), dcBlock(0), dcBlock(0), dcBlock(0)}}, {0, 0, 0, 0, 1, 2});
    w.eoi();
    EXPECT_EQ(decodeBytes(w.bytes).error, ErrBadData);
    // A colour frame with a greyscale scan.
    Writer mixed;
    mixed.soi();
    mixed.tables();
    mixed.sof0(8, 8, 3);
    mixed.sos(1);
    mixed.scan({{dcBlock(0)}}, {0});
    mixed.eoi();
    EXPECT_EQ(decodeBytes(mixed.bytes).error, ErrBadSegment);
}

TEST(JpegDecoderFailures, DecodeTwiceRefusesSecondPixelBuffer) {
    const std::vector<uint8_t> good = buildStream({});
    JpegDecoder decoder;
    ASSERT_TRUE(decoder.attach(good.data(), static_cast<int32_t>(good.size())));
    ASSERT_TRUE(decoder.decode());
    EXPECT_FALSE(decoder.decode());
    EXPECT_EQ(decoder.lastError, ErrNoImage);
}

}  // namespace
