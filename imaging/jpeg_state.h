// Internal state of JpegDecoder: tables, component set-up and the MCU work buffers.
#pragma once

#include <cstdint>

#include "imaging/jpeg_decoder.h"

// Zig-zag position k -> natural index row * 8 + column (ITU T.81 figure A.6).
extern const uint8_t kZigzagToNatural[64];

// One Huffman table, decoded the canonical way (T.81 F.2.2.3): per code length L the smallest
// and largest code and the index of the first symbol. The symbols themselves stay in the input.
constexpr int kFastBits = 11;

struct HuffmanSlot {
    int16_t valptr[17];    // indexed by L = 1..16
    int16_t mincode[17];
    int16_t maxcode[17];   // -1 when no code has length L
    int32_t symbolOffset;  // offset of the symbol values within the input
    uint16_t symbolCount;
    bool defined;
    // Lookahead for codes of up to kFastBits bits, built from the same search before a scan:
    // (length << 8) | symbol, 0 when the code is longer.
    uint16_t fast[1 << kFastBits];
    // For AC tables: code and magnitude bits together within kFastBits bits, decoded in one
    // step: (value << 16) | (run << 8) | total bits; 0 when not possible.
    int32_t fastAc[1 << kFastBits];
};

struct JpegDecoder::State {
    uint8_t quant[4][64];  // zig-zag order, as stored in DQT
    bool quantDefined[4];
    HuffmanSlot huffman[4];  // 0, 1: DC tables 0, 1; 2, 3: AC tables 0, 1
    uint8_t componentQuant[3];
    uint8_t componentDc[3];
    uint8_t componentAc[3];
    uint8_t chromaSampling[2];  // sampling bytes of components 2 and 3
    uint8_t h;
    uint8_t v;
    uint8_t frameComponents;
    uint8_t scanComponents;
    uint16_t restartInterval;
    uint16_t colourMode;  // 1 grey, 2 YCbCr
    int32_t scanDataOffset;
    bool frameSeen;
    bool scanSeen;
    int16_t* samples;  // blocks-per-MCU x 64, natural order, then the IDCT output
};
