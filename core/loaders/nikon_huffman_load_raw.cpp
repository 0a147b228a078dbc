// Compressed NEF data: Huffman-coded differences against two vertical and
// two horizontal predictors, mapped through a curve read from the maker note.
// Some bodies switch to a second table part way down the image.
#include <algorithm>
#include <cstdint>

#include "core/loaders/loader_support.h"
#include "core/loaders/loaders.h"

namespace ostel::core {
namespace {

using loader_detail::BitCursor;

constexpr int kTreeCount = 6;
constexpr uint8_t kTrees[kTreeCount][32] = {
    {0, 1, 5, 1, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 0, 5, 4, 3, 6, 2, 7, 1, 0, 8, 9, 11, 10, 12, 0},
    {0, 1, 5, 1, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 0, 0x39, 0x5A, 0x38, 0x27, 0x16, 5, 4, 3, 2, 1, 0, 11, 12, 12},
    {0, 1, 4, 2, 3, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 4, 6, 3, 7, 2, 8, 1, 9, 0, 10, 11, 12},
    {0, 1, 4, 3, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 0, 5, 6, 4, 7, 8, 3, 9, 2, 1, 0, 10, 11, 12, 13, 14},
    {0, 1, 5, 1, 1, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 8, 0x5C, 0x4B, 0x3A, 0x29, 7, 6, 5, 4, 3, 2, 1, 0, 13, 14},
    {0, 1, 4, 2, 2, 3, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 7, 6, 8, 5, 9, 4, 10, 3, 11, 12, 2, 0, 1, 13, 14},
};

HuffTable tree_table(int tree) {
    const uint8_t* cursor = kTrees[tree];
    return make_decoder(cursor, kTrees[tree] + sizeof kTrees[tree]);
}

}  // namespace

void nikon_huffman_load_raw(DecoderSession& s) {
    const int bps = s.bits_per_sample;
    if (bps < 1 || bps > 16 || s.stored_width <= 0 || s.height <= 0 || s.lin_table.size() < 65536) {
        count_undecodable(s);
        return;
    }
    uint16_t* curve = s.lin_table.data();

    s.seek(s.aux_offset);
    const int ver0 = s.getc();
    const int ver1 = s.getc();
    if (ver0 == 0x49 || ver1 == 0x58) s.seek(2110, SEEK_CUR);
    int tree = ver0 == 0x46 ? 2 : 0;
    if (bps == 14) tree += 3;

    uint16_t vpred[2][2];
    s.read_u16_block(&vpred[0][0], 4);
    int max = (1 << bps) & 0x7FFF;
    const int csize = s.read_u16();
    const int step = csize > 1 ? max / (csize - 1) : 0;
    int split = 0;
    if (ver0 == 0x44 && ver1 == 0x20 && step > 0) {
        // (csize - 1) * step never exceeds max, so every index stays in the curve.
        for (int i = 0; i < csize; ++i) curve[i * step] = s.read_u16();
        for (int i = 0; i < max; ++i) {
            const int r = i % step;
            const int64_t lo = curve[i - r], hi = curve[i - r + step];
            curve[i] = static_cast<uint16_t>((lo * (step - r) + hi * r) / step);
        }
        s.seek(s.aux_offset + 562);
        split = s.read_u16();
    } else if (ver0 != 0x46 && csize <= 0x4001) {
        s.read_u16_block(curve, static_cast<size_t>(csize));
        max = csize;
    }
    // Flat top of the curve: the highest distinct entry is the white point.
    while (max > 2 && curve[max - 2] == curve[max - 1]) --max;

    HuffTable table = tree_table(tree);
    s.seek(s.raw_offset);
    BitCursor bits(s);
    bits.reset();
    int min = 0;
    const int raw_width = s.stored_width;
    const int left = s.crop_left;
    for (int row = 0; row < s.height; ++row) {
        if (split && row == split && tree + 1 < kTreeCount) {
            table = tree_table(tree + 1);
            min = 16;
            max += 32;
        }
        loader_detail::RowStore store(s, row);
        uint16_t hpred[2] = {0, 0};
        for (int col = 0; col < raw_width; ++col) {
            const unsigned symbol = bits.huff(table);
            const int len = symbol & 15;
            const int shift = static_cast<int>(symbol >> 4);
            int diff = 0;
            if (len > 0) {
                const int extra = len - shift > 0 ? len - shift : 0;
                diff = static_cast<int>((((bits.bits(extra) << 1) + 1) << shift) >> 1);
                if ((diff & (1 << (len - 1))) == 0) diff -= (1 << len) - (shift == 0 ? 1 : 0);
            }
            if (col < 2) {
                vpred[row & 1][col] = static_cast<uint16_t>(vpred[row & 1][col] + diff);
                hpred[col] = vpred[row & 1][col];
            } else {
                hpred[col & 1] = static_cast<uint16_t>(hpred[col & 1] + diff);
            }
            const uint16_t pred = hpred[col & 1];
            if (static_cast<uint16_t>(pred + min) >= max) ++s.short_read_count;
            const int index = std::clamp<int>(static_cast<int16_t>(pred), 0, 0x3FFF);
            store.put(col - left, curve[index]);
        }
    }
}

}  // namespace ostel::core
