// dorvex-imaging: runs the product's image decoders on files.
//   dorvex-imaging decode IN OUT.ppm   JPEG (or TIFF thumbnail when the first byte is not 0xFF)
//   dorvex-imaging exif IN             the EXIF record as key=value lines
//   dorvex-imaging dither IN OUT.ppm   decode, dither to the shared palette, write the result
//   dorvex-imaging --help
// A failure prints "dorvex-imaging: FILE: what is wrong" on standard error. Exit status: 1 when
// the decoder refused the file, 2 when a file could not be read or written or on bad usage.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#if defined(DORVEX_HUGE_PAGE_BUFFERS)
#include <sys/mman.h>
#endif

#include "imaging/dib_image.h"
#include "imaging/jpeg_decoder.h"
#if __has_include("imaging/tiff_thumbnail_decoder.h")
#include "imaging/tiff_thumbnail_decoder.h"
#define DORVEX_HAVE_TIFF 1
#endif
#if __has_include("imaging/exif_reader.h")
#include "imaging/exif_reader.h"
#define DORVEX_HAVE_EXIF 1
#endif

#if defined(DORVEX_HUGE_PAGE_BUFFERS)
// A decoded picture is one buffer of megabytes that is written once from start to end: on
// Linux, ask for transparent huge pages for such buffers, so that touching it first costs a
// couple of page faults instead of one per 4 KB page (a tenth of a whole decode's time).
// Everything else goes to malloc as usual; delete below is free() for both kinds.
namespace {
constexpr size_t kHugePage = size_t{2} << 20;
void* allocate(size_t size) noexcept {
    if (size >= kHugePage / 2) {
        const size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
        if (void* p = std::aligned_alloc(kHugePage, rounded)) {
            madvise(p, rounded, MADV_HUGEPAGE);  // advice only: failure leaves normal pages
            return p;
        }
        return nullptr;
    }
    return std::malloc(size != 0 ? size : 1);
}
}  // namespace

