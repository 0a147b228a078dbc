// The main tree walk: the directory chain, one directory's entries and the
// steps that close a directory.
#include "core/tiff/tiff_walk.h"

#include <cstring>

#include "core/identify/limits.h"
#include "core/identify/parsers.h"
#include "core/tiff/tiff_io.h"

namespace ostel::core {

namespace {

// Counts one nested tree walk for its lifetime.
class TreeScope {
public:
    explicit TreeScope(DecoderSession& s) : s_(s) { ++s_.tiff.tree_depth; }
    ~TreeScope() { --s_.tiff.tree_depth; }
    TreeScope(const TreeScope&) = delete;
    TreeScope& operator=(const TreeScope&) = delete;

private:
    DecoderSession& s_;
};

}  // namespace

int parse_tiff_file(DecoderSession& s, int64_t base) {
    limits::DepthGuard depth(s);
    if (!depth) return 0;
    s.seek(base);
    const uint16_t order = s.read_u16();
    if (order != 0x4949 && order != 0x4D4D) return 0;
    s.byte_order = order;
    s.read_u16();
    // A tree found inside another one (a maker block holding its own TIFF)
    // adds to the table of the outer walk, so the directory limit holds for
    // the file as a whole and the raw image is chosen once, at the end.
    const bool outermost = s.tiff.tree_depth == 0;
    if (outermost) {
        s.tiff.ifds.fill(TiffIfd{});
        s.tiff.ifd_count = 0;
    }
    {
        TreeScope scope(s);
        for (;;) {
            if (s.tell() + 4 > s.file_size()) break;  // the next offset itself is cut off
            const uint32_t next = s.read_u32();
            if (next == 0) break;
            s.seek(int64_t(next) + base);
            if (read_ifd(s, base)) break;
        }
    }
    if (outermost) choose_raw_ifd(s);
    return 1;
}

int read_ifd(DecoderSession& s, int64_t base) {
    limits::DepthGuard depth(s);
    if (!depth) return 1;
    TiffState& t = s.tiff;
    if (t.ifd_count >= TiffState::kMaxIfds) return 1;
    int ifd = t.ifd_count++;
    const unsigned claimed = s.read_u16();
    if (claimed > limits::kMaxIfdEntries) return 1;
    const unsigned entries = tiff::bounded_entry_count(s, claimed);
    IfdWalkState walk;
    for (unsigned n = 0; n < entries; ++n) {
        if (!tiff::spend_work(s, 1)) return 1;
        tiff::Entry e;
        int64_t save = 0;
        s.read_ifd_entry(base, e.tag, e.type, e.count, save);
        if (tiff::entry_value_in_file(s, e)) tiff::handle_ifd_tag(s, walk, ifd, base, e);
        s.seek(save);
    }
    tiff::finish_directory(s, walk);
    return t.work_left > 0 ? 0 : 1;
}

namespace tiff {

bool entry_value_in_file(const DecoderSession& s, const Entry& e) {
    const int64_t bytes = int64_t(e.count) * type_size(e.type);
    if (bytes <= 4) return true;
    return limits::within_file(s, s.tell(), bytes);
}

void finish_directory(DecoderSession& s, IfdWalkState& w) {
    if (w.sony_length) walk_private_block(s, w);
    const int colors = s.color_count < 1 ? 1 : s.color_count > 4 ? 4 : s.color_count;
    for (int i = 0; i < colors; ++i)
        for (int c = 0; c < colors; ++c) w.calibration[i][c] *= w.analog_balance[i];
    if (w.has_color_matrix && set_dng_profile_matrix(s, w)) {
        // Interpolated profile set the matrix and the shot's white.
    } else if (w.has_color_matrix) {
        double xyz_cam[4][3] = {};
        bool finite = true;
        for (int c = 0; c < colors; ++c)
            for (int i = 0; i < 3; ++i) {
                double sum = 0;
                for (int j = 0; j < colors; ++j) sum += w.calibration[c][j] * w.color_matrix[j][i] * w.xyz_white[i];
                xyz_cam[c][i] = sum;
                finite = finite && std::isfinite(sum);
            }
        if (finite) set_camera_matrix(s, xyz_cam);
    }
    if (w.as_shot_neutral[0] != 0 && !w.profile_set_white) {
        s.as_shot_mul[3] = 0;
        for (int c = 0; c < colors; ++c) set_ratio(s.as_shot_mul[c], 1.0, w.as_shot_neutral[c]);
    }
    if (!w.has_color_matrix)
        for (int c = 0; c < colors; ++c) set_ratio(s.daylight_mul[c], s.daylight_mul[c], w.calibration[c][c]);
}

}  // namespace tiff
}  // namespace ostel::core
