#include <algorithm>
#include <cmath>
#include <cstdint>

#include "develop/tone.h"
#include "develop/tone_support.h"

namespace ostel::develop {

double exposure_factor(double v) {
    if (v > 0) return 1.0 + 0.2 * v;
    if (v < 0) return 1.0 / (1.0 - 0.2 * v);
    return 1.0;
}

int exposure_position_for_stops(double stops) {
    if (!std::isfinite(stops)) return 0;
    constexpr int kLowest = -10, kHighest = 25;
    // The factor is not linear in the position: compare in stops.
    int best = 0;
    double best_distance = std::fabs(stops);
    for (int v = kLowest; v <= kHighest; ++v) {
        const double distance = std::fabs(std::log2(exposure_factor(v)) - stops);
        if (distance < best_distance) best = v, best_distance = distance;
    }
    return best;
}

void exposure_span(const float* const (&p)[3], size_t count, const std::array<double, 3>& gain, uint16_t* out) {
    for (size_t i = 0; i < count; ++i)
        for (size_t c = 0; c < 3; ++c) out[3 * i + c] = detail::to_sample(double(p[c][i]) * gain[c]);
}

void apply_exposure_and_balance(const RgbPlanes& planes, double exposure, const std::array<double, 3>& mul,
                                uint16_t* out) {
    const int64_t rows = planes.height;
    const size_t w = size_t(planes.width);
    if (planes.pixel_count() == 0) return;
    const std::array<double, 3> gain{exposure * mul[0], exposure * mul[1], exposure * mul[2]};
#pragma omp parallel for schedule(static)
    for (int64_t r = 0; r < rows; ++r) {
        const size_t at = size_t(r) * w;
        const float* p[3] = {planes[0] + at, planes[1] + at, planes[2] + at};
        exposure_span(p, w, gain, out + 3 * at);
    }
}

Table16 identity_table() {
    Table16 t(65536);
    for (uint32_t i = 0; i < 65536; ++i) t[i] = static_cast<uint16_t>(i);
    return t;
}

void apply_table(uint16_t* rgb, size_t pixels, const Table16& table) {
    const int64_t n = static_cast<int64_t>(pixels) * 3;
    if (table.size() != 65536) return;
#pragma omp parallel for schedule(static)
    for (int64_t i = 0; i < n; ++i) rgb[i] = table[rgb[i]];
}

}  // namespace ostel::develop
