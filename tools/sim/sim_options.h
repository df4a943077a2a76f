// Command line of the camera simulator: every option, its default, and the parser.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace sim {

// A fault that hits the next `count` eligible block transmissions and/or each one with
// probability `rate`.
struct FaultSetting {
    int count = 0;
    double rate = 0.0;
};

// One status message of `command` sent with its payload cut to `length` bytes.
struct StatusCut {
    std::string command;
    size_t length = 0;
};

struct SimOptions {
    // Port.
    std::string device;    // real tty instead of a pty
    std::string ptyFile;   // file that receives the pty path
    std::string linkPath;  // symlink pointed at the pty
    int sessions = 0;      // 0 = run until killed
    // Camera.
    uint32_t initialRate = 9600;
    int powerA = 2;
    int powerB = 0;
    bool cardPresent = true;
    std::string cardDir;
    int pictures = 6;  // pictures the camera reports; above 99, nine distinct ones repeat
    std::set<int> deleted;
    std::set<int> noThumb;
    std::set<int> marked;
    std::set<int> noSize;
    std::string clock = "2001-02-03T04:05:06";
    bool frozenClock = false;
    // Link.
    size_t blockSize = 4096;
    int ackTimeoutMs = 5000;
    bool pace = false;
    // Faults.
    FaultSetting corrupt;
    FaultSetting repeat;
    FaultSetting extraEnq;
    FaultSetting drop;
    FaultSetting noise;          // random bytes before a block's ENQ and before its STX
    FaultSetting corruptLength;  // a length byte altered
    FaultSetting corruptEscape;  // the byte after an escape altered
    FaultSetting truncate;       // a packet cut short, then silence
    bool strict = false;         // ENQ while waiting for ACK ignored; Cancel outside a transfer refused
    std::string garbageStatus;   // command whose statuses go out as random bytes of random length
    int garbageCount = 1;
    long long sizeClaim = -1;    // GetImgInfo size claim in bytes; -1 = the picture's own
    // A camera that never finishes its next reply to the command (empty = never).
    std::string endlessBlocks;   // empty blocks, each announced with ETB, without end
    std::string noiseFlood;      // noiseFloodBytes random bytes before every enquiry of endless empty blocks
    std::string trickle;         // the reply one byte every trickleGapMs
    int trickleGapMs = 2900;
    std::string faultCommand;  // empty = faults apply to every message
    int faultAfter = 0;        // eligible transmissions passed over before counted faults
    uint32_t seed = 1;
    int busy = 0;
    std::string silentCommand;  // empty = never silent
    int silentCount = 1;
    int refuseCancel = 0;
    bool refuseCancelWithNak = false;
    std::vector<StatusCut> shortStatus;  // in the order given; each cuts one status
    // Output.
    std::string traceFile;
    bool traceTime = false;
    bool traceFullHex = false;
    std::string dumpCardDir;
    bool quiet = false;
};

enum class ParseResult { Run, Help, Error };

// Fills options from argv; on Error, error holds a one-line reason.
ParseResult parseOptions(int argc, char** argv, SimOptions& options, std::string& error);

const char* helpText();

}  // namespace sim
