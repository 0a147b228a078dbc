// Compressed ORF data (12-bit): adaptive Golomb-like codes per column parity
// and a prediction from the same-colour neighbours to the left and above.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/loaders/loader_support.h"
#include "core/loaders/loaders.h"

namespace ostel::core {
namespace {

// 12-bit lookup of the count of leading zero bits: (bits consumed << 8) | zeros.
// All twelve bits zero gives 12 and consumes the twelve.
std::vector<uint16_t> leading_zero_table() {
    std::vector<uint16_t> t;
    t.reserve(4097);
    t.push_back(12);
    t.push_back(0x0C0C);
    for (int i = 11; i >= 0; --i)
        for (int n = 2048 >> i; n > 0; --n) t.push_back(static_cast<uint16_t>(((i + 1) << 8) | i));
    return t;
}

int predict(const uint16_t* cur, const uint16_t* above, int row, int col) {
    if (row < 2) return col < 2 ? 0 : cur[col - 2];
    if (col < 2) return above[col];
    const int w = cur[col - 2], n = above[col], nw = above[col - 2];
    if ((w < nw && nw < n) || (n < nw && nw < w)) {
        if (std::abs(w - nw) > 32 || std::abs(n - nw) > 32) return w + n - nw;
        return (w + n) >> 1;
    }
    return std::abs(w - nw) > std::abs(n - nw) ? w : n;
}

}  // namespace

void olympus_adaptive_load_raw(DecoderSession& s) {
    const int raw_width = s.stored_width;
    if (raw_width <= 0 || s.height <= 0) {
        count_undecodable(s);
        return;
    }
    const std::vector<uint16_t> lz = leading_zero_table();
    s.seek(7, SEEK_CUR);
    loader_detail::BitCursor bits(s);
    bits.reset();
    const int width = std::min(s.width, raw_width);
    // Three decoded rows: the current one and the two above it.
    std::vector<uint16_t> lines(static_cast<size_t>(3) * static_cast<size_t>(width > 0 ? width : 1));
    for (int row = 0; row < s.height; ++row) {
        uint16_t* cur = lines.data() + static_cast<size_t>(row % 3) * width;
        const uint16_t* above = lines.data() + static_cast<size_t>((row + 1) % 3) * width;  // row - 2
        loader_detail::RowStore store(s, row);
        int carry[2][3] = {{0, 0, 0}, {0, 0, 0}};
        for (int col = 0; col < raw_width; ++col) {
            int* c = carry[col & 1];
            const int i = c[2] < 3 ? 2 : 0;
            int nbits = 2 + i;
            while (nbits < 16 && (static_cast<uint16_t>(c[0]) >> (nbits + i))) ++nbits;
            const unsigned b = bits.bits(3);
            const int low = static_cast<int>(b & 3);
            const int sign = (b & 4) ? -1 : 0;
            int high = static_cast<int>(bits.huff(lz.data()));
            if (high == 12) high = static_cast<int>(bits.bits(16 - nbits) >> 1);
            const int magnitude = (high << nbits) | static_cast<int>(bits.bits(nbits));
            c[0] = magnitude;
            const int diff = (magnitude ^ sign) + c[1];
            c[1] = (diff * 3 + c[1]) >> 5;
            c[2] = magnitude > 16 ? 0 : c[2] + 1;
            if (col >= width) continue;
            const int pred = predict(cur, above, row, col);
            const uint16_t value = static_cast<uint16_t>(pred + ((diff * 4) | low));
            if (value >> 12) ++s.short_read_count;
            cur[col] = value;
            store.put(col, value);
        }
    }
}

}  // namespace ostel::core
