// dorvex-diag: checks the cable and the camera from a console. Opens a COM port through the
// source's own CameraLink and runs the commands given on the command line, one line of result
// each; a command's details follow on indented lines below its own result line. Exit status:
// 0 when every command succeeded, 1 when one failed, 2 on bad usage.
// A camera switched to another bit rate is set back to 9600 bit/s at close (and at the end),
// where the next connection looks for it first.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "camera/camera_link.h"

namespace {

const char usage[] =
    "usage: dorvex-diag [--port N] [--rate BPS] [--dump] COMMAND...\n"
    "  --port N      COM port 1..4 (default 1)\n"
    "  --rate BPS    bit rate of 'connect' (default 9600)\n"
    "  --dump        let the commands write their debug files in the current directory\n"
    "  --read-size N most bytes per port read (1..4096, default 4096; 1 = one byte per call)\n"
    "commands (run in order; the first failure does not stop the rest):\n"
    "  connect           SetIO at 9600 bit/s, then at --rate when that differs\n"
    "  setio BPS         SetIO at BPS on --port\n"
    "  getiocap          link check\n"
    "  getstat           camera status: pictures, power, card, clock\n"
    "  setdate TIME      set the camera clock, YYYY-MM-DDTHH:MM:SS\n"
    "  info N            information of picture N (handle, size, mark)\n"
    "  thumb N FILE      thumbnail of picture N to FILE\n"
    "  jpeg N FILE       JPEG of picture N to FILE, with the time it took\n"
    "  fetch-all DIR     every picture to DIR\\NN.jpg\n"
    "  close             set the camera back to 9600 bit/s when it runs faster, close the port\n"
    "a failure names its cause: the port not opened (and why), the file not written, or the\n"
    "camera command that the camera did not answer (linkError set), got no valid reply\n"
    "(result -1) or that the camera refused (its result code, as 0x0810)\n";

struct Diag {
    CameraLink link{1};
    uint8_t port = 1;
    uint32_t rate = 9600;
    bool dump = false;
    int failures = 0;
    uint32_t lineRate = 9600;  // the camera's rate after the latest successful SetIO
    uint32_t writesBefore = 0;  // the port's write calls when the current command began

    void beginCommand() { writesBefore = link.port->writeCalls; }

    // One result line; a failure of camera command `command` says whether the port was not
    // open (and why it could not be opened), the camera did not answer, its reply was bad, or
    // it refused. A port that opened but was closed again because the camera did not answer
    // is the camera's silence, not a port problem: bytes were sent.
    void report(const std::string& what, int ok, const char* command = nullptr) {
        if (ok) {
            std::printf("OK   %s\n", what.c_str());
            return;
        }
        ++failures;
        const bool sent = link.port->writeCalls != writesBefore;
        if (!link.port->isOpen() && !sent) {
            std::printf("FAIL %s: %s\n", what.c_str(), portProblem().c_str());
        } else {
            const int result = link.lastResultCode();
            const char* name = command ? command : "command";
            char cause[200];
            if (link.linkError && link.port->broken())
                std::snprintf(cause, sizeof cause, "COM%u failed during %s (the device went away)", port, name);
            else if (link.linkError)
                std::snprintf(cause, sizeof cause,
                              "the camera did not answer %s on COM%u (no reply in time: is it switched on and "
                              "connected?)",
                              name, port);
            else if (result == -1)
                std::snprintf(cause, sizeof cause,
                              "%s got no valid reply (bad checksums after every resend, or cut short)", name);
            else
                std::snprintf(cause, sizeof cause, "%s refused by the camera", name);
            std::printf("FAIL %s: %s (result %s, linkError %d)\n", what.c_str(), cause, resultText(result).c_str(),
                        link.linkError);
        }
        link.linkError = 0;
    }

    // The camera's result code in the notation of the simulator's help and trace.
    static std::string resultText(int result) {
        if (result < 0) return "-1";
        char text[16];
        std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(result));
        return text;
    }

