#pragma once
// The levels of a DNG raw directory (linearisation table, black level with
// its repeat pattern and per-row and per-column deltas, white level per
// sample) and the mapping of a stored sample onto the 16-bit range, 0 at
// black and 65535 at white.
#include <cstdint>
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

    // Sample `sample` of the pixel at (row, col) of the active area, stored
    // value v, as a fraction of the range from black to white (not clipped).
    double fraction(int row, int col, int sample, double v) const {
        if (!table.empty()) {
            const double i = v < 0 ? 0 : v >= double(table.size()) ? double(table.size() - 1) : v;
            v = table[static_cast<size_t>(i)];
        }
        double b = black[(static_cast<size_t>(row % repeat_rows) * size_t(repeat_cols) + size_t(col % repeat_cols)) *
                             size_t(samples) +
                         size_t(sample)];
        if (static_cast<size_t>(col) < delta_h.size()) b += delta_h[size_t(col)];
        if (static_cast<size_t>(row) < delta_v.size()) b += delta_v[size_t(row)];
        const double range = white[sample & 3] - b;
        return range > 0 ? (v - b) / range : 0.0;
    }
};

// Reads the levels of the chosen raw directory. Values that are missing or
// unusable fall back to black 0 and the white level of the bit depth (1.0
// for floating-point data).
DngLevels read_dng_levels(DecoderSession& s, const TiffIfd& d, bool floating_point);

// Reads up to `limit` numbers of an entry (any numeric type) in the file's
// byte order; an entry running past the end of the file yields none.
std::vector<double> read_entry_numbers(DecoderSession& s, const TagRef& ref, size_t limit);

}  // namespace ostel::core
