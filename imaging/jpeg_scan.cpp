// JpegDecoder, scan side: entropy decoding (T.81 F.2.2), dequantisation, inverse DCT and the
// placement of each MCU's pixels.
//
// The bit reader keeps up to 64 bits ahead in an accumulator instead of one byte, and the
// Huffman search is preceded by a lookahead table built by running that same search on
// every 11-bit prefix (kFastBits); for AC tables it also takes the magnitude bits when code
// and bits fit in those 11. Both are pure speed-ups. To keep errors exactly where a
// byte-by-byte reader would raise them, the accumulator counts its real bits separately: past
// a marker or the end of the input it is padded with zeros, and taking a padding bit fails
// with the reason the fill stopped for (ErrBadData at a marker, ErrEndOfData at the end).
#include <cstring>
#include <new>

#if defined(__SSE2__) && !defined(DORVEX_SCALAR_ONLY)
#include <emmintrin.h>
#endif

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
        padding_ = 0;
        stopped_ = false;
    }

    // Tops the accumulator up to at least 57 bits (real or padding).
    void fill() {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        // Fast path: eight bytes without any 0xFF (no stuffing, no marker) go in at once.
        if (!stopped_ && position_ + 8 <= length_) {
            uint64_t word;
            std::memcpy(&word, data_ + position_, 8);
            const uint64_t inverted = ~word;
            if (((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) == 0) {
                const int take = (64 - count_) / 8;
                const uint64_t bytes = __builtin_bswap64(word) >> (64 - 8 * take) << (64 - 8 * take);
                accumulator_ |= bytes >> count_;
                count_ += 8 * take;
                position_ += take;
                return;
            }
        }
#endif
        while (count_ <= 56) {
            uint32_t byte = 0;
            if (!stopped_) {
                if (position_ >= length_) {
                    stop(ErrEndOfData);
                } else if (data_[position_] != 0xFF) {
                    byte = data_[position_++];
                } else if (position_ + 1 < length_ && data_[position_ + 1] == 0x00) {
                    byte = 0xFF;  // stuffed zero: 0xFF is data
                    position_ += 2;
                } else {
                    stop(ErrBadData);  // a marker, or 0xFF as the last byte
                }
            }
            if (stopped_) {
                padding_ += 8;
            }
            accumulator_ |= static_cast<uint64_t>(byte) << (56 - count_);
            count_ += 8;
        }
    }

    uint32_t count() const { return static_cast<uint32_t>(count_); }
    uint32_t peek(int bits) const { return static_cast<uint32_t>(accumulator_ >> (64 - bits)); }

    // Takes `bits` bits (at most 32, already filled). Whether they were real is checked by
    // overran() once per block: padding bits decode to harmless values in the meantime.
    void consume(int bits) {
        accumulator_ <<= bits;
        count_ -= bits;
    }
    // Padding always sits behind the real bits, so real bits were overrun exactly when fewer
    // bits than the padding added remain. The error is then stopReason().
    bool overran() const { return count_ < padding_; }
    uint64_t bits() const { return accumulator_; }

    // True when fewer than `bits` real bits are left: running out explains a failed search.
    bool shortOf(int bits) const { return count_ - padding_ < bits; }
    int32_t stopReason() const { return stopReason_; }

    // At a restart boundary the rest of the current byte is discarded and the next two bytes
    // must be the expected marker. Whole data bytes still buffered mean it is not there.
    bool takeRestartMarker(uint16_t expected) {
        if (count_ - padding_ >= 8) {
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
    int32_t padding_ = 0;  // padding bits appended since the last reset
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
        slot.fastAc[prefix] = 0;
        if (index < 0 || index >= slot.symbolCount) {
            continue;
        }
        const uint8_t symbol = input[slot.symbolOffset + index];
        slot.fast[prefix] = static_cast<uint16_t>((length << 8) | symbol);
        const int n = symbol & 0x0F;
        if (length + n > kFastBits) {
            continue;
        }
        // RECEIVE and EXTEND of the n bits that follow the code within the prefix.
        int32_t value = 0;
        if (n > 0) {
            value = static_cast<int32_t>((prefix >> (kFastBits - length - n)) & ((1u << n) - 1));
            if (value < (1 << (n - 1))) {
                value -= (1 << n) - 1;
            }
        }
        slot.fastAc[prefix] = static_cast<int32_t>(static_cast<uint32_t>(value) << 16) | ((symbol >> 4) << 8) |
                              (length + n);
    }
}

class BlockDecoder {
public:
    BlockDecoder(BitReader& reader, const uint8_t* input) : reader_(reader), input_(input) {}

    // Decodes one block into `out` (natural order, dequantised). Sets *dcOnly when no AC
    // coefficient was written. False with *error set on corrupt data.
    bool decode(const HuffmanSlot& dc, const HuffmanSlot& ac, const uint8_t* quant, int16_t* predictor,
                int16_t* out, bool* dcOnly, int32_t* error) {
#if defined(__SSE2__) && !defined(DORVEX_SCALAR_ONLY)
        // Eight vector stores: the library memset's string instruction is slower at this size.
        for (int i = 0; i < 64; i += 8) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_setzero_si128());
        }
#else
        std::memset(out, 0, 64 * sizeof(int16_t));
#endif
        int32_t diff = 0;
        int symbol = 0;
        if (!decodeValue(dc, &symbol, &diff, error)) {
            return false;
        }
        *predictor = static_cast<int16_t>(*predictor + diff);
        out[0] = static_cast<int16_t>(quant[0] * *predictor);
        bool acSeen = false;
        for (int k = 1; k <= 63;) {
            int32_t value = 0;
            int run = 0;
            if (reader_.count() < 32) {
                reader_.fill();
            }
            const int32_t fast = ac.fastAc[reader_.peek(kFastBits)];
            if (fast != 0) {
                reader_.consume(fast & 0xFF);
                run = (fast >> 8) & 0xFF;
                value = fast >> 16;
            } else {
                if (!decodeValue(ac, &symbol, &value, error)) {
                    return false;
                }
                run = symbol >> 4;
            }
            if (run == 0 && value == 0) {
                break;  // end of block
            }
            k += run;
            if (k > 63) {
                break;
            }
            out[kZigzagToNatural[k]] = static_cast<int16_t>(quant[k] * static_cast<int16_t>(value));
            acSeen = true;
            ++k;
        }
        *dcOnly = !acSeen;
        if (reader_.overran()) {
            *error = reader_.stopReason();
            return false;
        }
        return true;
    }

