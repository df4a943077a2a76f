// TiffThumbnailDecoder: TIFF 6.0 baseline structure, uncompressed strips, and the YCbCr
// extension's subsampled data units (TIFF 6.0 section 21).
//
// Every value array and every strip is checked against the input before it is read; range
// checks are written as `n <= length && offset <= length - n`, so untrusted sums cannot wrap.
#include "imaging/tiff_thumbnail_decoder.h"

#include <cmath>

namespace {

enum TiffType : uint16_t { kByte = 1, kShort = 3, kLong = 4, kRational = 5 };
constexpr uint32_t typeBit(uint16_t type) { return 1u << type; }
constexpr uint32_t kSmall = typeBit(kByte) | typeBit(kShort);  // 16-bit fields
constexpr uint32_t kWide = typeBit(kShort) | typeBit(kLong);   // 32-bit fields
constexpr uint32_t kRationals = typeBit(kRational);
constexpr uint32_t kAnyCount = 0xFFFFFFFFu;
constexpr int kMaxIfds = 16;

bool fits(uint64_t offset, uint64_t n, uint64_t length) {
    return n <= length && offset <= length - n;
}

uint32_t typeSize(uint16_t type) {
    return type == kByte ? 1 : type == kShort ? 2 : type == kLong ? 4 : 8;
}

// Clamps a channel to 0..255, rounds it to a float and truncates it; NaN gives 0.
uint8_t channel(long double value) {
    if (value > 255.0L) {
        return 255;
    }
    if (!(value > 0.0L)) {
        return 0;
    }
    return static_cast<uint8_t>(static_cast<float>(value));
}

}  // namespace

struct TiffThumbnailDecoder::Values {
    uint16_t type = 0;
    uint32_t count = 0;
    std::vector<uint32_t> integers;  // BYTE, SHORT, LONG widened
    std::vector<float> reals;        // RATIONAL
};

TiffThumbnailDecoder::TiffThumbnailDecoder() {
    bitsPerPixel = 1;
}

int TiffThumbnailDecoder::decode() {
    lastError = ErrNone;
    if (input == nullptr || inputLength <= 0) {
        lastError = ErrNoImage;
        return 0;
    }
    readPosition = 0;
    if (!readHeader() || !walkIfds()) {
        return 0;
    }
    return convertStrips();
}

int TiffThumbnailDecoder::readHeader() {
    byteOrder = readBig16();
    if ((byteOrder != 0x4949 && byteOrder != 0x4D4D) || readNumber16(byteOrder) != 42) {
        lastError = ErrWrongFormat;
        return 0;
    }
    return 1;
}

int TiffThumbnailDecoder::walkIfds() {
    return walkIfdChain(byteOrder, kMaxIfds,
                        [this](uint16_t tag) { return handleTag(tag); });
}

int TiffThumbnailDecoder::readValues(uint32_t allowedTypes, uint32_t maxCount, Values* values) {
    const int64_t entryEnd = static_cast<int64_t>(readPosition) + 10;
    values->type = readNumber16(byteOrder);
    const bool typeMissing = lastError == ErrEndOfData;
    values->count = readNumber32(byteOrder);
    if (typeMissing || lastError == ErrEndOfData || entryEnd > inputLength) {
        lastError = ErrEndOfData;
        return 0;
    }
    if (values->count == 0 || values->type > 31 || (allowedTypes & typeBit(values->type)) == 0 ||
        values->count > maxCount) {
        lastError = ErrBadSegment;
        return 0;
    }
    const uint64_t bytes = static_cast<uint64_t>(values->count) * typeSize(values->type);
    if (bytes > 4) {
        // Values that do not fit in the entry stand at an offset, inside the input.
        const uint32_t offset = readNumber32(byteOrder);
        if (!fits(offset, bytes, static_cast<uint64_t>(inputLength))) {
            lastError = ErrEndOfData;
            return 0;
        }
        readPosition = static_cast<int32_t>(offset);
    }
    for (uint32_t i = 0; i < values->count; ++i) {
        switch (values->type) {
        case kByte: values->integers.push_back(readByte()); break;
        case kShort: values->integers.push_back(readNumber16(byteOrder)); break;
        case kLong: values->integers.push_back(readNumber32(byteOrder)); break;
        default: {
            const uint32_t numerator = readNumber32(byteOrder);
            const uint32_t denominator = readNumber32(byteOrder);
            values->reals.push_back(
                denominator == 0 ? 0.0f : static_cast<float>(static_cast<double>(numerator) / denominator));
        }
        }
    }
    readPosition = static_cast<int32_t>(entryEnd);
    lastError = ErrNone;
    return 1;
}

