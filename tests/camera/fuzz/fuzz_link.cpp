// libFuzzer target: the source's link core plays one whole command (GetStat, GetImgInfo,
// GetThumb, GetJpeg, SetIO, CancelTransfer, GetIOCap, SetDate) against a camera made of the
// fuzzer's bytes, on a scripted port with virtual time.
//
// First byte: bits 0-2 the command, bit 3 the mode.
//  - Raw mode: the rest is the camera's byte stream (0xF0 0x00 = silence, 0xF0 0x01 = "arrives
//    later", 0xF0 other = a plain 0xF0), and a click on Cancel may come at any progress step.
//    Checked: the call ends within a bounded number of reads and time-outs; a success has a
//    status with result 0 and no line error; the buffers hold what their counts say; the latch
//    keeps the port untouched; the cancel flag never outlives the call.
//  - Framed mode: the rest describes the true messages and the faults that hit each block
//    (only faults a sound receiver must notice: bad checksum, terminator, start byte or escape,
//    a packet cut short or with a longer length, a repeat, an extra enquiry, a refused request).
//    Checked besides: a success returns exactly the true data and status; a command whose
//    faults stay within the retry budget and whose camera says yes succeeds.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "camera/link_core.h"
#include "tests/camera/scripted_port.h"

using namespace linkscript;

