// Image information, layout and both transfer mechanisms, checked against the decoder's own
// pixels: the native DIB byte for byte (bottom-up B,G,R rows, zero padding), memory rows as
// decoded, and the bookkeeping of pending transfers around them.
#include "imaging/dib_image.h"
#include "tests/source/session_fixture.h"

#include <cstring>

namespace {

// What a native transfer must deliver for the picture the session holds.
void expectDibOfPicture(const std::vector<uint8_t>& dib, const JpegDecoder& picture) {
    const int32_t w = picture.width;
    const int32_t h = picture.height;
    const uint32_t stride = ((uint32_t(w) * 24 + 31) / 32) * 4;
    ASSERT_EQ(dib.size(), 40u + size_t(stride) * size_t(h));
    BITMAPINFOHEADER header;
    std::memcpy(&header, dib.data(), 40);
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, w);
    EXPECT_EQ(header.biHeight, h);
    EXPECT_EQ(header.biPlanes, 1);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, DWORD(BI_RGB));
    EXPECT_EQ(header.biSizeImage, stride * uint32_t(h));
    EXPECT_EQ(header.biXPelsPerMeter, 0);
    EXPECT_EQ(header.biYPelsPerMeter, 0);
    EXPECT_EQ(header.biClrUsed, 0u);
    EXPECT_EQ(header.biClrImportant, 0u);
    size_t mismatches = 0;
    for (int32_t i = 0; i < h; ++i) {
        const uint8_t* row = dib.data() + 40 + size_t(i) * stride;
        const uint8_t* src = picture.pixels + size_t(h - 1 - i) * size_t(w) * 3;
        for (int32_t x = 0; x < w; ++x) {
            if (row[3 * x] != src[3 * x + 2] || row[3 * x + 1] != src[3 * x + 1] || row[3 * x + 2] != src[3 * x])
                ++mismatches;
        }
        for (uint32_t pad = uint32_t(w) * 3; pad < stride; ++pad) {
            if (row[pad] != 0) ++mismatches;
        }
    }
    EXPECT_EQ(mismatches, 0u);
}

}  // namespace

class TransferTest : public SessionTest {
protected:
    void readyToTransfer(uint16_t width, uint16_t height, uint32_t seed = 1) {
        open();
        enable();
        ready(colourJpeg(width, height, seed));
        ASSERT_NE(session->decodedImage, nullptr);
        ASSERT_EQ(session->decodedImage->width, width);
        ASSERT_EQ(session->decodedImage->height, height);
    }
    TW_UINT16 pendingCount() {
        TW_PENDINGXFERS pending{};
        EXPECT_EQ(call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_SUCCESS);
        return pending.Count;
    }
    std::vector<uint8_t> buffer = std::vector<uint8_t>(4096, 0xA5);
};

TEST_F(TransferTest, NativeTransferIsTheDecodedPictureAsABottomUpDib) {
    for (uint16_t width : {1, 2, 3, 4, 37}) {
        SCOPED_TRACE(width);
        fresh();
        readyToTransfer(width, 23, width);
        std::vector<uint8_t> dib;
        ASSERT_EQ(nativeTransfer(&dib), TWRC_XFERDONE);
        EXPECT_EQ(session->conditionCode, TWCC_SUCCESS);
        EXPECT_EQ(session->state, 7u);
        expectDibOfPicture(dib, *session->decodedImage);
    }
}

TEST_F(TransferTest, NativeBlockSizesOfTheSmallestAndTheCamerasPicture) {
    readyToTransfer(1, 1);
    SIZE_T size = 0;
    std::vector<uint8_t> dib;
    ASSERT_EQ(nativeTransfer(&dib, &size), TWRC_XFERDONE);
    EXPECT_EQ(size, 44u);
    expectDibOfPicture(dib, *session->decodedImage);

    fresh();
    readyToTransfer(1152, 872);
    ASSERT_EQ(nativeTransfer(&dib, &size), TWRC_XFERDONE);
    EXPECT_EQ(size, 3013672u);
    EXPECT_EQ((dib.size() - 40) / 872, 3456u);
    expectDibOfPicture(dib, *session->decodedImage);
}

