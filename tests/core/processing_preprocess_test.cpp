// Bad-pixel repair, white balance and scaling, half-grid expansion, wavelet
// denoising and highlight blending on small hand-made images.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "core/processing/preprocess.h"

using namespace ostel::core;

namespace {

// A Bayer image with the second green split off as colour 3 (as
// identification leaves it): rows alternate R G / G2 B.
void make_bayer(DecoderSession& s, int w, int h, uint16_t r, uint16_t g, uint16_t b) {
    s.width = s.image_width = w;
    s.height = s.image_height = h;
    s.stored_width = w;
    s.stored_height = h;
    // The RGGB word 0x94949494 after the green split: groups equal to 9 gain bit 1.
    s.cfa_pattern = 0xB4B4B4B4;
    s.color_count = 3;
    s.image.assign(size_t(w) * size_t(h), Pixel4{});
    const uint16_t value_of[4] = {r, g, b, g};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int c = s.filter_color(y, x);
            s.image[size_t(y) * size_t(w) + size_t(x)][c] = value_of[c];
        }
}

uint16_t at(const DecoderSession& s, int y, int x) {
    return s.image[size_t(y) * size_t(s.image_width) + size_t(x)][s.filter_color(y, x)];
}

}  // namespace

TEST(BadPixels, RepairsFromSameColourNeighboursAndHonoursTheTime) {
    DecoderSession s;
    make_bayer(s, 8, 8, 100, 200, 300);
    s.capture_time = 1000;
    s.image[size_t(2) * 8 + 2][0] = 9999;  // (row 2, col 2) is red
    s.image[size_t(6) * 8 + 6][0] = 7777;  // (row 6, col 6) is red, listed with a later time
    repair_bad_pixels_from_text(s, "2 2 0  # always applies\n6 6 2000\nnot a line\n99 99 0\n");
    EXPECT_EQ(at(s, 2, 2), 100);  // no red within one pixel: the eight at distance two
    EXPECT_EQ(at(s, 6, 6), 7777);
}

TEST(BalanceAndScale, AutomaticBalanceSkipsClippedBlocksAndEmptyBoxes) {
    DecoderSession s;
    make_bayer(s, 16, 8, 100, 200, 400);
    s.white_level = 1000;
    s.use_auto_balance = 1;
    s.use_as_shot_wb = 0;
    s.highlight_mode = 1;
    // The right-hand block holds a clipped sample: only the left one counts.
    s.image[size_t(0) * 16 + 8][0] = 990;
    s.image[size_t(0) * 16 + 10][0] = 50;
    balance_and_scale(s);
    // Multipliers count/sum, normalised by the largest: R 1/100, G 1/200, B 1/400 -> 1, 0.5, 0.25.
    EXPECT_NEAR(s.daylight_mul[0], 1.0f, 1e-6);
    EXPECT_NEAR(s.daylight_mul[1], 0.5f, 1e-6);
    EXPECT_NEAR(s.daylight_mul[2], 0.25f, 1e-6);

    DecoderSession outside;
    make_bayer(outside, 16, 8, 100, 200, 400);
    outside.white_level = 1000;
    outside.use_auto_balance = 1;
    outside.use_as_shot_wb = 0;
    outside.highlight_mode = 1;
    outside.gray_box[0] = 100;  // left of the box beyond the image
    const float before[4] = {2, 1, 1.5f, 1};
    std::memcpy(outside.daylight_mul, before, sizeof before);
    balance_and_scale(outside);
    EXPECT_NEAR(outside.daylight_mul[0], 1.0f, 1e-6);  // only normalised: 2/2
    EXPECT_NEAR(outside.daylight_mul[2], 0.75f, 1e-6);
}

TEST(BalanceAndScale, HighlightModeChoosesTheNormalisingMultiplierAndScalingRunsOnce) {
    for (int mode : {0, 1}) {
        DecoderSession s;
        make_bayer(s, 8, 8, 1100, 1100, 1100);
        s.white_level = 4095;
        s.black_level = 100;
        s.use_as_shot_wb = 0;
        s.highlight_mode = mode;
        const float mul[4] = {2, 1, 1.5f, 1};
        std::memcpy(s.custom_mul, mul, sizeof mul);
        balance_and_scale(s);  // computing call: multipliers only
        EXPECT_EQ(s.white_level, 4095);
        EXPECT_EQ(at(s, 0, 0), 1100);
        s.apply_scaling = 1;
        balance_and_scale(s);
        EXPECT_EQ(s.white_level, 3995);
        if (mode == 0) {
            EXPECT_FLOAT_EQ(s.daylight_mul[1], 1.0f);  // the smallest becomes 1
            EXPECT_FLOAT_EQ(s.daylight_mul[0], 2.0f);
        } else {
            EXPECT_FLOAT_EQ(s.daylight_mul[0], 1.0f);  // the largest becomes 1
        }
        // Green: (1100 - 100) * mul * 65535 / 3995.
        const float green = 1000.0f * s.daylight_mul[1] * 65535.0f / 3995.0f;
        EXPECT_NEAR(at(s, 0, 1), std::min(green, 65535.0f), 1.0f);
    }
}

