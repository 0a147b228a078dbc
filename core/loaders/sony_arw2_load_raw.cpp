// Second-version ARW data: groups of 16 samples in 16 bytes, each holding the
// group's maximum and minimum with their positions and 7-bit steps for the
// other fourteen. A group fills every second column of a 32-column span.
#include <cstdint>
#include <vector>

#include "core/loaders/loader_support.h"
#include "core/loaders/loaders.h"

namespace ostel::core {

void sony_arw2_load_raw(DecoderSession& s) {
    const int raw_width = s.stored_width;
    if (raw_width <= 0 || s.height <= 0 || s.lin_table.size() < 0x1000) {
        count_undecodable(s);
        return;
    }
    const uint16_t* curve = s.lin_table.data();
    // The last 7-bit field of a group reads one byte past it; the padding
    // keeps that read inside the buffer for the last group of a row.
    std::vector<uint8_t> line(static_cast<size_t>(raw_width) + 2, 0);
    const int64_t groups_in_row = raw_width / 16;
    bool rows_too_short = false;
    for (int row = 0; row < s.height; ++row) {
        loader_detail::read_row_bytes(s, line.data(), static_cast<size_t>(raw_width));
        loader_detail::RowStore store(s, row);
        const uint8_t* dp = line.data();
        int64_t group = 0;
        int col = 0;
        for (; col < s.width - 30 && group < groups_in_row; dp += 16, ++group) {
            const uint32_t word = s.get4(dp);
            const int max = word & 0x7FF;
            const int min = (word >> 11) & 0x7FF;
            const int imax = (word >> 22) & 15;
            const int imin = (word >> 26) & 15;
            int sh = 0;
            while (sh < 4 && (0x80 << sh) <= max - min) ++sh;
            int bit = 30;
            for (int i = 0; i < 16; ++i, col += 2) {
                int value;
                if (i == imax) {
                    value = max;
                } else if (i == imin) {
                    value = min;
                } else {
                    const int bits = (s.get2(dp + (bit >> 3)) >> (bit & 7)) & 0x7F;
                    value = (bits << sh) + min;
                    if (value > 0x7FF) value = 0x7FF;
                    bit += 7;
                }
                store.put(col, static_cast<uint16_t>(curve[value * 2] >> 1));
            }
            col -= (col & 1) ? 1 : 31;
        }
        // Stored rows narrower than the image leave its right part empty.
        if (col < s.width - 30) rows_too_short = true;
    }
    if (rows_too_short) count_undecodable(s);
}

}  // namespace ostel::core
