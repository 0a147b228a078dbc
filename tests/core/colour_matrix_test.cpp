// Matrix operations: pseudo-inverse, daylight multipliers and the fixed tables.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/identify/parsers.h"

using ostel::core::DecoderSession;

TEST(ColourMatrix, PseudoInverseOfSquareMatrixIsItsInverse) {
    const double a[3][3] = {{2, 0, 1}, {1, 3, 0}, {0, 1, 4}};
    double out[3][3];
    ostel::core::pseudo_inverse(a, out, 3);
    // out holds the transpose of the inverse: sum_k out[k][i] a[k][j] = I.
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double sum = 0;
            for (int k = 0; k < 3; ++k) sum += a[i][k] * out[j][k];
            EXPECT_NEAR(sum, i == j ? 1.0 : 0.0, 1e-12) << i << "," << j;
        }
    // det = 25; inverse[0][0] = 12/25 stored at out[0][0].
    EXPECT_NEAR(out[0][0], 12.0 / 25, 1e-12);
}

TEST(ColourMatrix, PseudoInverseOfTallMatrixIsALeftInverse) {
    const double a[4][3] = {{1, 2, 0}, {0, 1, 1}, {1, 0, 1}, {2, 1, 3}};
    double out[4][3];
    ostel::core::pseudo_inverse(a, out, 4);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double sum = 0;
            for (int k = 0; k < 4; ++k) sum += out[k][i] * a[k][j];
            EXPECT_NEAR(sum, i == j ? 1.0 : 0.0, 1e-12);
        }
}

namespace {

// Checks daylight multipliers and that cam_to_out inverts the normalised
// camera-to-sRGB matrix.
void expect_consistent(const DecoderSession& s, const double xyz[4][3], int colours) {
    double cam_rgb[4][3] = {};
    for (int i = 0; i < colours; ++i) {
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) cam_rgb[i][j] += xyz[i][k] * s.srgb_to_xyz[k][j];
        const double num = cam_rgb[i][0] + cam_rgb[i][1] + cam_rgb[i][2];
        EXPECT_NEAR(s.daylight_mul[i], 1 / num, 1e-5 / std::fabs(num));
        for (int j = 0; j < 3; ++j) cam_rgb[i][j] /= num;
    }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double sum = 0;
            for (int k = 0; k < colours; ++k) sum += s.cam_to_out[i][k] * cam_rgb[k][j];
            EXPECT_NEAR(sum, i == j ? 1.0 : 0.0, 1e-5);
        }
}

}  // namespace

TEST(ColourMatrix, CameraMatrixGivesDaylightAndInverseForThreeAndFourColours) {
    const double three[4][3] = {{0.4716, 0.0603, -0.0830}, {-0.7798, 1.5474, 0.2480}, {-0.1496, 0.1937, 0.6651}};
    DecoderSession s3;
    ostel::core::set_camera_matrix(s3, three);
    EXPECT_EQ(s3.no_camera_matrix, 0);
    EXPECT_FLOAT_EQ(s3.xyz_to_cam[1][1], 1.5474f);
    EXPECT_EQ(s3.daylight_mul[3], 0.0f);
    expect_consistent(s3, three, 3);

    const double four[4][3] = {{0.7924, -0.1910, -0.0777}, {-0.8226, 1.5459, 0.2998},
                               {-0.1517, 0.2199, 0.6818}, {-0.7242, 1.1401, 0.3481}};
    DecoderSession s4;
    s4.color_count = 4;
    ostel::core::set_camera_matrix(s4, four);
    EXPECT_NE(s4.daylight_mul[3], 0.0f);
    expect_consistent(s4, four, 4);
}

TEST(ColourMatrix, UnusableFileMatrixIsDropped) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // A row that sees white as zero (its dot product with the D65 white),
    // a singular matrix, a NaN entry.
    const double bad[3][4][3] = {
        {{1, -0.950456, 0}, {0, 1, 0}, {0, 0, 1}},
        {{0.5, 0.2, 0.1}, {0.5, 0.2, 0.1}, {0, 0, 1}},
        {{nan, 0, 0}, {0, 1, 0}, {0, 0, 1}},
    };
    for (const auto& m : bad) {
        DecoderSession s;
        ostel::core::set_camera_matrix(s, m);
        EXPECT_EQ(s.no_camera_matrix, 1);
        EXPECT_EQ(s.daylight_mul[0], 1.0f);
        EXPECT_EQ(s.xyz_to_cam[0][0], 0.0f);
    }
}

TEST(ColourMatrix, SimpleMatrixNeedsMatchingColourCount) {
    DecoderSession s;
    s.color_count = 4;
    ostel::core::apply_simple_matrix(s, 3);
    EXPECT_EQ(s.no_camera_matrix, 0);
    EXPECT_FLOAT_EQ(s.cam_to_out[0][3], 2.584324f);
    EXPECT_FLOAT_EQ(s.cam_to_out[2][0], -1.204965f);

    // The three-value rows cannot serve a four-colour camera.
    DecoderSession t;
    t.color_count = 4;
    ostel::core::apply_simple_matrix(t, 0);
    EXPECT_EQ(t.no_camera_matrix, 1);

    DecoderSession u;
    ostel::core::apply_simple_matrix(u, 0);
    EXPECT_FLOAT_EQ(u.cam_to_out[1][1], 1.4816f);
}

TEST(ColourMatrix, RommMatrixIsConvertedToSrgb) {
    const float identity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    DecoderSession s;
    ostel::core::set_romm_matrix(s, identity);
    EXPECT_EQ(s.no_camera_matrix, 0);
    EXPECT_FLOAT_EQ(s.cam_to_out[0][0], 2.034193f);
    EXPECT_FLOAT_EQ(s.cam_to_out[2][1], -0.153273f);

    const float scaled[3][3] = {{2, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    ostel::core::set_romm_matrix(s, scaled);
    EXPECT_FLOAT_EQ(s.cam_to_out[1][0], 2 * -0.228811f);

    DecoderSession t;
    const float broken[3][3] = {{std::numeric_limits<float>::infinity(), 0, 0}, {0, 1, 0}, {0, 0, 1}};
    ostel::core::set_romm_matrix(t, broken);
    EXPECT_EQ(t.no_camera_matrix, 1);
}
