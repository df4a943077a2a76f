// ExifReader: the record from camera-like information blocks in both byte orders, the
// value types, the segment walk and every failure it reports.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "imaging/exif_reader.h"
#include "tiff_test_writer.h"

using testtiff::Writer;

namespace {

struct ExifOptions {
    bool little = false;
    std::vector<uint8_t> version{'0', '2', '1', '0'};
    bool exposureBias = true;
    std::vector<uint32_t> fNumber{28, 10};
    std::vector<uint32_t> compressedBits{5, 2};
};

// IFD0 (Make, Model, Exif pointer), IFD1 (thumbnail tags), the Exif IFD.
Writer cameraTiff(const ExifOptions& o) {
    Writer w(o.little);
    const int ifd0 = w.addIfd();
    const int ifd1 = w.addIfd();
    const int exif = w.addIfd();
    w.numbers(ifd0, 274, testtiff::Short, {1});  // an unhandled tag
    w.text(ifd0, 271, "Zelmar");
    w.text(ifd0, 272, "Dorvex 100");
    w.pointer(ifd0, 0x8769, exif);
    w.numbers(ifd1, 259, testtiff::Short, {6});
    w.numbers(ifd1, 513, testtiff::Long, {1234});
    w.numbers(ifd1, 514, testtiff::Long, {5678});
    w.numbers(exif, 0x829A, testtiff::Rational, {1, 60});
    w.numbers(exif, 0x829D, testtiff::Rational, o.fNumber);
    w.undefined(exif, 0x9000, o.version);
    w.text(exif, 0x9003, "2026:12:07 10:11:12");
    w.numbers(exif, 0x9102, testtiff::Rational, o.compressedBits);
    if (o.exposureBias) {
        w.numbers(exif, 0x9204, testtiff::SRational, {static_cast<uint32_t>(-3), 10});
    }
    w.numbers(exif, 0xA002, testtiff::Long, {1152});  // unhandled
    w.chain({ifd0, ifd1});
    return w;
}

struct Result {
    int ok = 0;
    int32_t error = ErrNone;
    ImageInfoRecord info;
};

Result read(const std::vector<uint8_t>& block) {
    ExifReader reader;
    Result r;
    if (reader.attach(block.data(), static_cast<int32_t>(block.size()))) {
        r.ok = reader.readInfo();
    }
    r.error = reader.lastError;
    r.info = reader.info;
    return r;
}

Result readTiff(const Writer& w) {
    return read(testtiff::exifBlock(w.build(), 1152, 872));
}

TEST(ExifReader, CameraBlockInBothByteOrders) {
    for (bool little : {false, true}) {
        ExifOptions o;
        o.little = little;
        const Result r = readTiff(cameraTiff(o));
        ASSERT_TRUE(r.ok) << imageErrorName(r.error);
        EXPECT_EQ(r.info.width, 1152);
        EXPECT_EQ(r.info.height, 872);
        EXPECT_EQ(r.info.make.value_or("?"), "Zelmar");
        EXPECT_EQ(r.info.model.value_or("?"), "Dorvex 100");
        EXPECT_EQ(r.info.dateTimeOriginal.value_or("?"), "2026:12:07 10:11:12");
        EXPECT_EQ(r.info.qualityCode, 2);  // 5/2 truncated
        EXPECT_FLOAT_EQ(r.info.fNumber, 2.8f);
        EXPECT_FLOAT_EQ(r.info.exposureTime, 1.0f / 60.0f);
        EXPECT_FLOAT_EQ(r.info.exposureBias, -0.3f);
        EXPECT_EQ(r.info.byteOrder, little ? 0x4949 : 0x4D4D);
    }
}

TEST(ExifReader, RationalsAndAbsentValues) {
    ExifOptions o;
    o.fNumber = {28, 0};  // denominator 0
    o.compressedBits = {3, 1};
    o.exposureBias = false;
    const Result r = readTiff(cameraTiff(o));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.info.fNumber, 0.0f);
    EXPECT_EQ(r.info.qualityCode, 3);
    uint32_t bits = 0;
    std::memcpy(&bits, &r.info.exposureBias, 4);
    EXPECT_EQ(bits, 0x477FFF00u);  // 65535.0
}

TEST(ExifReader, ExifVersions) {
    for (const char* version : {"0210", "0110", "0232"}) {
        ExifOptions o;
        o.version.assign(version, version + 4);
        EXPECT_TRUE(readTiff(cameraTiff(o)).ok) << version;
    }
    ExifOptions o;
    o.version = {'0', '3', '0', '0'};
    const Result r = readTiff(cameraTiff(o));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, ErrBadSegment);
}

