// Kodak compression 262: Huffman-coded 8-bit differences in strips of 32
// rows, predicted from the diagonal or vertical neighbours depending on the
// chessboard parity, then mapped through the curve.
#include <cstdint>
#include <vector>

#include "core/ljpeg/bit_reader.h"
#include "core/ljpeg/ljpeg.h"
#include "core/loaders/legacy_support.h"
#include "core/loaders/loaders.h"

namespace ostel::core {

namespace {

constexpr uint8_t kTables[2][26] = {
    {0, 1, 5, 1, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9},
    {0, 3, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9},
};

}  // namespace

void kodak_262_load_raw(DecoderSession& s) {
    if (!legacy::image_ready(s) || s.stored_width <= 0 || s.stored_height <= 0) {
        count_undecodable(s);
        return;
    }
    HuffTable tables[2];
    for (int i = 0; i < 2; ++i) {
        const uint8_t* cursor = kTables[i];
        tables[i] = make_decoder(cursor, kTables[i] + sizeof kTables[i]);
    }
    s.byte_order = 0x4D4D;
    const int64_t raw_w = s.stored_width;
    const size_t strips = static_cast<size_t>((s.stored_height + 63) >> 5);
    auto strip = legacy::scratch<uint32_t>(strips);
    for (uint32_t& offset : strip) offset = s.read_u32();
    auto buf = legacy::scratch<uint8_t>(static_cast<size_t>(32 * raw_w));

    int64_t black_sum = 0;
    int64_t pi = 0;
    for (int row = 0; row < s.stored_height; ++row) {
        if (!(row & 31)) {
            s.seek(strip[static_cast<size_t>(row >> 5)]);
            reset_bits(s);
            pi = 0;
        }
        for (int col = 0; col < s.stored_width; ++col) {
            const int chess = (row + col) & 1;
            int64_t pi1 = chess ? pi - 2 : pi - raw_w - 1;
            int64_t pi2 = chess ? pi - 2 * raw_w : pi - raw_w + 1;
            if (col <= chess || pi1 < 0) pi1 = pi2;
            if (pi2 < 0) pi2 = pi1;
            if (pi1 < 0 && col > 1) pi1 = pi2 = pi - 2;
            const int pred = pi1 < 0 ? 0 : (buf[static_cast<size_t>(pi1)] + buf[static_cast<size_t>(pi2)]) >> 1;
            const int value = pred + read_difference(s, tables[chess]);
            if (value < 0 || value > 255) ++s.short_read_count;
            const uint8_t stored = static_cast<uint8_t>(value);
            buf[static_cast<size_t>(pi++)] = stored;
            const uint16_t sample = s.lin_table[stored];
            // Raw rows are image rows here; rows past the visible height
            // (identification should make the two equal) are dropped.
            const int vcol = col - s.crop_left;
            if (vcol >= 0 && vcol < s.width) {
                if (row < s.height) s.bayer_store(row, vcol, sample);
            } else {
                black_sum += sample;
            }
        }
    }
    if (s.stored_width > s.width)
        s.black_level = static_cast<int>(black_sum / (int64_t(s.stored_width - s.width) * s.height));
}

}  // namespace ostel::core
