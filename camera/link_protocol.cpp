// LinkCore: requests, received messages and whole exchanges.
#include <cstdint>
#include <utility>

#include "camera/framing.h"
#include "camera/link_core.h"

namespace {

constexpr uint32_t enquiryReadTimeoutMs = 300;
constexpr int enquiryAttempts = 4;
constexpr int maxRequestResends = 3;
constexpr int maxBlockRetries = 3;
// Before a NAK the rest of a rejected packet is let through: the NAK must go out once the
// camera waits for it, and the retransmission must be read from its start.
constexpr uint32_t drainQuietMs = 50;
constexpr uint32_t maxDrainedBytes = 2u * 65536u + 64u;

}  // namespace

int LinkCore::SendPacket(const uint8_t* bytes, uint32_t length, bool more) {
    // The packet goes to the port in one piece: one write instead of one per byte keeps the
    // line from waiting for us.
    uint8_t wire[framing::maxWireLength(framing::maxRequestPiece)];
    const size_t count = framing::encodePacketInto(wire, sizeof wire, bytes, length, more);
    return count ? writeRawBlock(wire, count) : 0;
}

int LinkCore::SendRequest(const uint8_t* bytes, uint32_t length, bool singleEnquiry) {
    if (singleEnquiry) {
        // The Cancel of a running download: the camera's bytes still waiting belong to it.
        if (!SendEnqWaitAck()) return 0;
    } else {
        // A short read time-out while asking for the line, so a missing camera is noticed in
        // about a second; the retries clear the latch a time-out left behind.
        SetTimeouts(enquiryReadTimeoutMs, 0);
        bool granted = false;
        for (int attempt = 0; attempt < enquiryAttempts && !granted; ++attempt) {
            if (attempt > 0) linkError = 0;
            if (!linkError) settleBeforeRequest();
            dropLeftovers();
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
            ++resendsSent;
        }
        offset += piece;
    } while (offset < length);
    return SendEot();
}

// Reads a packet's length, payload, terminator and checksum (the start byte is already read)
// into buffer behind its first base bytes. Answers 0 when the line failed, the message would
// pass the size cap or the buffer could not grow. Otherwise good tells whether the checksum
// and terminator were right, and cutShort that the packet stopped before its end (the latch
// that time-out set is cleared again: the packet is rejected, not the line).
int LinkCore::readPacketBody(LinkBuffer& buffer, uint32_t base, bool appending, uint8_t& terminator, bool& good,
                             bool& cutShort) {
    good = false;
    cutShort = false;
    uint8_t low = 0, high = 0;
    uint8_t checksum = 0;
    uint8_t sum = 0;
    uint32_t length = 0;
    bool complete = readUnstuffed(low) && readUnstuffed(high);
    if (complete) {
        length = static_cast<uint32_t>(high) << 8 | low;
        if (static_cast<uint64_t>(base) + length > messageCapBytes) return 0;
        if (length != 0) {
            if (!LinkBuffers::resize(buffer, base + length)) return 0;
        } else if (!appending) {
            LinkBuffers::release(buffer);
        } else {
            buffer.count = base;
        }
        sum = static_cast<uint8_t>(low + high);
        for (uint32_t i = 0; i < length && complete; ++i) {
            complete = readUnstuffed(buffer.data[base + i]) != 0;
            if (complete) sum = static_cast<uint8_t>(sum + buffer.data[base + i]);
        }
        complete = complete && readUnstuffed(terminator) && readUnstuffed(checksum);
    }
    if (!complete) {
        // A dead device stays a line failure. Silence inside a packet (its length was
        // corrupted, a byte was lost) is the packet's fault: after one read time-out, while the
        // camera still waits for our answer, it is NAKed so that it is sent again.
        if (lineGone()) return 0;
        linkError = 0;
        cutShort = true;
        return 1;
    }
    sum = static_cast<uint8_t>(sum + terminator);
    good = checksum == sum && (terminator == framing::ETX || terminator == framing::ETB);
    return 1;
}

