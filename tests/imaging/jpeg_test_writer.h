// A small baseline JPEG writer for tests: builds streams segment by segment from quantised
// coefficients, so that tests can make exactly the stream a case needs (restart markers,
// odd sizes, broken segments). Its Huffman tables use fixed-length codes (4-bit DC size
// categories, 8-bit AC run/size symbols), which keeps the encoder trivial.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "tools/sim/jpeg_bit_writer.h"

namespace testjpeg {

using Block = std::array<int16_t, 64>;  // quantised coefficients in zig-zag order

inline Block dcBlock(int16_t dc) {
    Block b{};
    b[0] = dc;
    return b;
}

using jpegbits::BitWriter;

class Writer {
public:
    std::vector<uint8_t> bytes;

    void marker(uint8_t code) { bytes.insert(bytes.end(), {0xFF, code}); }
    void segment(uint8_t code, const std::vector<uint8_t>& payload) {
        marker(code);
        const size_t length = payload.size() + 2;
        bytes.push_back(static_cast<uint8_t>(length >> 8));
        bytes.push_back(static_cast<uint8_t>(length & 0xFF));
        bytes.insert(bytes.end(), payload.begin(), payload.end());
    }
    void soi() { marker(0xD8); }
    void eoi() { marker(0xD9); }
    void app0(const char* identifier = "JFIF", uint8_t major = 1) {
        std::vector<uint8_t> p(identifier, identifier + 5);
        p.insert(p.end(), {major, 1, 0, 0, 1, 0, 1, 0, 0});
        segment(0xE0, p);
    }
    void dqt(uint8_t tableByte, uint8_t value = 1) {
        std::vector<uint8_t> p{tableByte};
        p.insert(p.end(), 64, value);
        segment(0xDB, p);
    }
    // Table class 0 (DC) or 1 (AC), id 0 or 1.
    void dht(uint8_t classAndId) {
        std::vector<uint8_t> p{classAndId};
        std::array<uint8_t, 16> counts{};
        if ((classAndId >> 4) == 0) {
            counts[3] = 12;  // 12 codes of 4 bits: size categories 0..11
            p.insert(p.end(), counts.begin(), counts.end());
            for (uint8_t s = 0; s < 12; ++s) {
                p.push_back(s);
            }
        } else {
            const std::vector<uint8_t> symbols = acSymbols();
            counts[7] = static_cast<uint8_t>(symbols.size());  // all 8-bit codes
            p.insert(p.end(), counts.begin(), counts.end());
            p.insert(p.end(), symbols.begin(), symbols.end());
        }
        segment(0xC4, p);
    }
    void tables() {
        dqt(0);
        dqt(1);
        dht(0x00);
        dht(0x10);
        dht(0x01);
        dht(0x11);
    }
    void sof0(uint16_t width, uint16_t height, int components, uint8_t lumaSampling = 0x11,
              uint8_t chromaSampling = 0x11) {
        std::vector<uint8_t> p{8, static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height),
                               static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width),
                               static_cast<uint8_t>(components)};
        for (int i = 0; i < components; ++i) {
            p.insert(p.end(), {static_cast<uint8_t>(i + 1), i == 0 ? lumaSampling : chromaSampling,
                               static_cast<uint8_t>(i == 0 ? 0 : 1)});
        }
        segment(0xC0, p);
    }
    // SOI, the tables, a frame and a scan of the same components: how most test streams open.
    void start(uint16_t width, uint16_t height, int components, uint8_t lumaSampling = 0x11,
               uint8_t chromaSampling = 0x11) {
        soi();
        tables();
        sof0(width, height, components, lumaSampling, chromaSampling);
        sos(components);
    }
    void dri(uint16_t interval) {
        segment(0xDD, {static_cast<uint8_t>(interval >> 8), static_cast<uint8_t>(interval)});
    }
    void sos(int components) {
        std::vector<uint8_t> p{static_cast<uint8_t>(components)};
        for (int i = 0; i < components; ++i) {
            p.insert(p.end(), {static_cast<uint8_t>(i + 1), static_cast<uint8_t>(i == 0 ? 0x00 : 0x11)});
        }
        p.insert(p.end(), {0, 63, 0});
        segment(0xDA, p);
    }

    // Entropy-codes MCUs; `mcus` holds each MCU's blocks in decoding order, `components`
    // says which component each block position belongs to. Restart markers every `interval`
    // MCUs (none after the last).
    void scan(const std::vector<std::vector<Block>>& mcus, const std::vector<int>& componentOfBlock,
              int interval = 0) {
        BitWriter bits(bytes);
        int16_t predictor[3] = {0, 0, 0};
        int restart = 0;
        for (size_t m = 0; m < mcus.size(); ++m) {
            for (size_t n = 0; n < mcus[m].size(); ++n) {
                encodeBlock(bits, mcus[m][n], &predictor[componentOfBlock[n]]);
            }
            if (interval != 0 && (m + 1) % interval == 0 && m + 1 != mcus.size()) {
                bits.flush();
                marker(static_cast<uint8_t>(0xD0 + (restart++ & 7)));
                predictor[0] = predictor[1] = predictor[2] = 0;
            }
        }
        bits.flush();
    }

    static std::vector<uint8_t> acSymbols() {
        std::vector<uint8_t> s{0x00, 0xF0};
        for (int run = 0; run < 16; ++run) {
            for (int size = 1; size <= 10; ++size) {
                s.push_back(static_cast<uint8_t>(run << 4 | size));
            }
        }
        return s;
    }

