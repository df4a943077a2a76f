#include "ui/picture_cache.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>

// File layout: "DVXCACHE", a 32-bit version, then one record per thumbnail, most recently used
// first. A record is its payload's length and checksum (32-bit each, little-endian), then the
// payload: number, handle, size, mark (16-bit each), the information block and the thumbnail
// (each a 32-bit length and the bytes).

namespace {

const char kMagic[8] = {'D', 'V', 'X', 'C', 'A', 'C', 'H', 'E'};
constexpr uint32_t kVersion = 1;
constexpr size_t kHeaderBytes = sizeof kMagic + 4;
constexpr size_t kFixedPayloadBytes = 4 * 2 + 4 + 4;
// Nothing the camera sends comes near this; a larger length is damage.
constexpr uint32_t kMaxPartBytes = 16u << 20;

uint32_t checksum(const uint8_t* bytes, size_t count) {
    uint32_t hash = 2166136261u;  // FNV-1a
    for (size_t i = 0; i < count; ++i) {
        hash = (hash ^ bytes[i]) * 16777619u;
    }
    return hash;
}

void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint16_t get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

void PictureCache::setFile(const std::string& path) {
    fileChosen_ = true;
    if (path == file_ && loaded_) return;
    file_ = path;
    thumbnails_.clear();
    thumbnailBytes_ = 0;
    loaded_ = false;
    dirty_ = false;
}

void PictureCache::clearMemory() {
    thumbnails_.clear();
    pictures_.clear();
    thumbnailBytes_ = 0;
    pictureBytes_ = 0;
    loaded_ = false;
    dirty_ = false;
}

bool PictureCache::readFile(std::vector<uint8_t>& bytes) const {
    std::FILE* f = std::fopen(file_.c_str(), "rb");
    if (!f) return false;
    uint8_t chunk[65536];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (bytes.size() > thumbnailBudget_ + (size_t{1} << 20)) break;  // no more than we would keep
    }
    std::fclose(f);
    return true;
}

size_t PictureCache::load() {
    if (loaded_) return 0;
    loaded_ = true;
    if (file_.empty()) return 0;
    std::vector<uint8_t> bytes;
    if (!readFile(bytes) || bytes.size() < kHeaderBytes || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0 ||
        get32(bytes.data() + sizeof kMagic) != kVersion)
        return 0;
    size_t read = 0;
    size_t at = kHeaderBytes;
    while (bytes.size() - at >= 8) {
        const uint32_t length = get32(&bytes[at]);
        const uint32_t sum = get32(&bytes[at + 4]);
        at += 8;
        if (length > bytes.size() - at) break;  // cut short: nothing after it can be trusted
        const uint8_t* p = &bytes[at];
        at += length;
        if (length < kFixedPayloadBytes || checksum(p, length) != sum) continue;
        Entry entry;
        entry.key.number = get16(p);
        entry.key.handle = get16(p + 2);
        entry.key.sizeKiB = get16(p + 4);
        entry.key.mark = get16(p + 6);
        const uint32_t infoLength = get32(p + 8);
        if (infoLength > kMaxPartBytes || infoLength > length - kFixedPayloadBytes) continue;
        const uint32_t dataLength = get32(p + 12 + infoLength);
        if (dataLength != length - kFixedPayloadBytes - infoLength || dataLength == 0 || infoLength == 0) continue;
        entry.key.info.assign(p + 12, p + 12 + infoLength);
        entry.data.assign(p + 16 + infoLength, p + 16 + infoLength + dataLength);
        if (find(thumbnails_, entry.key, false)) continue;  // the first (most recent) one counts
        const size_t cost = entryCost(entry.key, entry.data.size());
        if (thumbnailBytes_ + cost > thumbnailBudget_) continue;
        thumbnailBytes_ += cost;
        thumbnails_.push_back(std::move(entry));
        ++read;
    }
    return read;
}

bool PictureCache::save() {
    if (!dirty_ || file_.empty()) return true;
    std::vector<uint8_t> out(kMagic, kMagic + sizeof kMagic);
    put32(out, kVersion);
    std::vector<uint8_t> payload;
    for (const Entry& e : thumbnails_) {
        payload.clear();
        put16(payload, e.key.number);
        put16(payload, e.key.handle);
        put16(payload, e.key.sizeKiB);
        put16(payload, e.key.mark);
        put32(payload, static_cast<uint32_t>(e.key.info.size()));
        payload.insert(payload.end(), e.key.info.begin(), e.key.info.end());
        put32(payload, static_cast<uint32_t>(e.data.size()));
        payload.insert(payload.end(), e.data.begin(), e.data.end());
        put32(out, static_cast<uint32_t>(payload.size()));
        put32(out, checksum(payload.data(), payload.size()));
        out.insert(out.end(), payload.begin(), payload.end());
    }
    // Written beside the file, then renamed over it: a reader sees the old file or the new one.
    const std::string temporary = file_ + ".new";
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f) return false;
    const bool written = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed ||
        !MoveFileExA(temporary.c_str(), file_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temporary.c_str());
        return false;
    }
    dirty_ = false;
    return true;
}

PictureCache::Entry* PictureCache::find(Entries& entries, const PictureKey& key, bool touch) {
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->key == key) {
            if (!touch) return &*it;
            entries.splice(entries.begin(), entries, it);
            return &entries.front();
        }
    }
    return nullptr;
}

void PictureCache::put(Entries& entries, size_t& bytes, size_t budget, const PictureKey& key, const uint8_t* data,
                       size_t count) {
    if (Entry* old = find(entries, key, true)) {
        bytes -= entryCost(old->key, old->data.size());
        entries.pop_front();
    }
    const size_t cost = entryCost(key, count);
    if (cost > budget || count == 0 || data == nullptr) return;
    while (!entries.empty() && bytes + cost > budget) {
        bytes -= entryCost(entries.back().key, entries.back().data.size());
        entries.pop_back();
    }
    entries.push_front(Entry{key, std::vector<uint8_t>(data, data + count)});
    bytes += cost;
}

const std::vector<uint8_t>* PictureCache::thumbnail(const PictureKey& key) {
    Entry* e = find(thumbnails_, key, true);
    if (!e) return nullptr;
    dirty_ = true;  // the order of use changed
    return &e->data;
}

const std::vector<uint8_t>* PictureCache::picture(const PictureKey& key) {
    Entry* e = find(pictures_, key, true);
    return e ? &e->data : nullptr;
}

void PictureCache::putThumbnail(const PictureKey& key, const uint8_t* bytes, size_t count) {
    put(thumbnails_, thumbnailBytes_, thumbnailBudget_, key, bytes, count);
    dirty_ = true;
}

void PictureCache::putPicture(const PictureKey& key, const uint8_t* bytes, size_t count) {
    put(pictures_, pictureBytes_, pictureBudget_, key, bytes, count);
}

PictureCache& pictureCache() {
    static PictureCache cache;
    return cache;
}

std::string defaultPictureCacheFile() {
    char base[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, base)) ||
        base[0] == '\0')
        return std::string();
    std::string path = base;
    for (const char* part : {"\\Zelmar", "\\Zelmar\\Dorvex TwainDS"}) {
        const std::string folder = path + part;
        if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
    }
    return path + "\\Zelmar\\Dorvex TwainDS\\pictures.cache";
}
