#include "develop/histogram.h"

#include <algorithm>
#include <cmath>

#include "core/session/decoder_session.h"

namespace ostel::develop {

void draw_histogram(const HistogramCounts& counts, HistogramImage& image) {
    constexpr int W = HistogramImage::kWidth, H = HistogramImage::kHeight;
    image.pixels.assign(size_t(W) * H * 4, 0);
    std::array<std::array<int, HistogramImage::kBins>, 3> root{};
    int top = 0;
    for (int c = 0; c < 3; ++c)
        for (int j = 0; j < HistogramImage::kBins; ++j) {
            root[size_t(c)][size_t(j)] = int(std::sqrt(double(counts[size_t(c)][size_t(j)])));
            top = std::max(top, root[size_t(c)][size_t(j)]);
        }
    if (top == 0) return;  // nothing counted: a blank picture
    const float scale = float(H) / float(top);
    std::array<std::array<int, HistogramImage::kBins>, 3> bar{};
    for (int c = 0; c < 3; ++c)
        for (int j = 0; j < HistogramImage::kBins; ++j)
            bar[size_t(c)][size_t(j)] = int(float(root[size_t(c)][size_t(j)]) * scale);
    // Byte offsets of red, green and blue within a pixel.
    constexpr int kByte[3] = {2, 1, 0};
    for (int k = 0; k < H; ++k)
        for (int j = 0; j < W; ++j) {
            uint8_t* px = image.pixels.data() + (size_t(k) * W + size_t(j)) * 4;
            for (int c = 0; c < 3; ++c)
                if (H - bar[size_t(c)][size_t(j)] < k) px[kByte[c]] = 255;
        }
}

void draw_raw_histogram(const core::DecoderSession& s, int width, int height, HistogramImage& image) {
    HistogramCounts counts{};
    const size_t stride = size_t(std::max(s.image_width, 0));
    auto sample = [&](int r, int c, int k) -> int {
        if (r >= s.height || c >= s.width) return 0;
        const size_t index = size_t(r >> s.half_grid) * stride + size_t(c >> s.half_grid);
        if (size_t(c >> s.half_grid) >= stride || index >= s.image.size()) return 0;
        return s.image[index][size_t(k)];
    };
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) {
            if (s.cfa_pattern == 0) {
                // Full-colour data: every position has all three colours.
                for (int k = 0; k < 3; ++k) ++counts[size_t(k)][size_t(sample(r, c, k) >> 9)];
                continue;
            }
            int k;
            if (s.cfa_pattern == 1)
                k = core::kColorMap16[(r + s.crop_top) & 15][(c + s.crop_left) & 15] & 3;
            else
                k = int((s.cfa_pattern >> (((r & 7) * 4) + ((c & 1) * 2))) & 3);
            const int channel = k == 0 ? 0 : k == 1 ? 1 : 2;
            ++counts[size_t(channel)][size_t(sample(r, c, k) >> 9)];
        }
    draw_histogram(counts, image);
}

void draw_output_histogram(const uint16_t* rgb, int width, int height, HistogramImage& image) {
    HistogramCounts counts{};
    for (int r = 10; r < height - 10; ++r)
        for (int c = 10; c < width - 10; ++c) {
            const uint16_t* px = rgb + (size_t(r) * size_t(width) + size_t(c)) * 3;
            for (int k = 0; k < 3; ++k) ++counts[size_t(k)][size_t(px[k] >> 9)];
        }
    draw_histogram(counts, image);
}

void build_display_buffer(const uint16_t* rgb, int width, int height, bool warnings, std::vector<uint8_t>& out) {
    const int b = kDisplayBorder;
    const int dw = width - 2 * b, dh = height - 2 * b;
    if (dw < 1 || dh < 1) {
        out.clear();
        return;
    }
    out.assign(size_t(dw) * size_t(dh) * 4, 0);
#pragma omp parallel for schedule(static)
    for (int r = 0; r < dh; ++r)
        display_span(rgb + (size_t(r + b) * size_t(width) + size_t(b)) * 3, size_t(dw), warnings,
                     out.data() + size_t(r) * size_t(dw) * 4);
}

void display_span(const uint16_t* rgb, size_t pixels, bool warnings, uint8_t* out) {
    for (size_t c = 0; c < pixels; ++c) {
        const uint16_t* px = rgb + 3 * c;
        int red = px[0] >> 8, green = px[1] >> 8, blue = px[2] >> 8;
        if (warnings) {
            const int luma = int(0.5876 * green + 0.299 * red + 0.114 * blue);
            if (luma >= 246) {
                red = 255;
                green = blue = 0;
            } else if (luma < 15) {
                red = green = 0;
                blue = 255;
            }
        }
        uint8_t* o = out + 4 * c;
        o[0] = uint8_t(blue);
        o[1] = uint8_t(green);
        o[2] = uint8_t(red);
        o[3] = 0;
    }
}

}  // namespace ostel::develop