void* operator new(size_t size) {
    if (void* p = allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) {
    if (void* p = allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new(size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
#endif

namespace {

void fail(const char* path, const char* what) {
    std::fprintf(stderr, "dorvex-imaging: %s: %s\n", path, what);
}

void failErrno(const char* path, const char* action, int error) {
    char text[300];
    std::snprintf(text, sizeof text, "%s (%s)", action, std::strerror(error ? error : EIO));
    fail(path, text);
}

// The kind of frame a JPEG marker starts, for a picture the baseline decoder refuses.
const char* frameKind(uint8_t marker) {
    switch (marker) {
    case 0xC1: return "extended sequential";
    case 0xC2: return "progressive";
    case 0xC3: return "lossless";
    case 0xC5: case 0xDE: case 0xDF: return "hierarchical";
    case 0xC6: return "hierarchical progressive";
    case 0xC7: return "hierarchical lossless";
    case 0xC9: case 0xCC: return "arithmetic-coded";
    case 0xCA: return "arithmetic-coded progressive";
    case 0xCB: return "arithmetic-coded lossless";
    default: return "arithmetic-coded hierarchical";  // 0xCD..0xCF
    }
}

// What a failed JPEG decode means, as specific as the file allows.
std::string jpegFailure(const JpegDecoder& jpeg, const std::vector<uint8_t>& data) {
    if (jpeg.lastError == ErrUnsupported) {
        return std::string("not a baseline JPEG (") + frameKind(jpeg.unsupportedMarker) + ")";
    }
    if (jpeg.lastError == ErrWrongFormat) {
        size_t i = 0;
        while (i < data.size() && data[i] == 0xFF) ++i;
        return i > 0 && i < data.size() && data[i] == 0xD8
                   ? "JPEG with an APP0 segment that is neither JFIF 1.x nor JFXX"
                   : "not a JPEG (no start-of-image marker)";
    }
    return imageErrorText(jpeg.lastError);
}

bool readFile(const char* path, std::vector<uint8_t>* data) {
    errno = 0;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        failErrno(path, "cannot open", errno);
        return false;
    }
    // One read of the whole file when its size is known; in pieces otherwise (a pipe).
    if (std::fseek(file, 0, SEEK_END) == 0) {
        const long size = std::ftell(file);
        std::rewind(file);
        if (size > 0 && size <= 0x7FFFFFFF) {
            data->resize(static_cast<size_t>(size));
            data->resize(std::fread(data->data(), 1, data->size(), file));
        }
    }
    uint8_t buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        data->insert(data->end(), buffer, buffer + n);
    }
    const bool readFailed = std::ferror(file) != 0;
    const int error = errno;
    std::fclose(file);
    if (readFailed) {
        failErrno(path, "cannot read", error);
        return false;
    }
    if (data->size() > 0x7FFFFFFF) {
        fail(path, "too large (2 GB at most)");
        return false;
    }
    return true;
}

// Closes a file being written; a failed write or close is reported with its cause.
bool finishWrite(const char* path, std::FILE* file, bool ok) {
    int error = ok ? 0 : errno;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) failErrno(path, "cannot write", error);
    return ok;
}

// Writes rows of pixels (top row first, `rowStep` bytes apart, `pixelStep` bytes per pixel,
// R, G, B or with `bgr` B, G, R) as a binary PPM.
bool writePpm(const char* path, int32_t width, int32_t height, const uint8_t* rows, long rowStep, int pixelStep,
              bool bgr) {
    errno = 0;
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        failErrno(path, "cannot create", errno);
        return false;
    }
    bool ok = std::fprintf(file, "P6\n%d %d\n255\n", width, height) > 0;
    if (!bgr && pixelStep == 3 && rowStep == static_cast<long>(width) * 3) {
        // Top-down unpadded R, G, B rows are exactly the PPM body.
        const size_t bytes = static_cast<size_t>(rowStep) * height;
        ok = ok && std::fwrite(rows, 1, bytes, file) == bytes;
        return finishWrite(path, file, ok);
    }
    std::vector<uint8_t> line(static_cast<size_t>(width) * 3);
    for (int32_t y = 0; y < height && ok; ++y) {
        const uint8_t* source = rows + rowStep * y;
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t* p = source + static_cast<size_t>(x) * pixelStep;
            line[x * 3 + 0] = bgr ? p[2] : p[0];
            line[x * 3 + 1] = p[1];
            line[x * 3 + 2] = bgr ? p[0] : p[2];
        }
        ok = std::fwrite(line.data(), 1, line.size(), file) == line.size();
    }
    return finishWrite(path, file, ok);
}

// Decodes with the decoder the first byte chooses. Returns the image, or null after saying
// what is wrong with the file.
std::unique_ptr<DibImage> decodeFile(const char* path, const std::vector<uint8_t>& data) {
    int32_t length = static_cast<int32_t>(data.size());
    if (data.empty()) {
        fail(path, "empty file");
        return nullptr;
    }
    if (data[0] == 0xFF) {
        auto jpeg = std::make_unique<JpegDecoder>();
        if (jpeg->attach(data.data(), length) && jpeg->decode()) {
            return jpeg;
        }
        fail(path, jpegFailure(*jpeg, data).c_str());
        return nullptr;
    }
#ifdef DORVEX_HAVE_TIFF
    auto tiff = std::make_unique<TiffThumbnailDecoder>();
    if (tiff->attach(data.data(), length) && tiff->decode()) {
        return tiff;
    }
    fail(path, tiff->lastError == ErrWrongFormat   ? "not a JPEG or a TIFF thumbnail"
               : tiff->lastError == ErrUnsupported ? "colour-mapped (palette) TIFF, not supported"
                                                   : imageErrorText(tiff->lastError));
#else
    fail(path, "not a JPEG");
#endif
    return nullptr;
}

