// JpegDecoder, header side: the marker loop and the segment handlers (T.81 annex B).
//
// Every length and count read from the stream is checked before it moves the read position
// or indexes a table: segments shorter than their fixed part, table ids beyond the four
// slots, Huffman tables that over-subscribe their code space or whose symbols lie outside
// the input are all rejected here, so the scan decoder can trust what it is given.
#include "imaging/jpeg_decoder.h"

#include <cstring>
#include <new>

#include "imaging/jpeg_state.h"

const uint8_t kZigzagToNatural[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

JpegDecoder::JpegDecoder() {
    state = new (std::nothrow) State;
    if (state != nullptr) {
        std::memset(state, 0, sizeof(State));
    }
}

JpegDecoder::~JpegDecoder() {
    freeWorkBuffers();
    delete state;
}

void JpegDecoder::freeWorkBuffers() {
    if (state != nullptr) {
        delete[] state->samples;
        state->samples = nullptr;
    }
}

int JpegDecoder::decode() {
    lastError = ErrNone;
    if (input == nullptr || inputLength <= 0) {
        lastError = ErrNoImage;
        return 0;
    }
    if (state == nullptr) {
        lastError = ErrNoMemory;
        return 0;
    }
    if (!parseHeaders()) {
        return 0;
    }
    return decodeScan();
}

int JpegDecoder::parseHeaders() {
    readPosition = 0;
    unsupportedMarker = 0;
    if (readByte() != 0xFF || lastError != ErrNone) {
        lastError = ErrWrongFormat;
        return 0;
    }
    readPosition = 0;
    if (findMarker() != 0xD8) {
        lastError = ErrWrongFormat;
        return 0;
    }
    for (;;) {
        const int marker = findMarker();
        int ok = 1;
        switch (marker) {
        case 0xC0: ok = readFrameHeader(); break;
        case 0xC4: ok = readHuffmanTables(); break;
        case 0xDA: ok = readScanHeader(); break;
        case 0xDB: ok = readQuantTables(); break;
        case 0xDC: ok = readLineCount(); break;
        case 0xDD: ok = readRestartInterval(); break;
        case 0xE0: ok = readApp0(); break;
        case 0xD9: lastError = ErrNone; return 1;
        case -1: return 0;  // ErrEndOfData from the search
        case 0xC1: case 0xC2: case 0xC3: case 0xC5: case 0xC6: case 0xC7:
        case 0xC9: case 0xCA: case 0xCB: case 0xCC: case 0xCD: case 0xCE: case 0xCF:
        case 0xDE: case 0xDF:
            // Frames other than baseline (and the markers only they use): refused by name, so
            // that a caller can tell a progressive picture from a damaged one.
            unsupportedMarker = static_cast<uint8_t>(marker);
            lastError = ErrUnsupported;
            return 0;
        case 0x01:
        case 0xD0: case 0xD1: case 0xD2: case 0xD3: case 0xD4: case 0xD5: case 0xD6: case 0xD7:
            // TEM and restart markers belong inside a scan; between segments the stream is damaged.
            lastError = ErrBadSegment;
            return 0;
        default: ok = skipSegment(); break;
        }
        if (!ok) {
            return 0;
        }
    }
}

namespace {

// Checks a segment length just read: it must be present and cover at least the part of the
// segment the caller reads itself (a shorter one would move the position backwards and
// make the marker loop revisit the same segment for ever).
bool validLength(uint16_t length, int32_t* lastError, int minimum) {
    if (*lastError == ErrEndOfData) {
        return false;
    }
    if (length < minimum) {
        *lastError = ErrBadSegment;
        return false;
    }
    return true;
}

}  // namespace

int JpegDecoder::skipSegment() {
    const int32_t start = readPosition;
    const uint16_t length = readBig16();
    if (!validLength(length, &lastError, 2)) {
        return 0;
    }
    seek(static_cast<int64_t>(start) + length);
    return 1;
}

int JpegDecoder::readApp0() {
    const int32_t start = readPosition;
    const uint16_t length = readBig16();
    if (!validLength(length, &lastError, 7)) {
        return 0;
    }
    char identifier[6] = {};
    for (int i = 0; i < 5; ++i) {
        identifier[i] = static_cast<char>(readByte());
    }
    if (lastError == ErrEndOfData) {
        return 0;
    }
    if (std::strcmp(identifier, "JFXX") == 0) {
        seek(static_cast<int64_t>(start) + length);
        return 1;
    }
    if (std::strcmp(identifier, "JFIF") != 0) {
        lastError = ErrWrongFormat;
        return 0;
    }
    const uint16_t version = readBig16();
    if (lastError == ErrEndOfData) {
        return 0;
    }
    if ((version >> 8) != 1) {
        lastError = ErrWrongFormat;
        return 0;
    }
    if (length < 9) {
        lastError = ErrBadSegment;
        return 0;
    }
    seek(static_cast<int64_t>(start) + length);
    return 1;
}

int JpegDecoder::openSegment(uint16_t& remaining) {
    const uint16_t length = readBig16();
    if (!validLength(length, &lastError, 2)) {
        return 0;
    }
    remaining = static_cast<uint16_t>(length - 2);
    return 1;
}

int JpegDecoder::segmentByte(uint16_t& remaining, uint8_t& value) {
    if (remaining == 0) {
        lastError = ErrBadSegment;
        return 0;
    }
    value = readByte();
    if (lastError == ErrEndOfData) {
        return 0;
    }
    --remaining;
    return 1;
}

int JpegDecoder::readQuantTables() {
    uint16_t remaining = 0;
    if (!openSegment(remaining)) {
        return 0;
    }
    while (remaining != 0) {
        uint8_t tableByte = 0;
        if (!segmentByte(remaining, tableByte)) {
            return 0;
        }
        if (tableByte >= 4) {  // 16-bit tables and ids beyond 3
            lastError = ErrBadSegment;
            return 0;
        }
        uint8_t* table = state->quant[tableByte];
        for (int k = 0; k < 64; ++k) {
            if (!segmentByte(remaining, table[k])) {
                return 0;
            }
        }
        state->quantDefined[tableByte] = true;
    }
    return 1;
}

namespace {

int huffmanSlotOf(uint8_t classAndId) {
    switch (classAndId) {
    case 0x00: return 0;
    case 0x01: return 1;
    case 0x10: return 2;
    case 0x11: return 3;
    default: return -1;
    }
}

}  // namespace

int JpegDecoder::readHuffmanTables() {
    uint16_t remaining = 0;
    if (!openSegment(remaining)) {
        return 0;
    }
    while (remaining != 0) {
        uint8_t classAndId = 0;
        if (!segmentByte(remaining, classAndId)) {
            return 0;
        }
        const int slotIndex = huffmanSlotOf(classAndId);
        if (slotIndex < 0) {
            lastError = ErrBadSegment;
            return 0;
        }
        HuffmanSlot& slot = state->huffman[slotIndex];
        slot.defined = false;
        int32_t code = 0;
        int32_t count = 0;
        for (int bits = 1; bits <= 16; ++bits) {
            uint8_t n = 0;
            if (!segmentByte(remaining, n)) {
                return 0;
            }
            if (n > 0) {
                slot.valptr[bits] = static_cast<int16_t>(count);
                slot.mincode[bits] = static_cast<int16_t>(code);
                code += n;
                // Codes must fit in `bits` bits and leave the all-ones code unused
                // (T.81 C.2); this also keeps every maxcode below the 0xFFFF sentinel.
                if (code >= (1 << bits)) {
                    lastError = ErrBadSegment;
                    return 0;
                }
                slot.maxcode[bits] = static_cast<int16_t>(code - 1);
            } else {
                slot.valptr[bits] = 0;
                slot.mincode[bits] = 0;
                slot.maxcode[bits] = -1;
            }
            code *= 2;
            count += n;
        }
        if (count > 256 || count > remaining) {
            lastError = ErrBadSegment;
            return 0;
        }
        if (static_cast<int64_t>(readPosition) + count > inputLength) {
            lastError = ErrEndOfData;
            return 0;
        }
        slot.symbolOffset = readPosition;
        slot.symbolCount = static_cast<uint16_t>(count);
        slot.defined = true;
        readPosition += count;
        remaining = static_cast<uint16_t>(remaining - count);
    }
    return 1;
}

int JpegDecoder::readFrameHeader() {
    const uint16_t length = readBig16();
    if (lastError == ErrEndOfData) {
        return 0;
    }
    (void)length;  // the component count says how much follows
    if (readByte() != 8) {
        if (lastError == ErrNone) {
            lastError = ErrBadSegment;
        }
        return 0;
    }
    const uint16_t lines = readBig16();
    const uint16_t samples = readBig16();
    const uint8_t components = readByte();
    if (lastError == ErrEndOfData) {
        return 0;
    }
    height = lines;
    width = samples;
    if (components != 1 && components != 3) {
        lastError = ErrBadSegment;
        return 0;
    }
    state->frameComponents = components;
    state->colourMode = components == 1 ? 1 : 2;
    for (int i = 0; i < components; ++i) {
        const uint8_t identifier = readByte();
        const uint8_t sampling = readByte();
        const uint8_t quantId = readByte();
        if (lastError == ErrEndOfData) {
            return 0;
        }
        if (identifier != i + 1 || quantId > 3) {
            lastError = ErrBadSegment;
            return 0;
        }
        if (i == 0) {
            state->h = static_cast<uint8_t>(sampling >> 4);
            state->v = static_cast<uint8_t>(sampling & 0x0F);
        } else {
            state->chromaSampling[i - 1] = sampling;
        }
        state->componentQuant[i] = quantId;
    }
    state->frameSeen = true;
    return 1;
}

int JpegDecoder::readScanHeader() {
    const uint16_t length = readBig16();
    if (lastError == ErrEndOfData) {
        return 0;
    }
    (void)length;
    const uint8_t components = readByte();
    if (lastError == ErrEndOfData) {
        return 0;
    }
    if (components != 1 && components != 3) {
        lastError = ErrBadSegment;
        return 0;
    }
    for (int i = 0; i < components; ++i) {
        const uint8_t selector = readByte();
        const uint8_t tables = readByte();
        if (lastError == ErrEndOfData) {
            return 0;
        }
        // Only DC and AC tables 0 and 1 exist; a higher id would index past the four slots.
        if (selector != i + 1 || (tables >> 4) > 1 || (tables & 0x0F) > 1) {
            lastError = ErrBadSegment;
            return 0;
        }
        state->componentDc[i] = static_cast<uint8_t>(tables >> 4);
        state->componentAc[i] = static_cast<uint8_t>((tables & 0x0F) + 2);
    }
    const uint16_t spectral = readBig16();
    const uint8_t approximation = readByte();
    if (lastError == ErrEndOfData) {
        return 0;
    }
    if (spectral != 0x003F || approximation != 0) {
        lastError = ErrBadSegment;
        return 0;
    }
    state->scanComponents = components;
    state->scanDataOffset = readPosition;
    state->scanSeen = true;
    // Pass over the entropy-coded data to the next marker that is not a restart marker: the
    // marker search, with memchr jumping over the bytes that cannot start one.
    for (;;) {
        const void* next = std::memchr(input + readPosition, 0xFF, static_cast<size_t>(inputLength - readPosition));
        if (next == nullptr || static_cast<const uint8_t*>(next) - input + 1 >= inputLength) {
            readPosition = inputLength;
            lastError = ErrEndOfData;
            return 0;
        }
        const int32_t at = static_cast<int32_t>(static_cast<const uint8_t*>(next) - input);
        const uint8_t code = input[at + 1];
        if (code == 0x00 || (code >= 0xD0 && code <= 0xD7)) {
            readPosition = at + 2;  // stuffed zero or restart marker
        } else if (code == 0xFF) {
            readPosition = at + 1;  // fill byte
        } else {
            readPosition = at;  // the main loop reads this marker next
            return 1;
        }
    }
}

int JpegDecoder::readLineCount() {
    const int32_t start = readPosition;
    const uint16_t length = readBig16();
    if (!validLength(length, &lastError, 2)) {
        return 0;
    }
    if (height != 0) {
        seek(static_cast<int64_t>(start) + length);
        return 1;
    }
    const uint16_t lines = readBig16();
    if (lastError == ErrEndOfData) {
        return 0;
    }
    height = lines;
    return 1;
}

int JpegDecoder::readRestartInterval() {
    const uint16_t length = readBig16();
    if (lastError == ErrEndOfData) {
        return 0;
    }
    (void)length;
    const uint16_t interval = readBig16();
    if (lastError == ErrEndOfData) {
        return 0;
    }
    state->restartInterval = interval;
    return 1;
}
