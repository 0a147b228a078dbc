#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>

#include "core/processing/preprocess.h"
#include "core/session/core_failure.h"

namespace ostel::core {

namespace {

bool usable_multipliers(const float* m, int n) {
    for (int c = 0; c < n; ++c)
        if (!(m[c] > 0) || !std::isfinite(m[c])) return false;
    return true;
}

// Grey-world balance over the 8x8 blocks of the grey box without clipped samples.
void automatic_balance(DecoderSession& s) {
    const uint32_t top = s.gray_box[1], left = s.gray_box[0];
    const uint32_t bottom = uint32_t(std::min<uint64_t>(uint64_t(top) + s.gray_box[3], uint64_t(s.height)));
    const uint32_t right = uint32_t(std::min<uint64_t>(uint64_t(left) + s.gray_box[2], uint64_t(s.width)));
    double dsum[4] = {}, dcount[4] = {};
    const int clip_level = s.white_level - 25;
    for (uint32_t row = top; row < bottom; row += 8)
        for (uint32_t col = left; col < right; col += 8) {
            uint32_t sum[4] = {}, count[4] = {};
            bool clipped = false;
            for (uint32_t y = row; y < row + 8 && y < bottom && !clipped; ++y)
                for (uint32_t x = col; x < col + 8 && x < right; ++x) {
                    if (s.cfa_pattern) {
                        const int c = s.sensor_color(int(y), int(x));
                        const int v = raw_sample(s, int(y), int(x));
                        if (v > clip_level) { clipped = true; break; }
                        sum[c] += uint32_t(std::max(v - s.black_level, 0));
                        ++count[c];
                    } else {
                        const Pixel4& p = s.image[size_t(y >> s.half_grid) * size_t(s.image_width) + (x >> s.half_grid)];
                        for (int c = 0; c < 4; ++c) {
                            if (p[c] > clip_level) { clipped = true; break; }
                            sum[c] += uint32_t(std::max(int(p[c]) - s.black_level, 0));
                            ++count[c];
                        }
                        if (clipped) break;
                    }
                }
            if (clipped) continue;
            for (int c = 0; c < 4; ++c) {
                dsum[c] += sum[c];
                dcount[c] += count[c];
            }
        }
    for (int c = 0; c < 4; ++c)
        if (dsum[c] != 0) s.daylight_mul[c] = float(dcount[c] / dsum[c]);
}

void camera_balance(DecoderSession& s) {
    unsigned sum[4] = {}, count[4] = {};
    for (int row = 0; row < 8; ++row)
        for (int col = 0; col < 8; ++col) {
            const int c = s.filter_color(row, col);
            const int v = int(s.white_patch[row][col]) - s.black_level;
            if (v > 0) sum[c] += unsigned(v);
            ++count[c];
        }
    if (sum[0] && sum[1] && sum[2] && sum[3]) {
        for (int c = 0; c < 4; ++c) s.daylight_mul[c] = float(count[c]) / float(sum[c]);
    } else if (s.as_shot_mul[0] != 0 && s.as_shot_mul[2] != 0 && usable_multipliers(s.as_shot_mul, 3)) {
        std::memcpy(s.daylight_mul, s.as_shot_mul, sizeof s.daylight_mul);
    } else {
        std::cerr << s.file_name << ": Cannot use camera white balance.\n";
    }
}

// The second green's multiplier from the ratio of the two green planes.
void olympus_green_ratio(DecoderSession& s) {
    if (std::strcmp(s.make, "OLYMPUS") != 0 || s.model[0] != 'E' || !s.cfa_pattern) return;
    double sum[4] = {};
    for (int row = 0; row < s.height; ++row)
        for (int col = 0; col < s.width; ++col) {
            const int c = s.filter_color(row, col);
            if (c == 1 || c == 3)
                sum[c] += s.image[size_t(row >> s.half_grid) * size_t(s.image_width) + size_t(col >> s.half_grid)][c];
        }
    if (sum[3] > 0) s.daylight_mul[3] = float(sum[1] / sum[3]);
}

void correct_aberration(DecoderSession& s) {
    if ((s.ca_scale[0] == 1.0 && s.ca_scale[2] == 1.0) || s.color_count != 3) return;
    const int h = s.image_height, w = s.image_width;
    if (h < 2 || w < 2) return;
    std::vector<uint16_t> plane(size_t(h) * size_t(w));
    for (int c : {0, 2}) {
        const double f = s.ca_scale[c];
        if (f == 1.0 || !std::isfinite(f) || f <= 0) continue;
        for (size_t i = 0; i < plane.size(); ++i) plane[i] = s.image[i][c];
        for (int row = 0; row < h; ++row) {
            const double r = h * 0.5 + (row - h * 0.5) * f;
            if (r < 0 || r > h - 2) continue;
            const int ur = int(r);
            const double fr = r - ur;
            for (int col = 0; col < w; ++col) {
                const double cpos = w * 0.5 + (col - w * 0.5) * f;
                if (cpos < 0 || cpos > w - 2) continue;
                const int uc = int(cpos);
                const double fc = cpos - uc;
                const uint16_t* p = plane.data() + size_t(ur) * size_t(w) + size_t(uc);
                const double v = (p[0] * (1 - fc) + p[1] * fc) * (1 - fr) + (p[w] * (1 - fc) + p[w + 1] * fc) * fr;
                s.image[size_t(row) * size_t(w) + size_t(col)][c] = uint16_t(std::clamp(v, 0.0, 65535.0));
            }
        }
    }
}

}  // namespace

void balance_and_scale(DecoderSession& s) {
    if (s.highlight_mode < 0 || s.highlight_mode > 2) s.highlight_mode = 1;
    if (s.custom_mul[0] != 0 && usable_multipliers(s.custom_mul, s.color_count))
        std::memcpy(s.daylight_mul, s.custom_mul, sizeof s.daylight_mul);
    if (s.use_auto_balance || (s.use_as_shot_wb && s.as_shot_mul[0] == -1)) automatic_balance(s);
    if (s.use_as_shot_wb && s.as_shot_mul[0] != -1) camera_balance(s);
    if (s.daylight_mul[3] == 0) s.daylight_mul[3] = s.color_count < 4 ? s.daylight_mul[1] : 1;
    olympus_green_ratio(s);

    // Denoising, the black/white adjustment and the scaling happen once, in
    // the call that applies them; the computing call only sets multipliers.
    if (s.apply_scaling && s.denoise_threshold != 0) wavelet_denoise(s);
    int white = s.white_level;
    if (s.apply_scaling) {
        s.white_level -= s.black_level;
        white = s.white_level;
    } else {
        white -= s.black_level;
    }
    if (white <= 0) white = 1;

    float dmax = 0, dmin = 0;
    for (int c = 0; c < 4; ++c) {
        const float m = s.daylight_mul[c];
        if (!(m > 0) || !std::isfinite(m)) continue;
        if (dmax == 0 || m > dmax) dmax = m;
        if (dmin == 0 || m < dmin) dmin = m;
    }
    if (dmax == 0) dmax = dmin = 1;
    if (s.highlight_mode == 0) dmax = dmin;
    float scale[4];
    for (int c = 0; c < 4; ++c) {
        if (!(s.daylight_mul[c] > 0) || !std::isfinite(s.daylight_mul[c])) s.daylight_mul[c] = dmax;
        s.daylight_mul[c] /= dmax;
        scale[c] = s.daylight_mul[c] * 65535.0f / float(white);
    }
    if (!s.apply_scaling) return;

    const int black = s.black_level;
    for (Pixel4& p : s.image)
        for (int c = 0; c < 4; ++c) {
            if (!p[c]) continue;
            const float v = float(int(p[c]) - black) * scale[c];
            p[c] = uint16_t(std::clamp(v, 0.0f, 65535.0f));
        }
    correct_aberration(s);
}

}  // namespace ostel::core
