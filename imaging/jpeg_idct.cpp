// Inverse DCT (T.81 A.3.3), fixed point.
//
// Bit budget: inputs are 16-bit dequantised coefficients; the constants carry 13 fractional
// bits (8192 = 1.0), so a product needs up to 29 bits and the sums of a line a few more.
// Pass 1 (rows) keeps 2 extra fractional bits: descale by 11 with rounding (+1024). Pass 2
// (columns) removes those, the 13 constant bits and the 3 bits of the 8-point DCT's scale:
// descale by 18 with rounding (+131072). Results are stored as signed 16-bit.
//
// This file is compiled with -fwrapv: crafted coefficients can overflow the 32-bit sums, and
// the arithmetic must then wrap the way 32-bit two's complement does, in both builds and in
// both implementations below. Because every output is a fixed integer combination of the
// inputs, evaluating it in any order modulo 2^32 gives the same bits, which is what lets
// the vector version regroup the terms.
#include "imaging/jpeg_idct.h"

#if defined(__SSE2__) && !defined(DORVEX_SCALAR_ONLY)
#include <emmintrin.h>
#endif

namespace {

// One line of eight values, in place at stride `step`. Pass 1: shift 11; pass 2: shift 18.
void transformLine(int16_t* x, int step, bool columnPass) {
    const int32_t x0 = x[0], x1 = x[step], x2 = x[2 * step], x3 = x[3 * step];
    const int32_t x4 = x[4 * step], x5 = x[5 * step], x6 = x[6 * step], x7 = x[7 * step];
    if ((x1 | x2 | x3 | x4 | x5 | x6 | x7) == 0) {
        const int16_t dc = columnPass ? static_cast<int16_t>((x0 + 16) >> 5) : static_cast<int16_t>(x0 * 4);
        for (int i = 0; i < 8; ++i) {
            x[i * step] = dc;
        }
        return;
    }
    const int32_t a0 = (x0 + x4) * 8192;
    const int32_t a1 = (x0 - x4) * 8192;
    const int32_t a3 = x2 * 10703 + x6 * 4433;
    const int32_t a2 = x2 * 4433 - x6 * 10703;
    const int32_t e0 = a0 + a3, e3 = a0 - a3, e1 = a1 + a2, e2 = a1 - a2;
    const int32_t z1 = (x7 + x1) * -7373;
    const int32_t z2 = (x3 + x5) * -20995;
    const int32_t z3 = (x1 + x5) * 9633 - (x7 + x3) * 6436;
    const int32_t z4 = (x7 + x3) * 9633 + (x1 + x5) * 6436;
    const int32_t o0 = x7 * 2446 + z1 + z3;
    const int32_t o1 = x5 * 16819 + z2 + z4;
    const int32_t o2 = x3 * 25172 + z2 + z3;
    const int32_t o3 = x1 * 12299 + z1 + z4;
    const int32_t y[8] = {e0 + o3, e1 + o2, e2 + o1, e3 + o0, e3 - o0, e2 - o1, e1 - o2, e0 - o3};
    const int32_t round = columnPass ? 131072 : 1024;
    const int shift = columnPass ? 18 : 11;
    for (int i = 0; i < 8; ++i) {
        x[i * step] = static_cast<int16_t>((y[i] + round) >> shift);
    }
}

}  // namespace

void inverseDctReference(int16_t block[64]) {
    for (int row = 0; row < 8; ++row) {
        transformLine(block + row * 8, 1, false);
    }
    for (int column = 0; column < 8; ++column) {
        transformLine(block + column, 8, true);
    }
}

void inverseDctDcOnly(int16_t block[64]) {
    // Row pass: row 0 becomes DC x 4, the other rows stay 0; column pass: every column then
    // holds only that value, so all 64 outputs are the same.
    const int16_t rowValue = static_cast<int16_t>(block[0] * 4);
    const int16_t value = static_cast<int16_t>((rowValue + 16) >> 5);
    for (int i = 0; i < 64; ++i) {
        block[i] = value;
    }
}

#if defined(__SSE2__) && !defined(DORVEX_SCALAR_ONLY)

