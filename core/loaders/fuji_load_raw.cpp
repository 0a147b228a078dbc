// RAF data of sensors laid out at 45 degrees: each stored row runs along a
// diagonal of the image.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/loaders/loader_support.h"
#include "core/loaders/loaders.h"

namespace ostel::core {

void fuji_load_raw(DecoderSession& s) {
    const int raw_width = s.stored_width;
    const int fuji_width = s.diagonal_width;
    if (raw_width <= 0 || fuji_width <= 0) {
        count_undecodable(s);
        return;
    }
    s.seek((int64_t(s.crop_top) * raw_width + s.crop_left) * 2, SEEK_CUR);
    const int wide = s.diagonal_layout ? fuji_width : fuji_width * 2;
    const int64_t skip = std::max<int64_t>(0, int64_t(raw_width) - wide) * 2;
    std::vector<uint16_t> line(static_cast<size_t>(wide));
    // The rows after the skipped top margin.
    const int rows = s.stored_height - std::max(0, s.crop_top);
    for (int row = 0; row < rows; ++row) {
        s.read_u16_block(line.data(), line.size());
        s.seek(skip, SEEK_CUR);
        for (int col = 0; col < wide; ++col) {
            int r, c;
            if (s.diagonal_layout) {
                r = fuji_width - 1 - col + (row >> 1);
                c = col + ((row + 1) >> 1);
            } else {
                r = fuji_width - 1 + row - (col >> 1);
                c = row + ((col + 1) >> 1);
            }
            // bayer_store drops positions outside the visible area.
            s.bayer_store(r, c, line[col]);
        }
    }
}

}  // namespace ostel::core