namespace {

#define CHECK(condition)                                                              \
    do {                                                                              \
        if (!(condition)) {                                                           \
            __builtin_printf("fuzz_link: check failed: %s (line %d)\n", #condition, __LINE__); \
            std::abort();                                                             \
        }                                                                             \
    } while (0)

enum Command { CmdGetStat, CmdGetImgInfo, CmdGetThumb, CmdGetJpeg, CmdSetIO, CmdCancel, CmdGetIOCap, CmdSetDate };

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    size_t left() const { return size_ - pos_; }
    const uint8_t* rest() const { return data_ + pos_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

class CancelClicker : public LinkObserver {
public:
    bool progressStep(int percent) override {
        CHECK(percent >= 0);
        ++steps;
        if (core && clickAt && steps == clickAt) core->cancelRequested = 1;
        return true;
    }
    LinkCore* core = nullptr;
    int clickAt = 0;
    int steps = 0;
};

void touch(const LinkBuffer& buffer) {
    CHECK(buffer.count == 0 || buffer.data != nullptr);
    volatile uint8_t sum = 0;
    for (uint32_t i = 0; i < buffer.count; ++i) sum = static_cast<uint8_t>(sum + buffer.data[i]);
    (void)sum;
}

int run(LinkCore& link, Command command) {
    uint16_t handle = 0;
    switch (command) {
    case CmdGetStat: return link.GetStat(0, false);
    case CmdGetImgInfo: return link.GetImgInfo(1, &handle, false);
    case CmdGetThumb: return link.GetThumb(0x2001, false);
    case CmdGetJpeg: return link.GetJpeg(0x2001, 5000, false);
    case CmdSetIO: return link.SetIO(1, 115200, lineParityNone, lineOneStopBit, 8, 2, false);
    case CmdCancel: return link.CancelTransfer(false);
    case CmdGetIOCap: return link.GetIOCap(false);
    case CmdSetDate: return link.SetDate(false);
    }
    return 0;
}

// Checks that hold whatever the camera sent.
void checkAfter(LinkCore& link, ScriptedPort& port, int ok, uint64_t pauses) {
    // Bounded: every read either took a scripted byte or timed out, and the time-outs beyond
    // the scripted silences are a handful per exchange (SetIO makes four).
    CHECK(port.timeouts <= pauses + 40);
    CHECK(port.reads <= port.consumed + port.timeouts + 64);
    CHECK(port.elapsedMs <= (pauses + 40) * 3000u);
    CHECK(link.cancelRequested == 0);
    CHECK(link.cancelInProgress == 0);
    if (ok) {
        CHECK(link.linkError == 0);
        CHECK(link.lastResultCode() == ResultOk);
    }
    touch(link.buffers->statusMessage);
    touch(link.buffers->statusRecord);
    touch(link.buffers->imageInfo);
    touch(link.buffers->thumbnail);
    touch(link.buffers->jpeg);
    // The latch: while set, no byte goes to the port.
    if (link.linkError) {
        const size_t written = port.written.size();
        const uint64_t reads = port.reads;
        uint8_t value = 0;
        CHECK(link.SendAck() == 0 && link.ReadControlByte(value) == 0);
        CHECK(port.written.size() == written && port.reads == reads);
    }
}

void runRaw(Command command, Input& in) {
    ScriptedPort port;
    port.reserve(in.left() + 1);
    port.connected = 1;
    port.portNumber = 1;
    CancelClicker clicker;
    LinkCore link(port, &clicker);
    clicker.core = &link;
    clicker.clickAt = in.byte() % 8;
    if (command == CmdSetIO) port.portNumber = 2;  // SetIO opens the port first
    port.arrivesLater();
    uint64_t pauses = 0;
    while (!in.empty()) {
        const uint8_t b = in.byte();
        if (b == 0xF0 && !in.empty()) {
            const uint8_t k = in.byte();
            if (k == 0) {
                port.pause();
                ++pauses;
                continue;
            }
            if (k == 1) {
                port.arrivesLater();
                continue;
            }
        }
        port.send(b);
    }
    const int ok = run(link, command);
    checkAfter(link, port, ok, pauses);
}

// ---- framed mode ----

struct Exchange {
    bool hasData = false;
    Bytes data;
    Bytes status;
};

enum Fault { FaultNone, FaultChecksum, FaultTerminator, FaultStart, FaultEscape, FaultCut, FaultLonger, FaultRepeat,
             FaultExtraEnq, FaultKinds };

// A block's payload: a stretch of the true message.
struct Payload {
    const uint8_t* data;
    size_t size;
};

Bytes framedPacket(const Payload& payload, bool more, Fault fault, uint8_t knob) {
    const uint8_t terminator = more ? framing::ETB : framing::ETX;
    uint8_t sum = framing::packetChecksum(payload.data, payload.size, terminator);
    size_t length = payload.size;
    uint8_t wireTerminator = terminator;
    if (fault == FaultChecksum) sum = static_cast<uint8_t>(sum + 1 + knob % 255);
    if (fault == FaultTerminator) {
        wireTerminator = static_cast<uint8_t>(knob);
        if (wireTerminator == framing::ETX || wireTerminator == framing::ETB) wireTerminator = 0x20;
        sum = framing::packetChecksum(payload.data, payload.size, wireTerminator);
    }
    if (fault == FaultLonger) length = payload.size + 1 + knob % 64;
    Bytes out{framing::STX};
    framing::appendStuffed(out, static_cast<uint8_t>(length & 0xFF));
    framing::appendStuffed(out, static_cast<uint8_t>(length >> 8));
    for (size_t i = 0; i < payload.size; ++i) framing::appendStuffed(out, payload.data[i]);
    framing::appendStuffed(out, wireTerminator);
    framing::appendStuffed(out, sum);
    if (fault == FaultStart) {
        uint8_t start = static_cast<uint8_t>(knob);
        if (start == framing::STX || start == framing::ENQ || start == framing::ESC) start = 0x7F;
        out[0] = start;
    }
    if (fault == FaultEscape) {
        // Change the byte after one escape of the payload or checksum: one value changes by a
        // non-zero amount, the count does not, so the sum cannot match.
        const size_t payloadStart = 1 + (framing::needsStuffing(static_cast<uint8_t>(length & 0xFF)) ? 2 : 1) +
                                    (framing::needsStuffing(static_cast<uint8_t>(length >> 8)) ? 2 : 1);
        for (size_t i = payloadStart; i + 1 < out.size(); ++i) {
            if (out[i] == framing::ESC) {
                out[i + 1] = static_cast<uint8_t>(out[i + 1] ^ (1 + knob % 255));
                break;
            }
        }
    }
    if (fault == FaultCut) out.resize(1 + knob % (out.size() - 1));
    return out;
}

bool hasEscape(const Payload& payload, bool more) {
    for (size_t i = 0; i < payload.size; ++i)
        if (framing::needsStuffing(payload.data[i])) return true;
    const uint8_t terminator = more ? framing::ETB : framing::ETX;
    return framing::needsStuffing(framing::packetChecksum(payload.data, payload.size, terminator));
}

// The camera's side of one message, as a sound receiver will meet it. Returns false when a
// block meets more faults than the receiver may retry.
bool scriptMessage(ScriptedPort& port, const Bytes& message, Input& in, uint64_t& pauses) {
    size_t blockSize = 1 + in.byte() % 64;
    if (in.byte() & 1) blockSize = 4096;
    // At most 64 blocks a message: more only repeat what the first ones tried (the faults come
    // from the input, which is used up by then), and each block regrows the link's buffer.
    blockSize = std::max(blockSize, (message.size() + 63) / 64);
    const size_t blocks = message.empty() ? 1 : (message.size() + blockSize - 1) / blockSize;
    bool recoverable = true;
    for (size_t b = 0; b < blocks; ++b) {
        const size_t offset = b * blockSize;
        const size_t length = message.empty() ? 0 : std::min(blockSize, message.size() - offset);
        const Payload payload{message.data() + offset, length};
        const bool more = b + 1 < blocks;
        port.send(framing::ENQ);
        int retries = 0;
        bool afterAccepted = false;  // the receiver takes the next byte as EOT unless it is STX
        for (;;) {
            const uint8_t choice = in.byte();
            Fault fault = (choice & 0x80) ? static_cast<Fault>(choice % FaultKinds) : FaultNone;
            const uint8_t knob = in.byte();
            if (fault == FaultEscape && !hasEscape(payload, more)) fault = FaultChecksum;
            if (afterAccepted && (fault == FaultStart || fault == FaultExtraEnq)) fault = FaultChecksum;
            if (fault == FaultExtraEnq) {
                port.send(framing::ENQ);
                fault = FaultNone;
            }
            if (fault == FaultRepeat) {
                // Accepted, then sent again as if our ACK was lost.
                port.sendPacket(payload.data, payload.size, more);
                afterAccepted = true;
                if (++retries > 3) recoverable = false;
                if (retries > 6) return false;
                continue;
            }
            if (fault == FaultNone) {
                port.sendPacket(payload.data, payload.size, more);
                port.send(framing::EOT);
                break;
            }
            port.send(framedPacket(payload, more, fault, knob));
            afterAccepted = false;
            port.pause();  // the camera waits for the answer
            ++pauses;
            if (++retries > 3) recoverable = false;
            if (retries > 6) return false;  // the script stops making sense to go on
        }
    }
    return recoverable;
}

void runFramed(Command command, Input& in) {
    ScriptedPort port;
    port.reserve(4096);
    port.connected = 1;
    port.portNumber = 1;
    LinkCore link(port, nullptr);
    std::vector<Exchange> exchanges;
    const uint8_t statusLength = static_cast<uint8_t>(22 + in.byte() % 24);
    auto exchange = [&](bool hasData) {
        Exchange e;
        e.hasData = hasData;
        e.status = Bytes(statusLength);
        for (auto& b : e.status) b = in.byte();
        const uint8_t refuse = in.byte();
        e.status[2] = (refuse & 0xF0) == 0xF0 ? refuse : 0;
        e.status[3] = 0;
        if (hasData) {
            size_t n = in.byte();
            if (n & 0x80) n = (n & 0x7F) * 97;
            e.data.resize(n);
            for (auto& b : e.data) b = in.byte();
        }
        exchanges.push_back(e);
    };
    switch (command) {
    case CmdGetImgInfo:
    case CmdGetThumb:
    case CmdGetJpeg: exchange(true); break;
    case CmdSetIO:
        port.portNumber = 2;
        for (int i = 0; i < 4; ++i) exchange(false);
        break;
    default: exchange(false); break;
    }
    bool recoverable = true;
    bool accepted = true;
    uint64_t pauses = 0;
    for (const Exchange& e : exchanges) {
        port.arrivesLater();
        // The camera's answers to our enquiry and request: enquiries of its own, refusals.
        const uint8_t ask = in.byte();
        for (int i = 0; i < (ask & 3); ++i) port.send(framing::ENQ);
        port.send(framing::ACK);
        const int refusals = (ask >> 2) & 3;
        for (int i = 0; i < refusals; ++i) port.send(framing::NAK);
        port.send(framing::ACK);
        if (e.hasData) recoverable = scriptMessage(port, e.data, in, pauses) && recoverable;
        recoverable = scriptMessage(port, e.status, in, pauses) && recoverable;
        accepted = accepted && e.status[2] == 0;
    }
    const int ok = run(link, command);
    checkAfter(link, port, ok, pauses);
    // Retries cost time (each silence a read time-out): a message may pass its bound first,
    // and then only after its allowance.
    if (link.receiveStats.pastBound)
        CHECK(!ok && port.elapsedMs >= LinkCore::boundFixedMs);
    else if (recoverable && accepted)
        CHECK(ok);
    if (!ok) return;
    const Exchange& last = exchanges.back();
    const LinkBuffer& status = link.buffers->statusMessage;
    CHECK(Bytes(status.data, status.data + status.count) == last.status);
    if (last.hasData) {
        const LinkBuffer& data = command == CmdGetImgInfo ? link.buffers->imageInfo
                                 : command == CmdGetThumb ? link.buffers->thumbnail
                                                          : link.buffers->jpeg;
        CHECK(Bytes(data.data, data.data + data.count) == last.data);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1u << 20)) return 0;
    Input in(data, size);
    const uint8_t head = in.byte();
    const Command command = static_cast<Command>(head & 7);
    if (head & 8)
        runFramed(command, in);
    else
        runRaw(command, in);
    return 0;
}
