// Canon PowerShot 600: 10-bit data, eight pixels in ten bytes, rows stored
// interlaced. The camera records no usable black, balance or colour data,
// so the loader also derives them: black from the masked columns, fixed
// per-position gains, a fixed daylight balance, an automatic balance from
// near-white blocks, and one of six colour matrices.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "core/loaders/legacy_support.h"
#include "core/loaders/loaders.h"

namespace ostel::core {

namespace {

constexpr int kRowBytes = 1120;
constexpr int kRowPixels = kRowBytes * 8 / 10;

constexpr int kGain[4][2] = {{1141, 1145}, {1128, 1109}, {1178, 1149}, {1128, 1109}};

constexpr int kBalanceTable[4][5] = {
    {667, 358, 397, 565, 452},
    {731, 390, 367, 499, 517},
    {1119, 396, 348, 448, 537},
    {1399, 485, 431, 508, 688},
};

constexpr int kMatrices[6][12] = {
    {-190, 702, -1878, 2390, 1861, -1349, 905, -393, -432, 944, 2617, -2105},
    {-1203, 1715, -1136, 1648, 1388, -876, 267, 245, -1641, 2153, 3921, -3409},
    {-615, 1127, -1563, 2075, 1437, -925, 509, 3, -756, 1268, 2519, -2007},
    {-190, 702, -1886, 2398, 2153, -1641, 763, -251, -452, 964, 3040, -2528},
    {-190, 702, -1878, 2390, 1861, -1349, 905, -393, -432, 944, 2617, -2105},
    {-807, 1319, -1785, 2297, 1388, -876, 769, -257, -230, 742, 2067, -1555},
};

void unpack_row(const uint8_t* b, uint16_t* p) {
    for (int i = 0; i < kRowBytes; i += 10, b += 10, p += 8) {
        p[0] = static_cast<uint16_t>(b[0] << 2 | b[1] >> 6);
        p[1] = static_cast<uint16_t>(b[2] << 2 | (b[1] >> 4 & 3));
        p[2] = static_cast<uint16_t>(b[3] << 2 | (b[1] >> 2 & 3));
        p[3] = static_cast<uint16_t>(b[4] << 2 | (b[1] & 3));
        p[4] = static_cast<uint16_t>(b[5] << 2 | (b[9] & 3));
        p[5] = static_cast<uint16_t>(b[6] << 2 | (b[9] >> 2 & 3));
        p[6] = static_cast<uint16_t>(b[7] << 2 | (b[9] >> 4 & 3));
        p[7] = static_cast<uint16_t>(b[8] << 2 | b[9] >> 6);
    }
}

void fixed_balance(DecoderSession& s, int temperature) {
    int lo = 0, hi = 3;
    for (int i = 0; i < 4; ++i) {
        if (kBalanceTable[i][0] <= temperature) lo = i;
    }
    for (int i = 3; i >= 0; --i) {
        if (kBalanceTable[i][0] >= temperature) hi = i;
    }
    double frac = 0;
    if (kBalanceTable[hi][0] != kBalanceTable[lo][0])
        frac = double(temperature - kBalanceTable[lo][0]) / (kBalanceTable[hi][0] - kBalanceTable[lo][0]);
    for (int c = 0; c < 4; ++c)
        s.daylight_mul[c] =
            static_cast<float>(1.0 / (frac * kBalanceTable[hi][c + 1] + (1 - frac) * kBalanceTable[lo][c + 1]));
}

// Classifies one pair of colour ratios: 0 white, 1 near white (ratios
// corrected towards white), 2 not white.
int classify(int (&ratio)[2], int margin, bool flash) {
    bool clipped = false;
    auto clamp = [&](int lo, int hi) {
        if (ratio[1] < lo) { ratio[1] = lo; clipped = true; }
        if (ratio[1] > hi) { ratio[1] = hi; clipped = true; }
    };
    if (flash) {
        clamp(-104, 12);
    } else {
        if (ratio[1] < -264 || ratio[1] > 461) return 2;
        clamp(-50, 307);
    }
    const int target = flash || ratio[1] < 197 ? -38 - (398 * ratio[1] >> 10) : -123 + (48 * ratio[1] >> 10);
    if (target - margin <= ratio[0] && ratio[0] <= target + 20 && !clipped) return 0;
    int miss = target - ratio[0];
    if (std::abs(miss) >= margin * 4) return 2;
    miss = legacy::clampi(miss, -20, margin);
    ratio[0] = target - miss;
    return 1;
}

void auto_balance(DecoderSession& s) {
    const bool flash = s.flash_used != 0;
    int margin;
    if (flash) {
        margin = 80;
    } else {
        const long ev = std::lround(s.exposure_value);
        margin = ev < 10 ? 150 : ev > 12 ? 20 : static_cast<int>(280 - 20 * ev);
    }
    int64_t total[2][8] = {};
    int64_t count[2] = {};
    for (int row = 14; row < s.height - 14; row += 4)
        for (int col = 10; col < s.width; col += 2) {
            int test[8] = {};
            for (int i = 0; i < 8; ++i) {
                const int r = row + (i >> 1), c = col + (i & 1);
                test[(i & 4) + s.filter_color(r, c)] = legacy::sample_or_zero(s, r, c);
            }
            bool usable = true;
            for (int v : test) usable = usable && v >= 150 && v <= 1500;
            for (int i = 0; i < 4 && usable; ++i) usable = std::abs(test[i] - test[i + 4]) <= 50;
            if (!usable) continue;
            int stat[2];
            int ratio[2][2];
            for (int half = 0; half < 2; ++half) {
                for (int j = 0; j < 4; j += 2)
                    ratio[half][j >> 1] = (test[half * 4 + j + 1] - test[half * 4 + j]) * 1024 / test[half * 4 + j];
                stat[half] = classify(ratio[half], margin, flash);
            }
            const int st = std::max(stat[0], stat[1]);
            if (st > 1) continue;
            // Near-white halves count with their second samples moved to the
            // corrected ratios.
            for (int half = 0; half < 2; ++half)
                if (stat[half])
                    for (int j = 0; j < 2; ++j)
                        test[half * 4 + j * 2 + 1] = test[half * 4 + j * 2] * (1024 + ratio[half][j]) >> 10;
            for (int i = 0; i < 8; ++i) total[st][i] += test[i];
            ++count[st];
        }
    if (count[0] == 0 && count[1] == 0) return;
    const int st = count[1] > 200 * count[0] ? 1 : 0;
    for (int c = 0; c < 4; ++c) {
        const int64_t sum = total[st][c] + total[st][c + 4];
        if (sum > 0) s.as_shot_mul[c] = static_cast<float>(1.0 / sum);
    }
}

void choose_matrix(DecoderSession& s) {
    const double mc = s.daylight_mul[1] / s.daylight_mul[2];
    const double yc = s.daylight_mul[3] / s.daylight_mul[2];
    int t = 0;
    if (mc > 1 && mc <= 1.28 && yc < 0.8789) t = 1;
    if (mc > 1.28 && mc <= 2) {
        if (yc < 0.8789)
            t = 3;
        else if (yc <= 2)
            t = 4;
    }
    if (s.flash_used) t = 5;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j) s.cam_to_out[i][j] = static_cast<float>(kMatrices[t][i * 4 + j] / 1024.0);
    s.no_camera_matrix = 0;
}

}  // namespace