int TiffThumbnailDecoder::handleTag(uint16_t tag) {
    Values v;
    const auto read = [&](uint32_t types, uint32_t maxCount) { return readValues(types, maxCount, &v); };
    switch (tag) {
    case 256:
        if (!read(kWide, 1)) return 0;
        width = static_cast<int32_t>(v.integers[0]);
        return 1;
    case 257:
        if (!read(kWide, 1)) return 0;
        height = static_cast<int32_t>(v.integers[0]);
        return 1;
    case 258: {
        if (!read(kSmall, 4)) return 0;
        uint32_t sum = 0;
        for (uint32_t value : v.integers) {
            if (value != 0 && value != v.integers[0]) {
                lastError = ErrBadSegment;
                return 0;
            }
            sum += value;
        }
        if (sum > 0xFFFF) {
            lastError = ErrBadSegment;
            return 0;
        }
        bitsPerPixel = static_cast<uint16_t>(sum);
        return 1;
    }
    case 259:
    case 262:
    case 277:
    case 531: {
        if (!read(kSmall, 1)) return 0;
        const uint16_t value = static_cast<uint16_t>(v.integers[0]);
        (tag == 259 ? compression : tag == 262 ? photometric : tag == 277 ? samplesPerPixel : ycbcrPositioning) =
            value;
        return 1;
    }
    case 273:
    case 279: {
        if (!read(kWide, kAnyCount)) return 0;
        std::vector<uint32_t>& target = tag == 273 ? stripOffsets : stripByteCounts;
        if (target.empty()) {
            target = v.integers;
            stripCount = static_cast<int32_t>(v.count);
        }
        return 1;
    }
    case 274:
    case 284:
        if (!read(kSmall, 1)) return 0;
        if (v.integers[0] != 1) {
            lastError = ErrBadSegment;  // rotated or planar pictures are not supported
            return 0;
        }
        return 1;
    case 278:
        if (!read(kWide, 1)) return 0;
        rowsPerStrip = static_cast<int32_t>(v.integers[0]);
        return 1;
    case 320:
        lastError = ErrUnsupported;  // palette pictures
        return 0;
    case 529:
        if (!read(kRationals, 3)) return 0;
        return storeCoefficients(v);
    case 530:
        if (!read(kSmall, 2)) return 0;
        // Data units are H x V luma samples; 0 or more than 4 would leave them undefined.
        for (uint32_t value : v.integers) {
            if (value == 0 || value > 4) {
                lastError = ErrBadSegment;
                return 0;
            }
        }
        subsamplingH = static_cast<uint16_t>(v.integers[0]);
        if (v.count > 1) {
            subsamplingV = static_cast<uint16_t>(v.integers[1]);
        }
        return 1;
    case 532:
        if (!read(kRationals, 6)) return 0;
        for (size_t i = 0; i < v.reals.size(); ++i) {
            const float r = v.reals[i];
            referenceBlackWhite[i] = r >= 65535.0f ? 65535 : (r > 0.0f ? static_cast<uint16_t>(r) : 0);
        }
        return 1;
    default:
        return skipEntry();
    }
}

int TiffThumbnailDecoder::storeCoefficients(const Values& v) {
    // All three luma coefficients are needed, and LG divides.
    if (v.count != 3 || v.reals[1] == 0.0f) {
        lastError = ErrBadSegment;
        return 0;
    }
    const double lr = v.reals[0], lg = v.reals[1], lb = v.reals[2];
    crToRed = static_cast<float>(2.0 * (1.0 - lr));
    cbToBlue = static_cast<float>(2.0 * (1.0 - lb));
    cbToGreen = static_cast<float>(2.0 * lb * (lb - 1.0) / lg);
    crToGreen = static_cast<float>(2.0 * lr * (lr - 1.0) / lg);
    return 1;
}

