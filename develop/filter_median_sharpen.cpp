// Sharpening against the 3x3 median: pixels that stand out from their
// neighbourhood by more than the threshold are pushed further away from it.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/session/large_buffer.h"
#include "develop/filter_simd.h"
#include "develop/filters.h"
#include "develop/refine_median.h"

namespace ostel::develop {

namespace {

OSTEL_VECTOR_CLONES void sharpen_row(const float* up, const float* mid, const float* down, int width, float a,
                                     float k, float thr, float* o) {
    for (int x = 1; x < width - 1; ++x) {
        float p[9] = {up[x - 1], up[x], up[x + 1], mid[x - 1], mid[x], mid[x + 1], down[x - 1], down[x], down[x + 1]};
        const float m = median_of_9(p);
        const float v = mid[x];
        const float j = std::min(std::max(a * v - k * m, 0.0f), 65535.0f);
        o[x] = std::fabs(v - m) > thr ? j : v;
    }
}

}  // namespace

void MedianSharpen(float* y, int width, int height, double amount, double strength, double threshold) {
    if (width < 3 || height < 3) return;
    const size_t w = size_t(width);
    core::LargeBuffer<float> out(y, y + w * size_t(height));
    const float a = float(amount), k = float(strength), thr = float(threshold);
#pragma omp parallel for schedule(static)
    for (int row = 1; row < height - 1; ++row) {
        const float* up = y + size_t(row - 1) * w;
        sharpen_row(up, up + w, up + 2 * w, width, a, k, thr, out.data() + size_t(row) * w);
    }
    std::copy(out.begin(), out.end(), y);
}

}  // namespace ostel::develop
