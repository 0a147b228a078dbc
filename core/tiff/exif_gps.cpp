// The Exif and GPS sub-directories.
#include <cmath>
#include <cstring>

#include "core/identify/limits.h"
#include "core/identify/parsers.h"
#include "core/tiff/tiff_io.h"
#include "core/tiff/tiff_walk.h"

namespace ostel::core {

void read_exif_ifd(DecoderSession& s, int64_t base) {
    limits::DepthGuard depth(s);
    if (!depth) return;
    const bool kodak = tiff::starts_with(s.make, "EASTMAN");
    tiff::walk_entries(s, base, 0xFFFF, [&](const tiff::Entry& e) {
        switch (e.tag) {
            case 33434: s.exposure_time = static_cast<float>(s.read_real(e.type)); break;
            case 33437: s.f_number = static_cast<float>(s.read_real(e.type)); break;
            case 34855: s.iso = s.read_u16(); break;
            case 36867: case 36868: s.read_date_text(false); break;
            case 37377: {
                const double expo = -s.read_real(e.type);
                if (expo < 128) s.exposure_time = static_cast<float>(std::pow(2.0, expo));
                break;
            }
            case 37378: {
                const double apex = s.read_real(e.type);
                if (std::isfinite(apex)) s.f_number = static_cast<float>(std::pow(2.0, apex / 2));
                break;
            }
            case 37386: s.focal_length = static_cast<float>(s.read_real(e.type)); break;
            case 37500: read_maker_note(s, base, 0); break;
            case 40962:
                if (kodak) s.stored_width = tiff::to_int(s.read_u32());
                break;
            case 40963:
                if (kodak) s.stored_height = tiff::to_int(s.read_u32());
                break;
            case 41730:
                if (s.read_u32() == 0x20002) {
                    uint32_t pattern = 0;
                    for (int k = 0; k < 4; ++k) {
                        const int c = s.getc();
                        pattern |= (uint32_t(c < 0 ? 0 : c) * 0x01010101u) << (2 * k);
                    }
                    s.exif_cfa_pattern = pattern;
                }
                break;
            default: break;
        }
    });
}

void read_gps_ifd(DecoderSession& s, int64_t base) {
    limits::DepthGuard depth(s);
    if (!depth) return;
    tiff::walk_entries(s, base, 0xFFFF, [&](const tiff::Entry& e) {
        switch (e.tag) {
            case 1: case 3: case 5: {
                const int c = s.getc();
                s.gps_words[29 + e.tag / 2] = static_cast<uint32_t>(c < 0 ? 0 : c);
                break;
            }
            case 2: case 4: case 7:
                for (int i = 0; i < 6; ++i) s.gps_words[e.tag / 3 * 6 + i] = s.read_u32();
                break;
            case 6:
                for (int i = 0; i < 2; ++i) s.gps_words[18 + i] = s.read_u32();
                break;
            case 18: case 29: {
                // At most 12 characters of one line, stored in three words.
                const int size = e.count < 12 ? static_cast<int>(e.count) : 12;
                if (size < 1) break;
                char text[12] = {};
                tiff::read_line(s, text, size);
                std::memcpy(&s.gps_words[14 + e.tag / 3], text, sizeof text);
                break;
            }
            default: break;
        }
    });
}

}  // namespace ostel::core