private:
    // Decodes one Huffman symbol and the n = (symbol & 15) bits that follow it, extended to a
    // signed value (T.81 F.2.2.1, DECODE, RECEIVE and EXTEND). At most 16 + 15 bits.
    bool decodeValue(const HuffmanSlot& slot, int* symbol, int32_t* value, int32_t* error) {
        if (reader_.count() < 32) {
            reader_.fill();
        }
        const uint16_t entry = slot.fast[reader_.peek(kFastBits)];
        int length = entry >> 8;
        if (entry != 0) {
            *symbol = entry & 0xFF;
        } else {
            const int index = searchCode(slot, reader_.peek(32), 16, &length);
            if (index < 0 || index >= slot.symbolCount) {
                // No code within 16 bits: corrupt, unless the real bits ran out before that.
                *error = reader_.shortOf(16) ? reader_.stopReason() : ErrBadData;
                return false;
            }
            *symbol = input_[slot.symbolOffset + index];
        }
        const int n = *symbol & 0x0F;
        if (n == 0) {
            reader_.consume(length);
            *value = 0;
            return true;
        }
        int32_t v = static_cast<int32_t>((reader_.bits() << length) >> (64 - n));
        reader_.consume(length + n);
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

// Pixels of one MCU row whose chroma terms are all exact, scalar version. `luma` points at
// the row's samples in the MCU's first luma block of that row, `terms` at its chroma row.
template <int H>
void writeExactRowScalar(const int16_t* luma, const int16_t* red, const int16_t* green, const int16_t* blue,
                         uint8_t* out, int columns) {
    for (int x = 0; x < columns; ++x) {
        const int32_t y = static_cast<int16_t>(luma[(x / 8) * 64 + x % 8] + 128);
        const int t = x / H;
        out[0] = clampToByte(y + red[t]);
        out[1] = clampToByte(y + green[t]);
        out[2] = clampToByte(y + blue[t]);
        out += 3;
    }
}

#if defined(__SSE2__) && !defined(DORVEX_SCALAR_ONLY)
// The same with SSE2, eight pixels at a time: 16-bit sums cannot overflow (|Y| <= 8320 and
// |term| <= 14516 for IDCT output) and unsigned saturation is exactly the 0..255 clamp.
template <int H>
void writeExactRow(const int16_t* luma, const int16_t* red, const int16_t* green, const int16_t* blue, uint8_t* out,
                   int columns) {
    if (H > 2 || columns < 8 * H) {
        writeExactRowScalar<H>(luma, red, green, blue, out, columns);
        return;
    }
    const __m128i offset = _mm_set1_epi16(128);
    const __m128i zero = _mm_setzero_si128();
    // Per 64-bit half: bytes 0..2 (its first pixel), and bytes 3..5 (its second, shifted down).
    const __m128i firstPixel = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
    const __m128i secondPixel = _mm_set_epi32(0x0000FFFF, static_cast<int>(0xFF000000u), 0x0000FFFF,
                                              static_cast<int>(0xFF000000u));
    const __m128i tr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(red));
    const __m128i tg = _mm_loadu_si128(reinterpret_cast<const __m128i*>(green));
    const __m128i tb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blue));
    for (int block = 0; block < H; ++block) {
        __m128i r = tr, g = tg, b = tb;
        if (H == 2) {  // each term covers two pixels
            r = block == 0 ? _mm_unpacklo_epi16(tr, tr) : _mm_unpackhi_epi16(tr, tr);
            g = block == 0 ? _mm_unpacklo_epi16(tg, tg) : _mm_unpackhi_epi16(tg, tg);
            b = block == 0 ? _mm_unpacklo_epi16(tb, tb) : _mm_unpackhi_epi16(tb, tb);
        }
        const __m128i y =
            _mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + block * 64)), offset);
        const __m128i r8 = _mm_packus_epi16(_mm_add_epi16(y, r), zero);
        const __m128i g8 = _mm_packus_epi16(_mm_add_epi16(y, g), zero);
        const __m128i b8 = _mm_packus_epi16(_mm_add_epi16(y, b), zero);
        // R G B 0 per 32-bit lane, pixels 0..3 and 4..7.
        const __m128i rg = _mm_unpacklo_epi8(r8, g8);
        const __m128i b0 = _mm_unpacklo_epi8(b8, zero);
        uint8_t* p = out + block * 24;
        for (int half = 0; half < 2; ++half) {
            const __m128i quad = half == 0 ? _mm_unpacklo_epi16(rg, b0) : _mm_unpackhi_epi16(rg, b0);
            // Each 64-bit half squeezed to its two pixels in bytes 0..5 (6 and 7 zero).
            const __m128i pairs = _mm_or_si128(_mm_and_si128(quad, firstPixel),
                                               _mm_and_si128(_mm_srli_epi64(quad, 8), secondPixel));
            const __m128i upper = _mm_srli_si128(pairs, 8);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(p), pairs);  // bytes 6 and 7 are written next
            if (half == 1 && block == H - 1) {
                // The last two pixels: no byte beyond them.
                const uint32_t first = static_cast<uint32_t>(_mm_cvtsi128_si32(upper));
                const uint32_t rest = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(upper, 4)));
                std::memcpy(p + 6, &first, 4);
                p[10] = static_cast<uint8_t>(rest);
                p[11] = static_cast<uint8_t>(rest >> 8);
            } else {
                _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 6), upper);
            }
            p += 12;
        }
    }
}
#else
template <int H>
void writeExactRow(const int16_t* luma, const int16_t* red, const int16_t* green, const int16_t* blue, uint8_t* out,
                   int columns) {
    writeExactRowScalar<H>(luma, red, green, blue, out, columns);
}
#endif