    std::string portProblem() const {
        char text[512];
        const DWORD error = link.linkPort.openError;
        if (!error) {
            std::snprintf(text, sizeof text, "COM%u is not open (connect first)", port);
            return text;
        }
        char reason[256] = "";
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, reason,
                       sizeof reason, nullptr);
        size_t end = std::strlen(reason);
        while (end && (reason[end - 1] == '\r' || reason[end - 1] == '\n' || reason[end - 1] == ' ')) reason[--end] = 0;
        std::snprintf(text, sizeof text, "COM%u could not be opened as a serial port: %s (Win32 error %lu)", port,
                      end ? reason : "unknown error", static_cast<unsigned long>(error));
        return text;
    }

    // `what` names the file.
    void fileFailed(const std::string& what, int error) {
        ++failures;
        std::printf("FAIL %s: file not written (%s)\n", what.c_str(), std::strerror(error));
    }

    int setio(uint32_t bitRate) {
        const int ok = link.SetIO(port, bitRate, NOPARITY, ONESTOPBIT, 8, 2, dump);
        if (ok) lineRate = bitRate;
        return ok;
    }

    // Leaves the camera at 9600 bit/s, where it starts and where the next connection looks first.
    void restoreRate() {
        if (!link.isConnected() || lineRate == 9600) return;
        beginCommand();
        report("setio 9600 (the camera's starting rate)", setio(9600), "SetIO");
    }

    bool pictureInfo(uint16_t number, uint16_t& handle, uint32_t& expected) {
        if (!link.GetImgInfo(number, &handle, dump)) return false;
        uint16_t kib = 0;
        link.statusWord(6, kib);
        expected = kib ? kib * 1024u : 400000u;
        link.buffers->releaseImageInfo();
        return true;
    }

    // 0 when written, else the errno of the failure.
    static int writeFile(const std::string& path, const LinkBuffer& data) {
        errno = 0;
        FILE* file = std::fopen(path.c_str(), "wb");
        if (!file) return errno ? errno : EIO;
        const bool ok = !data.count || std::fwrite(data.data, 1, data.count, file) == data.count;
        const int error = ok ? 0 : (errno ? errno : EIO);
        if (std::fclose(file) != 0 && !error) return errno ? errno : EIO;
        return error;
    }

    // Downloads picture number into path; prints size and rate.
    bool download(uint16_t number, const std::string& path) {
        uint16_t handle = 0;
        uint32_t expected = 0;
        char what[300];
        std::snprintf(what, sizeof what, "jpeg %u -> %s", number, path.c_str());
        beginCommand();
        if (!pictureInfo(number, handle, expected)) {
            report(what, 0, "GetImgInfo");
            return false;
        }
        const uint32_t reads = link.port->readCalls;
        const uint32_t writes = link.port->writeCalls;
        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        const int ok = link.GetJpeg(handle, expected, dump);
        QueryPerformanceCounter(&end);
        link.hideProgress();
        const double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
        const uint32_t bytes = ok ? link.buffers->jpeg.count : 0;
        if (!ok) {
            link.buffers->releaseJpeg();
            report(what, 0, "GetJpeg");
            if (link.downloadCancelled) std::printf("     (cancel requested)\n");
            return false;
        }
        std::snprintf(what, sizeof what, "jpeg %u: %lu bytes in %.3f s (%.0f bytes/s, %lu reads, %lu writes) -> %s",
                      number, static_cast<unsigned long>(bytes), seconds, seconds > 0 ? bytes / seconds : 0.0,
                      static_cast<unsigned long>(link.port->readCalls - reads),
                      static_cast<unsigned long>(link.port->writeCalls - writes), path.c_str());
        const int error = writeFile(path, link.buffers->jpeg);
        link.buffers->releaseJpeg();
        if (error) {
            fileFailed(what, error);
            return false;
        }
        report(what, 1);
        return true;
    }

    void getstat() {
        const int ok = link.GetStat(0, dump);
        report("getstat", ok, "GetStat");
        StatusRecord status;
        if (ok && link.statusRecord(status)) {
            std::printf("     pictures %u, power %u+%u, card %s, clock %02u-%02u-%02u %02u:%02u:%02u\n",
                        status.picturesTaken, status.powerA, status.powerB, status.cardPresent() ? "yes" : "no",
                        status.year, status.month, status.day, status.hour, status.minute, status.second);
        }
    }

    void setdate(const char* text) {
        unsigned y, mo, d, h, mi, s;
        if (std::sscanf(text, "%u-%u-%uT%u:%u:%u", &y, &mo, &d, &h, &mi, &s) != 6 || mo < 1 || mo > 12 || d < 1 ||
            d > 31 || h > 23 || mi > 59 || s > 59) {
            std::printf("FAIL setdate: bad time '%s'\n", text);
            ++failures;
            return;
        }
        link.setStatusClock(static_cast<uint8_t>(y % 100), static_cast<uint8_t>(mo), static_cast<uint8_t>(d),
                            static_cast<uint8_t>(h), static_cast<uint8_t>(mi), static_cast<uint8_t>(s));
        report("setdate", link.SetDate(dump), "SetDate");
    }

    void fetchAll(const std::string& dir) {
        if (!link.GetStat(0, false)) {
            report("fetch-all " + dir, 0, "GetStat");
            return;
        }
        StatusRecord status;
        link.statusRecord(status);
        for (unsigned number = 1; number <= status.picturesTaken; ++number) {
            char path[MAX_PATH];
            std::snprintf(path, sizeof path, "%s\\%02u.jpg", dir.c_str(), number);
            download(static_cast<uint16_t>(number), path);
        }
    }
};

bool parseNumber(const char* text, unsigned long maximum, unsigned long& value) {
    char* end = nullptr;
    value = std::strtoul(text, &end, 10);
    return end && end != text && *end == 0 && value <= maximum;
}

// The ports the camera link can use, and which of them this machine has.
std::string portChoice() {
    std::string present;
    for (int n = 1; n <= 4; ++n) {
        char name[8];
        char target[512];
        std::snprintf(name, sizeof name, "COM%d", n);
        if (QueryDosDeviceA(name, target, sizeof target)) present += (present.empty() ? "" : ", ") + std::string(name);
    }
    return "the ports are COM1 to COM4 (--port 1..4); present here: " + (present.empty() ? "none" : present);
}

