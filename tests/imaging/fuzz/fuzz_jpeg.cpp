// libFuzzer target: JpegDecoder on arbitrary bytes, then DIB bits and dithering of what decodes.
#include <cstddef>
#include <cstdint>

#include "fuzz_decode.h"
#include "imaging/jpeg_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzDecode<JpegDecoder>(data, size);
}