void canon_600_loader(DecoderSession& s) {
    if (!legacy::image_ready(s)) {
        count_undecodable(s);
        return;
    }
    uint8_t bytes[kRowBytes];
    uint16_t pixel[kRowPixels];
    const int raw_cols = std::min(std::max(s.stored_width, 0), kRowPixels);
    const int cols = std::min(s.width, raw_cols);
    int64_t black_sum = 0;
    int row = 0;
    for (int irow = 0; irow < s.height; ++irow) {
        legacy::read_bytes(s, bytes, sizeof bytes);
        unpack_row(bytes, pixel);
        for (int col = 0; col < cols; ++col) s.bayer_store(row, col, pixel[col]);
        for (int col = s.width; col < raw_cols; ++col) black_sum += pixel[col];
        // Even rows first, then the odd ones; restarting as soon as the next
        // even row would fall outside keeps every row inside the image for
        // even heights too.
        row += 2;
        if (row >= s.height) row = 1;
    }
    int black = 0;
    if (raw_cols > s.width) black = static_cast<int>(black_sum / (int64_t(raw_cols - s.width) * s.height)) - 4;
    for (int r = 0; r < s.height; ++r)
        for (int c = 0; c < s.width; ++c) {
            uint16_t& v = legacy::sample_at(s, r, c);
            v = legacy::clamp16(std::max(v - black, 0) * kGain[r & 3][c & 1] >> 9);
        }
    fixed_balance(s, 1311);
    auto_balance(s);
    choose_matrix(s);
    s.white_level = (1134507 - black * 1109) >> 9;
    s.black_level = 0;
}

}  // namespace ostel::core
