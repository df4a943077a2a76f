// TIFF structures for the built-in card: IFDs in either byte order (TIFF 6.0 section 2), the
// EXIF APP1 segment of a picture and uncompressed TIFF thumbnails.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/sim/jpeg_encoder.h"

namespace sim {

// One IFD entry; value holds the value bytes already in the file's byte order.
struct TiffEntry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    std::vector<uint8_t> value;
};

class TiffWriter {
public:
    explicit TiffWriter(bool bigEndian) : bigEndian_(bigEndian) {}

    TiffEntry ascii(uint16_t tag, const std::string& text) const;
    TiffEntry shorts(uint16_t tag, const std::vector<uint16_t>& values) const;
    TiffEntry longValue(uint16_t tag, uint32_t value) const;
    TiffEntry rationals(uint16_t tag, const std::vector<uint32_t>& numDen) const;  // num, den, ...
    TiffEntry srational(uint16_t tag, int32_t num, int32_t den) const;
    TiffEntry undefined(uint16_t tag, const std::vector<uint8_t>& bytes) const;

    // Size an IFD with these entries takes, out-of-line values included.
    static uint32_t ifdSize(const std::vector<TiffEntry>& entries);
    // Appends the 8-byte header pointing at IFD0 at offset 8.
    void header(std::vector<uint8_t>& out) const;
    // Appends an IFD at out.size() (relative to base, the TIFF header's position); entries are
    // sorted by tag here.
    void writeIfd(std::vector<uint8_t>& out, size_t base, std::vector<TiffEntry> entries, uint32_t next) const;

    void put16(std::vector<uint8_t>& out, uint16_t value) const;
    void put32(std::vector<uint8_t>& out, uint32_t value) const;

private:
    bool bigEndian_;
};

struct ExifFields {
    bool bigEndian = false;
    std::string make;
    std::string model;
    std::string dateTime;          // "YYYY:MM:DD HH:MM:SS"
    uint32_t exposureNum = 1, exposureDen = 60;
    uint32_t fNumberNum = 28, fNumberDen = 10;
    uint32_t qualityNum = 2, qualityDen = 1;  // CompressedBitsPerPixel
    bool hasBias = true;
    int32_t biasNum = 0, biasDen = 10;
    int width = 0;
    int height = 0;
};

// Complete APP1 segment: FF E1, length, "Exif\0\0", TIFF header, IFD0, Exif IFD.
std::vector<uint8_t> makeExifSegment(const ExifFields& fields);

// Uncompressed single-strip TIFF: RGB, or YCbCr 4:2:2 (TIFF 6.0 section 21) when ycbcr.
std::vector<uint8_t> makeTiffThumbnail(const RgbImage& image, bool bigEndian, bool ycbcr);

}  // namespace sim
