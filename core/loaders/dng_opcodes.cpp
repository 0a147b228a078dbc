#include "core/loaders/dng_opcodes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>
#include <new>

#include "core/identify/limits.h"
#include "core/loaders/loaders.h"

namespace ostel::core {

namespace {

// Opcode lists beyond this are not lens data but a corrupt count.
constexpr uint32_t kMaxListBytes = 64u << 20;
// Each applied opcode is a pass over the image (WarpRectilinear also a copy
// of it); files carry a handful per list, so a list of thousands of tiny
// opcodes is hostile and would take hours. Past this many the rest of the
// list is left out with a warning.
constexpr uint32_t kMaxAppliedOpcodes = 64;
// Sites visited by the bad-pixel repairs of one list, all together, as a
// base and per site of the image: a real defect map (points and a few
// columns, each site repaired from its first ring or two) costs a small
// share of this; a list marking the whole image bad many times over, or
// scanning it for a constant again and again, would otherwise take minutes.
constexpr int64_t kRepairWorkBase = int64_t(1) << 23;
constexpr int64_t kRepairWorkPerSite = 8;

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

// The image as the opcodes of one list see it: list 1 speaks of the whole
// stored raw array, whose active area the image holds; lists 2 and 3 of
// the active area itself.
struct Target {
    DecoderSession& s;
    int64_t top = 0, left = 0;       // the image's first site in the list's coordinates
    int64_t height = 0, width = 0;   // size of the frame the list speaks of

    Target(DecoderSession& session, int list_number) : s(session) {
        height = s.height;
        width = s.width;
        const DecoderSession::ActiveFrame& f = s.dng_frame;
        const bool framed = f.top >= 0 && f.left >= 0 && f.height >= f.top + s.height && f.width >= f.left + s.width;
        if (list_number == 1) {
            const int64_t first_row = int64_t(s.crop_top) + (framed ? f.top : 0);
            const int64_t first_col = int64_t(s.crop_left) + (framed ? f.left : 0);
            if (s.stored_height >= first_row + s.height && s.stored_width >= first_col + s.width) {
                top = first_row;
                left = first_col;
                height = s.stored_height;
                width = s.stored_width;
            }
        } else if (framed) {
            top = f.top;
            left = f.left;
            height = f.height;
            width = f.width;
        }
    }

    // The sample of plane `plane` at a position of the list's frame, or
    // null when the image has no such sample.
    uint16_t* at(int64_t row, int64_t col, int64_t plane) const { return at_site(row - top, col - left, plane); }

    // The same by a position of the image.
    uint16_t* at_site(int64_t row, int64_t col, int64_t plane) const {
        if (row < 0 || col < 0 || row >= s.height || col >= s.width) return nullptr;
        const size_t index = size_t(row >> s.half_grid) * size_t(s.image_width) + size_t(col >> s.half_grid);
        if (index >= s.image.size()) return nullptr;
        if (s.cfa_pattern) return plane == 0 ? &s.image[index][s.filter_color(int(row), int(col))] : nullptr;
        return plane >= 0 && plane < std::min(s.color_count, 4) ? &s.image[index][size_t(plane)] : nullptr;
    }

    int planes() const { return s.cfa_pattern ? 1 : std::min(s.color_count, 4); }
};

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

