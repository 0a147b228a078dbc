// First-version ARW data: one running sum of Huffman-coded differences over
// the whole image, column by column from the right, even rows before odd.
#include <cstdint>
#include <vector>

#include "core/loaders/loader_support.h"
#include "core/loaders/loaders.h"

namespace ostel::core {
namespace {

// (code length << 8) | difference length; each repeated 32768 >> code length times.
constexpr uint16_t kCodes[18] = {0x0F11, 0x0F10, 0x0E0F, 0x0D0E, 0x0C0D, 0x0B0C, 0x0A0B, 0x090A, 0x0809,
                                 0x0708, 0x0607, 0x0506, 0x0405, 0x0304, 0x0303, 0x0300, 0x0202, 0x0201};

std::vector<uint16_t> code_table() {
    std::vector<uint16_t> t;
    t.reserve(32769);
    t.push_back(15);
    for (uint16_t code : kCodes)
        for (int n = 32768 >> (code >> 8); n > 0; --n) t.push_back(code);
    return t;
}

}  // namespace

void sony_arw_huffman_load_raw(DecoderSession& s) {
    const int raw_width = s.stored_width, raw_height = s.stored_height;
    if (raw_width <= 0 || raw_height <= 0) {
        count_undecodable(s);
        return;
    }
    const std::vector<uint16_t> table = code_table();
    loader_detail::BitCursor bits(s);
    bits.reset();
    int sum = 0;
    const int width = s.width, height = s.height;
    for (int col = raw_width - 1; col >= 0; --col) {
        // Even rows first, then the odd ones.
        for (int pass = 0; pass < 2; ++pass) {
            for (int row = pass; row < raw_height; row += 2) {
                const int len = static_cast<int>(bits.huff(table.data()));
                sum += loader_detail::extend_difference(bits.bits(len), len);
                if (sum >> 12) ++s.short_read_count;
                if (row < height && col < width) s.bayer_store(row, col, static_cast<uint16_t>(sum));
            }
        }
    }
}

}  // namespace ostel::core