namespace {

// Pair constants for _mm_madd_epi16: lanes (a, b) repeated.
inline __m128i pair(int16_t a, int16_t b) {
    return _mm_set_epi16(b, a, b, a, b, a, b, a);
}

inline void transpose(__m128i r[8]) {
    const __m128i t0 = _mm_unpacklo_epi16(r[0], r[1]), t1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i t2 = _mm_unpacklo_epi16(r[2], r[3]), t3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i t4 = _mm_unpacklo_epi16(r[4], r[5]), t5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i t6 = _mm_unpacklo_epi16(r[6], r[7]), t7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i u0 = _mm_unpacklo_epi32(t0, t2), u1 = _mm_unpackhi_epi32(t0, t2);
    const __m128i u2 = _mm_unpacklo_epi32(t1, t3), u3 = _mm_unpackhi_epi32(t1, t3);
    const __m128i u4 = _mm_unpacklo_epi32(t4, t6), u5 = _mm_unpackhi_epi32(t4, t6);
    const __m128i u6 = _mm_unpacklo_epi32(t5, t7), u7 = _mm_unpackhi_epi32(t5, t7);
    r[0] = _mm_unpacklo_epi64(u0, u4);
    r[1] = _mm_unpackhi_epi64(u0, u4);
    r[2] = _mm_unpacklo_epi64(u1, u5);
    r[3] = _mm_unpackhi_epi64(u1, u5);
    r[4] = _mm_unpacklo_epi64(u2, u6);
    r[5] = _mm_unpackhi_epi64(u2, u6);
    r[6] = _mm_unpacklo_epi64(u3, u7);
    r[7] = _mm_unpackhi_epi64(u3, u7);
}

// Keeps the low 16 bits of each 32-bit lane (two's complement truncation, no saturation).
inline __m128i packTruncate(__m128i low, __m128i high) {
    low = _mm_srai_epi32(_mm_slli_epi32(low, 16), 16);
    high = _mm_srai_epi32(_mm_slli_epi32(high, 16), 16);
    return _mm_packs_epi32(low, high);
}

// Transforms eight lines at once: x[j] holds input j of each of the eight lines (lane = line).
// Outputs replace x[j] in the same arrangement. The column pass's outputs, an arithmetic
// shift by 18 of a 32-bit value, always fit in 16 bits, so its plain saturating pack keeps
// them unchanged; the row pass's (shift 11) may not and are truncated like the reference.
template <bool kColumnPass>
__attribute__((always_inline)) inline void transformLanes(__m128i x[8]) {
    // The odd part regrouped per input pair; e.g. o3 = 11362 x1 + 2260 x7 + 9633 x3 + 6436 x5.
    static const int16_t kOdd[4][4] = {
        {2260, -11363, -6436, 9633},   // o0: x1, x7, x3, x5
        {6436, 9633, -11362, 2260},    // o1
        {9633, -6436, -2259, -11362},  // o2
        {11362, 2260, 9633, 6436},     // o3
    };
    constexpr int kShift = kColumnPass ? 18 : 11;
    const __m128i rounding = _mm_set1_epi32(kColumnPass ? 131072 : 1024);
    __m128i out[8][2];
    for (int half = 0; half < 2; ++half) {
        const auto mix = [half](__m128i a, __m128i b) {
            return half == 0 ? _mm_unpacklo_epi16(a, b) : _mm_unpackhi_epi16(a, b);
        };
        const __m128i p04 = mix(x[0], x[4]), p26 = mix(x[2], x[6]);
        const __m128i p17 = mix(x[1], x[7]), p35 = mix(x[3], x[5]);
        const __m128i a0 = _mm_madd_epi16(p04, pair(8192, 8192));
        const __m128i a1 = _mm_madd_epi16(p04, pair(8192, -8192));
        const __m128i a3 = _mm_madd_epi16(p26, pair(10703, 4433));
        const __m128i a2 = _mm_madd_epi16(p26, pair(4433, -10703));
        const __m128i e[4] = {_mm_add_epi32(a0, a3), _mm_add_epi32(a1, a2), _mm_sub_epi32(a1, a2),
                              _mm_sub_epi32(a0, a3)};
        __m128i o[4];
        for (int k = 0; k < 4; ++k) {
            o[k] = _mm_add_epi32(_mm_madd_epi16(p17, pair(kOdd[k][0], kOdd[k][1])),
                                 _mm_madd_epi16(p35, pair(kOdd[k][2], kOdd[k][3])));
        }
        // y0 = e0 + o3, y1 = e1 + o2, y2 = e2 + o1, y3 = e3 + o0, y(7-i) = e(i) - o(3-i).
        for (int i = 0; i < 4; ++i) {
            const __m128i base = _mm_add_epi32(e[i], rounding);
            out[i][half] = _mm_srai_epi32(_mm_add_epi32(base, o[3 - i]), kShift);
            out[7 - i][half] = _mm_srai_epi32(_mm_sub_epi32(base, o[3 - i]), kShift);
        }
    }
    for (int j = 0; j < 8; ++j) {
        x[j] = kColumnPass ? _mm_packs_epi32(out[j][0], out[j][1]) : packTruncate(out[j][0], out[j][1]);
    }
}

// The even and odd parts of a line whose inputs 4..7 are zero, for the 32-bit lanes of
// p02 = (x0, x2) and p13 = (x1, x3) pairs: the same sums as above with the zero terms left
// out, so the same bits modulo 2^32. Writes the eight unshifted outputs plus rounding.
__attribute__((always_inline)) inline void transformHalfLanes(__m128i p02, __m128i p13, __m128i rounding,
                                                              __m128i y[8]) {
    const __m128i e[4] = {_mm_madd_epi16(p02, pair(8192, 10703)), _mm_madd_epi16(p02, pair(8192, 4433)),
                          _mm_madd_epi16(p02, pair(8192, -4433)), _mm_madd_epi16(p02, pair(8192, -10703))};
    const __m128i o[4] = {_mm_madd_epi16(p13, pair(2260, -6436)), _mm_madd_epi16(p13, pair(6436, -11362)),
                          _mm_madd_epi16(p13, pair(9633, -2259)), _mm_madd_epi16(p13, pair(11362, 9633))};
    for (int i = 0; i < 4; ++i) {
        const __m128i base = _mm_add_epi32(e[i], rounding);
        y[i] = _mm_add_epi32(base, o[3 - i]);
        y[7 - i] = _mm_sub_epi32(base, o[3 - i]);
    }
}

// A block whose non-zero coefficients all lie in rows 0..3 and columns 0..3: the row pass
// needs only rows 0..3 (the others give 0) and both passes only inputs 0..3.
void inverseDctTopLeft(__m128i r[8]) {
    // Rows 0..3, columns 0..3 -> x[j] = column j of rows 0..3 in the low four lanes.
    const __m128i t0 = _mm_unpacklo_epi16(r[0], r[1]), t1 = _mm_unpacklo_epi16(r[2], r[3]);
    const __m128i c01 = _mm_unpacklo_epi32(t0, t1), c23 = _mm_unpackhi_epi32(t0, t1);
    // (x0, x2) and (x1, x3) pairs of each row.
    const __m128i p02 = _mm_unpacklo_epi16(c01, c23);
    const __m128i p13 = _mm_unpacklo_epi16(_mm_srli_si128(c01, 8), _mm_srli_si128(c23, 8));
    __m128i y[8];
    transformHalfLanes(p02, p13, _mm_set1_epi32(1024), y);
    __m128i x[8];
    for (int j = 0; j < 8; ++j) {
        x[j] = packTruncate(_mm_srai_epi32(y[j], 11), _mm_setzero_si128());  // lanes: rows 0..3
    }
    // Back to rows 0..3 with lanes = columns; rows 4..7 of the row pass's output are 0.
    const __m128i s0 = _mm_unpacklo_epi16(x[0], x[1]), s1 = _mm_unpacklo_epi16(x[2], x[3]);
    const __m128i s2 = _mm_unpacklo_epi16(x[4], x[5]), s3 = _mm_unpacklo_epi16(x[6], x[7]);
    const __m128i u0 = _mm_unpacklo_epi32(s0, s1), u1 = _mm_unpackhi_epi32(s0, s1);
    const __m128i u2 = _mm_unpacklo_epi32(s2, s3), u3 = _mm_unpackhi_epi32(s2, s3);
    const __m128i row0 = _mm_unpacklo_epi64(u0, u2), row1 = _mm_unpackhi_epi64(u0, u2);
    const __m128i row2 = _mm_unpacklo_epi64(u1, u3), row3 = _mm_unpackhi_epi64(u1, u3);
    const __m128i rounding = _mm_set1_epi32(131072);
    __m128i low[8], high[8];
    transformHalfLanes(_mm_unpacklo_epi16(row0, row2), _mm_unpacklo_epi16(row1, row3), rounding, low);
    transformHalfLanes(_mm_unpackhi_epi16(row0, row2), _mm_unpackhi_epi16(row1, row3), rounding, high);
    for (int j = 0; j < 8; ++j) {
        r[j] = _mm_packs_epi32(_mm_srai_epi32(low[j], 18), _mm_srai_epi32(high[j], 18));
    }
}

}  // namespace

void inverseDct(int16_t block[64]) {
    __m128i r[8];
    for (int i = 0; i < 8; ++i) {
        r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
    }
    const __m128i lowerRows = _mm_or_si128(_mm_or_si128(r[4], r[5]), _mm_or_si128(r[6], r[7]));
    const __m128i upperRows = _mm_or_si128(_mm_or_si128(r[0], r[1]), _mm_or_si128(r[2], r[3]));
    const __m128i outside = _mm_or_si128(lowerRows, _mm_srli_si128(upperRows, 8));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(outside, _mm_setzero_si128())) == 0xFFFF) {
        inverseDctTopLeft(r);
    } else {
        // Rows: transposing puts input j of every row in r[j]; the outputs come back the same way.
        transpose(r);
        transformLanes<false>(r);
        // Back to rows, which now hold input j of every column in r[j].
        transpose(r);
        transformLanes<true>(r);
    }
    for (int i = 0; i < 8; ++i) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), r[i]);
    }
}

#else

void inverseDct(int16_t block[64]) {
    inverseDctReference(block);
}

#endif
