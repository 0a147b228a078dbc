// Directory of the RAF container: tagged records of sensor size, visible
// size, sensor layout and the as-shot balance.
#include "core/identify/limits.h"
#include "core/identify/parsers.h"

namespace ostel::core {

void read_raf_header(DecoderSession& s, int64_t offset) {
    if (!limits::within_file(s, offset, 4)) return;
    s.seek(offset);
    uint32_t count = s.read_u32();
    if (count > 255) return;
    while (count--) {
        const int64_t record = s.tell();
        if (!limits::within_file(s, record, 4)) break;
        const unsigned tag = s.read_u16();
        const unsigned len = s.read_u16();
        const int64_t data = s.tell();
        switch (tag) {
            case 0x100:
                s.stored_height = s.read_u16();
                s.stored_width = s.read_u16();
                break;
            case 0x121:
                s.height = s.read_u16();
                s.width = s.read_u16();
                // This body reports three columns fewer than it stores.
                if (s.width == 4284) s.width = 4287;
                break;
            case 0x130: {
                const int layout = s.getc();
                const int flags = s.getc();
                if (layout < 0 || flags < 0) break;
                s.diagonal_layout = layout >> 7;
                s.loader = (flags & 8) ? LoaderId::unpacked_load_raw : LoaderId::fuji_load_raw;
                break;
            }
            case 0x2ff0:
                for (int c = 0; c < 4; ++c) s.as_shot_mul[c ^ 1] = s.read_u16();
                break;
            default: break;
        }
        s.seek(data + len);
    }
    s.height <<= s.diagonal_layout;
    s.width >>= s.diagonal_layout;
}

}  // namespace ostel::core
