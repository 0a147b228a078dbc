#include "core/loaders/dng_opcodes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "core/identify/limits.h"

namespace ostel::core {

namespace {

// Opcode lists beyond this are not lens data but a corrupt count.
constexpr uint32_t kMaxListBytes = 64u << 20;
// Each applied opcode is a pass over the image (WarpRectilinear also a copy
// of it); files carry a handful per list, so a list of thousands of tiny
// opcodes is hostile and would take hours. Past this many the rest of the
// list is left out with a warning.
constexpr uint32_t kMaxAppliedOpcodes = 64;

constexpr const char* kOpcodeNames[] = {
    "",         "WarpRectilinear", "WarpFisheye",  "FixVignetteRadial", "FixBadPixelsConstant",
    "FixBadPixelsList", "TrimBounds", "MapTable", "MapPolynomial",   "GainMap",
    "DeltaPerRow", "DeltaPerColumn", "ScalePerRow", "ScalePerColumn", "WarpRectilinear2",
};

std::string opcode_name(uint32_t id) {
    if (id < sizeof kOpcodeNames / sizeof kOpcodeNames[0] && id > 0) return kOpcodeNames[id];
    return "opcode " + std::to_string(id);
}

// Big-endian reader over one opcode's parameters; reading past the end
// marks it failed and returns zeros.
class ParamReader {
public:
    ParamReader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
    bool ok() const { return ok_; }
    size_t left() const { return n_ - at_; }
    uint32_t u32() {
        if (left() < 4) return fail();
        const uint32_t v = uint32_t(p_[at_]) << 24 | uint32_t(p_[at_ + 1]) << 16 | uint32_t(p_[at_ + 2]) << 8 | p_[at_ + 3];
        at_ += 4;
        return v;
    }
    uint16_t u16() {
        if (left() < 2) return uint16_t(fail());
        const uint16_t v = uint16_t(p_[at_] << 8 | p_[at_ + 1]);
        at_ += 2;
        return v;
    }
    double f32() {
        const uint32_t bits = u32();
        float f;
        std::memcpy(&f, &bits, 4);
        return std::isfinite(f) ? f : 0.0;
    }
    double f64() {
        const uint64_t hi = u32(), lo = u32();
        const uint64_t bits = hi << 32 | lo;
        double d;
        std::memcpy(&d, &bits, 8);
        return std::isfinite(d) ? d : 0.0;
    }

private:
    uint32_t fail() {
        ok_ = false;
        at_ = n_;
        return 0;
    }
    const uint8_t* p_;
    size_t n_;
    size_t at_ = 0;
    bool ok_ = true;
};

// The sample of plane `plane` at a visible position, or null when the image
// has no such sample.
uint16_t* sample_at(DecoderSession& s, int row, int col, int plane) {
    if (row < 0 || col < 0 || row >= s.height || col >= s.width) return nullptr;
    const size_t index = size_t(row >> s.half_grid) * size_t(s.image_width) + size_t(col >> s.half_grid);
    if (index >= s.image.size()) return nullptr;
    if (s.cfa_pattern) return plane == 0 ? &s.image[index][s.filter_color(row, col)] : nullptr;
    return plane >= 0 && plane < std::min(s.color_count, 4) ? &s.image[index][size_t(plane)] : nullptr;
}

uint16_t to16(double v) {
    if (!(v > 0)) return 0;
    if (v >= 65535) return 65535;
    return uint16_t(v + 0.5);
}

// The rectangle, planes and pitches that open the per-pixel opcodes.
struct Area {
    int64_t top = 0, left = 0, bottom = 0, right = 0;
    int64_t plane = 0, planes = 1, row_pitch = 1, col_pitch = 1;

    bool read(ParamReader& r) {
        top = r.u32();
        left = r.u32();
        bottom = r.u32();
        right = r.u32();
        plane = r.u32();
        planes = r.u32();
        row_pitch = std::max<int64_t>(1, r.u32());
        col_pitch = std::max<int64_t>(1, r.u32());
        return r.ok();
    }

