#include "tools/acquire/image_transfer.h"

#include <vector>

#include "tools/acquire/twain_client.h"

namespace {

constexpr TW_UINT32 memoryAppOwnsPointer = 0x0001 | 0x0008;  // TWMF_APPOWNS | TWMF_POINTER
// Largest buffer we offer, whatever the source would like: enough for many rows of any picture.
constexpr TW_UINT32 maxBufferSize = 16u << 20;

TW_UINT32 chooseBufferSize(const TW_SETUPMEMXFER& setup) {
    TW_UINT32 size = setup.Preferred;
    if (size == 0 || size == 0xFFFFFFFFu)
        size = setup.MinBufSize;
    if (size < setup.MinBufSize)
        size = setup.MinBufSize;
    if (setup.MaxBufSize != 0 && setup.MaxBufSize != 0xFFFFFFFFu && size > setup.MaxBufSize)
        size = setup.MaxBufSize;
    return size;
}

}  // namespace

bool askImageInfo(TwainClient& client, TW_IMAGEINFO& info) {
    info = TW_IMAGEINFO{};
    client.sourceCall(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info);
    return client.succeeded();
}

bool receiveNative(TwainClient& client, Picture& picture) {
    // Pointer-sized: 4 bytes in a 32-bit process, 8 in a 64-bit one.
    TW_HANDLE handle = nullptr;
    client.sourceCall(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle, {TWRC_XFERDONE});
    if (!client.succeeded())
        return false;
    HGLOBAL block = static_cast<HGLOBAL>(handle);
    if (!block) {
        client.noteFailure("native transfer: the source returned no bitmap");
        return false;
    }
    std::string error;
    // Whichever functions made the block, on Windows it is a global memory block: its size
    // bounds what is read.
    auto* dib = static_cast<const uint8_t*>(client.lockHandle(block));
    bool ok = dib && pictureFromDib(dib, GlobalSize(block), picture, error);
    if (dib)
        client.unlockHandle(block);
    client.freeHandle(block);  // ours now, whatever it held
    if (!ok)
        client.noteFailure("native transfer: " + (dib ? error : std::string("bitmap cannot be locked")));
    return ok;
}

bool receiveMemory(TwainClient& client, const TW_IMAGEINFO& info, Picture& picture) {
    if (!picture.reset(info.ImageWidth, info.ImageLength)) {
        client.noteFailure("memory transfer: picture size " + std::to_string(info.ImageWidth) + " x " +
                           std::to_string(info.ImageLength) + " refused");
        return false;
    }
    TW_SETUPMEMXFER setup{};
    client.sourceCall(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup);
    if (!client.succeeded())
        return false;
    TW_UINT32 size = chooseBufferSize(setup);
    if (size == 0 || size > maxBufferSize) {
        client.noteFailure("memory transfer: buffer size " + std::to_string(size) + " refused");
        return false;
    }
    std::vector<uint8_t> buffer(size);
    // Each call brings at least one row, and the last one ends it: twice the height plus a
    // margin bounds a source that never says TWRC_XFERDONE.
    long maxCalls = 2L * info.ImageLength + 16;
    for (long call = 0; call < maxCalls; ++call) {
        TW_IMAGEMEMXFER block{};
        block.Memory = TW_MEMORY{memoryAppOwnsPointer, size, buffer.data()};
        TW_UINT16 rc = client.sourceCall(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &block, {TWRC_SUCCESS, TWRC_XFERDONE});
        if (!client.succeeded())
            return false;
        if (block.Rows > 0 && block.BytesWritten > 0) {
            MemoryBlock part{block.Compression, block.BytesPerRow, block.Columns, block.Rows, block.XOffset,
                             block.YOffset,     block.BytesWritten, buffer.data(), buffer.size()};
            std::string error;
            if (!addMemoryBlock(part, picture, error)) {
                client.noteFailure("memory transfer: " + error);
                return false;
            }
        }
        if (rc == TWRC_XFERDONE) {
            if (picture.complete())
                return true;
            client.noteFailure("memory transfer ended after " + std::to_string(picture.rowsReceived()) + " of " +
                               std::to_string(picture.height()) + " rows");
            return false;
        }
    }
    client.noteFailure("memory transfer: the source did not end the transfer");
    return false;
}

bool endTransfer(TwainClient& client) {
    TW_PENDINGXFERS pending{};
    client.sourceCall(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
    if (!client.succeeded())
        return false;
    if (pending.Count != 0) {
        client.sourceCall(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
        return client.succeeded();
    }
    return true;
}
