// Matrix operations that turn a camera's colour description into the
// camera-to-output matrix and the daylight multipliers.
#include <algorithm>
#include <cmath>
#include <iterator>

#include "core/identify/parsers.h"

namespace ostel::core {
namespace {

// Camera-to-RGB matrices for sensors whose colours no XYZ matrix describes
// well; three rows of three or four values.
struct SimpleMatrix {
    int colours;  // values per row
    float values[12];
};
constexpr SimpleMatrix kSimpleMatrices[4] = {
    {3, {1.4032f, -0.2231f, -0.1016f, -0.5263f, 1.4816f, 0.017f, -0.0112f, 0.0183f, 0.9113f}},
    {4, {2.25f, 0.75f, -1.75f, -0.25f, -0.25f, 0.75f, 0.75f, -0.25f, -0.25f, -1.75f, 0.75f, 2.25f}},
    {3, {1.893f, -0.418f, -0.476f, -0.495f, 1.773f, -0.278f, -1.017f, -0.655f, 2.672f}},
    {4, {-1.936280f, 1.800443f, -1.448486f, 2.584324f, 1.405365f, -0.524955f, -0.289090f, 0.408680f,
         -1.204965f, 1.082304f, 2.941367f, -1.818705f}},
};

// ROMM RGB to linear sRGB.
constexpr double kRommToSrgb[3][3] = {{2.034193, -0.727420, -0.306766},
                                      {-0.228811, 1.231729, -0.002922},
                                      {-0.008565, -0.153273, 1.161839}};

int matrix_colours(const DecoderSession& s) { return std::clamp(s.color_count, 1, 4); }

}  // namespace

void pseudo_inverse(const double (*in)[3], double (*out)[3], int size) {
    size = std::clamp(size, 1, 4);
    double work[3][6];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 6; ++j) work[i][j] = (j == i + 3);
        for (int j = 0; j < 3; ++j) {
            double sum = 0;
            for (int k = 0; k < size; ++k) sum += in[k][i] * in[k][j];
            work[i][j] = sum;
        }
    }
    for (int i = 0; i < 3; ++i) {
        const double scale = 1.0 / work[i][i];
        for (int j = 0; j < 6; ++j) work[i][j] *= scale;
        for (int k = 0; k < 3; ++k) {
            if (k == i) continue;
            const double factor = work[k][i];
            for (int j = 0; j < 6; ++j) work[k][j] -= work[i][j] * factor;
        }
    }
    for (int i = 0; i < size; ++i)
        for (int j = 0; j < 3; ++j) {
            double sum = 0;
            for (int k = 0; k < 3; ++k) sum += work[j][k + 3] * in[i][k];
            out[i][j] = sum;
        }
}

void set_camera_matrix(DecoderSession& s, const double xyz_to_camera[4][3]) {
    const int colours = matrix_colours(s);
    double cam_to_srgb[4][3] = {};
    for (int i = 0; i < colours; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) cam_to_srgb[i][j] += xyz_to_camera[i][k] * s.srgb_to_xyz[k][j];

    // Normalise so that camera white maps to RGB white; the scale factors are
    // the daylight multipliers.
    // Matrices also come from the files themselves: one that cannot be
    // normalised or inverted is dropped whole, leaving the previous state.
    double daylight[4] = {};
    for (int i = 0; i < colours; ++i) {
        const double num = cam_to_srgb[i][0] + cam_to_srgb[i][1] + cam_to_srgb[i][2];
        if (num == 0 || !std::isfinite(num)) return;
        const double inv = 1.0 / num;
        for (int j = 0; j < 3; ++j) cam_to_srgb[i][j] *= inv;
        daylight[i] = inv;
    }

    double inverse[4][3] = {};
    pseudo_inverse(cam_to_srgb, inverse, colours);
    // The elimination does not pivot, so a singular matrix may come out as
    // large finite values rather than infinities: require a true inverse.
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double sum = 0;
            for (int k = 0; k < colours; ++k) sum += inverse[k][i] * cam_to_srgb[k][j];
            if (!std::isfinite(sum) || std::fabs(sum - (i == j)) > 1e-3) return;
        }

    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) s.xyz_to_cam[i][j] = static_cast<float>(xyz_to_camera[i][j]);
    for (int i = 0; i < colours; ++i) s.daylight_mul[i] = static_cast<float>(daylight[i]);
    s.no_camera_matrix = 0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < colours; ++j) s.cam_to_out[i][j] = static_cast<float>(inverse[j][i]);
}

void apply_simple_matrix(DecoderSession& s, int index) {
    if (index < 0 || index >= static_cast<int>(std::size(kSimpleMatrices))) return;
    const SimpleMatrix& m = kSimpleMatrices[index];
    // A row width that disagrees with the colour count would read the wrong
    // values; such a pairing keeps the camera colours.
    if (m.colours != s.color_count) return;
    s.no_camera_matrix = 0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < m.colours; ++j) s.cam_to_out[i][j] = m.values[i * m.colours + j];
}

void set_romm_matrix(DecoderSession& s, const float romm_matrix[3][3]) {
    // The matrix comes from the file; a non-finite one would poison every pixel.
    for (int k = 0; k < 3; ++k)
        for (int j = 0; j < 3; ++j)
            if (!std::isfinite(romm_matrix[k][j])) return;
    s.no_camera_matrix = 0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double sum = 0;
            for (int k = 0; k < 3; ++k) sum += kRommToSrgb[i][k] * romm_matrix[k][j];
            s.cam_to_out[i][j] = static_cast<float>(sum);
        }
}

}  // namespace ostel::core
