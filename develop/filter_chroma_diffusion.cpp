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
#include "develop/filter_simd.h"
#include "develop/filters.h"

namespace ostel::develop {

namespace {

using detail::kColumnLanes;
using detail::kRowLanes;

constexpr double kTimeStep = 5.0;

// Diffusivity at a gradient (gx, gy): 1 - exp(-3.315 / m^2) with
// m = |gradient|^2 / threshold^2, and 1 where m is 0: the quotient is then
// -infinity, the exponential below 1e-37 and 1 - e rounds to exactly 1.
inline float diffusivity(float gx, float gy, float weight) {
    const float mag = (gx * gx + gy * gy) / weight;
    return 1.0f - detail::exp_of_negative(-3.315f / (mag * mag));
}

// Conductance of one row from the plane's gradient: central differences
// inside, one-sided ones on the outermost rows and columns. The rows above
// and below are the row itself at the image's top and bottom.
OSTEL_VECTOR_CLONES void conductance_row(const float* up, const float* row, const float* down, int width,
                                         float vertical_scale, float weight, float* out) {
    out[0] = diffusivity(width > 1 ? row[0] - row[1] : 0.0f, (up[0] - down[0]) * vertical_scale, weight);
    for (int x = 1; x < width - 1; ++x)
        out[x] = diffusivity((row[x - 1] - row[x + 1]) * 0.5f, (up[x] - down[x]) * vertical_scale, weight);
    if (width > 1)
        out[width - 1] =
            diffusivity(row[width - 2] - row[width - 1], (up[width - 1] - down[width - 1]) * vertical_scale, weight);
}

void conductances(const float* p, int width, int height, float threshold, float* out) {
    const float weight = threshold * threshold;
    const size_t w = size_t(width);
#pragma omp parallel for schedule(static)
    for (int y = 0; y < height; ++y) {
        const float* row = p + size_t(y) * w;
        const float* up = y > 0 ? row - w : row;
        const float* down = y + 1 < height ? row + w : row;
        // Inside, differences over two pixels are halved; at the top and
        // bottom the difference spans one pixel.
        conductance_row(up, row, down, width, (y > 0 && y + 1 < height) ? 0.5f : 1.0f, weight, out + size_t(y) * w);
    }
}

// Solves (1 + t A) u = s on `lanes` lines of n samples, sample i of lane j
// at [i * stride + j] of a (conductances) and s, into d at [i * lanes + j].
// A is the line's diffusion operator: neighbours coupled by the sum of
// their conductances.
OSTEL_VECTOR_CLONES void solve_lanes(const float* a, const float* s, size_t stride, int n, int lanes, float t, float* diag, float* upper,
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

// p = (along_rows + d) / 2 for a batch of columns (d in lane layout).
OSTEL_VECTOR_CLONES void average_into(float* p, const float* along_rows, size_t w, const float* d, int height,
                                      int lanes) {
    for (int y = 0; y < height; ++y) {
        float* out = p + size_t(y) * w;
        const float* rows = along_rows + size_t(y) * w;
        const float* cols = d + size_t(y) * size_t(lanes);
        for (int j = 0; j < lanes; ++j) out[j] = 0.5f * (rows[j] + cols[j]);
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
            average_into(p + x0, along_rows + x0, w, d.data(), height, lanes);
        }
    }
}

}  // namespace

void ChromaDiffusionFilter(float* plane, int width, int height, double threshold, double scale,
                           DiffusionScratch* scratch) {
    if (width < 2 || height < 2 || !(threshold > 0) || !(scale > 0)) return;
    // Diffusion time scale^2 / 2: whole steps of 5 after a first, shorter
    // one with the remainder (left out when there is none: a step of
    // length 0 changes nothing).
    const double total = scale * scale / 2.0;
    const int steps = int(total / kTimeStep);
    const double rest = total - kTimeStep * steps;
    const size_t n = size_t(width) * size_t(height);
    DiffusionScratch own;
    DiffusionScratch& s = scratch ? *scratch : own;
    if (s.conductance.size() < n) s.conductance.resize(n);
    if (s.along_rows.size() < n) s.along_rows.resize(n);
    const float thr = float(threshold);
    if (rest > 0) diffusion_step(plane, width, height, thr, float(rest), s.conductance.data(), s.along_rows.data());
    for (int i = 0; i < steps; ++i)
        diffusion_step(plane, width, height, thr, float(kTimeStep), s.conductance.data(), s.along_rows.data());
}

}  // namespace ostel::develop
