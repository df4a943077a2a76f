// libFuzzer target: JpegDecoder on arbitrary bytes, then DIB bits and dithering of what decodes.
#include <cstddef>
#include <cstdint>

#include "imaging/jpeg_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > (1u << 20)) {
        return 0;
    }
    JpegDecoder decoder;
    if (!decoder.attach(data, static_cast<int32_t>(size)) || !decoder.decode()) {
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
