// Unsharp masking against an exponentially smoothed copy of the luminance.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/session/large_buffer.h"
#include "develop/filter_lanes.h"
#include "develop/filter_simd.h"
#include "develop/filters.h"

namespace ostel::develop {

OSTEL_VECTOR_CLONES void recursive_smooth_lanes(float* data, int n, int lanes, size_t stride, float b, float* line) {
    if (n < 1 || lanes < 1 || b == 0.0f) return;  // factor 0: the identity
    const size_t L = size_t(lanes);
    const float edge = 1.0f / (1.0f - b);  // a repeated edge sample summed over the infinite tail
    const float norm = (1.0f - b) / (1.0f + b);
    // Causal pass into line.
    for (size_t j = 0; j < L; ++j) line[j] = data[j] + b * (edge * data[j]);
    for (int i = 1; i < n; ++i) {
        const float* s = data + size_t(i) * stride;
        const float* prev = line + size_t(i - 1) * L;
        float* cur = line + size_t(i) * L;
#pragma omp simd
        for (size_t j = 0; j < L; ++j) cur[j] = s[j] + b * prev[j];
    }
    // Anti-causal pass, combined with the causal one into data.
    std::vector<float> old(L);
    const float* last = data + size_t(n - 1) * stride;
    for (size_t j = 0; j < L; ++j) old[j] = edge * last[j];
    for (int i = n - 1; i >= 0; --i) {
        float* s = data + size_t(i) * stride;
        const float* causal = line + size_t(i) * L;
#pragma omp simd
        for (size_t j = 0; j < L; ++j) {
            const float f = b * old[j];
            old[j] = s[j] + f;
            s[j] = norm * (causal[j] + f);
        }
    }
}

void SmoothSharpen(float* y, int width, int height, int radius, double amount, double strength, double threshold) {
    if (width < 1 || height < 1 || radius < 1) return;
    const size_t w = size_t(width), n = w * size_t(height);
    const float b = float(std::exp(-1.0 / radius));
    core::LargeBuffer<float> smooth(y, y + n);

    // Along rows, a strip of rows at a time.
    const int strips = (height + detail::kRowLanes - 1) / detail::kRowLanes;
#pragma omp parallel
    {
        std::vector<float> lanes(w * detail::kRowLanes), line(w * detail::kRowLanes);
#pragma omp for schedule(static)
        for (int strip = 0; strip < strips; ++strip) {
            const int first = strip * detail::kRowLanes;
            const int count = std::min(detail::kRowLanes, height - first);
            detail::rows_to_lanes(smooth.data(), w, first, count, lanes.data());
            recursive_smooth_lanes(lanes.data(), width, count, size_t(count), b, line.data());
            detail::lanes_to_rows(lanes.data(), w, first, count, smooth.data());
        }
    }
    // Then along columns, a batch of columns at a time.
    const int batches = (width + detail::kColumnLanes - 1) / detail::kColumnLanes;
#pragma omp parallel
    {
        std::vector<float> line(size_t(height) * detail::kColumnLanes);
#pragma omp for schedule(static)
        for (int batch = 0; batch < batches; ++batch) {
            const int x0 = batch * detail::kColumnLanes;
            const int count = std::min(detail::kColumnLanes, width - x0);
            recursive_smooth_lanes(smooth.data() + x0, height, count, w, b, line.data());
        }
    }

    const float a = float(amount), k = float(strength), thr = float(threshold);
    const int64_t count = int64_t(n);
#pragma omp parallel for schedule(static)
    for (int64_t i = 0; i < count; ++i) {
        const float v = y[i], s = smooth[size_t(i)];
        if (std::fabs(v - s) > thr) y[i] = a * v - k * s;
    }
}

}  // namespace ostel::develop
