#include "tools/sim/camera_model.h"

#include <algorithm>

#include <cstdio>

namespace sim {

namespace {

const uint32_t rateTable[10] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

uint16_t word(const std::vector<uint8_t>& bytes, size_t at) {
    return at + 1 < bytes.size() ? static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8)) : 0;
}

void putWord(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

// Status message: bytes 0-1 repeat the command code, 2-3 the result, the rest zero.
std::vector<uint8_t> makeStatus(uint16_t code, uint16_t result, size_t length) {
    std::vector<uint8_t> status(length, 0);
    putWord(status, 0, code);
    putWord(status, 2, result);
    return status;
}

size_t nominalStatusLength(uint16_t code) {
    switch (code) {
    case CmdSetIO: case CmdGetIOCap: return 13;
    case CmdGetStat: return 39;
    case CmdGetImgInfo: return 15;
    case CmdCancelTransfer: return 11;
    default: return 9;
    }
}

}  // namespace

const char* commandName(uint16_t code) {
    switch (code) {
    case CmdSetIO: return "SetIO";
    case CmdGetIOCap: return "GetIOCap";
    case CmdGetStat: return "GetStat";
    case CmdSetDate: return "SetDate";
    case CmdGetImgInfo: return "GetImgInfo";
    case CmdGetThumb: return "GetThumb";
    case CmdGetJpeg: return "GetJpeg";
    case CmdCancelTransfer: return "CancelTransfer";
    default: return "Unknown";
    }
}

CameraModel::CameraModel(const SimOptions& options, Card card, Trace& trace)
    : options_(options), card_(std::move(card)), trace_(trace), rate_(options.initialRate), busyLeft_(options.busy) {
    std::time_t start = 0;
    if (!parseClock(options.clock, start)) parseClock("2001-02-03T04:05:06", start);
    setClock(start);
    for (size_t i = 0; i < card_.pictures.size(); ++i) {
        const int number = static_cast<int>(i + 1);
        Picture& picture = card_.pictures[i];
        picture.deleted = options.deleted.count(number) > 0;
        picture.marked = options.marked.count(number) > 0;
        picture.sizeUnknown = options.noSize.count(number) > 0;
        if (options.noThumb.count(number)) picture.thumbnail.clear();
    }
}

uint16_t CameraModel::rateCode(uint32_t rate) {
    for (int i = 0; i < 10; ++i) {
        if (rateTable[i] == rate) return static_cast<uint16_t>(1u << i);
    }
    return 0;
}

uint32_t CameraModel::rateForCode(uint16_t code) {
    for (int i = 0; i < 10; ++i) {
        if (code == (1u << i)) return rateTable[i];
    }
    return 0;
}

bool CameraModel::parseClock(const std::string& text, std::time_t& out) {
    int year, month, day, hour, minute, second;
    char tail;
    if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d%c", &year, &month, &day, &hour, &minute, &second, &tail) != 6) {
        return false;
    }
    if (year < 1996 || year > 2095 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 59 || hour < 0 || minute < 0 || second < 0) {
        return false;
    }
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    out = timegm(&fields);
    // timegm rolls 30 February over into March; such a date is refused instead.
    std::tm check{};
    gmtime_r(&out, &check);
    return check.tm_mday == day && check.tm_mon == month - 1;
}

std::time_t CameraModel::now() const {
    if (options_.frozenClock) return clockBase_;
    const auto elapsed = std::chrono::steady_clock::now() - clockSetAt_;
    return clockBase_ + std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
}

void CameraModel::setClock(std::time_t value) {
    clockBase_ = value;
    clockSetAt_ = std::chrono::steady_clock::now();
}

void CameraModel::applyRate(uint32_t rate) {
    trace_.line("state rate " + std::to_string(rate_) + " -> " + std::to_string(rate));
    rate_ = rate;
}

bool CameraModel::takeBusy(Reply& reply, size_t statusLength) {
    if (busyLeft_ <= 0) return false;
    --busyLeft_;
    trace_.line(std::string("fault busy ") + reply.command);
    reply.status = makeStatus(reply.code, ResultBusy, statusLength);
    return true;
}

