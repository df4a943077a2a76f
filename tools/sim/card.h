// The camera's memory card: its pictures, and what the camera tells about each of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct Picture {
    std::string name;             // file name on the card
    std::vector<uint8_t> file;    // the JPEG file
    std::vector<uint8_t> info;    // image-information block: the file up to and including SOF0
    std::vector<uint8_t> thumbnail;  // JPEG (starts 0xFF) or TIFF; empty = none
    bool deleted = false;
    bool marked = false;
    bool sizeUnknown = false;

    // Size in KiB, rounded up so that size x 1024 is never below the file's length.
    uint16_t sizeKiB() const;
};

struct Card {
    std::vector<Picture> pictures;
};

// The file from SOI up to and including the SOF0 segment; when there is no SOF0 (another frame
// type, or a broken file) the bytes up to and including the first SOFn segment or, failing
// that, the first 4096 bytes.
std::vector<uint8_t> extractInfoBlock(const std::vector<uint8_t>& file);

// The JPEG thumbnail of the EXIF IFD1 (JPEGInterchangeFormat), or empty.
std::vector<uint8_t> extractExifThumbnail(const std::vector<uint8_t>& file);

// The generated card: pictures 1..count cycling through six kinds (see card.cpp).
Card makeBuiltInCard(int count);

// *.jpg / *.jpeg of dir sorted by name; side files NAME.thm (JPEG) or NAME.tif give thumbnails.
bool loadCardDirectory(const std::string& dir, Card& card, std::string& error);

// Writes NN.jpg, NN.thm or NN.tif, and NN.info for every picture.
bool dumpCard(const Card& card, const std::string& dir, std::string& error);

}  // namespace sim
