// libFuzzer target: TiffThumbnailDecoder on arbitrary bytes, then DIB bits and dithering.
#include <cstddef>
#include <cstdint>

#include "fuzz_decode.h"
#include "imaging/tiff_thumbnail_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzDecode<TiffThumbnailDecoder>(data, size);
}
