// The luminance / chrominance split the chroma filters and the sharpening
// work in, and its inverse.
#include <algorithm>
#include <cstdint>

#include "develop/filters.h"

namespace ostel::develop {

void split_yiq(RgbPlanes& planes) {
    const int64_t n = int64_t(planes.pixel_count());
    float *r = planes[0], *g = planes[1], *b = planes[2];
#pragma omp parallel for schedule(static)
    for (int64_t i = 0; i < n; ++i) {
        const float R = r[i], G = g[i], B = b[i];
        r[i] = 0.299f * R + 0.587f * G + 0.114f * B;
        g[i] = 0.596f * R - 0.274f * G - 0.322f * B;
        b[i] = 0.211f * R - 0.523f * G + 0.312f * B;
    }
}

void rebuild_rgb(RgbPlanes& yiq) {
    const int64_t n = int64_t(yiq.pixel_count());
    float *y = yiq[0], *i_plane = yiq[1], *q_plane = yiq[2];
#pragma omp parallel for schedule(static)
    for (int64_t i = 0; i < n; ++i) {
        const float Y = y[i], I = i_plane[i], Q = q_plane[i];
        // Luminance first, then the I terms, then the Q terms.
        float R = Y, G = Y, B = Y;
        R += 0.956f * I;
        G -= 0.272f * I;
        B -= 1.106f * I;
        R += 0.621f * Q;
        G -= 0.647f * Q;
        B += 1.703f * Q;
        y[i] = R;
        i_plane[i] = G;
        q_plane[i] = B;
    }
}

PlaneRange plane_range(const float* plane, size_t count) {
    if (count == 0) return {};
    float lo = plane[0], hi = plane[0];
    const int64_t n = int64_t(count);
#pragma omp parallel for schedule(static) reduction(min : lo) reduction(max : hi)
    for (int64_t i = 0; i < n; ++i) {
        lo = std::min(lo, plane[i]);
        hi = std::max(hi, plane[i]);
    }
    return {lo, hi};
}

}  // namespace ostel::develop
