// Identification: recognises the container from the header, lets its parser
// fill the session, then normalises names and applies the general, DNG and
// per-camera rules before the final checks.
#include <cstring>

#include "core/identify/identify.h"
#include "core/identify/identify_steps.h"
#include "core/identify/limits.h"
#include "core/identify/parsers.h"

namespace ostel::core {
namespace {

void parse_raf(DecoderSession& s) {
    s.seek(84);
    s.thumb_offset = s.read_u32();
    s.thumb_length = s.read_u32();
    s.seek(92);
    read_raf_header(s, s.read_u32());
    if (s.thumb_offset > 120) {
        s.seek(120);
        const uint32_t second = s.read_u32();
        if (second) {
            s.raw_count = 2;
            if (s.shot_index) read_raf_header(s, second);
        }
    }
    s.seek(100);
    s.raw_offset = s.read_u32();
    parse_tiff_file(s, s.thumb_offset + 12);
}

void parse_nokia(DecoderSession& s) {
    s.seek(6);
    // Fixed-width fields: clear first so the texts end after their bytes.
    std::memset(s.make, 0, sizeof s.make);
    std::memset(s.model, 0, sizeof s.model);
    std::memset(s.model_extra, 0, sizeof s.model_extra);
    s.read(s.make, 1, 8);
    s.read(s.model, 1, 8);
    s.read(s.model_extra, 1, 16);
    s.raw_offset = s.read_u16();
    s.read_u16();
    s.stored_width = s.read_u16();
    s.stored_height = s.read_u16();
    s.loader = LoaderId::nokia_load_raw;
    s.cfa_pattern = 0x61616161;
}

void parse_contax(DecoderSession& s) {
    set_text(s.make, "Contax");
    set_text(s.model, "N Digital");
    s.seek(33);
    s.read_date_text(true);
    s.seek(60);
    static constexpr int kOrder[4] = {0, 1, 3, 2};
    for (int c : kOrder) s.as_shot_mul[c] = static_cast<float>(s.read_u32());
}

void parse_jpeg_exif(DecoderSession& s) {
    s.seek(4);
    s.raw_offset = 4 + s.read_u16();
    s.seek(s.raw_offset);
    if (s.getc() != 0xFF) parse_tiff_file(s, 12);
    s.thumb_offset = 0;
}

void parse_container(DecoderSession& s, const uint8_t (&header)[kHeaderBytes], int64_t header_length,
                     int64_t file_size) {
    const MagicMatch match = match_header_magic(header);
    switch (match.container) {
        case Container::phase_one:
            read_phase_one(s, match.position);
            if (match.position) parse_tiff_file(s, 0);
            break;
        case Container::ciff:
            if (!limits::within_file(s, header_length, 0)) break;
            s.raw_offset = header_length;
            read_ciff(s, header_length, file_size - header_length);
            break;
        case Container::tiff: parse_tiff_file(s, 0); break;
        case Container::jpeg_exif: parse_jpeg_exif(s); break;
        case Container::contax: parse_contax(s); break;
        case Container::logitech:
            set_text(s.make, "Logitech");
            set_text(s.model, "Fotoman Pixtura");
            break;
        case Container::quicktake_100:
        case Container::quicktake_150:
            set_text(s.make, "Apple");
            set_text(s.model, match.container == Container::quicktake_100 ? "QuickTake 100" : "QuickTake 150");
            break;
        case Container::raf: parse_raf(s); break;
        case Container::riff:
            s.seek(0);
            read_riff(s);
            break;
        case Container::nokia: parse_nokia(s); break;
        case Container::rollei:
            s.seek(0);
            read_rollei_header(s);
            break;
        case Container::sinar_ia:
            s.seek(0);
            read_sinar_ia(s);
            break;
        case Container::mrw: read_mrw(s, 0); break;
        case Container::foveon:
            s.seek(0);
            read_foveon(s);
            break;
        case Container::cine:
            s.seek(0);
            read_cine(s);
            break;
        case Container::unknown: apply_file_size_table(s, file_size); break;
    }
}

}  // namespace

void identify_file(DecoderSession& s) {
    s.reset_for_identification();

    s.seek(0);
    s.byte_order = s.read_u16();
    const int64_t header_length = s.read_u32();
    uint8_t header[kHeaderBytes];
    std::memset(header, 0xFF, sizeof header);  // a short file fails every test
    s.seek(0);
    s.read(header, 1, sizeof header);
    const int64_t file_size = s.file_size();

    parse_container(s, header, header_length, file_size);

    if (!s.make[0]) {
        read_smal(s, 0, file_size);
        if (!s.make[0]) {
            s.raw_count = 0;
            if (header[0] == 0xFF) read_jpeg_markers(s, 0);  // shot data only
        }
    }

    normalise_names(s);

    if (s.raw_count) {
        fix_dimensions(s);
        if (s.dng_version) {
            apply_dng_rules(s);
        } else {
            if (apply_maker_rules(s, header)) apply_camera_rules(s);
            finish_non_dng(s);
        }
        finish_common(s);
        apply_global_guards(s);
    }

    if (s.orientation == -1) s.orientation = s.container_orientation;
    if (s.orientation == -1) s.orientation = 0;
}

}  // namespace ostel::core
