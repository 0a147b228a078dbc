#include "tools/simcam/camera.h"

#include <algorithm>
#include <cmath>

namespace ostel::simcam {

namespace {

constexpr double kSrgbToXyz[3][3] = {{0.412453, 0.357580, 0.180423},
                                     {0.212671, 0.715160, 0.072169},
                                     {0.019334, 0.119193, 0.950227}};

// Camera response of every filter index to the sRGB primaries:
// xyz_to_cam x srgb_to_xyz.
void rgb_response(const Camera& camera, double out[4][3]) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 3; ++j) {
            double sum = 0;
            for (int k = 0; k < 3; ++k) sum += camera.xyz_to_cam[i][k] * kSrgbToXyz[k][j];
            out[i][j] = sum;
        }
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

Mosaic render_mosaic(const Scene& scene, const Camera& camera) {
    Mosaic m;
    m.width = std::max(0, camera.width);
    m.height = std::max(0, camera.height);
    m.values.assign(static_cast<size_t>(m.width) * static_cast<size_t>(m.height), 0);

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
            double v = black;
            if (col < visible) {
                const Rgb rgb = scene.sample(row, col, m.height, visible);
                const int c = filter_index(camera, row, col);
                double signal = 0;
                for (int j = 0; j < 3; ++j) signal += rgb_to_cam[c][j] * rgb[j] * scene.exposure;
                v += signal * range;
            }
            if (camera.noise_sigma > 0) v += camera.noise_sigma * rng.gaussian();
            m.at(row, col) = static_cast<uint16_t>(std::clamp(std::lround(v), long(0), long(ceiling)));
        }
    }
    return m;
}

}  // namespace ostel::simcam