private:
    static int category(int value) {
        int magnitude = value < 0 ? -value : value;
        int bits = 0;
        while (magnitude != 0) {
            ++bits;
            magnitude >>= 1;
        }
        return bits;
    }
    static uint32_t magnitudeBits(int value, int size) {
        return static_cast<uint32_t>(value < 0 ? value + (1 << size) - 1 : value);
    }
    static int acCode(uint8_t symbol) {
        const std::vector<uint8_t> symbols = acSymbols();
        for (size_t i = 0; i < symbols.size(); ++i) {
            if (symbols[i] == symbol) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    void encodeBlock(BitWriter& bits, const Block& block, int16_t* predictor) {
        const int diff = block[0] - *predictor;
        *predictor = block[0];
        const int dcSize = category(diff);
        bits.put(static_cast<uint32_t>(dcSize), 4);
        bits.put(magnitudeBits(diff, dcSize), dcSize);
        int run = 0;
        for (int k = 1; k < 64; ++k) {
            if (block[k] == 0) {
                ++run;
                continue;
            }
            while (run > 15) {
                bits.put(static_cast<uint32_t>(acCode(0xF0)), 8);
                run -= 16;
            }
            const int size = category(block[k]);
            bits.put(static_cast<uint32_t>(acCode(static_cast<uint8_t>(run << 4 | size))), 8);
            bits.put(magnitudeBits(block[k], size), size);
            run = 0;
        }
        if (run > 0) {
            bits.put(static_cast<uint32_t>(acCode(0x00)), 8);
        }
    }
};

// A complete greyscale stream of one 8 x 8 block per MCU.
inline std::vector<uint8_t> greyStream(uint16_t width, uint16_t height, const std::vector<Block>& blocks,
                                       int interval = 0) {
    Writer w;
    w.soi();
    w.app0();
    w.tables();
    if (interval) {
        w.dri(static_cast<uint16_t>(interval));
    }
    w.sof0(width, height, 1);
    w.sos(1);
    std::vector<std::vector<Block>> mcus;
    for (const Block& b : blocks) {
        mcus.push_back({b});
    }
    w.scan(mcus, {0}, interval);
    w.eoi();
    return w.bytes;
}

}  // namespace testjpeg
