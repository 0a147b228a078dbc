// Maker notes: the header that tells where the directory starts and in
// which byte order, then the maker-specific tags.
#include <cctype>
#include <cmath>
#include <cstring>

#include "core/identify/limits.h"
#include "core/identify/parsers.h"
#include "core/tiff/tiff_io.h"
#include "core/tiff/tiff_walk.h"

namespace ostel::core {

namespace {

constexpr int64_t kWindowLimit = 16384;

// Notes without a directory that keep the white balance as a run of four
// big-endian words: two channel values each followed by 256.
void scan_balance_words(DecoderSession& s) {
    s.byte_order = 0x4D4D;
    uint16_t window[4] = {0, 0, 0, 0};
    for (int64_t at = s.tell(); at < s.raw_offset && at < kWindowLimit && at + 2 <= s.file_size(); at = s.tell()) {
        window[0] = window[1];
        window[1] = window[2];
        window[2] = window[3];
        window[3] = s.read_u16();
        if (window[1] == 256 && window[3] == 256 && window[0] > 256 && window[0] < 640 && window[2] > 256 &&
            window[2] < 640)
            for (int c = 0; c < 4; ++c) s.as_shot_mul[c] = window[c];
    }
}

// State that lives for one note's walk.
struct NoteWalk {
    int64_t base = 0;
    int white_balance_index = 0;
    uint32_t serial = 0;
};

// Two big-endian channel gains stored as 8.8 fixed point.
void read_fixed_gains(DecoderSession& s) {
    s.byte_order = 0x4D4D;
    s.as_shot_mul[0] = s.read_u16() / 256.0f;
    s.as_shot_mul[2] = s.read_u16() / 256.0f;
}

void read_balance_block(DecoderSession& s) {
    int version = 0;
    for (int i = 0; i < 4; ++i) {
        const int c = s.getc();
        version = version * 10 + (c < 0 ? 0 : c - '0');
    }
    switch (version) {
        case 100:
            s.seek(68, SEEK_CUR);
            for (int c = 0; c < 4; ++c) s.as_shot_mul[(c >> 1) | ((c & 1) << 1)] = s.read_u16();
            break;
        case 102:
            s.seek(6, SEEK_CUR);
            for (int c = 0; c < 4; ++c) s.as_shot_mul[c] = s.read_u16();
            break;
        case 103:
            s.seek(16, SEEK_CUR);
            for (int c = 0; c < 4; ++c) s.as_shot_mul[c] = s.read_u16();
            break;
        default:
            // Versions 200-211 are enciphered with substitution tables this
            // reader does not carry: their balance stays unset, so the
            // daylight multipliers apply.
            break;
    }
}

void read_capture_note(DecoderSession& s, unsigned count) {
    tiff::ByteOrderGuard order(s);
    s.byte_order = 0x4949;
    int64_t record = s.tell() + 22;
    for (int64_t offset = 22; offset + 22 < count;) {
        s.seek(record);
        const uint32_t tag = s.read_u32();
        s.seek(14, SEEK_CUR);
        const uint32_t size = s.read_u32();
        // The size counts itself; one below that cannot move to a next record.
        if (size < 4 || s.tell() >= s.file_size()) break;
        if (tag == 0x76a43207) s.orientation = s.read_u16();
        const int64_t step = 22 + int64_t(size) - 4;
        record += step;
        offset += step;
    }
}

void read_shot_info(DecoderSession& s) {
    s.read_u32();
    unsigned v = s.read_u16();
    if (v != 0x7fff && s.iso == 0) s.iso = static_cast<float>(50 * std::pow(2.0, v / 32.0 - 4));
    s.read_u16();
    v = s.read_u16();
    if (v != 0x7fff && s.f_number == 0) s.f_number = static_cast<float>(std::pow(2.0, v / 64.0));
    v = s.read_u16();
    if (v != 0xffff && s.exposure_time == 0)
        s.exposure_time = static_cast<float>(std::pow(2.0, static_cast<int16_t>(v) / -32.0));
}

void read_serial(DecoderSession& s, NoteWalk& note, unsigned count) {
    uint32_t serial = 0;
    for (unsigned i = 0; i < count; ++i) {
        const int c = s.getc();
        if (c <= 0) break;
        serial = serial * 10 + static_cast<uint32_t>(std::isdigit(c) ? c - '0' : c % 10);
    }
    note.serial = serial;
}

void handle_note_tag(DecoderSession& s, NoteWalk& note, uint32_t tag, const tiff::Entry& e) {
    if (std::strstr(s.make, "PENTAX")) {
        if (tag == 0x1b) tag = 0x1018;
        if (tag == 0x1c) tag = 0x1017;
    }
    if (tag == 2 && std::strstr(s.make, "NIKON") && s.iso == 0) {
        s.read_u16();
        s.iso = s.read_u16();
    }
    if (tag == 4 && e.count > 26 && e.count < 35) {
        read_shot_info(s);
        s.read_u16();
        note.white_balance_index = s.read_u16();
        s.read_u16();
        s.frame_number = s.read_u16();
    }
    if ((tag == 4 || tag == 0x114) && tiff::starts_with(s.make, "KONICA")) {
        s.seek(tag == 4 ? 140 : 160, SEEK_CUR);
        switch (s.read_u16()) {
            case 72: s.orientation = 0; break;
            case 76: s.orientation = 6; break;
            case 82: s.orientation = 5; break;
            default: break;
        }
    }
    if (tag == 7 && e.count > 20) tiff::read_line(s, s.model_extra);
    if (tag == 8 && e.type == 4) s.frame_number = s.read_u32();
    if (tag == 9 && std::strcmp(s.make, "Canon") == 0) tiff::read_text(s, s.artist, 64);
    if (tag == 0xc && e.count == 4) {
        const double red = s.read_real(e.type), blue = s.read_real(e.type);
        if (std::isfinite(red) && std::isfinite(blue)) {
            s.as_shot_mul[0] = static_cast<float>(red);
            s.as_shot_mul[2] = static_cast<float>(blue);
        }
    }
    if (tag == 0x10 && e.type == 4) s.model_id = s.read_u32();
    if (tag == 0x11 && tiff::starts_with(s.make, "NIKON") && s.raw_count) {
        s.seek(int64_t(s.read_u32()) + note.base);
        read_ifd(s, note.base);
    }
    if (tag == 0x14 && e.type == 7 && e.count == 2560) {
        s.seek(1248, SEEK_CUR);
        read_fixed_gains(s);
    }
    if (tag == 0x15 && e.type == 2 && s.raw_count) tiff::read_text(s, s.model, 64);
    if (tag == 0x1017 || tag == 0x20400100) s.as_shot_mul[0] = s.read_u16() / 256.0f;
    if (tag == 0x1018 || tag == 0x20400100) s.as_shot_mul[2] = s.read_u16() / 256.0f;
    if (tag == 0x1d) read_serial(s, note, e.count);
    if (tag == 0x29 && e.type == 1) {
        static constexpr char kDigits[] = "012347800000005896";
        const int index = note.white_balance_index;
        const int d = index >= 0 && index < 18 ? kDigits[index] - '0' : 0;
        s.seek(8 + 32 * d, SEEK_CUR);
        static constexpr int kOrder[4] = {1, 0, 2, 3};
        for (int c : kOrder) s.as_shot_mul[c] = static_cast<float>(s.read_u32());
    }
    if (tag == 0x81 && e.type == 4) {
        s.raw_offset = s.read_u32();
        s.seek(s.raw_offset + 41);
        s.stored_height = s.read_u16() * 2;
        s.stored_width = s.read_u16();
        s.cfa_pattern = 0x61616161;
    }
    if ((tag == 0x100 && e.type == 7) || (tag == 0x280 && e.type == 1)) {
        s.thumb_offset = s.tell();
        s.thumb_length = e.count;
    }
    if (tag == 0x88) {
        const uint32_t at = s.read_u32();
        s.thumb_offset = at ? int64_t(at) + note.base : 0;
    }
    if (tag == 0x89) s.thumb_length = s.read_u32();
    if (tag == 0x8c || tag == 0x96) s.aux_offset = s.tell();
    if (tag == 0x97) read_balance_block(s);
    if (tag == 0xa4 && e.type == 3) {
        s.seek(48 * int64_t(note.white_balance_index), SEEK_CUR);
        for (int c = 0; c < 3; ++c) s.as_shot_mul[c] = s.read_u16();
    }
    if (tag == 0x200 && e.count == 3) {
        s.read_u32();
        s.frame_number = s.read_u32();
    }
    if (tag == 0x200 && e.count == 4) {
        int sum = 0;
        for (int i = 0; i < 4; ++i) sum += s.read_u16();
        s.black_level = sum / 4;
    }
    if ((tag == 0x201 && e.count == 4) || (tag == 0x4001 && e.count > 500)) {
        if (tag == 0x4001) {
            const int skip = e.count == 582 ? 50 : e.count == 653 ? 68 : e.count == 5120 ? 142 : 126;
            s.seek(skip, SEEK_CUR);
        }
        for (int c = 0; c < 4; ++c) s.as_shot_mul[c ^ (c >> 1)] = s.read_u16();
        s.seek(22, SEEK_CUR);
        for (int c = 0; c < 4; ++c) s.sraw_scale[c ^ (c >> 1)] = s.read_u16();
    }
    if (tag == 0x220 && e.count == 53) s.aux_offset = s.tell() + 14;
    if (tag == 0x401 && e.count == 4) {
        int64_t sum = 0;
        for (int i = 0; i < 4; ++i) sum += s.read_u32();
        s.black_level = static_cast<int>(sum / 4 > 0x7FFFFFFF ? 0x7FFFFFFF : sum / 4);
    }
    if (tag == 0xe01) read_capture_note(s, e.count);
    if (tag == 0xe80 && e.type == 7 && e.count == 256) {
        s.seek(48, SEEK_CUR);
        s.as_shot_mul[0] = static_cast<float>(s.read_u16() * 508 * 1.078 / 65536);
        s.as_shot_mul[2] = static_cast<float>(s.read_u16() * 382 * 1.173 / 65536);
    }
    if (tag == 0xf00 && e.type == 7) {
        const int skip = e.count == 614 ? 176 : (e.count == 734 || e.count == 1502) ? 148 : 0;
        if (skip) {
            s.seek(skip, SEEK_CUR);
            read_fixed_gains(s);
        }
    }
    if ((tag == 0x1011 && e.count == 9) || tag == 0x20400200)
        for (int i = 0; i < 3; ++i)
            for (int c = 0; c < 3; ++c) s.file_matrix[i][c] = static_cast<int16_t>(s.read_u16()) / 256.0f;
    if ((tag == 0x1012 || tag == 0x20400600) && e.count == 4) {
        int sum = 0;
        for (int i = 0; i < 4; ++i) sum += s.read_u16() * 4;
        s.black_level = sum;
    }
    if (tag == 0x2011 && e.count == 2) read_fixed_gains(s);
    // Sub-directories of these tags are walked where they lie.
    if ((tag | 0x70) == 0x2070 && e.type == 4) s.seek(int64_t(s.read_u32()) + note.base);
    if (tag == 0x2010 && e.type != 7) s.loader = LoaderId::olympus_adaptive_load_raw;
    if (tag == 0x2020) read_thumb_note(s, note.base, 257, 258);
    if (tag == 0x2040) read_maker_note(s, note.base, 0x2040);
    if (tag == 0xb028) {
        s.seek(s.read_u32());
        read_thumb_note(s, note.base, 136, 137);
    }
}

}  // namespace

void read_maker_note(DecoderSession& s, int64_t base, int parent_tag) {
    limits::DepthGuard depth(s);
    if (!depth) return;
    tiff::ByteOrderGuard order(s);
    char head[11] = {};
    s.read(head, 1, 10);
    if (!std::strncmp(head, "KDK", 3) || !std::strncmp(head, "VER", 3) || !std::strncmp(head, "IIII", 4) ||
        !std::strncmp(head, "MMMM", 4))
        return;
    if (!std::strncmp(head, "KC", 2) || !std::strncmp(head, "MLY", 3)) {
        scan_balance_words(s);
        return;
    }
    NoteWalk note;
    note.base = base;
    if (!std::strcmp(head, "Nikon")) {
        note.base = s.tell();
        s.byte_order = s.read_u16();
        if (s.read_u16() != 42) return;
        const uint32_t offset = s.read_u32();
        s.seek(int64_t(offset) - 8, SEEK_CUR);
    } else if (!std::strcmp(head, "OLYMPUS")) {
        note.base = s.tell() - 10;
        s.seek(-2, SEEK_CUR);
        s.byte_order = s.read_u16();
        s.read_u16();
    } else if (!std::strncmp(head, "FUJIFILM", 8) || !std::strncmp(head, "SONY", 4) ||
               !std::strcmp(head, "Panasonic")) {
        s.byte_order = 0x4949;
        s.seek(2, SEEK_CUR);
    } else if (!std::strcmp(head, "OLYMP") || !std::strcmp(head, "LEICA") || !std::strcmp(head, "Ricoh") ||
               !std::strcmp(head, "EPSON")) {
        s.seek(-2, SEEK_CUR);
    } else if (!std::strcmp(head, "AOC") || !std::strcmp(head, "QVC")) {
        s.seek(-4, SEEK_CUR);
    } else {
        s.seek(-10, SEEK_CUR);
        if (tiff::starts_with(s.make, "SAMSUNG")) note.base = s.tell();
    }
    const uint32_t prefix = static_cast<uint32_t>(parent_tag) << 16;
    tiff::walk_entries(s, note.base, 1000, [&](const tiff::Entry& e) {
        handle_note_tag(s, note, prefix | e.tag, e);
    });
}

}  // namespace ostel::core
