#include "tools/sim/card.h"

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

#include "tools/sim/jpeg_encoder.h"
#include "tools/sim/scene.h"
#include "tools/sim/tiff_writer.h"

namespace sim {

uint16_t Picture::sizeKiB() const {
    if (sizeUnknown) return 0;
    const size_t kib = (file.size() + 1023) / 1024;
    return static_cast<uint16_t>(std::min<size_t>(kib, 0xFFFF));
}

namespace {

size_t segmentEnd(const std::vector<uint8_t>& file, size_t markerPos) {
    if (markerPos + 4 > file.size()) return file.size();
    const size_t length = (static_cast<size_t>(file[markerPos + 2]) << 8) | file[markerPos + 3];
    return std::min(file.size(), markerPos + 2 + length);
}

bool isStandaloneMarker(uint8_t code) { return code == 0x01 || (code >= 0xD0 && code <= 0xD8); }

}  // namespace

std::vector<uint8_t> extractInfoBlock(const std::vector<uint8_t>& file) {
    size_t pos = 0;
    // Walk the marker segments from SOI; stop at the first frame header or scan.
    while (pos + 1 < file.size()) {
        if (file[pos] != 0xFF) break;
        const uint8_t code = file[pos + 1];
        if (code == 0xFF) {
            ++pos;
            continue;
        }
        if (isStandaloneMarker(code)) {
            pos += 2;
            continue;
        }
        const size_t end = segmentEnd(file, pos);
        const bool frame = code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
        if (frame) return std::vector<uint8_t>(file.begin(), file.begin() + end);
        if (code == 0xDA || end <= pos) break;
        pos = end;
    }
    return std::vector<uint8_t>(file.begin(), file.begin() + std::min<size_t>(file.size(), 4096));
}

namespace {

// Bounds-checked reads inside the TIFF data of an EXIF segment.
struct TiffView {
    const uint8_t* data;
    size_t size;
    bool bigEndian;
    bool ok = true;
    uint32_t get(size_t offset, int bytes) {
        if (offset > size || static_cast<size_t>(bytes) > size - offset) {
            ok = false;
            return 0;
        }
        uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            const uint8_t b = data[offset + (bigEndian ? i : bytes - 1 - i)];
            value = (value << 8) | b;
        }
        return value;
    }
};

}  // namespace

std::vector<uint8_t> extractExifThumbnail(const std::vector<uint8_t>& file) {
    size_t pos = 2;
    while (pos + 4 <= file.size() && file[pos] == 0xFF && file[pos + 1] != 0xDA) {
        const size_t end = segmentEnd(file, pos);
        if (file[pos + 1] == 0xE1 && end >= pos + 18 && std::equal(file.begin() + pos + 4, file.begin() + pos + 10,
                                                                  "Exif\0\0")) {
            TiffView view{file.data() + pos + 10, end - pos - 10, file[pos + 10] == 'M'};
            const uint32_t ifd0 = view.get(4, 4);
            const uint32_t count0 = view.get(ifd0, 2);
            const uint32_t ifd1 = view.get(ifd0 + 2 + 12 * static_cast<size_t>(count0), 4);
            if (!view.ok || ifd1 == 0) return {};
            const uint32_t count1 = view.get(ifd1, 2);
            uint32_t offset = 0, length = 0;
            for (uint32_t i = 0; i < count1 && i < 64 && view.ok; ++i) {
                const size_t entry = ifd1 + 2 + 12 * static_cast<size_t>(i);
                const uint32_t tag = view.get(entry, 2);
                if (tag == 513) offset = view.get(entry + 8, 4);
                if (tag == 514) length = view.get(entry + 8, 4);
            }
            if (!view.ok || length == 0 || offset > view.size || length > view.size - offset) return {};
            return std::vector<uint8_t>(view.data + offset, view.data + offset + length);
        }
        if (end <= pos) break;
        pos = end;
    }
    return {};
}

