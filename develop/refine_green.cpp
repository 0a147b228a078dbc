// Green repair at the red and blue sites of the mosaic.
#include <algorithm>
#include <array>

#include "develop/refine.h"
#include "develop/refine_internal.h"

namespace ostel::develop {

namespace {

// A repair reads the four neighbours of a site, which lie on the other row
// or column parity, so no site of one pass reads another's result: the rows
// of a pass may run in any order and on any number of threads.
void repair_sites(float* g, int width, int height, SiteParity site) {
    const size_t w = size_t(width);
    const int first = (site.row & 1) + 2;
    const int rows = height - 4 > first ? (height - 4 - first + 1) / 2 : 0;
#pragma omp parallel for schedule(static)
    for (int k = 0; k < rows; ++k) {
        const int row = first + 2 * k;
        for (int col = (site.col & 1) + 2; col < width - 4; col += 2) {
            const size_t i = size_t(row) * w + size_t(col);
            const float left = g[i - 1], right = g[i + 1];
            const float up = g[i - w], down = g[i + w];
            const float mean = 0.25f * (left + right + up + down);
            const int below = (left <= mean) + (right <= mean) + (up <= mean) + (down <= mean);
            if (below == 1 || below == 3) continue;
            // Both vertical neighbours on the same side of the mean: no ridge
            // across the site, nothing to repair.
            if ((up > mean) == (down > mean)) continue;
            std::array<float, 4> v{left, right, up, down};
            std::sort(v.begin(), v.end());
            g[i] = 0.5f * (v[1] + v[2]);
        }
    }
}

}  // namespace

void GreenRepair(RgbPlanes& planes, SiteParity red, SiteParity blue) {
    if (!detail::holds_image(planes, 1, 1)) return;
    // One pass after the other: red and blue sites may coincide with green
    // sites when the caller passes an unusual pattern, and then the blue
    // repair reads the red one's results.
    repair_sites(planes[1], planes.width, planes.height, red);
    repair_sites(planes[1], planes.width, planes.height, blue);
}

}  // namespace ostel::develop
