// Sinar IA container: a directory of named sections (metadata, thumbnail,
// raw data); the metadata section starts with the camera name.
#include <cstring>

#include "core/identify/limits.h"
#include "core/identify/parsers.h"

namespace ostel::core {

void read_sinar_ia(DecoderSession& s) {
    constexpr int kEntryBytes = 16;
    s.byte_order = 0x4949;
    s.seek(4);
    const uint32_t declared = s.read_u32();
    const int64_t directory = s.read_u32();
    if (!limits::within_file(s, directory, 0)) return;
    s.seek(directory);
    const int64_t fit = (s.file_size() - directory) / kEntryBytes;
    const int64_t count = declared < fit ? declared : fit;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t offset = s.read_u32();
        s.read_u32();
        char name[9] = {};
        s.read(name, 1, 8);
        if (std::strcmp(name, "META") == 0) s.aux_offset = offset;
        if (std::strcmp(name, "THUMB") == 0) s.thumb_offset = offset;
        if (std::strcmp(name, "RAW0") == 0) s.raw_offset = offset;
    }
    if (!limits::within_file(s, s.aux_offset + 20, 64)) return;
    s.seek(s.aux_offset + 20);
    char name[64] = {};
    s.read(name, 1, sizeof name);
    name[63] = 0;
    // "MAKE MODEL": the first blank separates the two.
    if (char* blank = std::strchr(name, ' ')) {
        set_text(s.model, blank + 1);
        *blank = 0;
    }
    set_text(s.make, name);
    s.stored_width = s.read_u16();
    s.stored_height = s.read_u16();
    s.loader = LoaderId::unpacked_load_raw;
    s.read_u32();
    s.thumb_width = s.read_u16();
    s.thumb_height = s.read_u16();
    s.thumb_writer = ThumbWriterId::ppm;
    s.white_level = 0x3fff;
}

}  // namespace ostel::core
