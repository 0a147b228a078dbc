// Handlers for the tags of the main directories (baseline TIFF, Exif-style
// shot tags found there, and the private tags of the makers that store their
// data in the main tree).
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/identify/limits.h"
#include "core/identify/parsers.h"
#include "core/tiff/jpeg_frame.h"
#include "core/tiff/tiff_io.h"
#include "core/tiff/tiff_walk.h"

namespace ostel::core::tiff {

namespace {

// Texts written by raw converters: such files are processed output, not
// camera data, and are refused.
bool written_by_converter(const char* software) {
    static constexpr const char* kPrefixes[] = {"Adobe", "UFRaw", "Bibble", "Nikon Scan"};
    for (const char* prefix : kPrefixes)
        if (starts_with(software, prefix)) return true;
    return std::strcmp(software, "Digital Photo Professional") == 0;
}

void read_filter_pattern(DecoderSession& s, IfdWalkState& w, unsigned count) {
    const unsigned n = count < 16 ? count : 16;
    uint8_t bytes[16] = {};
    if (n == 0 || s.read(bytes, 1, n) != n) return;
    uint32_t present = 0;
    int distinct = 0;
    for (unsigned i = 0; i < n; ++i) {
        // Values beyond 31 cannot name a colour plane of any known layout.
        if (bytes[i] > 31) return;
        if (!(present & (1u << bytes[i]))) ++distinct;
        present |= 1u << bytes[i];
    }
    if (distinct > 4) return;
    IfdWalkState trial = w;
    std::memcpy(trial.cfa_bytes, bytes, n);
    trial.cfa_count = static_cast<int>(n);
    if (present == 070) {
        const uint8_t map[4] = {3, 4, 5, 0};
        std::memcpy(trial.plane_map, map, 4);
    } else if (present == 072) {
        const uint8_t map[4] = {5, 3, 4, 1};
        std::memcpy(trial.plane_map, map, 4);
    }
    const int previous = s.color_count;
    s.color_count = distinct;
    // Every pattern value needs a plane; otherwise the tag is ignored.
    if (build_pattern_word(s, trial))
        w = trial;
    else
        s.color_count = previous;
}

void read_imacon_geometry(DecoderSession& s, const IfdWalkState& w) {
    if (w.imacon_length == 0) return;
    s.seek(78, SEEK_CUR);
    s.stored_width = to_int(s.read_u32());
    s.stored_height = to_int(s.read_u32());
    s.crop_left = static_cast<int>(s.read_u32() & 7);
    s.width = to_int(int64_t(s.stored_width) - s.crop_left - (s.read_u32() & 7));
    s.crop_top = static_cast<int>(s.read_u32() & 7);
    s.height = to_int(int64_t(s.stored_height) - s.crop_top - (s.read_u32() & 7));
    if (s.stored_width == 7262) {
        s.height = 5444;
        s.width = 7244;
        s.crop_left = 7;
    }
    s.seek(52, SEEK_CUR);
    for (int c = 0; c < 3; ++c) {
        const double v = s.read_real(11);
        if (std::isfinite(v)) s.as_shot_mul[c] = static_cast<float>(v);
    }
    s.seek(114, SEEK_CUR);
    s.orientation = ((s.read_u16() >> 7) & 0x1ff) * 90;
    if (int64_t(s.width) * s.height * 6 == w.imacon_length) {
        if (s.orientation % 180 == 90) std::swap(s.width, s.height);
        s.cfa_pattern = 0;
        s.orientation = 0;
    }
    std::snprintf(s.model, sizeof s.model, "Ixpress %d-Mp",
                  static_cast<int>(int64_t(s.width) * s.height / 1000000));
    s.loader = LoaderId::rgb48_load_raw;
    if (s.cfa_pattern) {
        s.loader = LoaderId::unpacked_load_raw;
        if (s.crop_left & 1) s.cfa_pattern = 0x61616161;
    }
    s.white_level = 0xffff;
}

void read_sinar_text(DecoderSession& s, unsigned count) {
    // The block is plain text; one larger than the file cannot be there.
    if (!limits::within_file(s, s.tell(), count) || !spend_work(s, count)) return;
    std::vector<char> text(size_t(count) + 1, 0);
    s.read(text.data(), 1, count);
    for (const char* line = text.data(); line < text.data() + count;) {
        if (std::strncmp(line, "Neutral ", 8) == 0) {
            float v[3];
            if (std::sscanf(line + 8, "%f %f %f", &v[0], &v[1], &v[2]) == 3)
                for (int c = 0; c < 3; ++c)
                    if (std::isfinite(v[c])) s.as_shot_mul[c] = v[c];
        }
        const char* next = static_cast<const char*>(std::memchr(line, '\n', text.data() + count - line));
        if (!next) break;
        line = next + 1;
    }
}

void read_leaf_matrix(DecoderSession& s) {
    char head[8] = {};
    s.read(head, 1, 7);
    if (std::memcmp(head, "MATRIX", 6) != 0) return;
    s.color_count = 4;
    s.no_camera_matrix = 0;
    for (int i = 0; i < 3; ++i) {
        for (int c = 0; c < 4; ++c) {
            float v = 0;
            if (scan_float(s, v) && std::isfinite(v)) s.cam_to_out[i][c ^ 1] = v;
        }
        if (s.use_as_shot_wb) {
            double sum = 0;
            for (int c = 0; c < 4; ++c) sum += s.cam_to_out[i][c];
            if (usable(sum))
                for (int c = 0; c < 4; ++c) s.cam_to_out[i][c] = static_cast<float>(s.cam_to_out[i][c] / sum);
        }
    }
}

void read_hasselblad_tree(DecoderSession& s) {
    const uint16_t order = s.byte_order;
    const int64_t start = s.tell();
    const int count = s.tiff.ifd_count;
    s.byte_order = s.read_u16();
    s.read_u16();
    s.seek(start + s.read_u32());
    read_ifd(s, start);
    s.white_level = 0xffff;
    s.tiff.ifd_count = count;
    s.byte_order = order;
}

void read_curve_breaks(DecoderSession& s, IfdWalkState& w) {
    for (int c = 1; c <= 4; ++c) w.curve_breaks[c] = (s.read_u16() >> 2) & 0xfff;
    for (int i = 0; i < 5; ++i)
        for (int j = w.curve_breaks[i] + 1; j <= w.curve_breaks[i + 1] && j < 4096; ++j)
            s.lin_table[j] = static_cast<uint16_t>(s.lin_table[j - 1] + (1 << i));
}

void read_strip_offset(DecoderSession& s, TiffIfd& entry, int64_t base) {
    entry.offset = int64_t(s.read_u32()) + base;
    if (entry.bits) return;
    // Strips that are a lossless JPEG stream carry their geometry in the
    // frame header rather than in the directory.
    s.seek(entry.offset);
    JpegFrame frame;
    if (!read_jpeg_frame(s, frame)) return;
    entry.compression = 6;
    entry.width = frame.wide << (frame.components == 2);
    entry.height = frame.high;
    entry.bits = frame.bits;
    entry.samples = frame.components;
}

// Entries whose place in the file is kept with their directory.
struct RefTag {
    unsigned tag;
    DngRef ref;
};
constexpr RefTag kRefTags[] = {
    {273, DngRef::tile_offsets},     {279, DngRef::tile_counts},    {324, DngRef::tile_offsets},
    {325, DngRef::tile_counts},      {339, DngRef::sample_format},  {317, DngRef::predictor},
    {50712, DngRef::linearisation},  {50713, DngRef::black_repeat}, {50714, DngRef::black},
    {50715, DngRef::black_delta_h},  {50716, DngRef::black_delta_v}, {50717, DngRef::white},
    {50829, DngRef::active_area},    {50830, DngRef::masked_areas}, {50719, DngRef::crop_origin},
    {50720, DngRef::crop_size},      {51008, DngRef::opcodes1},     {51009, DngRef::opcodes2},
    {51022, DngRef::opcodes3},
};

void record_entry_place(DecoderSession& s, TiffIfd& entry, const Entry& e) {
    for (const RefTag& r : kRefTags)
        if (r.tag == e.tag) entry.refs[static_cast<size_t>(r.ref)] = TagRef{s.tell(), e.type, e.count};
    const int64_t at = s.tell();
    switch (e.tag) {
        case 322: entry.tile_width = to_int(s.read_uint(e.type)); break;
        case 323: entry.tile_length = to_int(s.read_uint(e.type)); break;
        case 278: entry.rows_per_strip = to_int(s.read_uint(e.type)); break;
        default: return;
    }
    s.seek(at);
}

}  // namespace

void read_linearisation_table(DecoderSession& s, unsigned count) {
    if (count == 0) return;
    const unsigned n = count < 4096 ? count : 4096;
    s.read_u16_block(s.lin_table.data(), n);
    for (unsigned i = n; i < 4096; ++i) s.lin_table[i] = s.lin_table[i - 1];
    s.white_level = s.lin_table[4095];
}

bool build_pattern_word(DecoderSession& s, const IfdWalkState& w) {
    int index_of[256];
    for (int& v : index_of) v = -1;
    const int colors = s.color_count < 1 ? 1 : s.color_count > 4 ? 4 : s.color_count;
    for (int c = colors; c--;) index_of[w.plane_map[c]] = c;
    const int n = w.cfa_count < 1 ? 1 : w.cfa_count > 16 ? 16 : w.cfa_count;
    for (int i = 0; i < n; ++i)
        if (index_of[w.cfa_bytes[i]] < 0) return false;
    uint32_t word = 0;
    for (int i = 16; i--;) word = (word << 2) | static_cast<uint32_t>(index_of[w.cfa_bytes[i % n]]);
    s.cfa_pattern = word;
    s.color_letters[colors] = 0;
    return true;
}

void handle_ifd_tag(DecoderSession& s, IfdWalkState& w, int& ifd, int64_t base, const Entry& e) {
    TiffIfd& entry = s.tiff.ifds[ifd];
    record_entry_place(s, entry, e);
    switch (e.tag) {
        case 2: case 256: entry.width = to_int(s.read_uint(e.type)); break;
        case 3: case 257: entry.height = to_int(s.read_uint(e.type)); break;
        case 258:
            entry.samples = e.count & 7;
            entry.bits = s.read_u16();
            break;
        case 259: entry.compression = s.read_u16(); break;
        case 262: entry.photometric = s.read_u16(); break;
        case 270: read_text(s, s.description, 512); break;
        case 271: read_line(s, s.make); break;
        case 272: read_line(s, s.model); break;
        case 273: case 513: read_strip_offset(s, entry, base); break;
        case 274: entry.orientation = "50132467"[s.read_u16() & 7] - '0'; break;
        case 277: entry.samples = s.read_uint(e.type) & 7; break;
        case 279: case 514: entry.bytes = s.read_u32(); break;
        case 280:
            if (e.type == 4) {
                s.loader = LoaderId::panasonic_block_load_raw;
                s.packing_flags = 0x2008;
            }
            break;
        case 291: case 50712: read_linearisation_table(s, e.count); break;
        case 305: case 11: {
            char software[64];
            read_line(s, software);
            if (written_by_converter(software)) s.raw_count = 0;
            break;
        }
        case 306: s.read_date_text(false); break;
        case 315: read_text(s, s.artist, 64); break;
        case 322: s.tile_width = to_int(s.read_uint(e.type)); break;
        case 323: s.tile_length = to_int(s.read_uint(e.type)); break;
        case 324:
            entry.offset = e.count > 1 ? s.tell() : int64_t(s.read_u32());
            if (e.count == 4) {
                s.loader = LoaderId::sinar_4shot_load_raw;
                s.raw_count = 5;
            }
            break;
        case 330:
            if (std::strcmp(s.model, "DSLR-A100") == 0 && entry.width == 3872) {
                s.loader = LoaderId::sony_arw_huffman_load_raw;
                s.raw_offset = int64_t(s.read_u32()) + base;
                if (ifd + 1 < TiffState::kMaxIfds) ++ifd;
                break;
            }
            for (unsigned i = 0; i < e.count; ++i) {
                const int64_t list = s.tell();
                s.seek(int64_t(s.read_u32()) + base);
                if (read_ifd(s, base)) break;
                s.seek(list + 4);
            }
            break;
        case 400:
            set_text(s.make, "Sarnoff");
            s.white_level = 0xfff;
            break;
        case 17: case 18:
            if (e.type == 3 && e.count == 1) s.as_shot_mul[(e.tag - 17) * 2] = s.read_u16() / 256.0f;
            break;
        case 23:
            if (e.type == 3) s.iso = s.read_u16();
            break;
        case 36: case 37: case 38: s.as_shot_mul[e.tag - 36] = s.read_u16(); break;
        case 39:
            if (e.count >= 50 && s.as_shot_mul[0] == 0) {
                s.seek(12, SEEK_CUR);
                for (int c = 0; c < 3; ++c) s.as_shot_mul[c] = s.read_u16();
            }
            break;
        case 46:
            if (e.type == 7) {
                const int64_t at = s.tell();
                if (s.getc() == 0xFF && s.getc() == 0xD8) {
                    s.thumb_offset = at;
                    s.thumb_length = e.count;
                }
            }
            break;
        case 28688: read_curve_breaks(s, w); break;
        case 29184: w.sony_offset = s.read_u32(); break;
        case 29185: w.sony_length = s.read_u32(); break;
        case 29217: w.sony_key = s.read_u32(); break;
        case 29264:
            read_mrw(s, s.tell());
            s.stored_width = 0;
            break;
        case 29443:
            for (int c = 0; c < 4; ++c) s.as_shot_mul[c ^ (c < 2)] = s.read_u16();
            break;
        case 29459:
            for (int c = 0; c < 4; ++c) s.as_shot_mul[c ^ (c >> 1)] = s.read_u16();
            break;
        case 33405: read_line(s, s.model_extra); break;
        case 33422: case 64777: read_filter_pattern(s, w, e.count); break;
        case 33424: case 65024:
            s.seek(int64_t(s.read_u32()) + base);
            read_kodak_ifd(s, base);
            break;
        case 33434: s.exposure_time = static_cast<float>(s.read_real(e.type)); break;
        case 33437: s.f_number = static_cast<float>(s.read_real(e.type)); break;
        case 34303: set_text(s.make, "Leaf"); break;
        case 34306:
            for (int c = 0; c < 4; ++c) set_ratio(s.as_shot_mul[c ^ 1], 4096.0, s.read_u16());
            break;
        case 34307: read_leaf_matrix(s); break;
        case 34310: read_mos(s, s.tell()); break;
        case 34665:
            s.seek(int64_t(s.read_u32()) + base);
            read_exif_ifd(s, base);
            break;
        case 34675: case 50831:
            s.icc_offset = s.tell();
            s.icc_length = e.count;
            break;
        case 34853:
            s.seek(int64_t(s.read_u32()) + base);
            read_gps_ifd(s, base);
            break;
        case 37122: s.kodak_bits_code = static_cast<int>(s.read_u32()); break;
        case 37386: s.focal_length = static_cast<float>(s.read_real(e.type)); break;
        case 37393: s.frame_number = s.read_uint(e.type); break;
        case 37400:
            s.no_camera_matrix = 0;
            for (int i = 0; i < 3; ++i) {
                s.read_real(e.type);
                for (int c = 0; c < 3; ++c) s.cam_to_out[i][c] = static_cast<float>(s.read_real(e.type));
            }
            break;
        case 46275:
            set_text(s.make, "Imacon");
            s.raw_offset = s.tell();
            w.imacon_length = e.count;
            break;
        case 46279: read_imacon_geometry(s, w); break;
        case 50454: case 50455: read_sinar_text(s, e.count); break;
        case 50458:
            if (!s.make[0]) set_text(s.make, "Hasselblad");
            break;
        case 50459: read_hasselblad_tree(s); break;
        case 50740:
            if (s.dng_version == 0) {
                const int64_t at = int64_t(s.read_u32()) + base;
                read_mrw(s, at);
                s.seek(at);
                read_ifd(s, base);
            }
            break;
        case 50752: s.read_u16_block(s.ljpeg_slices.data(), 3); break;
        case 64772:
            if (e.count >= 13) {
                s.seek(16, SEEK_CUR);
                s.raw_offset = s.read_u32();
                s.seek(28, SEEK_CUR);
                s.raw_offset += s.read_u32();
                s.loader = LoaderId::packed_bits_load_raw;
            }
            break;
        case 65026:
            if (e.type == 2) read_line(s, s.model_extra);
            break;
        default: handle_dng_tag(s, w, base, e); break;
    }
}

}  // namespace ostel::core::tiff