TEST_F(TransferTest, SecondNativeTransferInStateSevenAndEndOfTransfer) {
    readyToTransfer(20, 11);
    std::vector<uint8_t> first, second;
    ASSERT_EQ(nativeTransfer(&first), TWRC_XFERDONE);
    EXPECT_EQ(pendingCount(), 0xFFFF);
    ASSERT_EQ(nativeTransfer(&second), TWRC_XFERDONE);
    EXPECT_EQ(first, second);
    EXPECT_EQ(session->state, 7u);
    TW_UINT16 count = 0x1234;
    ASSERT_EQ(endTransfer(MSG_ENDXFER, &count), TWRC_SUCCESS);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(session->state, 5u);
    EXPECT_EQ(session->decodedImage, nullptr);
    EXPECT_EQ(session->nextRow, 0u);
    EXPECT_EQ(session->transferComplete, 0u);
    EXPECT_EQ(pendingCount(), 0);
    EXPECT_EQ(nativeTransfer(), TWRC_FAILURE);
    EXPECT_EQ(session->conditionCode, TWCC_SEQERROR);
}

TEST_F(TransferTest, MemoryTransferDeliversEveryRowThenKeepsReportingDone) {
    readyToTransfer(29, 13);
    TW_SETUPMEMXFER setup{};
    ASSERT_EQ(call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup), TWRC_SUCCESS);
    ASSERT_EQ(setup.Preferred, 3520u);
    const JpegDecoder& picture = *session->decodedImage;
    TW_IMAGEMEMXFER xfer;
    for (uint32_t row = 0; row < 13; ++row) {
        SCOPED_TRACE(row);
        std::fill(buffer.begin(), buffer.end(), 0xA5);
        ASSERT_EQ(memoryTransfer(xfer, buffer), TWRC_SUCCESS);
        EXPECT_EQ(session->state, 7u);
        EXPECT_EQ(xfer.Compression, TWCP_NONE);
        EXPECT_EQ(xfer.BytesPerRow, 87u);
        EXPECT_EQ(xfer.Columns, 29u);
        EXPECT_EQ(xfer.Rows, 1u);
        EXPECT_EQ(xfer.XOffset, 0u);
        EXPECT_EQ(xfer.YOffset, row);
        EXPECT_EQ(xfer.BytesWritten, 87u);
        EXPECT_EQ(0, std::memcmp(buffer.data(), picture.pixels + row * 87, 87));
        EXPECT_EQ(buffer[87], 0xA5);  // nothing beyond the row
        EXPECT_EQ(pendingCount(), 0xFFFF);
    }
    for (int again = 0; again < 3; ++again) {
        std::fill(buffer.begin(), buffer.end(), 0xA5);
        ASSERT_EQ(memoryTransfer(xfer, buffer), TWRC_XFERDONE);
        EXPECT_EQ(xfer.Compression, 0);
        EXPECT_EQ(xfer.BytesPerRow, 0u);
        EXPECT_EQ(xfer.Columns, 0u);
        EXPECT_EQ(xfer.Rows, 0u);
        EXPECT_EQ(xfer.XOffset, 0u);
        EXPECT_EQ(xfer.YOffset, 0u);
        EXPECT_EQ(xfer.BytesWritten, 0u);
        EXPECT_EQ(xfer.Memory.Length, 3520u);  // the application's buffer description stays
        EXPECT_EQ(xfer.Memory.TheMem, buffer.data());
        EXPECT_EQ(buffer[0], 0xA5);
        EXPECT_EQ(session->conditionCode, TWCC_SUCCESS);
    }
    TW_UINT16 count = 0x1234;
    ASSERT_EQ(endTransfer(MSG_ENDXFER, &count), TWRC_SUCCESS);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(session->state, 5u);
    EXPECT_EQ(memoryTransfer(xfer, buffer), TWRC_FAILURE);
    EXPECT_EQ(session->conditionCode, TWCC_SEQERROR);
}

TEST_F(TransferTest, MemoryBufferOfAnotherSizeIsRefusedAndNothingMoves) {
    readyToTransfer(8, 4);
    TW_IMAGEMEMXFER xfer;
    for (TW_UINT32 length : {0u, 24u, 3519u, 3521u, 0xFFFFFFFFu}) {
        std::fill(buffer.begin(), buffer.end(), 0xA5);
        std::memset(&xfer, 0, sizeof xfer);
        xfer.Memory.Length = length;
        xfer.Memory.TheMem = buffer.data();
        EXPECT_EQ(call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer), TWRC_FAILURE);
        EXPECT_EQ(session->conditionCode, TWCC_BADVALUE);
        EXPECT_EQ(buffer[0], 0xA5);
        EXPECT_EQ(xfer.BytesWritten, 0u);
        EXPECT_EQ(session->nextRow, 0u);
        EXPECT_EQ(session->state, 6u);
    }
    xfer.Memory.Length = 3520;
    xfer.Memory.TheMem = nullptr;
    EXPECT_EQ(call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer), TWRC_FAILURE);
    EXPECT_EQ(session->conditionCode, TWCC_BADVALUE);
    EXPECT_EQ(memoryTransfer(xfer, buffer), TWRC_SUCCESS);
    EXPECT_EQ(xfer.YOffset, 0u);
}

