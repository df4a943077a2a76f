// What the camera knows and how it answers each command: bit rate, status record (power,
// card, picture count, clock), busy state and the card. Framing is the engine's business.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "tools/sim/card.h"
#include "tools/sim/sim_options.h"
#include "tools/sim/trace.h"

namespace sim {

// Command codes and the results the camera gives.
enum : uint16_t {
    CmdSetIO = 0x9080,
    CmdGetIOCap = 0x9000,
    CmdGetStat = 0x9020,
    CmdSetDate = 0x90B0,
    CmdGetImgInfo = 0x8820,
    CmdGetThumb = 0x8800,
    CmdGetJpeg = 0x8810,
    CmdCancelTransfer = 0x9E00,
};
enum : uint16_t {
    ResultOk = 0x0000,
    ResultNoPicture = 0x0810,
    ResultNoThumbnail = 0x0811,
    ResultUnknownHandle = 0x0813,
    ResultBusy = 0x0C02,
    ResultCancelRefused = 0x0C03,
    ResultBadParameter = 0x0E01,
    ResultUnknownCommand = 0x0E02,
};

const char* commandName(uint16_t code);

// The camera's answer to one request: an optional data message, then the status message.
struct Reply {
    uint16_t code = 0;
    std::string command;
    bool hasData = false;
    std::vector<uint8_t> data;
    std::vector<uint8_t> status;
    uint32_t newRate = 0;  // SetIO: rate that applies once the status has gone out
    uint16_t result() const { return status.size() >= 4 ? static_cast<uint16_t>(status[2] | (status[3] << 8)) : 0; }
};

class CameraModel {
public:
    CameraModel(const SimOptions& options, Card card, Trace& trace);

    // Decodes the request (tracing it as "rx cmd ...") and builds the reply.
    Reply handle(const std::vector<uint8_t>& request);
    // A refused cancel's status.
    Reply refusedCancel();

    uint32_t rate() const { return rate_; }
    void applyRate(uint32_t rate);
    const Card& card() const { return card_; }

    static uint16_t rateCode(uint32_t rate);  // 0 when the rate is not in the table
    static uint32_t rateForCode(uint16_t code);  // 0 when the code is not in the table
    static bool parseClock(const std::string& text, std::time_t& out);

private:
    Reply setIO(const std::vector<uint8_t>& request);
    Reply getStat(const std::vector<uint8_t>& request);
    Reply setDate(const std::vector<uint8_t>& request);
    Reply pictureCommand(uint16_t code, const std::vector<uint8_t>& request);
    bool takeBusy(Reply& reply, size_t statusLength);
    // Pictures the camera reports, and picture number's record (null when there is none or it
    // is deleted). Beyond the card's distinct pictures the built-in ones repeat.
    size_t pictureCount() const;
    const Picture* picture(size_t number) const;
    std::time_t now() const;
    void setClock(std::time_t value);

    const SimOptions& options_;
    Card card_;
    Trace& trace_;
    uint32_t rate_;
    uint16_t settingsWord_ = 0x0011;
    int busyLeft_;
    std::time_t clockBase_ = 0;
    std::chrono::steady_clock::time_point clockSetAt_;
};

}  // namespace sim
