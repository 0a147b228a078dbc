// Fuji (including the sensors stored at 45 degrees), Minolta and Konica.
#include <cstring>
#include <string>

#include "core/camera_rules/rule_groups.h"
#include "core/identify/parsers.h"

namespace ostel::core::rules {

bool fuji_rules(DecoderSession& s) {
    if (!make_is(s, "FUJIFILM")) return false;
    if (std::strlen(s.model) >= 7 && std::strcmp(s.model + 7, "S2Pro") == 0) {
        std::strcpy(s.model + 7, " S2Pro");
        set_size(s, 2144, 2880);
        s.orientation = 6;
    } else {
        s.white_level = 0x3e00;
    }
    if (s.raw_count == 2 && s.shot_index) s.white_level = 0x2f00;
    // A visible area larger than the stored one leaves no margin to skip.
    s.crop_top = s.stored_height > s.height ? (s.stored_height - s.height) / 2 : 0;
    s.crop_left = s.stored_width > s.width ? (s.stored_width - s.width) / 2 : 0;
    if (s.raw_count == 2 && s.shot_index >= 1) {
        // The second exposure follows the first in the same strip.
        if (s.diagonal_layout) {
            s.stored_width = bounded_dim(int64_t(s.stored_width) * 2);
            s.raw_offset += int64_t(s.stored_width) * 2;
        } else {
            s.raw_offset += int64_t(s.stored_height) * s.stored_width * 2;
        }
    }
    if (s.loader == LoaderId::fuji_load_raw) {
        const int layout = s.diagonal_layout ? 1 : 0;
        s.diagonal_width = s.width >> (1 - layout);
        s.width = bounded_dim(int64_t(s.diagonal_width) + (s.height >> layout));
        s.stored_height = s.height;
        s.height = s.width - 1;
        if ((s.diagonal_width & 1) == 0) s.cfa_pattern = 0x49494949;
    }
    return true;
}

namespace {

// The Konica bodies and the Minolta G series share one 16-bit layout.
void konica_settings(DecoderSession& s) {
    s.loader = LoaderId::unpacked_load_raw;
    s.white_level = 991;
    s.byte_order = 0x4d4d;
}

void konica_with_header_skip(DecoderSession& s) {
    s.raw_offset += 14;
    s.cfa_pattern = 0x61616161;
    konica_settings(s);
}

bool same_text_ignoring_case(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        const int ca = (*a >= 'a' && *a <= 'z') ? *a - 32 : *a;
        const int cb = (*b >= 'a' && *b <= 'z') ? *b - 32 : *b;
        if (ca != cb) return false;
    }
    return *a == *b;
}

void minolta_make_rules(DecoderSession& s) {
    s.loader = LoaderId::unpacked_load_raw;
    s.white_level = 4095;
    if (model_starts(s, "DiMAGE A")) {
        s.bits_per_sample = 12;
        s.loader = LoaderId::packed_bits_load_raw;
        if (model_is(s, "DiMAGE A200")) s.cfa_pattern = 0x49494949;
    } else if (model_starts(s, "ALPHA") || model_starts(s, "DYNAX") || model_starts(s, "MAXXUM")) {
        // One body sold under three names: the colour table knows the DYNAX one.
        const size_t skip = s.model[0] == 'M' ? 7 : 6;
        const size_t length = std::strlen(s.model);
        std::string number = length > skip ? std::string(s.model + skip) : std::string();
        if (number.size() < 10) number.resize(10, ' ');
        const std::string table_model = "DYNAX " + number;
        apply_camera_table(s, s.make, table_model.c_str());
        s.loader = LoaderId::packed_bits_load_raw;
    } else if (model_starts(s, "DiMAGE G")) {
        switch (s.model[8]) {
            case '4': set_size(s, 1716, 2304); break;
            case '5':
                set_size(s, 1956, 2607);
                s.stored_width = 2624;
                break;
            case '6': set_size(s, 2136, 2848); break;
            default: break;
        }
        konica_with_header_skip(s);
    }
}

}  // namespace

bool minolta_rules(DecoderSession& s) {
    if (model_is(s, "RD175")) {
        set_size(s, 986, 1534);
        s.raw_offset = 513;
        s.cfa_pattern = 0x61616161;
        s.loader = LoaderId::minolta_rd175_loader;
    } else if (model_is(s, "KD-400Z")) {
        set_size(s, 1712, 2312);
        s.stored_width = 2336;
        konica_settings(s);
    } else if (model_is(s, "KD-510Z")) {
        set_size(s, 1956, 2607);
        s.stored_width = 2624;
        konica_with_header_skip(s);
    } else if (same_text_ignoring_case(s.make, "MINOLTA")) {
        minolta_make_rules(s);
    } else {
        return false;
    }
    return true;
}

}  // namespace ostel::core::rules
