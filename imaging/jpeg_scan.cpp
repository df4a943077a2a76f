// JpegDecoder, scan side: entropy decoding (T.81 F.2.2), dequantisation, inverse DCT and the
// placement of each MCU's pixels.
//
// The bit reader keeps up to 64 bits ahead in an accumulator instead of one byte, and the
// Huffman search is preceded by a 9-bit lookahead built by running that same search on
// every 9-bit prefix; both are pure speed-ups. To keep errors exactly where a byte-by-byte
// reader would raise them, the accumulator counts its real bits separately: past a marker
// or the end of the input it is padded with zeros, and taking a padding bit fails with the
// reason the fill stopped for (ErrBadData at a marker, ErrEndOfData at the end).
#include <cstring>
#include <new>

#include "imaging/jpeg_colour.h"
#include "imaging/jpeg_decoder.h"
#include "imaging/jpeg_idct.h"
#include "imaging/jpeg_state.h"

namespace {

class BitReader {
public:
    BitReader(const uint8_t* data, int32_t length, int32_t position)
        : data_(data), length_(length), position_(position) {}

    void reset() {
        accumulator_ = 0;
        count_ = 0;
        realBits_ = 0;
        stopped_ = false;
    }

    // Tops the accumulator up to at least 57 bits (real or padding).
    void fill() {
        while (count_ <= 56) {
            uint32_t byte = 0;
            if (!stopped_) {
                if (position_ >= length_) {
                    stop(ErrEndOfData);
                } else if (data_[position_] != 0xFF) {
                    byte = data_[position_++];
                    realBits_ += 8;
                } else if (position_ + 1 < length_ && data_[position_ + 1] == 0x00) {
                    byte = 0xFF;  // stuffed zero: 0xFF is data
                    position_ += 2;
                    realBits_ += 8;
                } else {
                    stop(ErrBadData);  // a marker, or 0xFF as the last byte
                }
            }
            accumulator_ |= static_cast<uint64_t>(byte) << (56 - count_);
            count_ += 8;
        }
    }

    uint32_t count() const { return static_cast<uint32_t>(count_); }
    uint32_t peek(int bits) const { return static_cast<uint32_t>(accumulator_ >> (64 - bits)); }

    // Takes `bits` bits; false (with the reason in *error) when they include padding.
    bool consume(int bits, int32_t* error) {
        accumulator_ <<= bits;
        count_ -= bits;
        realBits_ -= bits;
        if (realBits_ < 0) {
            *error = stopReason_;
            return false;
        }
        return true;
    }

    // True when fewer than `bits` real bits are left: running out explains a failed search.
    bool shortOf(int bits) const { return realBits_ < bits; }
    int32_t stopReason() const { return stopReason_; }

    // At a restart boundary the rest of the current byte is discarded and the next two bytes
    // must be the expected marker. Whole data bytes still buffered mean it is not there.
    bool takeRestartMarker(uint16_t expected) {
        if (realBits_ >= 8) {
            return false;
        }
        if (position_ + 1 >= length_ || data_[position_] != 0xFF || data_[position_ + 1] != (expected & 0xFF)) {
            return false;
        }
        position_ += 2;
        reset();
        return true;
    }

private:
    void stop(int32_t reason) {
        stopped_ = true;
        stopReason_ = reason;
    }

    const uint8_t* data_;
    int32_t length_;
    int32_t position_;
    uint64_t accumulator_ = 0;
    int count_ = 0;
    int32_t realBits_ = 0;
    bool stopped_ = false;
    int32_t stopReason_ = ErrNone;
};

// The canonical search over code lengths 1..16, as T.81 F.2.2.3 decodes a symbol, applied to
// a code of `available` bits held left-aligned in `bits` (bit 31 first). Returns the index of
// the symbol (its offset from the first symbol) and the length, or -1 with no code.
int searchCode(const HuffmanSlot& slot, uint32_t bits, int available, int* length) {
    for (int l = 1; l <= available; ++l) {
        const uint32_t code = bits >> (32 - l);
        if (slot.maxcode[l] != -1 && code <= static_cast<uint16_t>(slot.maxcode[l])) {
            *length = l;
            // Codes of 16 bits exceed the signed range: mincode is compared as the unsigned code it is.
            return slot.valptr[l] + static_cast<int32_t>(code) - static_cast<uint16_t>(slot.mincode[l]);
        }
    }
    return -1;
}

void buildLookahead(HuffmanSlot& slot, const uint8_t* input) {
    for (uint32_t prefix = 0; prefix < (1u << kFastBits); ++prefix) {
        int length = 0;
        const int index = searchCode(slot, prefix << (32 - kFastBits), kFastBits, &length);
        slot.fast[prefix] = 0;
        if (index >= 0 && index < slot.symbolCount) {
            slot.fast[prefix] = static_cast<uint16_t>((length << 8) | input[slot.symbolOffset + index]);
        }
    }
}

class BlockDecoder {
public:
    BlockDecoder(BitReader& reader, const uint8_t* input) : reader_(reader), input_(input) {}

