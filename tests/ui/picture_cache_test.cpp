// PictureCache: which picture an entry belongs to, the size bounds, and the file: written
// whole or not at all, read back entry by entry with damage skipped, pictures never in it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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

class PictureCacheFile : public ::testing::Test {
protected:
    std::string path;
    void SetUp() override {
        char folder[MAX_PATH];
        GetTempPathA(MAX_PATH, folder);
        path = std::string(folder) + "dorvex-cache-test-" + std::to_string(GetCurrentProcessId()) + ".cache";
        DeleteFileA(path.c_str());
        DeleteFileA((path + ".new").c_str());
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
    EXPECT_EQ(GetFileAttributesA((path + ".new").c_str()), INVALID_FILE_ATTRIBUTES);  // renamed, not left
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
    // The file beside it cannot be made: a folder stands in its place.
    ASSERT_TRUE(CreateDirectoryA((path + ".new").c_str(), nullptr));
    PictureCache cache;
    cache.setFile(path);
    ASSERT_EQ(cache.load(), 1u);
    const std::vector<uint8_t> t = bytesOf(2, 100);
    cache.putThumbnail(keyOf(2), t.data(), t.size());
    EXPECT_FALSE(cache.save());
    EXPECT_EQ(fileBytes(), before);
    RemoveDirectoryA((path + ".new").c_str());
    EXPECT_TRUE(cache.save());
    EXPECT_NE(fileBytes(), before);
}

}  // namespace
