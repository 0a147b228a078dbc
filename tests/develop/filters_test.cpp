// The filters one by one on small synthetic planes: each against a plain
// reference (a direct per-pixel computation, or the image library whose
// algorithms the diffusion and the smoothing follow), and the cases where
// a filter must leave the planes alone.
#include <gtest/gtest.h>
#include <vigra/nonlineardiffusion.hxx>
#include <vigra/recursiveconvolution.hxx>
#include <vigra/stdimage.hxx>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "develop/filter_bilateral_kernel.h"
#include "develop/filter_lab.h"
#include "develop/filters.h"
#include "tools/simcam/camera.h"

namespace {

using namespace ostel::develop;

// A plane pair of soft shapes plus noise, values inside 0..65535.
RgbPlanes noisy_picture(int width, int height, double noise, uint64_t seed = 3) {
    ostel::simcam::Rng rng(seed);
    RgbPlanes p;
    p.resize(width, height, size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool inside = (x - width / 3) * (x - width / 3) + (y - height / 2) * (y - height / 2) < height * height / 9;
            const double base[3] = {inside ? 30000.0 : 8000.0, inside ? 12000.0 : 9000.0, x < width / 2 ? 5000.0 : 20000.0};
            for (int c = 0; c < 3; ++c)
                p[c][size_t(y) * size_t(width) + size_t(x)] =
                    float(std::clamp(base[c] + noise * rng.gaussian(), 0.0, 65535.0));
        }
    return p;
}

bool same_planes(const RgbPlanes& a, const RgbPlanes& b) {
    for (int c = 0; c < 3; ++c)
        if (!std::equal(a.plane[size_t(c)].begin(), a.plane[size_t(c)].end(), b.plane[size_t(c)].begin())) return false;
    return true;
}

double deviation(const float* p, size_t n) {
    double s = 0, s2 = 0;
    for (size_t i = 0; i < n; ++i) s += p[i], s2 += double(p[i]) * p[i];
    const double m = s / double(n);
    return std::sqrt(std::max(0.0, s2 / double(n) - m * m));
}

const float kSrgbCamera[3][3] = {{3.2404542f, -1.5371385f, -0.4985314f},
                                 {-0.9692660f, 1.8760108f, 0.0415560f},
                                 {0.0556434f, -0.2040259f, 1.0572252f}};

// ---- luminance noise reduction ----

// The bilateral filter computed directly from its definition, one pixel at
// a time, with the weights as exponentials.
RgbPlanes bilateral_reference(const RgbPlanes& in, double sd, double sr, const LabMatrix& lab) {
    const int w = in.width, h = in.height;
    std::vector<float> L(size_t(w) * size_t(h)), A(L.size()), B(L.size());
    for (int y = 0; y < h; ++y) {
        const size_t o = size_t(y) * size_t(w);
        detail::lab_of_row(lab, in[0] + o, in[1] + o, in[2] + o, w, L.data() + o, A.data() + o, B.data() + o);
    }
    const int e = int(std::ceil(2 * sd));
    RgbPlanes out;
    out.resize(w, h, size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * size_t(w) + size_t(x);
            double sum[3] = {}, weight = 0;
            for (int dy = -e; dy <= e; ++dy)
                for (int dx = -e; dx <= e; ++dx) {
                    const int yy = y + dy, xx = x + dx;
                    if (yy < 0 || yy >= h || xx < 0 || xx >= w) continue;
                    const size_t j = size_t(yy) * size_t(w) + size_t(xx);
                    const double d2 = std::pow(L[j] - L[i], 2) + std::pow(A[j] - A[i], 2) + std::pow(B[j] - B[i], 2);
                    const double n = std::floor(256 / (2 * sr * sr) * d2 + 256 * dy * dy / (2 * sd * sd) + 0.25 +
                                                256 * dx * dx / (2 * sd * sd) + 0.25);
                    if (n >= 1024) continue;
                    const double wt = std::exp(-n / 256);
                    weight += wt;
                    for (int c = 0; c < 3; ++c) sum[c] += wt * in[c][j];
                }
            for (int c = 0; c < 3; ++c) out[c][i] = float(sum[c] / weight);
        }
    return out;
}

TEST(BilateralFilterTest, MatchesTheDirectComputationAcrossEdgesAndTheMiddleRows) {
    const LabMatrix lab = lab_matrix_for_camera(kSrgbCamera);
    // Odd sizes: blocks of eight leave a remainder; the middle row splits
    // the image into the halves filtered side by side.
    for (const auto& [sd, sr] : {std::pair{2.0, 2.0}, std::pair{1.0, 0.4}, std::pair{3.2, 4.0}}) {
        SCOPED_TRACE(sd);
        RgbPlanes p = noisy_picture(37, 29, 1500);
        const RgbPlanes want = bilateral_reference(p, sd, sr, lab);
        BilateralFilter(p, sd, sr, lab);
        double worst = 0;
        for (int c = 0; c < 3; ++c)
            for (size_t i = 0; i < p.pixel_count(); ++i) worst = std::max(worst, double(std::fabs(p[c][i] - want[c][i])));
        // Float sums against double ones; a table index that rounds the
        // other way moves a weight by 1/256 of itself.
        EXPECT_LT(worst, 10.0);
    }
}

TEST(BilateralFilterTest, VectorAndPlainKernelsGiveTheSameBits) {
    if (!detail::cpu_has_avx2()) GTEST_SKIP() << "no AVX2 on this processor";
    const LabMatrix lab = lab_matrix_for_camera(kSrgbCamera);
    const RgbPlanes p = noisy_picture(64, 9, 3000);
    const int e = 4, width = 64;
    std::vector<float> spatial;
    for (int i = -e; i <= e; ++i) spatial.push_back(float(256.0 * i * i / 8.0 + 0.25));
    std::vector<float> weight(1025);
    for (int n = 0; n < 1024; ++n) weight[size_t(n)] = float(std::exp(-n / 256.0));
    const detail::BilateralWindow window{e, spatial.data(), 32.0f, weight.data()};
    // Rows padded by the radius on both sides, the padding far away in Lab.
    const size_t padded = size_t(width + 2 * e);
    std::vector<std::vector<float>> rows(9 * 6, std::vector<float>(padded, 1e6f));
    std::vector<detail::BilateralRow> list;
    for (int r = 0; r < 9; ++r) {
        float* ch[6];
        for (int c = 0; c < 6; ++c) ch[c] = rows[size_t(r * 6 + c)].data() + e;
        for (int c = 0; c < 3; ++c) {
            std::fill(ch[c] - e, ch[c] - e + padded, 0.0f);
            std::copy_n(p[c] + size_t(r) * size_t(width), width, ch[c]);
        }
        detail::lab_of_row(lab, ch[0], ch[1], ch[2], width, ch[3], ch[4], ch[5]);
        list.push_back({{ch[3], ch[4], ch[5]}, {ch[0], ch[1], ch[2]}, spatial[size_t(r)]});
    }
    const float* centre[3] = {list[4].lab[0], list[4].lab[1], list[4].lab[2]};
    std::vector<float> a(3 * width), b(3 * width);
    float* out_a[3] = {a.data(), a.data() + width, a.data() + 2 * width};
    float* out_b[3] = {b.data(), b.data() + width, b.data() + 2 * width};
    detail::bilateral_blocks_avx2(window, list, centre, width / 8, out_a);
    detail::bilateral_blocks_plain(window, list, centre, width / 8, out_b);
    EXPECT_EQ(a, b);
}

TEST(BilateralFilterTest, ASigmaAtZeroLeavesThePlanes) {
    const LabMatrix lab = lab_matrix_for_camera(kSrgbCamera);
    const RgbPlanes original = noisy_picture(20, 16, 2000);
    for (const auto& [sd, sr] : {std::pair{0.0, 2.0}, std::pair{2.0, 0.0}, std::pair{-1.0, -1.0}}) {
        RgbPlanes p = noisy_picture(20, 16, 2000);
        BilateralFilter(p, sd, sr, lab);
        EXPECT_TRUE(same_planes(p, original)) << sd << " " << sr;
    }
}

// ---- YIQ ----

TEST(YiqTest, GreyHasNoChromaAndTheRoundTripKeepsTheColours) {
    RgbPlanes p = noisy_picture(8, 8, 0);
    for (size_t i = 0; i < 4; ++i) p[0][i] = p[1][i] = p[2][i] = 1000.0f * float(i + 1);
    const RgbPlanes original = p;
    split_yiq(p);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_NEAR(p[0][i], 1000.0f * float(i + 1), 0.01f);
        EXPECT_NEAR(p[1][i], 0.0f, 0.01f);
        EXPECT_NEAR(p[2][i], 0.0f, 0.01f);
    }
    rebuild_rgb(p);
    // The published three-decimal matrices invert each other to about 0.1 %.
    for (int c = 0; c < 3; ++c)
        for (size_t i = 0; i < p.pixel_count(); ++i) EXPECT_NEAR(p[c][i], original[c][i], 40.0f);
}

