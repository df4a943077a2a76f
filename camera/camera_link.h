// CameraLink: the connection to the camera on COM1..COM4 and, in the same object, the transfer
// progress window (dialog IDD_PROGRESS), so that the receive loop can step the bar and notice a
// click on Cancel between packets.
//
// The protocol is half duplex: every exchange is a request message from us (ENQ/ACK handshake,
// one framed packet, ACK, EOT), an optional data message from the camera and its status
// message (each block: ENQ/ACK, packet, ACK, EOT). Packets are stuffed and checksummed as in
// camera/framing.h. Everything runs on the caller's thread; an exchange blocks it, but every
// wait is bounded by the link's time-outs.
//
// Errors: operations return non-zero for success and 0 for failure. A failed or timed-out byte
// transfer latches linkError; while it is set every byte operation fails at once. Callers of
// the commands read and clear it: set = the line failed, clear = the camera refused.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "camera/link_buffers.h"
#include "camera/link_port.h"
#include "ui/dialog_window.h"

// The camera's reply to GetStat, decoded.
struct StatusRecord {
    uint16_t resultCode = 0;
    uint8_t powerA = 0;
    uint8_t powerB = 0;       // 2 = low battery
    uint8_t flags = 0;        // bit value 1 = memory card present
    uint16_t picturesTaken = 0;
    uint8_t year = 0;         // modulo 100: 96..99 = 1996..1999, 0..95 = 2000..2095
    uint8_t month = 0;
    uint8_t day = 0;
    uint8_t hour = 0;
    uint8_t minute = 0;
    uint8_t second = 0;

    static constexpr uint32_t minimumLength = 22;
    bool cardPresent() const { return (flags & 1) != 0; }
    // Sum A + B, the index of the power text (0..4 are meaningful).
    int powerIndex() const { return powerA + powerB; }
    // False when fewer than minimumLength bytes are given.
    static bool parse(const uint8_t* bytes, uint32_t count, StatusRecord& out);
};

// Result codes the callers tell apart.
constexpr int ResultOk = 0x0000;
constexpr int ResultNoPicture = 0x0810;     // GetImgInfo: no picture under this number
constexpr int ResultNoThumbnail = 0x0811;   // GetThumb: the picture has no thumbnail
constexpr int ResultBusy = 0x0C02;          // SetIO and its exchanges: camera busy

// Bit-rate code sent by SetIO: rows 9600..115200 only; anything else gives the 9600 code.
uint16_t bitRateCode(uint32_t bitRate);
// Line-settings word of SetIO from DCB-style byte size, parity, stop bits and flow flags.
uint16_t EncodeLineSettings(int parity, int stopBits, int byteSize, int flowFlags);

class CameraLink : public DialogWindow {
public:
    explicit CameraLink(int progressSuppressed);
    ~CameraLink() override;

    // ---- state (public: the dialogs read and clear the flags) ----
    int linkError = 0;           // latched line failure; see above
    int progressSuppressed = 0;  // while non-zero the progress window is neither started nor stepped
    int cancelRequested = 0;     // set by a click on the progress window's Cancel
    int cancelInProgress = 0;    // set while CancelTransfer runs, so the receiver does not nest one
    LinkPort linkPort;
    LinkPort* port = &linkPort;
    LinkBuffers* buffers = nullptr;
    uint32_t progressTotal = 0;  // expected bytes of the running download; 0 = no progress
    RECT cancelRect{};           // Cancel button in the progress window's client coordinates
    DWORD readTimeoutMs = 3000;
    DWORD writeTimeoutMs = 3000;

    // ---- progress window ----
    // Creates the window modeless and hidden, owned by parent (may be null). Null on failure.
    HWND createWindow(HWND parent);
    int startProgress(int low, int high, int step);
    int stepProgress(int position);
    void showProgress();
    void hideProgress();

