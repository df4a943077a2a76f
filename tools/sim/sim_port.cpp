#include "tools/sim/sim_port.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "tools/sim/line_speed.h"

namespace sim {

volatile std::sig_atomic_t stopRequested = 0;

namespace {

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// 8 data bits, no parity, one stop bit, no echo, no line editing, no signals, no output
// processing: every byte passes untouched in both directions.
bool makeRaw(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) return false;
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

const int pollSliceMs = 100;

}  // namespace

SimPort::~SimPort() {
    if (notifyFd_ >= 0) close(notifyFd_);
    if (slaveFd_ >= 0) close(slaveFd_);
    if (masterFd_ >= 0) close(masterFd_);
}

bool SimPort::openPty(std::string& path, std::string& error) {
    masterFd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (masterFd_ < 0 || grantpt(masterFd_) != 0 || unlockpt(masterFd_) != 0) {
        error = std::string("cannot create a pty: ") + std::strerror(errno);
        return false;
    }
    const char* name = ptsname(masterFd_);
    if (!name) {
        error = "ptsname failed";
        return false;
    }
    path = name;
    slaveFd_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slaveFd_ < 0 || !makeRaw(slaveFd_) || !writeLineSpeed(slaveFd_, 9600)) {
        error = std::string("cannot set up ") + name + ": " + std::strerror(errno);
        return false;
    }
    // Opens and closes of the slave by other programs mark the client's sessions.
    notifyFd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (notifyFd_ >= 0 && inotify_add_watch(notifyFd_, name, IN_OPEN | IN_CLOSE) < 0) {
        close(notifyFd_);
        notifyFd_ = -1;
    }
    return true;
}

bool SimPort::openDevice(const std::string& path, uint32_t rate, std::string& error) {
    masterFd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (masterFd_ < 0 || !makeRaw(masterFd_) || !writeLineSpeed(masterFd_, rate)) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    tcflush(masterFd_, TCIOFLUSH);
    return true;
}

void SimPort::handleNotifications() {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = read(notifyFd_, buffer, sizeof buffer);
        if (n <= 0) return;
        for (ssize_t pos = 0; pos + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const inotify_event* event = reinterpret_cast<const inotify_event*>(buffer + pos);
            if (event->mask & IN_OPEN) {
                if (openCount_++ == 0) openedPending_ = true;
            }
            if ((event->mask & IN_CLOSE) && openCount_ > 0) {
                if (--openCount_ == 0) closedPending_ = true;
            }
            pos += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

SimPort::ReadStatus SimPort::readSome(std::vector<uint8_t>& out, int timeoutMs) {
    const int64_t deadline = nowNs() + static_cast<int64_t>(timeoutMs) * 1000000;
    for (;;) {
        if (stopRequested) return ReadStatus::Stopped;
        // Open and close events are queued when they happen, before the client can write, so
        // taking them before each read keeps them in order with the bytes.
        if (notifyFd_ >= 0) handleNotifications();
        if (closedPending_) return ReadStatus::Closed;
        uint8_t buffer[4096];
        const ssize_t n = read(masterFd_, buffer, sizeof buffer);
        if (n > 0) {
            out.insert(out.end(), buffer, buffer + n);
            return ReadStatus::Data;
        }
        const int64_t left = (deadline - nowNs()) / 1000000;
        if (left <= 0) return ReadStatus::Timeout;
        pollfd fds[2] = {{masterFd_, POLLIN, 0}, {notifyFd_, POLLIN, 0}};
        const int wait = static_cast<int>(left < pollSliceMs ? left : pollSliceMs);
        const int ready = poll(fds, notifyFd_ >= 0 ? 2 : 1, wait);
        // A real tty may report a hang-up; don't spin on it.
        if (ready > 0 && (fds[0].revents & (POLLHUP | POLLERR)) && !(fds[0].revents & POLLIN)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}

bool SimPort::writeAll(const uint8_t* bytes, size_t count, int timeoutMs, uint32_t paceRate) {
    const int64_t deadline = nowNs() + static_cast<int64_t>(timeoutMs) * 1000000;
    // Paced output goes in chunks of about 2 ms of line time.
    const size_t chunk = paceRate ? (paceRate / 10 / 500 > 0 ? paceRate / 10 / 500 : 1) : count;
    size_t done = 0;
    // Time spent waiting for the client is no credit for sending faster afterwards; within
    // one call the clock runs on, so oversleeping on one piece is made up on the next.
    if (paceRate) paceClockNs_ = nowNs();
    while (done < count) {
        if (stopRequested) return false;
        const size_t piece = count - done < chunk ? count - done : chunk;
        const ssize_t n = write(masterFd_, bytes + done, piece);
        if (n > 0) {
            done += static_cast<size_t>(n);
            if (paceRate) {
                // Each byte takes 10 bit times; wait until this piece would have left the line.
                const int64_t now = nowNs();
                paceClockNs_ += static_cast<int64_t>(n) * 10 * 1000000000LL / paceRate;
                if (paceClockNs_ > now) std::this_thread::sleep_for(std::chrono::nanoseconds(paceClockNs_ - now));
            }
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) return false;
        const int64_t left = (deadline - nowNs()) / 1000000;
        if (left <= 0) return false;
        pollfd fd = {masterFd_, POLLOUT, 0};
        poll(&fd, 1, static_cast<int>(left < pollSliceMs ? left : pollSliceMs));
    }
    return true;
}

uint32_t SimPort::clientRate() const {
    uint32_t rate = 0;
    if (slaveFd_ < 0 || !readLineSpeed(slaveFd_, rate)) return 0;
    return rate;
}

void SimPort::setDeviceRate(uint32_t rate) {
    if (slaveFd_ >= 0 || masterFd_ < 0) return;
    tcdrain(masterFd_);
    writeLineSpeed(masterFd_, rate);
}

void SimPort::discardPending() {
    // Only the camera's unread output: what a client writes is never thrown away, since the
    // next client may already have opened the port and sent its enquiry.
    if (slaveFd_ >= 0) {
        if (notifyFd_ >= 0) handleNotifications();
        if (openCount_ == 0) tcflush(slaveFd_, TCIFLUSH);
    }
}

bool SimPort::consumeOpened() {
    const bool opened = openedPending_;
    openedPending_ = false;
    return opened;
}

bool SimPort::consumeClosed() {
    const bool closed = closedPending_;
    closedPending_ = false;
    return closed;
}

}  // namespace sim
