// SMaL sensor files: a short header whose size field must match the file.
#include <cstdio>

#include "core/identify/limits.h"
#include "core/identify/parsers.h"

namespace ostel::core {

void read_smal(DecoderSession& s, int64_t offset, int64_t file_size) {
    if (!limits::within_file(s, offset + 2, 1)) return;
    s.seek(offset + 2);
    const uint16_t saved_order = s.byte_order;
    s.byte_order = 0x4949;
    const int version = s.getc();
    if (version == 6) s.seek(5, SEEK_CUR);
    if (int64_t(s.read_u32()) != file_size) {
        s.byte_order = saved_order;
        return;
    }
    if (version > 6) s.raw_offset = s.read_u32();
    s.stored_height = s.height = s.read_u16();
    s.stored_width = s.width = s.read_u16();
    set_text(s.make, "SMaL");
    std::snprintf(s.model, sizeof s.model, "v%d %dx%d", version, s.width, s.height);
    if (version == 6) s.loader = LoaderId::smal_v6_loader;
    if (version == 9) s.loader = LoaderId::smal_v9_loader;
}

}  // namespace ostel::core
