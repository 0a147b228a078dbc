// Luminance noise reduction: a bilateral filter whose range distance is the
// CIELab distance of the pixels. Each half of the image keeps a ring of the
// unfiltered rows its window needs (RGB and Lab), so the output can be
// written in place row by row.
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "develop/filter_bilateral_kernel.h"
#include "develop/filter_lab.h"
#include "develop/filters.h"

namespace ostel::develop {

namespace {

using detail::BilateralRow;
using detail::BilateralWindow;

// Lab value of the columns beside the image: so far from any real colour
// that its weight is 0 for every range sigma the filter accepts, yet small
// enough that squared differences stay finite.
constexpr float kFarAway = 1.0e6f;

struct Tables {
    int radius = 0;
    std::vector<float> spatial;
    float range_scale = 0;
    std::array<float, 1025> weight{};
};

Tables make_tables(double spatial_sigma, double range_sigma) {
    Tables t;
    t.radius = int(std::ceil(2.0 * spatial_sigma));
    for (int i = -t.radius; i <= t.radius; ++i)
        t.spatial.push_back(float(256.0 * i * i / (2.0 * spatial_sigma * spatial_sigma) + 0.25));
    t.range_scale = float(256.0 / (2.0 * range_sigma * range_sigma));
    for (int n = 0; n < 1024; ++n) t.weight[size_t(n)] = float(std::exp(-n / 256.0));
    t.weight[1024] = 0.0f;  // beyond the table: no weight
    return t;
}

// Unfiltered rows of one half: rows of the band around the middle come from
// the copy taken before either half started, the others from the planes
// (a half reads each of its own rows before it writes it).
struct RowSource {
    const RgbPlanes& planes;
    const std::array<std::vector<float>, 3>& band;
    int band_first, band_end;

    const float* row(int c, int y) const {
        const size_t w = size_t(planes.width);
        if (y >= band_first && y < band_end) return band[size_t(c)].data() + size_t(y - band_first) * w;
        return planes[c] + size_t(y) * w;
    }
};

// 2 * radius + 2 rows of R, G, B, L, a, b, each padded by the radius on the
// left and to whole blocks of eight plus the radius on the right.
class Ring {
public:
    Ring(int radius, int width)
        : radius_(radius),
          slots_(2 * radius + 2),
          padded_(size_t(radius) + size_t((width + 7) / 8 * 8) + size_t(radius)),
          data_(size_t(slots_) * 6 * padded_) {
        for (int s = 0; s < slots_; ++s)
            for (int c = 0; c < 6; ++c) {
                float* p = base(s, c);
                std::fill(p, p + padded_, c < 3 ? 0.0f : kFarAway);
            }
    }
    // Channel c (0..2 RGB, 3..5 Lab) of the row held in the slot of y, from
    // column 0 of the image.
    float* at(int y, int c) { return base(y % slots_, c) + radius_; }

private:
    float* base(int slot, int c) { return data_.data() + (size_t(slot) * 6 + size_t(c)) * padded_; }
    int radius_, slots_;
    size_t padded_;
    std::vector<float> data_;
};

void filter_rows(RgbPlanes& planes, const RowSource& source, const Tables& t, const LabMatrix& lab, int first,
                 int end) {
    const int width = planes.width, height = planes.height, e = t.radius;
    Ring ring(e, width);
    auto load = [&](int y) {
        float* rgb[3];
        for (int c = 0; c < 3; ++c) {
            rgb[c] = ring.at(y, c);
            std::copy_n(source.row(c, y), width, rgb[c]);
        }
        detail::lab_of_row(lab, rgb[0], rgb[1], rgb[2], width, ring.at(y, 3), ring.at(y, 4), ring.at(y, 5));
    };
    int loaded_end = std::max(0, first - e);
    const BilateralWindow window{e, t.spatial.data(), t.range_scale, t.weight.data()};
    const int blocks = (width + 7) / 8;
    std::array<std::vector<float>, 3> result;
    for (auto& r : result) r.resize(size_t(blocks) * 8);
    float* out[3] = {result[0].data(), result[1].data(), result[2].data()};
    const bool avx2 = detail::cpu_has_avx2();
    std::vector<BilateralRow> rows;
    for (int y = first; y < end; ++y) {
        for (; loaded_end <= std::min(height - 1, y + e); ++loaded_end) load(loaded_end);
        rows.clear();
        for (int dy = -e; dy <= e; ++dy) {
            const int yy = y + dy;
            if (yy < 0 || yy >= height) continue;
            rows.push_back({{ring.at(yy, 3), ring.at(yy, 4), ring.at(yy, 5)},
                            {ring.at(yy, 0), ring.at(yy, 1), ring.at(yy, 2)},
                            t.spatial[size_t(dy + e)]});
        }
        const float* centre[3] = {ring.at(y, 3), ring.at(y, 4), ring.at(y, 5)};
        if (avx2)
            detail::bilateral_blocks_avx2(window, rows, centre, blocks, out);
        else
            detail::bilateral_blocks_plain(window, rows, centre, blocks, out);
        for (int c = 0; c < 3; ++c) std::copy_n(out[c], width, planes[c] + size_t(y) * size_t(width));
    }
}

}  // namespace

void BilateralFilter(RgbPlanes& planes, double spatial_sigma, double range_sigma, const LabMatrix& lab) {
    // A sigma at 0 would divide by zero in the tables: no filtering.
    if (!(spatial_sigma > 0) || !(range_sigma > 0)) return;
    // Beyond these every weight is already flat; the bounds keep the window
    // and the padding's zero weight within reach.
    spatial_sigma = std::min(spatial_sigma, 16.0);
    range_sigma = std::min(range_sigma, 1000.0);
    const int width = planes.width, height = planes.height;
    if (width < 1 || height < 1) return;
    const Tables t = make_tables(spatial_sigma, range_sigma);

    // Rows within the window's reach of the middle, on both sides: each half
    // reads those of the other half from this copy.
    const int middle = height / 2;
    const int band_first = std::max(0, middle - t.radius), band_end = std::min(height, middle + t.radius);
    std::array<std::vector<float>, 3> band;
    for (int c = 0; c < 3; ++c)
        band[size_t(c)].assign(planes[c] + size_t(band_first) * size_t(width),
                               planes[c] + size_t(band_end) * size_t(width));
    const RowSource source{planes, band, band_first, band_end};

#pragma omp parallel for schedule(static, 1)
    for (int half = 0; half < 2; ++half) {
        if (half == 0)
            filter_rows(planes, source, t, lab, 0, middle);
        else
            filter_rows(planes, source, t, lab, middle, height);
    }
}

}  // namespace ostel::develop
