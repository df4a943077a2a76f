// JpegDecoder: baseline sequential JPEG (SOF0, 8-bit, Huffman, 1 or 3 components) to RGB pixels.
#pragma once

#include "imaging/dib_image.h"

class JpegDecoder : public DibImage {
public:
    JpegDecoder();
    ~JpegDecoder() override;
    // Decodes the attached stream into pixels; 1 on success, 0 with lastError set on failure.
    int decode();

private:
    struct State;
    State* state = nullptr;
};