// ---- chroma median ----

TEST(ChromaMedianTest, RunningHistogramMatchesSortingEachWindow) {
    ostel::simcam::Rng rng(11);
    const int w = 41, h = 23;
    std::vector<uint16_t> levels(size_t(w) * size_t(h));
    for (auto& v : levels) v = uint16_t(rng.uniform() < 0.5 ? rng.uniform() * 1001 : 400 + rng.uniform() * 20);
    for (int window : {3, 5, 11, 21}) {
        SCOPED_TRACE(window);
        std::vector<float> out(levels.size(), -1.0f);
        ASSERT_TRUE(ChromaMedianFilter(levels.data(), w, h, window, 1000, out.data(), 1.0, 0.0));
        const int half = window / 2;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const float got = out[size_t(y) * size_t(w) + size_t(x)];
                if (y < half || y >= h - half || x < half || x >= w - half) {
                    ASSERT_EQ(got, -1.0f) << x << "," << y;  // the window leaves the image: not written
                    continue;
                }
                std::vector<uint16_t> win;
                for (int dy = -half; dy <= half; ++dy)
                    for (int dx = -half; dx <= half; ++dx) win.push_back(levels[size_t(y + dy) * size_t(w) + size_t(x + dx)]);
                std::nth_element(win.begin(), win.begin() + long(win.size() / 2), win.end());
                ASSERT_EQ(got, float(win[win.size() / 2])) << x << "," << y;
            }
    }
}

