// acquire.exe's own logic, without a source: reading what a source hands over (DIBs, memory
// blocks, capability containers) with every size and offset checked, the BMP it writes, and
// its command line.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tools/acquire/capability_reader.h"
#include "tools/acquire/options.h"
#include "tools/acquire/picture.h"
#include "tools/acquire/twain_names.h"

namespace {

void put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i)
        v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}
void put16(std::vector<uint8_t>& v, size_t at, uint16_t x) {
    v[at] = static_cast<uint8_t>(x);
    v[at + 1] = static_cast<uint8_t>(x >> 8);
}
uint32_t get32(const std::vector<uint8_t>& v, size_t at) {
    return v[at] | v[at + 1] << 8 | v[at + 2] << 16 | static_cast<uint32_t>(v[at + 3]) << 24;
}

uint8_t channel(int x, int y, int c) { return static_cast<uint8_t>(x * 31 + y * 7 + c * 85); }

// A packed 24-bit DIB of w x h with the channel() picture; height sign chooses the row order.
std::vector<uint8_t> makeDib(int w, int h, bool bottomUp, uint32_t coloursUsed = 0) {
    size_t stride = (w * 3 + 3) & ~3;
    std::vector<uint8_t> dib(40 + coloursUsed * 4 + stride * h, 0xEE);
    std::fill(dib.begin(), dib.begin() + 40, 0);
    put32(dib, 0, 40);
    put32(dib, 4, w);
    put32(dib, 8, bottomUp ? h : -h);
    put16(dib, 12, 1);
    put16(dib, 14, 24);
    put32(dib, 32, coloursUsed);
    uint8_t* bits = dib.data() + 40 + coloursUsed * 4;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                bits[(bottomUp ? h - 1 - y : y) * stride + x * 3 + c] = channel(x, y, 2 - c);
    return dib;
}

void expectChannelPicture(const Picture& p, int w, int h) {
    ASSERT_EQ(p.width(), w);
    ASSERT_EQ(p.height(), h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(p.row(y)[x * 3 + c], channel(x, y, c)) << x << "," << y << "," << c;
}

TEST(PictureFromDib, ReadsBottomUpTopDownAndAColourTable) {
    Picture p;
    std::string error;
    for (bool bottomUp : {true, false}) {
        std::vector<uint8_t> dib = makeDib(5, 3, bottomUp);
        ASSERT_TRUE(pictureFromDib(dib.data(), dib.size(), p, error)) << error;
        expectChannelPicture(p, 5, 3);
        EXPECT_TRUE(p.complete());
    }
    std::vector<uint8_t> withTable = makeDib(4, 2, true, 3);
    ASSERT_TRUE(pictureFromDib(withTable.data(), withTable.size(), p, error)) << error;
    expectChannelPicture(p, 4, 2);
}

TEST(PictureFromDib, RefusesShortBlocksOtherFormatsAndSillySizes) {
    Picture p;
    std::string error;
    std::vector<uint8_t> dib = makeDib(5, 3, true);
    EXPECT_FALSE(pictureFromDib(dib.data(), dib.size() - 1, p, error));  // last row cut
    EXPECT_FALSE(pictureFromDib(dib.data(), 39, p, error));
    std::vector<uint8_t> eight = dib;
    put16(eight, 14, 8);
    EXPECT_FALSE(pictureFromDib(eight.data(), eight.size(), p, error));
    std::vector<uint8_t> rle = dib;
    put32(rle, 16, 1);
    EXPECT_FALSE(pictureFromDib(rle.data(), rle.size(), p, error));
    std::vector<uint8_t> hugeTable = dib;
    put32(hugeTable, 32, 0x40000000);
    EXPECT_FALSE(pictureFromDib(hugeTable.data(), hugeTable.size(), p, error));
    std::vector<uint8_t> hugeHeader = dib;
    put32(hugeHeader, 0, 0xFFFFFFF0);
    EXPECT_FALSE(pictureFromDib(hugeHeader.data(), hugeHeader.size(), p, error));
    std::vector<uint8_t> wide = dib;
    put32(wide, 4, 0x7FFFFFFF);
    EXPECT_FALSE(pictureFromDib(wide.data(), wide.size(), p, error));
    std::vector<uint8_t> zero = dib;
    put32(zero, 8, 0);
    EXPECT_FALSE(pictureFromDib(zero.data(), zero.size(), p, error));
}

MemoryBlock rowsBlock(const std::vector<uint8_t>& buffer, uint32_t width, uint32_t first, uint32_t rows,
                      uint32_t bytesPerRow) {
    return MemoryBlock{0, bytesPerRow, width, rows, 0, first, bytesPerRow * rows, buffer.data(), buffer.size()};
}

TEST(MemoryBlocks, AssembleRowsInAnyGroupingAndCountEachRowOnce) {
    const int w = 3, h = 5;
    Picture p;
    ASSERT_TRUE(p.reset(w, h));
    std::string error;
    // Rows 0-1 then 2-4, with 2 bytes of padding after each row.
    for (auto part : {std::make_pair(0, 2), std::make_pair(2, 3), std::make_pair(2, 1)}) {
        std::vector<uint8_t> buffer(64, 0xAB);
        for (int r = 0; r < part.second; ++r)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c)
                    buffer[r * (w * 3 + 2) + x * 3 + c] = channel(x, part.first + r, c);
        ASSERT_TRUE(addMemoryBlock(rowsBlock(buffer, w, part.first, part.second, w * 3 + 2), p, error)) << error;
    }
    EXPECT_EQ(p.rowsReceived(), h);  // the repeated row 2 counted once
    expectChannelPicture(p, w, h);
}

