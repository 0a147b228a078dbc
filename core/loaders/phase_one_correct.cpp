#include "core/loaders/phase_one_correct.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/loaders/legacy_support.h"

namespace ostel::core {

using legacy::sample_at;
using legacy::sample_or_zero;
using legacy::scratch;
using legacy::visible;

namespace {

constexpr int kEntrySize = 12;

void apply_curve_from(DecoderSession& s, int first_col) {
    for (int row = 0; row < s.height; ++row)
        for (int col = std::max(first_col, 0); col < s.width; ++col) {
            uint16_t& v = sample_at(s, row, col);
            v = s.lin_table[v];
        }
}

void fill_curve(DecoderSession& s, const double (&coef)[4], bool cubic) {
    for (int i = 0; i < 65536; ++i) {
        const double x = i;
        const double v = cubic ? ((coef[3] * x + coef[2]) * x + coef[1]) * x + coef[0] + x
                               : (coef[2] * x + coef[1]) * x + coef[0];
        s.lin_table[static_cast<size_t>(i)] = legacy::clamp16(v);
    }
}

// A bad column: greens take the mean of the three diagonal neighbours that
// agree best, other colours a weighted blend of the same-colour neighbours.
void repair_column(DecoderSession& s, int col) {
    for (int row = 0; row < s.height; ++row) {
        if (s.filter_color(row, col) == 1) {
            int v[4];
            int sum = 0;
            int k = 0;
            for (int dr = -1; dr <= 1; dr += 2)
                for (int dc = -1; dc <= 1; dc += 2) sum += v[k++] = sample_or_zero(s, row + dr, col + dc);
            int worst = 0;
            for (int i = 1; i < 4; ++i)
                if (std::abs(4 * v[i] - sum) > std::abs(4 * v[worst] - sum)) worst = i;
            sample_at(s, row, col) = legacy::clamp16((sum - v[worst]) / 3.0 + 0.5);
        } else {
            int diag = 0;
            for (int dr = -2; dr <= 2; dr += 4)
                for (int dc = -2; dc <= 2; dc += 4) diag += sample_or_zero(s, row + dr, col + dc);
            const int sides = sample_or_zero(s, row, col - 2) + sample_or_zero(s, row, col + 2);
            sample_at(s, row, col) = legacy::clamp16(0.5 + 0.0732233 * diag + 0.3535534 * sides);
        }
    }
}

void repair_pixel(DecoderSession& s, int row, int col) {
    static constexpr int kGreen[8][2] = {{-1, -1}, {-1, 1}, {1, -1}, {1, 1}, {-2, 0}, {2, 0}, {0, -2}, {0, 2}};
    static constexpr int kOther[8][2] = {{-2, 0}, {2, 0}, {0, -2}, {0, 2}, {-2, -2}, {-2, 2}, {2, -2}, {2, 2}};
    const auto& offsets = s.filter_color(row, col) == 1 ? kGreen : kOther;
    int sum = 4;
    for (const auto& o : offsets) sum += sample_or_zero(s, row + o[0], col + o[1]);
    sample_at(s, row, col) = static_cast<uint16_t>(sum >> 3);
}

void read_defects(DecoderSession& s, uint32_t length) {
    const int64_t count = std::min<int64_t>(length / 8, (s.file_size() - s.tell()) / 8);
    for (int64_t i = 0; i < count; ++i) {
        const int col = int(s.read_u16()) - s.crop_left;
        const int row = int(s.read_u16()) - s.crop_top;
        const unsigned type = s.read_u16();
        s.read_u16();
        if (col < 0 || col >= s.width) continue;
        if (type == 131)
            repair_column(s, col);
        else if (type == 129 && row >= 0 && row < s.height)
            repair_pixel(s, row, col);
    }
}

// Column curve chosen by the sensor temperature: per column, a curve of
// offsets scaled by the raw row.
void apply_column_curve(DecoderSession& s, int64_t at) {
    s.seek(at);
    uint32_t head[9];
    for (uint32_t& h : head) h = s.read_u32() & 0x7FFF;
    s.read_u16();
    const int64_t n0 = int64_t(head[1]) * head[3];
    const int64_t n1 = int64_t(head[2]) * head[4];
    if (head[1] == 0 || head[3] == 0 || (n0 + n1) * 6 > s.file_size() - s.tell()) return;
    auto y0 = scratch<float>(static_cast<size_t>(n0));
    auto y1 = scratch<float>(static_cast<size_t>(n1));
    auto x0 = scratch<uint16_t>(static_cast<size_t>(n0));
    for (float& y : y0) y = legacy::read_float(s);
    for (float& y : y1) y = legacy::read_float(s);
    for (uint16_t& x : x0) x = s.read_u16();

    const int points = static_cast<int>(head[1]);
    const int curves = static_cast<int>(head[3]);
    for (int row = 0; row < s.height; ++row)
        for (int col = 0; col < s.width; ++col) {
            double cfrac = double(col) * curves / s.stored_width;
            const int cip = static_cast<int>(cfrac);
            cfrac -= cip;
            uint16_t& v = sample_at(s, row, col);
            const double num = v * 0.5;
            double y_at[2];
            for (int i = 0; i < 2; ++i) {
                const size_t base = static_cast<size_t>(std::min(cip + i, curves - 1)) * points;
                const uint16_t* xs = &x0[base];
                const float* ys = &y0[base];
                int k = 0;
                while (k < points && num >= xs[k]) ++k;
                if (k == 0) {
                    y_at[i] = ys[0];
                } else if (k == points) {
                    y_at[i] = ys[points - 1];
                } else {
                    const double dx = double(xs[k]) - xs[k - 1];
                    const double t = dx > 0 ? (num - xs[k - 1]) / dx : 0;
                    y_at[i] = ys[k - 1] + t * (ys[k] - ys[k - 1]);
                }
            }
            const double y = y_at[0] * (1 - cfrac) + y_at[1] * cfrac;
            v = legacy::clamp16((y * (row + s.crop_top) + num) * 2);
        }
}

}  // namespace

void phase_one_flat_field(DecoderSession& s, bool is_float, int plane_count) {
    uint16_t head[8];
    for (uint16_t& h : head) h = s.read_u16();
    if (head[4] == 0 || head[5] == 0) return;
    const int nc = plane_count;
    const int wide = head[2] / head[4];
    int high = head[3] / head[5];
    if (wide <= 0 || high <= 0) return;
    // Only as many block rows as the file still holds.
    const int64_t row_bytes = int64_t(wide) * (nc / 2) * (is_float ? 4 : 2);
    high = static_cast<int>(std::min<int64_t>(high, (s.file_size() - s.tell()) / row_bytes));
    auto table = scratch<float>(static_cast<size_t>(nc) * wide);
    auto slot = [&](int c, int x) -> float& { return table[static_cast<size_t>(c) * wide + x]; };
    for (int y = 0; y < high; ++y) {
        for (int x = 0; x < wide; ++x)
            for (int c = 0; c < nc; c += 2) {
                const float value = is_float ? legacy::read_float(s) : s.read_u16() / 32768.0f;
                if (y == 0)
                    slot(c, x) = value;
                else
                    slot(c + 1, x) = (value - slot(c, x)) / head[5];
            }
        if (y == 0) continue;
        const int rend = head[1] - s.crop_top + y * head[5];
        for (int row = rend - head[5]; row < s.height && row < rend; ++row) {
            for (int x = 1; x < wide && row >= 0; ++x) {
                float m[8];
                for (int c = 0; c < nc; c += 2) {
                    m[c] = slot(c, x - 1);
                    m[c + 1] = (slot(c, x) - m[c]) / head[4];
                }
                const int cend = head[0] - s.crop_left + x * head[4];
                int col = cend - head[4];
                if (col < 0) {
                    // Columns left of the image only advance the blend.
                    const int skipped = std::min(-col, int(head[4]));
                    for (int c = 0; c < nc; c += 2) m[c] += m[c + 1] * skipped;
                    col += skipped;
                }
                for (; col < s.width && col < cend; ++col) {
                    const int c = nc > 2 ? s.filter_color(row, col) : 0;
                    if (!(c & 1)) {
                        uint16_t& v = sample_at(s, row, col);
                        v = legacy::clamp16(static_cast<double>(v) * m[c]);
                    }
                    for (int c2 = 0; c2 < nc; c2 += 2) m[c2] += m[c2 + 1];
                }
            }
            for (int x = 0; x < wide; ++x)
                for (int c = 0; c < nc; c += 2) slot(c, x) += slot(c + 1, x);
        }
    }
}

void phase_one_correct(DecoderSession& s) {
    if (s.aux_length == 0 || !legacy::image_ready(s)) return;
    if (s.verbose) std::fprintf(stderr, "Phase One correction...\n");
    const uint16_t saved_order = s.byte_order;
    const int64_t base = s.aux_offset;
    s.seek(base);
    s.byte_order = s.read_u16();
    s.seek(6, SEEK_CUR);
    s.seek(base + s.read_u32());
    const uint32_t declared = s.read_u32();
    s.read_u32();
    const int64_t entries = std::min<int64_t>(declared, (s.file_size() - s.tell()) / kEntrySize);

    int64_t column_curve_at = 0;
    unsigned best_distance = ~0u;
    for (int64_t e = 0; e < entries; ++e) {
        const uint32_t tag = s.read_u32();
        const uint32_t length = s.read_u32();
        const uint32_t data = s.read_u32();
        const int64_t next = s.tell();
        s.seek(base + data);
        switch (tag) {
            case 0x419: {
                s.seek(4, SEEK_CUR);
                double p[8];
                for (double& v : p) v = legacy::read_float(s);
                p[3] += (s.phase_one.sensor_temp - p[7]) * p[6] + 1;
                const double coef[4] = {p[1], p[3], p[5], 0};
                fill_curve(s, coef, false);
                apply_curve_from(s, static_cast<int>(tag & 1) * s.phase_one.split_col);
                break;
            }
            case 0x41A: {
                double p[4];
                for (double& v : p) v = legacy::read_float(s);
                fill_curve(s, p, true);
                apply_curve_from(s, static_cast<int>(tag & 1) * s.phase_one.split_col);
                break;
            }
            case 0x400: read_defects(s, length); break;
            case 0x401: phase_one_flat_field(s, true, 2); break;
            case 0x410:
            case 0x416: phase_one_flat_field(s, false, 2); break;
            case 0x40B: phase_one_flat_field(s, false, 4); break;
            case 0x412: {
                s.seek(36, SEEK_CUR);
                const unsigned distance = static_cast<unsigned>(std::abs(int(s.read_u16()) - s.phase_one.tag_21a));
                if (distance < best_distance) {
                    best_distance = distance;
                    column_curve_at = s.tell() - 38;
                }
                break;
            }
            default: break;
        }
        s.seek(next);
    }
    if (column_curve_at != 0) apply_column_curve(s, column_curve_at);
    s.byte_order = saved_order;
}

}  // namespace ostel::core