Reply CameraModel::handle(const std::vector<uint8_t>& request) {
    const uint16_t code = word(request, 0);
    Reply reply;
    reply.code = code;
    reply.command = commandName(code);
    switch (code) {
    case CmdSetIO: return setIO(request);
    case CmdGetIOCap:
        trace_.line("rx cmd GetIOCap");
        if (takeBusy(reply, 13)) return reply;
        reply.status = makeStatus(code, ResultOk, 13);
        putWord(reply.status, 4, 0x03FF);
        putWord(reply.status, 6, rateCode(rate_));
        putWord(reply.status, 8, settingsWord_);
        return reply;
    case CmdGetStat: return getStat(request);
    case CmdSetDate: return setDate(request);
    case CmdGetImgInfo: case CmdGetThumb: case CmdGetJpeg: return pictureCommand(code, request);
    case CmdCancelTransfer:
        trace_.line("rx cmd CancelTransfer");
        reply.status = makeStatus(code, ResultOk, 11);
        return reply;
    default:
        trace_.line("rx cmd Unknown code=" + hex16(code) + " hex=" + trace_.hex(request));
        reply.status = makeStatus(code, ResultUnknownCommand, 9);
        return reply;
    }
}

Reply CameraModel::refusedCancel() {
    Reply reply;
    reply.code = CmdCancelTransfer;
    reply.command = "CancelTransfer";
    reply.status = makeStatus(CmdCancelTransfer, ResultCancelRefused, 11);
    return reply;
}

Reply CameraModel::setIO(const std::vector<uint8_t>& request) {
    Reply reply;
    reply.code = CmdSetIO;
    reply.command = "SetIO";
    const uint16_t codeWord = word(request, 4);
    const uint16_t settings = word(request, 6);
    const uint32_t newRate = rateForCode(codeWord);
    trace_.line("rx cmd SetIO rate=" + (newRate ? std::to_string(newRate) : std::string("unknown")) +
                " code=" + hex16(codeWord) + " settings=" + hex16(settings));
    if (takeBusy(reply, 13)) return reply;
    if (request.size() < 8 || newRate == 0) {
        reply.status = makeStatus(CmdSetIO, ResultBadParameter, 13);
        return reply;
    }
    settingsWord_ = settings;
    reply.status = makeStatus(CmdSetIO, ResultOk, 13);
    putWord(reply.status, 4, codeWord);
    putWord(reply.status, 6, settings);
    reply.newRate = newRate;
    return reply;
}

Reply CameraModel::getStat(const std::vector<uint8_t>& request) {
    Reply reply;
    reply.code = CmdGetStat;
    reply.command = "GetStat";
    const uint16_t parameter = word(request, 4);
    trace_.line("rx cmd GetStat param=" + std::to_string(parameter));
    if (takeBusy(reply, 39)) return reply;
    if (request.size() < 6) {
        reply.status = makeStatus(CmdGetStat, ResultBadParameter, 39);
        return reply;
    }
    std::vector<uint8_t>& s = reply.status = makeStatus(CmdGetStat, ResultOk, 39);
    putWord(s, 4, parameter);
    s[6] = static_cast<uint8_t>(options_.powerA);
    s[7] = static_cast<uint8_t>(options_.powerB);
    s[8] = options_.cardPresent ? 1 : 0;
    putWord(s, 12, static_cast<uint16_t>(pictureCount()));
    const std::time_t t = now();
    std::tm fields{};
    gmtime_r(&t, &fields);
    s[16] = static_cast<uint8_t>((fields.tm_year + 1900) % 100);
    s[17] = static_cast<uint8_t>(fields.tm_mon + 1);
    s[18] = static_cast<uint8_t>(fields.tm_mday);
    s[19] = static_cast<uint8_t>(fields.tm_hour);
    s[20] = static_cast<uint8_t>(fields.tm_min);
    s[21] = static_cast<uint8_t>(fields.tm_sec);
    return reply;
}

