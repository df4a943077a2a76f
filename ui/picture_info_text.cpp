#include "ui/picture_info_text.h"

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "resources/resource_ids.h"
#include "source/module.h"

namespace {

// Decimal digits from offset, stopping at the first non-digit or the end of the text.
unsigned readNumberAt(const char* text, size_t length, size_t offset) {
    unsigned value = 0;
    for (size_t i = offset; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10u + static_cast<unsigned>(text[i] - '0');
        if (value > 0xFFFFu) value = 0xFFFFu;  // the fields are 16 and 8 bits anyway
    }
    return value;
}

void copyText(char* out, size_t size, const char* text) {
    if (!size) return;
    if (!text) text = "";
    const size_t length = strnlen(text, size - 1);
    memcpy(out, text, length);
    out[length] = '\0';
}

void loadText(int id, char* out, int size, const char* fallback) {
    if (LoadStringA(moduleInstance(), id, out, size) <= 0) copyText(out, static_cast<size_t>(size), fallback);
}

}  // namespace

void PictureInfoText::clear() {
    memset(this, 0, sizeof(*this));
}

int qualityNameId(const char* model, int32_t width, uint16_t q, const char* firstModelName,
                  const char* secondModelName) {
    if (!model) return 0;
    if (firstModelName && *firstModelName && strstr(model, firstModelName)) {
        if (width < 1152) return IDS_QUALITY_ECONOMY;
        if (q == 1) return IDS_QUALITY_FINE;
        if (q == 2 || q == 3) return IDS_QUALITY_SUPER_FINE;
        return 0;
    }
    if (secondModelName && *secondModelName && strstr(model, secondModelName)) {
        if (q == 1) return IDS_QUALITY_NORMAL;
        if (q == 2) return IDS_QUALITY_FINE;
        if (q >= 6) return IDS_QUALITY_SUPER_FINE;
        return 0;
    }
    return 0;
}

int qualityNameId(const char* model, int32_t width, uint16_t qualityCode) {
    char first[32];
    char second[32];
    loadText(IDS_MODEL_DORVEX, first, sizeof(first), "");
    loadText(IDS_MODEL_PAVA, second, sizeof(second), "");
    return qualityNameId(model, width, qualityCode, first, second);
}

void formatDateText(const char* exifDate, char* out, int size) {
    if (size <= 0) return;
    out[0] = '\0';
    if (!exifDate) return;
    const size_t length = strnlen(exifDate, 64);
    const auto year = static_cast<uint16_t>(readNumberAt(exifDate, length, 0));
    const auto month = static_cast<uint8_t>(readNumberAt(exifDate, length, 5));
    const auto day = static_cast<uint8_t>(readNumberAt(exifDate, length, 8));
    const auto hour = static_cast<uint8_t>(readNumberAt(exifDate, length, 11));
    const auto minute = static_cast<uint8_t>(readNumberAt(exifDate, length, 14));
    // Out-of-range fields can make up to 21 characters; snprintf cuts them at the buffer.
    snprintf(out, static_cast<size_t>(size), "%04d/%02d/%02d %02d:%02d", year, month, day, hour, minute);
}

void formatShutter(float t, const char* unknownText, char* out, int size) {
    if (size <= 0) return;
    // No value, or one that cannot be a time (NaN, a reciprocal beyond int): "Unknown".
    const double reciprocal = t != 0.0f ? 1.0 / static_cast<double>(t) + 0.5 : 0.0;
    if (t == 0.0f || std::isnan(t) || (t < 1.0f && (reciprocal > 2147483647.0 || reciprocal < -2147483647.0)))
        copyText(out, static_cast<size_t>(size), unknownText);
    else if (t >= 1.0f)
        snprintf(out, static_cast<size_t>(size), "%.1f", static_cast<double>(t));
    else
        snprintf(out, static_cast<size_t>(size), "1/%d", static_cast<int>(reciprocal));
}

void formatAperture(float f, const char* unknownText, char* out, int size) {
    if (size <= 0) return;
    if (f == 0.0f || std::isnan(f)) {
        copyText(out, static_cast<size_t>(size), unknownText);
    } else if (std::fabs(f) < 1e9f && f == std::trunc(f)) {
        snprintf(out, static_cast<size_t>(size), "F%d", static_cast<int>(f));
    } else {
        snprintf(out, static_cast<size_t>(size), "F%.1f", static_cast<double>(f));
    }
}

void formatExposureComp(float b, const char* unknownText, char* out, int size) {
    if (size <= 0) return;
    if (b == exposureBiasAbsent)
        copyText(out, static_cast<size_t>(size), unknownText);
    else
        snprintf(out, static_cast<size_t>(size), "%+.1f", static_cast<double>(b));
}

void fillPictureInfoText(const PictureFacts& facts, PictureInfoText& text) {
    char unknown[32];
    loadText(IDS_UNKNOWN, unknown, sizeof(unknown), "Unknown");
    formatDateText(facts.dateTimeOriginal, text.date, sizeof(text.date));
    const int qualityId = facts.model ? qualityNameId(facts.model, facts.width, facts.qualityCode) : 0;
    if (qualityId)
        loadText(qualityId, text.quality, sizeof(text.quality), unknown);
    else
        copyText(text.quality, sizeof(text.quality), unknown);
    fillPictureSizeOnly(facts, text);
    formatShutter(facts.exposureTime, unknown, text.shutter, sizeof(text.shutter));
    formatAperture(facts.fNumber, unknown, text.aperture, sizeof(text.aperture));
    formatExposureComp(facts.exposureBias, unknown, text.exposureComp, sizeof(text.exposureComp));
    copyText(text.make, sizeof(text.make), facts.make);
    copyText(text.model, sizeof(text.model), facts.model);
}

void fillPictureSizeOnly(const PictureFacts& facts, PictureInfoText& text) {
    snprintf(text.size, sizeof(text.size), "%d x %d", static_cast<int>(facts.width), static_cast<int>(facts.height));
}
