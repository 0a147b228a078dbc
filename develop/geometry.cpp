// 45-degree sensor rotation and pixel-aspect stretch.
#include "develop/geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "develop/refine_internal.h"

namespace ostel::develop {

namespace {

constexpr double kStep = 0.70710678118654752440;  // sqrt(0.5)

// Largest pixel count a corrected image may have; far above any sensor,
// it only stops a hostile diagonal width from sizing a huge allocation.
constexpr int64_t kMaxTargetPixels = int64_t(1) << 30;

}  // namespace

DiagonalSize diagonal_target_size(int diagonal_width, int height) {
    const int64_t w45 = int64_t(diagonal_width) - 1;
    DiagonalSize size;
    if (w45 < 1 || height <= w45) return size;
    const double tw = double(w45) / kStep;
    const double th = double(int64_t(height) - w45) / kStep;
    if (tw >= double(std::numeric_limits<int>::max()) || th >= double(std::numeric_limits<int>::max()))
        return size;
    size.width = int(tw);
    size.height = int(th);
    return size;
}

bool rotate_diagonal_sensor(const RgbPlanes& refined, int diagonal_width, RgbPlanes& out) {
    if (!detail::holds_image(refined, 2, 2)) return false;
    const DiagonalSize target = diagonal_target_size(diagonal_width, refined.height);
    if (target.width < 1 || target.height < 1) return false;
    if (int64_t(target.width) * int64_t(target.height) > kMaxTargetPixels) return false;

    const int width = refined.width, height = refined.height;
    const long double w45 = diagonal_width - 1;
    const long double q = kStep;
    const size_t tw = size_t(target.width);
    RgbPlanes result;
    result.resize(target.width, target.height, (tw + 5) * (size_t(target.height) + 5));
    const size_t sw = size_t(width);
    for (int r = 0; r < target.height; ++r) {
        for (int c = 0; c < target.width; ++c) {
            const long double u = w45 + (r - c) * q;
            const long double v = (r + c) * q;
            if (u < 0 || v < 0 || u > height - 2 || v > width - 2) continue;
            const size_t i = size_t(u), j = size_t(v);
            const long double fu = u - (long double)i, fv = v - (long double)j;
            const size_t s = i * sw + j;
            for (int p = 0; p < 3; ++p) {
                const float* src = refined[p];
                const long double top = src[s] * (1 - fv) + src[s + 1] * fv;
                const long double bottom = src[s + sw] * (1 - fv) + src[s + sw + 1] * fv;
                result[p][size_t(r) * tw + size_t(c)] = float(top * (1 - fu) + bottom * fu);
            }
        }
    }
    out = std::move(result);
    return true;
}

bool has_half_height_pixels(const std::string& make, const std::string& model) {
    return make == "NIKON" && model == "D1X";
}

bool stretch_pixel_aspect(const RgbPlanes& refined, RgbPlanes& out) {
    if (!detail::holds_image(refined, 1, 1)) return false;
    if (int64_t(refined.width) * int64_t(refined.height) * 2 > kMaxTargetPixels) return false;
    const int width = refined.width, height = refined.height, target_height = 2 * height;
    const size_t w = size_t(width);
    RgbPlanes result;
    result.resize(width, target_height, (w + 5) * (size_t(target_height) + 5));
    for (int p = 0; p < 3; ++p) {
        const float* src = refined[p];
        float* dst = result[p];
#pragma omp parallel for schedule(static)
        for (int r = 0; r < height; ++r) {
            const float* from = src + size_t(r) * w;
            std::copy(from, from + w, dst + size_t(2 * r) * w);
        }
#pragma omp parallel for schedule(static)
        for (int t = 1; t < target_height; t += 2) {
            float* row = dst + size_t(t) * w;
            const float* above = row - w;
            if (t + 1 >= target_height) {
                std::copy(above, above + w, row);
                continue;
            }
            const float* below = row + w;
            for (size_t x = 0; x < w; ++x) row[x] = (above[x] + below[x]) * 0.5f;
        }
    }
    out = std::move(result);
    return true;
}

}  // namespace ostel::develop
