#include <algorithm>
#include <cmath>

#include "core/processing/demosaic.h"

namespace ostel::core {

CielabConverter::CielabConverter(const DecoderSession& s) : cbrt_(65536), colours_(std::clamp(s.color_count, 1, 4)) {
    for (int i = 0; i < 65536; ++i) {
        const double r = i / 65535.0;
        cbrt_[size_t(i)] = float(r > 0.008856 ? std::cbrt(r) : 7.787 * r + 16.0 / 116.0);
    }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < colours_; ++j) {
            double sum = 0;
            for (int k = 0; k < 3; ++k) sum += s.srgb_to_xyz[i][k] * s.cam_to_out[k][j];
            xyz_cam_[i][j] = float(sum / s.d65_white[i]);
        }
}

void CielabConverter::cube_roots(const uint16_t* cam, float f[3]) const {
    float xyz[3] = {0.5f, 0.5f, 0.5f};
    for (int c = 0; c < colours_; ++c)
        for (int i = 0; i < 3; ++i) xyz[i] += xyz_cam_[i][c] * cam[c];
    for (int i = 0; i < 3; ++i) f[i] = cbrt_[size_t(std::clamp(int(xyz[i]), 0, 65535))];
}

void CielabConverter::convert(const uint16_t* cam, float lab[3]) const {
    float f[3];
    cube_roots(cam, f);
    lab[0] = 116 * f[1] - 16;
    lab[1] = 500 * (f[0] - f[1]);
    lab[2] = 200 * (f[1] - f[2]);
}

void CielabConverter::convert_fixed(const uint16_t* cam, int16_t lab[3]) const {
    float f[3];
    cube_roots(cam, f);
    lab[0] = int16_t(64 * (116 * f[1] - 16));
    lab[1] = int16_t(64 * 500 * (f[0] - f[1]));
    lab[2] = int16_t(64 * 200 * (f[1] - f[2]));
}

}  // namespace ostel::core
