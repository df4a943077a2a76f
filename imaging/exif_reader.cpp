// ExifReader: JPEG marker walk to SOF0, the EXIF APP1 segment and its TIFF structure
// (Exif 2.1 section 4.6, TIFF 6.0 section 2).
//
// While the TIFF data is walked, the input is narrowed to it: offsets inside EXIF are
// relative to the TIFF header, and every read or offset check then stays inside the
// segment - limited to the bytes actually present when the segment claims to be longer.
// Range checks are written as `n <= length && offset <= length - n` so that no sum of
// untrusted values can wrap.
#include "imaging/exif_reader.h"

#include <cstring>

namespace {

constexpr uint16_t kLittleEndian = 0x4949;
constexpr uint16_t kBigEndian = 0x4D4D;
// Bounds on what a crafted block can make the walk do: IFD chains that loop, and the same
// Exif sub-IFD pointed to again and again.
constexpr int kMaxIfds = 16;
constexpr int kMaxExifWalks = 8;
// A complete three-component SOF0 segment: what the end of an information block holds.
constexpr int32_t kFrameHeaderBytes = 19;

enum TiffType : uint16_t { kAscii = 2, kShort = 3, kLong = 4, kRational = 5, kUndefined = 7, kSRational = 10 };

bool fits(uint32_t offset, uint32_t n, uint32_t length) {
    return n <= length && offset <= length - n;
}

}  // namespace

struct ExifReader::TagValue {
    uint16_t type = 0;
    uint32_t integer = 0;
    float real = 0.0f;
    std::string text;
};

int ExifReader::readInfo() {
    lastError = ErrNone;
    if (input == nullptr || inputLength <= 0) {
        lastError = ErrNoImage;
        return 0;
    }
    readPosition = 0;
    if (readByte() != 0xFF || lastError != ErrNone) {
        lastError = ErrWrongFormat;
        return 0;
    }
    readPosition = 0;
    // Each pass consumes at least one byte (segments never move the position backwards).
    for (;;) {
        const int marker = findMarker();
        if (marker < 0) {
            lastError = ErrEndOfData;
            return 0;
        }
        if (marker == 0xD8) {
            continue;
        }
        if (marker == 0xC0) {
            if (!readFrameSize()) {
                return 0;
            }
            if (formatWord != kExifFound) {
                lastError = ErrWrongFormat;
                return 0;
            }
            return 1;
        }
        if (marker == 0xE1) {
            if (!readApp1()) {
                return 0;
            }
            continue;
        }
        const int32_t start = readPosition;
        const uint16_t length = readBig16();
        if (lastError == ErrEndOfData) {
            return 0;
        }
        if (length < 2) {
            lastError = ErrBadSegment;
            return 0;
        }
        seek(static_cast<int64_t>(start) + length);
    }
}

int ExifReader::readFrameSize() {
    readBig16();  // length
    readByte();   // precision
    const uint16_t lines = readBig16();
    const bool linesMissing = lastError == ErrEndOfData;
    const uint16_t samples = readBig16();
    if (linesMissing || lastError == ErrEndOfData) {
        lastError = ErrEndOfData;
        return 0;
    }
    height = info.height = lines;
    width = info.width = samples;
    return 1;
}

