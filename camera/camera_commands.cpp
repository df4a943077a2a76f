// LinkCore: the camera's command set. Each command is one exchange: our request, for the
// picture commands a data message, and the camera's status message, whose result word (bytes
// 2-3) must be 0. A status message shorter than its result word counts as a failure. A command
// the link's hold shuts out fails before it touches anything: port, buffers, state or observer.
#include <cstring>

#include "camera/link_core.h"

namespace {

constexpr uint16_t CodeSetIO = 0x9080;
constexpr uint16_t CodeGetIOCap = 0x9000;
constexpr uint16_t CodeGetStat = 0x9020;
constexpr uint16_t CodeSetDate = 0x90B0;
constexpr uint16_t CodeGetImgInfo = 0x8820;
constexpr uint16_t CodeGetThumb = 0x8800;
constexpr uint16_t CodeGetJpeg = 0x8810;
constexpr uint16_t CodeCancel = 0x9E00;

// Picture requests carry a constant word 2 before their parameter.
constexpr uint16_t pictureRequestWord = 2;
// Offsets into the status records.
constexpr uint32_t clockOffset = 16;
constexpr uint32_t clockBytes = 6;
constexpr uint32_t handleOffset = 4;

uint16_t readWord(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

void putWord(uint8_t* bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value & 0xFF);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

// Code, a zero word, and up to three parameter words.
struct Request {
    uint8_t bytes[10] = {};
    uint16_t length = 4;
    explicit Request(uint16_t code) { putWord(bytes, code); }
    void add(uint16_t word) {
        putWord(bytes + length, word);
        length = static_cast<uint16_t>(length + 2);
    }
};

}  // namespace

uint16_t bitRateCode(uint32_t bitRate) {
    // Ten rows, code = 1 << row; only the rows from 9600 up are searched.
    static const uint32_t rates[10] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    for (int row = 5; row < 10; ++row)
        if (rates[row] == bitRate) return static_cast<uint16_t>(1u << row);
    return 1u << 5;
}

uint16_t EncodeLineSettings(int parity, int stopBits, int byteSize, int flowFlags) {
    uint16_t word = 0;
    if (byteSize != 7) word |= 0x01;
    if (stopBits == lineTwoStopBits) word |= 0x02;
    if (parity != lineParityNone) word |= 0x04;
    if (parity == lineParityOdd) word |= 0x08;
    if (flowFlags == 2) word |= 0x10;
    return word;
}

bool StatusRecord::parse(const uint8_t* bytes, uint32_t count, StatusRecord& out) {
    if (!bytes || count < minimumLength) return false;
    out.resultCode = readWord(bytes + 2);
    out.powerA = bytes[6];
    out.powerB = bytes[7];
    out.flags = bytes[8];
    out.picturesTaken = readWord(bytes + 12);
    out.year = bytes[16];
    out.month = bytes[17];
    out.day = bytes[18];
    out.hour = bytes[19];
    out.minute = bytes[20];
    out.second = bytes[21];
    return true;
}

int LinkCore::lastResultCode() const {
    uint16_t code = 0;
    return statusWord(2, code) ? code : -1;
}

bool LinkCore::statusWord(uint32_t offset, uint16_t& value) const {
    const LinkBuffer& status = buffers->statusMessage;
    if (!status.data || offset > status.count || status.count - offset < 2) return false;
    value = readWord(status.data + offset);
    return true;
}

bool LinkCore::statusRecord(StatusRecord& out) const {
    return StatusRecord::parse(buffers->statusRecord.data, buffers->statusRecord.count, out);
}

bool LinkCore::setStatusClock(uint8_t year, uint8_t month, uint8_t day, uint8_t hour, uint8_t minute,
                                uint8_t second) {
    LinkBuffer& record = buffers->statusRecord;
    if (!record.data || record.count < clockOffset + clockBytes) return false;
    const uint8_t clock[clockBytes] = {year, month, day, hour, minute, second};
    std::memcpy(record.data + clockOffset, clock, clockBytes);
    return true;
}

bool LinkCore::statusSucceeded() const {
    return lastResultCode() == ResultOk;
}

int LinkCore::runCommand(const uint8_t* request, uint16_t length, uint16_t statusLength, bool singleEnquiry,
                           LinkBuffer* data, uint32_t expectedData) {
    if (!Transact(request, length, statusLength, singleEnquiry, data, data != nullptr, expectedData)) return 0;
    return statusSucceeded() ? 1 : 0;
}

int LinkCore::SetIO(uint8_t portNumber, uint32_t bitRate, int parity, int stopBits, int byteSize, int flowFlags,
                      bool dump) {
    if (shutOut()) return 0;
    if (portNumber < 1 || portNumber > 4 || bitRate == 0) {
        line.connected = 0;
        return 0;
    }
    // A port whose device went away is reopened too: its handle can never work again.
    if (line.portNumber != portNumber || !line.connected || !line.isOpen() || line.broken()) {
        ClosePort();
        if (!OpenPort(portNumber, bitRate)) return 0;
    }
    Request request(CodeSetIO);
    request.add(bitRateCode(bitRate));
    request.add(EncodeLineSettings(parity, stopBits, byteSize, flowFlags));
    // The camera answers at its old rate and switches afterwards; our port follows.
    if (!runCommand(request.bytes, request.length, 13, false, nullptr) ||
        !ConfigurePort(bitRate, byteSize, parity, stopBits, flowFlags)) {
        line.connected = 0;
        return 0;
    }
    if (!GetStat(0, false)) return 0;
    if (dump) WriteDump("SetIO.dat", buffers->statusMessage.data, buffers->statusMessage.count);
    line.portNumber = portNumber;
    line.connected = 1;
    return 1;
}

int LinkCore::GetIOCap(bool dump) {
    if (shutOut()) return 0;
    Request request(CodeGetIOCap);
    if (!runCommand(request.bytes, request.length, 13, false, nullptr)) {
        line.connected = 0;
        return 0;
    }
    if (dump) WriteDump("GetIOCap.dat", buffers->statusMessage.data, buffers->statusMessage.count);
    return 1;
}

int LinkCore::GetStat(uint16_t parameter, bool dump) {
    if (shutOut()) return 0;
    Request request(CodeGetStat);
    request.add(parameter);
    const LinkBuffer& status = buffers->statusMessage;
    // A reply too short to hold the clock would leave the dialogs reading past it.
    if (!runCommand(request.bytes, request.length, 39, false, nullptr) || status.count < StatusRecord::minimumLength ||
        !LinkBuffers::replace(buffers->statusRecord, status.count)) {
        line.connected = 0;
        return 0;
    }
    std::memcpy(buffers->statusRecord.data, status.data, status.count);
    if (dump) WriteDump("GetStat.dat", status.data, status.count);
    return 1;
}

int LinkCore::SetDate(bool dump) {
    if (shutOut()) return 0;
    const LinkBuffer& record = buffers->statusRecord;
    if (!record.data || record.count < clockOffset + clockBytes) {
        line.connected = 0;
        return 0;
    }
    Request request(CodeSetDate);
    std::memcpy(request.bytes + request.length, record.data + clockOffset, clockBytes);
    request.length = static_cast<uint16_t>(request.length + clockBytes);
    if (!runCommand(request.bytes, request.length, 9, false, nullptr)) {
        line.connected = 0;
        return 0;
    }
    if (dump) WriteDump("SetDate.dat", buffers->statusMessage.data, buffers->statusMessage.count);
    return 1;
}

// Failures of the picture commands keep the connection: the camera refused, or the line
// failed and the caller's next SetIO finds out (reopening the port if its device went away).
void LinkCore::pictureCommandFailed(LinkBuffer& data) {
    LinkBuffers::release(data);
}

int LinkCore::GetImgInfo(uint16_t number, uint16_t* pictureHandle, bool dump) {
    if (shutOut()) return 0;
    LinkBuffer& data = buffers->imageInfo;
    if (!LinkBuffers::replace(data, 70)) return 0;
    Request request(CodeGetImgInfo);
    request.add(pictureRequestWord);
    request.add(number);
    uint16_t handle = 0;
    if (!runCommand(request.bytes, request.length, 15, false, &data) || !statusWord(handleOffset, handle)) {
        pictureCommandFailed(data);
        return 0;
    }
    if (pictureHandle) *pictureHandle = handle;
    if (dump) {
        WriteDump("ImgInfo.inf", data.data, data.count);
        WriteDump("ImgInfo.dat", buffers->statusMessage.data, buffers->statusMessage.count);
    }
    return 1;
}

int LinkCore::GetThumb(uint16_t pictureHandle, bool dump) {
    if (shutOut()) return 0;
    LinkBuffer& data = buffers->thumbnail;
    if (!LinkBuffers::replace(data, 30)) return 0;
    Request request(CodeGetThumb);
    request.add(pictureRequestWord);
    request.add(pictureHandle);
    if (!runCommand(request.bytes, request.length, 9, false, &data)) {
        pictureCommandFailed(data);
        return 0;
    }
    if (dump) {
        WriteDump("Thumb.jpg", data.data, data.count);
        WriteDump("Thumb.dat", buffers->statusMessage.data, buffers->statusMessage.count);
    }
    return 1;
}

int LinkCore::GetJpeg(uint16_t pictureHandle, uint32_t expectedSize, bool dump) {
    if (shutOut()) return 0;
    Request request(CodeGetJpeg);
    request.add(pictureRequestWord);
    request.add(pictureHandle);
    // Only a click during this download may cancel it: not one left from an earlier one.
    cancelRequested = 0;
    downloadCancelled = 0;
    const int savedSuppressed = progressSuppressed;
    progressTotal = expectedSize;
    progressSuppressed = 0;
    downloading_ = true;
    observer().downloadBegins();
    LinkBuffer& data = buffers->jpeg;
    bool ok = LinkBuffers::replace(data, 10000);
    if (ok) ok = runCommand(request.bytes, request.length, 9, false, &data, expectedSize) != 0;
    downloading_ = false;
    if (ok) observer().progressStep(100);
    observer().downloadEnds(ok);
    if (!ok) {
        pictureCommandFailed(data);
    } else if (dump) {
        WriteDump("Jpeg.jpg", data.data, data.count);
        WriteDump("Jpeg.dat", buffers->statusMessage.data, buffers->statusMessage.count);
    }
    progressSuppressed = savedSuppressed;
    progressTotal = 0;
    // A click that came too late to stop this download (while its status arrived, or at its
    // last step) is no request for the next exchange, which may be any command.
    downloadCancelled = cancelAccepted_ ? 1 : 0;
    cancelRequested = 0;
    return ok ? 1 : 0;
}

int LinkCore::CancelTransfer(bool dump) {
    if (shutOut()) return 0;
    cancelInProgress = 1;
    Request request(CodeCancel);
    const int accepted = runCommand(request.bytes, request.length, 11, true, nullptr);
    cancelInProgress = 0;
    if (accepted && dump) WriteDump("Cancel.dat", buffers->statusMessage.data, buffers->statusMessage.count);
    return accepted;
}
