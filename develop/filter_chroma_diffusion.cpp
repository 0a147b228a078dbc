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

// Conductances of columns x_begin .. x_end - 1 of one row from the plane's
// gradient: central differences inside, one-sided ones on the outermost rows
// and columns. The rows above and below are the row itself at the image's
// top and bottom, where vertical_scale is 1 instead of 0.5.
OSTEL_VECTOR_CLONES void conductance_span(const float* up, const float* row, const float* down, int width,
                                          int x_begin, int x_end, float vertical_scale, float weight, float* out) {
    int x = x_begin;
    if (x == 0 && x < x_end) {
        out[0] = diffusivity(row[0] - row[1], (up[0] - down[0]) * vertical_scale, weight);
        ++x;
    }
    const int inner_end = std::min(x_end, width - 1);
    float* o = out - x_begin;
    for (int i = x; i < inner_end; ++i)
        o[i] = diffusivity((row[i - 1] - row[i + 1]) * 0.5f, (up[i] - down[i]) * vertical_scale, weight);
    if (x_end == width)
        o[width - 1] =
            diffusivity(row[width - 2] - row[width - 1], (up[width - 1] - down[width - 1]) * vertical_scale, weight);
}

// The conductances of columns x_begin .. x_end - 1 of row y.
void conductance_at_row(const float* p, int width, int height, int y, int x_begin, int x_end, float weight,
                        float* out) {
    const size_t w = size_t(width);
    const float* row = p + size_t(y) * w;
    const float* up = y > 0 ? row - w : row;
    const float* down = y + 1 < height ? row + w : row;
    conductance_span(up, row, down, width, x_begin, x_end, (y > 0 && y + 1 < height) ? 0.5f : 1.0f, weight, out);
}

// next = (row result + column result) / 2 for a strip of rows, the row
// results in lane layout.
OSTEL_VECTOR_CLONES void average_lanes_into(const float* d, size_t w, int first, int lanes, float* next) {
    for (int j = 0; j < lanes; ++j) {
        float* out = next + size_t(first + j) * w;
        for (size_t i = 0; i < w; ++i) out[i] = 0.5f * (d[i * size_t(lanes) + size_t(j)] + out[i]);
    }
}

// Solves (1 + t A) u = s on `lanes` lines of n samples, sample i of lane j
// at [i * lanes + j] of a (conductances) and at [i * stride + j] of s, into
// d at [i * lanes + j].
// A is the line's diffusion operator: neighbours coupled by the sum of
// their conductances.
OSTEL_VECTOR_CLONES void solve_lanes(const float* a, const float* s, size_t stride, int n, int lanes, float t,
                                     float* diag, float* upper, float* d) {
    const size_t L = size_t(lanes);
    if (n == 1) {
        for (size_t j = 0; j < L; ++j) d[j] = s[j];
        return;
    }
    for (size_t j = 0; j < L; ++j) {
        diag[j] = 1.0f + t * (a[j] + a[L + j]);
        d[j] = s[j];
    }
    for (int i = 0; i + 1 < n; ++i) {
        const float* ai = a + size_t(i) * L;
        const float* an = ai + L;
        const float* si = s + size_t(i + 1) * stride;
        const float* dg = diag + size_t(i) * L;
        const float* di = d + size_t(i) * L;
        float* up = upper + size_t(i) * L;
        float* dg_next = diag + size_t(i + 1) * L;
        float* d_next = d + size_t(i + 1) * L;
        if (i + 2 < n) {
            const float* ann = an + L;
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

// One time step of length t: `next` receives the plane after the step; p
// is only read. Conductances are worked out where they are needed, once for
// the columns and once for the rows, so that the step needs no more than
// the one plane of scratch.
void diffusion_step(const float* p, int width, int height, float threshold, float t, float* next) {
    const size_t w = size_t(width);
    const float weight = threshold * threshold;

    // Along columns, a batch of columns at a time, into next.
    const int batches = (width + kColumnLanes - 1) / kColumnLanes;
#pragma omp parallel
    {
        const size_t lane_floats = size_t(height) * size_t(kColumnLanes);
        std::vector<float> a(lane_floats), diag(lane_floats), upper(lane_floats), d(lane_floats);
#pragma omp for schedule(static)
        for (int batch = 0; batch < batches; ++batch) {
            const int x0 = batch * kColumnLanes, lanes = std::min(kColumnLanes, width - x0);
            for (int y = 0; y < height; ++y)
                conductance_at_row(p, width, height, y, x0, x0 + lanes, weight, a.data() + size_t(y) * size_t(lanes));
            solve_lanes(a.data(), p + x0, w, height, lanes, t, diag.data(), upper.data(), d.data());
            for (int y = 0; y < height; ++y)
                std::copy_n(d.data() + size_t(y) * size_t(lanes), lanes, next + size_t(y) * w + size_t(x0));
        }
    }

    // Along rows, a strip of rows at a time; next becomes the mean of both
    // directions.
    const int strips = (height + kRowLanes - 1) / kRowLanes;
#pragma omp parallel
    {
        const size_t lane_floats = w * size_t(kRowLanes);
        std::vector<float> cond(lane_floats), a(lane_floats), s(lane_floats), diag(lane_floats), upper(lane_floats),
            d(lane_floats);
#pragma omp for schedule(static)
        for (int strip = 0; strip < strips; ++strip) {
            const int first = strip * kRowLanes, lanes = std::min(kRowLanes, height - first);
            for (int j = 0; j < lanes; ++j)
                conductance_at_row(p, width, height, first + j, 0, width, weight, cond.data() + size_t(j) * w);
            detail::rows_to_lanes(cond.data(), w, 0, lanes, a.data());
            detail::rows_to_lanes(p, w, first, lanes, s.data());
            solve_lanes(a.data(), s.data(), size_t(lanes), width, lanes, t, diag.data(), upper.data(), d.data());
            average_lanes_into(d.data(), w, first, lanes, next);
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
    Plane& next = (scratch ? *scratch : own).next;
    if (next.size() < n) next.resize(n);
    const float thr = float(threshold);
    // The steps alternate between the plane and the scratch; the result
    // goes back into the plane at the end.
    float* from = plane;
    float* to = next.data();
    auto step = [&](double t) {
        diffusion_step(from, width, height, thr, float(t), to);
        std::swap(from, to);
    };
    if (rest > 0) step(rest);
    for (int i = 0; i < steps; ++i) step(kTimeStep);
    if (from != plane) std::copy_n(from, n, plane);
}

}  // namespace ostel::develop