TEST(ChromaMedianTest, RefusesLevelsAboveTheTopAndWindowsLargerThanThePlane) {
    std::vector<uint16_t> levels(100, 5);
    levels[57] = 1001;
    std::vector<float> out(100, -1.0f);
    EXPECT_FALSE(ChromaMedianFilter(levels.data(), 10, 10, 3, 1000, out.data(), 1.0, 0.0));
    levels[57] = 5;
    EXPECT_FALSE(ChromaMedianFilter(levels.data(), 10, 10, 11, 1000, out.data(), 1.0, 0.0));
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == -1.0f; }));
}

TEST(ChromaMedianTest, ReductionKeepsTheBorderAndSkipsAConstantPlane) {
    // Strength 1: window 3, so only the outermost rows and columns keep
    // their values.
    const int w = 12, h = 10;
    ostel::simcam::Rng rng(5);
    std::vector<float> plane(size_t(w) * size_t(h));
    for (auto& v : plane) v = float(rng.uniform() * 2000 - 1000);
    const std::vector<float> original = plane;
    chroma_median_reduction(plane.data(), w, h, 1);
    int changed_inside = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * size_t(w) + size_t(x);
            if (y == 0 || y == h - 1 || x == 0 || x == w - 1)
                EXPECT_EQ(plane[i], original[i]);
            else
                changed_inside += plane[i] != original[i];
            EXPECT_GE(plane[i], -1000.5f);
            EXPECT_LE(plane[i], 1000.5f);
        }
    EXPECT_GT(changed_inside, (w - 2) * (h - 2) / 2);

    // A grey image has I = Q = 0 everywhere: nothing to scale by.
    std::vector<float> grey(size_t(w) * size_t(h), 0.0f);
    chroma_median_reduction(grey.data(), w, h, 5);
    EXPECT_TRUE(std::all_of(grey.begin(), grey.end(), [](float v) { return v == 0.0f; }));
}

// ---- chroma diffusion ----

TEST(ChromaDiffusionTest, FollowsTheLibraryDiffusion) {
    const int w = 45, h = 31;
    RgbPlanes p = noisy_picture(w, h, 600);
    split_yiq(p);
    for (double strength : {1.0, 5.0, 7.0}) {
        SCOPED_TRACE(strength);
        std::vector<float> plane(p[1], p[1] + size_t(w) * size_t(h));
        vigra::FImage src(w, h), dest(w, h);
        std::copy(plane.begin(), plane.end(), src.begin());
        vigra::nonlinearDiffusion(srcImageRange(src), destImage(dest),
                                  vigra::DiffusivityFunctor<float>(float(20 * strength)), strength);
        ChromaDiffusionFilter(plane.data(), w, h, 20 * strength, strength);
        double worst = 0;
        for (size_t i = 0; i < plane.size(); ++i) worst = std::max(worst, double(std::fabs(plane[i] - dest.data()[i])));
        // Single against double precision over a range of several thousand.
        EXPECT_LT(worst, 0.1);
        EXPECT_LT(deviation(plane.data(), plane.size()), deviation(p[1], plane.size()));
    }
}

// ---- sharpening ----

TEST(SharpeningTest, RadiusRule) {
    const std::pair<double, int> cases[] = {{0, 0}, {1, 1}, {5, 5}, {6, 7}, {10, 15}, {35, 103}};
    for (const auto& [position, radius] : cases) EXPECT_EQ(sharpening_radius(position), radius) << position;
}