    // Visits the samples of the area that the image holds, in the list's
    // coordinates; the walk starts at the image when the area begins
    // before it, on the area's own pitch.
    template <typename F>
    void for_each(const Target& t, F f) const {
        const int64_t last_row = std::min<int64_t>(bottom, t.top + t.s.height);
        const int64_t last_col = std::min<int64_t>(right, t.left + t.s.width);
        const int64_t last_plane = std::min<int64_t>(plane + planes, 4);
        const auto first = [](int64_t from, int64_t image_start, int64_t pitch) {
            return from >= image_start ? from : from + (image_start - from + pitch - 1) / pitch * pitch;
        };
        for (int64_t row = first(top, t.top, row_pitch); row < last_row; row += row_pitch)
            for (int64_t col = first(left, t.left, col_pitch); col < last_col; col += col_pitch)
                for (int64_t p = plane; p < last_plane; ++p)
                    if (uint16_t* v = t.at(row, col, p)) f(*v, row, col, p);
    }
};

bool map_table(const Target& t, ParamReader& r) {
    Area a;
    if (!a.read(r)) return false;
    const uint32_t n = r.u32();
    if (n == 0 || n > 65536 || r.left() < size_t(n) * 2) return false;
    std::vector<uint16_t> table(n);
    for (uint16_t& v : table) v = r.u16();
    a.for_each(t, [&](uint16_t& v, int64_t, int64_t, int64_t) { v = table[std::min<size_t>(v, n - 1)]; });
    return true;
}

bool map_polynomial(const Target& t, ParamReader& r) {
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
    a.for_each(t, [&](uint16_t& v, int64_t, int64_t, int64_t) { v = table[v]; });
    return true;
}

bool gain_map(const Target& t, ParamReader& r) {
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
    const double height = double(std::max<int64_t>(1, t.height)), width = double(std::max<int64_t>(1, t.width));
    a.for_each(t, [&](uint16_t& v, int64_t row, int64_t col, int64_t p) {
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
bool per_line(const Target& t, ParamReader& r, uint32_t id) {
    Area a;
    if (!a.read(r)) return false;
    const uint32_t n = r.u32();
    if (n == 0 || n > r.left() / 4) return false;
    std::vector<double> values(n);
    for (double& v : values) v = r.f32();
    const bool by_row = id == 10 || id == 12, scale = id >= 12;
    a.for_each(t, [&](uint16_t& v, int64_t row, int64_t col, int64_t) {
        const int64_t i = by_row ? (row - a.top) / a.row_pitch : (col - a.left) / a.col_pitch;
        if (i < 0 || i >= int64_t(n)) return;
        v = to16(scale ? v * values[size_t(i)] : v + values[size_t(i)] * 65535.0);
    });
    return true;
}

// Sites of a colour-filter image that hold no picture. Each is repaired
// with the mean of the sound sites of its own colour on the nearest ring
// around it that has any, so a bad column or a small bad block takes its
// values from both sides.
class BadSites {
public:
    explicit BadSites(const Target& t) : t_(t) {}

    bool start() {
        try {
            mask_.assign(size_t(t_.s.height) * size_t(t_.s.width), 0);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }
    // Marks the sites of the rectangle given in the list's coordinates
    // (bottom and right excluded) that the image holds.
    void mark(int64_t top, int64_t left, int64_t bottom, int64_t right) {
        top = std::max<int64_t>(top - t_.top, 0);
        left = std::max<int64_t>(left - t_.left, 0);
        bottom = std::min<int64_t>(bottom - t_.top, t_.s.height);
        right = std::min<int64_t>(right - t_.left, t_.s.width);
        for (int64_t row = top; row < bottom; ++row)
            for (int64_t col = left; col < right; ++col) mask_[index(row, col)] = 1;
    }
    void mark_value(uint32_t value) {
        for (int64_t row = 0; row < t_.s.height; ++row)
            for (int64_t col = 0; col < t_.s.width; ++col)
                if (const uint16_t* v = t_.at_site(row, col, 0); v && *v == value) mask_[index(row, col)] = 1;
    }
    // False when the work allowed ran out before every site was repaired.
    bool repair(int64_t& work_left) {
        for (int64_t row = 0; row < t_.s.height; ++row)
            for (int64_t col = 0; col < t_.s.width; ++col) {
                if (!mask_[index(row, col)]) continue;
                uint16_t* v = t_.at_site(row, col, 0);
                if (!v) continue;
                const int colour = t_.s.filter_color(int(row), int(col));
                for (int reach = 1; reach <= kReach; ++reach) {
                    work_left -= 8 * reach;
                    if (work_left < 0) return false;
                    double sum = 0;
                    int n = 0;
                    for (int64_t dr = -reach; dr <= reach; ++dr) {
                        const bool edge = dr == -reach || dr == reach;
                        for (int64_t dc = -reach; dc <= reach; dc += edge ? 1 : 2 * reach) {
                            const int64_t r = row + dr, c = col + dc;
                            if (r < 0 || c < 0 || r >= t_.s.height || c >= t_.s.width || mask_[index(r, c)]) continue;
                            if (t_.s.filter_color(int(r), int(c)) != colour) continue;
                            if (const uint16_t* u = t_.at_site(r, c, 0)) {
                                sum += *u;
                                ++n;
                            }
                        }
                    }
                    if (n) {
                        *v = to16(sum / n);
                        break;
                    }
                }
            }
        return true;
    }

private:
    // Farther than this no neighbour is taken: a block this large is not a
    // defect that a neighbour's value could stand in for.
    static constexpr int kReach = 16;
    size_t index(int64_t row, int64_t col) const { return size_t(row) * size_t(t_.s.width) + size_t(col); }
    const Target& t_;
    std::vector<uint8_t> mask_;
};

// FixBadPixelsConstant (4): sites holding the given value are defects.
bool fix_bad_pixels_constant(const Target& t, ParamReader& r, int64_t& work_left) {
    const uint32_t value = r.u32();
    r.u32();  // the phase of the colour pattern: the image's own pattern is used
    if (!r.ok() || !t.s.cfa_pattern) return false;
    work_left -= int64_t(t.s.height) * t.s.width;  // the scan for the value
    if (work_left < 0) return false;
    BadSites bad(t);
    if (!bad.start()) return false;
    bad.mark_value(value);
    return bad.repair(work_left);
}

// FixBadPixelsList (5): a list of defective sites and rectangles.
bool fix_bad_pixels_list(const Target& t, ParamReader& r, int64_t& work_left) {
    r.u32();  // the phase of the colour pattern: the image's own pattern is used
    const uint32_t points = r.u32(), rects = r.u32();
    if (!r.ok() || !t.s.cfa_pattern || uint64_t(points) * 8 + uint64_t(rects) * 16 > r.left()) return false;
    BadSites bad(t);
    if (!bad.start()) return false;
    for (uint32_t i = 0; i < points; ++i) {
        const int64_t row = r.u32(), col = r.u32();
        bad.mark(row, col, row + 1, col + 1);
    }
    for (uint32_t i = 0; i < rects; ++i) {
        const int64_t top = r.u32(), left = r.u32(), bottom = r.u32(), right = r.u32();
        // Marking costs a visit per site: a rectangle over the whole image
        // spends the work budget as its repair would.
        const int64_t rows = std::clamp<int64_t>(std::min<int64_t>(bottom, t.top + t.s.height) - std::max(top, t.top), 0, t.s.height);
        const int64_t cols = std::clamp<int64_t>(std::min<int64_t>(right, t.left + t.s.width) - std::max(left, t.left), 0, t.s.width);
        work_left -= rows * cols;
        if (work_left < 0) return false;
        bad.mark(top, left, bottom, right);
    }
    return r.ok() && bad.repair(work_left);
}

// TrimBounds (6): the image keeps the part inside the rectangle given.
bool trim_bounds(const Target& t, ParamReader& r) {
    const int64_t top = r.u32(), left = r.u32(), bottom = r.u32(), right = r.u32();
    if (!r.ok()) return false;
    DecoderSession& s = t.s;
    const int64_t first_row = std::max<int64_t>(top - t.top, 0), first_col = std::max<int64_t>(left - t.left, 0);
    const int64_t end_row = std::min<int64_t>(bottom - t.top, s.height), end_col = std::min<int64_t>(right - t.left, s.width);
    if (end_row <= first_row || end_col <= first_col) return false;  // nothing would be left
    if (first_row == 0 && first_col == 0 && end_row == s.height && end_col == s.width) return true;
    cut_dng_image(s, int(first_row), int(first_col), int(end_row - first_row), int(end_col - first_col));
    return true;
}

// Distance from the optical centre to the farthest corner, in pixels.
double corner_distance(double cx, double cy, double w, double h) {
    const double dx = std::max(cx, w - cx), dy = std::max(cy, h - cy);
    return std::sqrt(dx * dx + dy * dy);
}

bool fix_vignette_radial(const Target& t, ParamReader& r) {
    double k[5];
    for (double& v : k) v = r.f64();
    const double cx_rel = r.f64(), cy_rel = r.f64();
    if (!r.ok()) return false;
    const double w = double(t.width), h = double(t.height);
    const double cx = cx_rel * w, cy = cy_rel * h;
    const double m = corner_distance(cx, cy, w, h);
    if (!(m > 0)) return false;
    const int planes = t.planes();
    for (int64_t row = 0; row < t.s.height; ++row)
        for (int64_t col = 0; col < t.s.width; ++col) {
            const double dx = (double(col + t.left) + 0.5 - cx) / m, dy = (double(row + t.top) + 0.5 - cy) / m;
            const double r2 = dx * dx + dy * dy;
            const double gain = 1 + r2 * (k[0] + r2 * (k[1] + r2 * (k[2] + r2 * (k[3] + r2 * k[4]))));
            for (int p = 0; p < planes; ++p)
                if (uint16_t* v = t.at_site(row, col, p)) *v = to16(*v * gain);
        }
    return true;
}

// Lens distortion: each output pixel samples the stored picture where the
// lens put it. Only for pictures whose pixels hold every colour: images
// without a colour filter, or colour-filter images once demosaiced
// (`full_colour`). The centre and the radius are those of the list's frame;
// a sample the lens put outside the image takes the nearest edge.
struct WarpParams {
    uint32_t planes = 0;
    double k[4][6] = {};  // radial k0..k3, then tangential, per plane
    double cx_rel = 0.5, cy_rel = 0.5;

    bool read(ParamReader& r) {
        planes = r.u32();
        if (planes == 0 || planes > 4) return false;
        for (uint32_t p = 0; p < planes; ++p)
            for (double& v : k[p]) v = r.f64();
        cx_rel = r.f64();
        cy_rel = r.f64();
        return r.ok();
    }
};

bool warp_rectilinear(const Target& t, ParamReader& r, bool full_colour) {
    DecoderSession& s = t.s;
    if ((s.cfa_pattern && !full_colour) || s.half_grid) return false;
    WarpParams params;
    if (!params.read(r)) return false;
    const uint32_t planes = params.planes;
    const auto& k = params.k;
    const double cx_rel = params.cx_rel, cy_rel = params.cy_rel;
    const int w = s.width, h = s.height;
    if (w < 1 || h < 1 || s.image.size() < size_t(h) * size_t(s.image_width)) return false;
    // Centre and radius in the frame; positions below are in the image.
    const double cx = cx_rel * double(t.width - 1) - double(t.left), cy = cy_rel * double(t.height - 1) - double(t.top);
    const double m = corner_distance(cx + double(t.left), cy + double(t.top), double(t.width - 1), double(t.height - 1));
    if (!(m > 0)) return false;
    const LargeBuffer<Pixel4>& src = s.image;
    LargeBuffer<Pixel4> out;
    try {
        out.assign(src.size(), Pixel4{});
    } catch (const std::bad_alloc&) {
        return false;
    }
    const int colours = std::min(s.color_count, 4);
    // A second green of a three-colour sensor follows the green plane.
    const auto coefficients = [&](int c) {
        const uint32_t plane = c == 3 && s.cfa_pattern && s.four_color_rgb ? 1u : uint32_t(c);
        return k[std::min<uint32_t>(plane, planes - 1)];
    };
    // Every output pixel is computed alone, so rows may run in parallel.
#pragma omp parallel for schedule(static)
    for (int row = 0; row < h; ++row)
        for (int col = 0; col < w; ++col) {
            const double x = (col - cx) / m, y = (row - cy) / m;
            const double r2 = x * x + y * y;
            Pixel4& o = out[size_t(row) * size_t(s.image_width) + size_t(col)];
            for (int c = 0; c < colours; ++c) {
                const double* kc = coefficients(c);
                const double f = kc[0] + r2 * (kc[1] + r2 * (kc[2] + r2 * kc[3]));
                double sx = cx + m * (x * f + kc[4] * 2 * x * y + kc[5] * (r2 + 2 * x * x));
                double sy = cy + m * (y * f + kc[5] * 2 * x * y + kc[4] * (r2 + 2 * y * y));
                if (!std::isfinite(sx) || !std::isfinite(sy)) {
                    // Coefficients or a centre so far out that the lens
                    // model overflows: the pixel stays where it is.
                    sx = col;
                    sy = row;
                }
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

std::vector<std::string> apply_dng_opcodes(DecoderSession& s, const std::vector<uint8_t>& list, int list_number,
                                           bool after_demosaic) {
    std::vector<std::string> left_out;
    // On colour-filter data the warps of list 3 wait for the demosaic.
    const bool warp_waits = list_number == 3 && s.cfa_pattern && !after_demosaic;
    int64_t repair_work_left = kRepairWorkBase + kRepairWorkPerSite * int64_t(std::max(s.height, 0)) * std::max(s.width, 0);
    ParamReader head(list.data(), list.size());
    const uint32_t count = head.u32();
    if (!head.ok() && !after_demosaic) left_out.push_back("the rest of a damaged list");
    size_t at = 4;
    for (uint32_t i = 0; i < count && head.ok(); ++i) {
        if (i == kMaxAppliedOpcodes) {
            if (!after_demosaic)  // told once, when the list was first read
                left_out.push_back("the opcodes after the first " + std::to_string(kMaxAppliedOpcodes));
            break;
        }
        ParamReader op(list.data() + at, list.size() - at);
        const uint32_t id = op.u32();
        op.u32();  // version
        const uint32_t flags = op.u32();
        const uint32_t bytes = op.u32();
        if (!op.ok() || bytes > op.left()) {
            if (!after_demosaic) left_out.push_back("the rest of a damaged list");
            break;
        }
        at += 16;
        ParamReader params(list.data() + at, bytes);
        at += bytes;
        const Target target(s, list_number);  // anew: a trim moves the image in its frame
        bool done = false;
        if (after_demosaic) {
            // Everything else of the list was applied before the demosaic.
            if (id == 1 && !warp_rectilinear(target, params, true)) left_out.push_back(opcode_name(id));
            continue;
        }
        switch (id) {
            case 1:
                done = warp_waits ? WarpParams{}.read(params)
                                  : list_number != 1 && warp_rectilinear(target, params, false);
                break;
            case 3: done = fix_vignette_radial(target, params); break;
            case 4: done = list_number != 3 && fix_bad_pixels_constant(target, params, repair_work_left); break;
            case 5: done = list_number != 3 && fix_bad_pixels_list(target, params, repair_work_left); break;
            case 6: done = trim_bounds(target, params); break;
            case 7: done = map_table(target, params); break;
            case 8: done = map_polynomial(target, params); break;
            case 9: done = gain_map(target, params); break;
            case 10: case 11: case 12: case 13: done = per_line(target, params, id); break;
            default: break;
        }
        if (!done) left_out.push_back(opcode_name(id) + ((flags & 1) ? " (optional)" : ""));
    }
    return left_out;
}

void warn_dng(const DecoderSession& s, const std::string& text) {
    std::cerr << s.file_name << (s.file_name.empty() ? "" : ": ") << text << "\n";
}

namespace {

// "FILE: DNG opcode list 3: WarpRectilinear (optional) not applied"
void warn_not_applied(const DecoderSession& s, int list_number, const std::string& what) {
    warn_dng(s, "DNG opcode list " + std::to_string(list_number) + ": " + what + " not applied");
}

}  // namespace

void apply_dng_warps_after_demosaic(DecoderSession& s) {
    const TagRef& ref = s.raw_directory.ref(DngRef::opcodes3);
    if (!s.dng_version || !s.cfa_pattern || s.image.empty() || !ref.present()) return;
    for (const std::string& name : apply_dng_opcodes(s, read_opcode_bytes(s, ref), 3, true))
        warn_not_applied(s, 3, name);
}

void apply_dng_opcode_list(DecoderSession& s, int list_number) {
    const TagRef& ref = s.raw_directory.ref(list_number == 1   ? DngRef::opcodes1
                                            : list_number == 2 ? DngRef::opcodes2
                                                               : DngRef::opcodes3);
    if (!ref.present()) return;
    for (const std::string& name : apply_dng_opcodes(s, read_opcode_bytes(s, ref), list_number))
        warn_not_applied(s, list_number, name);
}

}  // namespace ostel::core