// Writes one colour MCU with luma sampling H x V. Luma block n covers block row n / H,
// block column n % H of the MCU; each chroma sample covers H x V luma pixels
// (nearest-neighbour replication).
template <int H, int V>
void writeColourMcu(const int16_t* samples, uint8_t* pixels, int32_t width, int32_t height, int32_t top,
                    int32_t left) {
    constexpr int kBlocks = H * V;
    const int16_t* cb = samples + kBlocks * 64;
    const int16_t* cr = cb + 64;
    int16_t red[64], green[64], blue[64];
    ChromaTerms terms[64];
    // Chroma rows holding a sample that needs the double arithmetic: only those get the
    // per-sample terms, and only their pixels with such a sample go through the doubles.
    const unsigned inexactRows = chromaTermsBlockRows(cb, cr, red, green, blue);
    if (inexactRows != 0) {
        for (int i = 0; i < 64; ++i) {
            if (inexactRows & (1u << (i / 8))) {
                terms[i] = chromaTermsFast(cb[i], cr[i]);
            }
        }
    }
    const int rows = height - top < 8 * V ? height - top : 8 * V;
    const int columns = width - left < 8 * H ? width - left : 8 * H;
    for (int y = 0; y < rows; ++y) {
        uint8_t* out = pixels + (static_cast<size_t>(top + y) * width + left) * 3;
        const int16_t* lumaRow = samples + (y / 8) * H * 64 + (y % 8) * 8;
        const int chromaRow = (y / V) * 8;
        if (!(inexactRows & (1u << (y / V)))) {
            writeExactRow<H>(lumaRow, red + chromaRow, green + chromaRow, blue + chromaRow, out, columns);
            continue;
        }
        for (int x = 0; x < columns; ++x) {
            const int16_t sample = lumaRow[(x / 8) * 64 + x % 8];
            const int chroma = chromaRow + x / H;
            const ChromaTerms& t = terms[chroma];
            if (t.exact) {
                const int32_t luma = static_cast<int16_t>(sample + 128);
                out[0] = clampToByte(luma + t.red);
                out[1] = clampToByte(luma + t.green);
                out[2] = clampToByte(luma + t.blue);
            } else {
                colourPixelReference(sample, cb[chroma], cr[chroma], out);
            }
            out += 3;
        }
    }
}

using ColourWriter = void (*)(const int16_t*, uint8_t*, int32_t, int32_t, int32_t, int32_t);

// Luma sampling with one chroma block per MCU: H x V is 1, 2 or 4.
ColourWriter colourWriterFor(int h, int v) {
    switch (h * 16 + v) {
    case 0x11: return writeColourMcu<1, 1>;
    case 0x21: return writeColourMcu<2, 1>;
    case 0x12: return writeColourMcu<1, 2>;
    case 0x22: return writeColourMcu<2, 2>;
    case 0x41: return writeColourMcu<4, 1>;
    case 0x14: return writeColourMcu<1, 4>;
    default: return nullptr;
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
    const ColourWriter colourWriter = s.colourMode == 2 ? colourWriterFor(g.h, g.v) : nullptr;
    if (s.colourMode == 2 && colourWriter == nullptr) {
        freeWorkBuffers();
        lastError = ErrBadData;
        return 0;
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
            if (colourWriter != nullptr) {
                colourWriter(s.samples, pixels, width, height, top, left);
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
