// YCbCr to RGB of the JPEG decoder: double-precision factors, clamping to 0..255 and
// truncation toward zero.
#pragma once

#include <cstdint>

// Converts one pixel: luma and chroma are IDCT outputs (centred on 0; luma gets +128).
void colourPixelReference(int16_t luma, int16_t cb, int16_t cr, uint8_t rgb[3]);

// The per-chroma-sample form the decoder uses: the double products are split once into an
// integer part, so that each pixel needs only integer additions. `exact` is false when a
// product lies so close to an integer that adding the luma in double precision could round
// across it; such samples are converted pixel by pixel with colourPixelReference.
struct ChromaTerms {
    int32_t red;
    int32_t green;
    int32_t blue;
    bool exact;
};

ChromaTerms chromaTerms(int16_t cb, int16_t cr);

// The same terms computed in integers where that gives the same result.
ChromaTerms chromaTermsFast(int16_t cb, int16_t cr);

// Terms of a whole chroma block (64 Cb and Cr samples, IDCT outputs: |value| <= 8192) as
// 16-bit values. Returns a mask of the rows of eight samples (bit i: samples 8i..8i+7) that
// hold a sample needing the pixel-by-pixel conversion; those rows' outputs are unspecified,
// every other row's are exact.
uint8_t chromaTermsBlockRows(const int16_t* cb, const int16_t* cr, int16_t* red, int16_t* green, int16_t* blue);

// The same for the whole block: false, leaving the outputs unspecified, when any sample needs
// the pixel-by-pixel conversion.
inline bool chromaTermsBlock(const int16_t* cb, const int16_t* cr, int16_t* red, int16_t* green, int16_t* blue) {
    return chromaTermsBlockRows(cb, cr, red, green, blue) == 0;
}

inline uint8_t clampToByte(int32_t value) {
    return static_cast<uint8_t>(value > 255 ? 255 : (value < 0 ? 0 : value));
}