TEST_F(TransferTest, EndBeforeTheLastRowKeepsThePictureAndTheRow) {
    readyToTransfer(10, 6);
    TW_IMAGEMEMXFER xfer;
    for (int i = 0; i < 3; ++i) ASSERT_EQ(memoryTransfer(xfer, buffer), TWRC_SUCCESS);
    TW_UINT16 count = 0;
    ASSERT_EQ(endTransfer(MSG_ENDXFER, &count), TWRC_SUCCESS);
    EXPECT_EQ(count, 0xFFFF);
    EXPECT_EQ(session->state, 6u);
    EXPECT_NE(session->decodedImage, nullptr);
    EXPECT_EQ(session->nextRow, 3u);
    ASSERT_EQ(memoryTransfer(xfer, buffer), TWRC_SUCCESS);
    EXPECT_EQ(xfer.YOffset, 3u);
    EXPECT_EQ(0, std::memcmp(buffer.data(), session->decodedImage->pixels + 3 * 30, 30));
}

TEST_F(TransferTest, ResetDiscardsThePictureInStatesSixAndSeven) {
    readyToTransfer(10, 6);
    TW_IMAGEMEMXFER xfer;
    ASSERT_EQ(memoryTransfer(xfer, buffer), TWRC_SUCCESS);
    TW_UINT16 count = 0x1234;
    ASSERT_EQ(endTransfer(MSG_RESET, &count), TWRC_SUCCESS);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(session->state, 5u);
    EXPECT_EQ(session->decodedImage, nullptr);
    EXPECT_EQ(session->nextRow, 0u);
    EXPECT_EQ(endTransfer(MSG_RESET, &count), TWRC_FAILURE);
    EXPECT_EQ(session->conditionCode, TWCC_SEQERROR);

    ready(colourJpeg(4, 4));
    ASSERT_EQ(endTransfer(MSG_RESET, &count), TWRC_SUCCESS);
    EXPECT_EQ(session->state, 5u);
    EXPECT_EQ(session->decodedImage, nullptr);
}

