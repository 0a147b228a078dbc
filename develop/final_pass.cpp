// The last per-pixel pass of a develop run: tone curve, output encoding,
// saturation, black and white, contrast.
#include <cstdint>

#include "develop/tone.h"
#include "develop/tone_support.h"

namespace ostel::develop {

namespace {

inline int index16(double v) { return static_cast<int>(detail::clamp_value(v, 0.0, 65535.0)); }

}  // namespace

void apply_final_pass(uint16_t* rgb, size_t pixels, const FinalPass& pass) {
    if (!pass.curve || pixels == 0) return;
    const double s = pass.saturation;
    const double t = 1.0 + 0.05 * s;
    const bool boost = s >= 0 && t > 1.0;
    const bool desaturate = s < 0;
    const double keep = (s + 10.0) * 0.1;
    const double u = 1.0 - t;
    const int mode = pass.bw_mode;
    const double wr = pass.mixer[0], wg = pass.mixer[1], wb = pass.mixer[2];
    const int64_t n = static_cast<int64_t>(pixels);

#pragma omp parallel for schedule(static)
    for (int64_t i = 0; i < n; ++i) {
        uint16_t* px = rgb + 3 * i;
        double v[3];
        for (int c = 0; c < 3; ++c) {
            const uint16_t curved = pass.curve[px[c]];
            v[c] = pass.transfer ? double(pass.transfer[curved]) : double(curved);
        }
        if (boost) {
            const double r = v[0], g = v[1], b = v[2];
            v[0] = detail::clamp_value((t + 0.299 * u) * r + u * (0.587 * g + 0.114 * b), 0.0, 65535.0);
            v[1] = detail::clamp_value((t + 0.587 * u) * g + u * (0.299 * r + 0.114 * b), 0.0, 65535.0);
            v[2] = detail::clamp_value((t + 0.114 * u) * b + u * (0.299 * r + 0.587 * g), 0.0, 65535.0);
        } else if (desaturate) {
            const double grey = (0.30 * v[0] + 0.59 * v[1] + 0.11 * v[2]) * (1.0 - keep);
            for (double& x : v) x = keep * x + grey;
        }
        double mono = 0;
        switch (mode) {
            case 1: mono = detail::clamp_value(v[0] * wr + v[1] * wg + v[2] * wb, 0.0, 65535.0); break;
            case 2: mono = detail::clamp_value(0.299 * v[0] + 0.5876 * v[1] + 0.114 * v[2], 0.0, 65535.0); break;
            case 3: mono = v[0]; break;
            case 4: mono = v[1]; break;
            case 5: mono = v[2]; break;
            default: break;
        }
        if (mode >= 1 && mode <= 5) v[0] = v[1] = v[2] = mono;
        if (pass.contrast)
            for (double& x : v) x = pass.contrast[index16(x)];
        for (int c = 0; c < 3; ++c) px[c] = detail::to_sample(v[c]);
    }
}

}  // namespace ostel::develop
