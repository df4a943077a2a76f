// DG_IMAGE: image information, layout, native transfer (one 24-bit DIB in a global block the
// application owns) and buffered memory transfer (one row per call).
//
// The decoded picture is top-down, unpadded R,G,B rows; the native DIB is bottom-up B,G,R
// rows padded to 4 bytes; memory-transfer rows go out as decoded (R,G,B, top row first).
#include <cstring>

#include "imaging/jpeg_decoder.h"
#include "source/source_session.h"

namespace {

// Size reported without a picture: the camera's full resolution.
constexpr TW_INT32 defaultWidth = 1152;
constexpr TW_INT32 defaultHeight = 872;

// The largest native bitmap we try to allocate; beyond it GlobalAlloc's size would not be
// meaningful on a 32-bit system anyway.
constexpr uint64_t maxDibBytes = 0x7FFF0000;

void writeDibHeader(uint8_t* block, int32_t width, int32_t height, uint32_t imageBytes) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = width;
    header.biHeight = height;  // positive: rows bottom-up
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = imageBytes;
    std::memcpy(block, &header, sizeof header);
}

void writeDibRows(uint8_t* bits, const uint8_t* pixels, int32_t width, int32_t height, uint32_t stride) {
    const size_t rowBytes = size_t(width) * 3;
    for (int32_t i = 0; i < height; ++i) {
        const uint8_t* src = pixels + size_t(height - 1 - i) * rowBytes;
        uint8_t* dst = bits + size_t(i) * stride;
        for (int32_t x = 0; x < width; ++x, src += 3, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
        // the padding stays as GMEM_ZEROINIT left it
    }
}

}  // namespace

static_assert(sizeof(BITMAPINFOHEADER) == 40, "DIB header");

TW_UINT16 SourceSession::routeImage() {
    switch (currentCall->DAT) {
    case DAT_IMAGEINFO:
        return imageInfo();
    case DAT_IMAGELAYOUT:
        return imageLayout();
    case DAT_IMAGEMEMXFER:
        return memoryTransfer();
    case DAT_IMAGENATIVEXFER:
        return nativeTransfer();
    default:  // file transfer, colour responses, JPEG compression, palettes and the rest
        return fail(TWCC_BADPROTOCOL);
    }
}

bool SourceSession::havePicture() const {
    return decodedImage && decodedImage->pixels && decodedImage->width > 0 && decodedImage->height > 0;
}

TW_UINT16 SourceSession::imageInfo() {
    if (state != StateReady) return fail(TWCC_SEQERROR);
    if (currentCall->MSG != MSG_GET) return fail(TWCC_BADPROTOCOL);
    auto* info = static_cast<TW_IMAGEINFO*>(currentCall->data);
    if (!info) return fail(TWCC_BADVALUE);
    const bool picture = havePicture();
    info->XResolution = TW_FIX32{-1, 0};
    info->YResolution = TW_FIX32{-1, 0};
    info->ImageWidth = picture ? decodedImage->width : defaultWidth;
    info->ImageLength = picture ? decodedImage->height : defaultHeight;
    info->SamplesPerPixel = 3;
    for (int i = 0; i < 3; ++i) info->BitsPerSample[i] = 8;
    info->BitsPerPixel = 24;
    info->Planar = FALSE;
    info->PixelType = TWPT_RGB;
    info->Compression = TWCP_NONE;
    return succeed();
}

TW_UINT16 SourceSession::imageLayout() {
    if (state < StateOpen || state > StateReady) return fail(TWCC_SEQERROR);
    const TW_UINT16 msg = currentCall->MSG;
    if (msg != MSG_GET && msg != MSG_GETDEFAULT && msg != MSG_RESET && msg != MSG_SET)
        return fail(TWCC_BADPROTOCOL);
    auto* layout = static_cast<TW_IMAGELAYOUT*>(currentCall->data);
    if (!layout) return fail(TWCC_BADVALUE);
    // The camera always delivers its whole frame: a requested frame is accepted and ignored.
    if (msg != MSG_SET) {
        layout->Frame = TW_FRAME{};
        layout->DocumentNumber = 1;
        layout->PageNumber = 1;
        layout->FrameNumber = 1;
    }
    return succeed();
}

