#pragma once
// The levels of a DNG raw directory (linearisation table, black level with
// its repeat pattern and per-row and per-column deltas, white level per
// sample) and the mapping of a stored sample onto the 16-bit range, 0 at
// black and 65535 at white.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include "core/session/decoder_session.h"

namespace ostel::core {

struct DngLevels {
    std::vector<uint16_t> table;           // linearisation; empty when absent
    int repeat_rows = 1, repeat_cols = 1;  // black level repeat pattern
    int samples = 1;
    std::vector<double> black;             // repeat_rows x repeat_cols x samples
    std::vector<double> delta_h;           // per column of the active area
    std::vector<double> delta_v;           // per row of the active area
    double white[4] = {65535, 65535, 65535, 65535};

    // Black level of sample `sample` at (row, col) of the active area, in
    // the values after linearisation.
    double black_at(int row, int col, int sample) const {
        double b = black[(static_cast<size_t>(row % repeat_rows) * size_t(repeat_cols) + size_t(col % repeat_cols)) *
                             size_t(samples) +
                         size_t(sample)];
        if (static_cast<size_t>(col) < delta_h.size()) b += delta_h[size_t(col)];
        if (static_cast<size_t>(row) < delta_v.size()) b += delta_v[size_t(row)];
        return b;
    }
    // Stored value v through the linearisation table.
    double linear(double v) const {
        if (table.empty()) return v;
        const double i = v < 0 ? 0 : v >= double(table.size()) ? double(table.size() - 1) : v;
        return table[static_cast<size_t>(i)];
    }
    // True when every site has the same black level.
    bool uniform_black() const;

    // Sample `sample` of the pixel at (row, col) of the active area, stored
    // value v, as a fraction of the range from black to white (not clipped).
    double fraction(int row, int col, int sample, double v) const {
        v = linear(v);
        const double b = black_at(row, col, sample);
        const double range = white[sample & 3] - b;
        return range > 0 ? (v - b) / range : 0.0;
    }
};

// Reads the levels of the chosen raw directory. Values that are missing or
// unusable fall back to black 0 and the white level of the bit depth (1.0
// for floating-point data).
DngLevels read_dng_levels(DecoderSession& s, const TiffIfd& d, bool floating_point);

// For the loaders that leave a single black level in the session: moves
// each site of a DNG whose black varies by position (repeat pattern, row or
// column deltas) so that subtracting that single level gives the same as
// subtracting the site's own. Nothing where the black is the same everywhere.
void apply_dng_black_pattern(DecoderSession& s);

// Moves each site of the image so that subtracting the session's single
// black level gives the same as subtracting the site's own from `levels`
// (whose positions are those of the active area); clipped sites stay white.
void move_to_single_black(DecoderSession& s, const DngLevels& levels);

// Calls f(row, col, sample, value) for every stored sample of the image:
// the site's own plane under a colour filter, each sample plane otherwise.
// On a half-size grid a sample two sites of a cell share is visited once.
template <typename F>
void for_each_stored_sample(DecoderSession& s, int samples, F f) {
    const int planes = s.cfa_pattern ? 1 : std::min(samples, 4);
    const size_t image_size = s.image.size();
    const auto shared_with_earlier_site = [&s](int row, int col) {
        const int colour = s.filter_color(row, col);
        for (int r = row & ~1; r <= row; ++r)
            for (int c = col & ~1; c < (r == row ? col : (col & ~1) + 2); ++c)
                if (s.filter_color(r, c) == colour) return true;
        return false;
    };
    for (int row = 0; row < s.height; ++row)
        for (int col = 0; col < s.width; ++col) {
            const size_t index = size_t(row >> s.half_grid) * size_t(s.image_width) + size_t(col >> s.half_grid);
            if (index >= image_size) continue;
            if (s.half_grid && s.cfa_pattern && shared_with_earlier_site(row, col)) continue;
            for (int k = 0; k < planes; ++k)
                f(row, col, k, s.image[index][size_t(s.cfa_pattern ? s.filter_color(row, col) : k)]);
        }
}

// Black measured in the masked areas a loader passed (see
// DecoderSession::masked_sums), per colour of the filter or per sample,
// into `levels`; false, leaving them alone, when nothing was measured.
// `linear` gives a stored value after the linearisation table.
bool take_masked_black(const DecoderSession& s, DngLevels& levels, const std::function<double(unsigned)>& linear);

// Reads up to `limit` numbers of an entry (any numeric type) in the file's
// byte order; an entry running past the end of the file yields none.
std::vector<double> read_entry_numbers(DecoderSession& s, const TagRef& ref, size_t limit);

}  // namespace ostel::core
