// libFuzzer target: ExifReader::readInfo on arbitrary bytes; the record's texts are touched
// so that a bad copy shows up under AddressSanitizer.
#include <cstddef>
#include <cstdint>

#include "imaging/exif_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > (1u << 20)) {
        return 0;
    }
    ExifReader reader;
    if (!reader.attach(data, static_cast<int32_t>(size))) {
        return 0;
    }
    reader.readInfo();
    size_t total = 0;
    for (const auto* text : {&reader.info.make, &reader.info.model, &reader.info.dateTimeOriginal}) {
        if (text->has_value()) {
            for (char c : **text) {
                total += static_cast<unsigned char>(c);
            }
        }
    }
    return total == 0xFFFFFFFF ? 1 : 0;
}
