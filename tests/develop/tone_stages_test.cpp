// The per-pixel tone stages and their tables on small buffers.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <limits>
#include <vector>

#include "develop/tone.h"

namespace {

using namespace ostel::develop;

TEST(ExposureTest, FactorOfTheSlider) {
    const struct {
        double v, f;
    } cases[] = {{0, 1.0}, {5, 2.0}, {-5, 0.5}, {25, 6.0}, {-10, 1.0 / 3.0}, {1, 1.2}};
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(exposure_factor(c.v), c.f) << c.v;
}

TEST(ExposureTest, PositionForAFilesSuggestedStops) {
    // {stops, position}: the nearest factor in stops, the slider's ends
    // beyond them, nothing for a value that is not a number.
    const std::pair<double, int> cases[] = {{0.0, 0},  {1.0, 5},   {-1.0, -5}, {0.35, 1},  {0.25, 1},
                                            {2.0, 15}, {2.67, 25}, {6.0, 25},  {-4.0, -10}, {std::nan(""), 0}};
    for (const auto& [stops, position] : cases) EXPECT_EQ(exposure_position_for_stops(stops), position) << stops;
}

TEST(ExposureTest, ScalesTruncatesAndClampsEveryChannel) {
    RgbPlanes planes;
    planes.resize(3, 2, 6);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float r[6] = {0, 100, 40960, 70000, -5, nan};
    for (int i = 0; i < 6; ++i) {
        planes[0][i] = r[i];
        planes[1][i] = 1000;
        planes[2][i] = 10.9f;
    }
    std::vector<uint16_t> out(18, 7);
    apply_exposure_and_balance(planes, 1.6, {1.0, 1.0, 2.0}, out.data());
    const uint16_t red[6] = {0, 160, 65535, 65535, 0, 0};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(out[size_t(3 * i)], red[i]) << i;
        EXPECT_EQ(out[size_t(3 * i + 1)], 1600);
        EXPECT_EQ(out[size_t(3 * i + 2)], 34);  // 10.9 * 1.6 * 2 = 34.88
    }
}

// A buffer whose three channels all hold the given levels.
std::vector<uint16_t> grey_buffer(const std::vector<uint16_t>& levels) {
    std::vector<uint16_t> rgb;
    for (uint16_t v : levels) rgb.insert(rgb.end(), {v, v, v});
    return rgb;
}

TEST(LevelsTest, BlackAndWhitePointsFromTheDefaultShares) {
    // 1000 pixels: 10 at 100 (1 %), 10 at 200 (share 2 % > 1.5 %), the rest
    // at 5000, and one at 60000 (last 0.1 %, above the 99.85 % share).
    std::vector<uint16_t> levels(10, 100);
    levels.insert(levels.end(), 10, 200);
    levels.insert(levels.end(), 979, 5000);
    levels.push_back(60000);
    const auto rgb = grey_buffer(levels);
    const Table16 t = levels_table(rgb.data(), levels.size(), 0, 0);
    // Black 200, white 5000.
    EXPECT_EQ(t[200], 0);
    EXPECT_EQ(t[100], 0);
    EXPECT_EQ(t[5000], 65535);
    EXPECT_EQ(t[60000], 65535);
    EXPECT_EQ(t[2600], uint16_t((2600 - 200) * 65535.0 / 4800));
}

TEST(LevelsTest, DegenerateHistogramsGiveTheIdentity) {
    // A constant image has its black and white at the same level; shares
    // above one (highlights 5) must still find a white point.
    const auto flat = grey_buffer(std::vector<uint16_t>(50, 1234));
    const Table16 t = levels_table(flat.data(), 50, 0, 0);
    for (int i : {0, 1234, 40000, 65535}) EXPECT_EQ(t[size_t(i)], i);

    std::vector<uint16_t> levels(100, 1000);
    levels.back() = 3000;
    const auto rgb = grey_buffer(levels);
    const Table16 wide = levels_table(rgb.data(), levels.size(), 0, 5);
    EXPECT_EQ(wide[1000], 0);
    EXPECT_EQ(wide[3000], 65535);  // white at the last occupied level
}

