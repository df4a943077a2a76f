// CameraLink: construction, the port operations and the byte operations with the linkError latch.
#include "camera/camera_link.h"

#include "camera/framing.h"

CameraLink::CameraLink(int suppressed) : progressSuppressed(suppressed), buffers(new LinkBuffers) {}

CameraLink::~CameraLink() {
    ClosePort();
    delete buffers;
    buffers = nullptr;
    destroyWindow();
}

int CameraLink::OpenPort(uint8_t portNumber, uint32_t bitRate) {
    if (!linkPort.open(portNumber)) {
        linkPort.connected = 0;
        return 0;
    }
    readTimeoutMs = 3000;
    writeTimeoutMs = 3000;
    linkPort.prepare();
    SetTimeouts(0, 0);
    if (!ConfigurePort(bitRate, 8, NOPARITY, ONESTOPBIT, 2)) {
        ClosePort();
        return 0;
    }
    return 1;
}

int CameraLink::ClosePort() {
    linkPort.close();  // clears connected, keeps the port number
    return 1;
}

int CameraLink::SetTimeouts(DWORD readMs, DWORD writeMs) {
    return linkPort.setTimeouts(readMs ? readMs : readTimeoutMs, writeMs ? writeMs : writeTimeoutMs) ? 1 : 0;
}

int CameraLink::ConfigurePort(uint32_t bitRate, int byteSize, int parity, int stopBits, int flowFlags) {
    if (!linkPort.configure(bitRate, static_cast<BYTE>(byteSize), static_cast<BYTE>(parity),
                            static_cast<BYTE>(stopBits), flowFlags))
        return 0;
    // Every change of line setting is confirmed by one exchange with the camera.
    return GetIOCap(false);
}

// ---- byte operations: the latch makes a dead line fail fast instead of waiting per byte ----

int CameraLink::writeRaw(uint8_t value) {
    if (linkError) return 0;
    if (linkPort.writeByte(value) != PortResult::Ok) {
        linkError = 1;
        return 0;
    }
    return 1;
}

int CameraLink::writeStuffed(uint8_t value) {
    if (!framing::needsStuffing(value)) return writeRaw(value);
    return writeRaw(framing::ESC) && writeRaw(static_cast<uint8_t>(~value));
}

int CameraLink::readRaw(uint8_t& value) {
    if (linkError) return 0;
    if (linkPort.readByte(value) != PortResult::Ok) {
        linkError = 1;
        return 0;
    }
    return 1;
}

int CameraLink::readUnstuffed(uint8_t& value) {
    if (!readRaw(value)) return 0;
    if (value != framing::ESC) return 1;
    if (!readRaw(value)) return 0;
    value = static_cast<uint8_t>(~value);
    return 1;
}

int CameraLink::SendAck() {
    return writeRaw(framing::ACK);
}

int CameraLink::SendNak() {
    return writeStuffed(framing::NAK);
}

int CameraLink::SendEot() {
    return writeStuffed(framing::EOT);
}

int CameraLink::ReadControlByte(uint8_t& value) {
    return readUnstuffed(value);
}

int CameraLink::WaitAck() {
    // A camera that wants the line sends ENQ; while we wait for our ACK those are skipped. The
    // cap keeps a babbling line from holding us here forever.
    constexpr int maxSkippedEnquiries = 64;
    for (int skipped = 0; skipped <= maxSkippedEnquiries; ++skipped) {
        uint8_t value = 0;
        if (!ReadControlByte(value)) return 0;
        if (value == framing::ACK) return 1;
        if (value != framing::ENQ) return 0;
    }
    return 0;
}

int CameraLink::SendEnqWaitAck() {
    ++enquiriesSent;
    return writeStuffed(framing::ENQ) && WaitAck();
}