TEST_F(TransferTest, ImageInfoOnlyInStateSix) {
    readyToTransfer(31, 17);
    TW_IMAGEINFO info;
    std::memset(&info, 0x77, sizeof info);
    ASSERT_EQ(call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
    EXPECT_EQ(info.XResolution.Whole, -1);
    EXPECT_EQ(info.XResolution.Frac, 0);
    EXPECT_EQ(info.YResolution.Whole, -1);
    EXPECT_EQ(info.YResolution.Frac, 0);
    EXPECT_EQ(info.ImageWidth, 31);
    EXPECT_EQ(info.ImageLength, 17);
    EXPECT_EQ(info.SamplesPerPixel, 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(info.BitsPerSample[i], 8);
    for (int i = 3; i < 8; ++i) EXPECT_EQ(info.BitsPerSample[i], 0x7777);  // not written
    EXPECT_EQ(info.BitsPerPixel, 24);
    EXPECT_EQ(info.Planar, FALSE);
    EXPECT_EQ(info.PixelType, TWPT_RGB);
    EXPECT_EQ(info.Compression, TWCP_NONE);
    EXPECT_EQ(call(DG_IMAGE, DAT_IMAGEINFO, MSG_SET, &info), TWRC_FAILURE);
    EXPECT_EQ(session->conditionCode, TWCC_BADPROTOCOL);
    ASSERT_EQ(nativeTransfer(), TWRC_XFERDONE);
    EXPECT_EQ(call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_FAILURE);
    EXPECT_EQ(session->conditionCode, TWCC_SEQERROR);
    EXPECT_EQ(call(DG_IMAGE, DAT_IMAGEINFO, MSG_SET, &info), TWRC_FAILURE);
    EXPECT_EQ(session->conditionCode, TWCC_SEQERROR);  // state before message

    // Without a picture the camera's full size is reported, and transfers fail.
    fresh();
    open();
    enable();
    session->notifyApplication(MSG_XFERREADY);
    ASSERT_EQ(call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
    EXPECT_EQ(info.ImageWidth, 1152);
    EXPECT_EQ(info.ImageLength, 872);
    EXPECT_EQ(nativeTransfer(), TWRC_FAILURE);
    EXPECT_EQ(session->conditionCode, TWCC_OPERATIONERROR);
    TW_IMAGEMEMXFER xfer;
    EXPECT_EQ(memoryTransfer(xfer, buffer), TWRC_FAILURE);
    EXPECT_EQ(session->conditionCode, TWCC_OPERATIONERROR);
    EXPECT_EQ(session->state, 6u);
}

TEST_F(TransferTest, LayoutIsAlwaysTheWholeFrame) {
    TW_IMAGELAYOUT layout{};
    EXPECT_EQ(call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout), TWRC_FAILURE);
    EXPECT_EQ(session->conditionCode, TWCC_SEQERROR);
    readyToTransfer(8, 8);
    layout.Frame = TW_FRAME{{1, 0}, {2, 0}, {3, 0x8000}, {4, 0}};
    layout.DocumentNumber = layout.PageNumber = layout.FrameNumber = 9;
    ASSERT_EQ(call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout), TWRC_SUCCESS);
    EXPECT_EQ(layout.DocumentNumber, 9u);  // read nothing, wrote nothing
    for (TW_UINT16 msg : {MSG_GET, MSG_GETDEFAULT, MSG_RESET}) {
        std::memset(&layout, 0x55, sizeof layout);
        ASSERT_EQ(call(DG_IMAGE, DAT_IMAGELAYOUT, msg, &layout), TWRC_SUCCESS);
        const uint8_t* frame = reinterpret_cast<const uint8_t*>(&layout.Frame);
        for (size_t i = 0; i < sizeof layout.Frame; ++i) EXPECT_EQ(frame[i], 0);
        EXPECT_EQ(layout.DocumentNumber, 1u);
        EXPECT_EQ(layout.PageNumber, 1u);
        EXPECT_EQ(layout.FrameNumber, 1u);
    }
    for (TW_UINT16 msg : {MSG_GETCURRENT, MSG_GETFIRST, MSG_GETNEXT}) {
        EXPECT_EQ(call(DG_IMAGE, DAT_IMAGELAYOUT, msg, &layout), TWRC_FAILURE);
        EXPECT_EQ(session->conditionCode, TWCC_BADPROTOCOL);
    }
    ASSERT_EQ(nativeTransfer(), TWRC_XFERDONE);
    EXPECT_EQ(call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout), TWRC_FAILURE);
    EXPECT_EQ(session->conditionCode, TWCC_SEQERROR);
}

// While a picture is being transferred no other one is offered: the transfer goes on where it
// was. The next picture, after the end of this one, starts at its own top.
TEST_F(TransferTest, NoSecondPictureIsOfferedDuringATransferAndTheNextStartsAtTheTop) {
    readyToTransfer(12, 9, 1);
    TW_IMAGEMEMXFER xfer;
    ASSERT_EQ(memoryTransfer(xfer, buffer), TWRC_SUCCESS);
    ASSERT_EQ(memoryTransfer(xfer, buffer), TWRC_SUCCESS);
    EXPECT_EQ(session->state, 7u);
    EXPECT_EQ(session->notifyApplication(MSG_XFERREADY), 0);
    EXPECT_EQ(session->state, 7u);
    for (uint32_t row = 2; row < 9; ++row) {
        ASSERT_EQ(memoryTransfer(xfer, buffer), TWRC_SUCCESS);
        EXPECT_EQ(xfer.YOffset, row);
        EXPECT_EQ(xfer.Columns, 12u);
        EXPECT_EQ(0, std::memcmp(buffer.data(), session->decodedImage->pixels + row * 36, 36));
    }
    ASSERT_EQ(memoryTransfer(xfer, buffer), TWRC_XFERDONE);
    // Complete, but not yet ended: still no new picture.
    EXPECT_EQ(session->notifyApplication(MSG_XFERREADY), 0);
    TW_UINT16 count = 1;
    ASSERT_EQ(endTransfer(MSG_ENDXFER, &count), TWRC_SUCCESS);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(session->state, 5u);
    // The new picture must not inherit "complete" nor the row reached.
    ready(colourJpeg(3, 2, 3));
    EXPECT_EQ(memoryTransfer(xfer, buffer), TWRC_SUCCESS);
    EXPECT_EQ(xfer.YOffset, 0u);
    EXPECT_EQ(xfer.Columns, 3u);
}

