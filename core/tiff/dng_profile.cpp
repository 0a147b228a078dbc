// The camera matrix of a DNG colour profile with two calibrations: the
// matrices (and camera calibrations, and forward matrices when present) are
// weighted by the inverse of the correlated colour temperature of the shot's
// white, found from the as-shot neutral by fixed-point iteration (the
// temperature picks the matrix, the matrix maps the neutral to a white).
#include <algorithm>
#include <array>
#include <cmath>

#include "core/identify/parsers.h"
#include "core/tiff/tiff_io.h"
#include "core/tiff/tiff_walk.h"

namespace ostel::core::tiff {

namespace {

using Mat3 = std::array<std::array<double, 3>, 3>;

// Colour temperature of the light sources a calibration may name.
double illuminant_temperature(int code) {
    switch (code) {
        case 17: case 3: return 2856;  // standard light A, tungsten
        case 24: return 3200;          // studio tungsten
        case 15: return 3450;          // white fluorescent
        case 14: case 2: return 4150;  // cool white fluorescent, fluorescent
        case 18: return 4874;          // standard light B
        case 13: case 23: return 5003; // day white fluorescent, D50
        case 1: case 4: case 9: case 20: return 5503;  // daylight, flash, fine weather, D55
        case 10: case 12: case 21: return 6504;        // cloudy, daylight fluorescent, D65
        case 19: return 6774;          // standard light C
        case 11: case 22: return 7504; // shade, D75
        default: return 0;
    }
}

// Correlated colour temperature of a chromaticity (cubic approximation,
// good to a few kelvin between 2000 K and 12500 K, which is all the
// weighting needs).
double temperature_of(double x, double y) {
    const double n = (x - 0.3320) / (0.1858 - y);
    const double t = ((449.0 * n + 3525.0) * n + 6823.3) * n + 5520.33;
    return std::clamp(t, 1500.0, 50000.0);
}

bool invert(const Mat3& m, Mat3& out) {
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    if (!std::isfinite(det) || std::fabs(det) < 1e-12) return false;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const int a = (j + 1) % 3, b = (j + 2) % 3, c = (i + 1) % 3, d = (i + 2) % 3;
            out[i][j] = (m[a][c] * m[b][d] - m[a][d] * m[b][c]) / det;
        }
    return true;
}

Mat3 multiply(const Mat3& a, const Mat3& b) {
    Mat3 r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) r[i][j] += a[i][k] * b[k][j];
    return r;
}

std::array<double, 3> apply(const Mat3& m, const std::array<double, 3>& v) {
    std::array<double, 3> r{};
    for (int i = 0; i < 3; ++i) r[i] = m[i][0] * v[0] + m[i][1] * v[1] + m[i][2] * v[2];
    return r;
}

// XYZ relative to D65 onto XYZ relative to D50 (linear Bradford adaptation).
constexpr Mat3 kD65ToD50 = {{{1.0478112, 0.0228866, -0.0501270},
                             {0.0295424, 0.9904844, -0.0170491},
                             {-0.0092345, 0.0150436, 0.7521316}}};

constexpr Mat3 kBradford = {{{0.8951, 0.2664, -0.1614}, {-0.7502, 1.7135, 0.0367}, {0.0389, -0.0685, 1.0296}}};

// Linear Bradford adaptation of XYZ from D65 to the white (x, y).
bool adaptation_from_d65(double x, double y, Mat3& out) {
    const std::array<double, 3> d65 = {0.95047, 1.0, 1.08883}, white = {x / y, 1.0, (1 - x - y) / y};
    const auto from = apply(kBradford, d65), to = apply(kBradford, white);
    Mat3 scale{}, inverse;
    for (int i = 0; i < 3; ++i) scale[i][i] = to[size_t(i)] / from[size_t(i)];
    if (!invert(kBradford, inverse)) return false;
    out = multiply(inverse, multiply(scale, kBradford));
    return true;
}

struct Profile {
    const IfdWalkState& w;
    double t1, t2;  // temperatures of calibrations 1 and 2 (0 when only one)

    // Weight of calibration 1 for a white of temperature t.
    double weight(double t) const {
        if (t2 <= 0) return 1;
        if (t1 <= 0) return 0;
        if (t1 == t2) return 1;
        const double g = (1 / t - 1 / t2) / (1 / t1 - 1 / t2);
        return std::clamp(g, 0.0, 1.0);
    }
    // Analog balance x camera calibration, interpolated.
    Mat3 balance_calibration(double g) const {
        Mat3 m{};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                m[i][j] = w.analog_balance[i] * (g * w.calibrations[0][i][j] + (1 - g) * w.calibrations[1][i][j]);
        return m;
    }
    // XYZ to camera for a weight g: analog balance x calibration x matrix.
    Mat3 xyz_to_camera(double g) const {
        Mat3 cm{};
        const double g1 = w.has_matrix[0] ? (w.has_matrix[1] ? g : 1.0) : 0.0;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                cm[i][j] = g1 * w.color_matrices[0][i][j] + (1 - g1) * w.color_matrices[1][i][j];
        return multiply(balance_calibration(g), cm);
    }
};

}  // namespace

