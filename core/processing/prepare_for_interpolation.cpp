#include "core/processing/preprocess.h"

namespace ostel::core {

void prepare_for_interpolation(DecoderSession& s) {
    if (s.half_grid && !s.half_size) {
        LargeBuffer<Pixel4> full(size_t(s.height) * size_t(s.width), Pixel4{});
        for (int row = 0; row < s.height; ++row)
            for (int col = 0; col < s.width; ++col) {
                const int c = s.sensor_color(row, col);
                full[size_t(row) * size_t(s.width) + size_t(col)][c] =
                    s.image[size_t(row >> 1) * size_t(s.image_width) + size_t(col >> 1)][c];
            }
        s.image = std::move(full);
        s.image_height = s.height;
        s.image_width = s.width;
        s.half_grid = 0;
    }
    if (s.cfa_pattern == 0 || s.color_count != 3) return;
    s.merge_greens = s.four_color_rgb;
    if (s.four_color_rgb) {
        s.color_count = 4;
        return;
    }
    if (s.half_grid) return;  // the greens of a half-size image stay in their own planes
    for (int row = s.filter_color(1, 0) >> 1; row < s.height; row += 2)
        for (int col = s.filter_color(row, 1) & 1; col < s.width; col += 2) {
            Pixel4& p = s.image[size_t(row) * size_t(s.width) + size_t(col)];
            p[1] = p[3];
        }
    s.cfa_pattern &= ~((s.cfa_pattern & 0x55555555u) << 1);
}

}  // namespace ostel::core
