// DNG tags: version, colour planes, levels, crop and the colour tags that
// end up in the camera matrix when the directory closes.
#include <cmath>

#include "core/tiff/tiff_io.h"
#include "core/tiff/tiff_walk.h"

namespace ostel::core::tiff {

namespace {

int walk_colors(const DecoderSession& s) {
    return s.color_count < 1 ? 1 : s.color_count > 4 ? 4 : s.color_count;
}

// Mean of count values added to the black level; a tag without values or
// with values that are not numbers leaves the level alone.
void add_black_mean(DecoderSession& s, const Entry& e) {
    if (e.count == 0 || !spend_work(s, e.count)) return;
    double sum = 0;
    for (unsigned i = 0; i < e.count; ++i) sum += s.read_real(e.type);
    const double mean = sum / e.count + 0.5;
    if (!std::isfinite(mean) || std::fabs(mean) > 65536.0) return;
    s.black_level += static_cast<int>(mean);
}

// The active area (top, left, bottom, right): the sites that hold picture;
// the loaders place the image from its corner.
void read_active_area(DecoderSession& s, const Entry& e) {
    s.crop_top = to_int(s.read_uint(e.type));
    s.crop_left = to_int(s.read_uint(e.type));
    const int64_t bottom = s.read_uint(e.type);
    const int64_t right = s.read_uint(e.type);
    // A crop whose far edge lies before its near edge has no area; zero
    // leaves the size for the dimension checks to refuse.
    const int64_t h = bottom - s.crop_top, w = right - s.crop_left;
    s.height = to_int(h < 0 ? 0 : h);
    s.width = to_int(w < 0 ? 0 : w);
}

void read_forward_matrix(DecoderSession& s, IfdWalkState& w, const Entry& e, int k) {
    const int colors = walk_colors(s);
    if (e.count != unsigned(3 * colors)) return;
    for (int i = 0; i < 3; ++i)
        for (int c = 0; c < colors; ++c) w.forward_matrices[k][i][c] = s.read_real(e.type);
    w.has_forward[k] = true;
}

}  // namespace

bool handle_dng_tag(DecoderSession& s, IfdWalkState& w, int64_t base, const Entry& e) {
    const int colors = walk_colors(s);
    switch (e.tag) {
        case 50706: {
            uint32_t version = 0;
            for (int i = 0; i < 4; ++i) {
                const int c = s.getc();
                version = (version << 8) | uint32_t(c < 0 ? 0 : c);
            }
            s.dng_version = version;
            if (!s.make[0]) set_text(s.make, "DNG");
            s.raw_count = 1;
            return true;
        }
        case 50710: {
            const unsigned n = e.count < 4 ? e.count : 4;
            uint8_t map[4] = {};
            if (n == 0 || s.read(map, 1, n) != n) return true;
            IfdWalkState trial = w;
            for (unsigned c = 0; c < n; ++c) trial.plane_map[c] = map[c];
            const int previous = s.color_count;
            s.color_count = static_cast<int>(n);
            // A map that leaves a pattern value without a plane is ignored.
            if (build_pattern_word(s, trial))
                w = trial;
            else
                s.color_count = previous;
            return true;
        }
        case 50711:
            if (s.read_u16() == 2) {
                s.diagonal_width = 1;
                s.cfa_pattern = 0x49494949;
            }
            return true;
        case 50714: case 50715: case 50716: add_black_mean(s, e); return true;
        case 50717: s.white_level = to_int(s.read_uint(e.type)); return true;
        case 50718: {
            const double num = s.read_real(e.type);
            const double den = s.read_real(e.type);
            if (usable(den) && std::isfinite(num / den) && num / den > 0) s.pixel_aspect = num / den;
            return true;
        }
        case 50721: case 50722: {
            const int k = int(e.tag - 50721);
            for (int j = 0; j < colors; ++j)
                for (int i = 0; i < 3; ++i) w.color_matrix[j][i] = w.color_matrices[k][j][i] = s.read_real(e.type);
            w.has_color_matrix = true;
            w.has_matrix[k] = true;
            return true;
        }
        case 50723: case 50724:
            for (int i = 0; i < colors; ++i)
                for (int c = 0; c < colors; ++c)
                    w.calibration[i][c] = w.calibrations[e.tag - 50723][i][c] = s.read_real(e.type);
            return true;
        case 50778: case 50779: w.illuminant[e.tag - 50778] = int(s.read_uint(e.type)); return true;
        case 50964: case 50965: read_forward_matrix(s, w, e, int(e.tag - 50964)); return true;
        // The third calibration: kept for the interpolation alone, so a
        // profile that cannot use it colours as the first two say.
        case 52529: w.illuminant[2] = int(s.read_uint(e.type)); return true;
        case 52530:
            for (int i = 0; i < colors; ++i)
                for (int c = 0; c < colors; ++c) w.calibrations[2][i][c] = s.read_real(e.type);
            return true;
        case 52531:
            for (int j = 0; j < colors; ++j)
                for (int i = 0; i < 3; ++i) w.color_matrices[2][j][i] = s.read_real(e.type);
            w.has_matrix[2] = true;
            return true;
        case 52532: read_forward_matrix(s, w, e, 2); return true;
        case 50727:
            for (int c = 0; c < colors; ++c) w.analog_balance[c] = s.read_real(e.type);
            return true;
        case 50728:
            for (int c = 0; c < colors; ++c) w.as_shot_neutral[c] = s.read_real(e.type);
            return true;
        case 50729: {
            const double x = s.read_real(e.type), y = s.read_real(e.type);
            if (std::isfinite(x) && std::isfinite(y) && x > 0 && y > 0 && x + y < 1) {
                w.as_shot_xy[0] = x;
                w.as_shot_xy[1] = y;
            }
            const double xyz[3] = {x, y, 1 - x - y};
            for (int c = 0; c < 3; ++c) w.xyz_white[c] = xyz[c] / s.d65_white[c];
            return true;
        }
        case 50730: {
            const double stops = s.read_real(e.type);
            if (std::isfinite(stops) && std::fabs(stops) <= 10) s.baseline_exposure = stops;
            return true;
        }
        case 50829: read_active_area(s, e); return true;
        default: return false;
    }
}

}  // namespace ostel::core::tiff