namespace {

// The six kinds the built-in card cycles through: both models, both EXIF byte orders, 4:2:0
// and 4:2:2, with and without restart intervals, JPEG and TIFF (RGB and YCbCr) thumbnails.
struct PictureKind {
    const char* model;
    int width, height;
    uint32_t qualityNum, qualityDen;
    int jpegQuality;
    ChromaSampling sampling;
    int restartInterval;
    bool bigEndian;
    enum Thumb { JpegThumb, TiffYcc, TiffRgb } thumb;
    uint32_t exposureDen;
    uint32_t fNumberNum;
    bool hasBias;
    int32_t biasNum;
    int texture;
};

const PictureKind kinds[6] = {
    {"Dorvex", 1152, 872, 5, 2, 90, ChromaSampling::S420, 0, false, PictureKind::JpegThumb, 60, 28, true, 0, 8},
    {"Dorvex", 1152, 872, 1, 1, 75, ChromaSampling::S422, 36, true, PictureKind::JpegThumb, 125, 40, true, -3, 6},
    {"Pava", 1024, 768, 1, 1, 70, ChromaSampling::S420, 0, false, PictureKind::TiffYcc, 30, 56, true, 7, 4},
    {"Pava", 1024, 768, 6, 1, 92, ChromaSampling::S422, 0, true, PictureKind::TiffRgb, 250, 80, false, 0, 6},
    {"Dorvex", 1152, 872, 3, 1, 88, ChromaSampling::S422, 8, false, PictureKind::TiffYcc, 500, 110, true, 10, 8},
    {"Pava", 1024, 768, 2, 1, 80, ChromaSampling::S420, 0, true, PictureKind::JpegThumb, 15, 20, true, -10, 5},
};

Picture makePicture(int number) {
    const PictureKind& kind = kinds[(number - 1) % 6];
    char date[32];
    std::snprintf(date, sizeof date, "2001:02:%02d %02d:%02d:%02d", 1 + (number - 1) % 28, 8 + number % 12,
                  (number * 7) % 60, (number * 13) % 60);
    ExifFields exif;
    exif.bigEndian = kind.bigEndian;
    exif.make = "Zelmar";
    exif.model = kind.model;
    exif.dateTime = date;
    exif.exposureNum = 1;
    exif.exposureDen = kind.exposureDen;
    exif.fNumberNum = kind.fNumberNum;
    exif.fNumberDen = 10;
    exif.qualityNum = kind.qualityNum;
    exif.qualityDen = kind.qualityDen;
    exif.hasBias = kind.hasBias;
    exif.biasNum = kind.biasNum;
    exif.biasDen = 10;
    exif.width = kind.width;
    exif.height = kind.height;

    Picture picture;
    char name[16];
    std::snprintf(name, sizeof name, "%02d.jpg", number);
    picture.name = name;
    const RgbImage image = renderScene(number, kind.width, kind.height, kind.texture);
    picture.file = encodeJpeg(image, {kind.jpegQuality, kind.sampling, kind.restartInterval},
                              {makeExifSegment(exif)});
    picture.info = extractInfoBlock(picture.file);
    const RgbImage small = renderScene(number, 80, 60, kind.texture);
    switch (kind.thumb) {
    case PictureKind::JpegThumb:
        picture.thumbnail = encodeJpeg(small, {75, kind.sampling, 0}, {});
        break;
    case PictureKind::TiffYcc:
        picture.thumbnail = makeTiffThumbnail(small, kind.bigEndian, true);
        break;
    case PictureKind::TiffRgb:
        picture.thumbnail = makeTiffThumbnail(small, kind.bigEndian, false);
        break;
    }
    return picture;
}

bool readFile(const std::string& path, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool hasJpegExtension(const std::string& name) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    auto endsWith = [&](const std::string& suffix) {
        return lower.size() > suffix.size() && lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    return endsWith(".jpg") || endsWith(".jpeg");
}

}  // namespace

Card makeBuiltInCard(int count) {
    Card card;
    for (int n = 1; n <= count; ++n) card.pictures.push_back(makePicture(n));
    return card;
}

bool loadCardDirectory(const std::string& dir, Card& card, std::string& error) {
    DIR* handle = opendir(dir.c_str());
    if (!handle) {
        error = "cannot open card directory " + dir;
        return false;
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(handle)) {
        if (hasJpegExtension(entry->d_name)) names.push_back(entry->d_name);
    }
    closedir(handle);
    std::sort(names.begin(), names.end());
    if (names.size() > 0xFFF) names.resize(0xFFF);
    for (const std::string& name : names) {
        Picture picture;
        picture.name = name;
        if (!readFile(dir + "/" + name, picture.file) || picture.file.size() < 4 || picture.file[0] != 0xFF ||
            picture.file[1] != 0xD8) {
            error = "not a JPEG file: " + dir + "/" + name;
            return false;
        }
        picture.info = extractInfoBlock(picture.file);
        picture.thumbnail = extractExifThumbnail(picture.file);
        const std::string stem = dir + "/" + name.substr(0, name.rfind('.'));
        if (picture.thumbnail.empty() && !readFile(stem + ".thm", picture.thumbnail)) picture.thumbnail.clear();
        if (picture.thumbnail.empty() && !readFile(stem + ".tif", picture.thumbnail)) picture.thumbnail.clear();
        card.pictures.push_back(std::move(picture));
    }
    return true;
}

bool dumpCard(const Card& card, const std::string& dir, std::string& error) {
    mkdir(dir.c_str(), 0777);
    for (size_t i = 0; i < card.pictures.size(); ++i) {
        const Picture& picture = card.pictures[i];
        char stem[32];
        std::snprintf(stem, sizeof stem, "/%02zu", i + 1);
        const std::string base = dir + stem;
        bool ok = writeFile(base + ".jpg", picture.file) && writeFile(base + ".info", picture.info);
        if (!picture.thumbnail.empty()) {
            ok = ok && writeFile(base + (picture.thumbnail[0] == 0xFF ? ".thm" : ".tif"), picture.thumbnail);
        }
        if (!ok) {
            error = "cannot write " + base + ".*";
            return false;
        }
    }
    return true;
}

}  // namespace sim
