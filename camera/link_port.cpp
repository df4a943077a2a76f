#include "camera/link_port.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

// Extra time granted beyond a configured time-out before we give up on the driver ourselves.
// Windows completes the request on its own first; Wine's serial driver never does (see header).
constexpr DWORD waitMarginMs = 50;
// After CancelIo the request must still complete before its buffer may be reused.
constexpr DWORD cancelGraceMs = 1000;

void resetOverlapped(OVERLAPPED& overlapped) {
    HANDLE event = overlapped.hEvent;
    overlapped = OVERLAPPED{};
    overlapped.hEvent = event;
}

}  // namespace

LinkPort::~LinkPort() {
    close();
}

bool LinkPort::open(uint8_t number) {
    close();
    char name[16];
    std::snprintf(name, sizeof name, "%s%d", "COM", number);
    handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    openError = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (handle == INVALID_HANDLE_VALUE) return false;
    // Each direction waits on its own manual-reset event, so a wait can be bounded (see header).
    readOverlapped = OVERLAPPED{};
    writeOverlapped = OVERLAPPED{};
    readOverlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    writeOverlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!readOverlapped.hEvent || !writeOverlapped.hEvent) {
        close();
        return false;
    }
    receivedStart = receivedEnd = 0;
    timeoutsKnown = false;
    ioFailed = false;
    return true;
}

bool LinkPort::prepare() {
    if (!isOpen()) return false;
    bool ok = SetCommMask(handle, EV_RXCHAR) != 0;
    ok = SetupComm(handle, 4096, 4096) && ok;
    ok = purge() && ok;
    return ok;
}

void LinkPort::close() {
    if (isOpen()) {
        SetCommMask(handle, 0);
        EscapeCommFunction(handle, CLRDTR);
        PurgeComm(handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
        CloseHandle(handle);
    }
    handle = INVALID_HANDLE_VALUE;
    connected = 0;
    for (OVERLAPPED* overlapped : {&readOverlapped, &writeOverlapped}) {
        if (overlapped->hEvent) CloseHandle(overlapped->hEvent);
        *overlapped = OVERLAPPED{};
    }
    receivedStart = receivedEnd = 0;
    timeoutsKnown = false;
    ioFailed = false;
}

bool LinkPort::purge() {
    receivedStart = receivedEnd = 0;
    if (!isOpen()) return false;
    return PurgeComm(handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) != 0;
}

uint32_t LinkPort::bytesWaiting() {
    const uint32_t held = static_cast<uint32_t>(receivedEnd - receivedStart);
    if (!isOpen()) return held;
    return held + clearErrors();
}

bool LinkPort::setTimeouts(uint32_t readMs, uint32_t writeMs) {
    if (!isOpen()) return false;
    // Skip the call when nothing changes: every request switches to the short enquiry
    // time-out and back, and each call is a round trip to the driver.
    if (timeoutsKnown && readMs == readTimeout && writeMs == writeTimeout) return true;
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = readMs;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = writeMs;
    if (!SetCommTimeouts(handle, &timeouts)) {
        timeoutsKnown = false;
        return false;
    }
    readTimeout = readMs;
    writeTimeout = writeMs;
    timeoutsKnown = true;
    return true;
}

bool LinkPort::configure(uint32_t bitRate, int byteSize, int parity, int stopBits, int flowFlags) {
    if (!isOpen()) return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb)) {
        // Wine cannot read back a line speed that was set on the device as an arbitrary rate
        // (termios2 BOTHER) and fails here. Every field that matters is set below, so start
        // from a clean record instead of giving up on the port.
        dcb = DCB{};
        dcb.DCBlength = sizeof dcb;
    }
    lineBitRate = bitRate;
    dcb.BaudRate = bitRate;
    dcb.ByteSize = static_cast<BYTE>(byteSize);
    dcb.Parity = static_cast<BYTE>(parity);
    dcb.StopBits = static_cast<BYTE>(stopBits);
    dcb.fBinary = 1;
    dcb.fParity = parity != 0 ? 1 : 0;
    dcb.fOutxCtsFlow = (flowFlags & 2) ? 1 : 0;
    dcb.fInX = dcb.fOutX = (flowFlags & 4) ? 1 : 0;
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = 100;
    dcb.XoffLim = 100;
    if (SetCommState(handle, &dcb)) return true;
    openError = GetLastError();
    return false;
}

DWORD LinkPort::clearErrors() {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle, &errors, &status)) return 0;
    return status.cbInQue;
}

