// The frame a DNG asks to be shown: its default crop origin and size, in
// the coordinates of the active area. The edges outside it are there for
// the demosaic and the lens corrections only, so the crop comes after the
// loader and the opcode lists, on the finished sensor image.
#include <algorithm>
#include <cmath>

#include "core/loaders/dng_levels.h"
#include "core/loaders/loaders.h"

namespace ostel::core {

namespace {

// The pattern word as seen from a corner moved down by `rows` and right by
// `cols` sites.
uint32_t shifted_pattern(uint32_t pattern, int rows, int cols) {
    const auto colour = [pattern](int row, int col) {
        return (pattern >> ((((row << 1) & 14) | (col & 1)) << 1)) & 3;
    };
    uint32_t moved = 0;
    for (int row = 0; row < 8; ++row)
        for (int col = 0; col < 2; ++col)
            moved |= colour(row + rows, col + cols) << ((((row << 1) & 14) | col) << 1);
    return moved;
}

}  // namespace

void cut_dng_image(DecoderSession& s, int top, int left, int height, int width) {
    const int grid = s.half_grid;
    if (grid) {
        // Each stored pixel holds a whole 2x2 cell: keep whole cells so
        // the pattern stays where it was.
        const int right = std::min(s.width, (left + width + 1) & ~1);
        const int bottom = std::min(s.height, (top + height + 1) & ~1);
        left &= ~1;
        top &= ~1;
        width = right - left;
        height = bottom - top;
    }
    const int new_image_width = (width + grid) >> grid, new_image_height = (height + grid) >> grid;
    const size_t first_row = size_t(top >> grid), first_col = size_t(left >> grid);
    // In place: every row moves towards the start of the buffer.
    Pixel4* const data = s.image.data();
    for (size_t r = 0; r < size_t(new_image_height); ++r) {
        const Pixel4* from = data + (first_row + r) * size_t(s.image_width) + first_col;
        Pixel4* to = data + r * size_t(new_image_width);
        if (to != from) std::copy(from, from + new_image_width, to);
    }
    s.image.resize(size_t(new_image_width) * size_t(new_image_height));

    if (s.cfa_pattern == 1) {
        s.crop_top += top;  // the 16x16 map is placed by the corner itself
        s.crop_left += left;
    } else if (s.cfa_pattern) {
        s.cfa_pattern = shifted_pattern(s.cfa_pattern, top, left);
    }
    s.dng_frame.top += top;
    s.dng_frame.left += left;
    s.width = width;
    s.height = height;
    s.image_width = new_image_width;
    s.image_height = new_image_height;
    for (int i = 0; i < 4; ++i) s.corner_colors[size_t(i)] = s.sensor_color(i >> 1, i & 1);
}

void apply_dng_default_crop(DecoderSession& s) {
    const TiffIfd& d = s.raw_directory;
    if (!s.dng_version || s.image.empty() || s.diagonal_width) return;
    // Both values are horizontal first, then vertical; they may be rationals.
    const std::vector<double> origin = read_entry_numbers(s, d.ref(DngRef::crop_origin), 2);
    const std::vector<double> size = read_entry_numbers(s, d.ref(DngRef::crop_size), 2);
    if (origin.size() != 2 || size.size() != 2) return;
    // The origin is given in the active area; the image may have lost its
    // first rows or columns to a trim already.
    const double left_f = std::floor(origin[0]) - s.dng_frame.left, top_f = std::floor(origin[1]) - s.dng_frame.top;
    const double width_f = std::floor(size[0] + 0.5), height_f = std::floor(size[1] + 0.5);
    if (!(left_f >= 0 && top_f >= 0 && width_f >= 1 && height_f >= 1)) return;
    if (left_f + width_f > s.width || top_f + height_f > s.height) return;  // not inside: show it all
    const int left = int(left_f), top = int(top_f), width = int(width_f), height = int(height_f);
    if (left == 0 && top == 0 && width == s.width && height == s.height) return;
    cut_dng_image(s, top, left, height, width);
}

}  // namespace ostel::core
