// The link's protocol core against a scripted camera: every branch of receiving and sending,
// with the exact bytes the link puts on the wire, its counters, its latch and its (virtual)
// waiting time.
#include "camera/link_core.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "tests/camera/scripted_port.h"

using namespace linkscript;
using framing::ACK;
using framing::ENQ;
using framing::EOT;
using framing::ETB;
using framing::ETX;
using framing::NAK;
using framing::STX;

namespace {

Bytes words(uint16_t code, std::initializer_list<uint16_t> parameters) {
    Bytes out{static_cast<uint8_t>(code & 0xFF), static_cast<uint8_t>(code >> 8), 0, 0};
    for (uint16_t w : parameters) {
        out.push_back(static_cast<uint8_t>(w & 0xFF));
        out.push_back(static_cast<uint8_t>(w >> 8));
    }
    return out;
}

// What the link writes for a request the camera takes at once.
Bytes requestOnWire(const Bytes& payload) {
    return Bytes{ENQ} + packet(payload) + Bytes{EOT};
}

// A packet with any terminator and checksum, stuffed as on the wire.
Bytes framed(const Bytes& payload, uint8_t terminator, uint8_t checksum) {
    Bytes out{STX};
    framing::appendStuffed(out, static_cast<uint8_t>(payload.size() & 0xFF));
    framing::appendStuffed(out, static_cast<uint8_t>(payload.size() >> 8));
    for (uint8_t b : payload) framing::appendStuffed(out, b);
    framing::appendStuffed(out, terminator);
    framing::appendStuffed(out, checksum);
    return out;
}

Bytes badChecksum(const Bytes& payload) {
    return framed(payload, ETX, static_cast<uint8_t>(framing::packetChecksum(payload.data(), payload.size(), ETX) + 1));
}

Bytes withoutStart(Bytes wire) {
    wire.erase(wire.begin());
    return wire;
}

Bytes repeated(uint8_t value, size_t n) {
    return Bytes(n, value);
}

const Bytes getIOCap = words(0x9000, {});
const Bytes ioCapStatus = status(0x9000, 0, 13);

class Observer : public LinkObserver {
public:
    void downloadBegins() override { ++begins; }
    bool progressStep(int percent) override {
        steps.push_back(percent);
        if (core && cancelAtStep == static_cast<int>(steps.size())) core->cancelRequested = 1;
        return true;
    }
    void downloadEnds(bool succeeded) override { ends.push_back(succeeded); }

    LinkCore* core = nullptr;
    int cancelAtStep = 0;  // 1-based step whose click sets the cancel flag; 0 = none
    int begins = 0;
    std::vector<int> steps;
    std::vector<bool> ends;
};

class Core : public ::testing::Test {
protected:
    void SetUp() override {
        port.connected = 1;
        observer.core = &link;
    }
    // The camera's ACK to our enquiry and to our request packet (and what follows them in the
    // script) come in answer to the enquiry.
    void takesRequest() {
        port.arrivesLater();
        port.send({ACK, ACK});
    }
    Bytes hostAnswersBlock() const { return Bytes{ACK, ACK}; }

    ScriptedPort port;
    Observer observer;
    LinkCore link{port, &observer};
};

}  // namespace

// ---- receiving ----

TEST_F(Core, CleanExchangeHasTheWorkedBytesAndNoWaiting) {
    takesRequest();
    port.send(block(ioCapStatus));
    ASSERT_EQ(link.GetIOCap(false), 1);
    EXPECT_EQ(port.written, (Bytes{ENQ, 0x02, 0x04, 0x00, 0x00, 0x90, 0x00, 0x00, 0x03, 0x97, EOT, ACK, ACK}));
    EXPECT_EQ(link.lastResultCode(), ResultOk);
    EXPECT_EQ(link.receiveStats.blocks, 1u);
    EXPECT_EQ(link.receiveStats.naks, 0u);
    EXPECT_EQ(link.linkError, 0);
    EXPECT_EQ(port.timeouts, 0u);
    EXPECT_EQ(port.purgeCalls, 0);
    EXPECT_EQ(port.readTimeoutMs, 3000u);  // the enquiry's 300 ms is undone
    EXPECT_TRUE(link.isConnected());
}

