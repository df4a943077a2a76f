// A small TIFF writer for tests: IFD chains, sub-IFDs (the Exif IFD), values inline or at
// offsets, in either byte order, with a data area (strips) right after the header.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testtiff {

enum Type : uint16_t { Byte = 1, Ascii = 2, Short = 3, Long = 4, Rational = 5, Undefined = 7, SRational = 10 };

struct Entry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    std::vector<uint32_t> numbers;  // BYTE/SHORT/LONG values, or numerator/denominator pairs
    std::vector<uint8_t> bytes;     // ASCII and UNDEFINED values
    int pointsToIfd = -1;           // LONG whose value is the offset of that IFD
    bool forceOffset = false;       // store even a small value at an offset
};

class Writer {
public:
    explicit Writer(bool littleEndian) : little_(littleEndian) {}

    // Data placed right after the 8-byte header (at offset 8): strips.
    void setData(std::vector<uint8_t> data) {
        data_ = std::move(data);
        if (data_.size() % 2) {
            data_.push_back(0);
        }
    }
    static uint32_t dataOffset() { return 8; }

    int addIfd() {
        ifds_.emplace_back();
        return static_cast<int>(ifds_.size()) - 1;
    }
    void chain(std::vector<int> order) { chain_ = std::move(order); }

    void numbers(int ifd, uint16_t tag, Type type, std::vector<uint32_t> values) {
        Entry e;
        e.tag = tag;
        e.type = type;
        e.count = static_cast<uint32_t>(type == Rational || type == SRational ? values.size() / 2 : values.size());
        e.numbers = std::move(values);
        ifds_[ifd].push_back(e);
    }
    void text(int ifd, uint16_t tag, const std::string& s) {
        Entry e;
        e.tag = tag;
        e.type = Ascii;
        e.bytes.assign(s.begin(), s.end());
        e.bytes.push_back(0);
        e.count = static_cast<uint32_t>(e.bytes.size());
        ifds_[ifd].push_back(e);
    }
    void undefined(int ifd, uint16_t tag, std::vector<uint8_t> bytes) {
        Entry e;
        e.tag = tag;
        e.type = Undefined;
        e.count = static_cast<uint32_t>(bytes.size());
        e.bytes = std::move(bytes);
        ifds_[ifd].push_back(e);
    }
    void pointer(int ifd, uint16_t tag, int target) {
        Entry e;
        e.tag = tag;
        e.type = Long;
        e.count = 1;
        e.pointsToIfd = target;
        ifds_[ifd].push_back(e);
    }
    // An entry with arbitrary type, count and 4-byte value field (for broken files).
    void raw(int ifd, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        Entry e;
        e.tag = tag;
        e.type = type;
        e.count = count;
        e.numbers = {value};
        e.pointsToIfd = -2;
        ifds_[ifd].push_back(e);
    }

