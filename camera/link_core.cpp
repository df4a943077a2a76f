// LinkCore: the port operations and the byte operations with the linkError latch.
#include "camera/link_core.h"

#include <cstdio>

#include "camera/framing.h"

LinkCore::LinkCore(BytePort& port, LinkObserver* observer)
    : buffers(new LinkBuffers), line(port), observer_(observer) {}

LinkCore::~LinkCore() {
    delete buffers;
    buffers = nullptr;
}

// ---- the hold ----

bool LinkCore::shutOut() const {
    return holder_.load() != nullptr && holderThread_.load() != std::this_thread::get_id();
}

int LinkCore::takeLinkError() {
    if (shutOut()) return LinkErrorHeld;
    const int error = linkError;
    linkError = 0;
    return error;
}

bool LinkHold::take() {
    const void* none = nullptr;
    if (taken_ || !link_.holder_.compare_exchange_strong(none, this)) return false;
    taken_ = true;
    return true;
}

void LinkHold::release() {
    if (!taken_) return;
    link_.holderThread_.store(std::thread::id());
    link_.holder_.store(nullptr);
    taken_ = false;
}

LinkHold::Use::Use(LinkHold& hold) : link_(hold.link_), admitted_(hold.taken_) {
    if (admitted_) link_.holderThread_.store(std::this_thread::get_id());
}

LinkHold::Use::~Use() {
    if (admitted_) link_.holderThread_.store(std::thread::id());
}

int LinkCore::OpenPort(uint8_t portNumber, uint32_t bitRate) {
    if (!line.open(portNumber)) {
        line.connected = 0;
        return 0;
    }
    readTimeoutMs = 3000;
    writeTimeoutMs = 3000;
    line.prepare();
    SetTimeouts(0, 0);
    if (!ConfigurePort(bitRate, 8, lineParityNone, lineOneStopBit, 2)) {
        ClosePort();
        return 0;
    }
    return 1;
}

int LinkCore::ClosePort() {
    line.close();  // clears connected, keeps the port number
    settling_ = false;  // a new opening starts from an empty line
    return 1;
}

int LinkCore::SetTimeouts(uint32_t readMs, uint32_t writeMs) {
    return line.setTimeouts(readMs ? readMs : readTimeoutMs, writeMs ? writeMs : writeTimeoutMs) ? 1 : 0;
}

int LinkCore::ConfigurePort(uint32_t bitRate, int byteSize, int parity, int stopBits, int flowFlags) {
    if (!line.configure(bitRate, byteSize, parity, stopBits, flowFlags)) return 0;
    lineBitRate = bitRate;
    // Every change of line setting is confirmed by one exchange with the camera.
    return GetIOCap(false);
}

void LinkCore::WriteDump(const char* fileName, const uint8_t* bytes, uint32_t count) {
    if (!fileName) return;
    std::FILE* file = std::fopen(fileName, "wb");
    if (!file) return;
    if (bytes && count) std::fwrite(bytes, 1, count, file);
    std::fclose(file);
}

// ---- byte operations: the latch makes a dead line fail fast instead of waiting per byte ----

int LinkCore::writeRaw(uint8_t value) {
    return writeRawBlock(&value, 1);
}

int LinkCore::writeRawBlock(const uint8_t* bytes, size_t count) {
    if (linkError) return 0;
    if (abandonTransfers.load(std::memory_order_relaxed)) {
        cutOff();
        return 0;
    }
    if (line.writeBytes(bytes, count) != PortResult::Ok) {
        linkError = LinkErrorLine;
        return 0;
    }
    return 1;
}

int LinkCore::writeStuffed(uint8_t value) {
    if (!framing::needsStuffing(value)) return writeRaw(value);
    return writeRaw(framing::ESC) && writeRaw(static_cast<uint8_t>(~value));
}

int LinkCore::readRaw(uint8_t& value) {
    if (linkError) return 0;
    if (bounded_ && !pastBound_ && line.nowMs() >= deadline_) {
        pastBound_ = true;
        ++receiveStats.pastBound;
    }
    if (abandonTransfers.load(std::memory_order_relaxed) || pastBound_) {
        cutOff();
        return 0;
    }
    if (line.readByte(value) != PortResult::Ok) {
        linkError = LinkErrorLine;
        return 0;
    }
    return 1;
}

void LinkCore::cutOff() {
    linkError = LinkErrorLine;
    if (settling_) return;
    settling_ = true;
    settleStartedAt_ = lastArrivalAt_ = line.nowMs();
}

// A line that cannot come back within this exchange: the device went away, or the message
// passed its bound. Other failures inside a packet are the packet's, and it is sent again.
bool LinkCore::lineGone() {
    return line.broken() || !line.isOpen() || pastBound_;
}

bool LinkCore::lineSettled() {
    if (!settling_) return true;
    const uint64_t now = line.nowMs();
    if (line.isOpen() && dropArrivals()) lastArrivalAt_ = now;
    if (now - lastArrivalAt_ < settleQuietMs && now - settleStartedAt_ < settleLimitMs) return false;
    settling_ = false;
    return true;
}

// Blocks until the line settled; bounded by settleLimitMs.
void LinkCore::settleBeforeRequest() {
    constexpr uint32_t pollMs = 100;
    while (!abandonTransfers.load(std::memory_order_relaxed) && line.isOpen() && !line.broken() && !lineSettled())
        line.waitMs(pollMs);
}

int LinkCore::readUnstuffed(uint8_t& value) {
    if (!readRaw(value)) return 0;
    if (value != framing::ESC) return 1;
    if (!readRaw(value)) return 0;
    value = static_cast<uint8_t>(~value);
    return 1;
}

int LinkCore::SendAck() {
    return writeRaw(framing::ACK);
}

int LinkCore::SendNak() {
    return writeStuffed(framing::NAK);
}

int LinkCore::SendEot() {
    return writeStuffed(framing::EOT);
}

int LinkCore::ReadControlByte(uint8_t& value) {
    return readUnstuffed(value);
}

int LinkCore::WaitAck() {
    // A camera that wants the line sends ENQ; while we wait for our ACK those are skipped. The
    // cap keeps a babbling line from holding us here forever.
    for (int skipped = 0; skipped <= maxSkippedEnquiries; ++skipped) {
        uint8_t value = 0;
        if (!ReadControlByte(value)) return 0;
        if (value == framing::ACK) return 1;
        if (value != framing::ENQ) return 0;
    }
    return 0;
}

int LinkCore::SendEnqWaitAck() {
    ++enquiriesSent;
    return writeStuffed(framing::ENQ) && WaitAck();
}

uint32_t LinkCore::dropArrivals() {
    const uint32_t waiting = line.bytesWaiting();
    if (waiting) line.purge();
    return waiting;
}

// Bytes still on their way from an exchange we gave up on (the rest of a packet, a repeated
// block, a late EOT) would otherwise be read as the camera's answer to the next enquiry.
void LinkCore::dropLeftovers() {
    if (linkError || line.bytesWaiting() == 0) return;
    line.purge();
    ++purges;
}
