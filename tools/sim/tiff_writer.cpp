#include "tools/sim/tiff_writer.h"

#include <algorithm>

namespace sim {

namespace {
enum : uint16_t { Byte = 1, Ascii = 2, Short = 3, Long = 4, Rational = 5, Undefined = 7, SRational = 10 };
}

void TiffWriter::put16(std::vector<uint8_t>& out, uint16_t value) const {
    if (bigEndian_) {
        out.push_back(static_cast<uint8_t>(value >> 8));
        out.push_back(static_cast<uint8_t>(value));
    } else {
        out.push_back(static_cast<uint8_t>(value));
        out.push_back(static_cast<uint8_t>(value >> 8));
    }
}

void TiffWriter::put32(std::vector<uint8_t>& out, uint32_t value) const {
    if (bigEndian_) {
        put16(out, static_cast<uint16_t>(value >> 16));
        put16(out, static_cast<uint16_t>(value));
    } else {
        put16(out, static_cast<uint16_t>(value));
        put16(out, static_cast<uint16_t>(value >> 16));
    }
}

TiffEntry TiffWriter::ascii(uint16_t tag, const std::string& text) const {
    TiffEntry e{tag, Ascii, static_cast<uint32_t>(text.size() + 1), {}};
    e.value.assign(text.begin(), text.end());
    e.value.push_back(0);
    return e;
}

TiffEntry TiffWriter::shorts(uint16_t tag, const std::vector<uint16_t>& values) const {
    TiffEntry e{tag, Short, static_cast<uint32_t>(values.size()), {}};
    for (uint16_t v : values) put16(e.value, v);
    return e;
}

TiffEntry TiffWriter::longValue(uint16_t tag, uint32_t value) const {
    TiffEntry e{tag, Long, 1, {}};
    put32(e.value, value);
    return e;
}

TiffEntry TiffWriter::rationals(uint16_t tag, const std::vector<uint32_t>& numDen) const {
    TiffEntry e{tag, Rational, static_cast<uint32_t>(numDen.size() / 2), {}};
    for (uint32_t v : numDen) put32(e.value, v);
    return e;
}

TiffEntry TiffWriter::srational(uint16_t tag, int32_t num, int32_t den) const {
    TiffEntry e{tag, SRational, 1, {}};
    put32(e.value, static_cast<uint32_t>(num));
    put32(e.value, static_cast<uint32_t>(den));
    return e;
}

TiffEntry TiffWriter::undefined(uint16_t tag, const std::vector<uint8_t>& bytes) const {
    return TiffEntry{tag, Undefined, static_cast<uint32_t>(bytes.size()), bytes};
}

uint32_t TiffWriter::ifdSize(const std::vector<TiffEntry>& entries) {
    uint32_t size = 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
    for (const TiffEntry& e : entries) {
        if (e.value.size() > 4) size += static_cast<uint32_t>((e.value.size() + 1) & ~size_t{1});
    }
    return size;
}

void TiffWriter::header(std::vector<uint8_t>& out) const {
    out.push_back(bigEndian_ ? 'M' : 'I');
    out.push_back(bigEndian_ ? 'M' : 'I');
    put16(out, 42);
    put32(out, 8);
}

void TiffWriter::writeIfd(std::vector<uint8_t>& out, size_t base, std::vector<TiffEntry> entries,
                          uint32_t next) const {
    std::sort(entries.begin(), entries.end(),
              [](const TiffEntry& a, const TiffEntry& b) { return a.tag < b.tag; });
    const size_t start = out.size();
    uint32_t dataOffset = static_cast<uint32_t>(start - base + 2 + 12 * entries.size() + 4);
    std::vector<uint8_t> data;
    put16(out, static_cast<uint16_t>(entries.size()));
    for (const TiffEntry& e : entries) {
        put16(out, e.tag);
        put16(out, e.type);
        put32(out, e.count);
        if (e.value.size() <= 4) {
            // Values of four bytes or fewer stand left-justified in the entry itself.
            std::vector<uint8_t> field = e.value;
            field.resize(4, 0);
            out.insert(out.end(), field.begin(), field.end());
        } else {
            put32(out, dataOffset + static_cast<uint32_t>(data.size()));
            data.insert(data.end(), e.value.begin(), e.value.end());
            if (data.size() & 1) data.push_back(0);
        }
    }
    put32(out, next);
    out.insert(out.end(), data.begin(), data.end());
}

std::vector<uint8_t> makeExifSegment(const ExifFields& f) {
    const TiffWriter w(f.bigEndian);
    std::vector<TiffEntry> exif = {
        w.rationals(0x829A, {f.exposureNum, f.exposureDen}),
        w.rationals(0x829D, {f.fNumberNum, f.fNumberDen}),
        w.undefined(0x9000, {'0', '2', '1', '0'}),
        w.ascii(0x9003, f.dateTime),
        w.ascii(0x9004, f.dateTime),
        w.undefined(0x9101, {1, 2, 3, 0}),
        w.rationals(0x9102, {f.qualityNum, f.qualityDen}),
        w.undefined(0xA000, {'0', '1', '0', '0'}),
        w.shorts(0xA001, {1}),
        w.longValue(0xA002, static_cast<uint32_t>(f.width)),
        w.longValue(0xA003, static_cast<uint32_t>(f.height)),
    };
    if (f.hasBias) exif.push_back(w.srational(0x9204, f.biasNum, f.biasDen));
    std::vector<TiffEntry> ifd0 = {
        w.ascii(271, f.make),
        w.ascii(272, f.model),
        w.shorts(274, {1}),
        w.rationals(282, {72, 1}),
        w.rationals(283, {72, 1}),
        w.shorts(296, {2}),
        w.ascii(306, f.dateTime),
        w.shorts(531, {2}),
        w.longValue(0x8769, 0),
    };
    const uint32_t exifOffset = 8 + TiffWriter::ifdSize(ifd0);
    ifd0.back() = w.longValue(0x8769, exifOffset);

    std::vector<uint8_t> segment = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    const size_t base = segment.size();
    w.header(segment);
    w.writeIfd(segment, base, ifd0, 0);
    w.writeIfd(segment, base, exif, 0);
    const size_t length = segment.size() - 2;
    segment[2] = static_cast<uint8_t>(length >> 8);
    segment[3] = static_cast<uint8_t>(length);
    return segment;
}

namespace {

// 4:2:2 data units: Y0 Y1 Cb Cr per two pixels, chroma averaged over the pair.
std::vector<uint8_t> ycbcrUnits(const RgbImage& image) {
    std::vector<uint8_t> strip;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; x += 2) {
            int cbSum = 0, crSum = 0, n = 0;
            for (int i = 0; i < 2; ++i) {
                const int sx = std::min(x + i, image.width - 1);
                const uint8_t* p = &image.pixels[(static_cast<size_t>(y) * image.width + sx) * 3];
                const int luma = (19595 * p[0] + 38470 * p[1] + 7471 * p[2] + 32768) >> 16;
                strip.push_back(static_cast<uint8_t>(luma));
                cbSum += (-11059 * p[0] - 21709 * p[1] + 32768 * p[2] + 32768) >> 16;
                crSum += (32768 * p[0] - 27439 * p[1] - 5329 * p[2] + 32768) >> 16;
                ++n;
            }
            strip.push_back(static_cast<uint8_t>(std::clamp(cbSum / n + 128, 0, 255)));
            strip.push_back(static_cast<uint8_t>(std::clamp(crSum / n + 128, 0, 255)));
        }
    }
    return strip;
}

}  // namespace