TEST(ContrastTest, SlopeAroundTheMiddle) {
    const Table16 flat = contrast_table(-50);  // slope 0
    for (int i : {0, 1000, 32767, 65535}) EXPECT_EQ(flat[size_t(i)], 32767);
    const Table16 steep = contrast_table(50);  // slope 2
    EXPECT_EQ(steep[32767], 32767);
    EXPECT_EQ(steep[40000], 47233);
    EXPECT_EQ(steep[60000], 65535);
    EXPECT_EQ(steep[10000], 0);
    EXPECT_EQ(contrast_table(0), identity_table());
}

TEST(MixerTest, WeightsAreSharesOfTheSum) {
    const auto w = mixer_weights(50, 50, 50);
    for (float x : w) EXPECT_FLOAT_EQ(x, 1.0f / 3.0f);
    const auto zero = mixer_weights(0, 0, 0);
    for (float x : zero) EXPECT_EQ(x, 0.0f);
    const auto some = mixer_weights(100, 0, 300);
    EXPECT_FLOAT_EQ(some[0], 0.25f);
    EXPECT_FLOAT_EQ(some[2], 0.75f);
}

// One pixel through the final pass with an identity curve.
std::array<uint16_t, 3> final_pixel(uint16_t r, uint16_t g, uint16_t b, FinalPass pass) {
    static const Table16 identity = identity_table();
    pass.curve = identity.data();
    std::array<uint16_t, 3> px{r, g, b};
    apply_final_pass(px.data(), 1, pass);
    return px;
}

TEST(FinalPassTest, SaturationAndBlackAndWhiteModes) {
    const struct {
        const char* what;
        double saturation;
        int bw;
        std::array<float, 3> mixer;
        std::array<uint16_t, 3> expect;
    } cases[] = {
        {"saturation 0 leaves colour", 0, 0, {}, {30000, 20000, 10000}},
        {"saturation -10 is grey", -10, 0, {}, {21900, 21900, 21900}},
        {"saturation -5 keeps half", -5, 0, {}, {25950, 20950, 15950}},
        // t = 1.5, u = -0.5: R' = (1.5 - 0.1495) 30000 - 0.5 (0.587 20000 + 0.114 10000)
        {"saturation 10 boosts", 10, 0, {}, {34075, 19075, 4075}},
        {"mixer", 0, 1, {0.5f, 0.25f, 0.25f}, {22500, 22500, 22500}},
        {"mixer at zero is black", 0, 1, {0, 0, 0}, {0, 0, 0}},
        {"luminance", 0, 2, {}, {21862, 21862, 21862}},
        {"red", 0, 3, {}, {30000, 30000, 30000}},
        {"green", 0, 4, {}, {20000, 20000, 20000}},
        {"blue", 0, 5, {}, {10000, 10000, 10000}},
    };
    for (const auto& c : cases) {
        FinalPass pass;
        pass.saturation = c.saturation;
        pass.bw_mode = c.bw;
        pass.mixer = c.mixer;
        const auto px = final_pixel(30000, 20000, 10000, pass);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(px[size_t(k)], c.expect[size_t(k)], 1) << c.what << " " << k;
    }
}

TEST(FinalPassTest, CurveThenEncodingThenContrast) {
    Table16 curve = identity_table();
    curve[1000] = 2000;
    std::vector<float> transfer(65536);
    for (size_t i = 0; i < transfer.size(); ++i) transfer[i] = float(i / 2);
    const Table16 flat = contrast_table(-50);

    FinalPass pass;
    pass.curve = curve.data();
    pass.transfer = transfer.data();
    std::array<uint16_t, 3> px{1000, 1000, 60000};
    apply_final_pass(px.data(), 1, pass);
    EXPECT_EQ(px[0], 1000);  // curve 2000, then halved by the encoding
    EXPECT_EQ(px[2], 30000);

    pass.contrast = flat.data();
    px = {1000, 5, 60000};
    apply_final_pass(px.data(), 1, pass);
    for (uint16_t v : px) EXPECT_EQ(v, 32767);
}

