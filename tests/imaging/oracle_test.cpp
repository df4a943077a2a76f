// Oracle comparisons: camera-like JPEGs made at test time with ImageMagick, cjpeg and
// exiftool, decoded by JpegDecoder and by `djpeg -dct int -nosmooth`, and read by ExifReader
// and by exiftool.
//
// Our arithmetic is not libjpeg's, so the pixels differ slightly: colour conversion truncates
// with the factors 0.714 and 0.344 where libjpeg rounds with exact ones, the IDCT passes run
// rows first where libjpeg runs columns first, and libjpeg limits Y, Cb and Cr to 0..255
// before converting while we convert the unlimited IDCT output (this last one gives the
// largest differences, at saturated noisy pixels). The bounds below are the largest
// differences observed, per picture kind, and the mean difference must stay small.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/exif_reader.h"
#include "imaging/jpeg_decoder.h"

namespace {

const std::string kDir = DORVEX_ORACLE_DIR;

bool run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

std::string path(const std::string& name) {
    return kDir + "/" + name;
}

std::vector<uint8_t> readFile(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Binary PPM (P6) or PGM (P5) as RGB triples.
bool readPnm(const std::string& file, int* width, int* height, std::vector<uint8_t>* rgb) {
    const std::vector<uint8_t> data = readFile(file);
    size_t at = 0;
    std::vector<std::string> fields;
    while (fields.size() < 4 && at < data.size()) {
        while (at < data.size() && std::isspace(data[at])) {
            ++at;
        }
        std::string field;
        while (at < data.size() && !std::isspace(data[at])) {
            field += static_cast<char>(data[at++]);
        }
        fields.push_back(field);
    }
    ++at;
    if (fields.size() < 4 || (fields[0] != "P6" && fields[0] != "P5")) {
        return false;
    }
    *width = std::stoi(fields[1]);
    *height = std::stoi(fields[2]);
    const size_t pixels = static_cast<size_t>(*width) * *height;
    const bool grey = fields[0] == "P5";
    if (data.size() < at + pixels * (grey ? 1 : 3)) {
        return false;
    }
    rgb->clear();
    for (size_t i = 0; i < pixels; ++i) {
        for (int c = 0; c < 3; ++c) {
            rgb->push_back(grey ? data[at + i] : data[at + i * 3 + c]);
        }
    }
    return true;
}

class Oracle : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(run("mkdir -p '" + kDir + "'"));
        for (const char* tool : {"cjpeg", "djpeg", "convert", "exiftool"}) {
            ASSERT_TRUE(run(std::string("command -v ") + tool + " >/dev/null")) << tool << " is missing (./run setup)";
        }
        // Camera-like sources: smooth structure plus sensor-like noise, fixed seeds.
        for (const char* size : {"1152x872", "1024x768", "1021x767", "37x29", "17x9"}) {
            const std::string out = path(std::string("src-") + size + ".ppm");
            ASSERT_TRUE(run("convert -seed 7 -size " + std::string(size) +
                            " plasma:fractal -attenuate 0.5 +noise Gaussian '" + out + "'"));
        }
    }
};

struct Comparison {
    int maxDifference = 0;
    double meanDifference = 0;
};

