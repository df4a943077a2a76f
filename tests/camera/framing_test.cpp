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