// A picture that fails to decode does not touch the one pending: the application still
// receives that one, whole.
TEST_F(TransferTest, AFailedDecodeLeavesThePendingPicture) {
    readyToTransfer(8, 6);
    const JpegDecoder* pending = session->decodedImage;
    std::vector<uint8_t> broken = colourJpeg(8, 8);
    broken.resize(broken.size() / 2);  // cut inside the scan
    broken[2] = 0x00;                  // and no valid marker after SOI
    EXPECT_EQ(session->prepareImage(broken.data(), uint32_t(broken.size())), 0);
    const uint8_t text[] = "not a picture";
    EXPECT_EQ(session->prepareImage(text, sizeof text), 0);
    EXPECT_EQ(session->decodedImage, pending);
    EXPECT_EQ(session->state, 6u);
    std::vector<uint8_t> dib;
    ASSERT_EQ(nativeTransfer(&dib), TWRC_XFERDONE);
    expectDibOfPicture(dib, *pending);

    // Missing data is refused before anything changes: a picture present stays.
    const std::vector<uint8_t> good = colourJpeg(5, 5);
    ASSERT_EQ(session->prepareImage(good.data(), uint32_t(good.size())), 1);
    EXPECT_EQ(session->prepareImage(nullptr, 100), 0);
    EXPECT_EQ(session->prepareImage(good.data(), 0), 0);
    ASSERT_NE(session->decodedImage, nullptr);
    EXPECT_EQ(session->decodedImage->width, 5);
}

TEST_F(TransferTest, PicturesWiderThanTheMemoryBufferFailCleanly) {
    // 1173 pixels fill 3519 of the 3520 bytes; 1174 would not fit.
    readyToTransfer(1173, 2);
    TW_IMAGEMEMXFER xfer;
    ASSERT_EQ(memoryTransfer(xfer, buffer), TWRC_SUCCESS);
    EXPECT_EQ(xfer.BytesWritten, 3519u);
    EXPECT_EQ(buffer[3519], 0xA5);

    fresh();
    readyToTransfer(1200, 3);
    std::fill(buffer.begin(), buffer.end(), 0xA5);
    EXPECT_EQ(memoryTransfer(xfer, buffer), TWRC_FAILURE);
    EXPECT_EQ(session->conditionCode, TWCC_OPERATIONERROR);
    for (size_t i = 0; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xA5) << i;
    EXPECT_EQ(session->nextRow, 0u);
    EXPECT_EQ(session->state, 6u);
    // The picture is still there for a native transfer.
    std::vector<uint8_t> dib;
    ASSERT_EQ(nativeTransfer(&dib), TWRC_XFERDONE);
    expectDibOfPicture(dib, *session->decodedImage);
}

TEST_F(TransferTest, ACompleteCycleLeavesNoGlobalMemoryBehind) {
    readyToTransfer(40, 30);
    auto cycle = [this]() {
        std::vector<uint8_t> dib;
        ASSERT_EQ(nativeTransfer(&dib), TWRC_XFERDONE);
        ASSERT_EQ(nativeTransfer(&dib), TWRC_XFERDONE);
        TW_UINT16 count;
        ASSERT_EQ(endTransfer(MSG_ENDXFER, &count), TWRC_SUCCESS);
        ready(colourJpeg(40, 30));
        TW_IMAGEMEMXFER xfer;
        while (memoryTransfer(xfer, buffer) == TWRC_SUCCESS) {
        }
        ASSERT_EQ(endTransfer(MSG_ENDXFER, &count), TWRC_SUCCESS);
        ready(colourJpeg(40, 30));
    };
    cycle();
    const HeapUsage before = processHeapUsage();
    for (int i = 0; i < 5; ++i) cycle();
    EXPECT_EQ(processHeapUsage(), before);
}

TEST_F(TransferTest, NoMemoryForTheBitmapKeepsThePictureForAnotherTry) {
    readyToTransfer(1, 1);
    // Pretend the picture needs almost 2 GB: within the size the transfer accepts, but more than
    // a 32-bit process can get in one block, so the allocation itself fails.
    JpegDecoder& picture = *session->decodedImage;
    picture.width = 30000;
    picture.height = 23000;
    ASSERT_LT(uint64_t(DibImage::dibStride(picture.width)) * uint64_t(picture.height) + 40u, 0x7FFF0000u);
    EXPECT_EQ(nativeTransfer(), TWRC_FAILURE);
    EXPECT_EQ(session->conditionCode, TWCC_LOWMEMORY);
    EXPECT_EQ(session->state, 6u);
    EXPECT_EQ(session->transferComplete, 0u);
    picture.width = 1;
    picture.height = 1;
    SIZE_T size = 0;
    EXPECT_EQ(nativeTransfer(nullptr, &size), TWRC_XFERDONE);
    EXPECT_EQ(size, 44u);
}