int ExifReader::readApp1() {
    const int32_t start = readPosition;
    const uint16_t length = readBig16();
    char identifier[6] = {};
    for (int i = 0; i < 5; ++i) {
        identifier[i] = static_cast<char>(readByte());
    }
    if (lastError == ErrEndOfData) {
        return 0;
    }
    if (length < 2) {
        lastError = ErrBadSegment;
        return 0;
    }
    const int32_t whole = inputLength;
    const int64_t segmentEnd = static_cast<int64_t>(start) + length;
    // A segment claiming more bytes than the block holds: the block ends with the SOF0, so
    // continue there - but never move back over what has been read.
    const auto continueAfter = [&](int64_t end, bool atEndToo) {
        if (end > whole || (atEndToo && end == whole)) {
            end = whole - kFrameHeaderBytes;
            if (end < readPosition) {
                end = readPosition;
            }
        }
        seek(end);
    };
    if (std::strcmp(identifier, "Exif") != 0) {
        continueAfter(segmentEnd, true);
        return 1;
    }
    // The TIFF header follows the identifier's second zero byte.
    const int32_t resume = readPosition;
    const int32_t tiffStart = resume + 1 < whole ? resume + 1 : whole;
    int64_t tiffLength = static_cast<int64_t>(length) - 8;
    if (tiffLength > whole - tiffStart) {
        tiffLength = whole - tiffStart;
    }
    if (tiffLength < 0) {
        tiffLength = 0;
    }
    const uint8_t* wholeInput = input;
    input = wholeInput + tiffStart;
    inputLength = static_cast<int32_t>(tiffLength);
    readPosition = 0;
    formatWord = kExifFound;
    const int ok = readTiffData();
    const int32_t error = lastError;
    input = wholeInput;
    inputLength = whole;
    readPosition = resume;
    lastError = error;
    if (!ok) {
        return 0;
    }
    continueAfter(segmentEnd, false);
    return 1;
}

int ExifReader::readTiffData() {
    info.byteOrder = readBig16();
    if (info.byteOrder != kLittleEndian && info.byteOrder != kBigEndian) {
        lastError = ErrWrongFormat;
        return 0;
    }
    if (readNumber16(info.byteOrder) != 42) {
        lastError = ErrWrongFormat;
        return 0;
    }
    return walkIfds();
}

int ExifReader::walkIfds() {
    return walkIfdChain(info.byteOrder, kMaxIfds,
                        [this](uint16_t tag) { return handleIfdTag(tag); });
}

int ExifReader::handleIfdTag(uint16_t tag) {
    TagValue value;
    switch (tag) {
    case 271:
    case 272:
        if (!readTagValue(&value)) {
            return 0;
        }
        // A text field takes only an ASCII value; any other type leaves it as it was.
        if (value.type == kAscii) {
            (tag == 271 ? info.make : info.model) = value.text;
        }
        return 1;
    case 0x8769:
        return walkExifIfd();
    case 259:
    case 513:
    case 514:
        return readTagValue(&value);
    default:
        return skipEntry();
    }
}

int ExifReader::walkExifIfd() {
    if (++exifWalks > kMaxExifWalks) {
        lastError = ErrBadSegment;
        return 0;
    }
    if (static_cast<int64_t>(readPosition) + 10 > inputLength) {
        lastError = ErrEndOfData;
        return 0;
    }
    readPosition += 6;  // type and count
    uint32_t offset = 0;
    if (!readIfdOffset(info.byteOrder, &offset)) {
        return 0;
    }
    const int32_t back = readPosition;
    seek(offset);
    const auto handler = [this](uint16_t tag) { return handleExifTag(tag); };
    if (!walkIfdEntries(info.byteOrder, handler)) {
        return 0;
    }
    readPosition = back;
    lastError = ErrNone;
    return 1;
}

namespace {

// UNDEFINED counts as a number too: its four value bytes read as one big-endian 32-bit value,
// whatever the block's byte order (some writers store CompressedBitsPerPixel that way).
bool isNumber(uint16_t type) {
    return type == kShort || type == kLong || type == kRational || type == kSRational || type == kUndefined;
}

float numberOf(uint16_t type, uint32_t integer, float real) {
    return (type == kRational || type == kSRational) ? real : static_cast<float>(integer);
}

}  // namespace

