// The bit writer of a baseline JPEG's entropy-coded data (T.81 F.1.2.3): bits go out most
// significant first, every 0xFF byte is followed by a stuffed 0x00, and flush pads the last
// byte with 1-bits. Shared by the simulator's encoder and the tests' JPEG stream writer.
#pragma once

#include <cstdint>
#include <vector>

namespace jpegbits {

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    // Appends the low count bits of bits.
    void put(uint32_t bits, int count) {
        for (int i = count - 1; i >= 0; --i) {
            byte_ = static_cast<uint8_t>((byte_ << 1) | ((bits >> i) & 1u));
            if (++filled_ == 8) emit();
        }
    }
    void flush() {
        while (filled_ != 0) put(1, 1);
    }

private:
    void emit() {
        out_.push_back(byte_);
        if (byte_ == 0xFF) out_.push_back(0x00);
        byte_ = 0;
        filled_ = 0;
    }
    std::vector<uint8_t>& out_;
    uint8_t byte_ = 0;
    int filled_ = 0;
};

}  // namespace jpegbits
