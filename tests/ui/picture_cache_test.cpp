// PictureCache: which picture an entry belongs to, the size bounds, and the file: written
// whole or not at all, read back entry by entry with damage skipped, pictures never in it,
// shared with other processes that save at the same time.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/ui/runtime_heap.h"
#include "ui/picture_cache.h"

namespace {

PictureKey keyOf(uint16_t number, const char* date = "2001:02:03 04:05:06") {
    PictureKey key;
    key.number = number;
    key.handle = static_cast<uint16_t>(0x2000 + number);
    key.sizeKiB = 150;
    key.mark = 0;
    const std::string info = std::string("\xFF\xD8 info ") + date;
    key.info.assign(info.begin(), info.end());
    return key;
}

std::vector<uint8_t> bytesOf(int seed, size_t count) {
    std::vector<uint8_t> v(count);
    for (size_t i = 0; i < count; ++i) v[i] = static_cast<uint8_t>(seed * 31 + i * 7 + (i >> 8));
    return v;
}

// Files left beside the cache file (a writer's own file that was not renamed).
int filesBeside(const std::string& path) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((path + ".*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return 0;
    const std::string name = path.substr(path.find_last_of('\\') + 1);
    int count = 0;
    do count += name != found.cFileName;  // "x.*" also finds x
    while (FindNextFileA(find, &found));
    FindClose(find);
    return count;
}

// Polls done() for up to 30 s.
template <typename Done>
bool waitUntil(Done done) {
    for (int i = 0; i < 1500; ++i) {
        if (done()) return true;
        Sleep(20);
    }
    return done();
}

// One of the processes of TwoProcessesSavingAtOnce: DORVEX_CACHE_WRITER="file|writer|rounds|event".
// Each round reads the file afresh, adds an entry of its own, saves, and checks that every entry
// it saved so far is in the file. Runs before the tests and ends the process: 0 when no save
// failed and nothing was missing.
PictureKey writerKey(int writer, int round) {
    PictureKey key;
    key.number = static_cast<uint16_t>(round);
    key.handle = static_cast<uint16_t>(writer);
    key.sizeKiB = 16;
    const std::string info = "writer " + std::to_string(writer) + " round " + std::to_string(round);
    key.info.assign(info.begin(), info.end());
    return key;
}

std::vector<uint8_t> writerBytes(int writer, int round) {
    return bytesOf(writer * 1000 + round, 16384);
}

[[maybe_unused]] const int writerExit = [] {
    const char* job = std::getenv("DORVEX_CACHE_WRITER");
    if (!job || !*job) return 0;
    char file[MAX_PATH] = {}, event[64] = {};
    int writer = 0, rounds = 0;
    if (std::sscanf(job, "%259[^|]|%d|%d|%63[^|]", file, &writer, &rounds, event) != 4) ExitProcess(3);
    HANDLE start = OpenEventA(SYNCHRONIZE, FALSE, event);
    if (!start || WaitForSingleObject(start, 60000) != WAIT_OBJECT_0) ExitProcess(4);
    int failedSaves = 0, missing = 0;
    for (int round = 0; round < rounds; ++round) {
        PictureCache cache;
        cache.setFile(file);
        cache.load();
        const std::vector<uint8_t> mine = writerBytes(writer, round);
        cache.putThumbnail(writerKey(writer, round), mine.data(), mine.size());
        if (!cache.save()) ++failedSaves;
        PictureCache check;
        check.setFile(file);
        check.load();
        for (int earlier = 0; earlier <= round; ++earlier) {
            const std::vector<uint8_t>* kept = check.thumbnail(writerKey(writer, earlier));
            if (!kept || *kept != writerBytes(writer, earlier)) ++missing;
        }
    }
    std::printf("writer %d: %d rounds, %d saves failed, %d entries missing\n", writer, rounds, failedSaves, missing);
    std::fflush(stdout);
    ExitProcess(failedSaves == 0 && missing == 0 ? 0 : 1);
}();

// The child of KeptAtProcessExitFreedAtUnload: DORVEX_CACHE_EXIT_REPORT names the report file.
// Fills the cache in the probe library, then ends the process while it is loaded.
using ProbeFill = size_t (*)(size_t, const char*);
constexpr size_t kProbeBytes = size_t{4} << 20;

ProbeFill probeFill(HMODULE probe) {
    return reinterpret_cast<ProbeFill>(reinterpret_cast<void (*)()>(GetProcAddress(probe, "probeFill")));
}

std::string probePath() {
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string path = exe;
    return path.substr(0, path.find_last_of('\\') + 1) + "picture_cache_exit_probe.dll";
}

[[maybe_unused]] const int exitChild = [] {
    const char* report = std::getenv("DORVEX_CACHE_EXIT_REPORT");
    if (!report || !*report) return 0;
    HMODULE probe = LoadLibraryA(probePath().c_str());
    ProbeFill fill = probe ? probeFill(probe) : nullptr;
    if (!fill) ExitProcess(3);
    fill(kProbeBytes, report);
    ExitProcess(0);
}();

class PictureCacheFile : public ::testing::Test {
protected:
    std::string path;
    void SetUp() override {
        char folder[MAX_PATH];
        GetTempPathA(MAX_PATH, folder);
        path = std::string(folder) + "dorvex-cache-test-" + std::to_string(GetCurrentProcessId()) + ".cache";
        DeleteFileA(path.c_str());
    }
    void TearDown() override { DeleteFileA(path.c_str()); }

    std::vector<uint8_t> fileBytes() const {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void writeFile(const std::vector<uint8_t>& bytes) const {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
};

TEST(PictureCache, EveryPartOfTheKeyTellsPicturesApart) {
    PictureCache cache;
    const PictureKey key = keyOf(3);
    const std::vector<uint8_t> thumb = bytesOf(1, 500);
    cache.putThumbnail(key, thumb.data(), thumb.size());
    ASSERT_NE(cache.thumbnail(key), nullptr);
    EXPECT_EQ(*cache.thumbnail(key), thumb);
    PictureKey other = key;
    other.number = 4;  // another number
    EXPECT_EQ(cache.thumbnail(other), nullptr);
    other = key;
    other.handle ^= 1;  // same number, another handle
    EXPECT_EQ(cache.thumbnail(other), nullptr);
    other = key;
    other.sizeKiB = 151;
    EXPECT_EQ(cache.thumbnail(other), nullptr);
    other = key;
    other.mark = 1;
    EXPECT_EQ(cache.thumbnail(other), nullptr);
    EXPECT_EQ(cache.thumbnail(keyOf(3, "2001:02:03 04:05:07")), nullptr);  // recorded a second later
    other = key;
    other.info.pop_back();
    EXPECT_EQ(cache.thumbnail(other), nullptr);
    EXPECT_EQ(cache.picture(key), nullptr);  // thumbnails and pictures are kept apart

    const std::vector<uint8_t> newer = bytesOf(2, 600);
    cache.putThumbnail(key, newer.data(), newer.size());  // replaces
    EXPECT_EQ(*cache.thumbnail(key), newer);
    EXPECT_EQ(cache.thumbnailCount(), 1u);
    EXPECT_EQ(cache.thumbnailBytes(), PictureCache::entryCost(key, newer.size()));
}

TEST(PictureCache, BudgetsDropTheLeastRecentlyUsed) {
    const size_t thumb = 1000, picture = 5000;
    const size_t thumbCost = PictureCache::entryCost(keyOf(1), thumb);
    const size_t pictureCost = PictureCache::entryCost(keyOf(1), picture);
    PictureCache cache(3 * thumbCost, 2 * pictureCost);
    for (uint16_t n = 1; n <= 3; ++n) {
        const std::vector<uint8_t> t = bytesOf(n, thumb);
        cache.putThumbnail(keyOf(n), t.data(), t.size());
    }
    ASSERT_NE(cache.thumbnail(keyOf(1)), nullptr);  // 1 is now the most recent, 2 the least
    const std::vector<uint8_t> t4 = bytesOf(4, thumb);
    cache.putThumbnail(keyOf(4), t4.data(), t4.size());
    EXPECT_EQ(cache.thumbnail(keyOf(2)), nullptr);
    EXPECT_NE(cache.thumbnail(keyOf(1)), nullptr);
    EXPECT_NE(cache.thumbnail(keyOf(3)), nullptr);
    EXPECT_NE(cache.thumbnail(keyOf(4)), nullptr);
    EXPECT_LE(cache.thumbnailBytes(), 3 * thumbCost);

    for (uint16_t n = 1; n <= 3; ++n) {
        const std::vector<uint8_t> p = bytesOf(n, picture);
        cache.putPicture(keyOf(n), p.data(), p.size());
    }
    EXPECT_EQ(cache.pictureCount(), 2u);
    EXPECT_EQ(cache.picture(keyOf(1)), nullptr);
    EXPECT_EQ(*cache.picture(keyOf(3)), bytesOf(3, picture));
    // Something larger than the whole budget is not kept, and pushes nothing out.
    const std::vector<uint8_t> huge = bytesOf(9, 3 * picture);
    cache.putPicture(keyOf(9), huge.data(), huge.size());
    EXPECT_EQ(cache.picture(keyOf(9)), nullptr);
    EXPECT_EQ(cache.pictureCount(), 2u);
}

TEST_F(PictureCacheFile, ThumbnailsComeBackPicturesDoNot) {
    const std::vector<uint8_t> picture = bytesOf(7, 40000);
    {
        PictureCache cache;
        cache.setFile(path);
        EXPECT_EQ(cache.load(), 0u);  // no file yet
        for (uint16_t n = 1; n <= 5; ++n) {
            const std::vector<uint8_t> t = bytesOf(n, 800 + n);
            cache.putThumbnail(keyOf(n), t.data(), t.size());
        }
        cache.putPicture(keyOf(1), picture.data(), picture.size());
        ASSERT_TRUE(cache.save());
    }
    EXPECT_EQ(filesBeside(path), 0);  // renamed, not left
    const std::vector<uint8_t> file = fileBytes();
    // The photograph itself never reaches the disk.
    EXPECT_EQ(std::search(file.begin(), file.end(), picture.begin(), picture.begin() + 256), file.end());

    PictureCache again;
    again.setFile(path);
    EXPECT_EQ(again.load(), 5u);
    for (uint16_t n = 1; n <= 5; ++n) {
        ASSERT_NE(again.thumbnail(keyOf(n)), nullptr) << n;
        EXPECT_EQ(*again.thumbnail(keyOf(n)), bytesOf(n, 800 + n));
    }
    EXPECT_EQ(again.picture(keyOf(1)), nullptr);
    EXPECT_EQ(again.thumbnail(keyOf(1, "2001:02:03 04:05:07")), nullptr);
}

TEST_F(PictureCacheFile, DamagedEntriesAreSkippedAndTheRestKept) {
    {
        PictureCache cache;
        cache.setFile(path);
        for (uint16_t n = 1; n <= 4; ++n) {
            const std::vector<uint8_t> t = bytesOf(n, 1000);
            cache.putThumbnail(keyOf(n), t.data(), t.size());
        }
        ASSERT_TRUE(cache.save());
    }
    const std::vector<uint8_t> good = fileBytes();
    const std::vector<uint8_t> thumb2 = bytesOf(2, 1000);
    const auto at = std::search(good.begin(), good.end(), thumb2.begin(), thumb2.end());
    ASSERT_NE(at, good.end());

    // One byte of picture 2's thumbnail changed: only that entry is lost.
    std::vector<uint8_t> damaged = good;
    damaged[static_cast<size_t>(at - good.begin()) + 500] ^= 0x40;
    writeFile(damaged);
    {
        PictureCache cache;
        cache.setFile(path);
        EXPECT_EQ(cache.load(), 3u);
        EXPECT_EQ(cache.thumbnail(keyOf(2)), nullptr);
        for (uint16_t n : {1, 3, 4}) EXPECT_NE(cache.thumbnail(keyOf(n)), nullptr) << n;
    }
    // Cut in the middle of an entry (a write that never finished): the entries before it stay.
    std::vector<uint8_t> cut(good.begin(), at + 10);
    writeFile(cut);
    {
        PictureCache cache;
        cache.setFile(path);
        const size_t read = cache.load();
        EXPECT_GE(read, 1u);
        EXPECT_LT(read, 4u);
        EXPECT_EQ(cache.thumbnail(keyOf(2)), nullptr);
    }
    // Not a cache file at all, an empty file, a length running past the end.
    for (const std::vector<uint8_t>& junk : {bytesOf(5, 3000), std::vector<uint8_t>(), std::vector<uint8_t>(good.begin(), good.begin() + 12)}) {
        writeFile(junk);
        PictureCache cache;
        cache.setFile(path);
        EXPECT_EQ(cache.load(), 0u);
        EXPECT_EQ(cache.thumbnail(keyOf(1)), nullptr);
    }
    std::vector<uint8_t> huge = good;
    huge[12] = huge[13] = huge[14] = 0xFF;  // first entry's length far beyond the file
    writeFile(huge);
    PictureCache cache;
    cache.setFile(path);
    EXPECT_EQ(cache.load(), 0u);
}

TEST_F(PictureCacheFile, TheFileKeepsToTheBudgetMostRecentFirst) {
    const size_t thumb = 2000;
    const size_t budget = 3 * PictureCache::entryCost(keyOf(1), thumb);
    {
        PictureCache cache(budget);
        cache.setFile(path);
        for (uint16_t n = 1; n <= 6; ++n) {
            const std::vector<uint8_t> t = bytesOf(n, thumb);
            cache.putThumbnail(keyOf(n), t.data(), t.size());
        }
        ASSERT_TRUE(cache.save());
    }
    EXPECT_LT(fileBytes().size(), budget + 100);
    // A cache with a smaller budget reads only what fits, most recently used first.
    PictureCache smaller(2 * PictureCache::entryCost(keyOf(1), thumb));
    smaller.setFile(path);
    EXPECT_EQ(smaller.load(), 2u);
    EXPECT_NE(smaller.thumbnail(keyOf(6)), nullptr);
    EXPECT_NE(smaller.thumbnail(keyOf(5)), nullptr);
    EXPECT_EQ(smaller.thumbnail(keyOf(4)), nullptr);
}

TEST_F(PictureCacheFile, AFailedWriteLeavesTheOldFile) {
    {
        PictureCache cache;
        cache.setFile(path);
        const std::vector<uint8_t> t = bytesOf(1, 100);
        cache.putThumbnail(keyOf(1), t.data(), t.size());
        ASSERT_TRUE(cache.save());
    }
    const std::vector<uint8_t> before = fileBytes();
    // The file cannot be replaced: another program reads it and does not let it be deleted.
    HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    PictureCache cache;
    cache.setFile(path);
    ASSERT_EQ(cache.load(), 1u);
    const std::vector<uint8_t> t = bytesOf(2, 100);
    cache.putThumbnail(keyOf(2), t.data(), t.size());
    EXPECT_FALSE(cache.save());
    EXPECT_EQ(fileBytes(), before);
    EXPECT_EQ(filesBeside(path), 0);  // the writer's own file is gone too
    CloseHandle(reader);
    EXPECT_TRUE(cache.save());
    EXPECT_NE(fileBytes(), before);
}

TEST_F(PictureCacheFile, UsingThumbnailsAloneLeavesTheFileAsItIs) {
    const size_t thumb = 300;
    {
        PictureCache cache;
        cache.setFile(path);
        for (uint16_t n = 1; n <= 3; ++n) {
            const std::vector<uint8_t> t = bytesOf(n, thumb);
            cache.putThumbnail(keyOf(n), t.data(), t.size());
        }
        ASSERT_TRUE(cache.save());
    }
    const std::vector<uint8_t> before = fileBytes();
    PictureCache cache;
    cache.setFile(path);
    ASSERT_EQ(cache.load(), 3u);
    for (uint16_t n : {3, 2, 1}) ASSERT_NE(cache.thumbnail(keyOf(n)), nullptr);  // 1 is now the most recent
    EXPECT_TRUE(cache.save());
    EXPECT_EQ(fileBytes(), before);
    // The order of use goes to the file with the next new entry.
    const std::vector<uint8_t> t4 = bytesOf(4, thumb);
    cache.putThumbnail(keyOf(4), t4.data(), t4.size());
    ASSERT_TRUE(cache.save());
    PictureCache smaller(2 * PictureCache::entryCost(keyOf(1), thumb));
    smaller.setFile(path);
    EXPECT_EQ(smaller.load(), 2u);
    EXPECT_NE(smaller.thumbnail(keyOf(4)), nullptr);
    EXPECT_NE(smaller.thumbnail(keyOf(1)), nullptr);
}

// A writer killed in the middle of a save leaves its own file beside the cache file; the next
// save removes it, but not one that is still open, nor a file that is not a writer's.
TEST_F(PictureCacheFile, WritersFilesLeftBehindAreRemoved) {
    const std::string left = path + ".1f2e-3.new", open = path + ".2a-1.new", other = path + ".old.new";
    for (const std::string* name : {&left, &open, &other}) {
        std::ofstream(*name, std::ios::binary) << std::string(100000, 'x');
    }
    HANDLE writing = CreateFileA(open.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writing, INVALID_HANDLE_VALUE);
    PictureCache cache;
    cache.setFile(path);
    const std::vector<uint8_t> t = bytesOf(1, 100);
    cache.putThumbnail(keyOf(1), t.data(), t.size());
    EXPECT_TRUE(cache.save());
    EXPECT_EQ(GetFileAttributesA(left.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesA(open.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesA(other.c_str()), INVALID_FILE_ATTRIBUTES);
    CloseHandle(writing);
    for (const std::string* name : {&left, &open, &other}) DeleteFileA(name->c_str());
}

// Another writer keeps the turn longer than the application's thread waits: the save is made
// when the turn comes, and the library that asked for it stays loaded until then.
TEST_F(PictureCacheFile, ASaveThatMissesItsTurnIsMadeWhenTheTurnComes) {
    HANDLE taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE giveBack = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread other([&] {  // the turn belongs to a thread
        HANDLE turn = CreateMutexA(nullptr, FALSE, pictureCacheTurnName(path).c_str());
        const bool held = turn && WaitForSingleObject(turn, 10000) == WAIT_OBJECT_0;
        SetEvent(taken);
        WaitForSingleObject(giveBack, 60000);
        if (held) ReleaseMutex(turn);
        if (turn) CloseHandle(turn);
    });
    EXPECT_EQ(WaitForSingleObject(taken, 20000), WAIT_OBJECT_0);
    HMODULE probe = LoadLibraryA(probePath().c_str());
    ASSERT_NE(probe, nullptr);
    using ProbeSave = bool (*)(const char*);
    auto save = reinterpret_cast<ProbeSave>(reinterpret_cast<void (*)()>(GetProcAddress(probe, "probeSave")));
    EXPECT_TRUE(save && save(path.c_str()));
    FreeLibrary(probe);
    EXPECT_EQ(GetModuleHandleA(probePath().c_str()), probe);
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);  // not before the turn
    SetEvent(giveBack);
    other.join();
    CloseHandle(taken);
    CloseHandle(giveBack);
    EXPECT_TRUE(waitUntil([&] { return GetModuleHandleA(probePath().c_str()) == nullptr; }));
    PictureCache again;
    again.setFile(path);
    EXPECT_EQ(again.load(), 1u);
}

TEST_F(PictureCacheFile, AFileOverTheCapLoadsItsFirstEntries) {
    const size_t cap = PictureCache::kMaxEntries;
    const uint8_t tiny = 1;
    std::vector<uint8_t> first, second;
    {
        PictureCache cache;
        cache.setFile(path);
        for (size_t n = 1; n <= cap + 1; ++n) cache.putThumbnail(keyOf(static_cast<uint16_t>(n)), &tiny, 1);
        EXPECT_EQ(cache.thumbnailCount(), cap);  // the least recently used, 1, went out
        EXPECT_EQ(cache.thumbnail(keyOf(1)), nullptr);
        ASSERT_TRUE(cache.save());
        first = fileBytes();
    }
    ASSERT_TRUE(DeleteFileA(path.c_str()));
    {
        PictureCache cache;
        cache.setFile(path);
        for (uint16_t n = 1; n <= 100; ++n) cache.putThumbnail(keyOf(n, "2002:01:01 00:00:00"), &tiny, 1);
        ASSERT_TRUE(cache.save());
        second = fileBytes();
    }
    // Both files' records after one header: more than a file of ours ever holds.
    first.insert(first.end(), second.begin() + 12, second.end());
    writeFile(first);
    PictureCache cache;
    cache.setFile(path);
    EXPECT_EQ(cache.load(), cap);
    EXPECT_NE(cache.thumbnail(keyOf(static_cast<uint16_t>(cap + 1))), nullptr);  // the most recent
    EXPECT_NE(cache.thumbnail(keyOf(2)), nullptr);
    EXPECT_EQ(cache.thumbnail(keyOf(1, "2002:01:01 00:00:00")), nullptr);
}

TEST_F(PictureCacheFile, AFileAnotherProgramHoldsIsReadLaterAndNotOverwritten) {
    {
        PictureCache cache;
        cache.setFile(path);
        for (uint16_t n = 1; n <= 2; ++n) {
            const std::vector<uint8_t> t = bytesOf(n, 300);
            cache.putThumbnail(keyOf(n), t.data(), t.size());
        }
        ASSERT_TRUE(cache.save());
    }
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    PictureCache cache;
    cache.setFile(path);
    EXPECT_EQ(cache.load(), 0u);
    const std::vector<uint8_t> t3 = bytesOf(3, 300);
    cache.putThumbnail(keyOf(3), t3.data(), t3.size());
    EXPECT_FALSE(cache.save());  // what it holds cannot be seen, so it is not overwritten
    CloseHandle(held);
    EXPECT_EQ(cache.load(), 2u);  // the next Open reads it
    ASSERT_NE(cache.thumbnail(keyOf(1)), nullptr);
    EXPECT_EQ(*cache.thumbnail(keyOf(1)), bytesOf(1, 300));
    ASSERT_TRUE(cache.save());
    PictureCache again;
    again.setFile(path);
    EXPECT_EQ(again.load(), 3u);

    // Entries another process saved after this one read the file stay, behind this one's own.
    PictureCache other;
    other.setFile(path);
    other.load();
    const std::vector<uint8_t> t4 = bytesOf(4, 300);
    other.putThumbnail(keyOf(4), t4.data(), t4.size());
    ASSERT_TRUE(other.save());
    const std::vector<uint8_t> t5 = bytesOf(5, 300);
    again.putThumbnail(keyOf(5), t5.data(), t5.size());
    ASSERT_TRUE(again.save());
    PictureCache last;
    last.setFile(path);
    EXPECT_EQ(last.load(), 5u);
    EXPECT_NE(last.thumbnail(keyOf(4)), nullptr);
}

TEST_F(PictureCacheFile, TwoProcessesSavingAtOnceLoseNothing) {
    const int rounds = 40;
    char exe[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, exe, MAX_PATH), 0u);
    const std::string eventName = "Local\\DorvexCacheWriters-" + std::to_string(GetCurrentProcessId());
    HANDLE start = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
    ASSERT_NE(start, nullptr);
    HANDLE writers[2] = {};
    for (int w = 0; w < 2; ++w) {
        const std::string job = path + "|" + std::to_string(w + 1) + "|" + std::to_string(rounds) + "|" + eventName;
        SetEnvironmentVariableA("DORVEX_CACHE_WRITER", job.c_str());
        std::string command = std::string("\"") + exe + "\"";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        const BOOL created =
            CreateProcessA(exe, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
        SetEnvironmentVariableA("DORVEX_CACHE_WRITER", nullptr);
        ASSERT_TRUE(created);
        CloseHandle(process.hThread);
        writers[w] = process.hProcess;
    }
    const DWORD began = GetTickCount();
    SetEvent(start);
    EXPECT_EQ(WaitForMultipleObjects(2, writers, TRUE, 240000), WAIT_OBJECT_0);
    std::printf("two writers, %d rounds each: %lu ms\n", rounds, static_cast<unsigned long>(GetTickCount() - began));
    for (HANDLE writer : writers) {
        DWORD status = STILL_ACTIVE;
        GetExitCodeProcess(writer, &status);
        EXPECT_EQ(status, 0u);
        TerminateProcess(writer, 9);  // only when the wait above failed
        CloseHandle(writer);
    }
    CloseHandle(start);
    PictureCache cache;
    cache.setFile(path);
    EXPECT_EQ(cache.load(), 2u * rounds);
    for (int w = 1; w <= 2; ++w)
        for (int round = 0; round < rounds; ++round) {
            const std::vector<uint8_t>* kept = cache.thumbnail(writerKey(w, round));
            ASSERT_NE(kept, nullptr) << w << " " << round;
            EXPECT_EQ(*kept, writerBytes(w, round));
        }
    EXPECT_EQ(filesBeside(path), 0);
}

// At process exit another thread may have been killed in the middle of changing the cache, so
// the library leaves it alone there; on an unload it frees it.
TEST(PictureCacheInALibrary, KeptAtProcessExitFreedAtUnload) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string report = std::string(folder) + "dorvex-cache-exit-" + std::to_string(GetCurrentProcessId());
    DeleteFileA(report.c_str());
    char exe[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, exe, MAX_PATH), 0u);
    SetEnvironmentVariableA("DORVEX_CACHE_EXIT_REPORT", report.c_str());
    std::string command = std::string("\"") + exe + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const BOOL created =
        CreateProcessA(exe, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableA("DORVEX_CACHE_EXIT_REPORT", nullptr);
    ASSERT_TRUE(created);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    DWORD status = 1;
    GetExitCodeProcess(process.hProcess, &status);
    TerminateProcess(process.hProcess, 9);  // only when the wait failed
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    EXPECT_EQ(status, 0u);
    std::FILE* f = std::fopen(report.c_str(), "r");
    ASSERT_NE(f, nullptr) << "no report from the library's detach";
    size_t filled = 0, atExit = 0;
    const int fields = std::fscanf(f, "%zu %zu", &filled, &atExit);
    std::fclose(f);
    DeleteFileA(report.c_str());
    ASSERT_EQ(fields, 2);
    std::printf("runtime heap in use: %zu bytes after filling, %zu at the process's end\n", filled, atExit);
    EXPECT_GT(filled, kProbeBytes);
    EXPECT_GT(atExit + kProbeBytes / 2, filled);  // the thumbnails were not freed

    // Unloaded while the process goes on: nothing left behind.
    HMODULE probe = LoadLibraryA(probePath().c_str());
    ASSERT_NE(probe, nullptr);
    ProbeFill fill = probeFill(probe);
    ASSERT_NE(fill, nullptr);
    const size_t before = runtimeHeapBytesInUse();
    EXPECT_GT(fill(kProbeBytes, nullptr), before + kProbeBytes / 2);
    FreeLibrary(probe);
    EXPECT_LT(runtimeHeapBytesInUse(), before + kProbeBytes / 8);
}

}  // namespace
