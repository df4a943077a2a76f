#include "ui/picture_list.h"

#include <new>

PictureList::~PictureList() {
    clear();
}

int PictureList::allocate(int32_t newCount) {
    clear();
    if (newCount <= 0) return 1;
    entries = new (std::nothrow) PictureEntry[static_cast<size_t>(newCount)];
    if (!entries) return 0;
    count = newCount;
    return 1;
}

void PictureList::clear() {
    for (int32_t i = 0; i < count; ++i) {
        if (entries[i].thumbnail) DeleteObject(entries[i].thumbnail);
    }
    delete[] entries;
    entries = nullptr;
    count = 0;
}
