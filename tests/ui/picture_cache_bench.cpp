// Timing program of tests/bench/picture_cache_load.sh (not a test): the time PictureCache::load()
// takes on the worst files its reader accepts (the most bytes it reads, in the shapes that cost
// the most per byte), at the first Open of a session, and against reading and checksumming the
// same bytes once in the same run.
//
//   picture_cache_bench FOLDER [ENTRIES]
//
// ENTRIES (optional) also times a file of that many distinct tiny entries.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ui/picture_cache.h"

namespace {

void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t fnv(const std::vector<uint8_t>& bytes) {
    uint32_t hash = 2166136261u;
    for (uint8_t b : bytes) hash = (hash ^ b) * 16777619u;
    return hash;
}

// The cache file's layout, written independently of the reader.
struct FileBuilder {
    std::vector<uint8_t> bytes{'D', 'V', 'X', 'C', 'A', 'C', 'H', 'E', 1, 0, 0, 0};
    void add(uint16_t number, uint16_t handle, const std::vector<uint8_t>& info, size_t dataBytes, bool damaged = false) {
        std::vector<uint8_t> payload;
        put16(payload, number);
        put16(payload, handle);
        put16(payload, 1);
        put16(payload, 0);
        put32(payload, static_cast<uint32_t>(info.size()));
        payload.insert(payload.end(), info.begin(), info.end());
        put32(payload, static_cast<uint32_t>(dataBytes));
        payload.insert(payload.end(), dataBytes, static_cast<uint8_t>(number));
        put32(bytes, static_cast<uint32_t>(payload.size()));
        put32(bytes, fnv(payload) ^ (damaged ? 1u : 0u));
        bytes.insert(bytes.end(), payload.begin(), payload.end());
    }
};

// The most the reader reads of a file.
const size_t kReadLimit = PictureCache::kThumbnailBudget + (size_t{1} << 20);

double seconds(const LARGE_INTEGER& begin) {
    LARGE_INTEGER frequency, end;
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    return double(end.QuadPart - begin.QuadPart) / double(frequency.QuadPart);
}

// Best of three, of the load and of the reference: reading the file's bytes and checksumming
// each once, the least any reader of the file does.
void timeLoad(const std::string& file, size_t& entries, double& load, double& reference) {
    load = reference = 1e9;
    for (int run = 0; run < 3; ++run) {
        LARGE_INTEGER begin;
        QueryPerformanceCounter(&begin);
        HANDLE f = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        LARGE_INTEGER size{};
        GetFileSizeEx(f, &size);
        std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart));
        DWORD n = 0;
        ReadFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
        CloseHandle(f);
        volatile uint32_t sum = fnv(bytes);
        (void)sum;
        reference = std::min(reference, seconds(begin));

        PictureCache cache;
        cache.setFile(file);
        QueryPerformanceCounter(&begin);
        entries = cache.load();
        load = std::min(load, seconds(begin));
    }
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: picture_cache_bench FOLDER [ENTRIES]\n");
        return 2;
    }
    const std::string folder = argv[1];
    struct Shape {
        const char* name;
        FileBuilder file;
    };
    std::vector<Shape> shapes;
    const std::vector<uint8_t> oneByte{0xFF};
    {
        // Distinct tiny entries up to the read limit (the shape that took minutes before).
        Shape s{"tiny entries", {}};
        for (uint32_t i = 0; s.file.bytes.size() < kReadLimit; ++i)
            s.file.add(static_cast<uint16_t>(i), static_cast<uint16_t>(i >> 16), oneByte, 1);
        shapes.push_back(std::move(s));
    }
    {
        Shape s{"one entry repeated", {}};
        while (s.file.bytes.size() < kReadLimit) s.file.add(1, 1, oneByte, 1);
        shapes.push_back(std::move(s));
    }
    {
        Shape s{"damaged tiny entries", {}};
        for (uint32_t i = 0; s.file.bytes.size() < kReadLimit; ++i) s.file.add(static_cast<uint16_t>(i), 0, oneByte, 1, true);
        shapes.push_back(std::move(s));
    }
    {
        // Information blocks alike but for their last byte: every key comparison reads them whole.
        Shape s{"long look-alike keys", {}};
        std::vector<uint8_t> info(3000, 0x41);
        for (uint32_t i = 0; s.file.bytes.size() < kReadLimit; ++i) {
            info[info.size() - 2] = static_cast<uint8_t>(i >> 8);
            info.back() = static_cast<uint8_t>(i);
            s.file.add(1, 1, info, 1);
        }
        shapes.push_back(std::move(s));
    }
    {
        Shape s{"large entries", {}};
        while (s.file.bytes.size() < kReadLimit) s.file.add(static_cast<uint16_t>(s.file.bytes.size()), 2, oneByte, 200000);
        shapes.push_back(std::move(s));
    }
    if (argc > 2) {
        Shape s{"distinct tiny entries (given count)", {}};
        const unsigned long count = std::strtoul(argv[2], nullptr, 10);
        for (uint32_t i = 0; i < count; ++i) s.file.add(static_cast<uint16_t>(i), static_cast<uint16_t>(i >> 16), oneByte, 1);
        shapes.push_back(std::move(s));
    }
    double worst = 0, worstRatio = 0;
    for (size_t i = 0; i < shapes.size(); ++i) {
        const std::string path = folder + "\\bench-" + std::to_string(i) + ".cache";
        if (!writeFile(path, shapes[i].file.bytes)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 2;
        }
        size_t entries = 0;
        double load = 0, reference = 0;
        timeLoad(path, entries, load, reference);
        worst = std::max(worst, load);
        worstRatio = std::max(worstRatio, load / reference);
        std::printf("%-36s %9zu bytes: %6zu entries loaded in %.4f s (read and checksum: %.4f s, x%.2f)\n",
                    shapes[i].name, shapes[i].file.bytes.size(), entries, load, reference, load / reference);
        DeleteFileA(path.c_str());
    }
    std::printf("worst load: %.4f s\n", worst);
    std::printf("worst ratio: %.2f\n", worstRatio);
    return 0;
}
