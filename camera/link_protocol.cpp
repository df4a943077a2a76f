// CameraLink: requests, received messages and whole exchanges.
#include <cstdint>
#include <utility>

#include "camera/camera_link.h"
#include "camera/framing.h"

namespace {

constexpr DWORD enquiryReadTimeoutMs = 300;
constexpr int enquiryAttempts = 4;
constexpr int maxRequestResends = 3;
constexpr int maxBlockRetries = 3;
// No camera message comes near this; a longer one is refused rather than grown without end.
constexpr uint64_t maxMessageBytes = 64u * 1024u * 1024u;

}  // namespace

int CameraLink::SendPacket(const uint8_t* bytes, uint32_t length, bool more) {
    if (length > 0xFFFF) return 0;
    const uint8_t low = static_cast<uint8_t>(length & 0xFF);
    const uint8_t high = static_cast<uint8_t>(length >> 8);
    if (!writeRaw(framing::STX) || !writeStuffed(low) || !writeStuffed(high)) return 0;
    uint8_t sum = static_cast<uint8_t>(low + high);
    for (uint32_t i = 0; i < length; ++i) {
        if (!writeStuffed(bytes[i])) return 0;
        sum = static_cast<uint8_t>(sum + bytes[i]);
    }
    const uint8_t terminator = more ? framing::ETB : framing::ETX;
    sum = static_cast<uint8_t>(sum + terminator);
    return writeStuffed(terminator) && writeStuffed(sum);
}

int CameraLink::SendRequest(const uint8_t* bytes, uint32_t length, bool singleEnquiry) {
    if (singleEnquiry) {
        if (!SendEnqWaitAck()) return 0;
    } else {
        // A short read time-out while asking for the line, so a missing camera is noticed in
        // about a second; the retries clear the latch a time-out left behind.
        SetTimeouts(enquiryReadTimeoutMs, 0);
        bool granted = false;
        for (int attempt = 0; attempt < enquiryAttempts && !granted; ++attempt) {
            if (attempt > 0) linkError = 0;
            granted = SendEnqWaitAck() != 0;
        }
        SetTimeouts(0, 0);
        if (!granted) return 0;
    }
    int resends = 0;
    uint32_t offset = 0;
    do {
        const uint32_t piece = length - offset > framing::maxRequestPiece ? framing::maxRequestPiece : length - offset;
        const bool more = offset + piece < length;
        for (;;) {
            if (SendPacket(bytes + offset, piece, more) && WaitAck()) break;
            // A time-out latched linkError, so the resend fails at once: only a NAK or a wrong
            // byte leads to a real retransmission.
            if (resends++ >= maxRequestResends) return 0;
        }
        offset += piece;
    } while (offset < length);
    return SendEot();
}

// Reads a packet's length, payload, terminator and checksum (the start byte is already read)
// into buffer behind its first base bytes. Answers 0 when the line failed or the buffer could
// not grow; otherwise good tells whether the checksum and terminator were right.
int CameraLink::readPacketBody(LinkBuffer& buffer, uint32_t base, bool appending, uint8_t& terminator, bool& good) {
    uint8_t low = 0, high = 0;
    if (!readUnstuffed(low) || !readUnstuffed(high)) return 0;
    const uint32_t length = static_cast<uint32_t>(high) << 8 | low;
    if (static_cast<uint64_t>(base) + length > maxMessageBytes) return 0;
    if (length != 0) {
        if (!LinkBuffers::resize(buffer, base + length)) return 0;
    } else if (!appending) {
        LinkBuffers::release(buffer);
    } else {
        buffer.count = base;
    }
    uint8_t sum = static_cast<uint8_t>(low + high);
    for (uint32_t i = 0; i < length; ++i) {
        if (!readUnstuffed(buffer.data[base + i])) return 0;
        sum = static_cast<uint8_t>(sum + buffer.data[base + i]);
    }
    uint8_t checksum = 0;
    if (!readUnstuffed(terminator) || !readUnstuffed(checksum)) return 0;
    sum = static_cast<uint8_t>(sum + terminator);
    good = checksum == sum && (terminator == framing::ETX || terminator == framing::ETB);
    return 1;
}

