// Pentax, the medium-format backs, Olympus, Sony, Kodak, Rollei, CASIO and
// the other makers whose rules are short.
#include <array>
#include <cstring>

#include "core/camera_rules/camera_rules.h"
#include "core/camera_rules/rule_groups.h"
#include "core/identify/parsers.h"

namespace ostel::core::rules {

namespace {

void packed(DecoderSession& s) { s.loader = LoaderId::packed_bits_load_raw; }

// Sample precision of the lossless JPEG stream at offset, or 0 when no frame
// header is found there.
int jpeg_frame_bits(DecoderSession& s, int64_t offset) {
    const int64_t size = s.file_size();
    if (offset < 0 || offset + 4 > size) return 0;
    const uint8_t* data = s.input.data();
    if (data[offset] != 0xFF || data[offset + 1] != 0xD8) return 0;
    int64_t at = offset + 2;
    while (at + 4 <= size) {
        if (data[at] != 0xFF) return 0;
        const int marker = data[at + 1];
        const int64_t length = (int64_t(data[at + 2]) << 8) | data[at + 3];
        if (marker == 0xDA || marker == 0xD9 || length < 2) return 0;
        if (marker >= 0xC0 && marker <= 0xC3) return at + 4 < size ? data[at + 4] : 0;
        at += 2 + length;
    }
    return 0;
}

bool hasselblad_rules(DecoderSession& s) {
    if (s.loader == LoaderId::lossless_image_load_raw) s.loader = LoaderId::hasselblad_ljpeg_load_raw;
    if (s.stored_width == 7262) {
        set_size(s, 5444, 7248);
        s.crop_top = 4;
        s.crop_left = 7;
        s.cfa_pattern = 0x61616161;
    } else if (s.stored_width == 4090) {
        set_text(s.model, "V96C");
        trim_margins(s, 6, 3);
        s.cfa_pattern = 0x61616161;
    }
    return true;
}

bool sinar_rules(DecoderSession& s) {
    const uint8_t* head = s.input.data();
    if (s.file_size() >= 4 && std::memcmp(head, "8BPS", 4) == 0) {
        // A layered image file: the size sits in its header.
        s.seek(14);
        const uint32_t height = s.read_u32();
        const uint32_t width = s.read_u32();
        s.height = bounded_dim(height);
        s.width = bounded_dim(width);
        s.cfa_pattern = 0x61616161;
        s.raw_offset = 68;
    }
    if (s.loader == LoaderId::none) s.loader = LoaderId::unpacked_load_raw;
    s.white_level = 0x3fff;
    return true;
}

void subtract_margins_twice(DecoderSession& s, int top, int left) {
    s.crop_top = top;
    s.crop_left = left;
    s.height = bounded_dim(int64_t(s.height) - 2 * top);
    s.width = bounded_dim(int64_t(s.width) - 2 * left);
}

bool leaf_rules(DecoderSession& s) {
    s.white_level = 0x3fff;
    if (jpeg_frame_bits(s, s.raw_offset) == 15) s.white_level = 0x1fff;
    if (s.samples_per_pixel > 1) s.cfa_pattern = 0;
    if (s.samples_per_pixel > 1 || s.tile_length < s.stored_height) s.loader = LoaderId::leaf_planes_load_raw;
    if (s.width == 2048 || s.height == 2048) {
        if (s.samples_per_pixel <= 1) {
            s.cfa_pattern = 1;
            set_text(s.color_letters, "RBTG");
            set_text(s.model, "CatchLight");
            s.crop_top = 8;
            s.crop_left = 18;
            set_size(s, 2032, 2016);
        } else {
            set_text(s.model, "DCB2");
            s.crop_top = 10;
            s.crop_left = 16;
            set_size(s, 2028, 2022);
        }
    } else if (int64_t(s.width) + s.height == 5204) {
        if (!s.model[0]) set_text(s.model, "Cantare");
        if (s.width > s.height) {
            s.crop_top = 6;
            s.crop_left = 32;
            set_size(s, 2048, 3072);
            s.cfa_pattern = 0x61616161;
        } else {
            s.crop_top = 32;
            s.crop_left = 6;
            set_size(s, 3072, 2048);
            s.cfa_pattern = 0x16161616;
        }
        if (s.as_shot_mul[0] == 0 || s.model[0] == 'V')
            s.cfa_pattern = 0;
        else
            s.raw_count = s.samples_per_pixel;
    } else if (s.width == 2116) {
        set_text(s.model, "Valeo 6");
        subtract_margins_twice(s, 30, 55);
        s.cfa_pattern = 0x49494949;
    } else if (s.width == 3171) {
        set_text(s.model, "Valeo 6");
        subtract_margins_twice(s, 24, 24);
        s.cfa_pattern = 0x16161616;
    }
    return true;
}

bool olympus_rules(DecoderSession& s) {
    s.height += s.height & 1;
    s.cfa_pattern = s.exif_cfa_pattern;
    if (s.width == 4100) s.width = 4096;
    if (s.loader == LoaderId::olympus_adaptive_load_raw) {
        s.black_level >>= 4;
        s.bits_per_sample = 12;
        return true;
    }
    if (model_is(s, "E-10") || model_starts(s, "E-20")) {
        s.black_level *= 4;
    } else if (model_is(s, "E-300") || model_is(s, "E-500")) {
        s.width -= 20;
        if (s.loader == LoaderId::unpacked_load_raw) {
            s.white_level = 0xfc30;
            s.black_level = 0;
        }
    } else if (model_is(s, "E-330")) {
        s.width -= 30;
        if (s.loader == LoaderId::unpacked_load_raw) s.white_level = 0xf790;
    } else if (model_is(s, "SP550UZ")) {
        // The preview sits at a fixed place near the end of the file.
        constexpr int64_t kPreview = 0xa39800;
        if (s.file_size() > kPreview) {
            s.thumb_offset = kPreview;
            s.thumb_length = s.file_size() - kPreview;
            s.thumb_height = 480;
            s.thumb_width = 640;
        }
    }
    return true;
}

// Eight-bit Kodak data at the end of the file, with its curve before it.
void kodak_eight_bit(DecoderSession& s) {
    s.byte_order = 0x4949;
    const int64_t offset = s.file_size() - int64_t(s.stored_height) * s.stored_width;
    if (offset < 0) {
        // Shorter than one frame: there is no raw data to read.
        s.raw_count = 0;
        return;
    }
    s.raw_offset = offset;
    if (offset == 0) {
        build_gamma_curve(s, 3.875);
    } else {
        s.seek(168);
        s.read_u16_block(s.lin_table.data(), 256);
    }
    s.loader = LoaderId::eight_bit_load_raw;
}

void kodak_yrgb(DecoderSession& s) {
    s.cfa_pattern = 0;
    s.loader = LoaderId::kodak_yrgb_load_raw;
    build_gamma_curve(s, 3.875);
}

bool kodak_rules(DecoderSession& s) {
    if (model_is(s, "C603v")) {
        set_size(s, 480, 640);
        // The VGA sensor variant stores plain 16-bit Bayer data.
        if (s.file_size() >= 614400 && green_balance_test(s, 16, 16, 3840, 5120) >= 25) {
            set_text(s.model, "KAI-0340");
            s.height -= 3;
            s.raw_offset = 3840;
            s.byte_order = 0x4949;
            s.loader = LoaderId::unpacked_load_raw;
        } else {
            kodak_yrgb(s);
        }
    } else if (model_is(s, "C603y")) {
        set_size(s, 2134, 2848);
        kodak_yrgb(s);
    } else if (model_is(s, "C603")) {
        set_size(s, 2152, 2864);
        s.stored_height = 2152;
        s.stored_width = 2864;
        kodak_eight_bit(s);
    } else if (model_is(s, "C330")) {
        set_size(s, 1744, 2336);
        s.stored_height = 1779;
        s.stored_width = 2338;
        s.crop_top = 33;
        s.crop_left = 1;
        kodak_eight_bit(s);
    } else if (model_is(s, "EASYSHARE Z1015 IS")) {
        set_size(s, 2742, 3664);
        s.raw_offset = 0x15000;
        packed(s);
    } else if (model_is(s, "EasyShare Z980")) {
        set_size(s, 3006, 4016);
        s.raw_offset = 0x15000;
        packed(s);
    } else {
        return false;
    }
    return true;
}

struct CasioRow {
    const char* model;  // null: keyed by file size
    int64_t file_size;
    int height, width, raw_width;
    int white_level;    // 0: keep
};

constexpr std::array<CasioRow, 11> kCasio = {{
    {"EX-S20", 0, 1208, 1620, 2432, 0},
    {"EX-S100", 0, 1544, 2058, 3136, 0},
    {"EX-Z50", 0, 1931, 2570, 3904, 0},
    {"EX-Z55", 0, 1960, 2570, 3904, 0},
    {"EX-Z60", 0, 2145, 2833, 3584, 0},
    {"EX-Z75", 0, 2321, 3089, 4672, 4095},
    {"EX-Z750", 0, 2319, 3087, 4672, 4095},
    {"EX-Z850", 0, 2468, 3279, 4928, 4095},
    {"EX-P505", 0, 1928, 2568, 3852, 4095},
    {nullptr, 9313536, 2142, 2844, 4288, 0},
    {"EX-P700", 0, 2318, 3082, 4672, 0},
}};

bool casio_rules(DecoderSession& s) {
    for (const CasioRow& row : kCasio) {
        if (row.model ? !model_is(s, row.model) : s.file_size() != row.file_size) continue;
        set_size(s, row.height, row.width);
        s.stored_width = row.raw_width;
        if (row.white_level) s.white_level = row.white_level;
        if (model_is(s, "EX-S20")) s.orientation = 3;
        if (model_is(s, "EX-Z60")) {
            s.cfa_pattern = 0x16161616;
            s.bits_per_sample = 10;
        }
        return true;
    }
    return false;
}

bool pentax_rules(DecoderSession& s) {
    if (model_is(s, "*ist D")) {
        // Its data runs short of the declared size on every file: do not count that.
        s.short_read_count = -1;
    } else if (model_is(s, "*ist DS")) {
        s.height -= 2;
    } else if (model_is(s, "K20D")) {
        s.cfa_pattern = 0x16161616;
    } else if (model_is(s, "K-x")) {
        s.width = 4309;
        s.cfa_pattern = 0x16161616;
    } else if (model_is(s, "Optio S")) {
        if (s.file_size() == 3178560) {
            set_size(s, 1540, 2064);
            s.loader = LoaderId::eight_bit_load_raw;
            s.as_shot_mul[0] *= 4;
            s.as_shot_mul[2] *= 4;
        } else {
            set_size(s, 1544, 2068);
            s.stored_width = 3136;
            packed(s);
            s.white_level = 3964;
        }
    } else if (s.file_size() == 6114240) {
        set_size(s, 1737, 2324);
        s.stored_width = 3520;
        packed(s);
        s.white_level = 3962;
    } else {
        return false;
    }
    return true;
}

bool sony_and_misc_rules(DecoderSession& s) {
    if (model_is(s, "C770UZ")) {
        set_size(s, 1718, 2304);
        s.cfa_pattern = 0x16161616;
        packed(s);
        s.packing_flags = 30;
    } else if (make_is(s, "OLYMPUS")) {
        olympus_rules(s);
    } else if (model_is(s, "N Digital")) {
        set_size(s, 2047, 3072);
        s.cfa_pattern = 0x61616161;
        s.raw_offset = 0x1a00;
        packed(s);
    } else if (model_is(s, "DSC-F828")) {
        s.width = 3288;
        s.crop_left = 5;
        s.raw_offset = 862144;
        s.loader = LoaderId::sony_load_raw;
        s.cfa_pattern = 0x9c9c9c9c;
        s.color_count = 4;
        set_text(s.color_letters, "RGBE");
    } else if (model_is(s, "DSC-V3")) {
        s.width = 3109;
        s.crop_left = 59;
        s.raw_offset = 787392;
        s.loader = LoaderId::sony_load_raw;
    } else if (make_is(s, "SONY") && s.stored_width == 3984) {
        apply_camera_table(s, "SONY", "DSC-R1");
        s.width = 3925;
        s.byte_order = 0x4d4d;
    } else if (model_is(s, "DSLR-A100")) {
        s.height -= 1;
        s.stored_width = bounded_dim(int64_t(s.stored_width) + 1);
        s.width = s.stored_width;
        s.cfa_pattern = 0x61616161;
    } else if (model_is(s, "DSLR-A350")) {
        s.height -= 4;
    } else if (model_is(s, "PIXL")) {
        trim_margins(s, 4, 32);
        build_gamma_curve(s, 7);
    } else {
        return false;
    }
    return true;
}

bool rollei_rules(DecoderSession& s) {
    if (!make_is(s, "Rollei") || s.loader != LoaderId::none) return false;
    if (s.stored_width == 1316) {
        set_size(s, 1030, 1300);
        s.crop_top = 1;
        s.crop_left = 6;
    } else if (s.stored_width == 2568) {
        set_size(s, 1960, 2560);
        s.crop_top = 2;
        s.crop_left = 8;
    }
    s.cfa_pattern = 0x16161616;
    s.loader = LoaderId::rollei_packed_load_raw;
    return true;
}

}  // namespace

bool other_rules(DecoderSession& s) {
    if (pentax_rules(s)) return true;
    if (make_is(s, "Hasselblad")) return hasselblad_rules(s);
    if (make_is(s, "Sinar")) return sinar_rules(s);
    if (make_is(s, "Leaf")) return leaf_rules(s);
    return panasonic_rules(s) || sony_and_misc_rules(s) || kodak_rules(s) || rollei_rules(s) || casio_rules(s);
}

}  // namespace ostel::core::rules
