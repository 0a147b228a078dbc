// The three Kodak formats built on the run coder: mosaic blocks, YCC pixel
// pairs and 16-bit RGB.
#include <algorithm>

#include "core/loaders/kodak_block_coder.h"
#include "core/loaders/legacy_support.h"
#include "core/loaders/loaders.h"

namespace ostel::core {

namespace {

// A curve index from a running sum; out-of-range sums are data errors.
uint16_t curve_at(DecoderSession& s, int value) {
    if (value < 0 || value > 65535) {
        ++s.short_read_count;
        value = legacy::clampi(value, 0, 65535);
    }
    return s.lin_table[static_cast<size_t>(value)];
}

}  // namespace

void kodak_block_load_raw(DecoderSession& s) {
    if (!legacy::image_ready(s)) {
        count_undecodable(s);
        return;
    }
    int run[kKodakRunCapacity];
    for (int row = 0; row < s.height; ++row)
        for (int col = 0; col < s.width; col += 256) {
            const int len = std::min(256, s.width - col);
            const bool plain = kodak_decode_run(s, run, len);
            int pred[2] = {0, 0};
            for (int i = 0; i < len; ++i) {
                const int value = plain ? run[i] : (pred[i & 1] += run[i]);
                s.bayer_store(row, col + i, curve_at(s, value));
            }
        }
}

void kodak_ycc_load_raw(DecoderSession& s) {
    if (!legacy::image_ready(s) || s.half_grid) {
        count_undecodable(s);
        return;
    }
    int run[kKodakRunCapacity];
    for (int row = 0; row < s.height; row += 2)
        for (int col = 0; col < s.width; col += 128) {
            const int len = std::min(128, s.width - col);
            kodak_decode_run(s, run, len * 3);
            int y[2][2] = {{0, 0}, {0, 0}};
            int cb = 0, cr = 0;
            const int* e = run;
            for (int i = 0; i < len; i += 2, e += 6) {
                cb += e[4];
                cr += e[5];
                const int g = -((cb + cr + 2) >> 2);
                const int rgb[3] = {g + cr, g, g + cb};
                int next = 0;
                for (int j = 0; j < 2; ++j)
                    for (int k = 0; k < 2; ++k) {
                        y[j][k] = y[j][k ^ 1] + e[next++];
                        if (y[j][k] > 1023 || y[j][k] < 0) ++s.short_read_count;
                        if (!legacy::visible(s, row + j, col + i + k)) continue;
                        Pixel4& p = legacy::pixel_at(s, row + j, col + i + k);
                        for (int c = 0; c < 3; ++c)
                            p[c] = s.lin_table[static_cast<size_t>(legacy::clampi(y[j][k] + rgb[c], 0, 4095))];
                    }
            }
        }
}

void kodak_rgb16_load_raw(DecoderSession& s) {
    if (!legacy::image_ready(s) || s.half_grid) {
        count_undecodable(s);
        return;
    }
    int run[kKodakRunCapacity];
    for (int row = 0; row < s.height; ++row)
        for (int col = 0; col < s.width; col += 256) {
            const int len = std::min(256, s.width - col);
            kodak_decode_run(s, run, len * 3);
            int sum[3] = {0, 0, 0};
            for (int i = 0; i < len; ++i) {
                Pixel4& p = legacy::pixel_at(s, row, col + i);
                for (int c = 0; c < 3; ++c) {
                    sum[c] += run[i * 3 + c];
                    if (sum[c] > 4095 || sum[c] < 0) ++s.short_read_count;
                    p[c] = static_cast<uint16_t>(legacy::clampi(sum[c], 0, 65535));
                }
            }
        }
}

}  // namespace ostel::core