// Reads one block (handshake, packet, retransmissions, repetitions) into buffer. The block's
// payload goes behind the bytes already received when appending (the first block of a
// message replaces them).
int CameraLink::receiveBlock(LinkBuffer& buffer, bool appending, uint8_t& terminator) {
    const uint32_t base = appending ? buffer.count : 0;
    uint8_t value = 0;
    if (!readUnstuffed(value)) return 0;
    if (value != framing::ENQ) return 0;
    if (!SendAck()) return 0;

    int retries = 0;
    bool startRead = false;  // true when a repeated packet's STX was already read
    for (;;) {
        bool startGood = true;
        if (!startRead) {
            if (!readUnstuffed(value)) return 0;
            if (value == framing::ENQ) {
                // A second enquiry: the byte after it is taken as the packet start.
                ++receiveStats.extraEnquiries;
                if (!readUnstuffed(value)) return 0;
            } else if (value != framing::STX) {
                startGood = false;  // read on as if the packet had begun, then NAK it
            }
        }
        startRead = false;
        bool good = false;
        if (!readPacketBody(buffer, base, appending, terminator, good)) return 0;

        if (good && startGood) {
            if (!SendAck()) return 0;
            // The camera's EOT. STX instead means it missed our ACK and repeats the packet,
            // which then overwrites the same place.
            if (!readUnstuffed(value)) return 0;
            if (value != framing::STX) {
                ++receiveStats.blocks;
                return 1;
            }
            if (retries >= maxBlockRetries) return 0;
            ++retries;
            ++receiveStats.repeats;
            startRead = true;
        } else {
            if (!SendNak()) return 0;
            ++receiveStats.naks;
            if (retries >= maxBlockRetries) return 0;
            ++retries;
            linkError = 0;
        }
        buffer.count = base;
    }
}

// Between packets: send a Cancel the user asked for, and step the progress window.
int CameraLink::afterAcceptedPacket(uint32_t received) {
    if (cancelRequested && !cancelInProgress) {
        // The Cancel exchange has a status message of its own; keep the one being received
        // (it may be this very message) out of its way, and put it back if the download goes on.
        LinkBuffer saved;
        std::swap(saved, buffers->statusMessage);
        const int cancelled = CancelTransfer(false);
        if (cancelled) {
            LinkBuffers::release(saved);
            return 0;  // the download is abandoned
        }
        std::swap(saved, buffers->statusMessage);
        LinkBuffers::release(saved);
    }
    if (progressTotal != 0) {
        const uint64_t percent = static_cast<uint64_t>(received) * 100u / progressTotal;
        if (!stepProgress(percent > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(percent))) return 0;
    }
    return 1;
}

int CameraLink::ReceiveMessage(LinkBuffer& buffer) {
    bool appending = false;
    for (;;) {
        uint8_t terminator = 0;
        if (!receiveBlock(buffer, appending, terminator)) return 0;
        if (!afterAcceptedPacket(buffer.count)) return 0;
        if (terminator != framing::ETB) return 1;
        appending = true;
    }
}

int CameraLink::Transact(const uint8_t* request, uint16_t requestLength, uint16_t statusLength, bool singleEnquiry,
                         LinkBuffer* data, bool hasData) {
    if (!cancelInProgress) receiveStats = ReceiveStats{};
    if (!LinkBuffers::resize(buffers->statusMessage, statusLength)) return 0;
    if (!SendRequest(request, requestLength, singleEnquiry)) return 0;
    if (hasData && data && !ReceiveMessage(*data)) return 0;
    return ReceiveMessage(buffers->statusMessage);
}
