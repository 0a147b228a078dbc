#pragma once
// Shared guard of the refinement stages.
#include "develop/rgb_planes.h"

namespace ostel::develop::detail {

// True when the three planes hold a width x height image of at least the
// given size, so that indexing row * width + column stays inside them.
inline bool holds_image(const RgbPlanes& p, int min_width, int min_height) {
    if (p.width < min_width || p.height < min_height || p.width < 1 || p.height < 1) return false;
    const size_t n = p.pixel_count();
    for (const auto& plane : p.plane)
        if (plane.size() < n) return false;
    return true;
}

}  // namespace ostel::develop::detail
