#include "tools/sim/jpeg_encoder.h"

#include <array>
#include <cmath>

#include "tools/sim/jpeg_bit_writer.h"

namespace sim {

namespace {

// T.81 Annex K.1 and K.2, natural (row-major) order.
const uint8_t lumaQuant[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
const uint8_t chromaQuant[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
    24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// Natural index of each zig-zag position (T.81 Figure A.6).
const uint8_t zigzag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// T.81 Annex K.3: code-length counts and symbols of the four typical tables.
struct HuffmanTableDef {
    uint8_t bits[16];
    std::vector<uint8_t> values;
};

const HuffmanTableDef dcLuma = {{0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0},
                            {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
const HuffmanTableDef dcChroma = {{0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0},
                              {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
const HuffmanTableDef acLuma = {
    {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d},
    {0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
     0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
     0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
     0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
     0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
     0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
     0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
     0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
     0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
     0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
     0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa}};
const HuffmanTableDef acChroma = {
    {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77},
    {0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
     0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33,
     0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18,
     0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44,
     0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63,
     0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
     0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
     0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4,
     0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
     0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7,
     0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa}};

// Code and length per symbol, built by the procedure of T.81 Annex C.
struct HuffmanCodes {
    std::array<uint16_t, 256> code{};
    std::array<uint8_t, 256> size{};
};

HuffmanCodes buildCodes(const HuffmanTableDef& table) {
    HuffmanCodes codes;
    uint16_t code = 0;
    size_t k = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int i = 0; i < table.bits[length - 1] && k < table.values.size(); ++i, ++k) {
            codes.code[table.values[k]] = code++;
            codes.size[table.values[k]] = static_cast<uint8_t>(length);
        }
        code = static_cast<uint16_t>(code << 1);
    }
    return codes;
}

// libjpeg's quality scaling of the example tables.
std::array<uint8_t, 64> scaledTable(const uint8_t* base, int quality) {
    if (quality < 1) quality = 1;
    if (quality > 100) quality = 100;
    const int scale = quality < 50 ? 5000 / quality : 200 - quality * 2;
    std::array<uint8_t, 64> table{};
    for (int i = 0; i < 64; ++i) {
        int value = (base[i] * scale + 50) / 100;
        table[i] = static_cast<uint8_t>(value < 1 ? 1 : value > 255 ? 255 : value);
    }
    return table;
}

// 8-point DCT basis scaled by 2^12: c[u][x] = 4096 * C(u)/2 * cos((2x+1)u pi/16). Computed
// once and rounded, so the transform itself is exact integer arithmetic.
struct DctTable {
    int32_t c[8][8];
    DctTable() {
        const double pi = 3.14159265358979323846;
        for (int u = 0; u < 8; ++u) {
            const double cu = u == 0 ? std::sqrt(0.5) : 1.0;
            for (int x = 0; x < 8; ++x) {
                c[u][x] = static_cast<int32_t>(std::lround(4096.0 * 0.5 * cu * std::cos((2 * x + 1) * u * pi / 16)));
            }
        }
    }
};

using jpegbits::BitWriter;

struct Plane {
    int width = 0;
    int height = 0;
    std::vector<int16_t> samples;
    int at(int x, int y) const { return samples[static_cast<size_t>(y) * width + x]; }
};

struct Component {
    int h;
    int v;
    int quantIndex;
};

void putWord(std::vector<uint8_t>& out, int value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

// Full-resolution Y, Cb, Cr planes padded by edge replication to whole MCUs.
void convertColours(const RgbImage& image, int paddedWidth, int paddedHeight, Plane planes[3]) {
    for (int c = 0; c < 3; ++c) {
        planes[c].width = paddedWidth;
        planes[c].height = paddedHeight;
        planes[c].samples.assign(static_cast<size_t>(paddedWidth) * paddedHeight, 0);
    }
    for (int y = 0; y < paddedHeight; ++y) {
        const int sy = y < image.height ? y : image.height - 1;
        for (int x = 0; x < paddedWidth; ++x) {
            const int sx = x < image.width ? x : image.width - 1;
            const uint8_t* p = &image.pixels[(static_cast<size_t>(sy) * image.width + sx) * 3];
            const int r = p[0], g = p[1], b = p[2];
            // JFIF conversion in 16-bit fixed point.
            const int yv = (19595 * r + 38470 * g + 7471 * b + 32768) >> 16;
            const int cb = (-11059 * r - 21709 * g + 32768 * b + (128 << 16) + 32768) >> 16;
            const int cr = (32768 * r - 27439 * g - 5329 * b + (128 << 16) + 32768) >> 16;
            const size_t i = static_cast<size_t>(y) * paddedWidth + x;
            planes[0].samples[i] = static_cast<int16_t>(yv);
            planes[1].samples[i] = static_cast<int16_t>(cb < 0 ? 0 : cb > 255 ? 255 : cb);
            planes[2].samples[i] = static_cast<int16_t>(cr < 0 ? 0 : cr > 255 ? 255 : cr);
        }
    }
}

// One 8x8 block of level-shifted samples; (x0, y0) is its top-left in component samples, and
// each component sample averages sx x sy full-resolution samples.
void fetchBlock(const Plane& plane, int x0, int y0, int sx, int sy, int32_t block[64]) {
    const int area = sx * sy;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            int sum = 0;
            for (int j = 0; j < sy; ++j) {
                for (int i = 0; i < sx; ++i) sum += plane.at((x0 + x) * sx + i, (y0 + y) * sy + j);
            }
            block[y * 8 + x] = (sum + area / 2) / area - 128;
        }
    }
}

// Forward DCT and quantisation; out is in zig-zag order.
void transformBlock(const DctTable& dct, const int32_t block[64], const uint8_t* quant, int out[64]) {
    int64_t rows[64];
    for (int y = 0; y < 8; ++y) {
        for (int u = 0; u < 8; ++u) {
            int64_t sum = 0;
            for (int x = 0; x < 8; ++x) sum += static_cast<int64_t>(dct.c[u][x]) * block[y * 8 + x];
            rows[y * 8 + u] = sum;
        }
    }
    for (int k = 0; k < 64; ++k) {
        const int natural = zigzag[k];
        const int v = natural / 8, u = natural % 8;
        int64_t sum = 0;
        for (int y = 0; y < 8; ++y) sum += dct.c[v][y] * rows[y * 8 + u];
        // sum carries 2^24 of scale; divide by the quantiser with rounding half away from zero.
        const int64_t divisor = static_cast<int64_t>(quant[natural]) << 24;
        const int64_t magnitude = (sum < 0 ? -sum : sum) + divisor / 2;
        const int64_t q = magnitude / divisor;
        out[k] = static_cast<int>(sum < 0 ? -q : q);
    }
}

int magnitudeBits(int value) {
    int magnitude = value < 0 ? -value : value;
    int bits = 0;
    while (magnitude) {
        ++bits;
        magnitude >>= 1;
    }
    return bits;
}

void encodeBlock(BitWriter& bits, const int coefficients[64], int& predictor, const HuffmanCodes& dc,
                 const HuffmanCodes& ac) {
    const int diff = coefficients[0] - predictor;
    predictor = coefficients[0];
    int size = magnitudeBits(diff);
    bits.put(dc.code[size], dc.size[size]);
    if (size) bits.put(static_cast<uint32_t>(diff < 0 ? diff - 1 : diff) & ((1u << size) - 1), size);
    int run = 0;
    for (int k = 1; k < 64; ++k) {
        const int value = coefficients[k];
        if (value == 0) {
            ++run;
            continue;
        }
        while (run > 15) {
            bits.put(ac.code[0xF0], ac.size[0xF0]);
            run -= 16;
        }
        size = magnitudeBits(value);
        const int symbol = (run << 4) | size;
        bits.put(ac.code[symbol], ac.size[symbol]);
        bits.put(static_cast<uint32_t>(value < 0 ? value - 1 : value) & ((1u << size) - 1), size);
        run = 0;
    }
    if (run) bits.put(ac.code[0x00], ac.size[0x00]);
}

void writeHuffmanTable(std::vector<uint8_t>& out, int classAndId, const HuffmanTableDef& table) {
    out.push_back(static_cast<uint8_t>(classAndId));
    out.insert(out.end(), table.bits, table.bits + 16);
    out.insert(out.end(), table.values.begin(), table.values.end());
}

void writeHeaders(std::vector<uint8_t>& out, const RgbImage& image, const Component components[3],
                  const std::array<uint8_t, 64> quant[2], int restartInterval) {
    // DQT: both tables, values in zig-zag order.
    out.insert(out.end(), {0xFF, 0xDB});
    putWord(out, 2 + 2 * 65);
    for (int t = 0; t < 2; ++t) {
        out.push_back(static_cast<uint8_t>(t));
        for (int k = 0; k < 64; ++k) out.push_back(quant[t][zigzag[k]]);
    }
    // SOF0.
    out.insert(out.end(), {0xFF, 0xC0});
    putWord(out, 8 + 3 * 3);
    out.push_back(8);
    putWord(out, image.height);
    putWord(out, image.width);
    out.push_back(3);
    for (int c = 0; c < 3; ++c) {
        out.push_back(static_cast<uint8_t>(c + 1));
        out.push_back(static_cast<uint8_t>((components[c].h << 4) | components[c].v));
        out.push_back(static_cast<uint8_t>(components[c].quantIndex));
    }
    // DHT: the four tables of Annex K.3.
    std::vector<uint8_t> tables;
    writeHuffmanTable(tables, 0x00, dcLuma);
    writeHuffmanTable(tables, 0x10, acLuma);
    writeHuffmanTable(tables, 0x01, dcChroma);
    writeHuffmanTable(tables, 0x11, acChroma);
    out.insert(out.end(), {0xFF, 0xC4});
    putWord(out, static_cast<int>(2 + tables.size()));
    out.insert(out.end(), tables.begin(), tables.end());
    if (restartInterval > 0) {
        out.insert(out.end(), {0xFF, 0xDD, 0x00, 0x04});
        putWord(out, restartInterval);
    }
    // SOS: all three components, DC/AC tables 0 for luma and 1 for chroma.
    out.insert(out.end(), {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00});
}

}  // namespace

std::vector<uint8_t> encodeJpeg(const RgbImage& image, const JpegSettings& settings,
                                const std::vector<std::vector<uint8_t>>& segments) {
    std::vector<uint8_t> out = {0xFF, 0xD8};
    for (const std::vector<uint8_t>& segment : segments) out.insert(out.end(), segment.begin(), segment.end());
    if (image.width <= 0 || image.height <= 0 || image.width > 65535 || image.height > 65535) return {};

    const int hMax = settings.sampling == ChromaSampling::S444 ? 1 : 2;
    const int vMax = settings.sampling == ChromaSampling::S420 ? 2 : 1;
    const Component components[3] = {{hMax, vMax, 0}, {1, 1, 1}, {1, 1, 1}};
    const std::array<uint8_t, 64> quant[2] = {scaledTable(lumaQuant, settings.quality),
                                              scaledTable(chromaQuant, settings.quality)};
    writeHeaders(out, image, components, quant, settings.restartInterval);

    const int mcuWidth = 8 * hMax, mcuHeight = 8 * vMax;
    const int mcuColumns = (image.width + mcuWidth - 1) / mcuWidth;
    const int mcuRows = (image.height + mcuHeight - 1) / mcuHeight;
    Plane planes[3];
    convertColours(image, mcuColumns * mcuWidth, mcuRows * mcuHeight, planes);

    static const DctTable dct;
    const HuffmanCodes dcCodes[2] = {buildCodes(dcLuma), buildCodes(dcChroma)};
    const HuffmanCodes acCodes[2] = {buildCodes(acLuma), buildCodes(acChroma)};
    BitWriter bits(out);
    int predictors[3] = {0, 0, 0};
    int restartNumber = 0;
    int32_t block[64];
    int coefficients[64];
    for (int my = 0; my < mcuRows; ++my) {
        for (int mx = 0; mx < mcuColumns; ++mx) {
            const int mcuIndex = my * mcuColumns + mx;
            if (settings.restartInterval > 0 && mcuIndex > 0 && mcuIndex % settings.restartInterval == 0) {
                bits.flush();
                out.push_back(0xFF);
                out.push_back(static_cast<uint8_t>(0xD0 + (restartNumber++ & 7)));
                predictors[0] = predictors[1] = predictors[2] = 0;
            }
            for (int c = 0; c < 3; ++c) {
                const Component& comp = components[c];
                const int sx = hMax / comp.h, sy = vMax / comp.v;
                const int table = c == 0 ? 0 : 1;
                for (int by = 0; by < comp.v; ++by) {
                    for (int bx = 0; bx < comp.h; ++bx) {
                        fetchBlock(planes[c], (mx * comp.h + bx) * 8, (my * comp.v + by) * 8, sx, sy, block);
                        transformBlock(dct, block, quant[table].data(), coefficients);
                        encodeBlock(bits, coefficients, predictors[c], dcCodes[table], acCodes[table]);
                    }
                }
            }
        }
    }
    bits.flush();
    out.push_back(0xFF);
    out.push_back(0xD9);
    return out;
}

}  // namespace sim
