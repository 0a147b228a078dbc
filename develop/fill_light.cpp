// Fill light: the global form of the photographic tone operator on the
// luminance, applied to X, Y and Z as one ratio per pixel.
#include <cmath>
#include <cstdint>
#include <vector>

#include "develop/tone.h"
#include "develop/tone_support.h"

namespace ostel::develop {

double luminance_log_sum(const float* luminance, size_t count) {
    double s = 0;
    for (size_t c = 0; c < count; ++c) s += std::log(double(luminance[c]) + 0.00001);
    return s;
}

double fill_light_scale(const std::vector<double>& row_log_sums, size_t pixels, double slider) {
    double total = 0;
    for (double s : row_log_sums) total += s;
    const double log_average = std::exp(total / double(pixels));
    return 0.007 * slider / log_average;
}

namespace {

float level_luminance(size_t level) { return float(level) / 32767.0f; }

double fill_ratio(double y, double scale) {
    const double white2 = 1e40;  // white 10^20, squared
    const double l = scale * y;
    const double mapped = l * (1.0 + l / white2) / (1.0 + l);
    return mapped / (y < 1.0e-5 ? 1.0e-5 : y);
}

}  // namespace

const std::vector<double>& luminance_log_table() {
    static const std::vector<double> table = [] {
        std::vector<double> t(kLuminanceLevels);
        for (size_t v = 0; v < t.size(); ++v) t[v] = std::log(double(level_luminance(v)) + 0.00001);
        return t;
    }();
    return table;
}

std::vector<double> fill_light_ratios(double scale) {
    std::vector<double> t(kLuminanceLevels);
    for (size_t v = 0; v < t.size(); ++v) t[v] = fill_ratio(double(level_luminance(v)), scale);
    return t;
}

void fill_light_span(uint16_t* xyz, const float* luminance, size_t count, double scale) {
    for (size_t i = 0; i < count; ++i) {
        const double ratio = fill_ratio(luminance[i], scale);
        for (size_t k = 0; k < 3; ++k)
            xyz[3 * i + k] = static_cast<uint16_t>(detail::clamp_value(ratio * xyz[3 * i + k], 0.0, 32767.0));
    }
}

void fill_light(uint16_t* xyz, const float* luminance, int width, int height, double slider) {
    if (slider == 0 || width < 1 || height < 1) return;
    const size_t w = size_t(width);
    // Log average. Each row is summed on its own and the rows are added in
    // order, so the result is the same for any number of threads.
    std::vector<double> row_sum(size_t(height), 0.0);
#pragma omp parallel for schedule(static)
    for (int r = 0; r < height; ++r) row_sum[size_t(r)] = luminance_log_sum(luminance + size_t(r) * w, w);
    const double scale = fill_light_scale(row_sum, w * size_t(height), slider);
#pragma omp parallel for schedule(static)
    for (int r = 0; r < height; ++r)
        fill_light_span(xyz + 3 * size_t(r) * w, luminance + size_t(r) * w, w, scale);
}

}  // namespace ostel::develop
