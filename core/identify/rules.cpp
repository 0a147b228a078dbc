// Rules identification applies itself around the per-camera chain: DNG
// handling, the maker-wide rules, and the finishing of every file.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/identify/identify_steps.h"
#include "core/identify/parsers.h"
#include "core/loaders/dng_levels.h"

namespace ostel::core {

namespace {

double first_entry_value(DecoderSession& s, const TagRef& ref) {
    const std::vector<double> v = read_entry_numbers(s, ref, 1);
    return v.empty() ? 0 : v[0];
}

// Why the raw data of a DNG cannot be read, or null when it can.
const char* dng_data_refusal(const DecoderSession& s, bool floating_point) {
    const int bits = s.bits_per_sample;
    if (floating_point ? !(bits == 16 || bits == 24 || bits == 32) : (bits < 1 || bits > 32))
        return "DNG samples of this bit depth cannot be read";
    switch (s.compression) {
        case 1: case 8: case 32946: return nullptr;
        case 52546:
            if (!floating_point && bits > 16) return "DNG JPEG XL data deeper than 16 bits cannot be decoded";
            return nullptr;
        case 34892:
            if (bits != 8) return "DNG lossy JPEG data deeper than 8 bits cannot be decoded";
            return nullptr;
        case 7: return "DNG lossless JPEG data deeper than 16 bits or floating point cannot be decoded";
        default: return "DNG compression of unknown kind";
    }
}

// Tiles, black and white belong to the raw directory: a preview directory
// walked after it must not lend it its tile size, nor add its own black
// level to the raw one's or replace its white level.
void take_raw_directory_layout(DecoderSession& s, const TiffIfd& d) {
    if (d.tile_width > 0 && d.tile_length > 0) {
        s.tile_width = d.tile_width;
        s.tile_length = d.tile_length;
    } else if (d.tile_width == 0 && d.tile_length == 0) {
        s.tile_width = s.tile_length = 0x7FFFFFFF;
    }
    if (d.ref(DngRef::black).present()) {
        int black = 0;
        for (const DngRef r : {DngRef::black, DngRef::black_delta_h, DngRef::black_delta_v}) {
            const std::vector<double> v = read_entry_numbers(s, d.ref(r), 1u << 16);
            if (v.empty()) continue;
            double sum = 0;
            for (double x : v) sum += x;
            const double mean = sum / double(v.size()) + 0.5;
            if (std::isfinite(mean) && std::fabs(mean) <= 65536.0) black += static_cast<int>(mean);
        }
        s.black_level = black;
    }
    const double white = first_entry_value(s, d.ref(DngRef::white));
    if (white >= 1 && white <= 0x7FFFFFFF) s.white_level = static_cast<int>(white);
}

}  // namespace

void apply_dng_rules(DecoderSession& s) {
    if (s.cfa_pattern == 0xFFFFFFFF) s.cfa_pattern = 0;
    // A refusal by the tree walk stands: the sample count must not revive it.
    if (s.cfa_pattern) {
        if (s.raw_count) s.raw_count = s.samples_per_pixel;  // one shot per sample plane
    } else {
        s.color_count = s.samples_per_pixel;
    }
    const TiffIfd& d = s.raw_directory;
    take_raw_directory_layout(s, d);
    const bool floating_point = first_entry_value(s, d.ref(DngRef::sample_format)) == 3;
    if (s.compression == 1 && !floating_point && s.bits_per_sample <= 16) {
        // The row loader reads rows one after another from the data offset;
        // tiles (whose offset is a list, not pixel data) go to the tile loader.
        const bool tiled = s.tile_width != 0x7FFFFFFF || s.tile_length != 0x7FFFFFFF;
        const bool one_tile_of_whole_rows = s.tile_width == s.stored_width && s.tile_length >= s.stored_height;
        s.loader = tiled && !one_tile_of_whole_rows ? LoaderId::dng_tiled_load_raw : LoaderId::adobe_dng_load_raw_nc;
    } else if (s.compression == 7 && !floating_point && s.bits_per_sample <= 16) {
        s.loader = LoaderId::dng_lossless_tiles_load_raw;
    } else if (const char* why = dng_data_refusal(s, floating_point)) {
        s.raw_count = 0;
        s.refusal_reason = why;
    } else {
        s.loader = LoaderId::dng_tiled_load_raw;
        // The loader maps every sample onto 0..65535 whatever the file's
        // white level (floating-point files may state none).
        if (s.white_level <= s.black_level) s.white_level = 65535;
    }
}

bool apply_maker_rules(DecoderSession& s, const uint8_t (&header)[kHeaderBytes]) {
    const bool canon = std::strcmp(s.make, "Canon") == 0;
    if (canon)
        s.loader = std::memcmp(header + 6, "HEAPCCDR", 8) == 0 ? LoaderId::canon_compressed_load_raw
                                                                 : LoaderId::lossless_image_load_raw;
    if (std::strcmp(s.make, "NIKON") == 0) {
        if (s.loader == LoaderId::none) s.loader = LoaderId::packed_bits_load_raw;
        if (s.model[0] == 'E') {
            s.packing_flags |= 2;
            if (s.raw_offset == 0) s.packing_flags |= 4;
        }
    }
    if (std::strcmp(s.make, "CASIO") == 0) {
        s.loader = LoaderId::packed_bits_load_raw;
        s.white_level = 3967;
    }
    if (s.foveon_file) {
        if (s.height * 2 < s.width) s.pixel_aspect = 0.5;
        if (s.height > s.width) s.pixel_aspect = 2;
        // No loader for these sensors: refused.
        s.cfa_pattern = 0;
        s.loader = LoaderId::none;
        s.raw_count = 0;
    }
    if (canon && s.bits_per_sample == 15) {
        // Reduced-size raw: luma and chroma samples, no colour filter.
        if (s.width == 3344) s.width -= 66 + 6;
        if (s.width == 3872) s.width -= 6;
        s.cfa_pattern = 0;
        s.loader = LoaderId::sraw_ycc_load_raw;
        return false;
    }
    return true;
}

void finish_non_dng(DecoderSession& s) {
    if (!s.model[0]) std::snprintf(s.model, sizeof s.model, "%dx%d", s.width, s.height);
    if (s.cfa_pattern == 0xFFFFFFFF) s.cfa_pattern = 0x94949494;
    if (s.no_camera_matrix) {
        apply_camera_table(s, s.make, s.model);
        if (s.loader == LoaderId::kodak_radc_stream_load_raw && s.no_camera_matrix)
            apply_camera_table(s, "Apple", "Quicktake");
    }
    if (s.thumb_offset && !s.thumb_height) {
        int w = 0, h = 0;
        if (read_jpeg_frame_size(s, s.thumb_offset, w, h)) {
            s.thumb_width = w;
            s.thumb_height = h;
        }
    }
}

uint32_t split_second_green(uint32_t pattern) {
    for (int shift = 0; shift < 32; shift += 4) {
        const uint32_t group = (pattern >> shift) & 15;
        if (group == 9) pattern |= 2u << shift;
        if (group == 6) pattern |= 8u << shift;
    }
    return pattern;
}

void finish_common(DecoderSession& s) {
    if (s.bits_per_sample == 0) s.bits_per_sample = 12;
    // Wider samples are refused by the guards; no shift past the word here.
    if (s.white_level == 0 && s.bits_per_sample > 0 && s.bits_per_sample <= 16)
        s.white_level = (1 << s.bits_per_sample) - 1;
    if (s.loader == LoaderId::none || s.height < 22) s.raw_count = 0;
    if (s.loader == LoaderId::kodak_jpeg_loader) s.raw_count = 0;
    if (!s.color_letters[0]) set_text(s.color_letters, s.color_count == 3 ? "RGB" : "GMCY");
    if (s.stored_height == 0) s.stored_height = s.height;
    if (s.stored_width == 0) s.stored_width = s.width;
    if (s.cfa_pattern && s.color_count == 3) s.cfa_pattern = split_second_green(s.cfa_pattern);
}

}  // namespace ostel::core
