#pragma once
// A decoder session prepared the way the decode entry leaves it before a
// loader runs: file bytes in memory, geometry set, zeroed image allocated.
#include <cstdint>
#include <string>
#include <vector>

#include "core/session/decoder_session.h"

namespace ostel::test {

struct Geometry {
    int raw_width, raw_height, width, height;
    int top = 0, left = 0;
    uint32_t pattern = 0;
};

inline void prepare(core::DecoderSession& s, std::vector<uint8_t> bytes, const Geometry& g,
                    uint16_t order = 0x4949) {
    s.input = core::ByteSource(std::move(bytes));
    s.byte_order = order;
    s.stored_width = g.raw_width;
    s.stored_height = g.raw_height;
    s.width = g.width;
    s.height = g.height;
    s.crop_top = g.top;
    s.crop_left = g.left;
    s.cfa_pattern = g.pattern;
    s.half_grid = 0;
    s.image_width = g.width;
    s.image_height = g.height;
    s.image.assign(size_t(g.width) * size_t(g.height), core::Pixel4{});
    s.seek(s.raw_offset);
}

inline uint16_t plane(core::DecoderSession& s, int row, int col, int c) {
    return s.image[size_t(row) * size_t(s.image_width) + size_t(col)][size_t(c)];
}

// MSB-first bit packer for hand-built streams.
class BitPacker {
public:
    BitPacker& put(uint32_t value, int n) {
        for (int i = n - 1; i >= 0; --i) bits_.push_back(((value >> i) & 1) != 0);
        return *this;
    }
    // A code given as a string of '0'/'1'.
    BitPacker& code(const std::string& c) {
        for (char ch : c) bits_.push_back(ch == '1');
        return *this;
    }
    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> out((bits_.size() + 7) / 8, 0);
        for (size_t i = 0; i < bits_.size(); ++i)
            if (bits_[i]) out[i / 8] |= uint8_t(0x80 >> (i % 8));
        return out;
    }
    // 32-bit words, written least significant byte first.
    std::vector<uint8_t> words_le() const {
        std::vector<uint8_t> b = bytes();
        b.resize((b.size() + 3) / 4 * 4, 0);
        for (size_t i = 0; i < b.size(); i += 4) {
            std::swap(b[i], b[i + 3]);
            std::swap(b[i + 1], b[i + 2]);
        }
        return b;
    }

private:
    std::vector<bool> bits_;
};

}  // namespace ostel::test
