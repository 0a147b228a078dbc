#pragma once
// MSB-first bit output, optionally with the JPEG rule that every 0xFF data
// byte is followed by a 0x00, and canonical Huffman codes built from the
// usual table of 16 counts followed by the symbols.
#include <array>
#include <cstdint>
#include <vector>

namespace ostel::simcam {

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out, bool stuff_ff = false) : out_(out), stuff_(stuff_ff) {}
    // Appends the low n bits of value (n = 0..32), most significant first.
    void put(uint32_t value, int n);
    // Pads the last byte with 1 bits (the JPEG fill) or 0 bits.
    void flush(bool fill_ones = true);

private:
    void emit(uint8_t byte);
    std::vector<uint8_t>& out_;
    bool stuff_;
    uint64_t acc_ = 0;
    int count_ = 0;
};

struct HuffCode {
    uint16_t code = 0;
    uint8_t length = 0;  // 0: symbol has no code
};

// Codes for all 256 symbols of a table (counts[16] then symbols).
std::array<HuffCode, 256> canonical_codes(const uint8_t* table);

// Number of bits of a difference in the JPEG sense (0 for 0, else 1..16).
inline int diff_category(int diff) {
    unsigned m = static_cast<unsigned>(diff < 0 ? -diff : diff);
    int n = 0;
    while (m) {
        ++n;
        m >>= 1;
    }
    return n;
}

// The extra bits that follow a category code: the value itself when
// positive, value - 1 in n bits (ones' complement) when negative.
inline uint32_t diff_bits(int diff, int category) {
    if (category == 0) return 0;
    const int v = diff < 0 ? diff - 1 : diff;
    return static_cast<uint32_t>(v) & ((1u << category) - 1);
}

}  // namespace ostel::simcam
