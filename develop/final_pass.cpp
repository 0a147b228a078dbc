// The last per-pixel pass of a develop run: tone curve, output encoding,
// saturation, black and white, contrast.
#include <cstdint>

#include "develop/tone.h"
#include "develop/tone_support.h"

namespace ostel::develop {

namespace {

inline int index16(double v) { return static_cast<int>(detail::clamp_value(v, 0.0, 65535.0)); }

// The pass's settings in the form the pixel loop uses.
struct PassTerms {
    explicit PassTerms(const FinalPass& pass)
        : p(pass),
          t(1.0 + 0.05 * pass.saturation),
          boost(pass.saturation >= 0 && t > 1.0),
          desaturate(pass.saturation < 0),
          keep((pass.saturation + 10.0) * 0.1),
          u(1.0 - t),
          mode(pass.bw_mode),
          wr(pass.mixer[0]),
          wg(pass.mixer[1]),
          wb(pass.mixer[2]) {}
    // Each output channel depends on its own input only: the pass is then
    // one table per sample.
    bool per_channel() const { return !boost && !desaturate && !(mode >= 1 && mode <= 5); }

    const FinalPass& p;
    double t;
    bool boost, desaturate;
    double keep, u;
    int mode;
    double wr, wg, wb;
};

inline void final_pixel(uint16_t* px, const PassTerms& k) {
    const FinalPass& pass = k.p;
    double v[3];
    for (int c = 0; c < 3; ++c) {
        const uint16_t curved = pass.curve[px[c]];
        v[c] = pass.transfer ? double(pass.transfer[curved]) : double(curved);
    }
    if (k.boost) {
        const double r = v[0], g = v[1], b = v[2], t = k.t, u = k.u;
        v[0] = detail::clamp_value((t + 0.299 * u) * r + u * (0.587 * g + 0.114 * b), 0.0, 65535.0);
        v[1] = detail::clamp_value((t + 0.587 * u) * g + u * (0.299 * r + 0.114 * b), 0.0, 65535.0);
        v[2] = detail::clamp_value((t + 0.114 * u) * b + u * (0.299 * r + 0.587 * g), 0.0, 65535.0);
    } else if (k.desaturate) {
        const double grey = (0.30 * v[0] + 0.59 * v[1] + 0.11 * v[2]) * (1.0 - k.keep);
        for (double& x : v) x = k.keep * x + grey;
    }
    double mono = 0;
    switch (k.mode) {
        case 1: mono = detail::clamp_value(v[0] * k.wr + v[1] * k.wg + v[2] * k.wb, 0.0, 65535.0); break;
        case 2: mono = detail::clamp_value(0.299 * v[0] + 0.5876 * v[1] + 0.114 * v[2], 0.0, 65535.0); break;
        case 3: mono = v[0]; break;
        case 4: mono = v[1]; break;
        case 5: mono = v[2]; break;
        default: break;
    }
    if (k.mode >= 1 && k.mode <= 5) v[0] = v[1] = v[2] = mono;
    if (pass.contrast)
        for (double& x : v) x = pass.contrast[index16(x)];
    for (int c = 0; c < 3; ++c) px[c] = detail::to_sample(v[c]);
}

}  // namespace

Table16 final_pass_table(const FinalPass& pass) {
    const PassTerms k(pass);
    if (!pass.curve || !k.per_channel()) return {};
    Table16 table(65536);
    for (uint32_t i = 0; i < 65536; ++i) {
        uint16_t px[3] = {uint16_t(i), uint16_t(i), uint16_t(i)};
        final_pixel(px, k);
        table[i] = px[0];
    }
    return table;
}

void final_pass_span(uint16_t* rgb, size_t pixels, const FinalPass& pass, const uint16_t* table) {
    if (!pass.curve) return;
    if (table) {
        for (size_t i = 0; i < 3 * pixels; ++i) rgb[i] = table[rgb[i]];
        return;
    }
    const PassTerms k(pass);
    for (size_t i = 0; i < pixels; ++i) final_pixel(rgb + 3 * i, k);
}

void apply_final_pass(uint16_t* rgb, size_t pixels, const FinalPass& pass) {
    if (!pass.curve || pixels == 0) return;
    const PassTerms k(pass);
    const int64_t n = static_cast<int64_t>(pixels);
#pragma omp parallel for schedule(static)
    for (int64_t i = 0; i < n; ++i) final_pixel(rgb + 3 * i, k);
}

}  // namespace ostel::develop
