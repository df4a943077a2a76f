// PictureInfoText: the eight texts the image information dialog shows for a picture, and the
// formatting of a picture's recorded values (date, quality name, shutter, aperture, exposure
// compensation) that the acquire dialog uses for its slots and for that dialog.
#pragma once

#include <cstdint>

struct PictureInfoText {
    char date[20];
    char quality[20];
    char size[20];
    char shutter[20];
    char aperture[20];
    char exposureComp[20];
    char make[64];
    char model[64];

    void clear();
};

// The values of a picture's image-information record the texts are made from. Texts are
// null when the record has none.
struct PictureFacts {
    const char* dateTimeOriginal = nullptr;
    const char* make = nullptr;
    const char* model = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t qualityCode = 0;
    float fNumber = 0.0f;
    float exposureTime = 0.0f;
    float exposureBias = 65535.0f;
};

// Value the image-information reader leaves in exposureBias when the picture has none.
constexpr float exposureBiasAbsent = 65535.0f;

// Quality name string id (2006 "Super Fine" .. 2009 "Normal") for a model name, picture
// width and quality code, or 0 when the rule names none. The model names tested are strings
// 2004 and 2005 of the module's resources.
int qualityNameId(const char* model, int32_t width, uint16_t qualityCode);
// Same rule with the model names given.
int qualityNameId(const char* model, int32_t width, uint16_t qualityCode, const char* firstModelName,
                  const char* secondModelName);

// "YYYY/MM/DD HH:MM" from an EXIF date "YYYY:MM:DD HH:MM:SS"; fields missing from a short or
// malformed text read as 0. Output is always terminated within size.
void formatDateText(const char* exifDate, char* out, int size);
// "1/60", "2.0", or unknownText for no value.
void formatShutter(float exposureTime, const char* unknownText, char* out, int size);
// "F8", "F2.8", or unknownText.
void formatAperture(float fNumber, const char* unknownText, char* out, int size);
// "+0.0", "-0.3", or unknownText when absent.
void formatExposureComp(float exposureBias, const char* unknownText, char* out, int size);

// Fills every field from a record the reader has read successfully; "Unknown" is string 2014.
void fillPictureInfoText(const PictureFacts& facts, PictureInfoText& text);
// Only the size, for a record whose reading failed but whose width is known.
void fillPictureSizeOnly(const PictureFacts& facts, PictureInfoText& text);