TEST(MemoryBlocks, RefuseBlocksOutsideThePictureOrTheBuffer) {
    Picture p;
    ASSERT_TRUE(p.reset(4, 4));
    std::string error;
    std::vector<uint8_t> buffer(48);
    EXPECT_FALSE(addMemoryBlock(rowsBlock(buffer, 4, 3, 2, 12), p, error));   // past the last row
    EXPECT_FALSE(addMemoryBlock(rowsBlock(buffer, 5, 0, 1, 15), p, error));   // wider than the picture
    EXPECT_FALSE(addMemoryBlock(rowsBlock(buffer, 4, 0, 1, 11), p, error));   // row shorter than its pixels
    EXPECT_FALSE(addMemoryBlock(rowsBlock(buffer, 4, 0, 5, 12), p, error));   // more rows than the picture
    MemoryBlock overflow = rowsBlock(buffer, 4, 0, 4, 13);                   // 4 x 13 > 48 bytes
    EXPECT_FALSE(addMemoryBlock(overflow, p, error));
    MemoryBlock wrap = rowsBlock(buffer, 4, 0xFFFFFFFF, 2, 12);
    EXPECT_FALSE(addMemoryBlock(wrap, p, error));
    MemoryBlock compressed = rowsBlock(buffer, 4, 0, 1, 12);
    compressed.compression = 2;
    EXPECT_FALSE(addMemoryBlock(compressed, p, error));
    MemoryBlock written = rowsBlock(buffer, 4, 0, 2, 12);
    written.bytesWritten = 20;  // says it wrote less than two rows
    EXPECT_FALSE(addMemoryBlock(written, p, error));
    EXPECT_EQ(p.rowsReceived(), 0);
}

