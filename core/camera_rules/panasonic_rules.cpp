// Panasonic and the Leica bodies built on them: the loader by data size, then
// the visible area and pattern by sensor width. Several widths are a variant
// of another one: they adjust a little and continue with that width's settings.
#include "core/camera_rules/rule_groups.h"
#include "core/identify/parsers.h"

namespace ostel::core::rules {

namespace {

// Entry into the 3836 settings after their width correction.
constexpr int kLx3Pattern = -3836;

void table(DecoderSession& s, const char* model) { apply_camera_table(s, "Panasonic", model); }

void defect_table(DecoderSession& s, const char* model) {
    s.zero_is_defect = 1;
    table(s, model);
}

// Applies the settings of one width; returns the width whose settings follow, or 0.
int width_settings(DecoderSession& s, int key) {
    switch (key) {
        case 2568: table(s, "DMC-LC1"); return 0;
        case 3130: s.crop_left = -14; return 3170;
        case 3170:
            s.crop_left += 18;
            s.width = 3096;
            if (s.height > 2326) {
                s.height = 2326;
                s.crop_top = 13;
                s.cfa_pattern = 0x49494949;
            }
            defect_table(s, "DMC-FZ8");
            return 0;
        case 3213: s.width -= 27; return 3177;
        case 3177:
            s.width -= 10;
            s.cfa_pattern = 0x49494949;
            defect_table(s, "DMC-L1");
            return 0;
        case 3304:
            s.width -= 17;
            defect_table(s, "DMC-FZ30");
            return 0;
        case 3330:
            s.width += 43;
            s.crop_left = -6;
            s.white_level = 0xf7f0;
            return 3370;
        case 3370:
            s.width -= 82;
            s.crop_left += 15;
            if (s.height > 2480) {
                s.crop_top = 10;
                s.height = 2470;
            }
            s.cfa_pattern = 0x49494949;
            defect_table(s, "DMC-FZ18");
            return 0;
        case 3690:
            s.height -= 2;
            s.crop_left = -14;
            s.white_level = 0xf7f0;
            return 3770;
        case 3770:
            s.width = 3672;
            if (--s.height == 2798) {
                s.height = 2760;
                s.crop_top = 15;
            } else {
                s.cfa_pattern = 0x49494949;
            }
            s.crop_left += 17;
            defect_table(s, "DMC-FZ50");
            return 0;
        case 3710:
            s.width = 3682;
            s.cfa_pattern = 0x49494949;
            return 0;
        case 3724: s.width -= 14; return 3836;
        case 3836: s.width -= 42; return kLx3Pattern;
        case kLx3Pattern:
            s.cfa_pattern = 0x16161616;
            if (!make_is(s, "Panasonic")) table(s, "DMC-LX3");
            return 0;
        case 3880:
            s.width -= 22;
            s.crop_left = 6;
            defect_table(s, "DMC-LX1");
            return 0;
        case 4060:
            s.width = 3982;
            if (s.height == 2250) return kLx3Pattern;
            s.width = 4018;
            s.cfa_pattern = 0x16161616;
            if (model_starts(s, "DMC-FZ3")) {
                s.height -= 2;
                return 0;
            }
            s.cfa_pattern = 0x49494949;
            if (!model_is(s, "DMC-GH1")) defect_table(s, "DMC-G1");
            return 0;
        case 4172:
        case 4396:
            s.width -= 28;
            s.cfa_pattern = 0x49494949;
            defect_table(s, "DMC-FZ35");
            return 0;
        case 4290:
            s.height += 38;
            s.crop_left = -14;
            s.cfa_pattern = 0x49494949;
            return 4330;
        case 4330:
            s.width = 4248;
            if ((s.height -= 39) == 2400) s.crop_top = 15;
            s.crop_left += 17;
            table(s, "DMC-LX2");
            return 0;
        case 4508:
            s.height -= 6;
            s.width = 4429;
            s.cfa_pattern = 0x16161616;
            table(s, "DMC-FX150");
            return 0;
        default: return 0;
    }
}

}  // namespace

bool panasonic_rules(DecoderSession& s) {
    if (!make_is(s, "LEICA") && !make_is(s, "Panasonic")) return false;
    s.white_level = 0xfff0;
    // Block-coded data fills exactly height rows of width * 8 / 7 bytes.
    const int64_t row_bytes = int64_t(s.width) * 8 / 7;
    const int64_t data_bytes = s.file_size() - s.raw_offset;
    if (row_bytes >= 1 && s.raw_offset >= 0 && data_bytes > 0 && data_bytes / row_bytes == s.height)
        s.loader = LoaderId::panasonic_block_load_raw;
    if (s.loader == LoaderId::none) s.loader = LoaderId::unpacked_load_raw;
    // Each step names at most one follower and no chain revisits a width.
    int key = s.width;
    for (int step = 0; step < 4 && key != 0; ++step) key = width_settings(s, key);
    return true;
}

}  // namespace ostel::core::rules