// Encodes `source` with cjpeg `options`, decodes it both ways and compares.
void compareWithDjpeg(const std::string& name, const std::string& jpeg, Comparison* result) {
    const std::vector<uint8_t> bytes = readFile(jpeg);
    ASSERT_FALSE(bytes.empty());
    JpegDecoder decoder;
    ASSERT_TRUE(decoder.attach(bytes.data(), static_cast<int32_t>(bytes.size())));
    ASSERT_TRUE(decoder.decode()) << name << ": " << imageErrorName(decoder.lastError);
    const std::string reference = path(name + "-djpeg.pnm");
    ASSERT_TRUE(run("djpeg -dct int -nosmooth -pnm '" + jpeg + "' > '" + reference + "'"));
    int width = 0, height = 0;
    std::vector<uint8_t> expected;
    ASSERT_TRUE(readPnm(reference, &width, &height, &expected));
    ASSERT_EQ(decoder.width, width);
    ASSERT_EQ(decoder.height, height);
    long total = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
        const int d = std::abs(static_cast<int>(decoder.pixels[i]) - expected[i]);
        total += d;
        result->maxDifference = std::max(result->maxDifference, d);
    }
    result->meanDifference = static_cast<double>(total) / static_cast<double>(expected.size());
    std::printf("oracle %-28s %4dx%-4d max %d mean %.4f\n", name.c_str(), width, height, result->maxDifference,
                result->meanDifference);
}

struct Case {
    const char* name;
    const char* size;
    const char* options;
    int bound;
};

// Largest observed differences: colour 10 (noise driving samples past 0..255), grey 1.
const Case kCases[] = {
    {"camera-420-q90", "1152x872", "-quality 90 -sample 2x2", 10},
    {"camera-422-q75", "1152x872", "-quality 75 -sample 2x1", 10},
    {"camera-420-restart-rows", "1024x768", "-quality 85 -sample 2x2 -restart 1", 10},
    {"camera-422-optimized", "1024x768", "-quality 95 -sample 2x1 -optimize", 10},
    {"camera-444-q100", "1024x768", "-quality 100 -sample 1x1", 10},
    {"grey-q90", "1024x768", "-quality 90 -grayscale", 1},
    {"grey-restart-blocks", "1152x872", "-quality 60 -grayscale -restart 7B", 1},
    {"odd-420-restart", "1021x767", "-quality 80 -sample 2x2 -restart 5B", 10},
    {"odd-422-small", "37x29", "-quality 90 -sample 2x1", 10},
    {"odd-grey-small", "17x9", "-quality 90 -grayscale", 1},
};

TEST_F(Oracle, PixelsAgainstDjpeg) {
    for (const Case& c : kCases) {
        const std::string jpeg = path(std::string(c.name) + ".jpg");
        ASSERT_TRUE(run(std::string("cjpeg ") + c.options + " '" + path(std::string("src-") + c.size + ".ppm") +
                        "' > '" + jpeg + "'"));
        Comparison result;
        compareWithDjpeg(c.name, jpeg, &result);
        EXPECT_LE(result.maxDifference, c.bound) << c.name;
        // Truncating instead of rounding costs about 0.5 on average in colour; grey differs
        // only where the two IDCT pass orders round differently.
        EXPECT_LT(result.meanDifference, c.bound == 1 ? 0.05 : 0.55) << c.name;
    }
}

TEST_F(Oracle, ImageMagickAndCameraLayoutStreams) {
    // ImageMagick's encoder, and a camera-style stream: EXIF APP1 and no JFIF APP0.
    const std::string im = path("imagemagick-420.jpg");
    ASSERT_TRUE(run("convert '" + path("src-1152x872.ppm") + "' -quality 88 -sampling-factor 2x2 '" + im + "'"));
    Comparison result;
    compareWithDjpeg("imagemagick-420", im, &result);
    EXPECT_LE(result.maxDifference, 10);

    const std::string camera = path("camera-exif.jpg");
    ASSERT_TRUE(run("cjpeg -quality 90 -sample 2x1 '" + path("src-1152x872.ppm") + "' > '" + camera + "'"));
    ASSERT_TRUE(run("exiftool -q -overwrite_original -JFIF:all= -Make=Zelmar '" + camera + "'"));
    const std::vector<uint8_t> bytes = readFile(camera);
    ASSERT_GT(bytes.size(), 4u);
    EXPECT_EQ(bytes[3], 0xE1);  // APP1 first
    Comparison cameraResult;
    compareWithDjpeg("camera-exif", camera, &cameraResult);
    EXPECT_LE(cameraResult.maxDifference, 10);
}