TEST(Bmp, IsBottomUpBgrWithZeroPaddingAndCorrectHeaders) {
    Picture p;
    ASSERT_TRUE(p.reset(3, 2));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            for (int c = 0; c < 3; ++c)
                p.row(y)[x * 3 + c] = channel(x, y, c);
    std::vector<uint8_t> bmp = encodeBmp(p);
    ASSERT_EQ(bmp.size(), 54u + 12 * 2);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(get32(bmp, 2), bmp.size());
    EXPECT_EQ(get32(bmp, 10), 54u);
    EXPECT_EQ(get32(bmp, 14), 40u);
    EXPECT_EQ(get32(bmp, 18), 3u);
    EXPECT_EQ(get32(bmp, 22), 2u);  // positive height: bottom-up
    EXPECT_EQ(bmp[28], 24);
    EXPECT_EQ(get32(bmp, 30), 0u);
    EXPECT_EQ(get32(bmp, 34), 24u);
    for (int fileRow = 0; fileRow < 2; ++fileRow) {
        const uint8_t* row = bmp.data() + 54 + fileRow * 12;
        int y = 1 - fileRow;
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(row[x * 3], channel(x, y, 2));
            EXPECT_EQ(row[x * 3 + 1], channel(x, y, 1));
            EXPECT_EQ(row[x * 3 + 2], channel(x, y, 0));
        }
        EXPECT_EQ(row[9] | row[10] | row[11], 0);
    }
    // And it reads back through the DIB reader (the file minus its 14-byte file header).
    Picture back;
    std::string error;
    ASSERT_TRUE(pictureFromDib(bmp.data() + 14, bmp.size() - 14, back, error)) << error;
    EXPECT_EQ(std::memcmp(back.row(0), p.row(0), 18), 0);
}

TEST(Containers, DecodeOneValueEnumerationAndArrayWithSignsAndFix32) {
    CapabilityValues v;
    std::string error;
    std::vector<uint8_t> one(6);
    put16(one, 0, TWTY_INT16);
    put32(one, 2, 0xFFFF);
    ASSERT_TRUE(decodeContainer(TWON_ONEVALUE, one.data(), one.size(), v, error));
    EXPECT_EQ(v.items, std::vector<int64_t>{-1});
    EXPECT_EQ(describeValues(CAP_XFERCOUNT, v), "-1");

    std::vector<uint8_t> enumeration(14 + 4);
    put16(enumeration, 0, TWTY_INT16);
    put32(enumeration, 2, 2);
    put32(enumeration, 6, 0);
    put32(enumeration, 10, 1);
    put16(enumeration, 14, 5);
    put16(enumeration, 16, 0xFFFF);
    ASSERT_TRUE(decodeContainer(TWON_ENUMERATION, enumeration.data(), enumeration.size(), v, error));
    EXPECT_EQ(describeValues(CAP_XFERCOUNT, v), "[5, -1] (current 5, default -1)");

    std::vector<uint8_t> array(6 + 4);
    put16(array, 0, TWTY_UINT16);
    put32(array, 2, 2);
    put16(array, 6, CAP_DEVICEONLINE);
    put16(array, 8, ICAP_BITDEPTH);
    ASSERT_TRUE(decodeContainer(TWON_ARRAY, array.data(), array.size(), v, error));
    EXPECT_EQ(describeValues(CAP_SUPPORTEDCAPS, v), "[CAP_DEVICEONLINE, ICAP_BITDEPTH]");

    std::vector<uint8_t> fix(6);
    put16(fix, 0, TWTY_FIX32);
    put16(fix, 2, 1152);
    put16(fix, 4, 0x8000);
    ASSERT_TRUE(decodeContainer(TWON_ONEVALUE, fix.data(), fix.size(), v, error));
    EXPECT_EQ(describeValues(ICAP_PHYSICALWIDTH, v), "1152.50");
}

TEST(Containers, RefuseCountsBeyondTheBlockAndUnknownTypes) {
    CapabilityValues v;
    std::string error;
    std::vector<uint8_t> array(6 + 4);
    put16(array, 0, TWTY_UINT16);
    put32(array, 2, 3);  // three items, room for two
    EXPECT_FALSE(decodeContainer(TWON_ARRAY, array.data(), array.size(), v, error));
    put32(array, 2, 0x80000000);
    EXPECT_FALSE(decodeContainer(TWON_ARRAY, array.data(), array.size(), v, error));
    std::vector<uint8_t> enumeration(13);
    EXPECT_FALSE(decodeContainer(TWON_ENUMERATION, enumeration.data(), enumeration.size(), v, error));
    std::vector<uint8_t> one(6);
    put16(one, 0, TWTY_STR32);
    EXPECT_FALSE(decodeContainer(TWON_ONEVALUE, one.data(), one.size(), v, error));
    EXPECT_FALSE(decodeContainer(TWON_RANGE, one.data(), one.size(), v, error));
}

