#include <cstdint>

#include "develop/tone.h"
#include "develop/tone_support.h"

namespace ostel::develop {

double exposure_factor(double v) {
    if (v > 0) return 1.0 + 0.2 * v;
    if (v < 0) return 1.0 / (1.0 - 0.2 * v);
    return 1.0;
}

void apply_exposure_and_balance(const RgbPlanes& planes, double exposure, const std::array<double, 3>& mul,
                                uint16_t* out) {
    const int64_t n = static_cast<int64_t>(planes.pixel_count());
    if (n == 0) return;
    const float* p[3] = {planes[0], planes[1], planes[2]};
    const double gain[3] = {exposure * mul[0], exposure * mul[1], exposure * mul[2]};
#pragma omp parallel for schedule(static)
    for (int64_t i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c) out[3 * i + c] = detail::to_sample(double(p[c][i]) * gain[c]);
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
