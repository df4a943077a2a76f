#include "tools/sim/fault_plan.h"

namespace sim {

FaultPlan::FaultPlan(const SimOptions& options)
    : corrupt_(options.corrupt),
      repeat_(options.repeat),
      extraEnq_(options.extraEnq),
      drop_(options.drop),
      noise_(options.noise),
      corruptLength_(options.corruptLength),
      corruptEscape_(options.corruptEscape),
      truncate_(options.truncate),
      garbageCommand_(options.garbageStatus),
      garbageLeft_(options.garbageStatus.empty() ? 0 : options.garbageCount),
      command_(options.faultCommand),
      skipLeft_(options.faultAfter),
      refuseLeft_(options.refuseCancel),
      refuseWithNak_(options.refuseCancelWithNak),
      cuts_(options.shortStatus),
      random_(options.seed) {}

bool FaultPlan::eligible(const std::string& command) const {
    return command_.empty() || command_ == command;
}

bool FaultPlan::take(FaultSetting& setting) {
    if (setting.count > 0 && skipLeft_ <= 0) {
        --setting.count;
        return true;
    }
    if (setting.rate <= 0.0) return false;
    // 24 random bits give the probability with plenty of resolution for rates down to 1e-6.
    const double draw = static_cast<double>(random_() >> 8) / static_cast<double>(1u << 24);
    return draw < setting.rate;
}

BlockFaults FaultPlan::nextTransmission(const std::string& command) {
    BlockFaults faults;
    if (!eligible(command)) return faults;
    faults.corrupt = take(corrupt_);
    faults.extraEnq = take(extraEnq_);
    faults.drop = take(drop_);
    faults.corruptLength = take(corruptLength_);
    faults.corruptEscape = take(corruptEscape_);
    faults.truncate = take(truncate_);
    if (take(noise_)) faults.noise = noiseBytes();
    faults.knob = random_();
    if (skipLeft_ > 0) --skipLeft_;
    return faults;
}

std::vector<uint8_t> FaultPlan::noiseBytes() {
    std::vector<uint8_t> bytes(1 + random_() % 8);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random_());
    return bytes;
}

std::vector<uint8_t> FaultPlan::noiseBeforeEnquiry(const std::string& command) {
    if (!eligible(command) || noise_.rate <= 0.0) return {};
    const double draw = static_cast<double>(random_() >> 8) / static_cast<double>(1u << 24);
    return draw < noise_.rate ? noiseBytes() : std::vector<uint8_t>{};
}

bool FaultPlan::garbageStatus(const std::string& command, std::vector<uint8_t>& bytes) {
    if (garbageLeft_ <= 0 || command != garbageCommand_) return false;
    --garbageLeft_;
    bytes.resize(random_() % 65);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random_());
    return true;
}

bool FaultPlan::repeatAfterAck(const std::string& command) {
    return eligible(command) && take(repeat_);
}

bool FaultPlan::refuseCancel() {
    if (refuseLeft_ <= 0) return false;
    --refuseLeft_;
    return true;
}

bool FaultPlan::shortStatus(const std::string& command, size_t& length) {
    for (auto cut = cuts_.begin(); cut != cuts_.end(); ++cut) {
        if (cut->command != command) continue;
        length = cut->length;
        cuts_.erase(cut);
        return true;
    }
    return false;
}

}  // namespace sim
