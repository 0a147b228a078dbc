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

// The image is processed in strips of rows, each by one thread with small
// buffers of its own. An output row depends on the input rows up to
// kReach above and below it, so a strip reads a few rows of its neighbours;
// those are taken from a copy made before the strips start writing.
constexpr int kStripRows = 32;
constexpr int kReach = 3;

// Copies of the rows near every strip edge, as they were before a sweep.
class EdgeRows {
public:
    EdgeRows(const float* plane, int width, int height) : width_(size_t(width)), slot_(size_t(height), -1) {
        for (int y = 0; y < height; ++y) {
            const int offset = y % kStripRows;
            const int length = std::min(kStripRows, height - (y - offset));
            if (offset >= kReach && offset < length - kReach) continue;
            slot_[size_t(y)] = int(rows_.size() / width_);
            rows_.insert(rows_.end(), plane + size_t(y) * width_, plane + size_t(y + 1) * width_);
        }
    }
    const float* row(int y) const { return rows_.data() + size_t(slot_[size_t(y)]) * width_; }

private:
    size_t width_;
    std::vector<int> slot_;
    std::vector<float> rows_;
};

// Per-thread working memory of one strip.
struct StripBuffers {
    std::vector<float> analysed_rows, analysed_cols;
    std::vector<float> green_low_rows, green_high_rows, high_rows, low_rows;
};

// For the output rows [y0, y1) of an h-row image w wide: analyses the input
// along rows (3 taps kr, full convolution, w + 2 results per row), then
// along columns (3 taps kc, h + 2 extended rows), and adds the column
// synthesis (5 taps k5) into acc, (y1 - y0) rows of w + 2. Extended row s
// is centred on input row s - 1; output row y is centred on extended row
// y + 1. Outside the image everything is zero.
template <class InputRow>
void add_column_band(const InputRow& input_row, int w, int h, int y0, int y1, const float (&kr)[3],
                     const float (&kc)[3], const float (&k5)[5], float* acc, StripBuffers& b) {
    const size_t ew = size_t(w) + 2;
    const int r_lo = std::max(0, y0 - kReach), r_hi = std::min(h, y1 + kReach);
    b.analysed_rows.resize(size_t(r_hi - r_lo) * ew);
    for (int r = r_lo; r < r_hi; ++r) {
        const float* src = input_row(r);
        float* dst = b.analysed_rows.data() + size_t(r - r_lo) * ew;
        for (int x = 0; x < w + 2; ++x) {
            float sum = 0.0f;
            for (int t = 0; t < 3; ++t) {
                const int s = x - t;
                if (s >= 0 && s < w) sum += kr[t] * src[s];
            }
            dst[x] = sum;
        }
    }
    const int s_lo = std::max(0, y0 - 1), s_hi = std::min(h + 2, y1 + 3);
    b.analysed_cols.resize(size_t(s_hi - s_lo) * ew);
    for (int s = s_lo; s < s_hi; ++s) {
        float* dst = b.analysed_cols.data() + size_t(s - s_lo) * ew;
        std::fill(dst, dst + ew, 0.0f);
        for (int t = 0; t < 3; ++t) {
            const int r = s - t;
            if (r < 0 || r >= h) continue;
            const float* src = b.analysed_rows.data() + size_t(r - r_lo) * ew;
            for (size_t x = 0; x < ew; ++x) dst[x] += kc[t] * src[x];
        }
    }
    for (int y = y0; y < y1; ++y) {
        float* dst = acc + size_t(y - y0) * ew;
        for (int t = 0; t < 5; ++t) {
            const int s = y + 1 + (t - 2);
            if (s < 0 || s >= h + 2) continue;
            const float* src = b.analysed_cols.data() + size_t(s - s_lo) * ew;
            for (size_t x = 0; x < ew; ++x) dst[x] += k5[t] * src[x];
        }
    }
}

// 5-tap synthesis along one row: ext holds w + 2 values, output column x is
// centred on extended column x + 1; the result is added to base into out.
void synthesise_row(const float* ext, int w, const float (&k)[5], const float* base, float* out) {
    for (int x = 0; x < w; ++x) {
        float sum = 0.0f;
        for (int t = 0; t < 5; ++t) {
            const int s = x + 1 + (t - 2);
            if (s >= 0 && s < w + 2) sum += k[t] * ext[s];
        }
        out[x] = (base ? base[x] : 0.0f) + sum;
    }
}

}  // namespace

void ArtifactSuppression(RgbPlanes& planes, int level) {
    if (!detail::holds_image(planes, 1, 1)) return;
    level = std::clamp(level, 1, 3);
    const int w = planes.width, h = planes.height;
    const size_t ew = size_t(w) + 2;
    const int strips = (h + kStripRows - 1) / kStripRows;
    const float* green = planes[1];
    const auto green_row = [&](int r) { return green + size_t(r) * size_t(w); };

    for (int pass = 0; pass < level; ++pass) {
        const EdgeRows red_edges(planes[0], w, h), blue_edges(planes[2], w, h);
#pragma omp parallel
        {
            StripBuffers b;
#pragma omp for schedule(static)
            for (int strip = 0; strip < strips; ++strip) {
                const int y0 = strip * kStripRows, y1 = std::min(h, y0 + kStripRows);
                const size_t rows = size_t(y1 - y0);
                // Green's share: the band that is low along rows and high
                // along columns, column-synthesised, joins the red or blue
                // low band before the row synthesis; the two bands that are
                // high along rows come in finished.
                b.green_low_rows.assign(rows * ew, 0.0f);
                add_column_band(green_row, w, h, y0, y1, kLow3, kHigh3, kHigh5, b.green_low_rows.data(), b);
                b.high_rows.assign(rows * ew, 0.0f);
                add_column_band(green_row, w, h, y0, y1, kHigh3, kLow3, kLow5, b.high_rows.data(), b);
                add_column_band(green_row, w, h, y0, y1, kHigh3, kHigh3, kHigh5, b.high_rows.data(), b);
                b.green_high_rows.resize(rows * size_t(w));
                for (size_t y = 0; y < rows; ++y)
                    synthesise_row(b.high_rows.data() + y * ew, w, kHigh5, nullptr,
                                   b.green_high_rows.data() + y * size_t(w));

                // Red and blue keep their low band.
                for (int c : {0, 2}) {
                    float* plane = planes[c];
                    const EdgeRows& edges = c == 0 ? red_edges : blue_edges;
                    const auto input_row = [&](int r) -> const float* {
                        return r >= y0 && r < y1 ? plane + size_t(r) * size_t(w) : edges.row(r);
                    };
                    b.low_rows = b.green_low_rows;
                    add_column_band(input_row, w, h, y0, y1, kLow3, kLow3, kLow5, b.low_rows.data(), b);
                    for (size_t y = 0; y < rows; ++y)
                        synthesise_row(b.low_rows.data() + y * ew, w, kLow5, b.green_high_rows.data() + y * size_t(w),
                                       plane + (size_t(y0) + y) * size_t(w));
                }
            }
        }
    }
}

}  // namespace ostel::develop
