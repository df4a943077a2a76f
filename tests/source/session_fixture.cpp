#include "tests/source/session_fixture.h"

#include <cstring>

#include "tests/imaging/jpeg_test_writer.h"

std::vector<uint8_t> colourJpeg(uint16_t width, uint16_t height, uint32_t seed) {
    // Each block gets its own DC level and a horizontal and a vertical ramp, so that rows,
    // columns and the three components all differ.
    uint32_t rng = seed * 2654435761u + 1;
    auto next = [&rng](int range) {
        rng = rng * 1664525u + 1013904223u;
        return int((rng >> 8) % uint32_t(2 * range + 1)) - range;
    };
    testjpeg::Writer w;
    w.soi();
    w.app0();
    w.tables();
    w.sof0(width, height, 3);
    w.sos(3);
    const int mcus = ((width + 7) / 8) * ((height + 7) / 8);
    std::vector<std::vector<testjpeg::Block>> blocks;
    blocks.reserve(size_t(mcus));
    for (int m = 0; m < mcus; ++m) {
        std::vector<testjpeg::Block> mcu;
        for (int c = 0; c < 3; ++c) {
            testjpeg::Block b = testjpeg::dcBlock(int16_t(next(c == 0 ? 700 : 300)));
            b[1] = int16_t(next(40));  // first horizontal frequency
            b[2] = int16_t(next(40));  // first vertical frequency
            mcu.push_back(b);
        }
        blocks.push_back(mcu);
    }
    w.scan(blocks, {0, 1, 2});
    w.eoi();
    return w.bytes;
}

void SessionTest::open(TW_UINT32 sourceId) {
    TW_IDENTITY source{};
    ASSERT_EQ(call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &source), TWRC_SUCCESS);
    source.Id = sourceId;
    ASSERT_EQ(call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source), TWRC_SUCCESS);
}

void SessionTest::enable(bool showUI) {
    TW_USERINTERFACE ui{TW_BOOL(showUI), TRUE, nullptr};
    ASSERT_EQ(call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
}

void SessionTest::ready(const std::vector<uint8_t>& jpeg) {
    ASSERT_EQ(session->prepareImage(jpeg.data(), uint32_t(jpeg.size())), 1);
    ASSERT_EQ(session->notifyApplication(MSG_XFERREADY), 1);
    ASSERT_EQ(session->state, 6u);
}

TW_UINT16 SessionTest::nativeTransfer(std::vector<uint8_t>* dib, SIZE_T* blockSize) {
    TW_UINT32 handleValue = 0;
    const TW_UINT16 rc = call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handleValue);
    if (rc != TWRC_XFERDONE) {
        EXPECT_EQ(handleValue, 0u);
        return rc;
    }
    auto handle = reinterpret_cast<HGLOBAL>(uintptr_t(handleValue));
    const SIZE_T size = GlobalSize(handle);
    if (blockSize) *blockSize = size;
    auto* p = static_cast<uint8_t*>(GlobalLock(handle));
    EXPECT_NE(static_cast<void*>(p), handle) << "the block should be movable";
    if (p && dib) dib->assign(p, p + size);
    GlobalUnlock(handle);
    EXPECT_EQ(GlobalFree(handle), nullptr);
    return rc;
}

TW_UINT16 SessionTest::memoryTransfer(TW_IMAGEMEMXFER& xfer, std::vector<uint8_t>& buffer) {
    std::memset(&xfer, 0xEE, sizeof xfer);
    xfer.Memory.Flags = 0;
    xfer.Memory.Length = 3520;
    xfer.Memory.TheMem = buffer.data();
    return call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
}

TW_UINT16 SessionTest::endTransfer(TW_UINT16 msg, TW_UINT16* count) {
    TW_PENDINGXFERS pending{0x5555, 0};
    const TW_UINT16 rc = call(DG_CONTROL, DAT_PENDINGXFERS, msg, &pending);
    if (count) *count = pending.Count;
    return rc;
}
