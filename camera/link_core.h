// LinkCore: the camera's line protocol and command set in plain C++, over an abstract byte port
// and an abstract progress observer. CameraLink (camera_link.h) puts it behind the Win32 serial
// port and the progress window; the host tests and the fuzz target put it behind a script.
//
// The protocol is half duplex: every exchange is a request message from us (ENQ/ACK handshake,
// one framed packet, ACK, EOT), an optional data message from the camera and its status
// message (each block: ENQ/ACK, packet, ACK, EOT). Packets are stuffed and checksummed as in
// camera/framing.h. Every wait is bounded by the port's time-outs, every retry and every
// skipped byte by a cap, so an exchange ends whatever the camera sends.
//
// Errors: operations return non-zero for success and 0 for failure. A failed or timed-out byte
// transfer latches linkError; while it is set every byte operation fails at once without
// touching the port. Callers of the commands read and clear it (takeLinkError): set = the line
// failed, clear = the camera refused (or sent something that cannot be a reply).
//
// The hold: a listing reads the camera on a thread of its own. While a LinkHold is taken, a
// command from anywhere but inside the holder's LinkHold::Use fails at once, with nothing sent
// and nothing touched, and takeLinkError() answers LinkErrorHeld: no caller has to look first.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

#include "camera/byte_port.h"
#include "camera/link_buffers.h"

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

// What takeLinkError() reports.
constexpr int LinkErrorLine = 1;  // a byte transfer failed or timed out (the latch)
constexpr int LinkErrorHeld = 2;  // refused by another's hold: nothing was sent

// Bit-rate code sent by SetIO: rows 9600..115200 only; anything else gives the 9600 code.
uint16_t bitRateCode(uint32_t bitRate);
// Line-settings word of SetIO from byte size, parity, stop bits (line* codes) and flow flags.
uint16_t EncodeLineSettings(int parity, int stopBits, int byteSize, int flowFlags);

// What the link tells its owner during a download. The default does nothing.
class LinkObserver {
public:
    virtual ~LinkObserver() = default;
    // A download begins (GetJpeg): show the progress.
    virtual void downloadBegins() {}
    // After each accepted packet of a download (and once at 100 when it succeeded). May set
    // the core's cancelRequested. False fails the message.
    virtual bool progressStep(int percent) { (void)percent; return true; }
    // The download ended; the progress may go (it is hidden by the observer on failure).
    virtual void downloadEnds(bool succeeded) { (void)succeeded; }
};

class LinkCore {
public:
    LinkCore(BytePort& port, LinkObserver* observer);
    virtual ~LinkCore();
    LinkCore(const LinkCore&) = delete;
    LinkCore& operator=(const LinkCore&) = delete;

    // ---- state (public: the dialogs read and clear the flags) ----
    int linkError = 0;           // latched line failure; see above
    int progressSuppressed = 0;  // while non-zero the observer's progress is not shown
    int cancelRequested = 0;     // set by the observer when the user asks to stop a download
    int cancelInProgress = 0;    // set while CancelTransfer runs, so the receiver does not nest one
    int downloadCancelled = 0;   // the latest GetJpeg ended because the camera accepted a Cancel
    // Set from another thread to end the exchange running on this one: from then on every byte
    // transfer fails (latching linkError) without touching the port, until it is cleared.
    std::atomic<bool> abandonTransfers{false};
    LinkBuffers* buffers = nullptr;
    uint32_t progressTotal = 0;  // expected bytes of the running download; 0 = no progress
    uint32_t readTimeoutMs = 3000;
    uint32_t writeTimeoutMs = 3000;

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
    bool isConnected() const { return line.connected != 0; }
    // The latched error, cleared; LinkErrorHeld for a caller the hold shuts out (the latch is
    // then the holder's and stays).
    int takeLinkError();
    // Result word (bytes 2-3) of the status message of the latest exchange; -1 when no status
    // of at least 4 bytes arrived in that exchange.
    int lastResultCode() const;
    // Little-endian word at offset of the latest status message; false when it is too short.
    bool statusWord(uint32_t offset, uint16_t& value) const;
    // The held status record decoded: the latest successful GetStat reply (all zero before the
    // first one). False only when the record is too short to hold the clock.
    bool statusRecord(StatusRecord& out) const;
    // Drops what arrived and was not read (the rest of a message we gave up on); returns how
    // many bytes that was.
    uint32_t dropArrivals();
    // Writes a new camera clock into the held status record; SetDate then sends it.
    bool setStatusClock(uint8_t year, uint8_t month, uint8_t day, uint8_t hour, uint8_t minute, uint8_t second);

