// Green repair at the red and blue sites of the mosaic.
#include <algorithm>
#include <array>

#include "develop/refine.h"
#include "develop/refine_internal.h"

namespace ostel::develop {

namespace {

void repair_sites(float* g, int width, int height, SiteParity site) {
    const size_t w = size_t(width);
    for (int row = (site.row & 1) + 2; row < height - 4; row += 2) {
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
    // One thread: red and blue sites may coincide with green sites when the
    // caller passes an unusual pattern, and then each repair reads the last.
    repair_sites(planes[1], planes.width, planes.height, red);
    repair_sites(planes[1], planes.width, planes.height, blue);
}

}  // namespace ostel::develop