    // ---- camera commands: 1 on success, 0 on failure; dump writes debug files when true ----
    int SetIO(uint8_t portNumber, uint32_t bitRate, int parity, int stopBits, int byteSize, int flowFlags,
              bool dump);
    int GetIOCap(bool dump);
    int GetStat(uint16_t parameter, bool dump);
    int SetDate(bool dump);
    int GetImgInfo(uint16_t number, uint16_t* pictureHandle, bool dump);
    int GetThumb(uint16_t pictureHandle, bool dump);
    int GetJpeg(uint16_t pictureHandle, uint32_t expectedSize, bool dump);
    int CancelTransfer(bool dump);
    // Writes one debug file in the current directory; reports nothing.
    static void WriteDump(const char* fileName, const uint8_t* bytes, uint32_t count);

    // ---- helpers for the dialogs ----
    bool isConnected() const { return linkPort.connected != 0; }
    // Result word (bytes 2-3) of the latest status message; -1 when it was shorter than 4 bytes.
    int lastResultCode() const;
    // Little-endian word at offset of the latest status message; false when it is too short.
    bool statusWord(uint32_t offset, uint16_t& value) const;
    // The held status record decoded: the latest successful GetStat reply (all zero before the
    // first one). False only when the record is too short to hold the clock.
    bool statusRecord(StatusRecord& out) const;
    // Writes a new camera clock into the held status record; SetDate then sends it.
    bool setStatusClock(uint8_t year, uint8_t month, uint8_t day, uint8_t hour, uint8_t minute, uint8_t second);

    // ---- the link layer (used by the commands, the diagnostic tool and the tests) ----
    int OpenPort(uint8_t portNumber, uint32_t bitRate);
    int ClosePort();
    int SetTimeouts(DWORD readMs, DWORD writeMs);
    int ConfigurePort(uint32_t bitRate, int byteSize, int parity, int stopBits, int flowFlags);
    int Transact(const uint8_t* request, uint16_t requestLength, uint16_t statusLength, bool singleEnquiry,
                 LinkBuffer* data, bool hasData);
    int SendRequest(const uint8_t* bytes, uint32_t length, bool singleEnquiry);
    int SendPacket(const uint8_t* bytes, uint32_t length, bool more);
    int ReceiveMessage(LinkBuffer& buffer);

    // Single control bytes.
    int SendEnqWaitAck();
    int SendAck();
    int SendNak();
    int SendEot();
    int ReadControlByte(uint8_t& value);
    int WaitAck();

    // Counters of the latest ReceiveMessage calls, for tests and diagnostics.
    struct ReceiveStats {
        uint32_t blocks = 0;          // blocks accepted
        uint32_t naks = 0;            // NAKs sent for rejected receptions
        uint32_t repeats = 0;         // blocks repeated after our ACK
        uint32_t extraEnquiries = 0;  // second ENQ before a packet start
    };
    ReceiveStats receiveStats;
    uint32_t enquiriesSent = 0;  // ENQ bytes of requests since construction

protected:
    BOOL onInitDialog() override;
    void onCancel() override {}  // Escape or a click on Cancel never ends the window

private:
    // Byte operations with the linkError latch.
    int writeRaw(uint8_t value);
    int writeStuffed(uint8_t value);
    int readRaw(uint8_t& value);
    int readUnstuffed(uint8_t& value);
    // One packet of a block, read after its handshake; see ReceiveMessage.
    int receiveBlock(LinkBuffer& buffer, bool appending, uint8_t& terminator);
    int readPacketBody(LinkBuffer& buffer, uint32_t base, bool appending, uint8_t& terminator, bool& good);
    int afterAcceptedPacket(uint32_t received);
    // Runs a command's exchange and checks its status; see camera_commands.cpp.
    int runCommand(const uint8_t* request, uint16_t length, uint16_t statusLength, bool singleEnquiry,
                   LinkBuffer* data);
    bool statusSucceeded() const;
    void pictureCommandFailed(LinkBuffer& data);
};