// Reads one block (handshake, packet, retransmissions, repetitions) into buffer. The block's
// payload goes behind the bytes already received when appending (the first block of a
// message replaces them).
int LinkCore::receiveBlock(LinkBuffer& buffer, bool appending, uint8_t& terminator) {
    const uint32_t base = appending ? buffer.count : 0;
    uint8_t value = 0;
    // Noise on the line before the camera's enquiry is let by, up to a cap: only the enquiry
    // starts a block, and nothing is answered before it.
    for (uint32_t skipped = 0;; ++skipped) {
        if (!readRaw(value)) return 0;
        if (value == framing::ENQ) break;
        if (skipped >= maxSkippedBytes) return 0;
        ++receiveStats.skippedBytes;
    }
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
        bool good = false, cutShort = false;
        if (!readPacketBody(buffer, base, appending, terminator, good, cutShort)) return 0;

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
            if (cutShort) {
                ++receiveStats.timedOutPackets;
            } else {
                // Let the rest of a packet whose length or framing was damaged go by, so the
                // NAK reaches a camera that waits for it and the resend is read from its STX.
                SetTimeouts(drainQuietMs, 0);
                uint8_t ignored = 0;
                for (uint32_t drained = 0; drained < maxDrainedBytes && readRaw(ignored); ++drained) {
                    ++receiveStats.skippedBytes;
                }
                SetTimeouts(0, 0);
                if (lineGone()) return 0;
                linkError = 0;
            }
            if (!SendNak()) return 0;
            ++receiveStats.naks;
            if (retries >= maxBlockRetries) return 0;
            ++retries;
            linkError = 0;
        }
        buffer.count = base;
    }
}

// Between packets: send a Cancel the user asked for during a download, and step the progress.
int LinkCore::afterAcceptedPacket(uint32_t received) {
    if (downloading_ && cancelRequested && !cancelInProgress) {
        // The Cancel exchange has a status message of its own; keep the one being received
        // (it may be this very message) out of its way, and put it back if the download goes on.
        LinkBuffer saved;
        std::swap(saved, buffers->statusMessage);
        const int cancelled = CancelTransfer(false);
        if (cancelled) {
            LinkBuffers::release(saved);
            cancelAccepted_ = true;
            return 0;  // the download is abandoned
        }
        std::swap(saved, buffers->statusMessage);
        LinkBuffers::release(saved);
        // Refused, the download goes on; lost on the line, it fails now. (The Cancel may have
        // gone out after the last packet of all, where no later byte operation would notice.)
        if (linkError) return 0;
    }
    if (progressTotal != 0) {
        const uint64_t percent = static_cast<uint64_t>(received) * 100u / progressTotal;
        if (!observer().progressStep(percent > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(percent))) return 0;
    }
    return 1;
}

uint64_t LinkCore::messageAllowanceMs(uint32_t expectedBytes, uint32_t bitRate) {
    // 10 bits a byte on the line, times one and a half.
    const uint64_t rate = bitRate ? bitRate : 9600u;
    return static_cast<uint64_t>(expectedBytes) * 10u * 1000u * 3u / (2u * rate) + boundFixedMs;
}

uint32_t LinkCore::messageBlockLimit(uint32_t expectedBytes) {
    const uint64_t limit = static_cast<uint64_t>(expectedBytes) + expectedBytes / 4u + 16u;
    return limit > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(limit);
}

int LinkCore::ReceiveMessage(LinkBuffer& buffer, uint32_t expectedBytes) {
    // A Cancel's status arrives inside a download: its own bound, then the download's again.
    const bool outerBounded = bounded_;
    const uint64_t outerDeadline = deadline_;
    bounded_ = true;
    pastBound_ = false;
    deadline_ = line.nowMs() + messageAllowanceMs(expectedBytes, lineBitRate);
    const uint32_t blockLimit = messageBlockLimit(expectedBytes);
    int ok = 0;
    bool appending = false;
    for (uint32_t blocks = 1;; ++blocks) {
        uint8_t terminator = 0;
        if (!receiveBlock(buffer, appending, terminator) || !afterAcceptedPacket(buffer.count)) break;
        if (terminator != framing::ETB) {
            ok = 1;
            break;
        }
        if (blocks >= blockLimit) {
            // Unanswered: the camera's next enquiry goes by while the line settles.
            ++receiveStats.pastBound;
            cutOff();
            break;
        }
        appending = true;
    }
    bounded_ = outerBounded;
    deadline_ = outerDeadline;
    pastBound_ = false;
    return ok;
}

int LinkCore::Transact(const uint8_t* request, uint16_t requestLength, uint16_t statusLength, bool singleEnquiry,
                       LinkBuffer* data, bool hasData, uint32_t expectedData) {
    (void)statusLength;  // a capacity hint only: the status is received to the length it has
    if (!cancelInProgress) {
        receiveStats = ReceiveStats{};
        cancelAccepted_ = false;
    }
    // Every exchange starts without a status, and one that fails keeps none: the callers must
    // never judge this exchange by the result of an earlier one. A download abandoned for an
    // accepted Cancel keeps the Cancel's status, which arrived within it.
    LinkBuffers::release(buffers->statusMessage);
    const bool ok = SendRequest(request, requestLength, singleEnquiry) &&
                    (!hasData || !data || ReceiveMessage(*data, expectedData)) &&
                    ReceiveMessage(buffers->statusMessage);
    if (!ok && !(cancelAccepted_ && !cancelInProgress)) LinkBuffers::release(buffers->statusMessage);
    return ok ? 1 : 0;
}