std::vector<uint8_t> makeTiffThumbnail(const RgbImage& image, bool bigEndian, bool ycbcr) {
    const TiffWriter w(bigEndian);
    const std::vector<uint8_t> strip = ycbcr ? ycbcrUnits(image) : image.pixels;
    std::vector<TiffEntry> ifd = {
        w.shorts(256, {static_cast<uint16_t>(image.width)}),
        w.shorts(257, {static_cast<uint16_t>(image.height)}),
        w.shorts(258, {8, 8, 8}),
        w.shorts(259, {1}),
        w.shorts(262, {static_cast<uint16_t>(ycbcr ? 6 : 2)}),
        w.longValue(273, 0),
        w.shorts(274, {1}),
        w.shorts(277, {3}),
        w.longValue(278, static_cast<uint32_t>(image.height)),
        w.longValue(279, static_cast<uint32_t>(strip.size())),
        w.rationals(282, {72, 1}),
        w.rationals(283, {72, 1}),
        w.shorts(284, {1}),
        w.shorts(296, {2}),
    };
    if (ycbcr) {
        ifd.push_back(w.rationals(529, {299, 1000, 587, 1000, 114, 1000}));
        ifd.push_back(w.shorts(530, {2, 1}));
        ifd.push_back(w.shorts(531, {1}));
        ifd.push_back(w.rationals(532, {0, 1, 255, 1, 128, 1, 255, 1, 128, 1, 255, 1}));
    }
    const uint32_t stripOffset = 8 + TiffWriter::ifdSize(ifd);
    for (TiffEntry& e : ifd) {
        if (e.tag == 273) e = w.longValue(273, stripOffset);
    }
    std::vector<uint8_t> out;
    w.header(out);
    w.writeIfd(out, 0, ifd, 0);
    out.insert(out.end(), strip.begin(), strip.end());
    return out;
}

}  // namespace sim
