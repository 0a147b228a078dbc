// One byte per sample, mapped through the tone curve; the columns outside
// the visible area give the black level.
#include <cstring>
#include <vector>

#include "core/loaders/loader_support.h"
#include "core/loaders/loaders.h"

namespace ostel::core {

void eight_bit_load_raw(DecoderSession& s) {
    if (s.stored_width <= 0 || s.height <= 0 || s.lin_table.size() < 256) {
        count_undecodable(s);
        return;
    }
    const int raw_width = s.stored_width;
    s.seek(int64_t(s.crop_top) * raw_width, SEEK_CUR);
    std::vector<uint8_t> line(static_cast<size_t>(raw_width));
    const uint16_t* curve = s.lin_table.data();
    const int left = s.crop_left;
    int64_t black_sum = 0;
    for (int row = 0; row < s.height; ++row) {
        loader_detail::read_row_bytes(s, line.data(), line.size());
        loader_detail::RowStore store(s, row);
        for (int col = 0; col < raw_width; ++col) {
            const uint16_t value = curve[line[col]];
            const int icol = col - left;
            if (icol >= 0 && icol < s.width)
                store.put(icol, value);
            else
                black_sum += value;
        }
    }
    if (raw_width > s.width + 1)
        s.black_level = static_cast<int>(black_sum / ((int64_t(raw_width) - s.width) * s.height));
    if (std::strncmp(s.model, "DC2", 3) == 0) s.black_level = 0;
    s.white_level = curve[255];
}

}  // namespace ostel::core
