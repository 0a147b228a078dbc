// Uncompressed DNG data: 16-bit words, or samples of the DNG bit depth packed
// MSB-first with each row starting on a byte boundary.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/loaders/loader_support.h"
#include "core/loaders/loaders.h"

namespace ostel::core {

void adobe_dng_load_raw_nc(DecoderSession& s) {
    const int raw_width = s.stored_width;
    const int bps = s.bits_per_sample;
    const int spp = std::max(1, s.samples_per_pixel);
    // Deeper samples do not fit the image; more than four planes neither.
    if (raw_width <= 0 || bps < 1 || bps > 16 || spp > 4) {
        count_undecodable(s);
        return;
    }
    const size_t per_row = static_cast<size_t>(spp) * static_cast<size_t>(raw_width);
    // The placement rule may step by the is-raw count instead of the sample
    // count; size the row so that it can never run off the end.
    const size_t step = static_cast<size_t>(std::max({spp, s.raw_count, 1}));
    std::vector<uint16_t> line(std::max(per_row, step * static_cast<size_t>(raw_width)), 0);
    for (int row = 0; row < s.stored_height; ++row) {
        if (bps == 16) {
            s.read_u16_block(line.data(), per_row);
        } else {
            loader_detail::BitCursor bits(s);
            bits.reset();
            for (size_t i = 0; i < per_row; ++i) line[i] = static_cast<uint16_t>(bits.bits(bps));
        }
        const uint16_t* cursor = line.data();
        for (int col = 0; col < raw_width; ++col) dng_place_pixel(s, row, col, cursor);
    }
}

}  // namespace ostel::core
