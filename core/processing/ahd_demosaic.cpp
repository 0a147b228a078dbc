#include <algorithm>
#include <cstdlib>
#include <vector>

#include "core/processing/demosaic.h"

namespace ostel::core {

namespace {

constexpr int kTile = 256;

inline int clip16(int v) { return std::clamp(v, 0, 65535); }
inline int limit(int v, int a, int b) { return std::clamp(v, std::min(a, b), std::max(a, b)); }

// One thread's tile buffers: two candidate images, their CIELab values and
// homogeneity maps.
struct AhdWork {
    std::vector<uint16_t> rgb[2];  // kTile x kTile x 3
    std::vector<int16_t> lab[2];
    std::vector<uint8_t> homo[2];
    AhdWork() {
        for (int d = 0; d < 2; ++d) {
            rgb[d].assign(size_t(kTile) * kTile * 3, 0);
            lab[d].assign(size_t(kTile) * kTile * 3, 0);
            homo[d].assign(size_t(kTile) * kTile, 0);
        }
    }
};

void ahd_tile(DecoderSession& s, const CielabConverter& lab_of, AhdWork& w, int top, int left) {
    const int width = s.width, height = s.height;
    Pixel4* image = s.image.data();
    auto pix = [&](int row, int col) -> Pixel4& { return image[size_t(row) * size_t(width) + size_t(col)]; };
    auto rix = [&](int d, int tr, int tc) { return w.rgb[d].data() + (size_t(tr) * kTile + size_t(tc)) * 3; };
    auto lix = [&](int d, int tr, int tc) { return w.lab[d].data() + (size_t(tr) * kTile + size_t(tc)) * 3; };

    // Green, horizontally and vertically.
    for (int row = top; row < top + kTile && row < height - 2; ++row) {
        int col = left + (s.filter_color(row, left) & 1);
        const int c = s.filter_color(row, col);
        for (; col < left + kTile && col < width - 2; col += 2) {
            const int own = pix(row, col)[c];
            const int l1 = pix(row, col - 1)[1], r1 = pix(row, col + 1)[1];
            const int h = ((l1 + own + r1) * 2 - pix(row, col - 2)[c] - pix(row, col + 2)[c]) >> 2;
            rix(0, row - top, col - left)[1] = uint16_t(limit(h, l1, r1));
            const int u1 = pix(row - 1, col)[1], d1 = pix(row + 1, col)[1];
            const int v = ((u1 + own + d1) * 2 - pix(row - 2, col)[c] - pix(row + 2, col)[c]) >> 2;
            rix(1, row - top, col - left)[1] = uint16_t(limit(v, u1, d1));
        }
    }
    // Red and blue for each candidate, then CIELab.
    for (int d = 0; d < 2; ++d)
        for (int row = top + 1; row < top + kTile - 1 && row < height - 3; ++row)
            for (int col = left + 1; col < left + kTile - 1 && col < width - 3; ++col) {
                const int tr = row - top, tc = col - left;
                const Pixel4& p = pix(row, col);
                uint16_t* r = rix(d, tr, tc);
                const int own = s.filter_color(row, col);
                if (own == 1) {
                    const int c = s.filter_color(row + 1, col);
                    const int g = p[1];
                    int val = g + ((pix(row, col - 1)[2 - c] + pix(row, col + 1)[2 - c] - rix(d, tr, tc - 1)[1] -
                                    rix(d, tr, tc + 1)[1]) >> 1);
                    r[2 - c] = uint16_t(clip16(val));
                    val = g + ((pix(row - 1, col)[c] + pix(row + 1, col)[c] - rix(d, tr - 1, tc)[1] -
                                rix(d, tr + 1, tc)[1]) >> 1);
                    r[c] = uint16_t(clip16(val));
                } else {
                    const int c = 2 - own;
                    const int val = r[1] + ((pix(row - 1, col - 1)[c] + pix(row - 1, col + 1)[c] +
                                             pix(row + 1, col - 1)[c] + pix(row + 1, col + 1)[c] -
                                             rix(d, tr - 1, tc - 1)[1] - rix(d, tr - 1, tc + 1)[1] -
                                             rix(d, tr + 1, tc - 1)[1] - rix(d, tr + 1, tc + 1)[1] + 1) >> 2);
                    r[c] = uint16_t(clip16(val));
                }
                r[own] = p[own];
                lab_of.convert_fixed(r, lix(d, tr, tc));
            }
    // Homogeneity maps.
    std::fill(w.homo[0].begin(), w.homo[0].end(), 0);
    std::fill(w.homo[1].begin(), w.homo[1].end(), 0);
    const int dir[4] = {-3, 3, -kTile * 3, kTile * 3};
    for (int row = top + 2; row < top + kTile - 2 && row < height - 4; ++row)
        for (int col = left + 2; col < left + kTile - 2 && col < width - 4; ++col) {
            const int tr = row - top, tc = col - left;
            int ldiff[2][4], abdiff[2][4];
            for (int d = 0; d < 2; ++d) {
                const int16_t* l = lix(d, tr, tc);
                for (int i = 0; i < 4; ++i) {
                    const int16_t* n = l + dir[i];
                    ldiff[d][i] = std::abs(l[0] - n[0]);
                    const int da = l[1] - n[1], db = l[2] - n[2];
                    abdiff[d][i] = da * da + db * db;
                }
            }
            const int leps = std::min(std::max(ldiff[0][0], ldiff[0][1]), std::max(ldiff[1][2], ldiff[1][3]));
            const int abeps = std::min(std::max(abdiff[0][0], abdiff[0][1]), std::max(abdiff[1][2], abdiff[1][3]));
            for (int d = 0; d < 2; ++d) {
                uint8_t count = 0;
                for (int i = 0; i < 4; ++i) count += ldiff[d][i] <= leps && abdiff[d][i] <= abeps;
                w.homo[d][size_t(tr) * kTile + size_t(tc)] = count;
            }
        }
    // Choose the more homogeneous candidate. Only the planes the sensor did
    // not measure are written, so neighbouring tiles never race on a sample.
    for (int row = top + 3; row < top + kTile - 3 && row < height - 5; ++row)
        for (int col = left + 3; col < left + kTile - 3 && col < width - 5; ++col) {
            const int tr = row - top, tc = col - left;
            int hm[2];
            for (int d = 0; d < 2; ++d) {
                hm[d] = 0;
                for (int y = tr - 1; y <= tr + 1; ++y)
                    for (int x = tc - 1; x <= tc + 1; ++x) hm[d] += w.homo[d][size_t(y) * kTile + size_t(x)];
            }
            Pixel4& p = pix(row, col);
            const int own = s.filter_color(row, col);
            const uint16_t* a = rix(0, tr, tc);
            const uint16_t* b = rix(1, tr, tc);
            for (int c = 0; c < 3; ++c) {
                if (c == own) continue;
                if (hm[0] != hm[1]) p[c] = (hm[1] > hm[0] ? b : a)[c];
                else p[c] = uint16_t((a[c] + b[c]) >> 1);
            }
        }
}

// True when every site of the pattern is colour 0, 1 or 2 in a Bayer layout.
bool is_three_colour_bayer(const DecoderSession& s) {
    if (s.cfa_pattern <= 1 || s.color_count != 3) return false;
    for (int row = 0; row < 8; ++row)
        for (int col = 0; col < 2; ++col)
            if (s.filter_color(row, col) == 3) return false;
    return true;
}

}  // namespace

void ahd_demosaic(DecoderSession& s) {
    if (s.cfa_pattern == 0) return;  // full-colour data needs no demosaicing
    if (s.image.size() < size_t(s.height) * size_t(s.width)) return;
    if (!is_three_colour_bayer(s)) {
        // Four colours or the 16x16 map: mean of same-colour neighbours everywhere.
        interpolate_border(s, std::max(s.width, s.height));
        return;
    }
    const CielabConverter lab_of(s);
    interpolate_border(s, 5);
    const int height = s.height, width = s.width;
    std::vector<int> tops;
    for (int top = 2; top < height - 5; top += kTile - 6) tops.push_back(top);
#pragma omp parallel
    {
        AhdWork work;
#pragma omp for schedule(static)
        for (int i = 0; i < int(tops.size()); ++i)
            for (int left = 2; left < width - 5; left += kTile - 6) ahd_tile(s, lab_of, work, tops[size_t(i)], left);
    }
}

}  // namespace ostel::core