TEST(BalanceAndScale, OlympusSecondGreenFromTheGreenRatio) {
    DecoderSession s;
    make_bayer(s, 8, 8, 100, 200, 300);
    for (int y = 1; y < 8; y += 2)
        for (int x = 0; x < 8; x += 2) s.image[size_t(y) * 8 + size_t(x)][3] = 100;  // second green half as bright
    std::strcpy(s.make, "OLYMPUS");
    std::strcpy(s.model, "E-500");
    s.use_as_shot_wb = 0;
    s.white_level = 4095;
    s.highlight_mode = 1;
    balance_and_scale(s);
    // daylight_mul[3] = 200/100 before normalising by the largest (2).
    EXPECT_FLOAT_EQ(s.daylight_mul[3], 1.0f);
    EXPECT_FLOAT_EQ(s.daylight_mul[0], 0.5f);
}

TEST(PrepareForInterpolation, ExpandsTheHalfGridAndMergesTheGreens) {
    DecoderSession s;
    make_bayer(s, 4, 4, 10, 20, 30);
    // Shrink by hand: one record per 2x2 block holding all four colours.
    s.half_grid = 1;
    s.image_width = s.image_height = 2;
    s.image.assign(4, Pixel4{10, 20, 30, 21});
    prepare_for_interpolation(s);
    EXPECT_EQ(s.half_grid, 0);
    EXPECT_EQ(s.image.size(), 16u);
    EXPECT_EQ(s.cfa_pattern, 0x94949494u);
    EXPECT_EQ(s.image[0][0], 10);
    EXPECT_EQ(s.image[1][1], 20);
    EXPECT_EQ(s.image[4][1], 21);  // the second green now lives in plane 1
    EXPECT_EQ(s.image[5][2], 30);
}

TEST(WaveletDenoise, ScalesLevelsAndFlattensNoise) {
    // Denoising always runs on the half grid: one record per 2x2 block.
    DecoderSession s;
    make_bayer(s, 48, 48, 0, 0, 0);
    s.half_grid = 1;
    s.image_width = s.image_height = 24;
    s.image.assign(24 * 24, Pixel4{});
    for (size_t i = 0; i < s.image.size(); ++i)
        for (int c = 0; c < 4; ++c) s.image[i][c] = uint16_t(1000 + int((i * 7919 + c * 31) % 41) - 20);
    s.white_level = 4095;
    s.denoise_threshold = 2000;
    const auto spread = [&] {
        int lo = 65535, hi = 0;
        for (int y = 8; y < 40; ++y)
            for (int x = 8; x < 40; ++x) {
                lo = std::min<int>(lo, raw_sample(s, y, x));
                hi = std::max<int>(hi, raw_sample(s, y, x));
            }
        return hi - lo;
    };
    const int before = spread();
    wavelet_denoise(s);
    EXPECT_EQ(s.white_level, 4095 << 4);
    EXPECT_EQ(s.black_level, 0);
    EXPECT_LT(spread(), before * 16 / 2);  // values now at 16x scale, noise at least halved
}

TEST(HighlightBlend, LeavesUnclippedPixelsAndKeepsNeutralOnes) {
    DecoderSession s;
    s.color_count = 3;
    s.width = s.image_width = 2;
    s.height = s.image_height = 1;
    const float mul[4] = {1, 0.5f, 0.8f, 0.5f};
    std::memcpy(s.daylight_mul, mul, sizeof mul);
    s.image = {Pixel4{30000, 20000, 10000, 0}, Pixel4{65535, 65535, 65535, 0}};
    blend_clipped_highlights(s);
    EXPECT_EQ(s.image[0][0], 30000);  // clip = 32767: untouched
    EXPECT_EQ(s.image[0][1], 20000);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(s.image[1][c], 65535, 2);  // neutral: no NaN, stays white
}

TEST(HatFilter, MirrorsAtBothEndsEvenForShortLines) {
    const float base[5] = {1, 2, 3, 4, 5};
    float out[5];
    hat_filter_line(out, base, 1, 5, 1);
    EXPECT_FLOAT_EQ(out[0], 2 * 1 + 2 + 2);
    EXPECT_FLOAT_EQ(out[4], 2 * 5 + 4 + 4);
    hat_filter_line(out, base, 1, 5, 16);  // step longer than the line
    for (float v : out) EXPECT_TRUE(v >= 4 && v <= 20);
}

TEST(BadPixels, ListIsFoundInTheStartFolderOrAParent) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("ostel_badpixels_" + std::to_string(::getpid()));
    fs::create_directories(root / "a" / "b");
    std::ofstream(root / ".badpixels") << "3 3 0\n";
    DecoderSession s;
    make_bayer(s, 8, 8, 100, 200, 300);
    s.image[size_t(3) * 8 + 3][2] = 5000;  // (3, 3) is blue
    s.bad_pixel_folder = (root / "a" / "b").string();
    repair_bad_pixels(s);
    EXPECT_EQ(at(s, 3, 3), 300);
    fs::remove_all(root);
}
