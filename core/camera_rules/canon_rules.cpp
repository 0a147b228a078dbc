// Canon: the compacts by model name, then the bodies told apart by the width
// of their stored sensor array.
#include <array>

#include "core/camera_rules/camera_rules.h"
#include "core/camera_rules/rule_groups.h"
#include "core/identify/parsers.h"

namespace ostel::core::rules {

namespace {

// 10-bit packed data of the compacts; the wider sensors mark dead pixels
// with zero.
void packed_compact_tail(DecoderSession& s) {
    s.bits_per_sample = 10;
    s.loader = LoaderId::packed_bits_load_raw;
    s.packing_flags = 40;
    if (s.stored_width > 1600) s.zero_is_defect = 1;
}

// The four-colour compacts share everything from the colour count on.
void four_colour_compact_tail(DecoderSession& s) {
    s.color_count = 4;
    packed_compact_tail(s);
}

struct CompactRow {
    const char* model;
    int height, width, raw_height, raw_width, top, left;
};

// Compacts whose files were recognised by size; all end in the packed tail.
constexpr std::array<CompactRow, 12> kCompacts = {{
    {"PowerShot SD300", 1752, 2344, 1766, 2400, 12, 12},
    {"PowerShot A460", 1960, 2616, 1968, 2664, 4, 4},
    {"PowerShot A530", 1984, 2620, 1992, 2672, 6, 10},
    {"PowerShot A610", 1960, 2616, 1968, 2672, 8, 12},
    {"PowerShot A620", 2328, 3112, 2340, 3152, 12, 36},
    {"PowerShot A470", 2328, 3096, 2346, 3152, 6, 12},
    {"PowerShot A720", 2472, 3298, 2480, 3336, 5, 6},
    {"PowerShot A630", 2472, 3288, 2484, 3344, 6, 12},
    {"PowerShot A640", 2760, 3672, 2772, 3736, 6, 12},
    {"PowerShot A650", 3024, 4032, 3048, 4104, 12, 48},
    {"PowerShot S3 IS", 2128, 2840, 2136, 2888, 8, 44},
    {"PowerShot SX110 IS", 2760, 3684, 2772, 3720, 12, 6},
}};

bool canon_model_rules(DecoderSession& s) {
    if (model_is(s, "PowerShot 600")) {
        set_size(s, 613, 854);
        s.stored_width = 896;
        s.pixel_aspect = 607 / 628.0;
        s.color_count = 4;
        s.cfa_pattern = 0xe1e4e1e4;
        s.loader = LoaderId::canon_600_loader;
        return true;
    }
    if (model_is(s, "PowerShot A5") || model_is(s, "PowerShot A5 Zoom")) {
        set_size(s, 773, 960);
        s.stored_width = 992;
        s.pixel_aspect = 256 / 235.0;
        s.cfa_pattern = 0x1e4e1e4e;
        four_colour_compact_tail(s);
        return true;
    }
    if (model_is(s, "PowerShot A50")) {
        set_size(s, 968, 1290);
        s.stored_width = 1320;
        s.cfa_pattern = 0x1b4e4b1e;
        four_colour_compact_tail(s);
        return true;
    }
    if (model_is(s, "PowerShot Pro70")) {
        set_size(s, 1024, 1552);
        s.cfa_pattern = 0x1e4b4e1b;
        four_colour_compact_tail(s);
        return true;
    }
    for (const CompactRow& row : kCompacts) {
        if (!model_is(s, row.model)) continue;
        set_size(s, row.height, row.width);
        s.stored_height = row.raw_height;
        s.stored_width = row.raw_width;
        s.crop_top = row.top;
        s.crop_left = row.left;
        // The S2 IS writes files of the A610's size; its data is brighter.
        if (model_is(s, "PowerShot A610") && canon_s2is_test(s)) set_text(s.model, "PowerShot S2 IS");
        packed_compact_tail(s);
        if (model_is(s, "PowerShot SX110 IS")) s.zero_is_defect = 1;
        return true;
    }
    if (model_is(s, "PowerShot Pro90 IS")) {
        s.width = 1896;
        s.color_count = 4;
        s.cfa_pattern = 0xb4b4b4b4;
        return true;
    }
    return false;
}

struct WidthRow {
    int raw_width, height, width, top, left;
};

// Older bodies: fixed visible size and margins by stored width.
constexpr std::array<WidthRow, 7> kFirstWidthGroup = {{
    {2144, 1550, 2088, 8, 4},
    {2224, 1448, 2176, 6, 48},
    {2376, 1720, 2312, 6, 12},
    {2672, 1960, 2616, 6, 12},
    {3152, 2056, 3088, 12, 64},
    {3160, 2328, 3112, 12, 44},
    {3344, 2472, 3288, 6, 4},
}};

bool canon_first_width_group(DecoderSession& s) {
    for (const WidthRow& row : kFirstWidthGroup) {
        if (row.raw_width != s.stored_width) continue;
        set_size(s, row.height, row.width);
        s.crop_top = row.top;
        s.crop_left = row.left;
        if (row.raw_width == 2144 && model_is(s, "PowerShot G1")) {
            s.color_count = 4;
            s.cfa_pattern = 0xb4b4b4b4;
        }
        if (row.raw_width == 3152 && s.model_id == 0x80000170) apply_camera_table(s, "Canon", "EOS 300D");
        return true;
    }
    return false;
}

struct LaterWidthRow {
    int raw_width;
    int height, width;  // 0: keep what the file says
    int top, left;
    int height_loss;    // rows taken off before trimming
    bool trim;          // margins also come off the visible size
    uint32_t cfa;       // 0: keep
};

constexpr std::array<LaterWidthRow, 12> kSecondWidthGroup = {{
    {3516, 0, 0, 14, 42, 0, true, 0},
    {3596, 0, 0, 12, 74, 0, true, 0},
    {3744, 2760, 3684, 16, 8, 0, false, 0},
    {3944, 2602, 3908, 18, 30, 0, false, 0},
    {3948, 0, 0, 18, 42, 2, true, 0},
    {3984, 0, 0, 20, 76, 2, true, 0},
    {4104, 3024, 4032, 12, 48, 0, false, 0},
    {4152, 0, 0, 12, 192, 0, true, 0},
    {4312, 0, 0, 18, 22, 2, true, 0},
    {4476, 0, 0, 34, 90, 0, true, 0},
    {4480, 3326, 4432, 10, 12, 0, false, 0x49494949},
    {5108, 0, 0, 13, 98, 0, true, 0},
}};

struct IdLookup {
    int raw_width;
    uint32_t model_id;
    const char* model;
};

// Bodies whose model text is shared with another market's name.
constexpr std::array<IdLookup, 5> kIdLookups = {{
    {3516, 0x80000189, "EOS 350D"},
    {3948, 0x80000236, "EOS 400D"},
    {3948, 0x80000254, "EOS 1000D"},
    {4312, 0x80000176, "EOS 450D"},
    {1208, 0x80000252, "EOS 500D"},
}};

void lookup_by_id(DecoderSession& s) {
    for (const IdLookup& row : kIdLookups)
        if (row.raw_width == s.stored_width && row.model_id == s.model_id)
            apply_camera_table(s, "Canon", row.model);
}

// Sensors read out as four interleaved slices: the stored width counts one slice.
void widen_slices(DecoderSession& s) {
    s.width = bounded_dim(int64_t(s.width) * 4);
    s.stored_width = s.width;
}

bool canon_second_width_group(DecoderSession& s) {
    for (const LaterWidthRow& row : kSecondWidthGroup) {
        if (row.raw_width != s.stored_width) continue;
        if (row.height) set_size(s, row.height, row.width);
        if (row.cfa) s.cfa_pattern = row.cfa;
        s.height = bounded_dim(int64_t(s.height) - row.height_loss);
        lookup_by_id(s);
        if (row.trim)
            trim_margins(s, row.top, row.left);
        else {
            s.crop_top = row.top;
            s.crop_left = row.left;
        }
        return true;
    }
    switch (s.stored_width) {
        case 1208:
            lookup_by_id(s);
            widen_slices(s);
            trim_margins(s, s.model_id == 0x80000261 ? 51 : 26, 62);
            return true;
        case 1280:
            s.crop_top = 45;
            s.height = bounded_dim(int64_t(s.height) - 45);
            s.crop_left = 142;
            s.stored_width = 5120;
            s.width = 4916;
            return true;
        case 1340:
        case 1448:
            widen_slices(s);
            trim_margins(s, 51, 158);
            return true;
        case 5712:
            set_size(s, 3752, 5640);
            s.crop_top = 20;
            s.crop_left = 62;
            return true;
        default:
            return false;
    }
}

}  // namespace

bool canon_rules(DecoderSession& s) {
    if (canon_model_rules(s)) return true;
    const bool canon = make_is(s, "Canon");
    if (canon && canon_first_width_group(s)) return true;
    if (model_is(s, "EOS D2000C")) {
        s.cfa_pattern = 0x61616161;
        s.black_level = s.lin_table.size() > 200 ? s.lin_table[200] : 0;
        return true;
    }
    return canon && canon_second_width_group(s);
}

}  // namespace ostel::core::rules
