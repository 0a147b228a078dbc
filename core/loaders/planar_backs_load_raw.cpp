// Multi-shot and planar backs: four shifted shots, strips of planes, and
// interleaved 48-bit RGB.
#include <cstdint>
#include <vector>

#include "core/loaders/legacy_support.h"
#include "core/loaders/loaders.h"

namespace ostel::core {

using legacy::scratch;

void sinar_4shot_load_raw(DecoderSession& s) {
    if (s.stored_width <= 0 || s.stored_height <= 0 || s.height <= 0 || s.width <= 0) {
        count_undecodable(s);
        return;
    }
    // Every shot fills its own colour at every pixel, so the image is full
    // size and full colour.
    legacy::make_full_size_image(s);
    auto pixel = scratch<uint16_t>(static_cast<size_t>(s.stored_width));
    for (int shot = 0; shot < 4; ++shot) {
        s.seek(s.raw_offset + shot * 4);
        s.seek(s.read_u32());
        const int dr = (shot >> 1) & 1;
        const int dc = shot & 1;
        for (int row = 0; row < s.stored_height; ++row) {
            s.read_u16_block(pixel.data(), pixel.size());
            const int r = row - s.crop_top - dr;
            if (r < 0 || r >= s.height) continue;
            for (int col = 0; col < s.stored_width; ++col) {
                const int c = col - s.crop_left - dc;
                if (c < 0 || c >= s.width) continue;
                legacy::pixel_at(s, r, c)[s.filter_color(row, col)] = pixel[static_cast<size_t>(col)];
            }
        }
    }
    s.cfa_pattern = 0;
    s.half_grid = 0;
}

void leaf_planes_load_raw(DecoderSession& s) {
    const bool mosaic = s.cfa_pattern != 0;
    if (!legacy::image_ready(s) || s.stored_width <= 0 || (!mosaic && s.half_grid)) {
        count_undecodable(s);
        return;
    }
    // A tile length of 0 (or none) means one strip per plane.
    const int strip_rows = s.tile_length > 0 ? s.tile_length : 0x7FFFFFFF;
    const int planes = std::min(std::max(s.samples_per_pixel, 1), 4);
    auto pixel = scratch<uint16_t>(static_cast<size_t>(s.stored_width));
    int64_t strip = 0;
    for (int plane = 0; plane < planes; ++plane) {
        for (int row = 0; row < s.stored_height; ++row) {
            if (row % strip_rows == 0) {
                s.seek(s.raw_offset + 4 * strip++);
                s.seek(int64_t(s.read_u32()) + 2 * int64_t(s.crop_left));
            }
            // A mosaic back stores its one useful plane first.
            if (mosaic && plane > 0) continue;
            s.read_u16_block(pixel.data(), pixel.size());
            const int vrow = row - s.crop_top;
            if (vrow < 0 || vrow >= s.height) continue;
            const int cols = std::min(s.width, s.stored_width);
            for (int col = 0; col < cols; ++col) {
                if (mosaic)
                    s.bayer_store(vrow, col, pixel[static_cast<size_t>(col)]);
                else
                    legacy::pixel_at(s, vrow, col)[plane] = pixel[static_cast<size_t>(col)];
            }
        }
    }
    if (!mosaic) {
        s.white_level = 0xFFFF;
        s.no_camera_matrix = 1;
    }
}

void rgb48_load_raw(DecoderSession& s) {
    if (!legacy::image_ready(s) || s.half_grid) {
        count_undecodable(s);
        return;
    }
    auto row_buf = scratch<uint16_t>(static_cast<size_t>(s.width) * 3);
    for (int row = 0; row < s.height; ++row) {
        s.read_u16_block(row_buf.data(), row_buf.size());
        for (int col = 0; col < s.width; ++col)
            for (int c = 0; c < 3; ++c)
                legacy::pixel_at(s, row, col)[c] = row_buf[static_cast<size_t>(col) * 3 + c];
    }
}

}  // namespace ostel::core