    // Decodes one block into `out` (natural order, dequantised). Sets *dcOnly when no AC
    // coefficient was written. False with *error set on corrupt data.
    bool decode(const HuffmanSlot& dc, const HuffmanSlot& ac, const uint8_t* quant, int16_t* predictor,
                int16_t* out, bool* dcOnly, int32_t* error) {
        std::memset(out, 0, 64 * sizeof(int16_t));
        int symbol = 0;
        if (!decodeSymbol(dc, &symbol, error)) {
            return false;
        }
        int32_t diff = 0;
        if (!receive(symbol & 0x0F, &diff, error)) {
            return false;
        }
        *predictor = static_cast<int16_t>(*predictor + diff);
        out[0] = static_cast<int16_t>(quant[0] * *predictor);
        *dcOnly = true;
        for (int k = 1; k <= 63;) {
            if (!decodeSymbol(ac, &symbol, error)) {
                return false;
            }
            const int run = symbol >> 4;
            int32_t value = 0;
            if (!receive(symbol & 0x0F, &value, error)) {
                return false;
            }
            if (run == 0 && value == 0) {
                break;  // end of block
            }
            k += run;
            if (k > 63) {
                break;
            }
            out[kZigzagToNatural[k]] = static_cast<int16_t>(quant[k] * static_cast<int16_t>(value));
            *dcOnly = false;
            ++k;
        }
        return true;
    }

private:
    bool decodeSymbol(const HuffmanSlot& slot, int* symbol, int32_t* error) {
        if (reader_.count() < 32) {
            reader_.fill();
        }
        const uint16_t entry = slot.fast[reader_.peek(kFastBits)];
        if (entry != 0) {
            *symbol = entry & 0xFF;
            return reader_.consume(entry >> 8, error);
        }
        int length = 0;
        const int index = searchCode(slot, reader_.peek(32), 16, &length);
        if (index < 0 || index >= slot.symbolCount) {
            // No code within 16 bits: corrupt, unless the real bits ran out before that.
            *error = reader_.shortOf(16) ? reader_.stopReason() : ErrBadData;
            return false;
        }
        *symbol = input_[slot.symbolOffset + index];
        return reader_.consume(length, error);
    }

    // Receives n bits and extends them to a signed value (T.81 F.2.2.1, EXTEND).
    bool receive(int n, int32_t* value, int32_t* error) {
        if (n == 0) {
            *value = 0;
            return true;
        }
        int32_t v = static_cast<int32_t>(reader_.peek(n));
        if (!reader_.consume(n, error)) {
            return false;
        }
        if (v < (1 << (n - 1))) {
            v -= (1 << n) - 1;
        }
        *value = v;
        return true;
    }

    BitReader& reader_;
    const uint8_t* input_;
};

struct McuGeometry {
    int h;
    int v;
    int blocks;
};

// Writes one colour MCU. Luma block n covers block row n / h, block column n % h of the MCU;
// each chroma sample covers h x v luma pixels (nearest-neighbour replication).
void writeColourMcu(const int16_t* samples, const McuGeometry& g, uint8_t* pixels, int32_t width, int32_t height,
                    int32_t top, int32_t left) {
    const int16_t* cb = samples + (g.blocks - 2) * 64;
    const int16_t* cr = samples + (g.blocks - 1) * 64;
    ChromaTerms terms[64];
    for (int i = 0; i < 64; ++i) {
        terms[i] = chromaTerms(cb[i], cr[i]);
    }
    for (int n = 0; n < g.blocks - 2; ++n) {
        const int blockRow = n / g.h;
        const int blockColumn = n % g.h;
        const int32_t blockTop = top + 8 * blockRow;
        const int32_t blockLeft = left + 8 * blockColumn;
        if (blockTop >= height || blockLeft >= width) {
            continue;
        }
        const int rows = height - blockTop < 8 ? height - blockTop : 8;
        const int columns = width - blockLeft < 8 ? width - blockLeft : 8;
        const int16_t* luma = samples + n * 64;
        for (int y = 0; y < rows; ++y) {
            uint8_t* out = pixels + (static_cast<size_t>(blockTop + y) * width + blockLeft) * 3;
            const int chromaRow = ((8 * blockRow + y) / g.v) * 8;
            for (int x = 0; x < columns; ++x) {
                const int chroma = chromaRow + (8 * blockColumn + x) / g.h;
                const ChromaTerms& t = terms[chroma];
                const int16_t sample = luma[y * 8 + x];
                if (t.exact) {
                    const int32_t yy = static_cast<int16_t>(sample + 128);
                    out[0] = clampToByte(yy + t.red);
                    out[1] = clampToByte(yy + t.green);
                    out[2] = clampToByte(yy + t.blue);
                } else {
                    colourPixelReference(sample, cb[chroma], cr[chroma], out);
                }
                out += 3;
            }
        }
    }
}

void writeGreyMcu(const int16_t* samples, uint8_t* pixels, int32_t width, int32_t height, int32_t top,
                  int32_t left) {
    const int rows = height - top < 8 ? height - top : 8;
    const int columns = width - left < 8 ? width - left : 8;
    for (int y = 0; y < rows; ++y) {
        uint8_t* out = pixels + (static_cast<size_t>(top + y) * width + left) * 3;
        for (int x = 0; x < columns; ++x) {
            const uint8_t grey = clampToByte(samples[y * 8 + x] + 128);
            out[0] = grey;
            out[1] = grey;
            out[2] = grey;
            out += 3;
        }
    }
}

}  // namespace

