// DibImage: input attachment, the byte-reading rule shared by all decoders, the TIFF IFD walk,
// the pixel buffer and its conversion to 24-bit DIB bits.
#include "imaging/dib_image.h"

#include <cstddef>
#include <cstdint>
#include <new>

namespace {

// Largest pixel buffer we agree to allocate. A 16-bit JPEG header can ask for 12 GB; a camera
// picture needs 3 MB. Anything above this is refused as an allocation failure before it can
// exhaust the address space of the 32-bit host process.
constexpr uint64_t kMaxPixelBytes = 512ull * 1024 * 1024;

}  // namespace

const char* imageErrorName(int32_t error) {
    switch (error) {
#define DORVEX_IMAGE_ERROR_NAME(name, code, text) \
    case name: return #name;
        DORVEX_IMAGE_ERRORS(DORVEX_IMAGE_ERROR_NAME)
#undef DORVEX_IMAGE_ERROR_NAME
    default: return "ErrUnknown";
    }
}

const char* imageErrorText(int32_t error) {
    switch (error) {
#define DORVEX_IMAGE_ERROR_TEXT(name, code, text) \
    case name: return text;
        DORVEX_IMAGE_ERRORS(DORVEX_IMAGE_ERROR_TEXT)
#undef DORVEX_IMAGE_ERROR_TEXT
    default: return "unknown error";
    }
}

DibImage::~DibImage() {
    delete[] pixels;
}

int DibImage::attach(const uint8_t* data, int32_t length) {
    lastError = ErrNone;
    if (input != nullptr || data == nullptr || length <= 0) {
        lastError = ErrBadArgument;
        return 0;
    }
    input = data;
    inputLength = length;
    readPosition = 0;
    return 1;
}

int DibImage::allocatePixels() {
    lastError = ErrNone;
    if (pixels != nullptr || width <= 0 || height <= 0) {
        lastError = ErrNoImage;
        return 0;
    }
    const uint64_t bytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 3u;
    if (bytes > kMaxPixelBytes || bytes > SIZE_MAX) {
        lastError = ErrNoMemory;
        return 0;
    }
    pixels = new (std::nothrow) uint8_t[static_cast<size_t>(bytes)];
    if (pixels == nullptr) {
        lastError = ErrNoMemory;
        return 0;
    }
    return 1;
}

uint8_t* DibImage::makeDibBits(uint32_t* size) {
    lastError = ErrNone;
    if (pixels == nullptr || width <= 0 || height <= 0) {
        lastError = ErrNoImage;
        return nullptr;
    }
    const uint32_t stride = dibStride(width);
    const uint64_t total = static_cast<uint64_t>(stride) * static_cast<uint64_t>(height);
    if (size != nullptr) {
        *size = static_cast<uint32_t>(total);
    }
    if (total > UINT32_MAX || total > SIZE_MAX) {
        lastError = ErrNoMemory;
        return nullptr;
    }
    uint8_t* bits = new (std::nothrow) uint8_t[static_cast<size_t>(total)];
    if (bits == nullptr) {
        lastError = ErrNoMemory;
        return nullptr;
    }
    const size_t rowBytes = static_cast<size_t>(width) * 3u;
    for (int32_t i = 0; i < height; ++i) {
        const uint8_t* source = pixels + static_cast<size_t>(height - 1 - i) * rowBytes;
        uint8_t* target = bits + static_cast<size_t>(i) * stride;
        for (int32_t j = 0; j < width; ++j) {
            target[0] = source[2];
            target[1] = source[1];
            target[2] = source[0];
            source += 3;
            target += 3;
        }
        // Padding is zeroed so that the bits handed on never carry stale heap bytes.
        for (size_t p = rowBytes; p < stride; ++p) {
            bits[static_cast<size_t>(i) * stride + p] = 0;
        }
    }
    return bits;
}

uint8_t DibImage::readByte() {
    lastError = ErrNone;
    if (input != nullptr && readPosition >= 0 && readPosition < inputLength) {
        return input[readPosition++];
    }
    lastError = ErrEndOfData;
    return 0xFF;
}

