// The filter level's chain: luminance noise reduction on RGB, then chroma
// noise reduction and sharpening on the YIQ planes, then back to RGB.
#include <algorithm>
#include <cmath>

#include "develop/filters.h"

namespace ostel::develop {

namespace {

// A control value inside its slider's range (a value from elsewhere, such
// as the command line, may lie outside).
double position(double v, double lo, double hi) {
    if (!std::isfinite(v)) return lo;
    return std::clamp(v, lo, hi);
}

}  // namespace

FilterControls FilterControls::clamped() const {
    FilterControls c = *this;
    c.sharpness = position(sharpness, 0, 50);
    c.radius_position = position(radius_position, 0, 35);
    c.sharp_threshold = position(sharp_threshold, 0, 100);
    c.luma = position(luma, 0, 100);
    c.luma_threshold = position(luma_threshold, 0, 100);
    c.chroma = position(chroma, 0, 10);
    c.chroma_method = chroma_method == 1 ? 1 : 0;
    return c;
}

int sharpening_radius(double position) {
    const int v = int(position);
    if (v < 6) return std::max(v, 0);
    return int(v * std::sqrt(double(v)) / 2);
}

void apply_filters(RgbPlanes& planes, const FilterControls& controls, const LabMatrix& lab,
                   const std::function<void(const char*)>& status) {
    const FilterControls c = controls.clamped();
    const int width = planes.width, height = planes.height;
    if (width < 1 || height < 1) return;

    if (c.luma > 0 || c.luma_threshold > 0) BilateralFilter(planes, 0.04 * c.luma, 0.04 * c.luma_threshold, lab);

    split_yiq(planes);
    if (c.chroma > 0) {
        if (c.chroma_method == 1) {
            DiffusionScratch scratch;
            for (int plane = 1; plane <= 2; ++plane)
                ChromaDiffusionFilter(planes[plane], width, height, 20.0 * c.chroma, c.chroma, &scratch);
        } else {
            if (status) status("CNR #1");
            for (int plane = 1; plane <= 2; ++plane) chroma_median_reduction(planes[plane], width, height, c.chroma);
        }
    }
    if (c.sharpness >= 1) {
        const double strength = 0.05 * c.sharpness, amount = 1.0 + strength;
        const int radius = sharpening_radius(c.radius_position);
        if (radius != 0)
            SmoothSharpen(planes[0], width, height, radius, amount, strength, 25.0 * c.sharp_threshold);
        else
            MedianSharpen(planes[0], width, height, amount, strength, 250.0 * c.sharp_threshold);
    }
    rebuild_rgb(planes);
}

}  // namespace ostel::develop
