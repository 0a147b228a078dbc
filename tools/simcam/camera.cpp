#include "tools/simcam/camera.h"

#include <algorithm>
#include <cmath>

namespace ostel::simcam {

namespace {

constexpr double kSrgbToXyz[3][3] = {{0.412453, 0.357580, 0.180423},
                                     {0.212671, 0.715160, 0.072169},
                                     {0.019334, 0.119193, 0.950227}};

constexpr Matrix3 kBradford = {{{0.8951, 0.2664, -0.1614}, {-0.7502, 1.7135, 0.0367}, {0.0389, -0.0685, 1.0296}}};
constexpr std::array<double, 3> kD65 = {0.95047, 1.0, 1.08883};
constexpr std::array<double, 3> kD50 = {0.96422, 1.0, 0.82521};
constexpr std::array<double, 3> kLightA = {1.09850, 1.0, 0.35585};

Matrix3 multiply(const Matrix3& a, const Matrix3& b) {
    Matrix3 r{};
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = 0; j < 3; ++j)
            for (size_t k = 0; k < 3; ++k) r[i][j] += a[i][k] * b[k][j];
    return r;
}

std::array<double, 3> apply(const Matrix3& m, const std::array<double, 3>& v) {
    std::array<double, 3> r{};
    for (size_t i = 0; i < 3; ++i) r[i] = m[i][0] * v[0] + m[i][1] * v[1] + m[i][2] * v[2];
    return r;
}

Matrix3 inverse(const Matrix3& m) {
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    Matrix3 r{};
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = 0; j < 3; ++j) {
            const size_t a = (j + 1) % 3, b = (j + 2) % 3, c = (i + 1) % 3, d = (i + 2) % 3;
            r[i][j] = (m[a][c] * m[b][d] - m[a][d] * m[b][c]) / det;
        }
    return r;
}

// Linear Bradford adaptation of XYZ from one white to another.
Matrix3 adaptation(const std::array<double, 3>& from, const std::array<double, 3>& to) {
    const auto cone_from = apply(kBradford, from), cone_to = apply(kBradford, to);
    Matrix3 scale{};
    for (size_t i = 0; i < 3; ++i) scale[i][i] = cone_to[i] / cone_from[i];
    return multiply(inverse(kBradford), multiply(scale, kBradford));
}

// The first three rows of a matrix (red, green and blue filters).
template <size_t Rows>
Matrix3 to_matrix(const double (&m)[Rows][3]) {
    Matrix3 r{};
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = 0; j < 3; ++j) r[i][j] = m[i][j];
    return r;
}

std::array<double, 3> white_of(Light light) {
    return light == Light::a ? kLightA : light == Light::d50 ? kD50 : kD65;
}

// XYZ to camera colour under the light given.
Matrix3 camera_matrix(const Camera& camera, Light light) {
    return light == Light::a     ? to_matrix(camera.xyz_to_cam_a)
           : light == Light::d50 ? to_matrix(camera.xyz_to_cam_d50)
                                 : to_matrix(camera.xyz_to_cam);
}

// Camera response of every filter index to the sRGB primaries:
// xyz_to_cam x srgb_to_xyz. A scene lit by light A or D50 is seen with
// its colours adapted to that light, through the camera's matrix for it.
void rgb_response(const Camera& camera, double out[4][3]) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 3; ++j) {
            double sum = 0;
            for (int k = 0; k < 3; ++k) sum += camera.xyz_to_cam[i][k] * kSrgbToXyz[k][j];
            out[i][j] = sum;
        }
    const Light light = shot_light(camera);
    if (light == Light::d65) return;
    Matrix3 srgb_to_xyz{};
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = 0; j < 3; ++j) srgb_to_xyz[i][j] = kSrgbToXyz[i][j];
    const Matrix3 under = multiply(camera_matrix(camera, light), multiply(adaptation(kD65, white_of(light)), srgb_to_xyz));
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = 0; j < 3; ++j) out[i][j] = under[i][j];
}

// The scene as the distorting lens shows it at a sensor site: the scene
// between its four nearest sites, weighted by distance.
Rgb distorted_sample(const Scene& scene, const Camera& camera, int row, int col, int height, int width) {
    const auto at = undistorted(camera, row, col);
    const double y = std::clamp(at[0], 0.0, double(height - 1)), x = std::clamp(at[1], 0.0, double(width - 1));
    const int y0 = std::min(int(y), std::max(0, height - 2)), x0 = std::min(int(x), std::max(0, width - 2));
    const int y1 = std::min(y0 + 1, height - 1), x1 = std::min(x0 + 1, width - 1);
    const double ay = y - y0, ax = x - x0;
    const Rgb a = scene.sample(y0, x0, height, width), b = scene.sample(y0, x1, height, width);
    const Rgb c = scene.sample(y1, x0, height, width), d = scene.sample(y1, x1, height, width);
    Rgb out{};
    for (size_t k = 0; k < 3; ++k)
        out[k] = (a[k] * (1 - ax) + b[k] * ax) * (1 - ay) + (c[k] * (1 - ax) + d[k] * ax) * ay;
    return out;
}

int filter_index(const Camera& camera, int row, int col) {
    const int c = camera.color_at(row, col);
    return c > 2 && camera.colours < 4 ? 1 : c;  // a second green reads as green
}

}  // namespace