TEST(FillLightTest, BrightensDarkPixelsAndKeepsTheRatio) {
    const int w = 4, h = 2;
    std::vector<float> lum(w * h, 0.1f);
    lum[0] = 0.0f;  // black pixel: the ratio's guard, no division by zero
    std::vector<uint16_t> xyz(size_t(w * h) * 3);
    for (size_t i = 0; i < xyz.size(); ++i) xyz[i] = uint16_t(1000 + i);
    auto before = xyz;
    fill_light(xyz.data(), lum.data(), w, h, 0);
    EXPECT_EQ(xyz, before);  // strength 0 is off

    fill_light(xyz.data(), lum.data(), w, h, 50);
    const double log_avg = std::exp((std::log(0.00001) + 7 * std::log(0.1f + 0.00001)) / 8);
    const double l = 0.35 / log_avg * double(0.1f);
    const double ratio = (l / (1 + l)) / double(0.1f);
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(xyz[size_t(3 + k)], std::min(32767.0, std::floor(ratio * before[size_t(3 + k)])), 1.0);
    EXPECT_EQ(xyz[0], 0);  // L = 0 maps to 0
}

TEST(FillLightTest, ResultDoesNotDependOnTheThreadCount) {
    const int w = 97, h = 61;
    std::vector<float> lum(size_t(w * h));
    std::vector<uint16_t> xyz(lum.size() * 3);
    for (size_t i = 0; i < lum.size(); ++i) {
        lum[i] = float((i * 7919) % 1000) / 1000.0f;
        for (int k = 0; k < 3; ++k) xyz[3 * i + size_t(k)] = uint16_t(lum[i] * 32767 * (0.9 + 0.05 * k));
    }
    auto one = xyz, many = xyz;
    const int threads = omp_get_max_threads();
    omp_set_num_threads(1);
    fill_light(one.data(), lum.data(), w, h, 20);
    omp_set_num_threads(7);
    fill_light(many.data(), lum.data(), w, h, 20);
    omp_set_num_threads(threads);
    EXPECT_EQ(one, many);
}

TEST(CurveTableTest, CornerPointsGiveTheIdentity) {
    Table16 t = identity_table();
    build_curve_table({{-2, 118}, {118, -2}}, t);
    EXPECT_EQ(t[0], 0);
    EXPECT_EQ(t[65535], 65535);
    int worst = 0;
    for (int i = 0; i < 65536; ++i) worst = std::max(worst, std::abs(int(t[size_t(i)]) - i));
    EXPECT_LE(worst, 1);
}

TEST(CurveTableTest, InnerPointBendsTheCurveAndClamps) {
    Table16 t = identity_table();
    // The middle point raised to the top edge and beyond it.
    build_curve_table({{-2, 118}, {58, -40}, {118, -2}}, t);
    EXPECT_GT(t[32768], 60000);
    EXPECT_EQ(t[0], 0);
    // Values are clamped, not wrapped: a monotone rise before the peak.
    for (int i = 1; i < 20000; ++i) ASSERT_GE(t[size_t(i)] + 1, t[size_t(i - 1)]) << i;
}

TEST(CurveTableTest, UnusablePointListsLeaveTheTable) {
    const Table16 identity = identity_table();
    for (const std::vector<CurvePoint>& pts :
         {std::vector<CurvePoint>{}, std::vector<CurvePoint>{{5, 5}}, std::vector<CurvePoint>{{3, 118}, {3, -2}},
          std::vector<CurvePoint>{{-2, 50}, {118, 50}}}) {
        Table16 t = identity;
        build_curve_table(pts, t);
        EXPECT_EQ(t, identity);
    }
}

TEST(CurveTableTest, ParsesPointLists) {
    std::vector<CurvePoint> pts;
    ASSERT_TRUE(parse_curve_points("-2,118 58,30;118,-2", pts));
    ASSERT_EQ(pts.size(), 3u);
    EXPECT_EQ(pts[1].x, 58);
    EXPECT_EQ(pts[1].y, 30);
    for (const char* bad : {"1,2 3", "a,b", "10,1 5,2", "1,2 x"}) EXPECT_FALSE(parse_curve_points(bad, pts)) << bad;
}

}  // namespace