    template <typename F>
    void for_each(DecoderSession& s, F f) const {
        const int64_t last_row = std::min<int64_t>(bottom, s.height), last_col = std::min<int64_t>(right, s.width);
        const int64_t last_plane = std::min<int64_t>(plane + planes, 4);
        for (int64_t row = top; row < last_row; row += row_pitch)
            for (int64_t col = left; col < last_col; col += col_pitch)
                for (int64_t p = plane; p < last_plane; ++p)
                    if (uint16_t* v = sample_at(s, int(row), int(col), int(p))) f(*v, row, col, p);
    }
};

bool map_table(DecoderSession& s, ParamReader& r) {
    Area a;
    if (!a.read(r)) return false;
    const uint32_t n = r.u32();
    if (n == 0 || n > 65536 || r.left() < size_t(n) * 2) return false;
    std::vector<uint16_t> table(n);
    for (uint16_t& v : table) v = r.u16();
    a.for_each(s, [&](uint16_t& v, int64_t, int64_t, int64_t) { v = table[std::min<size_t>(v, n - 1)]; });
    return true;
}

bool map_polynomial(DecoderSession& s, ParamReader& r) {
    Area a;
    if (!a.read(r)) return false;
    const uint32_t degree = r.u32();
    if (degree > 8) return false;
    double coefficient[9] = {};
    for (uint32_t i = 0; i <= degree; ++i) coefficient[i] = r.f64();
    if (!r.ok()) return false;
    std::vector<uint16_t> table(65536);
    for (size_t i = 0; i < table.size(); ++i) {
        const double x = double(i) / 65535.0;
        double y = 0;
        for (uint32_t k = degree + 1; k-- > 0;) y = y * x + coefficient[k];
        table[i] = to16(y * 65535.0);
    }
    a.for_each(s, [&](uint16_t& v, int64_t, int64_t, int64_t) { v = table[v]; });
    return true;
}

bool gain_map(DecoderSession& s, ParamReader& r) {
    Area a;
    if (!a.read(r)) return false;
    const uint32_t points_v = r.u32(), points_h = r.u32();
    const double spacing_v = r.f64(), spacing_h = r.f64();
    const double origin_v = r.f64(), origin_h = r.f64();
    const uint32_t map_planes = r.u32();
    if (!r.ok() || points_v == 0 || points_h == 0 || map_planes == 0 || map_planes > 4) return false;
    const uint64_t count = uint64_t(points_v) * points_h * map_planes;
    if (count > r.left() / 4) return false;
    std::vector<float> gains(count);
    for (float& g : gains) g = float(r.f32());
    const double height = std::max(1, s.height), width = std::max(1, s.width);
    a.for_each(s, [&](uint16_t& v, int64_t row, int64_t col, int64_t p) {
        const size_t mp = size_t(std::min<int64_t>(p - a.plane, int64_t(map_planes) - 1));
        // Position in map points, clamped to the map's edges.
        auto place = [](double rel, double origin, double spacing, uint32_t points, size_t& i0, double& frac) {
            double f = spacing > 0 ? (rel - origin) / spacing : 0;
            f = std::clamp(f, 0.0, double(points - 1));
            i0 = std::min<size_t>(size_t(f), points > 1 ? points - 2 : 0);
            frac = points > 1 ? f - double(i0) : 0;
        };
        size_t iv, ih;
        double fv, fh;
        place(double(row) / height, origin_v, spacing_v, points_v, iv, fv);
        place(double(col) / width, origin_h, spacing_h, points_h, ih, fh);
        auto g = [&](size_t y, size_t x) {
            y = std::min<size_t>(y, points_v - 1);
            x = std::min<size_t>(x, points_h - 1);
            return double(gains[(y * points_h + x) * map_planes + mp]);
        };
        const double top = g(iv, ih) * (1 - fh) + g(iv, ih + 1) * fh;
        const double bottom = g(iv + 1, ih) * (1 - fh) + g(iv + 1, ih + 1) * fh;
        v = to16(v * (top * (1 - fv) + bottom * fv));
    });
    return true;
}

// DeltaPerRow (10), DeltaPerColumn (11), ScalePerRow (12), ScalePerColumn (13).
bool per_line(DecoderSession& s, ParamReader& r, uint32_t id) {
    Area a;
    if (!a.read(r)) return false;
    const uint32_t n = r.u32();
    if (n == 0 || n > r.left() / 4) return false;
    std::vector<double> values(n);
    for (double& v : values) v = r.f32();
    const bool by_row = id == 10 || id == 12, scale = id >= 12;
    a.for_each(s, [&](uint16_t& v, int64_t row, int64_t col, int64_t) {
        const int64_t i = by_row ? (row - a.top) / a.row_pitch : (col - a.left) / a.col_pitch;
        if (i < 0 || i >= int64_t(n)) return;
        v = to16(scale ? v * values[size_t(i)] : v + values[size_t(i)] * 65535.0);
    });
    return true;
}

// Distance from the optical centre to the farthest corner, in pixels.
double corner_distance(double cx, double cy, double w, double h) {
    const double dx = std::max(cx, w - cx), dy = std::max(cy, h - cy);
    return std::sqrt(dx * dx + dy * dy);
}

bool fix_vignette_radial(DecoderSession& s, ParamReader& r) {
    double k[5];
    for (double& v : k) v = r.f64();
    const double cx_rel = r.f64(), cy_rel = r.f64();
    if (!r.ok()) return false;
    const double w = s.width, h = s.height;
    const double cx = cx_rel * w, cy = cy_rel * h;
    const double m = corner_distance(cx, cy, w, h);
    if (!(m > 0)) return false;
    const int planes = s.cfa_pattern ? 1 : std::min(s.color_count, 4);
    for (int row = 0; row < s.height; ++row)
        for (int col = 0; col < s.width; ++col) {
            const double dx = (col + 0.5 - cx) / m, dy = (row + 0.5 - cy) / m;
            const double r2 = dx * dx + dy * dy;
            const double gain = 1 + r2 * (k[0] + r2 * (k[1] + r2 * (k[2] + r2 * (k[3] + r2 * k[4]))));
            for (int p = 0; p < planes; ++p)
                if (uint16_t* v = sample_at(s, row, col, p)) *v = to16(*v * gain);
        }
    return true;
}

// Lens distortion: each output pixel samples the stored picture where the
// lens put it. Only for pictures whose pixels hold every colour.
bool warp_rectilinear(DecoderSession& s, ParamReader& r) {
    if (s.cfa_pattern || s.half_grid) return false;
    const uint32_t planes = r.u32();
    if (planes == 0 || planes > 4) return false;
    double k[4][6] = {};
    for (uint32_t p = 0; p < planes; ++p)
        for (double& v : k[p]) v = r.f64();
    const double cx_rel = r.f64(), cy_rel = r.f64();
    if (!r.ok()) return false;
    const int w = s.width, h = s.height;
    const double cx = cx_rel * (w - 1), cy = cy_rel * (h - 1);
    const double m = corner_distance(cx, cy, w - 1, h - 1);
    if (!(m > 0)) return false;
    const LargeBuffer<Pixel4>& src = s.image;
    LargeBuffer<Pixel4> out;
    try {
        out.assign(src.size(), Pixel4{});
    } catch (const std::bad_alloc&) {
        return false;
    }
    const int colours = std::min(s.color_count, 4);
    for (int row = 0; row < h; ++row)
        for (int col = 0; col < w; ++col) {
            const double x = (col - cx) / m, y = (row - cy) / m;
            const double r2 = x * x + y * y;
            Pixel4& o = out[size_t(row) * size_t(s.image_width) + size_t(col)];
            for (int c = 0; c < colours; ++c) {
                const double* kc = k[std::min<uint32_t>(uint32_t(c), planes - 1)];
                const double f = kc[0] + r2 * (kc[1] + r2 * (kc[2] + r2 * kc[3]));
                const double sx = cx + m * (x * f + kc[4] * 2 * x * y + kc[5] * (r2 + 2 * x * x));
                const double sy = cy + m * (y * f + kc[5] * 2 * x * y + kc[4] * (r2 + 2 * y * y));
                const double fx = std::clamp(sx, 0.0, double(w - 1)), fy = std::clamp(sy, 0.0, double(h - 1));
                const int x0 = std::min(int(fx), std::max(0, w - 2)), y0 = std::min(int(fy), std::max(0, h - 2));
                const int x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
                const double ax = fx - x0, ay = fy - y0;
                auto at = [&](int yy, int xx) { return double(src[size_t(yy) * size_t(s.image_width) + size_t(xx)][size_t(c)]); };
                const double v = (at(y0, x0) * (1 - ax) + at(y0, x1) * ax) * (1 - ay) +
                                 (at(y1, x0) * (1 - ax) + at(y1, x1) * ax) * ay;
                o[size_t(c)] = to16(v);
            }
        }
    s.image = std::move(out);
    return true;
}

}  // namespace

std::vector<uint8_t> read_opcode_bytes(DecoderSession& s, const TagRef& ref) {
    std::vector<uint8_t> bytes;
    if (!ref.present() || ref.count > kMaxListBytes || !limits::within_file(s, ref.at, ref.count)) return bytes;
    bytes.resize(ref.count);
    s.seek(ref.at);
    if (s.read(bytes.data(), 1, bytes.size()) != bytes.size()) bytes.clear();
    return bytes;
}

std::vector<std::string> apply_dng_opcodes(DecoderSession& s, const std::vector<uint8_t>& list, int list_number) {
    std::vector<std::string> left_out;
    ParamReader head(list.data(), list.size());
    const uint32_t count = head.u32();
    size_t at = 4;
    for (uint32_t i = 0; i < count && head.ok(); ++i) {
        if (i == kMaxAppliedOpcodes) {
            left_out.push_back("the opcodes after the first " + std::to_string(kMaxAppliedOpcodes));
            break;
        }
        ParamReader op(list.data() + at, list.size() - at);
        const uint32_t id = op.u32();
        op.u32();  // version
        const uint32_t flags = op.u32();
        const uint32_t bytes = op.u32();
        if (!op.ok() || bytes > op.left()) {
            left_out.push_back("a damaged opcode list");
            break;
        }
        at += 16;
        ParamReader params(list.data() + at, bytes);
        at += bytes;
        bool done = false;
        // The first list works on the stored values before linearisation,
        // which this loader does not keep: its opcodes are left out.
        if (list_number != 1) {
            switch (id) {
                case 1: done = warp_rectilinear(s, params); break;
                case 3: done = fix_vignette_radial(s, params); break;
                case 7: done = map_table(s, params); break;
                case 8: done = map_polynomial(s, params); break;
                case 9: done = gain_map(s, params); break;
                case 10: case 11: case 12: case 13: done = per_line(s, params, id); break;
                default: break;
            }
        }
        if (!done) left_out.push_back(opcode_name(id) + ((flags & 1) ? " (optional)" : ""));
    }
    return left_out;
}

}  // namespace ostel::core