int ExifReader::handleExifTag(uint16_t tag) {
    if (tag != 0x829A && tag != 0x829D && tag != 0x9000 && tag != 0x9003 && tag != 0x9102 && tag != 0x9204) {
        return skipEntry();
    }
    TagValue v;
    if (!readTagValue(&v)) {
        return 0;
    }
    // A value whose type does not suit its field is read (the entry is consumed) and ignored.
    switch (tag) {
    case 0x829A:
        if (isNumber(v.type)) info.exposureTime = numberOf(v.type, v.integer, v.real);
        break;
    case 0x829D:
        if (isNumber(v.type)) info.fNumber = numberOf(v.type, v.integer, v.real);
        break;
    case 0x9204:
        if (isNumber(v.type)) info.exposureBias = numberOf(v.type, v.integer, v.real);
        break;
    case 0x9003:
        if (v.type == kAscii) info.dateTimeOriginal = v.text;
        break;
    case 0x9102:
        if (isNumber(v.type)) {
            const float f = numberOf(v.type, v.integer, v.real);
            // Truncation toward zero; values outside 0..65535 (which no camera writes) are
            // held at the ends instead of being converted with undefined results.
            info.qualityCode = f >= 65535.0f ? 65535 : (f > 0.0f ? static_cast<uint16_t>(f) : 0);
        }
        break;
    case 0x9000:
        if (v.type == kUndefined) {
            const uint16_t major = static_cast<uint16_t>(v.integer >> 16);
            if (major != 0x3031 && major != 0x3032) {  // "01" or "02"
                lastError = ErrBadSegment;
                return 0;
            }
        }
        break;
    }
    return 1;
}

int ExifReader::readTagValue(TagValue* value) {
    const uint16_t order = info.byteOrder;
    const int64_t entryEnd = static_cast<int64_t>(readPosition) + 10;
    value->type = readNumber16(order);
    const bool typeMissing = lastError == ErrEndOfData;
    const uint32_t count = readNumber32(order);
    if (typeMissing || lastError == ErrEndOfData) {
        lastError = ErrEndOfData;
        return 0;
    }
    if (count == 0) {
        lastError = ErrBadSegment;
        return 0;
    }
    int ok = 1;
    switch (value->type) {
    case kAscii:
        ok = readText(count, value);
        break;
    case kShort:
        value->integer = readNumber16(order);
        readNumber16(order);
        break;
    case kLong:
        value->integer = readNumber32(order);
        break;
    case kRational:
    case kSRational:
        ok = readRational(value->type == kSRational, value);
        break;
    case kUndefined:
        value->integer = static_cast<uint32_t>(readBig16()) << 16;
        value->integer |= readBig16();
        break;
    default:
        lastError = ErrBadSegment;
        return 0;
    }
    if (!ok) {
        return 0;
    }
    if (lastError == ErrEndOfData || entryEnd > inputLength) {
        lastError = ErrEndOfData;
        return 0;
    }
    readPosition = static_cast<int32_t>(entryEnd);
    lastError = ErrNone;
    return 1;
}

int ExifReader::readText(uint32_t count, TagValue* value) {
    const uint32_t length = static_cast<uint32_t>(inputLength);
    uint32_t offset = static_cast<uint32_t>(readPosition);
    if (count > 4) {
        // Longer texts stand elsewhere; shorter ones inside the entry (TIFF 6.0 section 2).
        offset = readNumber32(info.byteOrder);
        if (lastError == ErrEndOfData || offset >= length) {
            lastError = ErrEndOfData;
            return 0;
        }
    }
    // Up to the terminating zero, the count, or the end of the TIFF data, whichever is first.
    const uint32_t available = length - offset < count ? length - offset : count;
    const char* text = reinterpret_cast<const char*>(input + offset);
    const void* zero = std::memchr(text, 0, available);
    value->text.assign(text, zero != nullptr ? static_cast<const char*>(zero) - text : available);
    lastError = ErrNone;
    return 1;
}

int ExifReader::readRational(bool isSigned, TagValue* value) {
    const uint32_t offset = readNumber32(info.byteOrder);
    if (lastError == ErrEndOfData || !fits(offset, 8, static_cast<uint32_t>(inputLength))) {
        lastError = ErrEndOfData;
        return 0;
    }
    const int32_t back = readPosition;
    readPosition = static_cast<int32_t>(offset);
    const uint32_t numerator = readNumber32(info.byteOrder);
    const uint32_t denominator = readNumber32(info.byteOrder);
    readPosition = back;
    if (denominator == 0) {
        value->real = 0.0f;
    } else if (isSigned) {
        value->real = static_cast<float>(static_cast<double>(static_cast<int32_t>(numerator)) /
                                         static_cast<int32_t>(denominator));
    } else {
        value->real = static_cast<float>(static_cast<double>(numerator) / denominator);
    }
    lastError = ErrNone;
    return 1;
}
