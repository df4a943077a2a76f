// BytePort: what the link's protocol core needs of a serial line, and nothing of Win32. The
// product's port (link_port.h) implements it over a COM port; the host tests and the fuzz
// target implement it over a script of bytes.
#pragma once

#include <cstddef>
#include <cstdint>

enum class PortResult { Ok, TimedOut, Failed };

// Line-setting codes of ConfigurePort, the values of the Win32 DCB fields they end up in.
constexpr int lineParityNone = 0;
constexpr int lineParityOdd = 1;
constexpr int lineParityEven = 2;
constexpr int lineOneStopBit = 0;
constexpr int lineTwoStopBits = 2;

class BytePort {
public:
    virtual ~BytePort() = default;

    // 1..4 once a SetIO succeeded, kept over a close; connected is set only by a successful
    // SetIO. Both belong to the line rather than to one exchange, so they live with the port.
    uint8_t portNumber = 0;
    int connected = 0;

    // Opens port number 1..4 (closing what was open) and prepares it: queues, no pending I/O.
    virtual bool open(uint8_t number) = 0;
    virtual bool prepare() = 0;
    // Safe when closed; clears connected, keeps portNumber.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // True once a transfer failed with an I/O error rather than a time-out: only a new open
    // makes the port usable again.
    virtual bool broken() const = 0;
    // Read time-out per byte and write time-out, in milliseconds.
    virtual bool setTimeouts(uint32_t readMs, uint32_t writeMs) = 0;
    // parity, stopBits: the line* codes above; flowFlags: 2 = CTS output flow, 4 = XON/XOFF.
    virtual bool configure(uint32_t bitRate, int byteSize, int parity, int stopBits, int flowFlags) = 0;

    // One byte each way. A time-out moves nothing and reports TimedOut.
    virtual PortResult readByte(uint8_t& value) = 0;
    virtual PortResult writeByte(uint8_t value) = 0;
    // Several bytes in order; stops at the first that does not go out and reports it. A port
    // that can hand them to its driver in one call does so.
    virtual PortResult writeBytes(const uint8_t* bytes, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            const PortResult result = writeByte(bytes[i]);
            if (result != PortResult::Ok) return result;
        }
        return PortResult::Ok;
    }
    // Bytes received and not yet read: those the port holds plus those the driver queued.
    virtual uint32_t bytesWaiting() = 0;
    // Drops every byte received and not yet read, and any output still queued.
    virtual bool purge() = 0;

    // The link's clock, in milliseconds from any start: the bound of a message and the settling
    // of the line are measured on it. A scripted port keeps virtual time instead.
    virtual uint64_t nowMs() = 0;
    // Lets ms pass without reading (bytes arriving meanwhile stay waiting).
    virtual void waitMs(uint32_t ms) = 0;
};
