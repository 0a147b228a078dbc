#include "develop/region_develop.h"

#include <algorithm>

namespace ostel::develop {

namespace {

// Pixels of one row handled together, small enough to stay in the cache.
constexpr size_t kSpan = 1024;

// Exposure and levels of one span.
void span_to_levels(const DevelopRecipe& rc, const float* const (&p)[3], size_t n, uint16_t* out) {
    exposure_span(p, n, rc.gain, out);
    if (!rc.levels.empty())
        for (size_t i = 0; i < 3 * n; ++i) out[i] = rc.levels[out[i]];
}

// `fill_ratio`: the fill-light ratio of each luminance level, or null.
void develop_span(const DevelopRecipe& rc, const double* fill_ratio, const float* const (&p)[3], size_t n,
                  uint16_t* out) {
    span_to_levels(rc, p, n, out);
    if (rc.runs_matrix_stage())
        rc.transform->matrix_and_apply_span(out, n, rc.matrix, fill_ratio);
    else if (rc.transform)
        rc.transform->apply_span(out, n);
    final_pass_span(out, n, rc.pass, rc.final_table.empty() ? nullptr : rc.final_table.data());
}

}  // namespace

LevelCounts exposure_histograms(const RgbPlanes& planes, const std::array<double, 3>& gain) {
    LevelCounts counts;
    for (auto& h : counts) h.assign(65536, 0);
    const int rows = planes.height;
    const size_t w = size_t(planes.width);
#pragma omp parallel
    {
        // Counts are whole numbers, so adding the threads' counts in any
        // order gives the same histogram.
        LevelCounts mine;
        for (auto& h : mine) h.assign(65536, 0);
        std::vector<uint16_t> buf(3 * kSpan);
#pragma omp for schedule(static)
        for (int r = 0; r < rows; ++r)
            for (size_t x = 0; x < w; x += kSpan) {
                const size_t n = std::min(kSpan, w - x), at = size_t(r) * w + x;
                const float* p[3] = {planes[0] + at, planes[1] + at, planes[2] + at};
                exposure_span(p, n, gain, buf.data());
                for (size_t i = 0; i < n; ++i)
                    for (size_t c = 0; c < 3; ++c) ++mine[c][buf[3 * i + c]];
            }
#pragma omp critical
        for (size_t c = 0; c < 3; ++c)
            for (size_t v = 0; v < 65536; ++v) counts[c][v] += mine[c][v];
    }
    return counts;
}

std::vector<double> luminance_row_sums(const DevelopRecipe& recipe, const RgbPlanes& planes) {
    const int rows = planes.height;
    const size_t w = size_t(planes.width);
    std::vector<double> sums(size_t(std::max(rows, 0)), 0.0);
    if (!recipe.runs_matrix_stage()) return sums;
    const double* log_of = luminance_log_table().data();
#pragma omp parallel
    {
        std::vector<uint16_t> buf(3 * kSpan);
#pragma omp for schedule(static)
        for (int r = 0; r < rows; ++r) {
            // Summed in pixel order within the row, as over a luminance plane.
            double sum = 0;
            for (size_t x = 0; x < w; x += kSpan) {
                const size_t n = std::min(kSpan, w - x), at = size_t(r) * w + x;
                const float* p[3] = {planes[0] + at, planes[1] + at, planes[2] + at};
                span_to_levels(recipe, p, n, buf.data());
                recipe.transform->matrix_span(buf.data(), n, recipe.matrix, nullptr);
                for (size_t i = 0; i < n; ++i) sum += log_of[std::min<uint16_t>(buf[3 * i + 1], 32767)];
            }
            sums[size_t(r)] = sum;
        }
    }
    return sums;
}

void develop_area(const DevelopRecipe& recipe, const RgbPlanes& planes, int x, int y, int width, int height,
                  uint16_t* out) {
    if (width < 1 || height < 1) return;
    const size_t w = size_t(width), stride = size_t(planes.width);
    const bool fill = recipe.fill_light && recipe.runs_matrix_stage();
    const std::vector<double> ratios = fill ? fill_light_ratios(recipe.fill_scale) : std::vector<double>();
    const double* fill_ratio = fill ? ratios.data() : nullptr;
#pragma omp parallel for schedule(static)
    for (int r = 0; r < height; ++r)
        for (size_t c = 0; c < w; c += kSpan) {
            const size_t n = std::min(kSpan, w - c);
            const size_t at = size_t(y + r) * stride + size_t(x) + c;
            const float* p[3] = {planes[0] + at, planes[1] + at, planes[2] + at};
            develop_span(recipe, fill_ratio, p, n, out + 3 * (size_t(r) * w + c));
        }
}

RgbPlanes downscale_planes(const RgbPlanes& planes, int factor) {
    RgbPlanes small;
    if (factor < 1 || planes.width < 1 || planes.height < 1) return small;
    const int w = (planes.width + factor - 1) / factor, h = (planes.height + factor - 1) / factor;
    small.resize(w, h, size_t(w) * size_t(h));
    const size_t stride = size_t(planes.width);
#pragma omp parallel for schedule(static)
    for (int r = 0; r < h; ++r) {
        const int r0 = r * factor, r1 = std::min(r0 + factor, planes.height);
        for (int c = 0; c < w; ++c) {
            const int c0 = c * factor, c1 = std::min(c0 + factor, planes.width);
            const double count = double(r1 - r0) * double(c1 - c0);
            for (int k = 0; k < 3; ++k) {
                double sum = 0;
                for (int y = r0; y < r1; ++y) {
                    const float* row = planes[k] + size_t(y) * stride;
                    for (int x = c0; x < c1; ++x) sum += row[x];
                }
                small[k][size_t(r) * size_t(w) + size_t(c)] = float(sum / count);
            }
        }
    }
    return small;
}

}  // namespace ostel::develop
