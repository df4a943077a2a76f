// JpegDecoder: baseline sequential JPEG (SOF0, 8-bit, Huffman, 1 or 3 components) to RGB pixels.
#pragma once

#include "imaging/dib_image.h"

class JpegDecoder : public DibImage {
public:
    JpegDecoder();
    ~JpegDecoder() override;
    // Decodes the attached stream into pixels; 1 on success, 0 with lastError set on failure.
    int decode();

    // With ErrUnsupported: the marker of the frame type refused (0xC2 progressive, ...).
    uint8_t unsupportedMarker = 0;

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
    // A bounded reader for table segments (DQT, DHT): openSegment reads the length and gives the
    // bytes that follow it; segmentByte reads one of them and counts it off. Both answer 0 with
    // lastError set when the segment or the input has ended.
    int openSegment(uint16_t& remaining);
    int segmentByte(uint16_t& remaining, uint8_t& value);
    int checkScanSetup();
    void freeWorkBuffers();

    State* state = nullptr;
};