    // ---- the link layer (used by the commands, the diagnostic tool and the tests) ----
    int OpenPort(uint8_t portNumber, uint32_t bitRate);
    int ClosePort();
    int SetTimeouts(uint32_t readMs, uint32_t writeMs);
    int ConfigurePort(uint32_t bitRate, int byteSize, int parity, int stopBits, int flowFlags);
    // expectedData: the bytes the data message should carry, for its bound (see below).
    int Transact(const uint8_t* request, uint16_t requestLength, uint16_t statusLength, bool singleEnquiry,
                 LinkBuffer* data, bool hasData, uint32_t expectedData = largestBlockBytes);
    int SendRequest(const uint8_t* bytes, uint32_t length, bool singleEnquiry);
    int SendPacket(const uint8_t* bytes, uint32_t length, bool more);
    int ReceiveMessage(LinkBuffer& buffer, uint32_t expectedBytes = largestStatusBytes);

    // Single control bytes.
    int SendEnqWaitAck();
    int SendAck();
    int SendNak();
    int SendEot();
    int ReadControlByte(uint8_t& value);
    int WaitAck();

    // Counters of the latest exchange's receptions, for tests and diagnostics.
    struct ReceiveStats {
        uint32_t blocks = 0;          // blocks accepted
        uint32_t naks = 0;            // NAKs sent for rejected receptions
        uint32_t repeats = 0;         // blocks repeated after our ACK
        uint32_t extraEnquiries = 0;  // second ENQ before a packet start
        uint32_t skippedBytes = 0;    // bytes skipped while looking for a packet's start
        uint32_t timedOutPackets = 0; // packets that stopped short and were NAKed
        uint32_t pastBound = 0;       // messages given up at their bound
    };
    ReceiveStats receiveStats;
    uint32_t enquiriesSent = 0;  // ENQ bytes of requests since construction
    uint32_t resendsSent = 0;    // request packets sent again after a refusal, since construction
    uint32_t purges = 0;         // leftover bytes found and dropped before a request

    // Caps the receiver keeps to, whatever the line sends.
    static constexpr int maxSkippedEnquiries = 64;
    static constexpr uint32_t maxSkippedBytes = 4096;
    static constexpr uint64_t maxMessageBytes = 64u * 1024u * 1024u;
    // No camera message comes near the cap; a longer one is refused rather than grown without
    // end. Lowered only by tests.
    uint64_t messageCapBytes = maxMessageBytes;

    // The bound of one received message, from what it should carry: it must end within
    // messageAllowanceMs of its start and in at most messageBlockLimit blocks, or it fails as a
    // line failure. The per-byte time-out catches only silence; this catches a camera that
    // keeps the line busy without ever finishing (empty blocks, a byte now and then, noise).
    // A picture should carry the size the camera reported; a status, an information block or
    // a thumbnail at most the largest one that is legal.
    static constexpr uint32_t largestStatusBytes = 256;
    static constexpr uint32_t largestBlockBytes = 66u * 1024u;  // an EXIF segment with the file's start
    static constexpr uint32_t boundFixedMs = 15000;
    // One and a half times the line time of expectedBytes (10 bits a byte) plus boundFixedMs.
    static uint64_t messageAllowanceMs(uint32_t expectedBytes, uint32_t bitRate);
    // Only an empty message needs a block that carries nothing; a quarter and 16 more for a
    // picture somewhat larger than its reported size.
    static uint32_t messageBlockLimit(uint32_t expectedBytes);
    uint32_t lineBitRate = 9600;  // as last configured

