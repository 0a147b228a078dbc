// 45-degree sensor rotation and pixel-aspect stretch.
#include <gtest/gtest.h>

#include <cmath>

#include "develop/geometry.h"

namespace ostel::develop {
namespace {

RgbPlanes ramp(int w, int h, double a, double b) {
    RgbPlanes p;
    p.resize(w, h, size_t(w + 5) * size_t(h + 5));
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            for (int k = 0; k < 3; ++k)
                p.plane[size_t(k)][size_t(r * w + c)] = float((k + 1) * (a * r + b * c));
    return p;
}

TEST(DiagonalSensor, TargetSize) {
    struct Case {
        int diagonal_width, height, width, target_height;
    } cases[] = {
        {1000, 3000, 1412, 2829},  // 999 after the decrement
        {12, 30, 15, 26},
        {1, 3000, 0, 0},       // nothing left after the decrement
        {0, 3000, 0, 0},
        {3001, 3000, 0, 0},    // diagonal beyond the image: no rows
        {5000, 3000, 0, 0},
    };
    for (const Case& c : cases) {
        const DiagonalSize s = diagonal_target_size(c.diagonal_width, c.height);
        EXPECT_EQ(s.width, c.width) << c.diagonal_width << " " << c.height;
        EXPECT_EQ(s.height, c.target_height) << c.diagonal_width << " " << c.height;
    }
}

TEST(DiagonalSensor, SamplesAlongTheDiagonalsAndBlacksOutsideTheSensor) {
    // Bilinear sampling reproduces a linear ramp exactly, so every target
    // pixel shows where on the sensor it was taken from.
    const int w = 20, h = 30, diag = 12;
    const double a = 3.0, b = 0.5;
    const RgbPlanes src = ramp(w, h, a, b);
    RgbPlanes out;
    ASSERT_TRUE(rotate_diagonal_sensor(src, diag, out));
    ASSERT_EQ(out.width, 15);
    ASSERT_EQ(out.height, 26);
    for (const auto& plane : out.plane) ASSERT_EQ(plane.size(), size_t(20 * 31));

    const double q = std::sqrt(0.5);
    int inside = 0, outside = 0;
    for (int r = 0; r < out.height; ++r)
        for (int c = 0; c < out.width; ++c) {
            const double u = (diag - 1) + (r - c) * q, v = (r + c) * q;
            for (int k = 0; k < 3; ++k) {
                const float got = out.plane[size_t(k)][size_t(r * out.width + c)];
                if (u > h - 2 || v > w - 2) {
                    EXPECT_EQ(got, 0.0f) << r << "," << c;
                } else {
                    EXPECT_NEAR(got, (k + 1) * (a * u + b * v), 1e-3) << r << "," << c;
                }
            }
            (u > h - 2 || v > w - 2) ? ++outside : ++inside;
        }
    EXPECT_GT(inside, 0);
    EXPECT_GT(outside, 0);
    // The corner furthest along both diagonals lies off the sensor.
    EXPECT_EQ(out.plane[0][size_t((out.height - 1) * out.width + out.width - 1)], 0.0f);
}

TEST(DiagonalSensor, RefusesAnUnusableDiagonalWidth) {
    const RgbPlanes src = ramp(20, 30, 1, 1);
    RgbPlanes out;
    out.width = 7;
    EXPECT_FALSE(rotate_diagonal_sensor(src, 31, out));  // 30 rows left of 30: none
    EXPECT_FALSE(rotate_diagonal_sensor(src, 1, out));
    RgbPlanes short_src = src;
    short_src.plane[1].resize(10);
    EXPECT_FALSE(rotate_diagonal_sensor(short_src, 12, out));
    EXPECT_EQ(out.width, 7);
}

TEST(PixelAspect, OnlyTheOneCamera) {
    EXPECT_TRUE(has_half_height_pixels("NIKON", "D1X"));
    EXPECT_FALSE(has_half_height_pixels("NIKON", "D1"));
    EXPECT_FALSE(has_half_height_pixels("NIKON", "D1H"));
    EXPECT_FALSE(has_half_height_pixels("Nikon", "D1X"));
}

TEST(PixelAspect, DoublesRowsWithMeansBetweenAndRepeatsTheLast) {
    const RgbPlanes src = ramp(2, 3, 10, 1);  // rows 0, 10, 20 (+ column)
    RgbPlanes out;
    ASSERT_TRUE(stretch_pixel_aspect(src, out));
    ASSERT_EQ(out.width, 2);
    ASSERT_EQ(out.height, 6);
    EXPECT_EQ(out.plane[0].size(), size_t(7 * 11));
    const float expected_rows[6] = {0, 5, 10, 15, 20, 20};
    for (int r = 0; r < 6; ++r)
        for (int c = 0; c < 2; ++c)
            for (int k = 0; k < 3; ++k)
                EXPECT_FLOAT_EQ(out.plane[size_t(k)][size_t(r * 2 + c)], (k + 1) * (expected_rows[r] + c))
                    << "row " << r;
}

}  // namespace
}  // namespace ostel::develop