uint64_t Rng::next() {
    // splitmix64: tiny, fast and well mixed for any seed including 0.
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double Rng::uniform() { return (next() >> 11) * (1.0 / 9007199254740992.0); }

double Rng::gaussian() {
    const double u1 = 1.0 - uniform();  // (0, 1]
    const double u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}

void Camera::set_daylight_balance() {
    double response[4][3];
    rgb_response(*this, response);
    for (int i = 0; i < 4; ++i) {
        const double white = response[i][0] + response[i][1] + response[i][2];
        as_shot[i] = i < colours && white > 0 ? 1.0 / white : 0;
    }
    if (colours < 4) as_shot[3] = as_shot[1];
}

double falloff(const Camera& camera, double row, double col) {
    // Relative position as a gain map measures it: 0 at the top or left
    // edge, 1 at the bottom or right.
    const double y = row / std::max(1, camera.height) - 0.5, x = col / std::max(1, camera.width) - 0.5;
    return 1.0 - camera.vignetting * (x * x + y * y) / 0.5;
}

std::array<double, 2> undistorted(const Camera& camera, double row, double col) {
    if (camera.distortion == 0) return {row, col};
    const double cy = 0.5 * (camera.height - 1), cx = 0.5 * (camera.visible_width() - 1);
    const double m = std::sqrt(cx * cx + cy * cy);
    const double y = (row - cy) / m, x = (col - cx) / m;
    const double p = std::sqrt(x * x + y * y);
    if (!(p > 0) || !(m > 0)) return {row, col};
    // Solve u (1 + d u^2) = p by Newton's method from u = p.
    double u = p;
    for (int i = 0; i < 20; ++i) u -= (u * (1 + camera.distortion * u * u) - p) / (1 + 3 * camera.distortion * u * u);
    const double scale = u / p;
    return {cy + y * scale * m, cx + x * scale * m};
}

Light shot_light(const Camera& camera) {
    return camera.lit_by_a ? Light::a : camera.lit_by_d50 ? Light::d50 : Light::d65;
}

std::array<double, 3> camera_neutral(const Camera& camera, Light light) {
    auto n = apply(camera_matrix(camera, light), white_of(light));
    const double green = n[1];
    for (double& v : n) v /= green;
    return n;
}

Matrix3 forward_matrix(const Camera& camera, Light light) {
    const auto neutral = camera_neutral(camera, light);
    Matrix3 balance{};
    for (size_t i = 0; i < 3; ++i) balance[i][i] = neutral[i];
    const Matrix3 to_xyz = inverse(camera_matrix(camera, light));
    return multiply(adaptation(white_of(light), kD50), multiply(to_xyz, balance));
}

Mosaic render_mosaic(const Scene& scene, const Camera& camera) {
    Mosaic m;
    m.width = std::max(0, camera.width);
    m.height = std::max(0, camera.height);
    m.samples = camera.cfa_pattern == 0 ? 3 : 1;
    m.values.assign(static_cast<size_t>(m.width) * static_cast<size_t>(m.height) * size_t(m.samples), 0);

    const int bits = std::clamp(camera.bits, 1, 16);
    const int ceiling = std::min(camera.white, (1 << bits) - 1);
    const int black = std::clamp(camera.black, 0, ceiling);
    const double range = ceiling - black;

    // Camera response to each primary, so a site needs one dot product.
    double rgb_to_cam[4][3];
    rgb_response(camera, rgb_to_cam);

    const int visible = std::clamp(camera.visible_width(), 0, m.width);
    Rng rng(camera.seed);
    for (int row = 0; row < m.height; ++row) {
        for (int col = 0; col < m.width; ++col) {
            const double light = camera.vignetting != 0 ? falloff(camera, row, col) : 1.0;
            for (int k = 0; k < m.samples; ++k) {
                double v = black + camera.black_cells[size_t((row & 1) * 2 + (col & 1))];
                if (col < visible) {
                    const Rgb rgb = camera.distortion == 0 ? scene.sample(row, col, m.height, visible)
                                                           : distorted_sample(scene, camera, row, col, m.height, visible);
                    const int c = m.samples == 3 ? k : filter_index(camera, row, col);
                    double signal = 0;
                    for (int j = 0; j < 3; ++j) signal += rgb_to_cam[c][j] * rgb[j] * scene.exposure;
                    v += signal * light * range;
                }
                if (camera.noise_sigma > 0) v += camera.noise_sigma * rng.gaussian();
                m.values[(size_t(row) * size_t(m.width) + size_t(col)) * size_t(m.samples) + size_t(k)] =
                    static_cast<uint16_t>(std::clamp(std::lround(v), long(0), long(ceiling)));
            }
        }
    }
    const auto stick = [&](int top, int left, int bottom, int right, int value) {
        for (int row = std::max(top, 0); row < std::min(bottom, m.height); ++row)
            for (int col = std::max(left, 0); col < std::min(right, m.width); ++col)
                for (int k = 0; k < m.samples; ++k)
                    m.values[(size_t(row) * size_t(m.width) + size_t(col)) * size_t(m.samples) + size_t(k)] =
                        static_cast<uint16_t>(std::clamp(value, 0, 65535));
    };
    for (const auto& b : camera.bad_sites) stick(b[0], b[1], b[0] + 1, b[1] + 1, camera.stuck_value);
    for (const auto& b : camera.bad_rects) stick(b[0], b[1], b[2], b[3], camera.stuck_value);
    for (const auto& b : camera.dead_sites) stick(b[0], b[1], b[0] + 1, b[1] + 1, 0);
    return m;
}

}  // namespace ostel::simcam
