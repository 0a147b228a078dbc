#include "develop/filter_lab.h"

#include <cmath>
#include <vector>

#include "core/identify/parsers.h"

namespace ostel::develop {

namespace {

// sRGB (D65) to XYZ and the D65 white the Lab values are relative to.
constexpr double kSrgbToXyz[3][3] = {
    {0.412453, 0.357580, 0.180423}, {0.212671, 0.715160, 0.072169}, {0.019334, 0.119193, 0.950227}};
constexpr double kWhite[3] = {0.950456, 1.0, 1.088754};

// Camera RGB to linear sRGB: the camera matrix times the sRGB primaries,
// rows scaled so that camera white gives RGB white, then inverted. False
// when the matrix has no usable inverse.
bool camera_to_srgb(const float xyz_to_camera[3][3], double out[3][3]) {
    double cam_from_srgb[3][3] = {};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) cam_from_srgb[i][j] += double(xyz_to_camera[i][k]) * kSrgbToXyz[k][j];
        const double sum = cam_from_srgb[i][0] + cam_from_srgb[i][1] + cam_from_srgb[i][2];
        if (sum == 0 || !std::isfinite(sum)) return false;
        for (double& v : cam_from_srgb[i]) v /= sum;
    }
    double inverse[3][3] = {};
    core::pseudo_inverse(cam_from_srgb, inverse, 3);
    // inverse[i][j] maps camera channel i into sRGB channel j; check that it
    // really inverts.
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double sum = 0;
            for (int k = 0; k < 3; ++k) sum += inverse[k][i] * cam_from_srgb[k][j];
            if (!std::isfinite(sum) || std::fabs(sum - (i == j)) > 1e-3) return false;
        }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) out[i][j] = inverse[j][i];
    return true;
}

}  // namespace

LabMatrix lab_matrix_for_camera(const float xyz_to_camera[3][3]) {
    double to_srgb[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    double converted[3][3];
    if (camera_to_srgb(xyz_to_camera, converted))
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) to_srgb[i][j] = converted[i][j];
    LabMatrix lab{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double sum = 0;
            for (int k = 0; k < 3; ++k) sum += kSrgbToXyz[i][k] * to_srgb[k][j];
            lab.m[i][j] = float(sum / kWhite[i]);
        }
    return lab;
}

namespace detail {

const float* lab_companding_table() {
    static const std::vector<float> table = [] {
        std::vector<float> t(65536);
        for (size_t i = 0; i < t.size(); ++i) {
            const double x = double(i) / 65535.0;
            t[i] = float(x > 0.008856 ? std::cbrt(x) : 7.787 * x + 16.0 / 116.0);
        }
        return t;
    }();
    return table.data();
}

void lab_of_row(const LabMatrix& lab, const float* r, const float* g, const float* b, int count, float* l_out,
                float* a_out, float* b_out) {
    const float* f = lab_companding_table();
    auto lookup = [f](float v) {
        v += 0.5f;
        // Clamped before the conversion, so no value can overflow it.
        v = v > 0.0f ? (v < 65535.0f ? v : 65535.0f) : 0.0f;
        return f[int(v)];
    };
    const auto& m = lab.m;
    for (int x = 0; x < count; ++x) {
        const float fx = lookup(m[0][0] * r[x] + m[0][1] * g[x] + m[0][2] * b[x]);
        const float fy = lookup(m[1][0] * r[x] + m[1][1] * g[x] + m[1][2] * b[x]);
        const float fz = lookup(m[2][0] * r[x] + m[2][1] * g[x] + m[2][2] * b[x]);
        l_out[x] = 116.0f * fy - 16.0f;
        a_out[x] = 500.0f * (fx - fy);
        b_out[x] = 200.0f * (fy - fz);
    }
}

}  // namespace detail

}  // namespace ostel::develop