// exiftool's value for each tag (-n: numbers unformatted; -f: "-" when absent).
std::map<std::string, std::string> exiftoolValues(const std::string& file) {
    const std::string out = file + ".tags";
    std::map<std::string, std::string> values;
    if (!run("exiftool -n -f -s -s -Make -Model -DateTimeOriginal -FNumber -ExposureTime -ExposureCompensation "
             "-CompressedBitsPerPixel -ExifByteOrder -ImageWidth -ImageHeight '" +
             file + "' > '" + out + "'")) {
        return values;
    }
    std::ifstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        std::string key = line.substr(0, colon);
        key.erase(key.find_last_not_of(' ') + 1);
        values[key] = line.substr(colon + 2);
    }
    return values;
}

TEST_F(Oracle, ExifRecordAgainstExiftool) {
    struct ExifCase {
        const char* order;
        const char* tags;
        bool bias;
    };
    const ExifCase cases[] = {
        {"MM", "-FNumber=2.8 -ExposureTime=1/60 -ExposureCompensation=-0.3 -CompressedBitsPerPixel=2.5", true},
        {"II", "-FNumber=5.6 -ExposureTime=1/250 -ExposureCompensation=+0.7 -CompressedBitsPerPixel=3", true},
        {"II", "-FNumber=4 -ExposureTime=2", false},
    };
    int index = 0;
    for (const ExifCase& c : cases) {
        const std::string file = path("exif-" + std::to_string(index++) + ".jpg");
        ASSERT_TRUE(run("cjpeg -quality 70 -sample 2x1 '" + path("src-1024x768.ppm") + "' > '" + file + "'"));
        ASSERT_TRUE(run("exiftool -q -overwrite_original -JFIF:all= -ExifByteOrder=" + std::string(c.order) +
                        " -Make='Zelmar Optical' -Model='Dorvex DC-1' -DateTimeOriginal='2026:12:07 10:11:12' " +
                        c.tags + " '" + file + "'"));
        std::map<std::string, std::string> expected = exiftoolValues(file);
        ASSERT_FALSE(expected.empty());
        const std::vector<uint8_t> bytes = readFile(file);
        ExifReader reader;
        ASSERT_TRUE(reader.attach(bytes.data(), static_cast<int32_t>(bytes.size())));
        ASSERT_TRUE(reader.readInfo()) << imageErrorName(reader.lastError);
        const ImageInfoRecord& r = reader.info;
        EXPECT_EQ(r.make.value_or("-"), expected["Make"]);
        EXPECT_EQ(r.model.value_or("-"), expected["Model"]);
        EXPECT_EQ(r.dateTimeOriginal.value_or("-"), expected["DateTimeOriginal"]);
        EXPECT_EQ(std::to_string(r.width), expected["ImageWidth"]);
        EXPECT_EQ(std::to_string(r.height), expected["ImageHeight"]);
        EXPECT_NEAR(r.fNumber, std::stod(expected["FNumber"]), 1e-6);
        EXPECT_NEAR(r.exposureTime, std::stod(expected["ExposureTime"]), 1e-7);
        if (c.bias) {
            EXPECT_NEAR(r.exposureBias, std::stod(expected["ExposureCompensation"]), 1e-6);
            EXPECT_EQ(r.qualityCode, static_cast<uint16_t>(std::stod(expected["CompressedBitsPerPixel"])));
        } else {
            EXPECT_EQ(expected["ExposureCompensation"], "-");
            EXPECT_EQ(r.exposureBias, 65535.0f);
            EXPECT_EQ(r.qualityCode, 0);
        }
        EXPECT_EQ(r.byteOrder, expected["ExifByteOrder"] == "II" ? 0x4949 : 0x4D4D) << expected["ExifByteOrder"];
        EXPECT_EQ(expected["ExifByteOrder"], c.order);
    }
}

}  // namespace
