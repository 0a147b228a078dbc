// Uniform chroma noise reduction: a square median over the quantised plane.
// The histogram of the window slides along the row one column at a time, so
// a step costs two columns of updates, not the window's area, and the
// median moves from its last position by the few levels the step changed.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/session/large_buffer.h"
#include "develop/filters.h"

namespace ostel::develop {

namespace {

constexpr int kTopLevel = 1000;  // chroma is quantised to 0..1000

// Rows worked on together, each with its own histogram: their updates are
// independent, so the processor overlaps them instead of waiting on
// repeated updates of the same few bins.
constexpr int kRowsTogether = 4;

// The medians of `count` (up to kRowsTogether) consecutive rows, each row's
// window sliding from left to right.
void median_rows(const uint16_t* levels, int width, int window, int first_row, int count,
                 std::vector<int>* hist, float* out, const float* value_of_level) {
    const int half_window = (window - 1) / 2;
    const int rank = window * window / 2;  // index of the median in sorted order
    const size_t w = size_t(width);
    const uint16_t* top[kRowsTogether];
    int median[kRowsTogether], below[kRowsTogether];  // below: count of values under the median level
    float* row_out[kRowsTogether];
    auto settle = [&](int k) {
        const std::vector<int>& h = hist[k];
        int m = median[k], b = below[k];
        while (b > rank) b -= h[size_t(--m)];
        while (b + h[size_t(m)] <= rank) b += h[size_t(m++)];
        median[k] = m, below[k] = b;
    };
    for (int k = 0; k < count; ++k) {
        std::fill(hist[k].begin(), hist[k].end(), 0);
        top[k] = levels + size_t(first_row + k - half_window) * w;
        for (int r = 0; r < window; ++r)
            for (int x = 0; x < window; ++x) ++hist[k][top[k][size_t(r) * w + size_t(x)]];
        median[k] = 0, below[k] = 0;
        settle(k);
        row_out[k] = out + size_t(first_row + k) * w;
        row_out[k][half_window] = value_of_level[median[k]];
    }
    for (int x = half_window + 1; x + half_window < width; ++x) {
        for (int k = 0; k < count; ++k) {
            int* h = hist[k].data();
            const uint16_t* leaving = top[k] + size_t(x - half_window - 1);
            const uint16_t* entering = top[k] + size_t(x + half_window);
            const int m = median[k];
            int moved = 0;
            for (int r = 0; r < window; ++r) {
                const int old_level = leaving[size_t(r) * w], new_level = entering[size_t(r) * w];
                --h[old_level];
                ++h[new_level];
                moved += (new_level < m) - (old_level < m);
            }
            below[k] += moved;
        }
        for (int k = 0; k < count; ++k) {
            settle(k);
            row_out[k][x] = value_of_level[median[k]];
        }
    }
}

}  // namespace

bool ChromaMedianFilter(const uint16_t* levels, int width, int height, int window, int max_level, float* out,
                        double scale, double offset) {
    if (window < 1 || window % 2 == 0 || window > width || window > height || max_level < 0) return false;
    const int64_t n = int64_t(width) * int64_t(height);
    bool in_range = true;
#pragma omp parallel for schedule(static) reduction(&& : in_range)
    for (int64_t i = 0; i < n; ++i) in_range = in_range && levels[i] <= max_level;
    if (!in_range) return false;

    const int half_window = (window - 1) / 2;
    const int first = half_window, end = height - half_window;
    const int groups = (end - first + kRowsTogether - 1) / kRowsTogether;
    std::vector<float> value_of_level(size_t(max_level) + 1);
    for (int m = 0; m <= max_level; ++m) value_of_level[size_t(m)] = float(m / scale - offset);
#pragma omp parallel
    {
        std::vector<int> hist[kRowsTogether];
        for (auto& h : hist) h.resize(size_t(max_level) + 1);
#pragma omp for schedule(static)
        for (int g = 0; g < groups; ++g) {
            const int y = first + g * kRowsTogether;
            median_rows(levels, width, window, y, std::min(kRowsTogether, end - y), hist, out, value_of_level.data());
        }
    }
    return true;
}

void chroma_median_reduction(float* plane, int width, int height, double strength) {
    int window = int(strength * 2.0 + 1);
    if (window % 2 == 0) --window;  // a window needs a centre
    if (window < 3 || window > width || window > height) return;
    const size_t n = size_t(width) * size_t(height);
    const PlaneRange range = plane_range(plane, n);
    // The plane spans |min| + max after the shift by |min|; a constant
    // (grey or monochrome) plane has nothing to filter and no scale.
    const double offset = std::fabs(double(range.min));
    const double span = offset + double(range.max);
    if (!(span > 0) || !std::isfinite(span) || range.max <= range.min) return;
    const double scale = kTopLevel / span;

    core::LargeBuffer<uint16_t> levels(n);
    bool negative = false;
    const int64_t count = int64_t(n);
#pragma omp parallel for schedule(static) reduction(|| : negative)
    for (int64_t i = 0; i < count; ++i) {
        const double level = (double(plane[i]) + offset) * scale;
        if (!(level >= 0)) {
            negative = true;
            continue;
        }
        levels[size_t(i)] = uint16_t(std::min(double(kTopLevel), level));
    }
    if (negative) return;  // the plane keeps its values
    ChromaMedianFilter(levels.data(), width, height, window, kTopLevel, plane, scale, offset);
}

}  // namespace ostel::develop
