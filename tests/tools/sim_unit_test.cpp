// Pieces of the simulator that take untrusted input or make decisions the wire tests only see
// indirectly: information blocks and EXIF thumbnails cut from any file (truncated ones too),
// the encoder's stream structure, the fault plan's counting and randomness, the rate table and
// the clock's checks.
#include <gtest/gtest.h>

#include "tools/sim/camera_model.h"
#include "tools/sim/card.h"
#include "tools/sim/fault_plan.h"
#include "tools/sim/jpeg_encoder.h"
#include "tools/sim/scene.h"
#include "tools/sim/tiff_writer.h"

using Bytes = std::vector<uint8_t>;
constexpr size_t notFound = static_cast<size_t>(-1);

namespace {

Bytes smallJpeg(int width, int height, sim::ChromaSampling sampling, int restart) {
    return sim::encodeJpeg(sim::renderScene(3, width, height, 4), {80, sampling, restart}, {});
}

size_t find(const Bytes& data, std::initializer_list<uint8_t> pattern, size_t from = 0) {
    for (size_t i = from; i + pattern.size() <= data.size(); ++i) {
        if (std::equal(pattern.begin(), pattern.end(), data.begin() + static_cast<std::ptrdiff_t>(i))) return i;
    }
    return notFound;
}

}  // namespace

TEST(SimCard, InfoBlockEndsWithTheFrameHeaderForEveryPrefix) {
    sim::ExifFields fields;
    fields.make = "Zelmar";
    fields.model = "Dorvex";
    fields.dateTime = "2001:02:03 04:05:06";
    fields.width = 17;
    fields.height = 9;
    const Bytes file = sim::encodeJpeg(sim::renderScene(1, 17, 9, 4), {75, sim::ChromaSampling::S420, 0},
                                       {sim::makeExifSegment(fields)});
    const size_t sof = find(file, {0xFF, 0xC0});
    ASSERT_NE(sof, notFound);
    EXPECT_EQ(sim::extractInfoBlock(file), Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(sof + 19)));
    // Any truncation: never more than the input, always a prefix of it (ASan checks the reads).
    for (size_t n = 0; n <= file.size(); n += 7) {
        const Bytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
        const Bytes info = sim::extractInfoBlock(prefix);
        ASSERT_LE(info.size(), prefix.size());
        EXPECT_TRUE(std::equal(info.begin(), info.end(), prefix.begin()));
    }
    // Without a frame header the first 4096 bytes stand in.
    Bytes noFrame(5000, 0x00);
    noFrame[0] = 0xFF;
    noFrame[1] = 0xD8;
    EXPECT_EQ(sim::extractInfoBlock(noFrame).size(), 4096u);
}