TEST(SharpeningTest, RecursiveSmoothingFollowsTheLibrary) {
    ostel::simcam::Rng rng(2);
    const int n = 57, lanes = 3;
    std::vector<float> data(size_t(n) * lanes), line(data.size());
    for (auto& v : data) v = float(rng.uniform() * 60000);
    for (int radius : {1, 4, 15}) {
        std::vector<float> mine = data;
        recursive_smooth_lanes(mine.data(), n, lanes, lanes, float(std::exp(-1.0 / radius)), line.data());
        for (int lane = 0; lane < lanes; ++lane) {
            std::vector<float> src(static_cast<size_t>(n)), want(static_cast<size_t>(n));
            for (int i = 0; i < n; ++i) src[size_t(i)] = data[size_t(i) * lanes + size_t(lane)];
            vigra::recursiveSmoothLine(src.begin(), src.end(), vigra::StandardConstValueAccessor<float>(), want.begin(),
                                       vigra::StandardValueAccessor<float>(), double(radius));
            for (int i = 0; i < n; ++i) EXPECT_NEAR(mine[size_t(i) * lanes + size_t(lane)], want[size_t(i)], 0.05);
        }
    }
}

TEST(SharpeningTest, FineDetailGainsContrastAboveTheThresholdOnly) {
    // A one-pixel bright line on a flat field: the 3x3 median is the field,
    // so the line becomes a*Y - k*field; the field itself stays.
    const int w = 9, h = 7;
    const double strength = 1.25, amount = 2.25;
    auto picture = [&] {
        std::vector<float> y(size_t(w) * size_t(h), 10000.0f);
        for (int r = 0; r < h; ++r) y[size_t(r) * size_t(w) + 4] = 14000.0f;
        return y;
    };
    std::vector<float> y = picture();
    MedianSharpen(y.data(), w, h, amount, strength, 0);
    EXPECT_FLOAT_EQ(y[3 * w + 4], float(amount * 14000 - strength * 10000));
    EXPECT_FLOAT_EQ(y[3 * w + 2], 10000.0f);
    EXPECT_FLOAT_EQ(y[0 * w + 4], 14000.0f);  // border row keeps Y

    y = picture();
    MedianSharpen(y.data(), w, h, amount, strength, 4000);  // difference 4000 is not above it
    EXPECT_EQ(y, picture());

    // Smooth sharpening of the same line: brighter line, darker flanks.
    y = picture();
    SmoothSharpen(y.data(), w, h, 1, amount, strength, 0);
    EXPECT_GT(y[3 * w + 4], 14000.0f);
    EXPECT_LT(y[3 * w + 3], 10000.0f);
    y = picture();
    SmoothSharpen(y.data(), w, h, 1, amount, strength, 1e5);
    EXPECT_EQ(y, picture());
}

TEST(SharpeningTest, MedianSharpeningClampsAndSmoothSharpeningDoesNot) {
    const int w = 5, h = 5;
    std::vector<float> y(size_t(w) * size_t(h), 60000.0f);
    y[12] = 64000.0f;
    std::vector<float> z = y;
    MedianSharpen(y.data(), w, h, 2.25, 1.25, 0);
    EXPECT_EQ(y[12], 65535.0f);
    SmoothSharpen(z.data(), w, h, 1, 2.25, 1.25, 0);
    EXPECT_GT(z[12], 65535.0f);
}

// ---- the chain ----

TEST(FilterChainTest, ControlsBeyondTheSlidersAreClamped) {
    FilterControls c;
    c.luma = 1e9;
    c.chroma = -3;
    c.sharpness = std::nan("");
    c.chroma_method = 7;
    const FilterControls k = c.clamped();
    EXPECT_EQ(k.luma, 100);
    EXPECT_EQ(k.chroma, 0);
    EXPECT_EQ(k.sharpness, 0);
    EXPECT_EQ(k.chroma_method, 0);
}

TEST(FilterChainTest, AGreyImageComesThroughChromaReductionGrey) {
    const LabMatrix lab = lab_matrix_for_camera(kSrgbCamera);
    for (int method : {0, 1}) {
        RgbPlanes p = noisy_picture(30, 20, 2000);
        p.plane[1] = p.plane[0];
        p.plane[2] = p.plane[0];
        FilterControls c;
        c.chroma = 5;
        c.chroma_method = method;
        apply_filters(p, c, lab, nullptr);
        for (size_t i = 0; i < p.pixel_count(); ++i) {
            ASSERT_TRUE(std::isfinite(p[0][i]));
            ASSERT_NEAR(p[1][i], p[0][i], 1.0f);
            ASSERT_NEAR(p[2][i], p[0][i], 1.0f);
        }
    }
}

}  // namespace
