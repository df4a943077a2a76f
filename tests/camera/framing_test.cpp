// Wire form of packets: the worked packets, stuffing positions, empty payloads, and the
// reader taking back what the writer produced.
#include "camera/framing.h"

#include <gtest/gtest.h>

using framing::encodePacket;
using Bytes = std::vector<uint8_t>;

TEST(Framing, WorkedPackets) {
    EXPECT_EQ(encodePacket(Bytes{0x00, 0x90, 0x00, 0x00}, false),
              (Bytes{0x02, 0x04, 0x00, 0x00, 0x90, 0x00, 0x00, 0x03, 0x97}));
    // SetIO at 19200 bit/s, 8N1, CTS flow: the settings word 0x0011 is escaped.
    EXPECT_EQ(encodePacket(Bytes{0x80, 0x90, 0x00, 0x00, 0x40, 0x00, 0x11, 0x00}, false),
              (Bytes{0x02, 0x08, 0x00, 0x80, 0x90, 0x00, 0x00, 0x40, 0x00, 0x1B, 0xEE, 0x00, 0x03, 0x6C}));
}

TEST(Framing, StuffsOnlyTheFourValuesEverywhereAfterStx) {
    EXPECT_EQ(encodePacket(Bytes{0x02, 0x11, 0x13, 0x1B}, true),
              (Bytes{0x02, 0x04, 0x00, 0x1B, 0xFD, 0x1B, 0xEE, 0x1B, 0xEC, 0x1B, 0xE4, 0x17,
                     static_cast<uint8_t>(0x04 + 0x02 + 0x11 + 0x13 + 0x1B + 0x17)}));
    // Control bytes inside a payload are sent bare and taken by length.
    const Bytes controls{0x03, 0x04, 0x05, 0x06, 0x15, 0x17};
    const Bytes wire = encodePacket(controls, false);
    EXPECT_EQ(Bytes(wire.begin() + 3, wire.begin() + 9), controls);
    // A 17-byte payload has length low 0x11, which is escaped too.
    const Bytes seventeen(17, 0x20);
    const Bytes wire17 = encodePacket(seventeen, false);
    EXPECT_EQ(Bytes(wire17.begin(), wire17.begin() + 4), (Bytes{0x02, 0x1B, 0xEE, 0x00}));
    // A checksum equal to a stuffed value is escaped: 0x01 + 0x0D + 0x03 = 0x11.
    const Bytes wireSum = encodePacket(Bytes{0x0D}, false);
    EXPECT_EQ(wireSum, (Bytes{0x02, 0x01, 0x00, 0x0D, 0x03, 0x1B, 0xEE}));
}

TEST(Framing, EmptyPayloadChecksumIsTheTerminator) {
    EXPECT_EQ(encodePacket(Bytes{}, false), (Bytes{0x02, 0x00, 0x00, 0x03, 0x03}));
    EXPECT_EQ(encodePacket(Bytes{}, true), (Bytes{0x02, 0x00, 0x00, 0x17, 0x17}));
}

TEST(Framing, ReaderTakesBackEveryByteValueAndRejectsBadSums) {
    Bytes payload(600);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7);
    Bytes wire = encodePacket(payload, true);
    framing::PacketReader reader;
    framing::PacketReader::Result result = framing::PacketReader::Result::NeedMore;
    for (size_t i = 1; i < wire.size(); ++i) result = reader.feed(wire[i]);
    ASSERT_EQ(result, framing::PacketReader::Result::Complete);
    EXPECT_EQ(reader.payload(), payload);
    EXPECT_EQ(reader.terminator(), framing::ETB);

    wire[wire.size() / 2] ^= 0x40;  // one corrupted byte in the middle of the payload
    reader.reset();
    for (size_t i = 1; i < wire.size(); ++i) result = reader.feed(wire[i]);
    EXPECT_NE(result, framing::PacketReader::Result::Complete);
}

namespace {

// Feeds everything after STX; returns the last result.
framing::PacketReader::Result readBack(framing::PacketReader& reader, const Bytes& wire) {
    framing::PacketReader::Result result = framing::PacketReader::Result::NeedMore;
    for (size_t i = 1; i < wire.size(); ++i) result = reader.feed(wire[i]);
    return result;
}

}  // namespace

TEST(Framing, ChecksumIsOverUnstuffedValues) {
    // 0x1B goes out as 1B E4, but the sum takes 0x1B once: 01 + 00 + 1B + 03 = 1F.
    EXPECT_EQ(framing::packetChecksum(Bytes{0x1B}.data(), 1, framing::ETX), 0x1F);
    EXPECT_EQ(encodePacket(Bytes{0x1B}, false), (Bytes{0x02, 0x01, 0x00, 0x1B, 0xE4, 0x03, 0x1F}));
    // Length bytes count as values: 256 zero bytes give 00 01 and the sum 01 + 03.
    const Bytes wire = encodePacket(Bytes(256, 0), false);
    EXPECT_EQ(Bytes(wire.begin() + 1, wire.begin() + 3), (Bytes{0x00, 0x01}));
    EXPECT_EQ(wire.back(), 0x04);
}

TEST(Framing, ReaderUndoesStuffedLengthAndChecksum) {
    // 17 bytes: length low 0x11 is escaped; payload 0x0D..: choose values so the checksum is 0x13.
    Bytes payload(17, 0x00);
    payload[0] = static_cast<uint8_t>(0x13 - 0x11 - 0x03);
    const Bytes wire = encodePacket(payload, false);
    ASSERT_EQ(Bytes(wire.end() - 2, wire.end()), (Bytes{0x1B, 0xEC}));
    framing::PacketReader reader;
    ASSERT_EQ(readBack(reader, wire), framing::PacketReader::Result::Complete);
    EXPECT_EQ(reader.payload(), payload);
    EXPECT_EQ(reader.terminator(), framing::ETX);
}

TEST(Framing, ReaderTakesEmptyAndBackToBackPackets) {
    framing::PacketReader reader;
    ASSERT_EQ(readBack(reader, encodePacket(Bytes{}, true)), framing::PacketReader::Result::Complete);
    EXPECT_TRUE(reader.payload().empty());
    EXPECT_EQ(reader.terminator(), framing::ETB);
    // No reset between packets: the reader starts over by itself after a checksum.
    ASSERT_EQ(readBack(reader, encodePacket(Bytes{0x02, 0x05}, false)), framing::PacketReader::Result::Complete);
    EXPECT_EQ(reader.payload(), (Bytes{0x02, 0x05}));
}

TEST(Framing, ReaderRejectsAWrongTerminatorEvenWithAMatchingSum) {
    // Terminator EOT with the sum computed over it: not a packet end this protocol knows.
    const Bytes wire{0x02, 0x01, 0x00, 0x41, 0x04, static_cast<uint8_t>(0x01 + 0x41 + 0x04)};
    framing::PacketReader reader;
    EXPECT_EQ(readBack(reader, wire), framing::PacketReader::Result::BadChecksum);
    // A bad checksum byte alone is rejected as well.
    Bytes good = encodePacket(Bytes{0x41}, false);
    good.back() ^= 0x01;
    reader.reset();
    EXPECT_EQ(readBack(reader, good), framing::PacketReader::Result::BadChecksum);
}
