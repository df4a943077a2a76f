// ExifReader: reads the EXIF APP1 segment and the SOF0 size at the start of a JPEG stream
// (a picture's information block or a whole file) into an ImageInfoRecord.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "imaging/dib_image.h"

// Values read from a picture's EXIF block. Absent values keep the defaults below.
struct ImageInfoRecord {
    int32_t width = 0;   // SOF0 samples per line
    int32_t height = 0;  // SOF0 number of lines
    std::optional<std::string> make;              // tag 271
    std::optional<std::string> model;             // tag 272
    std::optional<std::string> dateTimeOriginal;  // tag 0x9003, "YYYY:MM:DD HH:MM:SS" as stored
    uint16_t qualityCode = 0;                     // tag 0x9102 CompressedBitsPerPixel, truncated
    float fNumber = 0.0f;                         // tag 0x829D
    float exposureTime = 0.0f;                    // tag 0x829A, seconds
    float exposureBias = 65535.0f;                // tag 0x9204, EV; 65535.0 when absent
    uint16_t byteOrder = 0x4D4D;                  // 0x4949 (II) or 0x4D4D (MM)
};

class ExifReader : public DibImage {
public:
    ExifReader() = default;
    ~ExifReader() override = default;

    // Parses the attached block. 1 on success (SOF0 reached after an EXIF APP1); 0 with
    // lastError set otherwise. `info` keeps whatever was read, even on failure.
    int readInfo();

    ImageInfoRecord info;

    // formatWord holds the parse progress: this value once an EXIF APP1 has been entered.
    static constexpr uint16_t kExifFound = 5;

private:
    struct TagValue;
    int readFrameSize();
    int readApp1();
    int readTiffData();
    int walkIfds();
    int handleIfdTag(uint16_t tag);
    int walkExifIfd();
    int handleExifTag(uint16_t tag);
    int readTagValue(TagValue* value);
    int readText(uint32_t count, TagValue* value);
    int readRational(bool isSigned, TagValue* value);

    int exifWalks = 0;
};
