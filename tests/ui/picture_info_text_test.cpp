// Formatting of a picture's recorded values into the texts of the slots and of the image
// information dialog, at the worked values and at the edges of the quality rule.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "resources/resource_ids.h"
#include "ui/picture_info_text.h"

namespace {

std::string shutter(float t) {
    char out[20];
    formatShutter(t, "Unknown", out, sizeof(out));
    return out;
}
std::string aperture(float f) {
    char out[20];
    formatAperture(f, "Unknown", out, sizeof(out));
    return out;
}
std::string exposure(float b) {
    char out[20];
    formatExposureComp(b, "Unknown", out, sizeof(out));
    return out;
}
std::string date(const char* exif) {
    char out[20];
    memset(out, 'x', sizeof(out));
    formatDateText(exif, out, sizeof(out));
    EXPECT_NE(memchr(out, '\0', sizeof(out)), nullptr);
    return out;
}

TEST(PictureInfoText, ShutterTimes) {
    EXPECT_EQ(shutter(0.0166667f), "1/60");
    EXPECT_EQ(shutter(1.0f / 500.0f), "1/500");
    EXPECT_EQ(shutter(0.25f), "1/4");  // 4 + 0.5 truncated
    EXPECT_EQ(shutter(2.0f), "2.0");
    EXPECT_EQ(shutter(1.0f), "1.0");
    EXPECT_EQ(shutter(0.0f), "Unknown");
    EXPECT_EQ(shutter(-0.0f), "Unknown");
    // Values no camera records must still give a bounded, sane text.
    EXPECT_EQ(shutter(std::numeric_limits<float>::quiet_NaN()), "Unknown");
    EXPECT_EQ(shutter(1e-30f), "Unknown");
    EXPECT_LT(shutter(1e30f).size(), 20u);
}

TEST(PictureInfoText, Apertures) {
    EXPECT_EQ(aperture(8.0f), "F8");
    EXPECT_EQ(aperture(2.8f), "F2.8");
    EXPECT_EQ(aperture(11.0f), "F11");
    EXPECT_EQ(aperture(0.0f), "Unknown");
    EXPECT_LT(aperture(3e38f).size(), 20u);
}

TEST(PictureInfoText, ExposureCompensation) {
    EXPECT_EQ(exposure(0.0f), "+0.0");
    EXPECT_EQ(exposure(-0.3f), "-0.3");
    EXPECT_EQ(exposure(1.7f), "+1.7");
    EXPECT_EQ(exposure(65535.0f), "Unknown");
    EXPECT_EQ(exposure(65534.0f), "+65534.0");
}

TEST(PictureInfoText, DatesFromExifForm) {
    EXPECT_EQ(date("2026:12:07 09:31:45"), "2026/12/07 09:31");
    EXPECT_EQ(date("1997:11:03 18:05:00"), "1997/11/03 18:05");
    // Short or malformed texts never read past their end and never overflow the 20 bytes.
    EXPECT_EQ(date("2026:12"), "2026/12/00 00:00");
    EXPECT_EQ(date(""), "0000/00/00 00:00");
    EXPECT_EQ(date("    :  :     :  :  "), "0000/00/00 00:00");
    EXPECT_EQ(date("99999999999999999999").size(), 19u);
    EXPECT_EQ(date(nullptr), "");
}

TEST(PictureInfoText, QualityRuleForBothModels) {
    const char* d = "Dorvex";
    const char* p = "Pava";
    // First model: width decides Economy whatever the code.
    EXPECT_EQ(qualityNameId("Zelmar Dorvex", 1024, 1, d, p), IDS_QUALITY_ECONOMY);
    EXPECT_EQ(qualityNameId("Zelmar Dorvex", 1151, 2, d, p), IDS_QUALITY_ECONOMY);
    EXPECT_EQ(qualityNameId("Zelmar Dorvex", 1152, 1, d, p), IDS_QUALITY_FINE);
    EXPECT_EQ(qualityNameId("Zelmar Dorvex", 1152, 2, d, p), IDS_QUALITY_SUPER_FINE);
    EXPECT_EQ(qualityNameId("Zelmar Dorvex", 1280, 3, d, p), IDS_QUALITY_SUPER_FINE);
    EXPECT_EQ(qualityNameId("Zelmar Dorvex", 1280, 4, d, p), 0);
    EXPECT_EQ(qualityNameId("Zelmar Dorvex", 1280, 0, d, p), 0);
    // Second model: the code alone.
    EXPECT_EQ(qualityNameId("Pava 2", 640, 1, d, p), IDS_QUALITY_NORMAL);
    EXPECT_EQ(qualityNameId("Pava 2", 640, 2, d, p), IDS_QUALITY_FINE);
    EXPECT_EQ(qualityNameId("Pava 2", 640, 6, d, p), IDS_QUALITY_SUPER_FINE);
    EXPECT_EQ(qualityNameId("Pava 2", 640, 9, d, p), IDS_QUALITY_SUPER_FINE);
    for (uint16_t q : {0, 3, 4, 5}) EXPECT_EQ(qualityNameId("Pava 2", 640, q, d, p), 0) << q;
    // The first name that matches wins; the test is case-sensitive.
    EXPECT_EQ(qualityNameId("Dorvex Pava", 2000, 6, d, p), 0);
    EXPECT_EQ(qualityNameId("Pava Dorvex", 1024, 6, d, p), IDS_QUALITY_ECONOMY);
    EXPECT_EQ(qualityNameId("DORVEX", 1024, 1, d, p), 0);
    EXPECT_EQ(qualityNameId("Other", 1024, 1, d, p), 0);
    EXPECT_EQ(qualityNameId(nullptr, 1024, 1, d, p), 0);
    // The model names come from the string table.
    EXPECT_EQ(qualityNameId("Zelmar Dorvex", 1152, 1), IDS_QUALITY_FINE);
    EXPECT_EQ(qualityNameId("Pava", 0, 1), IDS_QUALITY_NORMAL);
}

TEST(PictureInfoText, FillsTheBlockFromARecord) {
    PictureFacts facts;
    facts.dateTimeOriginal = "2026:12:07 09:31:45";
    facts.make = "Zelmar Corporation";
    facts.model = "Zelmar Dorvex";
    facts.width = 1280;
    facts.height = 960;
    facts.qualityCode = 2;
    facts.fNumber = 2.8f;
    facts.exposureTime = 1.0f / 60.0f;
    facts.exposureBias = 0.0f;
    PictureInfoText text;
    text.clear();
    fillPictureInfoText(facts, text);
    EXPECT_STREQ(text.date, "2026/12/07 09:31");
    EXPECT_STREQ(text.quality, "Super Fine");
    EXPECT_STREQ(text.size, "1280 x 960");
    EXPECT_STREQ(text.shutter, "1/60");
    EXPECT_STREQ(text.aperture, "F2.8");
    EXPECT_STREQ(text.exposureComp, "+0.0");
    EXPECT_STREQ(text.make, "Zelmar Corporation");
    EXPECT_STREQ(text.model, "Zelmar Dorvex");
}

TEST(PictureInfoText, AbsentValuesReadUnknownOrEmpty) {
    PictureFacts facts;  // reader defaults: nothing found
    std::string longMake(200, 'M');
    facts.make = longMake.c_str();
    PictureInfoText text;
    text.clear();
    fillPictureInfoText(facts, text);
    EXPECT_STREQ(text.date, "");
    EXPECT_STREQ(text.quality, "Unknown");
    EXPECT_STREQ(text.size, "0 x 0");
    EXPECT_STREQ(text.shutter, "Unknown");
    EXPECT_STREQ(text.aperture, "Unknown");
    EXPECT_STREQ(text.exposureComp, "Unknown");
    EXPECT_EQ(strlen(text.make), 63u);
    EXPECT_STREQ(text.model, "");

    text.clear();
    facts.width = 640;
    facts.height = 480;
    fillPictureSizeOnly(facts, text);
    EXPECT_STREQ(text.size, "640 x 480");
    EXPECT_STREQ(text.quality, "");
}

}  // namespace
