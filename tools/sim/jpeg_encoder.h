// A small baseline JPEG encoder (ITU T.81 sequential DCT, Huffman, 8-bit) used to make the
// built-in card's pictures and thumbnails. Integer arithmetic throughout, so that every build
// produces the same bytes for the same picture.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

// Top-down rows of R, G, B bytes.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // width * height * 3
};

enum class ChromaSampling { S444, S422, S420 };

struct JpegSettings {
    int quality = 85;                  // 1..100, scales the T.81 Annex K tables as libjpeg does
    ChromaSampling sampling = ChromaSampling::S420;
    int restartInterval = 0;           // MCUs between restart markers, 0 = none
};

// Encodes image; each entry of segments is a complete marker segment (FF En, length, data)
// written right after SOI.
std::vector<uint8_t> encodeJpeg(const RgbImage& image, const JpegSettings& settings,
                                const std::vector<std::vector<uint8_t>>& segments);

}  // namespace sim
