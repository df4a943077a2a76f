// The simulator's trace: one event per line, flushed at once so that a test can read it
// while the simulator runs. The line formats are listed in --help.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace sim {

class Trace {
public:
    Trace() = default;
    ~Trace();
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    bool open(const std::string& path, bool withTime, bool fullHex);
    bool enabled() const { return file_ != nullptr; }
    // Writes one line (no newline in text).
    void line(const std::string& text);
    // " hex=.." of the bytes, cut after 32 bytes unless full hex was asked for.
    std::string hex(const uint8_t* bytes, size_t count) const;
    std::string hex(const std::vector<uint8_t>& bytes) const { return hex(bytes.data(), bytes.size()); }

private:
    FILE* file_ = nullptr;
    bool withTime_ = false;
    bool fullHex_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

std::string hex16(uint16_t value);  // "0x0C02"

}  // namespace sim
