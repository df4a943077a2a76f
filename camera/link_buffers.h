// LinkBuffers: the six byte buffers a camera link fills, each a count and a heap block.
//
// A receive replaces a buffer's count by what arrived and resizes the block to fit; a block of
// count 0 may be null. The picture buffers (image information, thumbnail, spare, JPEG) are handed
// to their consumer, who releases them when done.
#pragma once

#include <cstddef>
#include <cstdint>

struct LinkBuffer {
    uint32_t count = 0;
    uint8_t* data = nullptr;
};

class LinkBuffers {
public:
    // Status message: 9 zero bytes. Status record: room for 34 bytes (count 34, zeroed).
    LinkBuffers();
    ~LinkBuffers();
    LinkBuffers(const LinkBuffers&) = delete;
    LinkBuffers& operator=(const LinkBuffers&) = delete;

    // False when the constructor could not get the two initial blocks.
    bool valid() const { return statusMessage.data != nullptr && statusRecord.data != nullptr; }

    // Frees the block and sets it to null with count 0.
    static void release(LinkBuffer& buffer);
    // Resizes the block to count bytes, keeping its first bytes; count 0 frees it. On failure
    // the buffer is left exactly as it was and false is returned.
    static bool resize(LinkBuffer& buffer, uint32_t count);
    // Replaces the contents by a new zeroed block of count bytes (the old block is freed).
    static bool replace(LinkBuffer& buffer, uint32_t count);

    void releaseImageInfo() { release(imageInfo); }
    void releaseThumbnail() { release(thumbnail); }
    void releaseSpare() { release(spare); }
    void releaseJpeg() { release(jpeg); }

    // The six pairs, in their fixed order.
    LinkBuffer statusMessage;  // status message of the latest exchange
    LinkBuffer statusRecord;   // copy of the latest successful GetStat status message
    LinkBuffer imageInfo;      // GetImgInfo data: the picture's JPEG header with its EXIF block
    LinkBuffer thumbnail;      // GetThumb data: JPEG (first byte 0xFF) or uncompressed TIFF
    LinkBuffer spare;          // never filled; released with the others
    LinkBuffer jpeg;           // GetJpeg data: the picture's complete JPEG file
};
