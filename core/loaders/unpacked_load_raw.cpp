// One 16-bit word per sample, rows of stored_width words.
#include <vector>

#include "core/loaders/loader_support.h"
#include "core/loaders/loaders.h"

namespace ostel::core {

void unpacked_load_raw(DecoderSession& s) {
    if (s.stored_width <= 0 || s.height <= 0) {
        count_undecodable(s);
        return;
    }
    const int raw_width = s.stored_width;
    s.seek((int64_t(raw_width) * s.crop_top + s.crop_left) * 2, SEEK_CUR);
    std::vector<uint16_t> line(static_cast<size_t>(raw_width));
    const int width = std::min(s.width, raw_width);
    // Samples wider than the declared depth are data errors (stored anyway).
    const unsigned depth = s.bits_per_sample >= 1 && s.bits_per_sample < 16 ? unsigned(s.bits_per_sample) : 16u;
    const int shift = s.half_grid ? 1 : 0;
    for (int row = 0; row < s.height; ++row) {
        s.read_u16_block(line.data(), line.size());
        if (depth < 16)
            for (int col = 0; col < width; ++col)
                if (line[col] >> depth) ++s.short_read_count;
        if (s.cfa_pattern == 1) {
            // The fixed 16x16 map depends on the margins, not on the 2x8 word.
            const size_t base = static_cast<size_t>(row >> shift) * static_cast<size_t>(s.image_width);
            for (int col = 0; col < width; ++col) {
                const size_t index = base + static_cast<size_t>(col >> shift);
                if ((col >> shift) < s.image_width && index < s.image.size())
                    s.image[index][s.sensor_color(row, col)] = line[col];
            }
        } else {
            loader_detail::RowStore store(s, row);
            for (int col = 0; col < width; ++col) store.put(col, line[col]);
        }
    }
}

}  // namespace ostel::core
