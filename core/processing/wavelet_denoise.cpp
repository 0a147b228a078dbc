#include <algorithm>
#include <cmath>
#include <iostream>
#include <vector>

#include "core/processing/preprocess.h"
#include "core/session/core_failure.h"

namespace ostel::core {

namespace {

constexpr float kNoiseWeights[8] = {0.8002f, 0.2735f, 0.1202f, 0.0585f, 0.0291f, 0.0152f, 0.0080f, 0.0044f};

// Reflects an index into [0, size - 1], however far outside it lies.
inline int reflect(int i, int size) {
    if (size == 1) return 0;
    const int period = 2 * (size - 1);
    i %= period;
    if (i < 0) i += period;
    return i < size ? i : period - i;
}

inline float soft_threshold(float v, float threshold) {
    if (v < -threshold) return v + threshold;
    if (v > threshold) return v - threshold;
    return 0;
}

void equalise_greens(DecoderSession& s, int threshold_int) {
    const int width = s.width, height = s.height;
    if (width < 3 || height < 3) return;
    const float black = float(s.black_level);
    float mul[2];
    mul[0] = 0.125f * s.daylight_mul[s.filter_color(1, 0) | 1] / s.daylight_mul[s.filter_color(0, 0) | 1];
    mul[1] = 0.125f * s.daylight_mul[s.filter_color(2, 0) | 1] / s.daylight_mul[s.filter_color(1, 0) | 1];
    if (!std::isfinite(mul[0]) || !std::isfinite(mul[1])) return;
    const float threshold = float(threshold_int);
    // Green samples of each row as they were before this pass (one parity per row).
    std::vector<uint16_t> window[3];
    auto load_row = [&](std::vector<uint16_t>& dst, int row) {
        dst.assign(size_t(width), 0);
        for (int col = s.filter_color(row, 1) & 1; col < width; col += 2) dst[size_t(col)] = raw_sample(s, row, col);
    };
    load_row(window[0], 0);
    load_row(window[1], 1);
    for (int row = 1; row < height - 1; ++row) {
        load_row(window[2], row + 1);
        const std::vector<uint16_t>& prev = window[0];
        const std::vector<uint16_t>& next = window[2];
        for (int col = (s.filter_color(row, 0) & 1) + 1; col < width - 1; col += 2) {
            uint16_t& sample = raw_sample(s, row, col);
            float avg = (float(prev[size_t(col - 1)]) + prev[size_t(col + 1)] + next[size_t(col - 1)] +
                         next[size_t(col + 1)] - black * 4) *
                            mul[row & 1] +
                        (float(window[1][size_t(col)]) - black) * 0.5f + black;
            avg = avg < 0 ? 0 : std::sqrt(avg);
            const float diff = soft_threshold(std::sqrt(float(sample)) - avg, threshold);
            sample = uint16_t(std::clamp((avg + diff) * (avg + diff) + 0.5f, 0.0f, 65535.0f));
        }
        std::swap(window[0], window[1]);
        std::swap(window[1], window[2]);
    }
}

}  // namespace

void hat_filter_line(float* out, const float* base, int stride, int size, int step) {
    for (int i = 0; i < size; ++i) {
        const int lo = reflect(i - step, size), hi = reflect(i + step, size);
        out[i] = 2 * base[size_t(i) * size_t(stride)] + base[size_t(lo) * size_t(stride)] +
                 base[size_t(hi) * size_t(stride)];
    }
}

void wavelet_denoise(DecoderSession& s) {
    if (s.verbose) std::cerr << "Wavelet denoising...\n";
    int scale = 0;
    if (s.white_level > 0)
        while (scale < 16 && (int64_t(s.white_level) << (scale + 1)) < 0x10000) ++scale;
    s.white_level <<= scale;
    s.black_level <<= scale;

    const int ih = s.image_height, iw = s.image_width;
    const int64_t size = int64_t(ih) * iw;
    if (size <= 0) return;
    if (size >= 0x15550000) fail_out_of_memory();
    const size_t count = static_cast<size_t>(size);
    std::vector<float> image(count);
    std::vector<float> low[2] = {std::vector<float>(count), std::vector<float>(count)};
    std::vector<float> filtered(size_t(std::max(ih, iw)));

    int planes = s.color_count;
    if (planes == 3 && s.cfa_pattern) ++planes;
    for (int c = 0; c < planes; ++c) {
        for (int64_t i = 0; i < size; ++i) image[size_t(i)] = 256.0f * std::sqrt(float(int(s.image[size_t(i)][c]) << scale));
        const float* high = image.data();
        float* last_low = nullptr;
        for (int level = 0; level < 5; ++level) {
            const int step = 1 << level;
            float* l = low[level & 1].data();
            for (int row = 0; row < ih; ++row) {
                hat_filter_line(l + size_t(row) * size_t(iw), high + size_t(row) * size_t(iw), 1, iw, step);
                for (int col = 0; col < iw; ++col) l[size_t(row) * size_t(iw) + size_t(col)] *= 0.25f;
            }
            for (int col = 0; col < iw; ++col) {
                hat_filter_line(filtered.data(), l + col, iw, ih, step);
                for (int row = 0; row < ih; ++row) l[size_t(row) * size_t(iw) + size_t(col)] = filtered[size_t(row)] * 0.25f;
            }
            const float threshold = s.denoise_threshold * kNoiseWeights[level];
            // The level's detail: high minus low, shrunk towards zero.
            for (int64_t i = 0; i < size; ++i) {
                const float h = soft_threshold(high[i] - l[i], threshold);
                if (level == 0) image[size_t(i)] = h;
                else image[size_t(i)] += h;
            }
            high = l;
            last_low = l;
        }
        for (int64_t i = 0; i < size; ++i) {
            const float v = image[size_t(i)] + last_low[i];
            s.image[size_t(i)][c] = uint16_t(std::clamp(v * v / 65536.0f, 0.0f, 65535.0f));
        }
    }
    if (s.cfa_pattern && s.color_count == 3) equalise_greens(s, int(s.denoise_threshold) / 512);
}

void blend_clipped_highlights(DecoderSession& s) {
    static constexpr float kForward3[3][3] = {{1, 1, 1}, {1.7320508f, -1.7320508f, 0}, {-1, -1, 2}};
    static constexpr float kInverse3[3][3] = {{1, 0.8660254f, -0.5f}, {1, -0.8660254f, -0.5f}, {1, 0, 1}};
    static constexpr float kForward4[4][4] = {{1, 1, 1, 1}, {1, -1, 1, -1}, {1, 1, -1, -1}, {1, -1, -1, 1}};
    const int colours = s.color_count;
    if (colours != 3 && colours != 4) return;
    int clip = 0x7FFFFFFF;
    for (int c = 0; c < colours; ++c) clip = std::min(clip, int(65535 * s.daylight_mul[c]));
    if (clip < 0) clip = 0;
    auto forward = [&](const float* cam, float* lab) {
        for (int i = 0; i < colours; ++i) {
            lab[i] = 0;
            for (int j = 0; j < colours; ++j)
                lab[i] += (colours == 3 ? kForward3[i][j] : kForward4[i][j]) * cam[j];
        }
    };
    for (Pixel4& p : s.image) {
        bool over = false;
        for (int c = 0; c < colours; ++c) over |= p[c] > clip;
        if (!over) continue;
        float cam[2][4], lab[2][4], sum[2];
        for (int c = 0; c < colours; ++c) {
            cam[0][c] = p[c];
            cam[1][c] = float(std::min<int>(p[c], clip));
        }
        for (int i = 0; i < 2; ++i) {
            forward(cam[i], lab[i]);
            sum[i] = 0;
            for (int c = 1; c < colours; ++c) sum[i] += lab[i][c] * lab[i][c];
        }
        // A neutral clipped pixel has no chroma to rescale.
        const float ratio = sum[0] > 0 ? std::sqrt(sum[1] / sum[0]) : 1.0f;
        for (int c = 1; c < colours; ++c) lab[0][c] *= ratio;
        for (int c = 0; c < colours; ++c) {
            float v = 0;
            for (int j = 0; j < colours; ++j) v += (colours == 3 ? kInverse3[c][j] : kForward4[c][j]) * lab[0][j];
            p[c] = uint16_t(std::clamp(v / colours, 0.0f, 65535.0f));
        }
    }
}

}  // namespace ostel::core