int JpegDecoder::checkScanSetup() {
    State& s = *state;
    if (!s.scanSeen) {
        lastError = ErrBadData;
        return 0;
    }
    // Only the one scan is decoded: it must carry every component of the frame.
    if (s.scanComponents != s.frameComponents) {
        lastError = ErrBadSegment;
        return 0;
    }
    for (int c = 0; c < s.frameComponents; ++c) {
        if (!s.quantDefined[s.componentQuant[c]] || !s.huffman[s.componentDc[c]].defined ||
            !s.huffman[s.componentAc[c]].defined) {
            lastError = ErrBadSegment;
            return 0;
        }
    }
    // Chroma is taken once per MCU: components 2 and 3 must be sampled 1x1.
    if (s.colourMode == 2 && (s.chromaSampling[0] != 0x11 || s.chromaSampling[1] != 0x11)) {
        lastError = ErrBadData;
        return 0;
    }
    return 1;
}

int JpegDecoder::decodeScan() {
    lastError = ErrNone;
    State& s = *state;
    McuGeometry g{s.h, s.v, 0};
    if (s.colourMode == 2) {
        g.blocks = static_cast<uint8_t>(s.h * s.v + 2);
        if (g.blocks != 3 && g.blocks != 4 && g.blocks != 6) {
            lastError = ErrBadData;
            return 0;
        }
    } else {
        // A single-component scan is not interleaved (T.81 A.2.2): one block per MCU,
        // whatever sampling the component declares.
        if (s.h == 0 || s.v == 0 || s.h > 4 || s.v > 4 || s.colourMode != 1) {
            lastError = ErrBadData;
            return 0;
        }
        g = McuGeometry{1, 1, 1};
    }
    if (!checkScanSetup()) {
        return 0;
    }
    if (!allocatePixels()) {
        return 0;
    }
    if (s.samples != nullptr) {
        lastError = ErrBadData;
        return 0;
    }
    s.samples = new (std::nothrow) int16_t[static_cast<size_t>(g.blocks) * 64];
    if (s.samples == nullptr) {
        lastError = ErrNoMemory;
        return 0;
    }
    for (int slot = 0; slot < 4; ++slot) {
        if (s.huffman[slot].defined) {
            buildLookahead(s.huffman[slot], input);
        }
    }
    const int32_t mcuColumns = ((width - 1) / 8) / g.h + 1;
    const int32_t mcuRows = ((height - 1) / 8) / g.v + 1;
    BitReader reader(input, inputLength, s.scanDataOffset);
    BlockDecoder blocks(reader, input);
    int16_t predictor[3] = {0, 0, 0};
    uint32_t restartCount = 0;
    uint16_t expectedMarker = 0xFFD0;
    int32_t error = ErrNone;
    for (int32_t row = 0; row < mcuRows; ++row) {
        for (int32_t column = 0; column < mcuColumns; ++column) {
            for (int n = 0; n < g.blocks; ++n) {
                const int c = (s.colourMode == 1 || n < g.blocks - 2) ? 0 : (n == g.blocks - 2 ? 1 : 2);
                int16_t* block = s.samples + n * 64;
                bool dcOnly = false;
                if (!blocks.decode(s.huffman[s.componentDc[c]], s.huffman[s.componentAc[c]],
                                   s.quant[s.componentQuant[c]], &predictor[c], block, &dcOnly, &error)) {
                    freeWorkBuffers();
                    lastError = error;
                    return 0;
                }
                if (dcOnly) {
                    inverseDctDcOnly(block);
                } else {
                    inverseDct(block);
                }
            }
            const int32_t top = row * 8 * g.v;
            const int32_t left = column * 8 * g.h;
            if (s.colourMode == 2) {
                writeColourMcu(s.samples, g, pixels, width, height, top, left);
            } else {
                writeGreyMcu(s.samples, pixels, width, height, top, left);
            }
            if (s.restartInterval == 0) {
                continue;
            }
            ++restartCount;
            const bool last = row == mcuRows - 1 && column == mcuColumns - 1;
            if (restartCount == s.restartInterval && !last) {
                if (!reader.takeRestartMarker(expectedMarker)) {
                    freeWorkBuffers();
                    lastError = ErrBadData;
                    return 0;
                }
                expectedMarker = expectedMarker == 0xFFD7 ? 0xFFD0 : static_cast<uint16_t>(expectedMarker + 1);
                predictor[0] = predictor[1] = predictor[2] = 0;
                restartCount = 0;
            }
        }
    }
    freeWorkBuffers();
    return 1;
}
