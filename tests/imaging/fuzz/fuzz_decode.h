// Body shared by the decoder fuzz targets: decode arbitrary bytes, then make DIB bits of what
// decodes and dither them, so that every stage after the decoder runs on hostile pictures too.
// A failure without an error code is a finding.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/dib_image.h"

template <typename Decoder>
int fuzzDecode(const uint8_t* data, size_t size) {
    if (size == 0 || size > (1u << 20)) {
        return 0;
    }
    Decoder decoder;
    if (!decoder.attach(data, static_cast<int32_t>(size)) || !decoder.decode()) {
        if (decoder.lastError == ErrNone) {
            __builtin_trap();  // a failure must say why
        }
        return 0;
    }
    uint32_t bytes = 0;
    uint8_t* bits = decoder.makeDibBits(&bytes);
    if (bits != nullptr) {
        decoder.ditherToPalette(bits);
        delete[] bits;
    }
    return 0;
}
