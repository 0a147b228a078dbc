// 10-bit samples, four in five bytes: the high eight bits of each sample in
// bytes 0..3, their low two bits together in byte 4. The rows above the
// visible area are masked and give the black level.
#include <vector>

#include "core/loaders/loader_support.h"
#include "core/loaders/loaders.h"

namespace ostel::core {

void nokia_load_raw(DecoderSession& s) {
    if (s.stored_width <= 0 || s.stored_height <= 0) {
        count_undecodable(s);
        return;
    }
    const int64_t row_bytes = int64_t(s.stored_width) * 5 / 4;
    const int64_t groups = row_bytes / 5;
    std::vector<uint8_t> data(static_cast<size_t>(row_bytes));
    std::vector<uint16_t> samples(static_cast<size_t>(groups * 4));
    const int top = s.crop_top;
    const int black_cols = static_cast<int>(std::min<int64_t>(s.width, groups * 4));
    int64_t black_sum = 0;
    for (int row = 0; row < s.stored_height; ++row) {
        loader_detail::read_row_bytes(s, data.data(), data.size());
        for (int64_t g = 0; g < groups; ++g) {
            const uint8_t* d = &data[static_cast<size_t>(g * 5)];
            for (int c = 0; c < 4; ++c)
                samples[static_cast<size_t>(g * 4 + c)] = static_cast<uint16_t>((d[c] << 2) | ((d[4] >> (c << 1)) & 3));
        }
        if (row < top) {
            for (int col = 0; col < black_cols; ++col) black_sum += samples[col];
            continue;
        }
        loader_detail::RowStore store(s, row - top);
        if (!store.valid()) continue;
        const int n = static_cast<int>(std::min<int64_t>(s.width, groups * 4));
        for (int col = 0; col < n; ++col) store.put(col, samples[col]);
    }
    if (top && s.width > 0) s.black_level = static_cast<int>(black_sum / (int64_t(top) * s.width));
    s.white_level = 1023;
}

}  // namespace ostel::core
