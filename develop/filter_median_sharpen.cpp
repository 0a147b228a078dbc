// Sharpening against the 3x3 median: pixels that stand out from their
// neighbourhood by more than the threshold are pushed further away from it.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/session/large_buffer.h"
#include "develop/filters.h"
#include "develop/refine_median.h"

namespace ostel::develop {

void MedianSharpen(float* y, int width, int height, double amount, double strength, double threshold) {
    if (width < 3 || height < 3) return;
    const size_t w = size_t(width);
    core::LargeBuffer<float> out(y, y + w * size_t(height));
    const float a = float(amount), k = float(strength), thr = float(threshold);
#pragma omp parallel for schedule(static)
    for (int row = 1; row < height - 1; ++row) {
        const float* up = y + size_t(row - 1) * w;
        const float* mid = up + w;
        const float* down = mid + w;
        float* o = out.data() + size_t(row) * w;
        for (int x = 1; x < width - 1; ++x) {
            float p[9] = {up[x - 1],  up[x],  up[x + 1],  mid[x - 1], mid[x],
                          mid[x + 1], down[x - 1], down[x], down[x + 1]};
            const float m = median_of_9(p);
            const float v = mid[x];
            if (std::fabs(v - m) > thr) o[x] = std::clamp(a * v - k * m, 0.0f, 65535.0f);
        }
    }
    std::copy(out.begin(), out.end(), y);
}

}  // namespace ostel::develop
