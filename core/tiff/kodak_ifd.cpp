// The Kodak private directory: white balance by index or by colour
// temperature, linearisation table and ISO.
#include <cmath>

#include "core/identify/limits.h"
#include "core/identify/parsers.h"
#include "core/tiff/tiff_io.h"
#include "core/tiff/tiff_walk.h"

namespace ostel::core {

void read_kodak_ifd(DecoderSession& s, int64_t base) {
    limits::DepthGuard depth(s);
    if (!depth) return;
    static constexpr int64_t kBalanceTags[7] = {64037, 64040, 64039, 64041, -1, -1, 64042};
    int64_t wbi = -2;
    double temperature = 6500;
    // Neutral until a multiplier tag is seen, so a temperature formula
    // without one cannot divide by an unset value.
    double mul[3] = {1, 1, 1};
    tiff::walk_entries(s, base, 1024, [&](const tiff::Entry& e) {
        const int64_t tag = e.tag;
        if (tag == 1020) wbi = s.read_uint(e.type);
        if (tag == 1021 && e.count == 72) {
            s.seek(40, SEEK_CUR);
            for (int c = 0; c < 3; ++c) tiff::set_ratio(s.as_shot_mul[c], 2048.0, s.read_u16());
            wbi = -2;
        }
        if (tag == 2118) temperature = s.read_uint(e.type);
        if (tag == 2130 + wbi)
            for (double& m : mul) m = s.read_real(e.type);
        if (tag == 2140 + wbi && wbi >= 0) {
            for (int c = 0; c < 3; ++c) {
                double num = 0;
                for (int i = 0; i < 4; ++i) num += s.read_real(e.type) * std::pow(temperature / 100.0, i);
                tiff::set_ratio(s.as_shot_mul[c], 2048.0, num * mul[c]);
            }
        }
        if (tag == 2317) tiff::read_linearisation_table(s, e.count);
        if (tag == 6020) s.iso = static_cast<float>(s.read_uint(e.type));
        if (tag == 64013) {
            const int c = s.getc();
            wbi = c < 0 ? -2 : c;
        }
        if (wbi >= 0 && wbi < 7 && tag == kBalanceTags[wbi])
            for (int c = 0; c < 3; ++c) s.as_shot_mul[c] = static_cast<float>(s.read_u32());
    });
}

void read_thumb_note(DecoderSession& s, int64_t base, unsigned offset_tag, unsigned length_tag) {
    limits::DepthGuard depth(s);
    if (!depth) return;
    tiff::walk_entries(s, base, 0xFFFF, [&](const tiff::Entry& e) {
        if (e.tag == offset_tag) s.thumb_offset = int64_t(s.read_u32()) + base;
        if (e.tag == length_tag) s.thumb_length = s.read_u32();
    });
}

}  // namespace ostel::core
