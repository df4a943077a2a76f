// PictureCache: what the acquire dialog fetched from the camera, kept so that the same bytes
// need not cross the serial line again.
//
// A picture is known by its number, the camera's handle, its size and mark from the status, and
// its whole information block (which holds the recorded date and time, the quality and the
// frame size): an entry is used only when all of these equal what the camera reports now, so a
// changed card (a picture deleted, another one under an old number, the clock changed) never
// yields another picture's data.
//
// Thumbnails (with the information block they belong to) are kept in memory and in one file,
// bounded by kThumbnailBudget and kMaxEntries, least recently used first out; the file is replaced
// atomically (written to a file of the writer's own beside it, then renamed over) and read back
// entry by entry, each with its own checksum, so that a damaged entry is skipped and fetched
// again. Other processes (other applications with the source loaded) share the file: writers
// take turns, and a save keeps what the others saved meanwhile, after this process's own
// entries. A writer's own file left by one that ended mid-save is removed by the next save.
// Downloaded pictures are kept in memory only, for the process's lifetime, bounded by
// kPictureBudget: the user's photographs are never copied to disk behind their back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <vector>

struct PictureKey {
    uint16_t number = 0;
    uint16_t handle = 0;
    uint16_t sizeKiB = 0;
    uint16_t mark = 0;
    std::vector<uint8_t> info;  // the information block as the camera sent it

    bool operator==(const PictureKey& other) const {
        return number == other.number && handle == other.handle && sizeKiB == other.sizeKiB &&
               mark == other.mark && info == other.info;
    }
};

class PictureCache {
public:
    static constexpr size_t kThumbnailBudget = size_t{16} << 20;
    static constexpr size_t kPictureBudget = size_t{8} << 20;
    // Entries held at most, in each list and in the file. A card holds a few hundred pictures,
    // and a real entry (information block and thumbnail, 5 to 20 KB) fills the budget well
    // before this; what it bounds is the cost of a damaged or hostile file of tiny entries:
    // reading stops there, keeping the most recently used, which come first.
    static constexpr size_t kMaxEntries = 4096;

    explicit PictureCache(size_t thumbnailBudget = kThumbnailBudget, size_t pictureBudget = kPictureBudget)
        : thumbnailBudget_(thumbnailBudget), pictureBudget_(pictureBudget) {}

    // The file the thumbnails live in (empty: memory only). Setting another file forgets the
    // thumbnails held so far; the next load() reads the new file.
    void setFile(const std::string& path);
    const std::string& file() const { return file_; }
    bool fileChosen() const { return fileChosen_; }

    // Reads the file once (later calls do nothing until setFile). Entries that do not check out
    // are skipped, and those after the first kMaxEntries; a missing file is an empty cache. A
    // file that cannot be read now (another program holds it) is tried again at the next call.
    // The file's entries go after those already held. Returns the entries read.
    size_t load();
    // Writes the thumbnails when one was added or replaced since the last load or save (using
    // them only changes their order, which is written with the next such change), with the
    // entries other processes saved meanwhile after them. When another writer keeps the turn
    // longer than the application's thread should wait, a copy is saved by a thread of its own
    // once the turn comes (the process may end meanwhile without waiting for it, and the
    // library stays loaded until it is done); the cache then stays to be saved again. False when the file could not be written, or could not be read
    // first (the old one is then left as it was, and the next save tries again), or could not
    // be handed over.
    bool save();

    // Null when nothing is kept for this picture; else its bytes, valid until the next change.
    const std::vector<uint8_t>* thumbnail(const PictureKey& key);
    const std::vector<uint8_t>* picture(const PictureKey& key);
    void putThumbnail(const PictureKey& key, const uint8_t* bytes, size_t count);
    void putPicture(const PictureKey& key, const uint8_t* bytes, size_t count);

    // Forgets everything held in memory (the file stays): what a new process starts with.
    void clearMemory();

    size_t thumbnailCount() const { return thumbnails_.size(); }
    size_t thumbnailBytes() const { return thumbnailBytes_; }
    size_t pictureCount() const { return pictures_.size(); }
    size_t pictureBytes() const { return pictureBytes_; }

    // Bytes an entry counts against its budget.
    static size_t entryCost(const PictureKey& key, size_t dataBytes) { return key.info.size() + dataBytes + 64; }

private:
    struct Entry {
        PictureKey key;
        std::vector<uint8_t> data;
    };
    using Entries = std::list<Entry>;  // most recently used first

    // With touch, a found entry becomes the most recently used.
    static Entry* find(Entries& entries, const PictureKey& key, bool touch);
    static void put(Entries& entries, size_t& bytes, size_t budget, const PictureKey& key, const uint8_t* data,
                    size_t count);
    enum class Read { Done, Missing, Failed };
    Read readFile(std::vector<uint8_t>& bytes) const;
    // Adds the entries of a file's bytes that are not held yet, behind those held.
    size_t merge(const std::vector<uint8_t>& bytes);
    bool writeFile(const std::vector<uint8_t>& bytes) const;
    void removeStaleWriterFiles() const;
    bool saveHoldingTurn();
    // Saves a copy on a thread of its own, which waits longer for the turn.
    bool handOver() const;
    static unsigned long __stdcall saveWhenTurnComes(void* job);

    std::string file_;
    bool fileChosen_ = false;
    bool loaded_ = false;
    bool dirty_ = false;
    size_t thumbnailBudget_;
    size_t pictureBudget_;
    Entries thumbnails_;
    Entries pictures_;
    size_t thumbnailBytes_ = 0;
    size_t pictureBytes_ = 0;
};

// The source's one cache, for the whole process. It is never destroyed at process exit, where a
// thread killed in the middle of a change may have left it half updated.
PictureCache& pictureCache();
// Frees it when the module is unloaded while the process goes on (FreeLibrary).
void releasePictureCache();

// The name of the mutex that the writers of file take turns by.
std::string pictureCacheTurnName(const std::string& file);

// The cache file under the user's local application data folder
// (...\Zelmar\Dorvex TwainDS\pictures.cache), the folders made as needed; empty when there is
// no such folder.
std::string defaultPictureCacheFile();