TEST(SimCard, ExifThumbnailOnlyWhenItsOffsetsLieInside) {
    // TIFF in an APP1 with IFD0 (no entries) -> IFD1 with JPEGInterchangeFormat/Length.
    const sim::TiffWriter w(false);
    const Bytes thumb = {0xFF, 0xD8, 0xFF, 0xD9};
    auto fileWith = [&](uint32_t offset, uint32_t length) {
        Bytes tiff;
        w.header(tiff);
        w.writeIfd(tiff, 0, {}, 14);
        w.writeIfd(tiff, 0, {w.longValue(513, offset), w.longValue(514, length)}, 0);
        tiff.insert(tiff.end(), thumb.begin(), thumb.end());
        Bytes file = {0xFF, 0xD8, 0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
        file.insert(file.end(), tiff.begin(), tiff.end());
        file[4] = static_cast<uint8_t>((file.size() - 4) >> 8);
        file[5] = static_cast<uint8_t>(file.size() - 4);
        return file;
    };
    const uint32_t at = 14 + 2 + 2 * 12 + 4;
    EXPECT_EQ(sim::extractExifThumbnail(fileWith(at, 4)), thumb);
    EXPECT_TRUE(sim::extractExifThumbnail(fileWith(at, 5)).empty());
    EXPECT_TRUE(sim::extractExifThumbnail(fileWith(0xFFFFFFF0u, 4)).empty());
    Bytes truncated = fileWith(at, 4);
    for (size_t n = 0; n < truncated.size(); ++n) {
        sim::extractExifThumbnail(Bytes(truncated.begin(), truncated.begin() + static_cast<std::ptrdiff_t>(n)));
    }
}

TEST(SimJpeg, StreamStructureForEachSamplingAndRestarts) {
    struct Case { sim::ChromaSampling sampling; uint8_t factors; int restart; };
    for (const Case c : {Case{sim::ChromaSampling::S420, 0x22, 0}, Case{sim::ChromaSampling::S422, 0x21, 2},
                         Case{sim::ChromaSampling::S444, 0x11, 1}}) {
        const Bytes jpeg = smallJpeg(33, 17, c.sampling, c.restart);
        ASSERT_GT(jpeg.size(), 200u);
        EXPECT_EQ(Bytes(jpeg.end() - 2, jpeg.end()), (Bytes{0xFF, 0xD9}));
        const size_t sof = find(jpeg, {0xFF, 0xC0, 0x00, 0x11, 0x08});
        ASSERT_NE(sof, notFound);
        EXPECT_EQ(Bytes(jpeg.begin() + static_cast<std::ptrdiff_t>(sof + 5), jpeg.begin() + static_cast<std::ptrdiff_t>(sof + 9)),
                  (Bytes{0x00, 17, 0x00, 33}));
        EXPECT_EQ(jpeg[sof + 11], c.factors);
        const size_t sos = find(jpeg, {0xFF, 0xDA});
        ASSERT_NE(sos, notFound);
        // Restart markers, numbered 0..7 cyclically, appear exactly when asked for.
        const int mcusWide = (33 + (c.factors >> 4) * 8 - 1) / ((c.factors >> 4) * 8);
        const int mcusHigh = (17 + (c.factors & 15) * 8 - 1) / ((c.factors & 15) * 8);
        int markers = 0;
        for (size_t i = sos + 14; i + 1 < jpeg.size() - 2; ++i) {
            if (jpeg[i] != 0xFF) continue;
            if (jpeg[i + 1] >= 0xD0 && jpeg[i + 1] <= 0xD7) {
                EXPECT_EQ(jpeg[i + 1], 0xD0 + markers % 8);
                ++markers;
            } else {
                EXPECT_EQ(jpeg[i + 1], 0x00) << "unstuffed 0xFF in the entropy data";
            }
        }
        const int expected = c.restart ? (mcusWide * mcusHigh - 1) / c.restart : 0;
        EXPECT_EQ(markers, expected);
    }
}

TEST(SimFaults, CountedFaultsHonourCommandAndSkip) {
    sim::SimOptions options;
    options.corrupt.count = 2;
    options.faultCommand = "GetJpeg";
    options.faultAfter = 1;
    sim::FaultPlan plan(options);
    EXPECT_FALSE(plan.nextTransmission("GetStat").corrupt);  // not eligible, not counted
    EXPECT_FALSE(plan.nextTransmission("GetJpeg").corrupt);  // skipped
    EXPECT_TRUE(plan.nextTransmission("GetJpeg").corrupt);
    EXPECT_FALSE(plan.nextTransmission("GetStat").corrupt);
    EXPECT_TRUE(plan.nextTransmission("GetJpeg").corrupt);
    EXPECT_FALSE(plan.nextTransmission("GetJpeg").corrupt);
}

TEST(SimFaults, RandomRateIsRoughlyTheRateAndRepeatable) {
    sim::SimOptions options;
    options.corrupt.rate = 0.01;
    options.seed = 42;
    sim::FaultPlan first(options), second(options);
    int hits = 0;
    for (int i = 0; i < 20000; ++i) {
        const bool a = first.nextTransmission("GetJpeg").corrupt;
        ASSERT_EQ(a, second.nextTransmission("GetJpeg").corrupt);
        hits += a;
    }
    EXPECT_GT(hits, 140);  // 200 expected; far outside these bounds means a broken draw
    EXPECT_LT(hits, 260);
}

TEST(SimCamera, RateTableAndClockChecks) {
    EXPECT_EQ(sim::CameraModel::rateCode(300), 0x0001);
    EXPECT_EQ(sim::CameraModel::rateCode(115200), 0x0200);
    EXPECT_EQ(sim::CameraModel::rateCode(14400), 0);
    EXPECT_EQ(sim::CameraModel::rateForCode(0x0020), 9600u);
    EXPECT_EQ(sim::CameraModel::rateForCode(0x0030), 0u);
    EXPECT_EQ(sim::CameraModel::rateForCode(0x0400), 0u);
    std::time_t t = 0;
    EXPECT_TRUE(sim::CameraModel::parseClock("2000-02-29T23:59:59", t));
    EXPECT_FALSE(sim::CameraModel::parseClock("2001-02-29T00:00:00", t));
    EXPECT_FALSE(sim::CameraModel::parseClock("1995-12-31T00:00:00", t));  // before the camera's epoch
    EXPECT_FALSE(sim::CameraModel::parseClock("2001-01-01T24:00:00", t));
    EXPECT_FALSE(sim::CameraModel::parseClock("2001-01-01T00:00:00x", t));
}