int TiffThumbnailDecoder::convertStrips() {
    if (stripOffsets.empty() || stripByteCounts.empty()) {
        lastError = ErrBadSegment;
        return 0;
    }
    const bool grey = photometric == 0 || photometric == 1;
    if ((grey && bitsPerPixel != 8) || (photometric == 2 && bitsPerPixel != 24 && bitsPerPixel != 8) ||
        (photometric == 6 && bitsPerPixel != 24) || (!grey && photometric != 2 && photometric != 6) ||
        compression != 1) {
        lastError = ErrBadSegment;
        return 0;
    }
    if (!allocatePixels()) {
        return 0;
    }
    const int32_t rows = (rowsPerStrip <= 0 || rowsPerStrip > height) ? height : rowsPerStrip;
    if (photometric == 6) {
        const uint64_t units = (static_cast<uint64_t>(width) + subsamplingH - 1) / subsamplingH;
        if (!checkStrips(rows, units * (subsamplingH * subsamplingV + 2u), subsamplingV)) {
            return 0;
        }
        convertYCbCr(rows);
    } else {
        if (!checkStrips(rows, static_cast<uint64_t>(width) * (bitsPerPixel / 8), 1)) {
            return 0;
        }
        convertGreyOrRgb(rows);
    }
    lastError = ErrNone;
    return 1;
}

// Checks that the strips in use cover every row and lie inside the input. A strip holds
// `rows` picture rows, stored as groups of `rowsPerGroup` rows of `bytesPerRowGroup` bytes.
// Only strips that have an offset are used, whatever count StripByteCounts gives.
int TiffThumbnailDecoder::checkStrips(int32_t rows, uint64_t bytesPerRowGroup, int32_t rowsPerGroup) {
    const int64_t strips = stripCount < static_cast<int64_t>(stripOffsets.size()) ? stripCount
                                                                                 : static_cast<int64_t>(stripOffsets.size());
    if (strips * rows < height) {
        lastError = ErrBadSegment;
        return 0;
    }
    for (int64_t s = 0; s < strips && s * rows < height; ++s) {
        const int64_t rowsHere = height - s * rows < rows ? height - s * rows : rows;
        const uint64_t groups = static_cast<uint64_t>((rowsHere + rowsPerGroup - 1) / rowsPerGroup);
        if (!fits(stripOffsets[static_cast<size_t>(s)], groups * bytesPerRowGroup, static_cast<uint64_t>(inputLength))) {
            lastError = ErrEndOfData;
            return 0;
        }
    }
    return 1;
}

void TiffThumbnailDecoder::convertGreyOrRgb(int32_t rows) {
    const bool rgb = bitsPerPixel == 24;
    for (int64_t s = 0; s * rows < height; ++s) {
        const uint8_t* strip = input + stripOffsets[static_cast<size_t>(s)];
        for (int32_t r = 0; r < rows && s * rows + r < height; ++r) {
            uint8_t* out = pixels + (static_cast<size_t>(s * rows + r) * width) * 3;
            if (rgb) {
                const uint8_t* in = strip + static_cast<size_t>(r) * width * 3;
                for (int32_t c = 0; c < width * 3; ++c) {
                    out[c] = in[c];
                }
                continue;
            }
            const uint8_t* in = strip + static_cast<size_t>(r) * width;
            for (int32_t c = 0; c < width; ++c) {
                const uint8_t grey = photometric == 1 ? in[c] : static_cast<uint8_t>(255 - in[c]);
                out[c * 3] = out[c * 3 + 1] = out[c * 3 + 2] = grey;
            }
        }
    }
}

void TiffThumbnailDecoder::convertYCbCr(int32_t rows) {
    const int32_t h = subsamplingH, v = subsamplingV;
    const int32_t unitBytes = h * v + 2;
    const int64_t unitsPerRow = (static_cast<int64_t>(width) + h - 1) / h;
    const int32_t unitRows = (rows + v - 1) / v;
    for (int64_t s = 0; s * rows < height; ++s) {
        const uint8_t* strip = input + stripOffsets[static_cast<size_t>(s)];
        for (int32_t u = 0; u < unitRows; ++u) {
            const int64_t top = s * rows + static_cast<int64_t>(u) * v;
            if (top >= height || u * v >= rows) {
                break;
            }
            for (int64_t k = 0; k < unitsPerRow; ++k) {
                const uint8_t* unit = strip + unitBytes * (u * unitsPerRow + k);
                const long double cb = unit[h * v] - 128;
                const long double cr = unit[h * v + 1] - 128;
                for (int32_t q = 0; q < v && top + q < height; ++q) {
                    for (int32_t x = 0; x < h && k * h + x < width; ++x) {
                        const long double y = unit[q * h + x];
                        uint8_t* out = pixels + ((top + q) * width + k * h + x) * 3;
                        out[0] = channel(crToRed * cr + y);
                        out[1] = channel(cbToGreen * cb + crToGreen * cr + y);
                        out[2] = channel(cbToBlue * cb + y);
                    }
                }
            }
        }
    }
}
