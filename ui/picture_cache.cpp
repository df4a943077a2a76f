#include "ui/picture_cache.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <set>

#include "source/module.h"

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

namespace {

// Another process may hold the file for a moment (a reader, a replace under way, a virus
// scanner): such a failure is tried again a few times, about a third of a second in all.
constexpr int kAttempts = 8;

bool momentary(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

void pause(int attempt) {
    Sleep(static_cast<DWORD>(5 << (attempt < 4 ? attempt : 4)));
}

// A key held, ordered for looking up a file's records among those held in log time whatever the
// file holds; the information block's hash first, so that most comparisons never read it whole.
struct HeldKey {
    const PictureKey* key;
    uint32_t infoHash;
    explicit HeldKey(const PictureKey& k) : key(&k), infoHash(checksum(k.info.data(), k.info.size())) {}
    HeldKey(const PictureKey& k, uint32_t hash) : key(&k), infoHash(hash) {}
    bool operator<(const HeldKey& other) const {
        const PictureKey& a = *key;
        const PictureKey& b = *other.key;
        if (a.number != b.number) return a.number < b.number;
        if (a.handle != b.handle) return a.handle < b.handle;
        if (a.sizeKiB != b.sizeKiB) return a.sizeKiB < b.sizeKiB;
        if (a.mark != b.mark) return a.mark < b.mark;
        if (a.info.size() != b.info.size()) return a.info.size() < b.info.size();
        if (infoHash != other.infoHash) return infoHash < other.infoHash;
        return !a.info.empty() && std::memcmp(a.info.data(), b.info.data(), a.info.size()) < 0;
    }
};

// Writers of one file take turns (across processes, and threads of one), so that each one's
// merge sees what the one before it saved. Held for a read and a write of at most the budget.
class WriterTurn {
public:
    WriterTurn(const std::string& file, DWORD waitMs) {
        mutex = CreateMutexA(nullptr, FALSE, pictureCacheTurnName(file).c_str());
        // An owner that ended without letting go (WAIT_ABANDONED) hands it over: the file it
        // may have been writing is a file of its own, never the cache file.
        const DWORD waited = mutex ? WaitForSingleObject(mutex, waitMs) : WAIT_FAILED;
        held = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
    ~WriterTurn() {
        if (held) ReleaseMutex(mutex);
        if (mutex) CloseHandle(mutex);
    }
    WriterTurn(const WriterTurn&) = delete;
    WriterTurn& operator=(const WriterTurn&) = delete;
    bool held = false;

private:
    HANDLE mutex = nullptr;
};

// The application's thread waits for its turn without handling its messages, so that wait is
// kept well under the time an application may go unanswered; a save that misses it goes to a
// thread of its own, which may wait far longer.
constexpr DWORD kTurnWaitMs = 500;
constexpr DWORD kHandedOverTurnWaitMs = 30000;
// Saves handed over and not finished yet, at most kMostHandedOver: beyond that a save fails as
// it did before there were any, and the cache stays to be saved.
volatile LONG handedOver = 0;
constexpr LONG kMostHandedOver = 4;

bool isHex(const char* from, const char* to) {
    if (from == to) return false;
    for (const char* c = from; c != to; ++c)
        if (!std::isxdigit(static_cast<unsigned char>(*c))) return false;
    return true;
}

}  // namespace

std::string pictureCacheTurnName(const std::string& file) {
    std::string lower = file;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    char name[64];
    std::snprintf(name, sizeof name, "Local\\DorvexTwainPictureCache-%08x",
                  static_cast<unsigned>(checksum(reinterpret_cast<const uint8_t*>(lower.data()), lower.size())));
    return name;
}

PictureCache::Read PictureCache::readFile(std::vector<uint8_t>& bytes) const {
    // Shared for delete too, so that a writer can rename its new file over this one meanwhile.
    HANDLE f = INVALID_HANDLE_VALUE;
    for (int attempt = 0;; ++attempt) {
        f = CreateFileA(file_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (f != INVALID_HANDLE_VALUE) break;
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Read::Missing;
        if (!momentary(error) || attempt + 1 == kAttempts) return Read::Failed;
        pause(attempt);
    }
    // No more than we would keep, read at once.
    const size_t most = thumbnailBudget_ + (size_t{1} << 20);
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(f, &size) != 0;
    bytes.assign(ok ? static_cast<size_t>(std::min<ULONGLONG>(size.QuadPart, most)) : 0, 0);
    size_t have = 0;
    while (ok && have < bytes.size()) {
        DWORD n = 0;
        ok = ReadFile(f, bytes.data() + have, static_cast<DWORD>(bytes.size() - have), &n, nullptr) != 0;
        if (n == 0) break;  // shorter than it was a moment ago
        have += n;
    }
    bytes.resize(have);
    CloseHandle(f);
    return ok ? Read::Done : Read::Failed;
}

size_t PictureCache::load() {
    if (loaded_) return 0;
    if (file_.empty()) {
        loaded_ = true;
        return 0;
    }
    std::vector<uint8_t> bytes;
    const Read read = readFile(bytes);
    if (read == Read::Failed) return 0;  // not loaded: the next call tries again
    loaded_ = true;
    return read == Read::Done ? merge(bytes) : 0;
}

size_t PictureCache::merge(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < kHeaderBytes || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0 ||
        get32(bytes.data() + sizeof kMagic) != kVersion)
        return 0;
    std::set<HeldKey> held;
    for (const Entry& e : thumbnails_) held.emplace(e.key);
    // A file of ours has no more records than entries are kept: the rest of a larger one is
    // not looked at.
    size_t read = 0;
    size_t at = kHeaderBytes;
    for (size_t record = 0; record < kMaxEntries && thumbnails_.size() < kMaxEntries && bytes.size() - at >= 8;
         ++record) {
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
        const size_t cost = entryCost(entry.key, dataLength);
        if (thumbnailBytes_ + cost > thumbnailBudget_) continue;
        const HeldKey probe(entry.key);
        if (held.count(probe)) continue;  // the first (most recent) one counts
        entry.data.assign(p + 16 + infoLength, p + 16 + infoLength + dataLength);
        thumbnailBytes_ += cost;
        thumbnails_.push_back(std::move(entry));
        held.emplace(thumbnails_.back().key, probe.infoHash);
        ++read;
    }
    return read;
}

bool PictureCache::writeFile(const std::vector<uint8_t>& bytes) const {
    // A file of this writer's own beside the cache file (another process may be writing its own
    // at the same time), then renamed over it: a reader sees the old file or the new one.
    static volatile LONG serial = 0;
    std::string temporary;
    HANDLE f = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < kAttempts && f == INVALID_HANDLE_VALUE; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".%lx-%lx.new", static_cast<unsigned long>(GetCurrentProcessId()),
                      static_cast<unsigned long>(InterlockedIncrement(&serial)));
        temporary = file_ + suffix;
        f = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    if (!CloseHandle(f) || !ok) {
        DeleteFileA(temporary.c_str());
        return false;
    }
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExA(temporary.c_str(), file_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        if (!momentary(GetLastError()) || attempt + 1 == kAttempts) break;
        pause(attempt);
    }
    DeleteFileA(temporary.c_str());
    return false;
}

void PictureCache::removeStaleWriterFiles() const {
    // Only a writer holding the turn has a file of its own, so with the turn held here every one
    // found was left by a writer that ended mid-save. One still open is not touched all the same.
    const size_t slash = file_.find_last_of("\\/");
    const std::string folder = slash == std::string::npos ? std::string() : file_.substr(0, slash + 1);
    const std::string name = file_.substr(folder.size());
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((file_ + ".*.new").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        // Exactly "<name>.<process>-<serial>.new", as writeFile names them.
        const std::string candidate = found.cFileName;
        if (candidate.size() < name.size() + 7 || _strnicmp(candidate.c_str(), name.c_str(), name.size()) != 0 ||
            candidate[name.size()] != '.' || _stricmp(candidate.c_str() + candidate.size() - 4, ".new") != 0)
            continue;
        const char* first = candidate.c_str() + name.size() + 1;
        const char* last = candidate.c_str() + candidate.size() - 4;
        const char* dash = std::find(first, last, '-');
        if (dash == last || !isHex(first, dash) || !isHex(dash + 1, last)) continue;
        DeleteFileA((folder + candidate).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

bool PictureCache::save() {
    if (!dirty_ || file_.empty()) return true;
    WriterTurn turn(file_, kTurnWaitMs);
    return turn.held ? saveHoldingTurn() : handOver();
}

bool PictureCache::saveHoldingTurn() {
    removeStaleWriterFiles();
    // What others saved since this process read the file (or all of it, when it could not be
    // read then) stays, behind this process's own entries. A file that cannot be read now is
    // left alone rather than overwritten by a part of it.
    std::vector<uint8_t> bytes;
    const Read read = readFile(bytes);
    if (read == Read::Failed) return false;
    if (read == Read::Done) merge(bytes);
    loaded_ = true;
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
    if (!writeFile(out)) return false;
    dirty_ = false;
    return true;
}

DWORD WINAPI PictureCache::saveWhenTurnComes(void* parameter) {
    PictureCache* copy = static_cast<PictureCache*>(parameter);
    try {
        WriterTurn turn(copy->file_, kHandedOverTurnWaitMs);
        if (turn.held) copy->saveHoldingTurn();
    } catch (const std::bad_alloc&) {
        // Not saved; the cache it was copied from still is to be.
    }
    delete copy;
    InterlockedDecrement(&handedOver);
    exitModuleThread();
}

bool PictureCache::handOver() const {
    if (InterlockedIncrement(&handedOver) > kMostHandedOver) {
        InterlockedDecrement(&handedOver);
        return false;
    }
    std::unique_ptr<PictureCache> copy;
    try {
        // What a save writes: the thumbnails, not the pictures.
        copy.reset(new PictureCache(thumbnailBudget_, 0));
        copy->file_ = file_;
        copy->fileChosen_ = true;
        copy->thumbnails_ = thumbnails_;
        copy->thumbnailBytes_ = thumbnailBytes_;
        copy->dirty_ = true;
    } catch (const std::bad_alloc&) {
        InterlockedDecrement(&handedOver);
        return false;
    }
    if (!startModuleThread(saveWhenTurnComes, copy.get())) {
        InterlockedDecrement(&handedOver);
        return false;
    }
    copy.release();  // the thread's now
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
    while (!entries.empty() && (bytes + cost > budget || entries.size() >= kMaxEntries)) {
        bytes -= entryCost(entries.back().key, entries.back().data.size());
        entries.pop_back();
    }
    entries.push_front(Entry{key, std::vector<uint8_t>(data, data + count)});
    bytes += cost;
}

const std::vector<uint8_t>* PictureCache::thumbnail(const PictureKey& key) {
    // The order of use changes, but alone that is not worth rewriting the file: it is written
    // with the next entry that is new.
    Entry* e = find(thumbnails_, key, true);
    return e ? &e->data : nullptr;
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

namespace {
// Storage of a static never destroyed: the process's end leaves the cache as it is.
alignas(PictureCache) unsigned char cacheStorage[sizeof(PictureCache)];
PictureCache* cacheInstance = nullptr;
}  // namespace

PictureCache& pictureCache() {
    if (!cacheInstance) cacheInstance = new (cacheStorage) PictureCache();
    return *cacheInstance;
}

void releasePictureCache() {
    if (!cacheInstance) return;
    cacheInstance->~PictureCache();
    cacheInstance = nullptr;
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
