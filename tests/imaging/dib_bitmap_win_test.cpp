// createBitmap under Windows (Wine): argument and state errors, and a device bitmap whose
// bits read back equal the DIB bits, plain and dithered.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <memory>
#include <vector>

#include "imaging/jpeg_decoder.h"
#include "jpeg_test_writer.h"

namespace {

std::vector<uint8_t> picture() {
    // 13 x 11 greyscale blocks of different levels: odd width, so DIB rows carry padding.
    return testjpeg::greyStream(13, 11, {testjpeg::dcBlock(-800), testjpeg::dcBlock(-100), testjpeg::dcBlock(300),
                                         testjpeg::dcBlock(900)});
}

// Reads a bitmap back as 24-bit bottom-up DIB bits.
std::vector<uint8_t> readBack(HDC dc, HBITMAP bitmap, int width, int height) {
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    std::vector<uint8_t> bits(DibImage::dibStride(width) * height);
    const int lines = GetDIBits(dc, bitmap, 0, height, bits.data(), reinterpret_cast<BITMAPINFO*>(&header),
                                DIB_RGB_COLORS);
    EXPECT_EQ(lines, height);
    return bits;
}

// Compares pixel bytes only (padding is not part of the picture).
void expectSamePixels(const std::vector<uint8_t>& a, const uint8_t* b, int width, int height) {
    const uint32_t stride = DibImage::dibStride(width);
    for (int row = 0; row < height; ++row) {
        ASSERT_EQ(std::memcmp(a.data() + row * stride, b + row * stride, static_cast<size_t>(width) * 3), 0)
            << "row " << row;
    }
}

TEST(CreateBitmap, NullDeviceContextAndMissingPicture) {
    JpegDecoder decoder;
    EXPECT_EQ(decoder.createBitmap(nullptr, 0), nullptr);
    EXPECT_EQ(decoder.lastError, ErrBadArgument);
    HDC screen = GetDC(nullptr);
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(decoder.createBitmap(screen, 0), nullptr);
    EXPECT_EQ(decoder.lastError, ErrNoImage);
    ReleaseDC(nullptr, screen);
}

TEST(CreateBitmap, PlainAndDitheredBitsReadBack) {
    if (GetDeviceCaps(GetDC(nullptr), BITSPIXEL) < 24) {
        GTEST_SKIP() << "needs a true-colour screen to read the bits back unchanged";
    }
    const std::vector<uint8_t> bytes = picture();
    JpegDecoder decoder;
    ASSERT_TRUE(decoder.attach(bytes.data(), static_cast<int32_t>(bytes.size())));
    ASSERT_TRUE(decoder.decode()) << imageErrorName(decoder.lastError);
    uint32_t size = 0;
    std::unique_ptr<uint8_t[]> expected(decoder.makeDibBits(&size));
    ASSERT_NE(expected, nullptr);
    HDC screen = GetDC(nullptr);
    for (int dither : {0, 1}) {
        if (dither) {
            decoder.ditherToPalette(expected.get());
        }
        HBITMAP bitmap = decoder.createBitmap(screen, dither);
        ASSERT_NE(bitmap, nullptr) << imageErrorName(decoder.lastError);
        EXPECT_EQ(decoder.lastError, ErrNone);
        BITMAP info = {};
        ASSERT_EQ(GetObject(bitmap, sizeof info, &info), static_cast<int>(sizeof info));
        EXPECT_EQ(info.bmWidth, 13);
        EXPECT_EQ(info.bmHeight, 11);
        expectSamePixels(readBack(screen, bitmap, 13, 11), expected.get(), 13, 11);
        DeleteObject(bitmap);
    }
    ReleaseDC(nullptr, screen);
}

}  // namespace
