#include "tools/sim/sim_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace sim {

const char* helpText() {
    return R"(Usage: dorvex-sim [options]
Plays the camera end of the Dorvex serial protocol on a pseudo-terminal (or a real tty).

The first line on standard output is "pty: /dev/pts/N" (or "device: PATH" with --device),
printed once the port is ready. Map that path as COM1..COM4. Runs until SIGTERM/SIGINT or
until --sessions sessions have ended; exit status 0 then, 2 on bad options, 1 on setup failure.

Port
  --device PATH        use this tty instead of a pty; its speed follows the camera's rate
  --pty-file FILE      also write the pty path (one line) to FILE; removed on exit
  --link PATH          create symlink PATH -> pty (an existing symlink is replaced); removed on exit
  --sessions N         exit after N sessions (default 0: run until killed). A session begins
                       with the first ENQ received after the port was opened by a client and
                       ends when the client closes the port (pty mode: the last descriptor of the
                       pty opened by another program is closed). With --device it ends after
                       5 s without a received byte.

Camera state
  --rate BPS           camera's bit rate at start (default 9600); one of 300..115200 of the table
  --power A,B          power values A and B of the status record (default 2,0)
  --battery STATE      full (2,0), low (0,2), empty (0,0), ac (3,0), unknown (4,0)
  --no-card            no memory card: card flag clear, picture count 0
  --card DIR           card = the *.jpg/*.jpeg files of DIR sorted by name; a thumbnail is taken
                       from the file's EXIF IFD1 JPEG, else from a side file NAME.thm or NAME.tif
  --pictures N         pictures of the built-in card (default 6, at most 65535; above 99 the
                       card holds 9 distinct pictures: picture N is picture (N-1)%9+1)
  --deleted LIST       picture numbers (1-based, comma list, ranges a-b) that are deleted:
                       GetImgInfo answers 0x0810
  --no-thumb LIST      pictures without thumbnail: GetThumb answers 0x0811
  --mark LIST          pictures with the mark flag set (GetImgInfo bytes 8-9 = 1)
  --no-size LIST       pictures whose size is reported as 0 KiB
  --clock TIME         camera clock at start, YYYY-MM-DDTHH:MM:SS (default 2001-02-03T04:05:06);
                       the clock runs from there unless --frozen-clock
  --frozen-clock       the clock stands still (changed only by SetDate)
  --dump-card DIR      write the card's pictures, thumbnails and information blocks
                       (NN.jpg, NN.thm (JPEG) or NN.tif, NN.info) to DIR and exit

Link
  --block-size N       payload bytes per block of the camera's messages (default 4096, 1..65535)
  --ack-timeout MS     how long the camera waits for the host's ACK, or for the next byte of
                       a request, before it drops the exchange (default 5000)
  --pace               send at the real byte rate of the current bit rate (10 bits per byte)

Faults (a "transmission" is one sending of one block, resends included)
  --corrupt N          corrupt the checksum of the next N transmissions
  --corrupt-rate P     corrupt each transmission with probability P (0..1, or N%)
  --repeat N           send the next N acknowledged blocks again instead of EOT
                       (alias --repeat-block)
  --repeat-rate P      ... each with probability P
  --extra-enq N        send an extra ENQ before the STX of the next N transmissions
  --extra-enq-rate P   ... each with probability P
  --drop N             leave out one payload byte of the next N transmissions
  --drop-rate P        ... each with probability P
  --fault-cmd CMD      faults only hit messages answering CMD (a command name as listed below,
                       e.g. GetJpeg; also for --silent-after and --garbage-status)
  --fault-after K      the counted faults start after K eligible transmissions
  --seed S             seed of the random faults (default 1)
  --busy N             answer result 0x0C02 to the next N SetIO/GetIOCap/GetStat
  --silent-after CMD[:COUNT]
                       after answering the COUNT-th (default 1st) CMD, ignore all input;
                       CMD "any" counts every command
  --refuse-cancel N[:nak|:result]
                       refuse the next N CancelTransfer: NAK every sending of the request
                       (nak, default) or answer result 0x0C03 (result)
  --short-status CMD[:N]
                       send the next status message of CMD (a command name as listed below,
                       e.g. GetStat) with its payload cut to its first N bytes (default 0: an
                       empty payload; an N beyond the status's length sends it whole); the
                       camera acts as if the whole status had gone out.
                       Repeatable: each occurrence cuts one more status of its CMD, in order.
                       Not affected by --fault-cmd/--fault-after
  --noise-rate P       before a block's ENQ and before its STX, 1-8 random bytes, each place
                       with probability P
  --corrupt-length N|P alter a length byte of the next N transmissions (or each with
                       probability P, written P% or 0.P): the packet claims more or fewer
                       bytes than it carries
  --corrupt-escape N|P alter the byte after the first escape of the payload or checksum
  --truncate-packet N|P send only the first part of the packet, then keep silent and wait for
                       the host's answer as usual
  --strict             a camera that ignores an ENQ arriving while it waits for an ACK, and
                       refuses a CancelTransfer outside a data message (result 0x0C03)
  --garbage-status CMD[:COUNT]
                       the next COUNT (default 1) statuses of CMD go out as 0-64 random bytes
  --size-claim BYTES   GetImgInfo claims this size (bytes, rounded up to KiB) for every picture
  --endless-blocks CMD the next reply to CMD never ends: empty blocks, each with ETB, one after
                       the other for as long as the host acknowledges them
  --noise-flood CMD    instead of the next reply to CMD: 4000 random bytes (never ENQ) before
                       every enquiry of an endless run of empty blocks
  --trickle CMD        the next reply to CMD goes out one byte every --trickle-gap MS (default
                       2900, just under the host's 3 s byte time-out); it stops when the host
                       sends anything (its next request)
  --trickle-gap MS     the gap between two bytes of --trickle (1..600000)

Output
  --trace FILE         trace of every exchange, one event per line, flushed per line
  --trace-time         prefix each trace line with seconds since start: "[  12.345678] "
  --trace-full-hex     hex of every byte of every block (default: first 32 bytes, then "...")
  --quiet              stdout carries only the first line (otherwise also one line as each
                       session begins and ends: "session N begin", "session N end")
  --help               this text

Commands and replies (status bytes 0-1 = command code, 2-3 = result, rest as below, unlisted 0)
  SetIO 0x9080       status 13: 4-5 new rate code, 6-7 settings word; the new rate applies after
                     the EOT of the status; a code not in the table answers 0x0E01
  GetIOCap 0x9000    status 13: 4-5 supported codes 0x03FF, 6-7 current code, 8-9 settings word
  GetStat 0x9020     status 39: 4-5 parameter, 6 power A, 7 power B, 8 flags (1 = card),
                     12-13 picture count, 16-21 clock (year%100, month, day, hour, min, sec)
  SetDate 0x90B0     status 9; an impossible date answers 0x0E01 and keeps the clock
  GetImgInfo 0x8820  data: file up to and including SOF0; status 15: 4-5 handle, 6-7 KiB
                     (rounded up), 8-9 mark flag; no such picture/deleted: 0x0810
  GetThumb 0x8800    data: thumbnail (JPEG starts 0xFF, else TIFF); status 9; none: 0x0811
  GetJpeg 0x8810     data: the JPEG file; status 9
  CancelTransfer 0x9E00  status 11. Accepted (0) during a data message it ends the exchange.
  Handles are 0x2000 + picture number; unknown handle 0x0813; picture requests need word 2 at
  bytes 4-5, else 0x0E01; a picture command that fails still sends an empty data message
  first. Unknown command: status 9 with 0x0E02. Busy: 0x0C02.

Trace lines (stable prefixes)
  start mode=pty path=/dev/pts/N rate=9600 pictures=6
  port open | port close                            a client opened / closed the pty
  session begin N | session end N
  rx enq | rx ack | rx nak | rx eot | rx byte 0xNN (unexpected)
  rx noise count=N host-rate=R camera-rate=C       bytes taken at a wrong line speed
  rx packet len=N etx|etb hex=..                    a good request packet
  rx bad-packet len=N hex=..                        checksum or framing error (NAK follows)
  rx cmd SetIO rate=115200 code=0x0200 settings=0x0011   (rate=unknown: code not in the table)
  rx cmd GetIOCap | rx cmd GetStat param=0 | rx cmd CancelTransfer
  rx cmd SetDate date=YY-MM-DD hh:mm:ss hex=yy mm dd hh mi ss
  rx cmd GetImgInfo number=N | rx cmd GetThumb handle=0xNNNN | rx cmd GetJpeg handle=0xNNNN
  rx cmd Unknown code=0xNNNN hex=..
  tx ack | tx nak | tx enq | tx eot
  tx data CMD bytes=N blocks=B
  tx block I/B len=N etx|etb msg=CMD.data|CMD.status hex=..
  tx status CMD result=0xNNNN hex=..                result=none: fewer than 4 bytes go out
  state rate OLD -> NEW | state clock YY-MM-DD hh:mm:ss
  fault corrupt|repeat|extra-enq|drop block I/B msg=CMD.data|CMD.status
  fault busy CMD | fault silent | fault refuse-cancel nak|result
  fault short-status CMD len=N of=M                 the status below is cut from M to N bytes
  fault noise N before-enq|before-stx block I/B msg=..
  fault corrupt-length|corrupt-escape|truncate block I/B msg=..
  fault garbage-status CMD len=N | fault size-claim number=N kib=K
  fault endless-blocks CMD | fault noise-flood CMD | fault trickle CMD gap=MS
  abort trickle host-spoke                          the host sent something: the trickle ends
  strict ignore-enq | strict refuse-cancel
  cancel nested CancelTransfer | cancel accepted    a cancel that came during a message
  timeout ack-enq|ack-block|request-packet|eot      a wait that ran out
  abort CMD | abort nak-limit block I/B msg=.. | abort superseded-by CMD | abort request-too-long
  stop                                              last line of a clean exit
)";
}

namespace {

bool parseInt(const std::string& text, long long low, long long high, long long& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value < low || value > high) return false;
    out = value;
    return true;
}

bool parseRate(const std::string& text, double& out) {
    if (text.empty()) return false;
    std::string number = text;
    double scale = 1.0;
    if (number.back() == '%') {
        number.pop_back();
        scale = 0.01;
    }
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(number.c_str(), &end);
    if (errno != 0 || number.empty() || *end != '\0') return false;
    out = value * scale;
    return out >= 0.0 && out <= 1.0;
}

// "1,3,5-7" -> {1,3,5,6,7}
bool parseList(const std::string& text, std::set<int>& out) {
    std::stringstream stream(text);
    std::string item;
    bool any = false;
    while (std::getline(stream, item, ',')) {
        const size_t dash = item.find('-');
        long long first = 0, last = 0;
        if (dash == std::string::npos) {
            if (!parseInt(item, 1, 65535, first)) return false;
            last = first;
        } else if (!parseInt(item.substr(0, dash), 1, 65535, first) ||
                   !parseInt(item.substr(dash + 1), 1, 65535, last) || last < first) {
            return false;
        }
        for (long long n = first; n <= last; ++n) out.insert(static_cast<int>(n));
        any = true;
    }
    return any;
}

bool parseBattery(const std::string& text, SimOptions& options) {
    struct Preset { const char* name; int a; int b; };
    static const Preset presets[] = {{"full", 2, 0}, {"low", 0, 2}, {"empty", 0, 0},
                                     {"ac", 3, 0},   {"unknown", 4, 0}};
    for (const Preset& preset : presets) {
        if (text == preset.name) {
            options.powerA = preset.a;
            options.powerB = preset.b;
            return true;
        }
    }
    return false;
}

bool parsePower(const std::string& text, SimOptions& options) {
    const size_t comma = text.find(',');
    long long a = 0, b = 0;
    if (comma == std::string::npos || !parseInt(text.substr(0, comma), 0, 255, a) ||
        !parseInt(text.substr(comma + 1), 0, 255, b)) {
        return false;
    }
    options.powerA = static_cast<int>(a);
    options.powerB = static_cast<int>(b);
    return true;
}

// A command name as the trace writes it (commandName); "any" where allowAny.
bool isCommandName(const std::string& name, bool allowAny = false) {
    static const char* const commands[] = {"SetIO",      "GetIOCap", "GetStat", "SetDate",
                                           "GetImgInfo", "GetThumb", "GetJpeg", "CancelTransfer"};
    for (const char* command : commands)
        if (name == command) return true;
    return allowAny && name == "any";
}

bool parseCountWithSuffix(const std::string& text, std::string& name, int& count, bool allowAny = false) {
    const size_t colon = text.find(':');
    name = text.substr(0, colon);
    if (!isCommandName(name, allowAny)) return false;
    if (colon == std::string::npos) return true;
    long long value = 0;
    if (!parseInt(text.substr(colon + 1), 1, 1000000, value)) return false;
    count = static_cast<int>(value);
    return true;
}

bool parseRefuseCancel(const std::string& text, SimOptions& options) {
    const size_t colon = text.find(':');
    long long count = 0;
    if (!parseInt(text.substr(0, colon), 0, 1000000, count)) return false;
    options.refuseCancel = static_cast<int>(count);
    if (colon == std::string::npos) return true;
    const std::string mode = text.substr(colon + 1);
    if (mode != "nak" && mode != "result") return false;
    options.refuseCancelWithNak = mode == "nak";
    return true;
}

// "GetStat:2" -> one cut of GetStat's next status to 2 bytes; "GetStat" -> to 0 bytes.
bool parseShortStatus(const std::string& text, SimOptions& options) {
    const size_t colon = text.find(':');
    StatusCut cut;
    cut.command = text.substr(0, colon);
    if (!isCommandName(cut.command)) return false;
    if (colon != std::string::npos) {
        long long length = 0;
        if (!parseInt(text.substr(colon + 1), 0, 65535, length)) return false;
        cut.length = static_cast<size_t>(length);
    }
    options.shortStatus.push_back(cut);
    return true;
}

bool isKnownRate(long long rate) {
    static const long long rates[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    for (long long r : rates) {
        if (r == rate) return true;
    }
    return false;
}

// "N" hits the next N eligible transmissions, "P%" or "0.P" each with probability P.
bool parseCountOrRate(const std::string& text, FaultSetting& setting) {
    if (text.find('%') != std::string::npos || text.find('.') != std::string::npos) {
        return parseRate(text, setting.rate);
    }
    long long n = 0;
    if (!parseInt(text, 0, 1000000, n)) return false;
    setting.count = static_cast<int>(n);
    return true;
}

// One option with its value; returns false with error set when the value is bad.
bool applyOption(const std::string& name, const std::string& value, SimOptions& o, std::string& error) {
    long long n = 0;
    bool ok = true;
    if (name == "--device") o.device = value;
    else if (name == "--pty-file") o.ptyFile = value;
    else if (name == "--link") o.linkPath = value;
    else if (name == "--sessions") { ok = parseInt(value, 0, 1000000, n); o.sessions = static_cast<int>(n); }
    else if (name == "--rate") { ok = parseInt(value, 1, 115200, n) && isKnownRate(n); o.initialRate = static_cast<uint32_t>(n); }
    else if (name == "--power") ok = parsePower(value, o);
    else if (name == "--battery") ok = parseBattery(value, o);
    else if (name == "--card") o.cardDir = value;
    else if (name == "--pictures") { ok = parseInt(value, 0, 65535, n); o.pictures = static_cast<int>(n); }
    else if (name == "--deleted") ok = parseList(value, o.deleted);
    else if (name == "--no-thumb") ok = parseList(value, o.noThumb);
    else if (name == "--mark") ok = parseList(value, o.marked);
    else if (name == "--no-size") ok = parseList(value, o.noSize);
    else if (name == "--clock") o.clock = value;
    else if (name == "--dump-card") o.dumpCardDir = value;
    else if (name == "--block-size") { ok = parseInt(value, 1, 65535, n); o.blockSize = static_cast<size_t>(n); }
    else if (name == "--ack-timeout") { ok = parseInt(value, 10, 600000, n); o.ackTimeoutMs = static_cast<int>(n); }
    else if (name == "--corrupt") { ok = parseInt(value, 0, 1000000, n); o.corrupt.count = static_cast<int>(n); }
    else if (name == "--corrupt-rate") ok = parseRate(value, o.corrupt.rate);
    else if (name == "--repeat" || name == "--repeat-block") { ok = parseInt(value, 0, 1000000, n); o.repeat.count = static_cast<int>(n); }
    else if (name == "--repeat-rate") ok = parseRate(value, o.repeat.rate);
    else if (name == "--extra-enq") { ok = parseInt(value, 0, 1000000, n); o.extraEnq.count = static_cast<int>(n); }
    else if (name == "--extra-enq-rate") ok = parseRate(value, o.extraEnq.rate);
    else if (name == "--drop") { ok = parseInt(value, 0, 1000000, n); o.drop.count = static_cast<int>(n); }
    else if (name == "--drop-rate") ok = parseRate(value, o.drop.rate);
    else if (name == "--fault-cmd") { ok = isCommandName(value); o.faultCommand = value; }
    else if (name == "--fault-after") { ok = parseInt(value, 0, 100000000, n); o.faultAfter = static_cast<int>(n); }
    else if (name == "--seed") { ok = parseInt(value, 0, 0xFFFFFFFFLL, n); o.seed = static_cast<uint32_t>(n); }
    else if (name == "--busy") { ok = parseInt(value, 0, 1000000, n); o.busy = static_cast<int>(n); }
    else if (name == "--silent-after") ok = parseCountWithSuffix(value, o.silentCommand, o.silentCount, true);
    else if (name == "--refuse-cancel") ok = parseRefuseCancel(value, o);
    else if (name == "--short-status") ok = parseShortStatus(value, o);
    else if (name == "--noise-rate") ok = parseRate(value, o.noise.rate);
    else if (name == "--corrupt-length") ok = parseCountOrRate(value, o.corruptLength);
    else if (name == "--corrupt-escape") ok = parseCountOrRate(value, o.corruptEscape);
    else if (name == "--truncate-packet") ok = parseCountOrRate(value, o.truncate);
    else if (name == "--garbage-status") ok = parseCountWithSuffix(value, o.garbageStatus, o.garbageCount);
    else if (name == "--size-claim") { ok = parseInt(value, 0, 0xFFFFFFFFLL, n); o.sizeClaim = n; }
    else if (name == "--endless-blocks") { ok = isCommandName(value); o.endlessBlocks = value; }
    else if (name == "--noise-flood") { ok = isCommandName(value); o.noiseFlood = value; }
    else if (name == "--trickle") { ok = isCommandName(value); o.trickle = value; }
    else if (name == "--trickle-gap") { ok = parseInt(value, 1, 600000, n); o.trickleGapMs = static_cast<int>(n); }
    else if (name == "--trace") o.traceFile = value;
    else {
        error = "unknown option " + name;
        return false;
    }
    if (!ok) error = "bad value for " + name + ": " + value;
    return ok;
}

bool applyFlag(const std::string& name, SimOptions& o) {
    if (name == "--no-card") o.cardPresent = false;
    else if (name == "--frozen-clock") o.frozenClock = true;
    else if (name == "--pace") o.pace = true;
    else if (name == "--strict") o.strict = true;
    else if (name == "--trace-time") o.traceTime = true;
    else if (name == "--trace-full-hex") o.traceFullHex = true;
    else if (name == "--quiet") o.quiet = true;
    else return false;
    return true;
}

}  // namespace

ParseResult parseOptions(int argc, char** argv, SimOptions& options, std::string& error) {
    options.refuseCancelWithNak = true;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--help" || name == "-h") return ParseResult::Help;
        if (applyFlag(name, options)) continue;
        std::string value;
        const size_t equals = name.find('=');
        if (equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        } else {
            // Tried on a scratch copy first: an unknown word is reported as such, not as an
            // option whose value is missing (nor does it take the next word as its value).
            SimOptions scratch;
            std::string unknown;
            if (!applyOption(name, "", scratch, unknown) && unknown.rfind("unknown option", 0) == 0) {
                error = name.rfind("--", 0) == 0 ? unknown : "unexpected argument " + name;
                return ParseResult::Error;
            }
            if (i + 1 >= argc) {
                error = "missing value for " + name;
                return ParseResult::Error;
            }
            value = argv[++i];
        }
        if (!applyOption(name, value, options, error)) return ParseResult::Error;
    }
    return ParseResult::Run;
}

}  // namespace sim
