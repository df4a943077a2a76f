// A SourceSession object of its own for each test, linked into the test program with the
// real resources, so that tests can reach states 6 and 7 (picture prepared, notification
// sent) the way the camera dialog does, and look at the session's fields.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "imaging/jpeg_decoder.h"
#include "source/source_session.h"
#include "tests/source/test_support.h"

// A baseline colour JPEG of the given size whose pixels differ from row to row and column
// to column (made with the imaging tests' writer).
std::vector<uint8_t> colourJpeg(uint16_t width, uint16_t height, uint32_t seed = 1);

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override { fresh(); }
    void TearDown() override { session.reset(); }

    void fresh() {
        session = std::make_unique<SourceSession>();
        session->startup();
    }
    TW_UINT16 call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) { return callAs(app, dg, dat, msg, data); }
    TW_UINT16 callAs(TW_IDENTITY& origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
        TripletCall c{&origin, dg, dat, msg, data};
        return session->dispatch(c);
    }
    void open(TW_UINT32 sourceId = 91);
    void enable(bool showUI = false);
    // Decodes a picture and tells the application: state 6.
    void ready(const std::vector<uint8_t>& jpeg);
    // DAT_IMAGENATIVEXFER: the DIB copied out of the returned block, which is then freed.
    TW_UINT16 nativeTransfer(std::vector<uint8_t>* dib = nullptr, SIZE_T* blockSize = nullptr);
    TW_UINT16 memoryTransfer(TW_IMAGEMEMXFER& xfer, std::vector<uint8_t>& buffer);
    TW_UINT16 endTransfer(TW_UINT16 msg, TW_UINT16* count);

    std::unique_ptr<SourceSession> session;
    TW_IDENTITY app = makeAppIdentity(5, "Session Test");
    TW_IDENTITY otherApp = makeAppIdentity(6, "Other Application");
};