TW_UINT16 SourceSession::nativeTransfer() {
    if (state != StateReady && state != StateTransferring) return fail(TWCC_SEQERROR);
    if (currentCall->MSG != MSG_GET) return fail(TWCC_BADPROTOCOL);
    if (!currentCall->data) return fail(TWCC_BADVALUE);
    if (!havePicture()) return fail(TWCC_OPERATIONERROR);
    const int32_t width = decodedImage->width;
    const int32_t height = decodedImage->height;
    const uint32_t stride = DibImage::dibStride(width);
    const uint64_t imageBytes = uint64_t(stride) * uint64_t(height);
    if (imageBytes + sizeof(BITMAPINFOHEADER) > maxDibBytes) return fail(TWCC_LOWMEMORY);
    HGLOBAL handle = allocBlock(SIZE_T(imageBytes + sizeof(BITMAPINFOHEADER)));
    auto* block = handle ? static_cast<uint8_t*>(lockBlock(handle)) : nullptr;
    if (!block) {
        if (handle) freeBlock(handle);
        return fail(TWCC_LOWMEMORY);  // the picture stays; the call may be repeated
    }
    writeDibHeader(block, width, height, uint32_t(imageBytes));
    writeDibRows(block + sizeof(BITMAPINFOHEADER), decodedImage->pixels, width, height, stride);
    unlockBlock(handle);
    // The application receives the handle in the TW_HANDLE at data (4 bytes in a 32-bit
    // process, 8 in a 64-bit one) and owns it from now on.
    *static_cast<TW_HANDLE*>(currentCall->data) = handle;
    transferComplete = 1;
    nextRow = 1;
    state = StateTransferring;
    return succeed(TWRC_XFERDONE);
}

TW_UINT16 SourceSession::memoryTransfer() {
    auto* xfer = static_cast<TW_IMAGEMEMXFER*>(currentCall->data);
    if (transferComplete) {
        // Every row is out: each further call reports the end with an empty block.
        if (!xfer) return fail(TWCC_BADVALUE);
        xfer->Compression = TWCP_NONE;
        xfer->BytesPerRow = 0;
        xfer->Columns = 0;
        xfer->Rows = 0;
        xfer->XOffset = 0;
        xfer->YOffset = 0;
        xfer->BytesWritten = 0;
        return succeed(TWRC_XFERDONE);
    }
    if (state != StateReady && state != StateTransferring) return fail(TWCC_SEQERROR);
    if (currentCall->MSG != MSG_GET) return fail(TWCC_BADPROTOCOL);
    if (!xfer) return fail(TWCC_BADVALUE);
    if (!havePicture()) return fail(TWCC_OPERATIONERROR);
    if (xfer->Memory.Length != memXferBufferSize || !xfer->Memory.TheMem) return fail(TWCC_BADVALUE);
    const uint32_t width = uint32_t(decodedImage->width);
    const uint32_t height = uint32_t(decodedImage->height);
    const uint32_t rowBytes = 3 * width;
    // A row wider than the buffer (more than 1173 pixels) cannot be delivered whole by this
    // mechanism; nothing is written and the application can take the picture natively.
    if (width > memXferBufferSize / 3) return fail(TWCC_OPERATIONERROR);
    if (nextRow >= height) return fail(TWCC_OPERATIONERROR);  // never with transferComplete clear
    std::memcpy(xfer->Memory.TheMem, decodedImage->pixels + size_t(nextRow) * rowBytes, rowBytes);
    xfer->Compression = TWCP_NONE;
    xfer->BytesPerRow = rowBytes;
    xfer->Columns = width;
    xfer->Rows = 1;
    xfer->XOffset = 0;
    xfer->YOffset = nextRow;
    xfer->BytesWritten = rowBytes;
    nextRow += 1;
    if (nextRow >= height) transferComplete = 1;
    state = StateTransferring;
    return succeed();
}
