// YCbCr to RGB (JFIF conversion with the factors 1.402, 0.714, 0.344 and 1.772).
//
// For a double v the pixel value is 255 above 255, 0 at or below 0, else v truncated. With
// v = Y + f, Y an integer, that equals clamp(Y + floor(f)) as long as the double sum Y + f is
// not rounded onto or across an integer; |Y + f| < 2^17 keeps the rounding error below
// 2^-35, so any f whose fraction is at least 1e-9 away from an integer is safe, and an f that
// is itself an integer adds exactly.
#include "imaging/jpeg_colour.h"

#if defined(__SSE2__) && !defined(DORVEX_SCALAR_ONLY)
#include <emmintrin.h>
#endif

namespace {

uint8_t channel(double value) {
    if (value > 255.0) {
        return 255;
    }
    if (value <= 0.0) {
        return 0;
    }
    return static_cast<uint8_t>(static_cast<int32_t>(value));
}

inline int32_t splitIntegerPart(double f, bool* exact) {
    int32_t whole = static_cast<int32_t>(f);  // toward zero
    if (whole > f) {
        --whole;  // floor for negative values
    }
    const double fraction = f - whole;
    if (fraction != 0.0 && (fraction < 1e-9 || fraction > 1.0 - 1e-9)) {
        *exact = false;
    }
    return whole;
}

}  // namespace

void colourPixelReference(int16_t luma, int16_t cb, int16_t cr, uint8_t rgb[3]) {
    const double y = static_cast<int16_t>(luma + 128);
    const double r = y + 1.402 * cr;
    const double g = (-0.714 * cr - 0.344 * cb) + y;
    const double b = y + 1.772 * cb;
    rgb[0] = channel(r);
    rgb[1] = channel(g);
    rgb[2] = channel(b);
}

ChromaTerms chromaTerms(int16_t cb, int16_t cr) {
    ChromaTerms terms;
    terms.exact = true;
    terms.red = splitIntegerPart(1.402 * cr, &terms.exact);
    terms.green = splitIntegerPart(-0.714 * cr - 0.344 * cb, &terms.exact);
    terms.blue = splitIntegerPart(1.772 * cb, &terms.exact);
    return terms;
}

namespace {

// floor(numerator / 1000), or false when the quotient is an integer.
inline bool thousandths(int32_t numerator, int32_t* floorValue) {
    int32_t quotient = numerator / 1000;
    const int32_t remainder = numerator % 1000;
    if (remainder == 0) {
        return false;
    }
    if (remainder < 0) {
        --quotient;
    }
    *floorValue = quotient;
    return true;
}

}  // namespace

// The factors are exact thousandths (1.402 = 1402/1000 ...), so each term's true value is an
// integer over 1000. When that value is not an integer its fraction is at least 0.001 away
// from one, far more than the double products can be off (about 1e-11 for |C| <= 8192), so
// the double's floor equals the integer floor division and the double sum with the luma
// cannot round across an integer. Only values that are integers go through the doubles.
ChromaTerms chromaTermsFast(int16_t cb, int16_t cr) {
    ChromaTerms terms;
    terms.exact = true;
    if (thousandths(1402 * cr, &terms.red) && thousandths(-714 * cr - 344 * cb, &terms.green) &&
        thousandths(1772 * cb, &terms.blue)) {
        return terms;
    }
    return chromaTerms(cb, cr);
}

#if defined(__SSE2__) && !defined(DORVEX_SCALAR_ONLY)

namespace {

// floor(n / 1000) of four 32-bit lanes with |n| < 16,384,000, and a mask of the lanes where
// the division is exact (those need the double arithmetic) - unless `zeroInputs` marks the
// lane's chroma inputs as 0, whose double products are exactly 0 as well. n converts to
// float exactly (< 2^24) and the division is correctly rounded: for |n / 1000| < 16384 the
// quotient is off by at most 2^-11 < 0.001, while a quotient that is not an integer lies at
// least 0.001 from one, so it neither reaches nor crosses an integer; an integer quotient
// is exact.
inline __m128i floorThousandths(__m128i n, __m128i zeroInputs, __m128i* inexactMask) {
    const __m128 q = _mm_div_ps(_mm_cvtepi32_ps(n), _mm_set1_ps(1000.0f));
    const __m128i truncated = _mm_cvttps_epi32(q);
    const __m128 back = _mm_cvtepi32_ps(truncated);
    const __m128i integral = _mm_castps_si128(_mm_cmpeq_ps(back, q));
    *inexactMask = _mm_or_si128(*inexactMask, _mm_andnot_si128(zeroInputs, integral));
    // Truncation went up for negative non-integers: one less is the floor.
    return _mm_add_epi32(truncated, _mm_castps_si128(_mm_cmpgt_ps(back, q)));
}

}  // namespace

uint8_t chromaTermsBlockRows(const int16_t* cb, const int16_t* cr, int16_t* red, int16_t* green, int16_t* blue) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i redFactor = _mm_set1_epi32(1402);  // pairs (1402, 0)
    const __m128i blueFactor = _mm_set1_epi32(1772);
    const __m128i greenFactors = _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(-344) << 16) |
                                                                     static_cast<uint16_t>(-714)));
    unsigned rows = 0;
    for (int i = 0; i < 64; i += 8) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + i));
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + i));
        __m128i needsDoubles = zero;
        __m128i out[3][2];
        for (int half = 0; half < 2; ++half) {
            const __m128i r0 = half == 0 ? _mm_unpacklo_epi16(r, zero) : _mm_unpackhi_epi16(r, zero);
            const __m128i b0 = half == 0 ? _mm_unpacklo_epi16(b, zero) : _mm_unpackhi_epi16(b, zero);
            const __m128i rb = half == 0 ? _mm_unpacklo_epi16(r, b) : _mm_unpackhi_epi16(r, b);
            const __m128i crZero = _mm_cmpeq_epi32(r0, zero);
            const __m128i cbZero = _mm_cmpeq_epi32(b0, zero);
            out[0][half] = floorThousandths(_mm_madd_epi16(r0, redFactor), crZero, &needsDoubles);
            out[1][half] = floorThousandths(_mm_madd_epi16(rb, greenFactors), _mm_and_si128(crZero, cbZero),
                                            &needsDoubles);
            out[2][half] = floorThousandths(_mm_madd_epi16(b0, blueFactor), cbZero, &needsDoubles);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(red + i), _mm_packs_epi32(out[0][0], out[0][1]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(green + i), _mm_packs_epi32(out[1][0], out[1][1]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(blue + i), _mm_packs_epi32(out[2][0], out[2][1]));
        if (_mm_movemask_epi8(needsDoubles) != 0) {
            rows |= 1u << (i / 8);
        }
    }
    return static_cast<uint8_t>(rows);
}

#else

uint8_t chromaTermsBlockRows(const int16_t* cb, const int16_t* cr, int16_t* red, int16_t* green, int16_t* blue) {
    unsigned rows = 0;
    for (int i = 0; i < 64; ++i) {
        const ChromaTerms t = chromaTermsFast(cb[i], cr[i]);
        if (!t.exact) {
            rows |= 1u << (i / 8);
        }
        red[i] = static_cast<int16_t>(t.red);
        green[i] = static_cast<int16_t>(t.green);
        blue[i] = static_cast<int16_t>(t.blue);
    }
    return static_cast<uint8_t>(rows);
}

#endif
