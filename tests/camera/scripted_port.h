// A BytePort over a script: what the camera sends, with marks for silence, and a record of
// every byte the link wrote. Used by the native link tests and the link fuzz target.
//
// Time is virtual: a read that finds the script at a silence mark (or at its end) times out
// and adds the current read time-out to elapsedMs. A "later" mark costs no time but separates
// what has arrived from what the camera sends in answer to the link's next bytes: the bytes
// before the next mark of any kind are the ones "waiting", and purge drops them. A "delay" mark
// (shorter than the read time-out) is time passing before the next byte comes: a read waits it
// out, waitMs lets it run down. A reactive camera can append to the script from onWrite, which
// sees every byte the link writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "camera/byte_port.h"
#include "camera/framing.h"

namespace linkscript {

using Bytes = std::vector<uint8_t>;

class ScriptedPort : public BytePort {
public:
    static constexpr int silence = -1;
    static constexpr int later = -2;
    static constexpr int delayMark = -1000;  // and below: a delay of (delayMark - mark) ms

    void send(const Bytes& bytes) { script_.insert(script_.end(), bytes.begin(), bytes.end()); }
    void send(std::initializer_list<uint8_t> bytes) { script_.insert(script_.end(), bytes.begin(), bytes.end()); }
    void send(uint8_t byte) { script_.push_back(byte); }
    // One packet as the camera frames it, encoded into a scratch buffer the port keeps (no
    // new buffer a packet).
    void sendPacket(const uint8_t* payload, size_t length, bool more) {
        packet_.resize(framing::maxWireLength(length));
        packet_.resize(framing::encodePacketInto(packet_.data(), packet_.size(), payload, length, more));
        send(packet_);
    }
    void pause() { script_.push_back(silence); }
    void delay(uint32_t ms) { script_.push_back(delayMark - static_cast<int>(ms)); }
    void arrivesLater() { script_.push_back(later); }
    // Room for a script of about this many bytes and marks, and for what the link writes in
    // answer, so that a long script is not regrown byte by byte.
    void reserve(size_t scriptBytes) {
        script_.reserve(scriptBytes);
        written.reserve(256);
    }
    // Drops what is left of the script.
    void clearScript() {
        script_.clear();
        next_ = 0;
    }

    bool open(uint8_t) override {
        ++opens;
        isOpen_ = !failOpen;
        return isOpen_;
    }
    bool prepare() override { return true; }
    void close() override {
        isOpen_ = false;
        connected = 0;
    }
    bool isOpen() const override { return isOpen_; }
    bool broken() const override { return broken_; }
    bool setTimeouts(uint32_t readMs, uint32_t writeMs) override {
        readTimeoutMs = readMs;
        writeTimeoutMs = writeMs;
        return true;
    }
    bool configure(uint32_t bitRate, int, int, int, int) override {
        lastBitRate = bitRate;
        return isOpen_;
    }

    PortResult readByte(uint8_t& value) override {
        ++reads;
        if (!isOpen_ || broken_) return PortResult::Failed;
        while (next_ < script_.size() && (script_[next_] == later || script_[next_] <= delayMark)) {
            if (script_[next_] <= delayMark) elapsedMs += static_cast<uint64_t>(delayMark - script_[next_]);
            ++next_;
        }
        if (next_ == script_.size() || script_[next_] == silence) {
            if (next_ < script_.size()) ++next_;
            ++timeouts;
            elapsedMs += readTimeoutMs;
            if (breakWhenDry && next_ == script_.size()) broken_ = true;
            return broken_ ? PortResult::Failed : PortResult::TimedOut;
        }
        value = static_cast<uint8_t>(script_[next_++]);
        ++consumed;
        return PortResult::Ok;
    }
    PortResult writeByte(uint8_t value) override {
        if (!isOpen_ || broken_) return PortResult::Failed;
        written.push_back(value);
        if (onWrite) onWrite(value);
        return PortResult::Ok;
    }
    uint32_t bytesWaiting() override {
        uint32_t n = 0;
        for (size_t i = next_; i < script_.size() && script_[i] >= 0; ++i) ++n;
        return n;
    }
    bool purge() override {
        while (next_ < script_.size() && script_[next_] >= 0) ++next_;
        ++purgeCalls;
        return true;
    }
    uint64_t nowMs() override { return elapsedMs; }
    void waitMs(uint32_t ms) override {
        elapsedMs += ms;
        ++waits;
        // A delay runs down; the bytes behind one that ran out are waiting.
        while (ms && next_ < script_.size() && script_[next_] <= delayMark) {
            const uint32_t left = static_cast<uint32_t>(delayMark - script_[next_]);
            if (left > ms) {
                script_[next_] = delayMark - static_cast<int>(left - ms);
                break;
            }
            ms -= left;
            ++next_;
            if (next_ < script_.size() && script_[next_] >= 0) break;
        }
    }

    Bytes written;
    std::function<void(uint8_t)> onWrite;
    bool failOpen = false;
    bool breakWhenDry = false;  // the device goes away once the script is used up
    uint32_t readTimeoutMs = 3000;
    uint32_t writeTimeoutMs = 3000;
    uint32_t lastBitRate = 0;
    uint64_t reads = 0, consumed = 0, timeouts = 0, elapsedMs = 0, waits = 0;
    int opens = 0, purgeCalls = 0;

private:
    // What the camera sends, bytes and marks, read from next_ on (a flat array: the fuzz target
    // feeds it megabytes a second).
    std::vector<int> script_;
    Bytes packet_;
    size_t next_ = 0;
    bool isOpen_ = true;
    bool broken_ = false;
};

// ---- wire forms the camera sends ----

inline Bytes packet(const Bytes& payload, bool more = false) {
    return framing::encodePacket(payload, more);
}
// One block as a clean camera sends it: ENQ, packet, EOT.
inline Bytes block(const Bytes& payload, bool more = false) {
    Bytes out{framing::ENQ};
    const Bytes p = packet(payload, more);
    out.insert(out.end(), p.begin(), p.end());
    out.push_back(framing::EOT);
    return out;
}
inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
// A status message of length n (at least 4) with the given result word.
inline Bytes status(uint16_t code, uint16_t result, size_t n = 9) {
    Bytes s(n < 4 ? 4 : n, 0);
    s[0] = static_cast<uint8_t>(code & 0xFF);
    s[1] = static_cast<uint8_t>(code >> 8);
    s[2] = static_cast<uint8_t>(result & 0xFF);
    s[3] = static_cast<uint8_t>(result >> 8);
    return s;
}

}  // namespace linkscript