PortResult LinkPort::finishOverlapped(OVERLAPPED& overlapped, DWORD limitMs, DWORD& moved) {
    moved = 0;
    const DWORD limit = limitMs > MAXDWORD - waitMarginMs ? MAXDWORD - 1 : limitMs + waitMarginMs;
    if (WaitForSingleObject(overlapped.hEvent, limit) != WAIT_OBJECT_0) {
        // The driver did not finish in time (Wine's serial reads never do when no byte comes):
        // cancel, then collect the request so that its buffer is ours again. Bytes that arrived
        // in the meantime still count.
        CancelIo(handle);
        if (WaitForSingleObject(overlapped.hEvent, cancelGraceMs) != WAIT_OBJECT_0) {
            // The driver still owns the request and its buffer: only closing the handle takes
            // them back. The next SetIO opens the port again.
            close();
            return PortResult::Failed;
        }
    }
    if (GetOverlappedResult(handle, &overlapped, &moved, FALSE)) return moved ? PortResult::Ok : PortResult::TimedOut;
    const DWORD error = GetLastError();
    // Wine reports a read time-out as ERROR_TIMEOUT, and a cancelled request as aborted; what
    // the cancelled request had moved by then is valid.
    if (error == ERROR_TIMEOUT || error == ERROR_OPERATION_ABORTED) return moved ? PortResult::Ok : PortResult::TimedOut;
    moved = 0;
    clearErrors();
    return PortResult::Failed;
}

PortResult LinkPort::refill() {
    receivedStart = receivedEnd = 0;
    if (!isOpen()) return PortResult::Failed;
    // Ask for exactly what is waiting, or for one byte when nothing is: Wine's driver waits for
    // the whole count of a larger read even with these time-outs, whereas a read of what is
    // queued returns at once and a one-byte read returns with the first byte that comes.
    const DWORD waiting = clearErrors();
    DWORD wanted = waiting == 0 ? 1 : waiting > sizeof received ? sizeof received : waiting;
    if (readChunkLimit >= 1 && wanted > readChunkLimit) wanted = readChunkLimit;
    resetOverlapped(readOverlapped);
    ++readCalls;
    DWORD moved = 0;
    PortResult result;
    if (ReadFile(handle, received, wanted, nullptr, &readOverlapped)) {
        result = GetOverlappedResult(handle, &readOverlapped, &moved, FALSE) ? PortResult::Ok : PortResult::Failed;
    } else {
        const DWORD error = GetLastError();
        if (error == ERROR_IO_PENDING) {
            result = finishOverlapped(readOverlapped, readTimeout, moved);
        } else if (error == ERROR_TIMEOUT) {
            result = PortResult::TimedOut;
        } else {
            clearErrors();
            result = PortResult::Failed;
        }
    }
    if (result != PortResult::Ok) return result;
    if (moved == 0) return PortResult::TimedOut;
    receivedEnd = moved > wanted ? wanted : moved;
    return PortResult::Ok;
}

PortResult LinkPort::readByte(uint8_t& value) {
    if (receivedStart == receivedEnd) {
        const PortResult result = refill();
        if (result == PortResult::Failed) ioFailed = true;
        if (result != PortResult::Ok) return result;
    }
    value = received[receivedStart++];
    return PortResult::Ok;
}

PortResult LinkPort::writeByte(uint8_t value) {
    return writeBytes(&value, 1);
}

PortResult LinkPort::writeBytes(const uint8_t* bytes, size_t count) {
    if (count > writeBlockCapacity) return BytePort::writeBytes(bytes, count);
    if (count == 0) return PortResult::Ok;
    const PortResult result = writeBlock(bytes, count);
    if (result == PortResult::Failed) ioFailed = true;
    return result;
}

PortResult LinkPort::writeBlock(const uint8_t* bytes, size_t count) {
    if (!isOpen()) return PortResult::Failed;
    clearErrors();
    resetOverlapped(writeOverlapped);
    std::memcpy(pendingWrite, bytes, count);
    ++writeCalls;
    const DWORD wanted = static_cast<DWORD>(count);
    DWORD moved = 0;
    if (WriteFile(handle, pendingWrite, wanted, nullptr, &writeOverlapped)) {
        if (!GetOverlappedResult(handle, &writeOverlapped, &moved, FALSE)) return PortResult::Failed;
        return moved == wanted ? PortResult::Ok : PortResult::TimedOut;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_TIMEOUT) return PortResult::TimedOut;
    if (error != ERROR_IO_PENDING) {
        clearErrors();
        return PortResult::Failed;
    }
    // The bytes' own time on the line comes on top of the time-out (10 bits a byte).
    const DWORD lineMs = static_cast<DWORD>(count * 10000u / (lineBitRate ? lineBitRate : 9600u)) + 1;
    const PortResult result = finishOverlapped(writeOverlapped, writeTimeout + lineMs, moved);
    if (result != PortResult::Ok) return result;
    return moved == wanted ? PortResult::Ok : PortResult::TimedOut;
}
