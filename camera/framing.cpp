#include "camera/framing.h"

namespace framing {

void appendStuffed(std::vector<uint8_t>& out, uint8_t value) {
    if (needsStuffing(value)) {
        out.push_back(ESC);
        out.push_back(static_cast<uint8_t>(~value));
    } else {
        out.push_back(value);
    }
}

uint8_t packetChecksum(const uint8_t* payload, size_t length, uint8_t terminator) {
    uint32_t sum = (length & 0xFF) + ((length >> 8) & 0xFF) + terminator;
    for (size_t i = 0; i < length; ++i) sum += payload[i];
    return static_cast<uint8_t>(sum);
}

size_t encodePacketInto(uint8_t* out, size_t capacity, const uint8_t* payload, size_t length, bool more) {
    size_t n = 0;
    bool fits = capacity > 0;
    auto put = [&](uint8_t value) {
        const bool escaped = needsStuffing(value);
        if (!fits || capacity - n < (escaped ? 2u : 1u)) {
            fits = false;
            return;
        }
        if (escaped) out[n++] = ESC;
        out[n++] = escaped ? static_cast<uint8_t>(~value) : value;
    };
    if (fits) out[n++] = STX;
    const uint8_t terminator = more ? ETB : ETX;
    put(static_cast<uint8_t>(length & 0xFF));
    put(static_cast<uint8_t>((length >> 8) & 0xFF));
    for (size_t i = 0; i < length && fits; ++i) put(payload[i]);
    put(terminator);
    put(packetChecksum(payload, length, terminator));
    return fits ? n : 0;
}

std::vector<uint8_t> encodePacket(const uint8_t* payload, size_t length, bool more) {
    std::vector<uint8_t> out(maxWireLength(length));
    out.resize(encodePacketInto(out.data(), out.size(), payload, length, more));
    return out;
}

void PacketReader::reset() {
    step_ = Step::LengthLow;
    escaped_ = false;
    length_ = 0;
    sum_ = 0;
    terminator_ = 0;
    payload_.clear();
}

PacketReader::Result PacketReader::feed(uint8_t wireByte) {
    if (!escaped_ && wireByte == ESC) {
        escaped_ = true;
        return Result::NeedMore;
    }
    const uint8_t value = escaped_ ? static_cast<uint8_t>(~wireByte) : wireByte;
    escaped_ = false;
    switch (step_) {
    case Step::LengthLow:
        length_ = value;
        sum_ = value;
        step_ = Step::LengthHigh;
        break;
    case Step::LengthHigh:
        length_ = static_cast<uint16_t>(length_ | (value << 8));
        sum_ = static_cast<uint8_t>(sum_ + value);
        payload_.clear();
        payload_.reserve(length_);
        step_ = length_ ? Step::Payload : Step::Terminator;
        break;
    case Step::Payload:
        payload_.push_back(value);
        sum_ = static_cast<uint8_t>(sum_ + value);
        if (payload_.size() == length_) step_ = Step::Terminator;
        break;
    case Step::Terminator:
        terminator_ = value;
        sum_ = static_cast<uint8_t>(sum_ + value);
        step_ = Step::Checksum;
        break;
    case Step::Checksum: {
        const bool good = value == sum_ && (terminator_ == ETX || terminator_ == ETB);
        step_ = Step::LengthLow;
        return good ? Result::Complete : Result::BadChecksum;
    }
    }
    return Result::NeedMore;
}

}  // namespace framing
