// JpegDecoder: baseline sequential JPEG (SOF0, 8-bit, Huffman, 1 or 3 components) to RGB pixels.
#pragma once

#include "imaging/dib_image.h"

class JpegDecoder : public DibImage {
public:
    JpegDecoder();
    ~JpegDecoder() override;
    // Decodes the attached stream into pixels; 1 on success, 0 with lastError set on failure.
    int decode();

    struct State;

private:
    int parseHeaders();
    int decodeScan();
    int readApp0();
    int readQuantTables();
    int readHuffmanTables();
    int readFrameHeader();
    int readScanHeader();
    int readLineCount();
    int readRestartInterval();
    int skipSegment();
    int checkScanSetup();
    void freeWorkBuffers();

    State* state = nullptr;
};
