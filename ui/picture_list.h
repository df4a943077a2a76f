// PictureList and PictureEntry: the acquire dialog's picture slots, one per picture the camera
// reported. The thumbnail grid reads them; the acquire dialog owns and fills them.
#pragma once

#include <windows.h>

#include <cstdint>

struct PictureEntry {
    uint32_t pictureHandle = 0;  // camera's handle in the low 16 bits; 0 = empty slot
    HBITMAP thumbnail = nullptr; // owned by whoever owns the list
    uint16_t sizeKiB = 0;        // JPEG size in KiB, 0 when the camera gave none
    uint16_t markFlag = 0;       // non-zero: the cell shows "(P)"
    char label[64] = {};         // "%02d." list number followed by the quality name
    char dateText[20] = {};      // "YYYY/MM/DD HH:MM" or empty
    // The 1-based camera picture number the slot was listed under. The camera's handle need
    // not equal it, so the information command asks by this number.
    uint16_t pictureNumber = 0;

    bool isFilled() const { return pictureHandle != 0; }
};

class PictureList {
public:
    PictureList() = default;
    ~PictureList();
    PictureList(const PictureList&) = delete;
    PictureList& operator=(const PictureList&) = delete;

    // Replaces the slots by count empty ones (count < 0 counts as 0). 0 when out of memory,
    // in which case the list is left empty.
    int allocate(int32_t newCount);
    // Deletes every thumbnail bitmap and the slots; count becomes 0.
    void clear();

    PictureEntry* entry(int32_t index) { return index >= 0 && index < count ? &entries[index] : nullptr; }
    const PictureEntry* entry(int32_t index) const {
        return index >= 0 && index < count ? &entries[index] : nullptr;
    }

    int32_t count = 0;
    PictureEntry* entries = nullptr;
};
