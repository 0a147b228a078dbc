// Cine container: a file header pointing at the image header, the camera
// setup block and the table of per-frame data offsets.
#include <cmath>
#include <cstdio>

#include "core/containers/container_io.h"
#include "core/identify/limits.h"
#include "core/identify/parsers.h"

namespace ostel::core {

void read_cine(DecoderSession& s) {
    s.byte_order = 0x4949;
    s.seek(4);
    int64_t frames = s.read_u16() == 2 ? 1 : 0;
    s.seek(14, SEEK_CUR);
    frames *= s.read_u32();
    const int64_t header = s.read_u32();
    const int64_t setup = s.read_u32();
    const int64_t images = s.read_u32();
    s.capture_time = s.read_u32();
    if (const uint32_t seconds = s.read_u32()) s.capture_time = seconds;
    s.raw_count = static_cast<int>(frames > 0x7fffffff ? 0x7fffffff : frames);

    // Without these three blocks nothing about the images is known.
    if (!limits::within_file(s, header + 4, 12) || !limits::within_file(s, setup + 792, 108) ||
        !limits::within_file(s, images, 8)) {
        s.raw_count = 0;
        return;
    }

    s.seek(header + 4);
    s.stored_width = containers::saturate_int(s.read_u32());
    s.stored_height = containers::saturate_int(s.read_u32());
    s.read_u16();
    switch (s.read_u16()) {
        case 8: s.loader = LoaderId::eight_bit_load_raw; break;
        case 16: s.loader = LoaderId::unpacked_load_raw; break;
        default: break;
    }

    s.seek(setup + 792);
    set_text(s.make, "CINE");
    std::snprintf(s.model, sizeof s.model, "%u", s.read_u32());
    s.seek(12, SEEK_CUR);
    switch (s.read_u32() & 0xffffff) {
        case 3: s.cfa_pattern = 0x94949494; break;
        case 4: s.cfa_pattern = 0x49494949; break;
        default: s.raw_count = 0; break;
    }
    s.seek(72, SEEK_CUR);
    switch ((s.read_u32() + 3600u) % 360u) {
        case 270: s.orientation = 4; break;
        case 180: s.orientation = 1; break;
        case 90: s.orientation = 7; break;
        case 0: s.orientation = 2; break;
        default: break;
    }
    const float red = containers::ieee_single(s.read_u32());
    const float blue = containers::ieee_single(s.read_u32());
    if (std::isfinite(red)) s.as_shot_mul[0] = red;
    if (std::isfinite(blue)) s.as_shot_mul[2] = blue;
    // The bit depth sizes the white level; the loaders handle at most 16 bits.
    const uint32_t bits = s.read_u32();
    if (bits >= 1 && bits <= 16)
        s.white_level = (1 << bits) - 1;
    else
        s.raw_count = 0;
    s.seek(668, SEEK_CUR);
    s.exposure_time = static_cast<float>(s.read_u32() / 1e9);

    s.seek(images);
    if (s.shot_index < s.raw_count) s.seek(int64_t(s.shot_index) * 8, SEEK_CUR);
    const uint64_t low = s.read_u32();
    const uint64_t high = s.read_u32();
    const uint64_t offset = (high << 32 | low) + 8;
    s.raw_offset = offset > uint64_t(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(offset);
}

}  // namespace ostel::core
