// Minolta block structure: a sequence of tagged blocks (picture dimensions,
// white balance, an embedded TIFF tree) before the raw data. It is also found
// inside TIFF trees.
#include <cstring>

#include "core/identify/limits.h"
#include "core/identify/parsers.h"

namespace ostel::core {

void read_mrw(DecoderSession& s, int64_t base) {
    limits::DepthGuard depth(s);
    if (!depth || !limits::within_file(s, base, 8)) return;
    s.seek(base);
    uint8_t magic[4];
    if (s.read(magic, 1, 4) != 4 || magic[0] != 0 || magic[1] != 'M' || magic[2] != 'R') return;
    const uint16_t saved_order = s.byte_order;
    s.byte_order = static_cast<uint16_t>(magic[3] * 0x101);
    const int64_t end = base + 8 + int64_t(s.read_u32());
    // Blocks past the end of the file cannot be read; stopping there also
    // ends the walk when a length points beyond it.
    const int64_t walk_end = end < s.file_size() ? end : s.file_size();
    int prd_height = 0, prd_width = 0;
    for (int64_t block = s.tell(); block + 8 <= walk_end;) {
        s.seek(block);
        uint8_t tag[4];
        s.read(tag, 1, 4);
        const int64_t len = s.read_u32();
        if (tag[0] == 0) {
            if (std::memcmp(tag + 1, "PRD", 3) == 0) {
                s.seek(8, SEEK_CUR);
                prd_height = s.read_u16();
                prd_width = s.read_u16();
            } else if (std::memcmp(tag + 1, "WBG", 3) == 0) {
                s.read_u32();
                const int swap = std::strcmp(s.model, "DiMAGE A200") == 0 ? 3 : 0;
                for (int c = 0; c < 4; ++c) s.as_shot_mul[c ^ (c >> 1) ^ swap] = s.read_u16();
            } else if (std::memcmp(tag + 1, "TTW", 3) == 0) {
                parse_tiff_file(s, s.tell());
                s.raw_offset = end;
            }
        }
        block += len + 8;
    }
    s.stored_height = prd_height;
    s.stored_width = prd_width;
    s.byte_order = saved_order;
}

}  // namespace ostel::core
