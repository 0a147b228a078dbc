#include "tools/simcam/bit_writer.h"

namespace ostel::simcam {

void BitWriter::emit(uint8_t byte) {
    out_.push_back(byte);
    if (stuff_ && byte == 0xFF) out_.push_back(0x00);
}

void BitWriter::put(uint32_t value, int n) {
    if (n <= 0) return;
    const uint64_t mask = n >= 32 ? 0xFFFFFFFFull : ((1ull << n) - 1);
    acc_ = (acc_ << n) | (value & mask);
    count_ += n;
    while (count_ >= 8) {
        count_ -= 8;
        emit(static_cast<uint8_t>(acc_ >> count_));
    }
    acc_ &= (1ull << count_) - 1;
}

void BitWriter::flush(bool fill_ones) {
    if (count_ == 0) return;
    const int pad = 8 - count_;
    put(fill_ones ? (1u << pad) - 1 : 0, pad);
}

std::array<HuffCode, 256> canonical_codes(const uint8_t* table) {
    std::array<HuffCode, 256> codes{};
    const uint8_t* symbol = table + 16;
    uint32_t code = 0;
    for (int len = 1; len <= 16; ++len) {
        for (int i = 0; i < table[len - 1]; ++i) {
            codes[*symbol++] = {static_cast<uint16_t>(code), static_cast<uint8_t>(len)};
            ++code;
        }
        code <<= 1;
    }
    return codes;
}

}  // namespace ostel::simcam
