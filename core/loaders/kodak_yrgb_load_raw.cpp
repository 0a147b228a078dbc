// Kodak luma/chroma rows: two luma rows share one row of chroma pairs.
#include "core/loaders/legacy_support.h"
#include "core/loaders/loaders.h"

namespace ostel::core {

void kodak_yrgb_load_raw(DecoderSession& s) {
    if (!legacy::image_ready(s) || s.half_grid) {
        count_undecodable(s);
        return;
    }
    const size_t w = static_cast<size_t>(s.width);
    auto bytes = legacy::scratch<uint8_t>(w * 3);
    for (int row = 0; row < s.height; ++row) {
        if (!(row & 1)) legacy::read_bytes(s, bytes.data(), bytes.size());
        for (int col = 0; col < s.width; ++col) {
            const size_t pair = w + static_cast<size_t>(col & ~1);
            const int y = bytes[w * 2 * (row & 1) + static_cast<size_t>(col)];
            const int cb = bytes[pair] - 128;
            const int cr = bytes[pair + 1] - 128;
            const int g = y - ((cb + cr + 2) >> 2);
            const int rgb[3] = {g + cr, g, g + cb};
            Pixel4& p = legacy::pixel_at(s, row, col);
            for (int c = 0; c < 3; ++c) p[c] = s.lin_table[static_cast<size_t>(legacy::clampi(rgb[c], 0, 255))];
        }
    }
    s.white_level = s.lin_table[255];
}

}  // namespace ostel::core
