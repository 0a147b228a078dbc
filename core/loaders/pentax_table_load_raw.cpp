// Compressed PEF data: differences coded with a Huffman table that the maker
// note gives as 13 code start values and 13 code lengths.
#include <cstdint>
#include <vector>

#include "core/identify/limits.h"
#include "core/loaders/loader_support.h"
#include "core/loaders/loaders.h"

namespace ostel::core {

void pentax_table_load_raw(DecoderSession& s) {
    if (s.stored_width <= 0 || s.stored_height <= 0) {
        count_undecodable(s);
        return;
    }
    // Without the whole code table there is nothing to decode with.
    if (!limits::within_file(s, s.aux_offset, 39)) {
        count_undecodable(s);
        return;
    }
    s.seek(s.aux_offset);
    uint16_t start[13];
    for (uint16_t& v : start) v = s.read_u16();
    int length[13];
    for (int& v : length) {
        const int c = s.getc();
        v = c < 0 ? 0 : c;
    }
    // 12-bit lookup: entry 0 is the code length looked at, then one entry
    // per 12-bit prefix. Codes longer than 12 bits cover no prefix.
    std::vector<uint16_t> table(4097, 0);
    table[0] = 12;
    for (int c = 0; c < 13; ++c) {
        const int span = length[c] <= 12 ? (4096 >> length[c]) : 0;
        if (span == 0) continue;
        const int last = (start[c] + span - 1) & 4095;
        // start values above 4095 (or past the wrapped end) cover nothing.
        for (int j = start[c]; j <= last; ++j)
            table[static_cast<size_t>(j) + 1] = static_cast<uint16_t>((length[c] << 8) | c);
    }

    s.seek(s.raw_offset);
    loader_detail::BitCursor bits(s);
    bits.reset();
    uint16_t vpred[2][2] = {{0, 0}, {0, 0}};
    uint16_t hpred[2] = {0, 0};
    for (int row = 0; row < s.stored_height; ++row) {
        loader_detail::RowStore store(s, row - s.crop_top);
        for (int col = 0; col < s.stored_width; ++col) {
            const int len = static_cast<int>(bits.huff(table.data()));
            const int diff = loader_detail::extend_difference(bits.bits(len), len);
            if (col < 2) {
                vpred[row & 1][col] = static_cast<uint16_t>(vpred[row & 1][col] + diff);
                hpred[col] = vpred[row & 1][col];
            } else {
                hpred[col & 1] = static_cast<uint16_t>(hpred[col & 1] + diff);
            }
            const uint16_t pred = hpred[col & 1];
            if (pred >> 12) ++s.short_read_count;
            store.put(col, pred);
        }
    }
}

}  // namespace ostel::core
