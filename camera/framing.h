// Packet framing of the camera's serial protocol, shared by the source's link, the camera
// simulator and the host tests. Plain C++: no Win32.
//
// A packet on the wire:  STX  len-lo len-hi  payload...  ETX|ETB  checksum
// Every byte after STX whose value is STX, XON, XOFF or ESC goes out as ESC followed by its
// bitwise complement. The checksum is the 8-bit sum of the unstuffed length bytes, payload
// and terminator (STX is not counted).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace framing {

constexpr uint8_t STX = 0x02;
constexpr uint8_t ETX = 0x03;
constexpr uint8_t EOT = 0x04;
constexpr uint8_t ENQ = 0x05;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t XON = 0x11;
constexpr uint8_t XOFF = 0x13;
constexpr uint8_t NAK = 0x15;
constexpr uint8_t ETB = 0x17;
constexpr uint8_t ESC = 0x1B;

// The source never puts more than this many payload bytes into one packet.
constexpr size_t maxRequestPiece = 4105;

// True for the four values that must be escaped after STX.
constexpr bool needsStuffing(uint8_t value) {
    return value == STX || value == XON || value == XOFF || value == ESC;
}

// Appends one value to out, escaped when it must be.
void appendStuffed(std::vector<uint8_t>& out, uint8_t value);

// 8-bit sum over length bytes, payload and terminator.
uint8_t packetChecksum(const uint8_t* payload, size_t length, uint8_t terminator);

// Most bytes a packet of length payload bytes can take on the wire (every byte after STX escaped).
constexpr size_t maxWireLength(size_t length) {
    return 1 + 2 * (length + 4);
}

// Writes the complete wire form of one packet into out (capacity bytes) and answers its length;
// 0 when it does not fit. more selects ETB (more packets follow) over ETX.
size_t encodePacketInto(uint8_t* out, size_t capacity, const uint8_t* payload, size_t length, bool more);

// The same as a vector.
std::vector<uint8_t> encodePacket(const uint8_t* payload, size_t length, bool more);
inline std::vector<uint8_t> encodePacket(const std::vector<uint8_t>& payload, bool more) {
    return encodePacket(payload.data(), payload.size(), more);
}

// Incremental reader of one packet's bytes after STX (already unstuffed by the caller or not:
// feed() takes raw wire bytes and undoes the escaping itself).
class PacketReader {
public:
    enum class Result { NeedMore, Complete, BadChecksum };

    void reset();
    // Feeds one raw wire byte that follows STX.
    Result feed(uint8_t wireByte);

    const std::vector<uint8_t>& payload() const { return payload_; }
    uint8_t terminator() const { return terminator_; }

private:
    enum class Step { LengthLow, LengthHigh, Payload, Terminator, Checksum };
    Step step_ = Step::LengthLow;
    bool escaped_ = false;
    uint16_t length_ = 0;
    uint8_t sum_ = 0;
    uint8_t terminator_ = 0;
    std::vector<uint8_t> payload_;
};

}  // namespace framing