TEST_F(Core, RejectedReceptionsAreNakedAndTheResendIsTaken) {
    struct Case {
        const char* name;
        Bytes rejected;
    };
    Bytes escaped = status(0x9000, 0, 13);
    escaped[6] = 0x02;  // goes out as 1B FD
    Bytes badEscape = packet(escaped);
    for (size_t i = 1; i + 1 < badEscape.size(); ++i)
        if (badEscape[i] == 0x1B && badEscape[i + 1] == 0xFD) badEscape[i + 1] = 0xFC;
    const Case cases[] = {
        {"bad checksum", badChecksum(ioCapStatus)},
        {"bad start", Bytes{0x7F} + withoutStart(packet(ioCapStatus))},
        {"bad terminator",
         framed(ioCapStatus, 0x20, framing::packetChecksum(ioCapStatus.data(), ioCapStatus.size(), 0x20))},
        {"bad escape", badEscape},
        {"length too short", framed(Bytes(ioCapStatus.begin(), ioCapStatus.end() - 4), ETX, 0) +
                                 Bytes(ioCapStatus.end() - 4, ioCapStatus.end())},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPort line;
        line.connected = 1;
        LinkCore core(line, nullptr);
        line.arrivesLater();
        line.send({ACK, ACK, ENQ});
        line.send(c.rejected);
        line.pause();  // the camera waits for our answer
        line.send(packet(c.name == std::string("bad escape") ? escaped : ioCapStatus) + Bytes{EOT});
        ASSERT_EQ(core.GetIOCap(false), 1);
        EXPECT_EQ(line.written, (requestOnWire(getIOCap) + Bytes{ACK, NAK, ACK}));
        EXPECT_EQ(core.receiveStats.naks, 1u);
        EXPECT_EQ(core.receiveStats.blocks, 1u);
        EXPECT_EQ(core.linkError, 0);
        EXPECT_EQ(core.lastResultCode(), ResultOk);
        EXPECT_EQ(line.readTimeoutMs, 3000u);
    }
}

TEST_F(Core, FourRejectedReceptionsFailWithoutLineErrorOrStatus) {
    takesRequest();
    port.send({ENQ});
    for (int i = 0; i < 4; ++i) {
        port.send(badChecksum(ioCapStatus));
        port.pause();
    }
    port.send(block(ioCapStatus));  // never read
    EXPECT_EQ(link.GetIOCap(false), 0);
    EXPECT_EQ(port.written, (requestOnWire(getIOCap) + Bytes{ACK, NAK, NAK, NAK, NAK}));
    EXPECT_EQ(link.receiveStats.naks, 4u);
    EXPECT_EQ(link.linkError, 0);
    EXPECT_EQ(link.lastResultCode(), -1);
    EXPECT_FALSE(link.isConnected());
}

TEST_F(Core, RepeatedBlockOverwritesTheSamePlaceUpToThreeTimes) {
    takesRequest();
    const Bytes data{'a', 'b', 'c'};
    port.send(Bytes{ENQ} + packet(data) + packet(data) + packet(data) + Bytes{EOT});
    port.send(block(status(0x8800, 0)));
    ASSERT_EQ(link.GetThumb(5, false), 1);
    EXPECT_EQ(port.written, (requestOnWire(words(0x8800, {2, 5})) + Bytes{ACK, ACK, ACK, ACK, ACK, ACK}));
    ASSERT_EQ(link.buffers->thumbnail.count, 3u);
    EXPECT_EQ(Bytes(link.buffers->thumbnail.data, link.buffers->thumbnail.data + 3), data);
    EXPECT_EQ(link.receiveStats.repeats, 2u);

    // A fourth repetition is one too many.
    ScriptedPort line;
    LinkCore core(line, nullptr);
    line.arrivesLater();
    line.send({ACK, ACK, ENQ});
    for (int i = 0; i < 5; ++i) line.send(packet(data));
    EXPECT_EQ(core.GetThumb(5, false), 0);
    EXPECT_EQ(core.receiveStats.repeats, 3u);
    EXPECT_EQ(core.linkError, 0);
    EXPECT_EQ(core.buffers->thumbnail.data, nullptr);
}

