// Decides which faults hit which block transmission, from the fault options: counted faults
// (the next N eligible transmissions) and random ones (a seeded generator, so that a run can
// be repeated exactly), and which status messages go out cut short.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tools/sim/sim_options.h"

namespace sim {

struct BlockFaults {
    bool corrupt = false;
    bool extraEnq = false;
    bool drop = false;
    bool corruptLength = false;
    bool corruptEscape = false;
    bool truncate = false;
    std::vector<uint8_t> noise;  // random bytes sent before the packet's STX
    uint32_t knob = 0;           // a random number that shapes the damage
};

class FaultPlan {
public:
    explicit FaultPlan(const SimOptions& options);

    // Faults for the next transmission of a block answering command.
    BlockFaults nextTransmission(const std::string& command);
    // Random bytes to send before a block's ENQ (empty: none).
    std::vector<uint8_t> noiseBeforeEnquiry(const std::string& command);
    // Whether the status of command now going out is replaced by random bytes.
    bool garbageStatus(const std::string& command, std::vector<uint8_t>& bytes);
    // Whether an acknowledged block of command is sent once more instead of EOT.
    bool repeatAfterAck(const std::string& command);
    // Whether the next CancelTransfer is refused, and how.
    bool refuseCancel();
    bool refuseWithNak() const { return refuseWithNak_; }
    // Whether the status message of command now going out is cut, and to how many bytes.
    bool shortStatus(const std::string& command, size_t& length);

private:
    bool eligible(const std::string& command) const;
    bool take(FaultSetting& setting);

    std::vector<uint8_t> noiseBytes();

    FaultSetting corrupt_, repeat_, extraEnq_, drop_, noise_, corruptLength_, corruptEscape_, truncate_;
    std::string garbageCommand_;
    int garbageLeft_;
    std::string command_;
    int skipLeft_;
    int refuseLeft_;
    bool refuseWithNak_;
    std::vector<StatusCut> cuts_;
    std::mt19937 random_;
};

}  // namespace sim