int commandDecode(const char* in, const char* out) {
    std::vector<uint8_t> data;
    if (!readFile(in, &data)) {
        return 2;
    }
    std::unique_ptr<DibImage> image = decodeFile(in, data);
    if (!image) {
        return 1;
    }
    return writePpm(out, image->width, image->height, image->pixels, static_cast<long>(image->width) * 3, 3, false)
               ? 0
               : 2;
}

int commandDither(const char* in, const char* out) {
    std::vector<uint8_t> data;
    if (!readFile(in, &data)) {
        return 2;
    }
    std::unique_ptr<DibImage> image = decodeFile(in, data);
    if (!image) {
        return 1;
    }
    uint32_t size = 0;
    uint8_t* bits = image->makeDibBits(&size);
    if (bits == nullptr) {
        fail(in, imageErrorText(image->lastError));
        return 1;
    }
    image->ditherToPalette(bits);
    const long stride = static_cast<long>(DibImage::dibStride(image->width));
    // DIB rows are bottom-up: start at the last row and step backwards.
    const uint8_t* top = bits + stride * (image->height - 1);
    const bool ok = writePpm(out, image->width, image->height, top, -stride, 3, true);
    delete[] bits;
    return ok ? 0 : 2;
}

#ifdef DORVEX_HAVE_EXIF
void printText(const char* key, const char* value) {
    std::printf("%s=%s\n", key, value != nullptr ? value : "");
}

int commandExif(const char* in) {
    std::vector<uint8_t> data;
    if (!readFile(in, &data)) {
        return 2;
    }
    ExifReader reader;
    int ok = reader.attach(data.data(), static_cast<int32_t>(data.size()));
    if (ok) {
        ok = reader.readInfo();
    }
    const ImageInfoRecord& r = reader.info;
    std::printf("width=%d\n", r.width);
    std::printf("height=%d\n", r.height);
    printText("make", r.make ? r.make->c_str() : nullptr);
    printText("model", r.model ? r.model->c_str() : nullptr);
    printText("dateTimeOriginal", r.dateTimeOriginal ? r.dateTimeOriginal->c_str() : nullptr);
    std::printf("qualityCode=%u\n", static_cast<unsigned>(r.qualityCode));
    std::printf("fNumber=%.9g\n", static_cast<double>(r.fNumber));
    std::printf("exposureTime=%.9g\n", static_cast<double>(r.exposureTime));
    std::printf("exposureBias=%.9g\n", static_cast<double>(r.exposureBias));
    std::printf("byteOrder=0x%04X\n", static_cast<unsigned>(r.byteOrder));
    if (ok) {
        std::printf("result=ok\n");
        return 0;
    }
    std::printf("result=%s\n", imageErrorName(reader.lastError));
    std::fflush(stdout);
    fail(in, reader.lastError == ErrWrongFormat ? "no EXIF record (not a JPEG, or no EXIF segment before the frame)"
                                                : imageErrorText(reader.lastError));
    return 1;
}
#endif

const char usageText[] =
    "usage: dorvex-imaging decode IN OUT.ppm   decode a JPEG (or a TIFF thumbnail) to a PPM\n"
    "       dorvex-imaging exif IN             the EXIF record as key=value lines\n"
    "       dorvex-imaging dither IN OUT.ppm   decode and dither to the shared 256-colour palette\n"
    "       dorvex-imaging --help\n"
    "exit status: 0 done, 1 the file was refused (the cause on standard error),\n"
    "2 a file could not be read or written, or bad usage\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(usageText, stdout);
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "decode") == 0) {
        return commandDecode(argv[2], argv[3]);
    }
    if (argc == 4 && std::strcmp(argv[1], "dither") == 0) {
        return commandDither(argv[2], argv[3]);
    }
#ifdef DORVEX_HAVE_EXIF
    if (argc == 3 && std::strcmp(argv[1], "exif") == 0) {
        return commandExif(argv[2]);
    }
#endif
    std::fputs(usageText, stderr);
    return 2;
}