TEST(ExifReader, FrameBeforeApp1GivesSizeButFails) {
    std::vector<uint8_t> block = testtiff::exifBlock(cameraTiff({}).build(), 640, 480);
    // Move the 19-byte SOF0 from the end to just after SOI.
    std::vector<uint8_t> frame(block.end() - 19, block.end());
    block.erase(block.end() - 19, block.end());
    block.insert(block.begin() + 2, frame.begin(), frame.end());
    const Result r = read(block);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, ErrWrongFormat);
    EXPECT_EQ(r.info.width, 640);
    EXPECT_EQ(r.info.height, 480);
    EXPECT_FALSE(r.info.make.has_value());
}

TEST(ExifReader, App1LongerThanTheBlock) {
    // The declared length runs past the end; the tags present are read and the size comes
    // from the complete SOF0 at the very end.
    const std::vector<uint8_t> tiff = cameraTiff({}).build();
    const Result r = read(testtiff::exifBlock(tiff, 320, 240, 60000));
    ASSERT_TRUE(r.ok) << imageErrorName(r.error);
    EXPECT_EQ(r.info.width, 320);
    EXPECT_EQ(r.info.height, 240);
    EXPECT_EQ(r.info.model.value_or("?"), "Dorvex 100");
}

TEST(ExifReader, OtherApp1BeforeTheExifOneIsSkipped) {
    std::vector<uint8_t> block = testtiff::exifBlock(cameraTiff({}).build(), 320, 240);
    const std::vector<uint8_t> other{0xFF, 0xE1, 0, 12, 'h', 't', 't', 'p', ':', '/', '/', 'x', 'y', 'z'};
    block.insert(block.begin() + 2, other.begin(), other.end());
    const Result r = read(block);
    ASSERT_TRUE(r.ok) << imageErrorName(r.error);
    EXPECT_EQ(r.info.make.value_or("?"), "Zelmar");
}

TEST(ExifReader, TextsAreKeptInsideTheData) {
    // A short text stands in the entry; a text without its zero at the end of the data is cut.
    Writer w(false);
    const int ifd0 = w.addIfd();
    w.text(ifd0, 271, "Zel");
    w.chain({ifd0});
    std::vector<uint8_t> tiff = w.build();
    EXPECT_EQ(readTiff(w).info.make.value_or("?"), "Zel");

    Writer cut(true);
    const int only = cut.addIfd();
    cut.text(only, 272, "Model without end");
    cut.chain({only});
    tiff = cut.build();
    ASSERT_EQ(tiff.back(), 0);  // the text is the last thing in the data
    tiff.pop_back();
    // Declared length exactly the bytes present, so the reader sees the TIFF data end there.
    std::vector<uint8_t> block = testtiff::exifBlock(tiff, 8, 8);
    const Result r = read(block);
    ASSERT_TRUE(r.ok) << imageErrorName(r.error);
    EXPECT_EQ(r.info.model.value_or("?"), "Model without end");
}

TEST(ExifReader, TypesThatDoNotSuitTheFieldAreIgnored) {
    Writer w(false);
    const int ifd0 = w.addIfd();
    const int exif = w.addIfd();
    w.numbers(ifd0, 271, testtiff::Short, {7});
    w.pointer(ifd0, 0x8769, exif);
    w.text(exif, 0x829D, "2.8");
    w.chain({ifd0});
    const Result r = readTiff(w);
    ASSERT_TRUE(r.ok) << imageErrorName(r.error);
    EXPECT_FALSE(r.info.make.has_value());
    EXPECT_EQ(r.info.fNumber, 0.0f);
}

TEST(ExifReader, UndefinedNumbersReadAsBigEndianLongs) {
    // Four value bytes of type UNDEFINED: one 32-bit big-endian value in both byte orders.
    for (bool little : {false, true}) {
        Writer w(little);
        const int ifd0 = w.addIfd();
        const int exif = w.addIfd();
        w.pointer(ifd0, 0x8769, exif);
        w.undefined(exif, 0x9102, {0, 0, 0, 3});
        w.undefined(exif, 0x829D, {0, 0, 1, 2});
        w.undefined(exif, 0x829A, {0, 1, 0, 0});
        w.chain({ifd0});
        const Result r = readTiff(w);
        ASSERT_TRUE(r.ok) << imageErrorName(r.error);
        EXPECT_EQ(r.info.qualityCode, 3) << little;
        EXPECT_EQ(r.info.fNumber, 258.0f) << little;
        EXPECT_EQ(r.info.exposureTime, 65536.0f) << little;
    }
}

