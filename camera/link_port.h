// LinkPort: one serial port handle and the Win32 calls made on it (link_port.cpp holds all of them).
//
// A request packet (up to writeBlockCapacity bytes on the wire) is written with one WriteFile
// call, control bytes and longer runs one byte per call. Reads are served one byte at a time
// from a small receive buffer that one overlapped ReadFile refills with whatever is waiting (or
// that waits up to the read time-out for the first byte when nothing is). Under Wine one
// ReadFile or WriteFile costs more time than a byte takes on a 115200 bit/s line, so one call
// per byte could not keep up with the camera, and makes it wait for our requests.
//
// Wine's serial driver never completes an overlapped read with those time-outs when no byte
// arrives, so every wait here is bounded by the configured time-out plus a margin, after which
// the request is cancelled (CancelIo) and counted as a time-out. On Windows the driver's own
// time-out fires first and nothing changes.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "camera/byte_port.h"

struct LinkPort : public BytePort {
    HANDLE handle = INVALID_HANDLE_VALUE;  // INVALID_HANDLE_VALUE while closed
    OVERLAPPED writeOverlapped{};
    OVERLAPPED readOverlapped{};

    LinkPort() = default;
    ~LinkPort() override;
    LinkPort(const LinkPort&) = delete;
    LinkPort& operator=(const LinkPort&) = delete;

    bool isOpen() const override { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
    // True once a transfer on this handle failed with an I/O error rather than a time-out
    // (the device went away: a pty whose other end closed, an unplugged adapter). Only a
    // new open makes such a port usable again.
    bool broken() const override { return ioFailed; }

    // CreateFileA of "COM<number>" for overlapped read and write, unshared.
    bool open(uint8_t number) override;
    // For diagnostics: GetLastError of the latest open, or setting of the line, that failed;
    // 0 after an open that succeeded. (Wine opens a COM port mapped to a missing device and
    // fails its first setting.)
    DWORD openError = 0;
    // Event mask, 4096-byte queues and a purge of both directions.
    bool prepare() override;
    // Drops DTR, purges and closes the handle; the receive buffer is emptied. Safe when closed.
    void close() override;
    // Purges both directions of the driver and empties the receive buffer.
    bool purge() override;
    // Bytes in the receive buffer plus those in the driver's input queue.
    uint32_t bytesWaiting() override;

    // COMMTIMEOUTS: the read time-out is per byte (MAXDWORD, MAXDWORD, readMs).
    bool setTimeouts(uint32_t readMs, uint32_t writeMs) override;
    // Changes bit rate, byte size, parity, stop bits and flow control; keeps the rest of the DCB.
    // flowFlags: 2 = CTS output flow control, 4 = XON/XOFF both ways.
    bool configure(uint32_t bitRate, int byteSize, int parity, int stopBits, int flowFlags) override;

    // One byte each way. A time-out moves nothing and reports TimedOut.
    PortResult readByte(uint8_t& value) override;
    PortResult writeByte(uint8_t value) override;
    // Up to writeBlockCapacity bytes in one WriteFile; longer runs a byte per call.
    PortResult writeBytes(const uint8_t* bytes, size_t count) override;
    // GetTickCount, carried past its 49-day wrap.
    uint64_t nowMs() override {
        const DWORD tick = GetTickCount();
        if (tick < lastTick) tickWraps += uint64_t{1} << 32;
        lastTick = tick;
        return tickWraps | tick;
    }
    void waitMs(uint32_t ms) override { Sleep(ms); }

    static constexpr size_t writeBlockCapacity = 64;  // a stuffed request packet of the camera's commands

    // Counters for diagnostics and the benchmark: ReadFile and WriteFile calls made.
    uint32_t readCalls = 0;
    uint32_t writeCalls = 0;
    // Most bytes one ReadFile may ask for (1..4096). 1 reads one byte per call, the reference
    // the benchmark measures the buffered reads against.
    uint32_t readChunkLimit = 4096;

private:
    PortResult refill();
    PortResult writeBlock(const uint8_t* bytes, size_t count);
    // Waits for an overlapped request started on this port, at most limitMs (+ margin).
    PortResult finishOverlapped(OVERLAPPED& overlapped, DWORD limitMs, DWORD& moved);
    // ClearCommError; answers the number of bytes waiting in the driver's input queue.
    DWORD clearErrors();

    static constexpr size_t receiveCapacity = 4096;
    uint8_t received[receiveCapacity] = {};
    size_t receivedStart = 0;
    size_t receivedEnd = 0;
    uint8_t pendingWrite[writeBlockCapacity] = {};  // must stay valid until the request completes
    uint32_t lineBitRate = 9600;                     // as last configured
    DWORD readTimeout = 3000;   // as last given to SetCommTimeouts
    DWORD writeTimeout = 3000;
    bool timeoutsKnown = false;
    bool ioFailed = false;
    DWORD lastTick = 0;
    uint64_t tickWraps = 0;
};