TEST_F(Core, ExtraEnquiryBeforeThePacketAndEnquiriesWhileWaitingForAck) {
    takesRequest();
    port.send(Bytes{ENQ, ENQ} + packet(ioCapStatus) + Bytes{EOT});
    ASSERT_EQ(link.GetIOCap(false), 1);
    EXPECT_EQ(link.receiveStats.extraEnquiries, 1u);
    EXPECT_EQ(port.written, (requestOnWire(getIOCap) + hostAnswersBlock()));

    // While waiting for an ACK, up to 64 enquiries are skipped; the 65th ends the wait.
    port.written.clear();
    port.send(repeated(ENQ, 64) + Bytes{ACK});
    EXPECT_EQ(link.WaitAck(), 1);
    const uint64_t before = port.reads;
    port.send(repeated(ENQ, 65) + Bytes{ACK});
    EXPECT_EQ(link.WaitAck(), 0);
    EXPECT_EQ(port.reads - before, 65u);
    EXPECT_EQ(link.linkError, 0);
    EXPECT_TRUE(port.written.empty());
}

TEST_F(Core, MessageOfSeveralBlocksIsAppendedAndAnEmptyFirstBlockLeavesNoBuffer) {
    takesRequest();
    port.send(block({1, 2, 3}, true) + block({4, 5}, true) + block({6}, false));
    port.send(block(status(0x8800, 0)));
    ASSERT_EQ(link.GetThumb(1, false), 1);
    EXPECT_EQ(Bytes(link.buffers->thumbnail.data, link.buffers->thumbnail.data + link.buffers->thumbnail.count),
              (Bytes{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(link.receiveStats.blocks, 4u);

    takesRequest();
    port.send(block({}, false) + block(status(0x8800, 0)));
    ASSERT_EQ(link.GetThumb(1, false), 1);
    EXPECT_EQ(link.buffers->thumbnail.data, nullptr);
    EXPECT_EQ(link.buffers->thumbnail.count, 0u);
}

TEST_F(Core, ByteAfterTheFinalAckIsNotExamined) {
    takesRequest();
    port.send(Bytes{ENQ} + packet(ioCapStatus) + Bytes{0x99});
    ASSERT_EQ(link.GetIOCap(false), 1);
    EXPECT_EQ(link.lastResultCode(), ResultOk);
}

TEST_F(Core, NoiseBeforeABlockIsLetByUpToACap) {
    takesRequest();
    port.send(Bytes{0x30, 0x1B, ACK, NAK, STX, 0x00} + block(ioCapStatus));
    ASSERT_EQ(link.GetIOCap(false), 1);
    EXPECT_EQ(port.written, (requestOnWire(getIOCap) + hostAnswersBlock()));
    EXPECT_EQ(link.receiveStats.skippedBytes, 6u);

    // A line that only babbles fails the message after the cap, unanswered.
    takesRequest();
    port.send(repeated(0x30, LinkCore::maxSkippedBytes + 1) + block(ioCapStatus));
    port.written.clear();
    EXPECT_EQ(link.GetIOCap(false), 0);
    EXPECT_EQ(link.linkError, 0);
    EXPECT_EQ(link.lastResultCode(), -1);
    EXPECT_EQ(port.written, (requestOnWire(getIOCap)));
}

TEST_F(Core, SizeCapFailsTheMessageBeforeItGrows) {
    EXPECT_EQ(LinkCore::maxMessageBytes, 64u * 1024u * 1024u);
    link.messageCapBytes = 100;
    takesRequest();
    port.send(block(Bytes(60, 0x41), true) + block(Bytes(60, 0x42), false) + block(status(0x8810, 0)));
    EXPECT_EQ(link.GetJpeg(1, 120, false), 0);
    EXPECT_EQ(link.linkError, 0);
    EXPECT_EQ(link.buffers->jpeg.data, nullptr);
    EXPECT_EQ(link.lastResultCode(), -1);
    // The first block was taken, the second refused unanswered.
    EXPECT_EQ(port.written, (requestOnWire(words(0x8810, {2, 1})) + Bytes{ACK, ACK, ACK}));
}

// ---- time-outs ----

TEST_F(Core, SilentCameraCostsFourShortEnquiries) {
    EXPECT_EQ(link.GetIOCap(false), 0);
    EXPECT_EQ(port.written, (repeated(ENQ, 4)));
    EXPECT_EQ(port.elapsedMs, 4u * 300u);
    EXPECT_EQ(link.linkError, 1);
    EXPECT_EQ(link.lastResultCode(), -1);
    EXPECT_EQ(port.readTimeoutMs, 3000u);
    EXPECT_FALSE(link.isConnected());
}

TEST_F(Core, EveryOtherSilenceCostsOneReadTimeout) {
    struct Case {
        const char* name;
        Bytes script;
        Bytes written;
    };
    const Bytes request = requestOnWire(getIOCap);
    const Case cases[] = {
        {"no ACK for the packet", {ACK}, Bytes{ENQ} + packet(getIOCap)},
        {"no enquiry for the status", {ACK, ACK}, request},
        {"no EOT", Bytes{ACK, ACK, ENQ} + packet(ioCapStatus), request + Bytes{ACK, ACK}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPort line;
        LinkCore core(line, nullptr);
        line.arrivesLater();
        line.send(c.script);
        EXPECT_EQ(core.GetIOCap(false), 0);
        EXPECT_EQ(line.written, (c.written));
        EXPECT_EQ(line.timeouts, 1u);
        EXPECT_EQ(line.elapsedMs, 3000u);
        EXPECT_EQ(core.linkError, 1);
        // The latch stops every further byte at once.
        const size_t before = line.written.size();
        EXPECT_EQ(core.SendAck(), 0);
        EXPECT_EQ(line.written.size(), before);
    }
}

TEST_F(Core, PacketThatStopsShortIsNakedAfterOneReadTimeoutAndResent) {
    takesRequest();
    const Bytes whole = packet(ioCapStatus);
    port.send(Bytes{ENQ} + Bytes(whole.begin(), whole.begin() + 6));
    port.pause();
    port.send(whole + Bytes{EOT});
    ASSERT_EQ(link.GetIOCap(false), 1);
    EXPECT_EQ(port.written, (requestOnWire(getIOCap) + Bytes{ACK, NAK, ACK}));
    EXPECT_EQ(link.receiveStats.timedOutPackets, 1u);
    EXPECT_EQ(port.elapsedMs, 3000u);
    EXPECT_EQ(link.linkError, 0);

    // A camera that then says nothing more: two read time-outs and a line failure.
    ScriptedPort line;
    LinkCore core(line, nullptr);
    line.arrivesLater();
    line.send(Bytes{ACK, ACK, ENQ} + Bytes(whole.begin(), whole.begin() + 6));
    EXPECT_EQ(core.GetIOCap(false), 0);
    EXPECT_EQ(line.written, (requestOnWire(getIOCap) + Bytes{ACK, NAK}));
    EXPECT_EQ(line.elapsedMs, 3000u + 3000u);
    EXPECT_EQ(core.linkError, 1);
}

TEST_F(Core, DeviceGoneInsideAPacketIsALineFailureWithoutNak) {
    takesRequest();
    const Bytes whole = packet(ioCapStatus);
    port.send(Bytes{ENQ} + Bytes(whole.begin(), whole.begin() + 6));
    port.breakWhenDry = true;
    EXPECT_EQ(link.GetIOCap(false), 0);
    EXPECT_EQ(port.written, (requestOnWire(getIOCap) + Bytes{ACK}));
    EXPECT_EQ(link.linkError, 1);
}

// ---- the bound of a whole message ----

// Each byte of wire after a gap of gapMs.
static void trickle(ScriptedPort& port, const Bytes& wire, uint32_t gapMs) {
    for (uint8_t b : wire) {
        port.delay(gapMs);
        port.send(b);
    }
}

TEST_F(Core, MessageThatNeverEndsFailsAtItsBoundAsALineFailure) {
    // A 40 KB picture at 9600 bit/s (43 s on the line) is given up after 79 s.
    EXPECT_EQ(LinkCore::messageAllowanceMs(40 * 1024, 9600), 79000u);
    const Bytes emptyBlock = block({}, true);
    const uint32_t statusBlocks = LinkCore::messageBlockLimit(LinkCore::largestStatusBytes);
    const uint64_t statusMs = LinkCore::messageAllowanceMs(LinkCore::largestStatusBytes, 9600);
    struct Case {
        const char* name;
        bool download;  // GetJpeg of a 40 KB picture, else GetIOCap
        std::function<void(ScriptedPort&)> camera;
        uint32_t blocks;   // accepted before the failure
        size_t answers;    // ACKs the link wrote
        uint64_t fromMs;   // the failure comes in [fromMs, fromMs + 2900)
    };
    const Case cases[] = {
        {"endless empty blocks",
         false,
         [&](ScriptedPort& line) {
             for (uint32_t i = 0; i < statusBlocks + 100; ++i) line.send(emptyBlock);
         },
         statusBlocks, 2 * statusBlocks, 0},
        {"a byte every 2.9 s",
         true,
         [](ScriptedPort& line) {
             trickle(line, block(Bytes(40 * 1024, 0x41)), 2900);
         },
         0, 1, LinkCore::messageAllowanceMs(40 * 1024, 9600)},
        {"noise before every enquiry",
         false,
         [&](ScriptedPort& line) {
             for (int i = 0; i < 20; ++i) {
                 trickle(line, repeated(0x30, 4000), 2900);
                 line.send(emptyBlock);
             }
         },
         0, 0, statusMs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPort line;
        line.connected = 1;
        LinkCore core(line, nullptr);
        line.arrivesLater();
        line.send({ACK, ACK});
        c.camera(line);
        const int ok = c.download ? core.GetJpeg(1, 40 * 1024, false) : core.GetIOCap(false);
        EXPECT_EQ(ok, 0);
        EXPECT_EQ(core.linkError, 1);
        EXPECT_EQ(core.receiveStats.pastBound, 1u);
        EXPECT_EQ(core.receiveStats.blocks, c.blocks);
        EXPECT_EQ(line.timeouts, 0u);
        EXPECT_GE(line.elapsedMs, c.fromMs);
        EXPECT_LT(line.elapsedMs, c.fromMs + 2900);
        // Nothing answered after the bound: not the next enquiry, nor a packet cut off.
        const Bytes request = c.download ? requestOnWire(words(0x8810, {2, 1})) : requestOnWire(getIOCap);
        EXPECT_EQ(line.written, request + Bytes(c.answers, ACK));
    }
}

TEST_F(Core, LineSettlesBeforeTheNextRequestAfterAMessagePastItsBound) {
    takesRequest();
    trickle(port, block(status(0x9000, 0, 200)), 2900);
    ASSERT_EQ(link.GetIOCap(false), 0);
    ASSERT_EQ(link.linkError, 1);
    const uint64_t failedAt = port.elapsedMs;
    link.linkError = 0;
    // The camera's trickle goes on for a while; the enquiry waits until the line has been
    // quiet for settleQuietMs, dropping what came.
    port.clearScript();
    trickle(port, repeated(0x41, 5), 2900);
    uint64_t enquiredAt = 0;
    port.onWrite = [&](uint8_t b) {
        if (b == ENQ && !enquiredAt) enquiredAt = port.elapsedMs;
    };
    takesRequest();
    port.send(block(ioCapStatus));
    port.written.clear();
    ASSERT_EQ(link.GetIOCap(false), 1);
    EXPECT_EQ(port.written, (requestOnWire(getIOCap) + hostAnswersBlock()));
    EXPECT_GE(enquiredAt, failedAt + 5 * 2900 + LinkCore::settleQuietMs);
    EXPECT_LT(enquiredAt, failedAt + 5 * 2900 + LinkCore::settleQuietMs + 200);
    EXPECT_FALSE(link.settling());

    // A camera that never stops: the request goes out after settleLimitMs all the same.
    takesRequest();
    trickle(port, block(status(0x9000, 0, 200)), 2900);
    ASSERT_EQ(link.GetIOCap(false), 0);
    link.linkError = 0;
    port.clearScript();
    trickle(port, repeated(0x41, 100), 1000);
    enquiredAt = 0;
    const uint64_t before = port.elapsedMs;
    port.written.clear();
    EXPECT_EQ(link.GetIOCap(false), 0);
    EXPECT_GE(enquiredAt, before + LinkCore::settleLimitMs);
    EXPECT_LT(enquiredAt, before + LinkCore::settleLimitMs + 200);
}

TEST_F(Core, SlowButHonestDownloadEndsWithinItsBound) {
    // A 40 KB picture at 9600 bit/s: ten blocks of 4 KiB at a byte a millisecond (43 s).
    takesRequest();
    const Bytes picture(40 * 1024, 0x5A);
    for (int i = 0; i < 10; ++i)
        trickle(port, block(Bytes(picture.begin() + i * 4096, picture.begin() + (i + 1) * 4096), i < 9), 1);
    port.send(block(status(0x8810, 0)));
    ASSERT_EQ(link.GetJpeg(1, 40 * 1024, false), 1);
    EXPECT_EQ(link.buffers->jpeg.count, picture.size());
}

// ---- sending ----

TEST_F(Core, NakedRequestIsSentAgainAtMostThreeTimes) {
    port.arrivesLater();
    port.send({ACK, NAK, ACK});
    port.send(block(ioCapStatus));
    ASSERT_EQ(link.GetIOCap(false), 1);
    EXPECT_EQ(port.written, (Bytes{ENQ} + packet(getIOCap) + packet(getIOCap) + Bytes{EOT, ACK, ACK}));
    EXPECT_EQ(link.resendsSent, 1u);

    ScriptedPort line;
    LinkCore core(line, nullptr);
    line.arrivesLater();
    line.send({ACK, NAK, NAK, NAK, NAK, ACK});
    EXPECT_EQ(core.GetIOCap(false), 0);
    EXPECT_EQ(line.written, (Bytes{ENQ} + packet(getIOCap) + packet(getIOCap) + packet(getIOCap) + packet(getIOCap)));
    EXPECT_EQ(core.linkError, 0);
}

TEST_F(Core, LatchedErrorCostsOnlyTheFirstEnquiry) {
    link.linkError = 1;
    takesRequest();
    port.send(block(ioCapStatus));
    ASSERT_EQ(link.GetIOCap(false), 1);
    EXPECT_EQ(port.written, (requestOnWire(getIOCap) + hostAnswersBlock()));
    EXPECT_EQ(link.enquiriesSent, 2u);  // the first one failed without a byte written

    // A Cancel tries only once.
    link.linkError = 1;
    port.written.clear();
    EXPECT_EQ(link.CancelTransfer(false), 0);
    EXPECT_TRUE(port.written.empty());
}

TEST_F(Core, LeftoversArePurgedBeforeARequest) {
    // The tail of a block we gave up on, and its EOT, are still waiting.
    port.send({0x41, 0x42, ETX, 0x55, EOT});
    bool answered = false;
    port.onWrite = [&](uint8_t b) {
        if (b == ENQ && !answered) {
            answered = true;
            port.send(Bytes{ACK, ACK} + block(ioCapStatus));
        }
    };
    ASSERT_EQ(link.GetIOCap(false), 1);
    EXPECT_EQ(port.written, (requestOnWire(getIOCap) + hostAnswersBlock()));
    EXPECT_EQ(link.purges, 1u);
    EXPECT_EQ(link.enquiriesSent, 1u);
}

// ---- cancel and status across exchanges ----

TEST_F(Core, CancelGoesOutOnlyDuringADownloadAndIsForgottenAfterIt) {
    // A flag left from an earlier click sends no Cancel from a listing command.
    link.cancelRequested = 1;
    takesRequest();
    port.send(block({'i', 'n', 'f', 'o'}) + block(status(0x8820, 0, 15)));
    uint16_t handle = 0;
    ASSERT_EQ(link.GetImgInfo(1, &handle, false), 1);
    EXPECT_EQ(port.written, (requestOnWire(words(0x8820, {2, 1})) + Bytes{ACK, ACK, ACK, ACK}));

    // A click caught at the last step of a successful download is forgotten with it.
    observer.cancelAtStep = 3;  // data block, status block, then the final 100 %
    takesRequest();
    port.send(block({'j', 'p', 'g'}) + block(status(0x8810, 0)));
    ASSERT_EQ(link.GetJpeg(1, 3, false), 1);
    // The status block steps too, by its own count against the picture's size.
    EXPECT_EQ(observer.steps, (std::vector<int>{100, 300, 100}));
    EXPECT_EQ(link.cancelRequested, 0);
    EXPECT_EQ(link.downloadCancelled, 0);
    EXPECT_EQ(observer.ends, std::vector<bool>{true});

    // A click during the download sends a Cancel after the next block; the camera accepts.
    observer.steps.clear();
    observer.cancelAtStep = 1;
    port.written.clear();
    takesRequest();
    port.send(block({'a', 'b'}, true) + block({'c', 'd'}, true));
    takesRequest();  // the Cancel's request, after the block that followed the click
    port.send(block(status(0x9E00, 0, 11)));
    EXPECT_EQ(link.GetJpeg(1, 6, false), 0);
    EXPECT_EQ(port.written, (requestOnWire(words(0x8810, {2, 1})) + Bytes{ACK, ACK, ACK, ACK} +
                                requestOnWire(words(0x9E00, {})) + Bytes{ACK, ACK}));
    EXPECT_EQ(link.downloadCancelled, 1);
    EXPECT_EQ(link.cancelRequested, 0);
    EXPECT_EQ(link.lastResultCode(), ResultOk);  // the Cancel's
    EXPECT_EQ(link.buffers->jpeg.data, nullptr);
    EXPECT_EQ(link.linkError, 0);

    // A click at the last data block's step sends the Cancel after the status block; when the
    // Cancel is lost on the line, the download fails as a line failure although its data and
    // status had all arrived: a success must never leave the line's failure latched.
    observer.steps.clear();
    observer.cancelAtStep = 1;
    port.written.clear();
    takesRequest();
    port.send(block({'j', 'p', 'g'}) + block(status(0x8810, 0)));
    port.pause();  // no answer to the Cancel's enquiry
    EXPECT_EQ(link.GetJpeg(1, 3, false), 0);
    EXPECT_EQ(port.written, (requestOnWire(words(0x8810, {2, 1})) + Bytes{ACK, ACK, ACK, ACK, ENQ}));
    EXPECT_EQ(link.linkError, 1);
    EXPECT_EQ(link.downloadCancelled, 0);
    EXPECT_EQ(link.buffers->jpeg.data, nullptr);
}

TEST_F(Core, FailedExchangeLeavesNoStatusOfAnEarlierOne) {
    // No picture 2 ...
    takesRequest();
    port.send(block({}) + block(status(0x8820, ResultNoPicture, 15)));
    EXPECT_EQ(link.GetImgInfo(2, nullptr, false), 0);
    EXPECT_EQ(link.lastResultCode(), ResultNoPicture);
    // ... then picture 3's information is lost on the line: no result to read, rather than
    // the earlier "no picture".
    takesRequest();
    port.send({ENQ});
    for (int i = 0; i < 4; ++i) {
        port.send(badChecksum({'x'}));
        port.pause();
    }
    EXPECT_EQ(link.GetImgInfo(3, nullptr, false), 0);
    EXPECT_EQ(link.linkError, 0);
    EXPECT_EQ(link.lastResultCode(), -1);
    uint16_t word = 0;
    EXPECT_FALSE(link.statusWord(4, word));

    // A busy camera that then stops answering reads as "no answer", not as busy.
    takesRequest();
    port.send(block(status(0x9000, ResultBusy, 13)));
    EXPECT_EQ(link.GetIOCap(false), 0);
    EXPECT_EQ(link.lastResultCode(), ResultBusy);
    EXPECT_EQ(link.GetIOCap(false), 0);
    EXPECT_EQ(link.lastResultCode(), -1);
    EXPECT_EQ(link.linkError, 1);
}

// ---- the command set over the core ----

TEST_F(Core, SetIOOpensConfiguresAndReadsTheStatusRecord) {
    port.connected = 0;
    port.close();
    // OpenPort's link check at 9600, SetIO itself, the check at the new rate, GetStat.
    Bytes record = status(0x9020, 0, 39);
    record[12] = 6;
    takesRequest();
    port.send(block(ioCapStatus));
    takesRequest();
    port.send(block(status(0x9080, 0, 13)));
    takesRequest();
    port.send(block(ioCapStatus));
    takesRequest();
    port.send(block(record));
    ASSERT_EQ(link.SetIO(2, 57600, lineParityNone, lineOneStopBit, 8, 2, false), 1);
    EXPECT_TRUE(link.isConnected());
    EXPECT_EQ(port.portNumber, 2);
    EXPECT_EQ(port.lastBitRate, 57600u);
    EXPECT_EQ(port.opens, 1);
    StatusRecord decoded;
    ASSERT_TRUE(link.statusRecord(decoded));
    EXPECT_EQ(decoded.picturesTaken, 6);
    // 57600 = code 0x0100; 8 data bits and CTS flow: settings 0x0011, stuffed on the wire.
    const Bytes setio = words(0x9080, {0x0100, 0x0011});
    const Bytes wire = port.written;
    const Bytes expected = requestOnWire(getIOCap) + hostAnswersBlock() + requestOnWire(setio) + hostAnswersBlock();
    ASSERT_GE(wire.size(), expected.size());
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + static_cast<std::ptrdiff_t>(expected.size())), expected);
}

// ---- abandoning an exchange from another thread ----

TEST_F(Core, AbandonedTransfersEndTheExchangeAtTheNextByte) {
    // The camera sends a thumbnail of three blocks; the stop comes as we answer the first one.
    takesRequest();
    port.send(block({1, 2, 3}, true) + block({4, 5}, true) + block({6}, false));
    port.send(block(status(0x8800, 0)));
    int acks = 0;
    port.onWrite = [&](uint8_t b) {
        if (b == ACK && ++acks == 2) link.abandonTransfers.store(true);  // the first is the ENQ's answer
    };
    EXPECT_EQ(link.GetThumb(1, false), 0);
    EXPECT_EQ(link.linkError, 1);
    EXPECT_EQ(acks, 2);  // nothing written after the answer that saw the stop
    const size_t written = port.written.size();
    const uint64_t reads = port.reads;

    // While the flag stands, a new command fails at once without a byte either way.
    link.linkError = 0;
    EXPECT_EQ(link.GetIOCap(false), 0);
    EXPECT_EQ(port.written.size(), written);
    EXPECT_EQ(port.reads, reads);

    // Cleared, the link works again: the camera's tail is dropped before the next request.
    link.abandonTransfers.store(false);
    link.linkError = 0;
    port.onWrite = nullptr;
    port.clearScript();
    takesRequest();
    port.send(block(ioCapStatus));
    EXPECT_EQ(link.GetIOCap(false), 1);
}

// ---- the hold of a listing ----

TEST_F(Core, AHeldLinkRefusesEveryCommandFromOutsideItsUseWithoutTouchingAnything) {
    LinkHold hold(link);
    ASSERT_TRUE(hold.take());
    EXPECT_FALSE(LinkHold(link).take()) << "two holders";
    link.cancelRequested = 1;
    const auto refusedAll = [&] {
        uint16_t handle = 7;
        return link.SetIO(2, 57600, lineParityNone, lineOneStopBit, 8, 2, false) == 0 && link.GetIOCap(false) == 0 &&
               link.GetStat(0, false) == 0 && link.SetDate(false) == 0 && link.GetImgInfo(1, &handle, false) == 0 &&
               link.GetThumb(1, false) == 0 && link.GetJpeg(1, 100, false) == 0 && link.CancelTransfer(false) == 0 &&
               handle == 7;
    };
    EXPECT_TRUE(refusedAll());
    EXPECT_TRUE(port.written.empty());
    EXPECT_EQ(port.reads, 0u);
    EXPECT_EQ(port.opens, 0);
    EXPECT_EQ(observer.begins, 0);
    EXPECT_TRUE(link.isConnected());
    EXPECT_EQ(link.buffers->imageInfo.data, nullptr);
    EXPECT_EQ(link.buffers->thumbnail.data, nullptr);
    EXPECT_EQ(link.cancelRequested, 1);
    EXPECT_EQ(link.takeLinkError(), LinkErrorHeld);

    {
        // The holder's thread inside its use goes through; another thread meanwhile does not,
        // and the holder's latch stays for the holder to read.
        LinkHold::Use use(hold);
        link.linkError = LinkErrorLine;
        bool otherRefused = false;
        int otherError = 0;
        std::thread other([&] {
            otherRefused = refusedAll();
            otherError = link.takeLinkError();
        });
        other.join();
        EXPECT_TRUE(otherRefused);
        EXPECT_EQ(otherError, LinkErrorHeld);
        EXPECT_EQ(link.takeLinkError(), LinkErrorLine);
        takesRequest();
        port.send(block(ioCapStatus));
        EXPECT_EQ(link.GetIOCap(false), 1);
    }
    const size_t written = port.written.size();
    EXPECT_EQ(link.GetIOCap(false), 0) << "outside the use";
    EXPECT_EQ(port.written.size(), written);

    hold.release();
    takesRequest();
    port.send(block(ioCapStatus));
    EXPECT_EQ(link.GetIOCap(false), 1);
    EXPECT_EQ(link.takeLinkError(), 0);
}
