#include <algorithm>

#include "core/processing/demosaic.h"

namespace ostel::core {

namespace {

void fill_from_neighbours(DecoderSession& s, int row, int col) {
    unsigned sum[4] = {}, count[4] = {};
    for (int y = row - 1; y <= row + 1; ++y)
        for (int x = col - 1; x <= col + 1; ++x) {
            if (y < 0 || x < 0 || y >= s.height || x >= s.width) continue;
            const int c = s.sensor_color(y, x);
            sum[c] += s.image[size_t(y) * size_t(s.width) + size_t(x)][c];
            ++count[c];
        }
    const int own = s.sensor_color(row, col);
    Pixel4& p = s.image[size_t(row) * size_t(s.width) + size_t(col)];
    for (int c = 0; c < s.color_count; ++c)
        if (c != own && count[c]) p[c] = uint16_t(sum[c] / count[c]);
}

}  // namespace

void interpolate_border(DecoderSession& s, int border) {
    if (s.image.size() < size_t(s.height) * size_t(s.width)) return;
    for (int row = 0; row < s.height; ++row)
        for (int col = 0; col < s.width; ++col) {
            if (col == border && row >= border && row < s.height - border) {
                // Skip the interior; never jump backwards on narrow images.
                const int next = std::max(col, s.width - border);
                if (next > col) {
                    col = next;
                    if (col >= s.width) break;
                }
            }
            fill_from_neighbours(s, row, col);
        }
}

}  // namespace ostel::core
