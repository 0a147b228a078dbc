#pragma once
// Helpers for line filters that run along rows as well as columns. A column
// filter works on a batch of neighbouring columns at once, the columns being
// the vector lanes; a row filter copies a strip of rows into the same
// layout (sample i of row j at [i * lanes + j]) and back.
#include <cstddef>

namespace ostel::develop::detail {

// Rows first .. first + lanes - 1 of a plane into lane layout.
inline void rows_to_lanes(const float* plane, size_t width, int first, int lanes, float* out) {
    for (int j = 0; j < lanes; ++j) {
        const float* row = plane + size_t(first + j) * width;
        for (size_t i = 0; i < width; ++i) out[i * size_t(lanes) + size_t(j)] = row[i];
    }
}

inline void lanes_to_rows(const float* in, size_t width, int first, int lanes, float* plane) {
    for (int j = 0; j < lanes; ++j) {
        float* row = plane + size_t(first + j) * width;
        for (size_t i = 0; i < width; ++i) row[i] = in[i * size_t(lanes) + size_t(j)];
    }
}

// Lanes per strip of rows and per batch of columns.
inline constexpr int kRowLanes = 8;
inline constexpr int kColumnLanes = 32;

}  // namespace ostel::develop::detail
