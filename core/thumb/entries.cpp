#include "core/thumb/entries.h"

#include <cstdio>
#include <new>

#include "core/identify/identify.h"
#include "core/identify/limits.h"
#include "core/loaders/dng_levels.h"
#include "core/loaders/loaders.h"
#include "core/processing/preprocess.h"
#include "core/session/core_failure.h"
#include "core/thumb/thumb_writers.h"

namespace ostel::core {

namespace {

// Rotation in degrees, as some containers give it, becomes the Exif code.
void normalise_orientation(DecoderSession& s) {
    switch ((int64_t(s.orientation) + 3600) % 360) {
        case 90: s.orientation = 6; break;
        case 180: s.orientation = 3; break;
        case 270: s.orientation = 5; break;
        default: break;
    }
}

void round_up_to_even(int& v) { v += v & 1; }

// Zero-filled image of image_height x image_width pixels and the auxiliary
// block; sizes are checked in 64 bits before anything is allocated.
void allocate_image(DecoderSession& s) {
    const int64_t pixels = int64_t(s.image_height) * int64_t(s.image_width);
    if (s.image_height < 1 || s.image_width < 1 || pixels * int64_t(sizeof(Pixel4)) > limits::kMaxImageBytes ||
        s.aux_length < 0 || s.aux_length > limits::kMaxImageBytes)
        fail_out_of_memory();
    try {
        s.image.assign(static_cast<size_t>(pixels), Pixel4{});
        if (s.aux_length) s.aux_data.assign(static_cast<size_t>(s.aux_length), 0);
    } catch (const std::bad_alloc&) {
        fail_out_of_memory();
    }
}

bool usable_size(int height, int width) {
    return height >= 1 && width >= 1 && height <= limits::kMaxDimension && width <= limits::kMaxDimension;
}

// State both entries start from: nothing delivered, nothing allocated.
void clear_outputs(DecoderSession& s) {
    s.thumb_kind = 0;
    s.thumb_data.clear();
    s.thumb_data_length = 0;
    s.thumb_bitmap_height = s.thumb_bitmap_width = 0;
    s.image.clear();
    s.aux_data.clear();
    s.output_profile.clear();
    s.output_profile_length = 0;
}

}  // namespace

int decode(DecoderSession& s) {
    s.file_name.clear();
    s.thumb_to_memory = 0;
    clear_outputs(s);
    if (s.input.empty()) {
        std::fprintf(stderr, "File not found\n");
        s.raw_count = 0;
        return 0;
    }

    s.seek(0);
    identify_file(s);
    s.image_writer = ThumbWriterId::image_ppm_tiff;
    if (s.loader == LoaderId::kodak_ycc_load_raw) {
        round_up_to_even(s.height);
        round_up_to_even(s.width);
    }
    if (!s.raw_count) return 0;
    if (!usable_size(s.height, s.width)) {
        s.raw_count = 0;  // nothing a loader could fill
        return 0;
    }

    normalise_orientation(s);
    s.half_grid = (s.cfa_pattern && (s.denoise_threshold != 0 || s.ca_scale[0] != 1.0 || s.ca_scale[2] != 1.0)) ? 1 : 0;
    s.image_height = (s.height + s.half_grid) >> s.half_grid;
    s.image_width = (s.width + s.half_grid) >> s.half_grid;
    for (int i = 0; i < 4; ++i) s.corner_colors[static_cast<size_t>(i)] = s.sensor_color(i >> 1, i & 1);

    allocate_image(s);
    s.seek(s.raw_offset);
    run_loader_and_dng_stored_stage(s);
    apply_dng_black_pattern(s);
    if (s.loader != LoaderId::dng_tiled_load_raw) apply_dng_opcode_lists(s);
    repair_bad_pixels(s);
    // Last: the opcodes and the bad-pixel list speak of the uncropped image.
    apply_dng_default_crop(s);
    return 0;
}

int extract_thumbnail(DecoderSession& s) {
    s.file_name = "zrthumbnail.jpg";
    s.thumb_to_memory = 1;
    clear_outputs(s);
    if (s.input.empty()) {
        std::fprintf(stderr, "File not found\n");
        return 0;
    }

    s.seek(0);
    identify_file(s);
    s.image_writer = ThumbWriterId::image_ppm_tiff;
    if (!s.thumb_offset) {
        std::fprintf(stderr, "%s has no thumbnail.\n", s.file_name.c_str());
        return 0;
    }
    if (!s.raw_count) {
        // A refused file delivers no preview either.
        std::fprintf(stderr, "%s: cannot decode file\n", s.file_name.c_str());
        return 0;
    }

    if (s.thumb_loader != LoaderId::none) {
        // A preview stored as raw data: decode it with its own loader.
        s.loader = s.thumb_loader;
        s.raw_offset = s.thumb_offset;
        s.height = s.thumb_height;
        s.width = s.thumb_width;
        s.cfa_pattern = 0;
        if (s.loader == LoaderId::kodak_ycc_load_raw) {
            round_up_to_even(s.height);
            round_up_to_even(s.width);
        }
        if (!usable_size(s.height, s.width)) {
            std::fprintf(stderr, "%s: cannot decode the thumbnail\n", s.file_name.c_str());
            return 0;
        }
        normalise_orientation(s);
        s.image_width = s.width;
        s.image_height = s.height;
        s.half_grid = 0;
        allocate_image(s);
        s.seek(s.raw_offset);
        run_loader(s, s.loader);
        repair_bad_pixels(s);
        if (s.document_mode < 2) balance_and_scale(s);
        if (s.half_grid) s.cfa_pattern = 0;
        // The Lab conversion tables are built by whoever converts
        // (CielabConverter); nothing is precomputed in the session.
        return 1;
    }

    s.seek(s.thumb_offset);
    s.image_writer = s.thumb_writer;
    run_thumb_writer(s, s.image_writer);
    // The file and the raw buffers are no longer needed; the session still
    // owns the input and releases it exactly once when it is destroyed.
    s.output_profile.clear();
    s.output_profile_length = 0;
    s.image.clear();
    return 0;
}

}  // namespace ostel::core