TEST(ExifReaderFailures, InputAndSegments) {
    ExifReader unattached;
    EXPECT_FALSE(unattached.readInfo());
    EXPECT_EQ(unattached.lastError, ErrNoImage);

    std::vector<uint8_t> block = testtiff::exifBlock(cameraTiff({}).build(), 8, 8);
    std::vector<uint8_t> notFF = block;
    notFF[0] = 0x49;
    EXPECT_EQ(read(notFF).error, ErrWrongFormat);

    std::vector<uint8_t> noFrame(block.begin(), block.end() - 19);
    EXPECT_EQ(read(noFrame).error, ErrEndOfData);

    const std::vector<uint8_t> noExif{0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 1, 2, 0xFF, 0xC0, 0, 17, 8, 0, 8, 0, 8, 3};
    EXPECT_EQ(read(noExif).error, ErrWrongFormat);

    std::vector<uint8_t> badOrder = block;
    badOrder[12] = 'X';  // first byte of the byte-order mark
    EXPECT_EQ(read(badOrder).error, ErrWrongFormat);
    std::vector<uint8_t> no42 = block;
    no42[15] = 43;
    EXPECT_EQ(read(no42).error, ErrWrongFormat);
}

TEST(ExifReaderFailures, OffsetsOutsideTheData) {
    std::vector<uint8_t> tiff = cameraTiff({}).build();
    std::vector<uint8_t> badIfd0 = tiff;
    badIfd0[4] = 0x7F;  // IFD0 offset (big-endian) far beyond the data
    EXPECT_EQ(read(testtiff::exifBlock(badIfd0, 8, 8)).error, ErrEndOfData);

    Writer next(false);
    const int ifd0 = next.addIfd();
    next.text(ifd0, 271, "Zelmar");
    next.chain({ifd0});
    tiff = next.build();
    // The next-IFD offset follows the single entry: header 8 + count 2 + entry 12.
    tiff[22] = 0x10;
    EXPECT_EQ(read(testtiff::exifBlock(tiff, 8, 8)).error, ErrEndOfData);

    const auto errorWithRaw = [](uint16_t tag, uint16_t type, uint32_t count, uint32_t value, bool inExif) {
        Writer w(true);
        const int ifd0 = w.addIfd();
        const int exif = w.addIfd();
        if (inExif) {
            w.pointer(ifd0, 0x8769, exif);
            w.raw(exif, tag, type, count, value);
        } else {
            w.raw(ifd0, tag, type, count, value);
        }
        w.chain({ifd0});
        return readTiff(w).error;
    };
    EXPECT_EQ(errorWithRaw(0x8769, testtiff::Long, 1, 100000, false), ErrEndOfData);  // sub-IFD offset
    EXPECT_EQ(errorWithRaw(271, testtiff::Ascii, 20, 100000, false), ErrEndOfData);   // text offset
    EXPECT_EQ(errorWithRaw(0x829D, testtiff::Rational, 1, 0xFFFFFFFC, true), ErrEndOfData);
    EXPECT_EQ(errorWithRaw(271, testtiff::Byte, 1, 0, false), ErrBadSegment);  // unsupported type
    EXPECT_EQ(errorWithRaw(272, testtiff::Ascii, 0, 0, false), ErrBadSegment);  // count 0

    // An unhandled entry that reaches the end of the data.
    Writer last(false);
    const int only = last.addIfd();
    last.numbers(only, 700, testtiff::Short, {1});
    last.chain({only});
    tiff = last.build();
    tiff.resize(tiff.size() - 4);  // drop the next-IFD offset
    EXPECT_EQ(read(testtiff::exifBlock(tiff, 8, 8)).error, ErrEndOfData);
}

TEST(ExifReaderFailures, LoopingIfdChainEnds) {
    Writer w(false);
    const int ifd0 = w.addIfd();
    const int ifd1 = w.addIfd();
    w.text(ifd0, 271, "Zelmar");
    w.text(ifd1, 272, "Dorvex");
    w.chain({ifd0, ifd1, ifd0});
    const Result r = readTiff(w);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, ErrBadSegment);
}

}  // namespace