uint16_t DibImage::readBig16() {
    const uint8_t high = readByte();
    const bool highMissing = lastError == ErrEndOfData;
    const uint8_t low = readByte();
    if (highMissing || lastError == ErrEndOfData) {
        lastError = ErrEndOfData;
        return 0xFFFF;
    }
    return static_cast<uint16_t>((high << 8) | low);
}

uint16_t DibImage::readNumber16(uint16_t byteOrder) {
    const uint8_t first = readByte();
    const bool firstMissing = lastError == ErrEndOfData;
    const uint8_t second = readByte();
    if (firstMissing || lastError == ErrEndOfData) {
        lastError = ErrEndOfData;
        return 0xFFFF;
    }
    if (byteOrder == 0x4949) {
        return static_cast<uint16_t>((second << 8) | first);
    }
    return static_cast<uint16_t>((first << 8) | second);
}

uint32_t DibImage::readNumber32(uint16_t byteOrder) {
    const uint16_t first = readNumber16(byteOrder);
    const bool firstMissing = lastError == ErrEndOfData;
    const uint16_t second = readNumber16(byteOrder);
    if (firstMissing || lastError == ErrEndOfData) {
        lastError = ErrEndOfData;
        return 0xFFFFFFFFu;
    }
    if (byteOrder == 0x4949) {
        return (static_cast<uint32_t>(second) << 16) | first;
    }
    return (static_cast<uint32_t>(first) << 16) | second;
}

int DibImage::findMarker() {
    // Every pass of the loop consumes at least one byte net, so it ends with the input.
    for (;;) {
        const uint8_t byte = readByte();
        if (lastError == ErrEndOfData) {
            return -1;
        }
        if (byte != 0xFF) {
            continue;
        }
        const uint8_t code = readByte();
        if (lastError == ErrEndOfData) {
            return -1;
        }
        if (code == 0x00) {
            continue;  // stuffed zero inside entropy-coded data
        }
        if (code == 0xFF) {
            --readPosition;  // fill byte: the second 0xFF may start the marker
            continue;
        }
        return code;
    }
}

void DibImage::seek(int64_t position) {
    if (position < 0) {
        position = 0;
    }
    if (position > inputLength) {
        position = inputLength;
    }
    readPosition = static_cast<int32_t>(position);
}

int DibImage::walkIfdChain(uint16_t byteOrder, int maxIfds, const IfdTagHandler& handler) {
    uint32_t offset = 0;
    if (!readIfdOffset(byteOrder, &offset)) {
        return 0;
    }
    seek(offset);
    for (int ifds = 0; readPosition != 0; ++ifds) {
        if (ifds == maxIfds) {
            lastError = ErrBadSegment;  // a chain of IFDs that loops
            return 0;
        }
        if (!walkIfdEntries(byteOrder, handler) || !readIfdOffset(byteOrder, &offset)) {
            return 0;
        }
        seek(offset);
    }
    lastError = ErrNone;
    return 1;
}

int DibImage::walkIfdEntries(uint16_t byteOrder, const IfdTagHandler& handler) {
    const uint16_t entries = readNumber16(byteOrder);
    if (lastError == ErrEndOfData) {
        return 0;
    }
    for (uint32_t i = 0; i < entries; ++i) {
        const uint16_t tag = readNumber16(byteOrder);
        if (lastError == ErrEndOfData || !handler(tag)) {
            if (lastError == ErrNone) {
                lastError = ErrBadSegment;
            }
            return 0;
        }
    }
    return 1;
}

int DibImage::readIfdOffset(uint16_t byteOrder, uint32_t* offset) {
    *offset = readNumber32(byteOrder);
    if (lastError == ErrEndOfData || *offset > static_cast<uint32_t>(inputLength)) {
        lastError = ErrEndOfData;
        return 0;
    }
    return 1;
}

int DibImage::skipEntry() {
    if (static_cast<int64_t>(readPosition) + 10 >= inputLength) {
        lastError = ErrEndOfData;
        return 0;
    }
    readPosition += 10;
    lastError = ErrNone;
    return 1;
}
