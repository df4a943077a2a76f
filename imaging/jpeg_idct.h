// Inverse DCT of one 8x8 block: the fixed-point Loeffler-Ligtenberg-Moschytz transform with
// 13 fractional bits in the constants and 2 extra bits kept between the row and column passes.
#pragma once

#include <cstdint>

// The transform written out line by line, with the all-zero-AC shortcut. Reference for tests.
void inverseDctReference(int16_t block[64]);

// The same transform, vectorised where the processor allows (SSE2; none when built with
// DORVEX_SCALAR_ONLY, the reference build of the tests); bit-identical results.
void inverseDct(int16_t block[64]);

// A block whose only non-zero value is the DC term (block[0]).
void inverseDctDcOnly(int16_t block[64]);