Reply CameraModel::setDate(const std::vector<uint8_t>& request) {
    Reply reply;
    reply.code = CmdSetDate;
    reply.command = "SetDate";
    uint8_t v[6] = {0, 0, 0, 0, 0, 0};
    for (size_t i = 0; i < 6 && 4 + i < request.size(); ++i) v[i] = request[4 + i];
    char text[64];
    std::snprintf(text, sizeof text, "rx cmd SetDate date=%02u-%02u-%02u %02u:%02u:%02u hex=", v[0], v[1], v[2], v[3],
                  v[4], v[5]);
    trace_.line(text + trace_.hex(v, 6));
    // Years 96..99 are 1996..1999, the others 2000..2095.
    const int year = v[0] >= 96 ? 1900 + v[0] : 2000 + v[0];
    char iso[32];
    std::snprintf(iso, sizeof iso, "%04d-%02u-%02uT%02u:%02u:%02u", year, v[1], v[2], v[3], v[4], v[5]);
    std::time_t value = 0;
    if (request.size() < 10 || v[0] > 99 || !parseClock(iso, value)) {
        reply.status = makeStatus(CmdSetDate, ResultBadParameter, 9);
        return reply;
    }
    setClock(value);
    std::snprintf(text, sizeof text, "state clock %02u-%02u-%02u %02u:%02u:%02u", v[0], v[1], v[2], v[3], v[4], v[5]);
    trace_.line(text);
    reply.status = makeStatus(CmdSetDate, ResultOk, 9);
    return reply;
}

Reply CameraModel::pictureCommand(uint16_t code, const std::vector<uint8_t>& request) {
    Reply reply;
    reply.code = code;
    reply.command = commandName(code);
    reply.hasData = true;  // a failed picture command still sends an empty data message
    const uint16_t constant = word(request, 4);
    const uint16_t parameter = word(request, 6);
    if (code == CmdGetImgInfo) {
        trace_.line("rx cmd GetImgInfo number=" + std::to_string(parameter));
    } else {
        trace_.line("rx cmd " + reply.command + " handle=" + hex16(parameter));
    }
    const size_t statusLength = nominalStatusLength(code);
    if (request.size() < 8 || constant != 2) {
        reply.status = makeStatus(code, ResultBadParameter, statusLength);
        return reply;
    }
    if (code == CmdGetImgInfo) {
        const Picture* found = this->picture(parameter);
        if (!found) {
            reply.status = makeStatus(code, ResultNoPicture, statusLength);
            return reply;
        }
        const Picture& picture = *found;
        reply.data = picture.info;
        reply.status = makeStatus(code, ResultOk, statusLength);
        // Handles are a word: from picture 0xE000 on they wrap, as a camera's would.
        putWord(reply.status, 4, static_cast<uint16_t>(0x2000 + parameter));
        uint16_t kib = picture.sizeKiB();
        if (options_.sizeClaim >= 0) {
            kib = static_cast<uint16_t>(std::min<long long>((options_.sizeClaim + 1023) / 1024, 0xFFFF));
            trace_.line("fault size-claim number=" + std::to_string(parameter) + " kib=" + std::to_string(kib));
        }
        putWord(reply.status, 6, kib);
        putWord(reply.status, 8, picture.marked ? 1 : 0);
        return reply;
    }
    const size_t number = static_cast<uint16_t>(parameter - 0x2000u);
    const Picture* found = this->picture(number);
    if (!found) {
        reply.status = makeStatus(code, ResultUnknownHandle, statusLength);
        return reply;
    }
    const Picture& picture = *found;
    if (code == CmdGetThumb && picture.thumbnail.empty()) {
        reply.status = makeStatus(code, ResultNoThumbnail, statusLength);
        return reply;
    }
    reply.data = code == CmdGetThumb ? picture.thumbnail : picture.file;
    reply.status = makeStatus(code, ResultOk, statusLength);
    return reply;
}

size_t CameraModel::pictureCount() const {
    if (!options_.cardPresent) return 0;
    if (options_.cardDir.empty() && options_.pictures > static_cast<int>(card_.pictures.size()))
        return static_cast<size_t>(options_.pictures);
    return card_.pictures.size();
}

const Picture* CameraModel::picture(size_t number) const {
    if (number < 1 || number > pictureCount() || card_.pictures.empty()) return nullptr;
    if (options_.deleted.count(static_cast<int>(number))) return nullptr;
    const Picture& found = card_.pictures[(number - 1) % card_.pictures.size()];
    return number <= card_.pictures.size() && found.deleted ? nullptr : &found;
}

}  // namespace sim
