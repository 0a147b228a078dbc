// Phase One container: a header naming the byte order, then one directory of
// 16-byte entries whose data word is either the value or an offset from the
// container start.
#include <cmath>
#include <cstring>

#include "core/containers/container_io.h"
#include "core/identify/limits.h"
#include "core/identify/parsers.h"

namespace ostel::core {
namespace {

constexpr int kEntryBytes = 16;

void read_singles(DecoderSession& s, float* out, int n) {
    for (int i = 0; i < n; ++i) out[i] = containers::ieee_single(s.read_u32());
}

bool all_finite(const float* v, int n) {
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(v[i])) return false;
    return true;
}

}  // namespace

void read_phase_one(DecoderSession& s, int64_t base) {
    s.phase_one = DecoderSession::PhaseOneState{};
    if (!limits::within_file(s, base, 12)) return;
    s.seek(base);
    const uint16_t saved_order = s.byte_order;
    s.byte_order = static_cast<uint16_t>(s.read_u32() & 0xffff);
    if ((s.read_u32() >> 8) != 0x526177) {  // "Raw"
        s.byte_order = saved_order;
        return;
    }
    const int64_t directory = int64_t(s.read_u32()) + base;
    if (!limits::within_file(s, directory, 8)) return;
    s.seek(directory);
    const uint32_t declared = s.read_u32();
    s.read_u32();
    // The count is a file value; no more entries can exist than fit in the file.
    const int64_t fit = (s.file_size() - s.tell()) / kEntryBytes;
    const int64_t count = declared < fit ? declared : fit;

    for (int64_t i = 0; i < count; ++i) {
        const uint32_t tag = s.read_u32();
        s.read_u32();  // type
        const uint32_t len = s.read_u32();
        const uint32_t data = s.read_u32();
        const int64_t next = s.tell();
        const int64_t value_at = base + data;
        s.seek(value_at);
        switch (tag) {
            case 0x100: s.orientation = "0653"[data & 3] - '0'; break;
            case 0x106: {
                float romm[3][3];
                read_singles(s, &romm[0][0], 9);
                if (all_finite(&romm[0][0], 9)) set_romm_matrix(s, romm);
                break;
            }
            case 0x107: {
                float mul[3];
                read_singles(s, mul, 3);
                if (all_finite(mul, 3))
                    for (int c = 0; c < 3; ++c) s.as_shot_mul[c] = mul[c];
                break;
            }
            case 0x108: s.stored_width = containers::saturate_int(data); break;
            case 0x109: s.stored_height = containers::saturate_int(data); break;
            case 0x10a: s.crop_left = containers::saturate_int(data); break;
            case 0x10b: s.crop_top = containers::saturate_int(data); break;
            case 0x10c: s.width = containers::saturate_int(data); break;
            case 0x10d: s.height = containers::saturate_int(data); break;
            case 0x10e: s.phase_one.format = containers::saturate_int(data); break;
            case 0x10f: s.raw_offset = value_at; break;
            case 0x110:
                s.aux_offset = value_at;
                s.aux_length = len;
                break;
            case 0x112: s.phase_one.key_offset = next - 4; break;  // the keys sit in the data word
            case 0x210: s.phase_one.sensor_temp = containers::ieee_single(data); break;
            case 0x21a: s.phase_one.tag_21a = containers::saturate_int(data); break;
            case 0x21c: s.phase_one.strip_offset = value_at; break;
            case 0x21d: s.phase_one.black = containers::saturate_int(data); break;
            case 0x222: s.phase_one.split_col = containers::saturate_int(int64_t(data) - s.crop_left); break;
            case 0x223: s.phase_one.black_offset = value_at; break;
            case 0x301: {
                containers::read_text_field(s, s.model, 63);
                if (char* cut = std::strstr(s.model, " camera")) *cut = 0;
                break;
            }
            default: break;
        }
        s.seek(next);
    }

    s.loader = s.phase_one.format < 3 ? LoaderId::phase_one_load_raw : LoaderId::phase_one_load_raw_c;
    s.white_level = 0xffff;
    set_text(s.make, "Phase One");
    if (s.model[0]) return;
    switch (s.stored_height) {
        case 2060: set_text(s.model, "LightPhase"); break;
        case 2682: set_text(s.model, "H 10"); break;
        case 4128: set_text(s.model, "H 20"); break;
        case 5488: set_text(s.model, "H 25"); break;
        default: break;
    }
}

}  // namespace ostel::core
