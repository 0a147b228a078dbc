// Edge-aware chroma noise reduction: non-linear diffusion with the additive
// operator splitting scheme. Each time step solves one tridiagonal system per
// row and one per column, with conductances from the gradient of the plane
// at the start of the step, and averages the two solutions. Rows and columns
// are solved many lines at a time, the lines being vector lanes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/session/large_buffer.h"
#include "develop/filter_lanes.h"
#include "develop/filters.h"

namespace ostel::develop {

namespace {

using detail::kColumnLanes;
using detail::kRowLanes;

constexpr double kTimeStep = 5.0;

// Conductance of each pixel from the plane's gradient: central differences
// inside, one-sided ones on the outermost rows and columns.
void conductances(const float* p, int width, int height, float threshold, float* out) {
    const float weight = threshold * threshold;
    const size_t w = size_t(width);
#pragma omp parallel for schedule(static)
    for (int y = 0; y < height; ++y) {
        const float* row = p + size_t(y) * w;
        const float* up = y > 0 ? row - w : row;
        const float* down = y + 1 < height ? row + w : row;
        // Inside, differences over two pixels are halved; at the edges the
        // difference spans one pixel.
        const float vertical_scale = (y > 0 && y + 1 < height) ? 0.5f : 1.0f;
        float* o = out + size_t(y) * w;
#pragma omp simd
        for (int x = 0; x < width; ++x) {
            const float left = x > 0 ? row[x - 1] : row[x];
            const float right = x + 1 < width ? row[x + 1] : row[x];
            const float horizontal_scale = (x > 0 && x + 1 < width) ? 0.5f : 1.0f;
            const float gx = (left - right) * horizontal_scale;
            const float gy = (up[x] - down[x]) * vertical_scale;
            const float mag = (gx * gx + gy * gy) / weight;
            o[x] = mag == 0.0f ? 1.0f : 1.0f - std::exp(-3.315f / mag / mag);
        }
    }
}

// Solves (1 + t A) u = s on `lanes` lines of n samples, sample i of lane j
// at [i * stride + j] of a (conductances) and s, into d at [i * lanes + j].
// A is the line's diffusion operator: neighbours coupled by the sum of
// their conductances.
void solve_lanes(const float* a, const float* s, size_t stride, int n, int lanes, float t, float* diag, float* upper,
                 float* d) {
    const size_t L = size_t(lanes);
    if (n == 1) {
        for (size_t j = 0; j < L; ++j) d[j] = s[j];
        return;
    }
    for (size_t j = 0; j < L; ++j) {
        diag[j] = 1.0f + t * (a[j] + a[stride + j]);
        d[j] = s[j];
    }
    for (int i = 0; i + 1 < n; ++i) {
        const float* ai = a + size_t(i) * stride;
        const float* an = ai + stride;
        const float* si = s + size_t(i + 1) * stride;
        const float* dg = diag + size_t(i) * L;
        const float* di = d + size_t(i) * L;
        float* up = upper + size_t(i) * L;
        float* dg_next = diag + size_t(i + 1) * L;
        float* d_next = d + size_t(i + 1) * L;
        if (i + 2 < n) {
            const float* ann = an + stride;
#pragma omp simd
            for (size_t j = 0; j < L; ++j) {
                const float u = -t * (ai[j] + an[j]);
                const float l = u / dg[j];
                up[j] = u;
                dg_next[j] = (1.0f + t * ((2.0f * an[j] + ann[j]) + ai[j])) - l * u;
                d_next[j] = si[j] - l * di[j];
            }
        } else {
#pragma omp simd
            for (size_t j = 0; j < L; ++j) {
                const float u = -t * (ai[j] + an[j]);
                const float l = u / dg[j];
                up[j] = u;
                dg_next[j] = (1.0f + t * (an[j] + ai[j])) - l * u;
                d_next[j] = si[j] - l * di[j];
            }
        }
    }
    float* last = d + size_t(n - 1) * L;
    const float* last_diag = diag + size_t(n - 1) * L;
    for (size_t j = 0; j < L; ++j) last[j] /= last_diag[j];
    for (int i = n - 2; i >= 0; --i) {
        float* di = d + size_t(i) * L;
        const float* dn = di + L;
        const float* up = upper + size_t(i) * L;
        const float* dg = diag + size_t(i) * L;
#pragma omp simd
        for (size_t j = 0; j < L; ++j) di[j] = (di[j] - up[j] * dn[j]) / dg[j];
    }
}

// One time step of length t on the plane p, in place. `cond` and `along_rows`
// are plane-sized scratch.
void diffusion_step(float* p, int width, int height, float threshold, float t, float* cond, float* along_rows) {
    conductances(p, width, height, threshold, cond);
    const size_t w = size_t(width);

    // Along rows, a strip of rows at a time, into along_rows.
    const int strips = (height + kRowLanes - 1) / kRowLanes;
#pragma omp parallel
    {
        const size_t lane_floats = w * size_t(kRowLanes);
        std::vector<float> a(lane_floats), s(lane_floats), diag(lane_floats), upper(lane_floats), d(lane_floats);
#pragma omp for schedule(static)
        for (int strip = 0; strip < strips; ++strip) {
            const int first = strip * kRowLanes, lanes = std::min(kRowLanes, height - first);
            detail::rows_to_lanes(cond, w, first, lanes, a.data());
            detail::rows_to_lanes(p, w, first, lanes, s.data());
            solve_lanes(a.data(), s.data(), size_t(lanes), width, lanes, t, diag.data(), upper.data(), d.data());
            detail::lanes_to_rows(d.data(), w, first, lanes, along_rows);
        }
    }

    // Along columns, a batch of columns at a time; the batch reads only its
    // own columns of p, so the average of both directions can go into p.
    const int batches = (width + kColumnLanes - 1) / kColumnLanes;
#pragma omp parallel
    {
        const size_t lane_floats = size_t(height) * size_t(kColumnLanes);
        std::vector<float> diag(lane_floats), upper(lane_floats), d(lane_floats);
#pragma omp for schedule(static)
        for (int batch = 0; batch < batches; ++batch) {
            const int x0 = batch * kColumnLanes, lanes = std::min(kColumnLanes, width - x0);
            solve_lanes(cond + x0, p + x0, w, height, lanes, t, diag.data(), upper.data(), d.data());
            for (int y = 0; y < height; ++y) {
                float* out = p + size_t(y) * w + size_t(x0);
                const float* rows = along_rows + size_t(y) * w + size_t(x0);
                const float* cols = d.data() + size_t(y) * size_t(lanes);
                for (int j = 0; j < lanes; ++j) out[j] = 0.5f * (rows[j] + cols[j]);
            }
        }
    }
}

}  // namespace

void ChromaDiffusionFilter(float* plane, int width, int height, double threshold, double scale) {
    if (width < 2 || height < 2 || !(threshold > 0) || !(scale > 0)) return;
    // Diffusion time scale^2 / 2: whole steps of 5 after a first, shorter
    // one with the remainder (left out when there is none: a step of
    // length 0 changes nothing).
    const double total = scale * scale / 2.0;
    const int steps = int(total / kTimeStep);
    const double rest = total - kTimeStep * steps;
    const size_t n = size_t(width) * size_t(height);
    core::LargeBuffer<float> cond(n), along_rows(n);
    const float thr = float(threshold);
    if (rest > 0) diffusion_step(plane, width, height, thr, float(rest), cond.data(), along_rows.data());
    for (int i = 0; i < steps; ++i)
        diffusion_step(plane, width, height, thr, float(kTimeStep), cond.data(), along_rows.data());
}

}  // namespace ostel::develop
