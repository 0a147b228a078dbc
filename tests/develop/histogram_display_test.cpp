// Histogram pictures, the display image with clipping warnings, and the
// white-balance measurements.
#include <gtest/gtest.h>

#include <vector>

#include "core/session/decoder_session.h"
#include "develop/histogram.h"
#include "develop/white_balance.h"

namespace {

using namespace ostel::develop;

// Number of lit rows of one channel byte (0 blue, 1 green, 2 red) in a column.
int lit_rows(const HistogramImage& img, int column, int byte) {
    int n = 0;
    for (int k = 0; k < HistogramImage::kHeight; ++k)
        n += img.pixels[(size_t(k) * HistogramImage::kWidth + size_t(column)) * 4 + size_t(byte)] == 255;
    return n;
}

TEST(HistogramTest, BarsAreSquareRootScaledAndMix) {
    HistogramCounts counts{};
    counts[0][5] = 10000;  // red, the tallest: sqrt 100
    counts[1][5] = 2500;   // green, half as tall: sqrt 50
    counts[2][9] = 100;    // blue: sqrt 10
    HistogramImage img;
    draw_histogram(counts, img);
    EXPECT_EQ(lit_rows(img, 5, 2), 69);  // h = 70 lights rows 1..69
    EXPECT_EQ(lit_rows(img, 5, 1), 34);  // h = 35
    EXPECT_EQ(lit_rows(img, 9, 0), 6);   // h = int(10 * 0.7) = 7
    EXPECT_EQ(lit_rows(img, 0, 2), 0);
    // The bottom row of column 5 is yellow: red and green together.
    const uint8_t* bottom = img.pixels.data() + (size_t(69) * HistogramImage::kWidth + 5) * 4;
    EXPECT_EQ(bottom[0], 0);
    EXPECT_EQ(bottom[1], 255);
    EXPECT_EQ(bottom[2], 255);
    EXPECT_EQ(bottom[3], 0);
}

TEST(HistogramTest, NothingCountedGivesABlankPicture) {
    HistogramImage img;
    img.pixels.assign(img.pixels.size(), 77);
    draw_histogram(HistogramCounts{}, img);
    for (uint8_t b : img.pixels) ASSERT_EQ(b, 0);
}

TEST(HistogramTest, OutputHistogramLeavesOutTheFrame) {
    const int w = 30, h = 25;
    std::vector<uint16_t> rgb(size_t(w * h) * 3, 65535);  // frame: top bin
    for (int r = 10; r < h - 10; ++r)
        for (int c = 10; c < w - 10; ++c)
            for (int k = 0; k < 3; ++k) rgb[(size_t(r * w + c)) * 3 + size_t(k)] = 1024;  // bin 2
    HistogramImage img;
    draw_output_histogram(rgb.data(), w, h, img);
    EXPECT_EQ(lit_rows(img, 2, 0), 69);
    EXPECT_EQ(lit_rows(img, 127, 0), 0);

    // 20 pixels or less in one direction: nothing counted.
    draw_output_histogram(rgb.data(), 20, 25, img);
    for (uint8_t b : img.pixels) ASSERT_EQ(b, 0);
}

TEST(HistogramTest, RawHistogramUsesTheFilterColourOfEachSite) {
    ostel::core::DecoderSession s;
    s.width = s.image_width = 4;
    s.height = s.image_height = 4;
    s.cfa_pattern = 0x94949494;  // R G / G B
    s.image.assign(16, ostel::core::Pixel4{});
    for (auto& p : s.image) p = {512 * 10, 512 * 20, 512 * 30, 0};  // bins 10, 20, 30
    HistogramImage img;
    draw_raw_histogram(s, 4, 4, img);
    // 4 red, 8 green and 4 blue sites.
    EXPECT_GT(lit_rows(img, 10, 2), 0);
    EXPECT_EQ(lit_rows(img, 20, 1), 69);  // green is the tallest
    EXPECT_GT(lit_rows(img, 30, 0), 0);
    EXPECT_EQ(lit_rows(img, 20, 2) + lit_rows(img, 10, 1), 0);

    // Positions beyond the core's image count as 0; full-colour data counts
    // all three planes at every site.
    s.cfa_pattern = 0;
    draw_raw_histogram(s, 6, 4, img);
    EXPECT_EQ(lit_rows(img, 10, 2), 69);
    EXPECT_EQ(lit_rows(img, 20, 1), 69);
    EXPECT_EQ(lit_rows(img, 30, 0), 69);
    EXPECT_GT(lit_rows(img, 0, 2), 0);
}

TEST(DisplayTest, FrameIsCutAndWarningsMarkClipping) {
    const int w = 12, h = 10;
    std::vector<uint16_t> rgb(size_t(w * h) * 3, 0x8000);
    auto set = [&](int r, int c, int red, int green, int blue) {
        uint16_t* p = rgb.data() + size_t(r * w + c) * 3;
        p[0] = uint16_t(red << 8), p[1] = uint16_t(green << 8), p[2] = uint16_t(blue << 8);
    };
    set(4, 4, 246, 246, 246);  // luma 246: red
    set(4, 5, 245, 245, 245);  // luma 245: unchanged
    set(4, 6, 14, 14, 14);     // luma 14: blue
    set(4, 7, 15, 15, 15);     // luma 15: unchanged
    set(0, 0, 255, 255, 255);  // in the frame: not shown

    std::vector<uint8_t> out;
    build_display_buffer(rgb.data(), w, h, true, out);
    ASSERT_EQ(out.size(), size_t(4 * 2 * 4));
    auto px = [&](int c) { return std::vector<uint8_t>(out.begin() + c * 4, out.begin() + c * 4 + 4); };
    EXPECT_EQ(px(0), (std::vector<uint8_t>{0, 0, 255, 0}));
    EXPECT_EQ(px(1), (std::vector<uint8_t>{245, 245, 245, 0}));
    EXPECT_EQ(px(2), (std::vector<uint8_t>{255, 0, 0, 0}));
    EXPECT_EQ(px(3), (std::vector<uint8_t>{15, 15, 15, 0}));

    build_display_buffer(rgb.data(), w, h, false, out);
    EXPECT_EQ(px(0), (std::vector<uint8_t>{246, 246, 246, 0}));
    EXPECT_EQ(px(2), (std::vector<uint8_t>{14, 14, 14, 0}));

    build_display_buffer(rgb.data(), 8, 10, false, out);
    EXPECT_TRUE(out.empty());
}

RgbPlanes constant_planes(int w, int h, float r, float g, float b) {
    RgbPlanes p;
    p.resize(w, h, size_t(w) * size_t(h));
    for (size_t i = 0; i < p.pixel_count(); ++i) p[0][i] = r, p[1][i] = g, p[2][i] = b;
    return p;
}

TEST(WhiteBalanceTest, AutomaticBalanceAndItsGuards) {
    RgbPlanes p = constant_planes(50, 45, 2000, 1000, 500);
    // The frame outside rows and columns 20 .. size - 21 is not measured.
    for (int c = 0; c < 50; ++c) p[0][size_t(c)] = 1e9f;
    auto m = automatic_white_balance(p);
    EXPECT_DOUBLE_EQ(m[0], 0.5);
    EXPECT_DOUBLE_EQ(m[1], 1.0);
    EXPECT_DOUBLE_EQ(m[2], 2.0);

    // Too small to measure, or black: multipliers stay 1.
    for (const RgbPlanes& q : {constant_planes(40, 60, 2000, 1000, 500), constant_planes(60, 60, 0, 0, 0)}) {
        m = automatic_white_balance(q);
        EXPECT_EQ(m, (std::array<double, 3>{1.0, 1.0, 1.0}));
    }
}

TEST(WhiteBalanceTest, PickMeasuresTheWindowAroundTheClick) {
    RgbPlanes p = constant_planes(30, 30, 100, 100, 100);
    for (int r = 10; r < 20; ++r)
        for (int c = 10; c < 20; ++c) p[0][size_t(r * 30 + c)] = 400, p[2][size_t(r * 30 + c)] = 50;
    auto m = measure_white_point(p, 15, 15);  // rows and columns 10 .. 19
    EXPECT_DOUBLE_EQ(m[0], 0.25);
    EXPECT_DOUBLE_EQ(m[1], 2.0);
    m = measure_white_point(p, 16, 15);  // one column of the window is outside the patch
    EXPECT_GT(m[0], 0.25);
    // A black spot or a click beside the image: ratios 1.
    RgbPlanes black = constant_planes(30, 30, 0, 0, 0);
    EXPECT_EQ(measure_white_point(black, 15, 15), (std::array<double, 2>{1.0, 1.0}));
    EXPECT_EQ(measure_white_point(p, 200, -50), (std::array<double, 2>{1.0, 1.0}));
}

}  // namespace
