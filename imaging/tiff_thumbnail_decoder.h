// TiffThumbnailDecoder: uncompressed TIFF thumbnails (grey, RGB, subsampled YCbCr) to RGB pixels.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/dib_image.h"

class TiffThumbnailDecoder : public DibImage {
public:
    TiffThumbnailDecoder();
    ~TiffThumbnailDecoder() override = default;

    // Reads the header and every IFD, then converts the strips. 1 on success; 0 with
    // lastError set on failure (a palette picture fails with ErrNone).
    int decode();

    // Tag values as read (bitsPerPixel of DibImage holds the sum of BitsPerSample).
    uint16_t byteOrder = 0x4D4D;
    uint16_t compression = 1;
    uint16_t photometric = 2;
    uint16_t samplesPerPixel = 1;
    int32_t rowsPerStrip = 0;  // 0: all rows
    int32_t stripCount = 1;
    std::vector<uint32_t> stripByteCounts;  // empty until the tag is read
    std::vector<uint32_t> stripOffsets;
    uint16_t ycbcrPositioning = 1;
    uint16_t subsamplingH = 2;
    uint16_t subsamplingV = 2;
    float crToRed = 1.402f;
    float cbToBlue = 1.772f;
    float cbToGreen = -0.344f;
    float crToGreen = -0.714f;
    uint16_t referenceBlackWhite[6] = {0, 256, 0, 256, 0, 256};

private:
    struct Values;
    int readHeader();
    int walkIfds();
    int handleTag(uint16_t tag);
    int readValues(uint32_t allowedTypes, uint32_t maxCount, Values* values);
    int storeCoefficients(const Values& values);
    int convertStrips();
    int checkStrips(int32_t rows, uint64_t bytesPerRowGroup, int32_t rowsPerGroup);
    void convertGreyOrRgb(int32_t rows);
    void convertYCbCr(int32_t rows);
};