// Runs the command at args[i] and advances i past its arguments; false on bad usage.
bool runCommand(Diag& diag, const std::vector<std::string>& args, size_t& i) {
    const std::string& command = args[i++];
    diag.beginCommand();
    auto argument = [&](const char*& out) {
        if (i >= args.size()) return false;
        out = args[i++].c_str();
        return true;
    };
    const char* a = nullptr;
    const char* b = nullptr;
    unsigned long n = 0;
    if (command == "connect") {
        int ok = diag.setio(9600);
        if (diag.rate != 9600) {
            if (!ok) diag.link.linkError = 0;
            ok = diag.setio(diag.rate);
        }
        diag.report("connect", ok, "SetIO");
    } else if (command == "setio") {
        if (!argument(a) || !parseNumber(a, 0xFFFFFFFFul, n)) return false;
        diag.report("setio " + std::string(a), diag.setio(static_cast<uint32_t>(n)), "SetIO");
    } else if (command == "getiocap") {
        diag.report("getiocap", diag.link.GetIOCap(diag.dump), "GetIOCap");
    } else if (command == "getstat") {
        diag.getstat();
    } else if (command == "setdate") {
        if (!argument(a)) return false;
        diag.setdate(a);
    } else if (command == "info") {
        if (!argument(a) || !parseNumber(a, 0xFFFF, n)) return false;
        uint16_t handle = 0;
        uint32_t expected = 0;
        const bool ok = diag.pictureInfo(static_cast<uint16_t>(n), handle, expected);
        uint16_t mark = 0;
        diag.link.statusWord(8, mark);
        diag.report("info " + std::string(a), ok, "GetImgInfo");
        if (ok) std::printf("     handle %u, expected %lu bytes, mark %u\n", handle, static_cast<unsigned long>(expected), mark);
    } else if (command == "thumb") {
        if (!argument(a) || !argument(b) || !parseNumber(a, 0xFFFF, n)) return false;
        uint16_t handle = 0;
        uint32_t expected = 0;
        const std::string what = "thumb " + std::string(a) + " -> " + b;
        const bool info = diag.pictureInfo(static_cast<uint16_t>(n), handle, expected);
        const bool ok = info && diag.link.GetThumb(handle, diag.dump);
        const int error = ok ? Diag::writeFile(b, diag.link.buffers->thumbnail) : 0;
        diag.link.buffers->releaseThumbnail();
        if (error)
            diag.fileFailed(what, error);
        else
            diag.report(what, ok, info ? "GetThumb" : "GetImgInfo");
    } else if (command == "jpeg") {
        if (!argument(a) || !argument(b) || !parseNumber(a, 0xFFFF, n)) return false;
        diag.download(static_cast<uint16_t>(n), b);
    } else if (command == "fetch-all") {
        if (!argument(a)) return false;
        diag.fetchAll(a);
    } else if (command == "close") {
        diag.restoreRate();
        diag.link.ClosePort();
        diag.report("close", 1);
    } else {
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Diag diag;
    std::vector<std::string> commands;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        unsigned long n = 0;
        if (arg == "--port") {
            if (i + 1 >= argc || !parseNumber(argv[i + 1], 4, n) || n < 1) {
                std::fprintf(stderr, "dorvex-diag: --port %s: no such port; %s\n", i + 1 < argc ? argv[i + 1] : "",
                             portChoice().c_str());
                return 2;
            }
            diag.port = static_cast<uint8_t>(n);
            ++i;
        } else if (arg == "--rate" && i + 1 < argc && parseNumber(argv[i + 1], 0xFFFFFFFFul, n) && n > 0) {
            diag.rate = static_cast<uint32_t>(n);
            ++i;
        } else if (arg == "--read-size" && i + 1 < argc && parseNumber(argv[i + 1], 4096, n) && n >= 1) {
            diag.link.port->readChunkLimit = static_cast<uint32_t>(n);
            ++i;
        } else if (arg == "--dump") {
            diag.dump = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            return 0;
        } else if (arg.compare(0, 2, "--") == 0) {
            std::fprintf(stderr, "dorvex-diag: bad option %s\n%s", arg.c_str(), usage);
            return 2;
        } else {
            commands.push_back(arg);
        }
    }
    if (commands.empty()) {
        std::fputs(usage, stderr);
        return 2;
    }
    // The download steps the link's progress window; it stays hidden otherwise.
    if (!diag.link.createWindow(nullptr)) {
        std::fprintf(stderr, "dorvex-diag: cannot create the progress window\n");
        return 1;
    }
    for (size_t i = 0; i < commands.size();) {
        if (!runCommand(diag, commands, i)) {
            std::fprintf(stderr, "dorvex-diag: bad command near '%s'\n%s", commands[i - 1].c_str(), usage);
            return 2;
        }
        std::fflush(stdout);
    }
    diag.restoreRate();
    return diag.failures ? 1 : 0;
}
