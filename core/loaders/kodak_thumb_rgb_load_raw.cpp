// Kodak thumbnails stored as uncompressed 16-bit samples. The thumbnail's
// format word carries the sample count (above bit 5) and the bit depth.
#include <algorithm>

#include "core/loaders/legacy_support.h"
#include "core/loaders/loaders.h"

namespace ostel::core {

void kodak_thumb_rgb_load_raw(DecoderSession& s) {
    const int samples = std::max(s.thumb_format >> 5, 0) & 7;
    // Full-colour records only, and at least one sample per pixel to read.
    if (!legacy::image_ready(s) || s.half_grid || samples == 0) {
        count_undecodable(s);
        return;
    }
    const int bits = s.thumb_format & 31;
    auto row_buf = legacy::scratch<uint16_t>(static_cast<size_t>(s.width) * samples);
    for (int row = 0; row < s.height; ++row) {
        s.read_u16_block(row_buf.data(), row_buf.size());
        // A record holds four planes; further samples are read and dropped.
        for (int col = 0; col < s.width; ++col)
            for (int c = 0; c < std::min(samples, 4); ++c)
                legacy::pixel_at(s, row, col)[c] = row_buf[static_cast<size_t>(col) * samples + c];
    }
    if (bits >= 1 && bits <= 16) s.white_level = (1 << bits) - 1;
}

}  // namespace ostel::core