bool parse(std::vector<const char*> args, AcquireOptions& options, std::string& error) {
    args.insert(args.begin(), "acquire.exe");
    return parseOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(Options, DefaultsAndEveryOption) {
    AcquireOptions o;
    std::string error;
    ASSERT_TRUE(parse({}, o, error));
    EXPECT_EQ(o.source, "Zelmar Dorvex");
    EXPECT_EQ(o.mechanism, TransferMechanism::Native);
    EXPECT_EQ(o.autoMode, AutoMode::None);
    AcquireOptions all;
    ASSERT_TRUE(parse({"--source", "Fake Beta", "--memory", "--out", "a.bmp", "--timeout", "7", "--auto", "12",
                       "--answer", "no"},
                      all, error))
        << error;
    EXPECT_EQ(all.source, "Fake Beta");
    EXPECT_EQ(all.mechanism, TransferMechanism::Memory);
    EXPECT_EQ(all.outPath, "a.bmp");
    EXPECT_EQ(all.timeoutSeconds, 7);
    EXPECT_EQ(all.autoMode, AutoMode::Picture);
    EXPECT_EQ(all.picture, 12);
    EXPECT_EQ(all.answer, BoxAnswer::No);
    // --auto without a number, followed by another option.
    AcquireOptions status;
    ASSERT_TRUE(parse({"--auto", "--native"}, status, error));
    EXPECT_EQ(status.autoMode, AutoMode::Status);
}

TEST(Options, RefuseMalformedValues) {
    std::string error;
    for (std::vector<const char*> bad : std::vector<std::vector<const char*>>{{"--timeout"},
                                                                              {"--timeout", "0"},
                                                                              {"--timeout", "5s"},
                                                                              {"--auto", "0"},
                                                                              {"--auto", "x1"},
                                                                              {"--out"},
                                                                              {"--source", ""},
                                                                              {"--answer", "maybe"},
                                                                              {"--bogus"},
                                                                              {"--source", "a name that is far too long for TWAIN"}}) {
        AcquireOptions o;
        EXPECT_FALSE(parse(bad, o, error)) << bad[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(Options, ScenarioModes) {
    std::string error;
    AcquireOptions all;
    ASSERT_TRUE(parse({"--auto", "all", "--answer", "ok,no"}, all, error)) << error;
    EXPECT_EQ(all.autoMode, AutoMode::All);
    EXPECT_EQ(all.answer, BoxAnswer::Ok);
    EXPECT_EQ(all.otherAnswer, BoxAnswer::No);
    AcquireOptions cycles;
    ASSERT_TRUE(parse({"--cycles", "50", "--auto", "1"}, cycles, error)) << error;
    EXPECT_EQ(cycles.cycles, 50);
    AcquireOptions close;
    ASSERT_TRUE(parse({"--auto", "6", "--close-during", "download"}, close, error)) << error;
    EXPECT_EQ(close.closeDuring, CloseDuring::Download);
    AcquireOptions settings;
    ASSERT_TRUE(parse({"--auto", "--set-rate", "4", "--clock-from-pc"}, settings, error)) << error;
    EXPECT_EQ(settings.setRate, 4);
    EXPECT_TRUE(settings.clockFromPc);
}

TEST(Options, RudeActsAndTheirDelay) {
    std::string error;
    const struct {
        const char* name;
        RudeAct act;
    } acts[] = {{"destroy-listing", RudeAct::DestroyListing},     {"destroy-question", RudeAct::DestroyQuestion},
                {"destroy-settings", RudeAct::DestroySettings},   {"destroy-download", RudeAct::DestroyDownload},
                {"disable-subdialog", RudeAct::DisableSubdialog}, {"close-question", RudeAct::CloseQuestion},
                {"exit-open", RudeAct::ExitOpen},                 {"close-listing", RudeAct::CloseListing},
                {"close-download", RudeAct::CloseDownload},       {"close-settings", RudeAct::CloseSettings},
                {"unload-enabled", RudeAct::UnloadEnabled}};
    for (const auto& act : acts) {
        AcquireOptions o;
        ASSERT_TRUE(parse({"--auto", "2", "--rude", act.name, "--rude-after", "7"}, o, error)) << act.name << error;
        EXPECT_EQ(o.rude, act.act) << act.name;
        EXPECT_EQ(o.rudeAfterTicks, 7);
    }
    for (std::vector<const char*> bad : std::vector<std::vector<const char*>>{
             {"--rude", "destroy-listing"},  // no --auto
             {"--auto", "--rude", "shout"},
             {"--auto", "--rude"},
             {"--auto", "--rude", "exit-open", "--rude-after", "601"},
             {"--auto", "--rude", "exit-open", "--rude-after", "-1"}}) {
        AcquireOptions o;
        EXPECT_FALSE(parse(bad, o, error)) << bad[0] << " " << (bad.size() > 1 ? bad[1] : "");
        EXPECT_FALSE(error.empty());
    }
}

TEST(Options, ScenarioModesNeedTheirCompanions) {
    std::string error;
    for (std::vector<const char*> bad : std::vector<std::vector<const char*>>{
             {"--cycles", "5"},                                      // no --auto
             {"--cycles", "0", "--auto", "1"},
             {"--cycles", "5", "--auto", "all"},
             {"--close-during", "listing"},                          // no --auto N
             {"--close-during", "later", "--auto", "1"},
             {"--close-during", "listing", "--auto", "1", "--cycles", "2"},
             {"--set-rate", "5", "--auto"},
             {"--set-rate", "1"},                                    // no --auto
             {"--clock-from-pc"},
             {"--answer", "ok,maybe"},
             {"--answer", ",no"}}) {
        AcquireOptions o;
        EXPECT_FALSE(parse(bad, o, error)) << bad[0] << " " << (bad.size() > 1 ? bad[1] : "");
        EXPECT_FALSE(error.empty());
    }
}

TEST(Options, InteropModes) {
    std::string error;
    AcquireOptions defaults;
    ASSERT_TRUE(parse({}, defaults, error));
    EXPECT_EQ(defaults.parent, ParentMode::Own);
    EXPECT_EQ(defaults.openBy, OpenBy::Name);
    EXPECT_TRUE(defaults.showUI);
    AcquireOptions console;
    ASSERT_TRUE(parse({"--parent", "none", "--open-by", "id", "--show-ui", "0", "--memory"}, console, error)) << error;
    EXPECT_EQ(console.parent, ParentMode::None);
    EXPECT_EQ(console.openBy, OpenBy::Id);
    EXPECT_FALSE(console.showUI);
    EXPECT_EQ(console.mechanism, TransferMechanism::Memory);  // the option after them still counts
    AcquireOptions thread;
    ASSERT_TRUE(parse({"--parent", "thread", "--open-by", "name", "--show-ui", "1", "--auto", "2"}, thread, error))
        << error;
    EXPECT_EQ(thread.parent, ParentMode::Thread);
    EXPECT_EQ(thread.openBy, OpenBy::Name);
    EXPECT_TRUE(thread.showUI);
    EXPECT_EQ(thread.picture, 2);
    for (std::vector<const char*> bad : std::vector<std::vector<const char*>>{
             {"--parent"}, {"--parent", "console"}, {"--open-by"}, {"--open-by", "Id"}, {"--show-ui", "2"},
             {"--show-ui"}, {"--show-ui", "--auto"}}) {
        AcquireOptions o;
        EXPECT_FALSE(parse(bad, o, error)) << bad[0] << " " << (bad.size() > 1 ? bad[1] : "");
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace

TEST(Identity, StringsAreReadWithinTheirFields) {
    TW_IDENTITY id;
    std::memset(&id, 'x', sizeof id);  // no terminating zero anywhere
    std::memcpy(id.Manufacturer, "Maker\tA", 8);
    EXPECT_EQ(std::string(sizeof id.ProductName, 'x'), twainText(id.ProductName));
    EXPECT_EQ("Maker?A", twainText(id.Manufacturer));
}