    std::vector<uint8_t> build() const {
        // Layout: header, data, then each IFD followed by its out-of-line values.
        std::vector<uint32_t> ifdOffset(ifds_.size());
        uint32_t at = 8 + static_cast<uint32_t>(data_.size());
        for (size_t i = 0; i < ifds_.size(); ++i) {
            ifdOffset[i] = at;
            at += 2 + 12 * static_cast<uint32_t>(ifds_[i].size()) + 4;
            for (const Entry& e : ifds_[i]) {
                const uint32_t size = valueSize(e);
                if (size > 4 || e.forceOffset) {
                    at += (size + 1) & ~1u;
                }
            }
        }
        std::vector<uint8_t> out;
        put16(out, little_ ? 0x4949 : 0x4D4D, false);
        put16(out, 42, little_);
        put32(out, chain_.empty() ? 0 : ifdOffset[chain_[0]]);
        out.insert(out.end(), data_.begin(), data_.end());
        for (size_t i = 0; i < ifds_.size(); ++i) {
            uint32_t extraAt = ifdOffset[i] + 2 + 12 * static_cast<uint32_t>(ifds_[i].size()) + 4;
            std::vector<uint8_t> extra;
            put16(out, static_cast<uint16_t>(ifds_[i].size()), little_);
            for (const Entry& e : ifds_[i]) {
                put16(out, e.tag, little_);
                put16(out, e.type, little_);
                put32(out, e.count);
                if (e.pointsToIfd >= 0) {
                    put32(out, ifdOffset[e.pointsToIfd]);
                    continue;
                }
                if (e.pointsToIfd == -2) {
                    put32(out, e.numbers[0]);
                    continue;
                }
                std::vector<uint8_t> value = serialise(e);
                if (value.size() > 4 || e.forceOffset) {
                    put32(out, extraAt + static_cast<uint32_t>(extra.size()));
                    extra.insert(extra.end(), value.begin(), value.end());
                    if (extra.size() % 2) {
                        extra.push_back(0);
                    }
                } else {
                    value.resize(4, 0);
                    out.insert(out.end(), value.begin(), value.end());
                }
            }
            put32(out, next(static_cast<int>(i), ifdOffset));
            out.insert(out.end(), extra.begin(), extra.end());
        }
        return out;
    }

private:
    static uint32_t typeSize(uint16_t type) {
        switch (type) {
        case Short: return 2;
        case Long: return 4;
        case Rational:
        case SRational: return 8;
        default: return 1;
        }
    }
    static uint32_t valueSize(const Entry& e) {
        if (e.pointsToIfd != -1) {
            return 4;
        }
        return e.type == Ascii || e.type == Undefined ? static_cast<uint32_t>(e.bytes.size())
                                                      : e.count * typeSize(e.type);
    }
    std::vector<uint8_t> serialise(const Entry& e) const {
        std::vector<uint8_t> v;
        if (e.type == Ascii || e.type == Undefined) {
            return e.bytes;
        }
        for (uint32_t n : e.numbers) {
            if (e.type == Byte) {
                v.push_back(static_cast<uint8_t>(n));
            } else if (e.type == Short) {
                put16(v, static_cast<uint16_t>(n), little_);
            } else {
                put32(v, n);
            }
        }
        return v;
    }
    uint32_t next(int ifd, const std::vector<uint32_t>& offsets) const {
        for (size_t i = 0; i + 1 < chain_.size(); ++i) {
            if (chain_[i] == ifd) {
                return offsets[chain_[i + 1]];
            }
        }
        return 0;
    }
    static void put16(std::vector<uint8_t>& out, uint16_t v, bool little) {
        if (little) {
            out.insert(out.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
        } else {
            out.insert(out.end(), {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
        }
    }
    void put32(std::vector<uint8_t>& out, uint32_t v) const {
        if (little_) {
            put16(out, static_cast<uint16_t>(v), true);
            put16(out, static_cast<uint16_t>(v >> 16), true);
        } else {
            put16(out, static_cast<uint16_t>(v >> 16), false);
            put16(out, static_cast<uint16_t>(v), false);
        }
    }

    bool little_;
    std::vector<uint8_t> data_;
    std::vector<std::vector<Entry>> ifds_;
    std::vector<int> chain_;
};

// A picture information block: SOI, an EXIF APP1 segment holding `tiff`, and a
// three-component SOF0 of the given size. `declaredLength` overrides the APP1 length.
inline std::vector<uint8_t> exifBlock(const std::vector<uint8_t>& tiff, uint16_t width, uint16_t height,
                                      int declaredLength = -1) {
    std::vector<uint8_t> b{0xFF, 0xD8, 0xFF, 0xE1};
    const int length = declaredLength >= 0 ? declaredLength : static_cast<int>(tiff.size()) + 8;
    b.push_back(static_cast<uint8_t>(length >> 8));
    b.push_back(static_cast<uint8_t>(length));
    b.insert(b.end(), {'E', 'x', 'i', 'f', 0, 0});
    b.insert(b.end(), tiff.begin(), tiff.end());
    b.insert(b.end(), {0xFF, 0xC0, 0, 17, 8, static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height),
                       static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width), 3, 1, 0x21, 0, 2, 0x11, 1, 3,
                       0x11, 1});
    return b;
}

}  // namespace testtiff
