#include "tools/sim/trace.h"

namespace sim {

Trace::~Trace() {
    if (file_) std::fclose(file_);
}

bool Trace::open(const std::string& path, bool withTime, bool fullHex) {
    file_ = std::fopen(path.c_str(), "w");
    withTime_ = withTime;
    fullHex_ = fullHex;
    start_ = std::chrono::steady_clock::now();
    return file_ != nullptr;
}

void Trace::line(const std::string& text) {
    if (!file_) return;
    if (withTime_) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        std::fprintf(file_, "[%11.6f] ", seconds);
    }
    std::fputs(text.c_str(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

std::string Trace::hex(const uint8_t* bytes, size_t count) const {
    static const char digits[] = "0123456789abcdef";
    const size_t shown = fullHex_ || count <= 32 ? count : 32;
    std::string out;
    out.reserve(shown * 3 + 4);
    for (size_t i = 0; i < shown; ++i) {
        if (i) out.push_back(' ');
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 15]);
    }
    if (shown < count) out += " ...";
    return out;
}

std::string hex16(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

}  // namespace sim
