// The simulator's end of the serial line: the master side of a pseudo-terminal (holding a
// slave descriptor of its own so that the master never sees a hang-up while the client closes
// and reopens the port) or a real tty. Every wait is bounded and ends early on a stop request.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Set by the SIGTERM/SIGINT handler; every wait of the port returns when it is set.
extern volatile std::sig_atomic_t stopRequested;

class SimPort {
public:
    SimPort() = default;
    ~SimPort();
    SimPort(const SimPort&) = delete;
    SimPort& operator=(const SimPort&) = delete;

    bool openPty(std::string& path, std::string& error);
    bool openDevice(const std::string& path, uint32_t rate, std::string& error);
    bool isPty() const { return slaveFd_ >= 0; }

    enum class ReadStatus { Data, Timeout, Stopped, Closed };
    // Waits up to timeoutMs for bytes and appends what is waiting to out. Closed: the client has
    // closed the pty (the event stays pending until consumeClosed).
    ReadStatus readSome(std::vector<uint8_t>& out, int timeoutMs);
    // Writes all bytes within timeoutMs; paced at paceRate bit/s (10 bits a byte) when non-zero.
    bool writeAll(const uint8_t* bytes, size_t count, int timeoutMs, uint32_t paceRate);

    // Line speed the client has set on the pty; 0 when it cannot be known (a real tty).
    uint32_t clientRate() const;
    // Real tty: waits for the output to drain and switches the speed.
    void setDeviceRate(uint32_t rate);
    // Drops what the camera wrote and no client has read, unless a client has the port open.
    void discardPending();

    int clientOpenCount() const { return openCount_; }
    bool consumeOpened();
    bool consumeClosed();

private:
    void handleNotifications();
    int masterFd_ = -1;
    int slaveFd_ = -1;
    int notifyFd_ = -1;
    int openCount_ = 0;
    bool openedPending_ = false;
    bool closedPending_ = false;
    int64_t paceClockNs_ = 0;
};

}  // namespace sim