    // ---- settling the line after an exchange was cut off ----
    // A camera cut off in the middle of a message may go on sending for a while and then waits
    // for an answer before it gives up. After an exchange abandoned from another thread or
    // given up at its bound, what arrives is dropped until nothing came for settleQuietMs
    // (longer than the camera waits), or for settleLimitMs whatever the line does. The next
    // request waits for that itself; a caller that must keep its messages going polls
    // lineSettled() first.
    static constexpr uint32_t settleQuietMs = 6000;
    static constexpr uint32_t settleLimitMs = 30000;
    bool settling() const { return settling_; }
    // Drops what arrived; true once the line has settled (and no longer settling). Never waits.
    bool lineSettled();

protected:
    BytePort& line;

private:
    friend class LinkHold;
    std::atomic<const void*> holder_{nullptr};
    std::atomic<std::thread::id> holderThread_{};  // inside the holder's Use; none otherwise
    // A hold is taken and the calling thread is not inside its Use.
    bool shutOut() const;

    LinkObserver* observer_;
    LinkObserver silentObserver_;
    bool downloading_ = false;     // a GetJpeg runs: the only exchange a Cancel may stop
    bool cancelAccepted_ = false;  // the camera accepted the Cancel of the running download
    // The bound of the message being received (none between messages).
    bool bounded_ = false;
    bool pastBound_ = false;
    uint64_t deadline_ = 0;
    bool settling_ = false;
    uint64_t settleStartedAt_ = 0;
    uint64_t lastArrivalAt_ = 0;

    // Byte operations with the linkError latch.
    int writeRaw(uint8_t value);
    int writeRawBlock(const uint8_t* bytes, size_t count);  // as they stand, in one piece
    int writeStuffed(uint8_t value);
    int readRaw(uint8_t& value);
    int readUnstuffed(uint8_t& value);
    // One block of a message, read after the block's ENQ; see link_core.cpp.
    int receiveBlock(LinkBuffer& buffer, bool appending, uint8_t& terminator);
    int findPacketStart();
    int readPacketBody(LinkBuffer& buffer, uint32_t base, bool appending, uint8_t& terminator, bool& good,
                       bool& cutShort);
    int afterAcceptedPacket(uint32_t received);
    void dropLeftovers();
    // The exchange is cut off (abandoned, or past its bound): the line failed, and settles.
    void cutOff();
    void settleBeforeRequest();
    bool lineGone();
    // Runs a command's exchange and checks its status; see link_commands.cpp.
    int runCommand(const uint8_t* request, uint16_t length, uint16_t statusLength, bool singleEnquiry,
                   LinkBuffer* data, uint32_t expectedData = largestBlockBytes);
    bool statusSucceeded() const;
    void pictureCommandFailed(LinkBuffer& data);
    LinkObserver& observer() { return observer_ ? *observer_ : silentObserver_; }
};

// The hold of one owner on a link, from take() until release() or its end.
class LinkHold {
public:
    explicit LinkHold(LinkCore& link) : link_(link) {}
    ~LinkHold() { release(); }
    LinkHold(const LinkHold&) = delete;
    LinkHold& operator=(const LinkHold&) = delete;

    // False when the link is held already, by this hold or another.
    bool take();
    void release();
    bool taken() const { return taken_; }

    // The calling thread's commands pass the hold while this lives (one thread at a time).
    class Use {
    public:
        explicit Use(LinkHold& hold);
        ~Use();
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;

    private:
        LinkCore& link_;
        bool admitted_;  // a Use of a hold not taken lets nobody through
    };

private:
    LinkCore& link_;
    bool taken_ = false;
};