bool set_dng_profile_matrix(DecoderSession& s, IfdWalkState& w) {
    const bool dual = w.has_matrix[0] && w.has_matrix[1];
    const bool forward = w.has_forward[0] || w.has_forward[1];
    if ((!dual && !forward) || s.color_count != 3) return false;
    Profile p{w, illuminant_temperature(w.illuminant[0]), illuminant_temperature(w.illuminant[1])};
    if (!w.has_matrix[1]) p.t2 = 0;
    if (!w.has_matrix[0]) p.t1 = 0;
    // An unnamed light source on both: the usual pair, A and D65.
    if (dual && p.t1 <= 0 && p.t2 <= 0) p.t1 = 2856, p.t2 = 6504;

    // The shot's white as a camera neutral and as a chromaticity.
    std::array<double, 3> neutral{};
    const bool has_neutral = w.as_shot_neutral[0] > 0 && w.as_shot_neutral[1] > 0 && w.as_shot_neutral[2] > 0;
    double x = 0.3457, y = 0.3585;  // D50 until the neutral says otherwise
    if (has_neutral) {
        for (int c = 0; c < 3; ++c) neutral[size_t(c)] = w.as_shot_neutral[c];
        for (int iteration = 0; iteration < 30; ++iteration) {
            Mat3 inverse;
            if (!invert(p.xyz_to_camera(p.weight(temperature_of(x, y))), inverse)) return false;
            const auto xyz = apply(inverse, neutral);
            const double sum = xyz[0] + xyz[1] + xyz[2];
            if (!(sum > 0) || !std::isfinite(sum)) return false;
            const double nx = xyz[0] / sum, ny = xyz[1] / sum;
            const bool settled = std::fabs(nx - x) + std::fabs(ny - y) < 1e-7;
            x = nx, y = ny;
            if (settled) break;
        }
    } else if (w.as_shot_xy[0] > 0) {
        x = w.as_shot_xy[0], y = w.as_shot_xy[1];
    } else {
        x = 0.3127, y = 0.3290;  // no white given: daylight
    }
    const double g = p.weight(temperature_of(x, y));
    const Mat3 to_camera = p.xyz_to_camera(g);
    if (!has_neutral) {
        neutral = apply(to_camera, {x / y, 1.0, (1 - x - y) / y});
        if (!(neutral[0] > 0 && neutral[1] > 0 && neutral[2] > 0)) return false;
    }

    // Without forward matrices the colour matrix maps XYZ under the shot's
    // white to the camera; the scene's colours reach that white from D65 by
    // Bradford adaptation, so XYZ (D65) to camera is the matrix after it.
    Mat3 xyz_cam = to_camera, adapt;
    if (!adaptation_from_d65(x, y, adapt)) return false;
    xyz_cam = multiply(to_camera, adapt);
    if (forward) {
        // Forward matrix: white-balanced camera to XYZ (D50). Camera colour
        // is the reference neutral times the balanced value, so XYZ (D65) to
        // camera is balance x diag(reference neutral) x FM^-1 x (D65 to D50).
        const double gf = !w.has_forward[1] ? 1.0 : !w.has_forward[0] ? 0.0 : g;
        Mat3 fm{};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                fm[i][j] = gf * w.forward_matrices[0][i][j] + (1 - gf) * w.forward_matrices[1][i][j];
        Mat3 fm_inverse, bc_inverse;
        const Mat3 bc = p.balance_calibration(g);
        if (!invert(fm, fm_inverse) || !invert(bc, bc_inverse)) return false;
        const auto reference = apply(bc_inverse, neutral);
        Mat3 scaled = fm_inverse;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) scaled[i][j] *= reference[size_t(i)];
        xyz_cam = multiply(bc, multiply(scaled, kD65ToD50));
    }
    double matrix[4][3] = {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            matrix[i][j] = xyz_cam[i][j];
            if (!std::isfinite(matrix[i][j])) return false;
        }
    set_camera_matrix(s, matrix);
    if (s.no_camera_matrix) return false;
    s.as_shot_mul[3] = 0;
    for (int c = 0; c < 3; ++c) set_ratio(s.as_shot_mul[c], 1.0, neutral[size_t(c)]);
    w.profile_set_white = true;
    return true;
}

}  // namespace ostel::core::tiff
