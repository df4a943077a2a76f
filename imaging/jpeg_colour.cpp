// YCbCr to RGB (JFIF conversion with the factors 1.402, 0.714, 0.344 and 1.772).
//
// For a double v the pixel value is 255 above 255, 0 at or below 0, else v truncated. With
// v = Y + f, Y an integer, that equals clamp(Y + floor(f)) as long as the double sum Y + f is
// not rounded onto or across an integer; |Y + f| < 2^17 keeps the rounding error below
// 2^-35, so any f whose fraction is at least 1e-9 away from an integer is safe, and an f that
// is itself an integer adds exactly.
#include "imaging/jpeg_colour.h"

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

int32_t splitIntegerPart(double f, bool* exact) {
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
