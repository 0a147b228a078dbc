// Median pre-filter of the red-green and blue-green differences.
#include <vector>

#include "develop/refine.h"
#include "develop/refine_internal.h"
#include "develop/refine_median.h"

namespace ostel::develop {

namespace {

constexpr int kMargin = 5;

}  // namespace

void ChromaPreFilter(RgbPlanes& planes) {
    const int width = planes.width, height = planes.height;
    if (!detail::holds_image(planes, 2 * kMargin + 1, 2 * kMargin + 1)) return;
    const size_t w = size_t(width);
    const size_t n = planes.pixel_count();
    const float* g = planes[1];
    // The rows above and below a pixel are read as they were before the
    // pass; only the pixel's own row is seen in its updated state.
    const std::vector<float> before_r(planes[0], planes[0] + n);
    const std::vector<float> before_b(planes[2], planes[2] + n);

    for (int c : {0, 2}) {
        float* live = planes[c];
        const float* before = (c == 0) ? before_r.data() : before_b.data();
#pragma omp parallel for schedule(static)
        for (int row = kMargin; row <= height - 1 - kMargin; ++row) {
            const size_t base = size_t(row) * w;
            for (int col = kMargin; col <= width - 1 - kMargin; ++col) {
                float d[9];
                int k = 0;
                for (int dy = -1; dy <= 1; ++dy) {
                    const size_t r = size_t(row + dy) * w;
                    const float* src = (dy == 0) ? live : before;
                    for (int dx = -1; dx <= 1; ++dx) {
                        const size_t i = r + size_t(col + dx);
                        d[k++] = src[i] - g[i];
                    }
                }
                const size_t i = base + size_t(col);
                live[i] = g[i] + median_of_9(d);
            }
        }
    }
}

}  // namespace ostel::develop
