// Colour-moire suppression: red and blue keep their own low band and take
// the three detail bands of green.
//
// Analysis is an undecimated separable filter bank with 3-tap kernels; each
// 3-tap pass is a full convolution with zero outside the image, so its
// output is two samples longer than its input and position k of the output
// is centred on input position k - 1. Synthesis uses 5-tap kernels that
// together with the analysis kernels reconstruct the input exactly, so a
// plane whose detail equals green's comes back unchanged.
#include <algorithm>
#include <vector>

#include "develop/refine.h"
#include "develop/refine_internal.h"

namespace ostel::develop {

namespace {

constexpr float kLow3[3] = {0.25f, 0.5f, 0.25f};
constexpr float kHigh3[3] = {0.25f, -0.5f, 0.25f};
constexpr float kLow5[5] = {-0.125f, 0.25f, 0.75f, 0.25f, -0.125f};
constexpr float kHigh5[5] = {0.125f, 0.25f, -0.75f, 0.25f, 0.125f};

using Buffer = std::vector<float>;

// Full convolution of every row: in is rows x cols, out rows x (cols + 2).
Buffer analyse_rows(const float* in, int cols, int rows, const float (&k)[3]) {
    const size_t ew = size_t(cols) + 2;
    Buffer out(ew * size_t(rows));
#pragma omp parallel for schedule(static)
    for (int y = 0; y < rows; ++y) {
        const float* src = in + size_t(y) * size_t(cols);
        float* dst = out.data() + size_t(y) * ew;
        for (int x = 0; x < cols + 2; ++x) {
            float sum = 0.0f;
            for (int t = 0; t < 3; ++t) {
                const int s = x - t;
                if (s >= 0 && s < cols) sum += k[t] * src[s];
            }
            dst[x] = sum;
        }
    }
    return out;
}

// Full convolution of every column: in is rows x cols, out (rows + 2) x cols.
Buffer analyse_cols(const Buffer& in, int cols, int rows, const float (&k)[3]) {
    const size_t w = size_t(cols);
    Buffer out(w * (size_t(rows) + 2));
#pragma omp parallel for schedule(static)
    for (int y = 0; y < rows + 2; ++y) {
        float* dst = out.data() + size_t(y) * w;
        std::fill(dst, dst + w, 0.0f);
        for (int t = 0; t < 3; ++t) {
            const int s = y - t;
            if (s < 0 || s >= rows) continue;
            const float* src = in.data() + size_t(s) * w;
            for (size_t x = 0; x < w; ++x) dst[x] += k[t] * src[x];
        }
    }
    return out;
}

// 5-tap synthesis along columns: ext is (rows + 2) x cols, adds into out
// (rows x cols). Output row y is centred on extended row y + 1.
void synthesise_cols(const Buffer& ext, int cols, int rows, const float (&k)[5], Buffer& out) {
    const size_t w = size_t(cols);
#pragma omp parallel for schedule(static)
    for (int y = 0; y < rows; ++y) {
        float* dst = out.data() + size_t(y) * w;
        for (int t = 0; t < 5; ++t) {
            const int s = y + 1 + (t - 2);
            if (s < 0 || s >= rows + 2) continue;
            const float* src = ext.data() + size_t(s) * w;
            for (size_t x = 0; x < w; ++x) dst[x] += k[t] * src[x];
        }
    }
}

// 5-tap synthesis along rows: ext is rows x (cols + 2), adds into out
// (rows x cols). Output column x is centred on extended column x + 1.
void synthesise_rows(const Buffer& ext, int cols, int rows, const float (&k)[5], float* out) {
    const size_t ew = size_t(cols) + 2;
#pragma omp parallel for schedule(static)
    for (int y = 0; y < rows; ++y) {
        const float* src = ext.data() + size_t(y) * ew;
        float* dst = out + size_t(y) * size_t(cols);
        for (int x = 0; x < cols; ++x) {
            float sum = 0.0f;
            for (int t = 0; t < 5; ++t) {
                const int s = x + 1 + (t - 2);
                if (s >= 0 && s < cols + 2) sum += k[t] * src[s];
            }
            dst[x] += sum;
        }
    }
}

}  // namespace

void ArtifactSuppression(RgbPlanes& planes, int level) {
    if (!detail::holds_image(planes, 1, 1)) return;
    level = std::clamp(level, 1, 3);
    const int w = planes.width, h = planes.height;
    const size_t ew = size_t(w) + 2;
    const size_t n = planes.pixel_count();

    // Green's share of the synthesis, computed once: the column-synthesised
    // band that joins the red or blue low band before the row synthesis
    // (from the band that is low along rows, high along columns), and the
    // finished contribution of the two bands that are high along rows.
    Buffer green_low_rows;
    Buffer green_high_rows(n, 0.0f);
    {
        const Buffer g_low = analyse_rows(planes[1], w, h, kLow3);
        const Buffer g_high = analyse_rows(planes[1], w, h, kHigh3);
        green_low_rows.assign(ew * size_t(h), 0.0f);
        synthesise_cols(analyse_cols(g_low, int(ew), h, kHigh3), int(ew), h, kHigh5, green_low_rows);
        Buffer high_rows(ew * size_t(h), 0.0f);
        synthesise_cols(analyse_cols(g_high, int(ew), h, kLow3), int(ew), h, kLow5, high_rows);
        synthesise_cols(analyse_cols(g_high, int(ew), h, kHigh3), int(ew), h, kHigh5, high_rows);
        synthesise_rows(high_rows, w, h, kHigh5, green_high_rows.data());
    }

    for (int pass = 0; pass < level; ++pass) {
        for (int c : {0, 2}) {
            float* plane = planes[c];
            const Buffer low = analyse_cols(analyse_rows(plane, w, h, kLow3), int(ew), h, kLow3);
            Buffer low_rows = green_low_rows;
            synthesise_cols(low, int(ew), h, kLow5, low_rows);
            std::copy(green_high_rows.begin(), green_high_rows.end(), plane);
            synthesise_rows(low_rows, w, h, kLow5, plane);
        }
    }
}

}  // namespace ostel::develop
