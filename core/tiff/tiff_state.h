#pragma once
// Candidate images collected by one TIFF tree walk, and the state that lives
// only while one directory is being walked.
#include <array>
#include <cstdint>

namespace ostel::core {

// Where a directory entry's values lie in the file: read back once the
// directory holding the raw data is known.
struct TagRef {
    int64_t at = 0;
    uint32_t type = 0, count = 0;
    bool present() const { return count > 0; }
};

// Entries of a DNG raw directory whose values belong to that directory alone
// (a preview directory carries its own levels, tiles and opcodes).
enum class DngRef : uint8_t {
    tile_offsets,
    tile_counts,
    sample_format,
    predictor,
    linearisation,
    black_repeat,
    black,
    black_delta_h,
    black_delta_v,
    white,
    active_area,
    masked_areas,
    crop_origin,
    crop_size,
    opcodes1,
    opcodes2,
    opcodes3,
    count_
};

struct TiffIfd {
    int32_t width = 0, height = 0, bits = 0, compression = 0, photometric = 0;
    int64_t offset = 0;
    int32_t orientation = 0, samples = 0;
    int64_t bytes = 0;
    int32_t tile_width = 0, tile_length = 0, rows_per_strip = 0;
    std::array<TagRef, static_cast<size_t>(DngRef::count_)> refs{};
    const TagRef& ref(DngRef r) const { return refs[static_cast<size_t>(r)]; }
};

struct TiffState {
    static constexpr int kMaxIfds = 10;
    // Total work (entries walked plus bytes scanned by the larger handlers)
    // that one file may cost; keeps self-referencing trees from multiplying.
    static constexpr int64_t kWorkBudget = int64_t(1) << 24;

    std::array<TiffIfd, kMaxIfds> ifds{};
    int ifd_count = 0;
    int tree_depth = 0;              // nested tree walks in progress
    int64_t work_left = kWorkBudget;
};

// State private to the walk of one directory; starts fresh for every directory.
struct IfdWalkState {
    uint8_t cfa_bytes[16] = {};
    int cfa_count = 16;
    uint8_t plane_map[4] = {0, 1, 2, 3};
    bool has_color_matrix = false;
    double calibration[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    double analog_balance[4] = {1, 1, 1, 1};
    double as_shot_neutral[4] = {0, 0, 0, 0};
    double xyz_white[3] = {1, 1, 1};
    double color_matrix[4][3] = {};
    // Both calibrations of a dual-illuminant profile, kept apart so that the
    // matrix can be interpolated for the shot's white.
    double color_matrices[2][4][3] = {};
    double calibrations[2][4][4] = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}},
                                    {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    double forward_matrices[2][3][4] = {};
    bool has_matrix[2] = {false, false};
    bool has_forward[2] = {false, false};
    int illuminant[2] = {0, 0};
    double as_shot_xy[2] = {0, 0};
    bool profile_set_white = false;  // the white came with the interpolated profile
    int64_t imacon_length = 0;
    int64_t sony_offset = 0;
    uint32_t sony_length = 0;
    uint32_t sony_key = 0;
    int curve_breaks[6] = {0, 0, 0, 0, 0, 4095};
};

}  // namespace ostel::core
