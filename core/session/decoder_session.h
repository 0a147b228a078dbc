#pragma once
// Per-file state of the raw decoding core. One session is made for each file
// that is opened (a full decode, or a thumbnail and shooting-data read) and
// dropped once the caller has copied out what it needs. Nothing in the core is
// global: all state of identification, the parsers, the bit reader and the
// loaders lives here.
//
// Fields are public, as in a plain record; the core's operations are free
// functions taking the session (grouped by role in the neighbouring folders).
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/loaders/loader_id.h"
#include "core/session/byte_source.h"
#include "core/session/large_buffer.h"
#include "core/tiff/tiff_state.h"

namespace ostel::core {

using Pixel4 = std::array<uint16_t, 4>;

// State of the MSB-first bit reader shared by all compressed loaders.
struct BitReaderState {
    uint32_t buffer = 0;   // bit buffer
    int valid_bits = 0;    // may go negative after the data ran out
    int marker_reached = 0;
};

class DecoderSession {
public:
    DecoderSession();
    DecoderSession(const DecoderSession&) = delete;
    DecoderSession& operator=(const DecoderSession&) = delete;

    // ---- 1. Input -------------------------------------------------------
    ByteSource input;                 // the whole file, owned by the session
    uint16_t byte_order = 0x4949;     // 0x4949 "II" little-endian, else big-endian
    int short_read_count = 0;         // data-error counter
    std::string refusal_reason;       // why a file was refused, where more can be said than its kind
    std::string file_name;            // used for the companion JPEG and messages
    std::string bad_pixel_folder;     // where the ".badpixels" search starts; empty: the current directory

    // ---- 2. Identity (NUL-terminated) ----------------------------------
    char make[64] = {};
    char model[64] = {};
    char model_extra[64] = {};
    char artist[64] = {};
    char description[512] = {};
    char color_letters[5] = {};

    // ---- 3. Shot data ---------------------------------------------------
    float iso = 0, exposure_time = 0, f_number = 0, focal_length = 0;
    int64_t capture_time = 0;         // seconds since 1970 in the file's clock
    // Stops a DNG asks to add to the exposure (its sensor's headroom). Offered
    // to the user as the exposure default; the develop never applies it alone.
    double baseline_exposure = 0;
    uint32_t frame_number = 0, model_id = 0;
    std::array<uint32_t, 32> gps_words{};

    // ---- 4. Geometry ----------------------------------------------------
    int stored_height = 0, stored_width = 0;
    int height = 0, width = 0;
    int crop_top = 0, crop_left = 0;
    int image_height = 0, image_width = 0;
    int half_grid = 0;
    int diagonal_width = 0, diagonal_layout = 0;
    double pixel_aspect = 1.0;
    int tile_width = 0x7FFFFFFF, tile_length = 0x7FFFFFFF;
    int orientation = -1;
    int container_orientation = -1;

    // ---- 5. Colour filter -----------------------------------------------
    uint32_t cfa_pattern = 0xFFFFFFFF;
    int color_count = 3;
    uint32_t exif_cfa_pattern = 0;
    std::array<int, 4> corner_colors{};

    // ---- 6. Levels ------------------------------------------------------
    int black_level = 0;
    int white_level = 0;
    uint16_t white_patch[8][8] = {};
    std::vector<uint16_t> lin_table;  // 65536 entries
    std::array<uint16_t, 3> ljpeg_slices{};
    std::array<uint16_t, 4> sraw_scale{};

    // ---- 7. Colour ------------------------------------------------------
    float as_shot_mul[4] = {0, 1, 0, 0};
    float daylight_mul[4] = {1, 1, 1, 0};
    float file_matrix[3][4] = {};
    float cam_to_out[3][4] = {};
    int no_camera_matrix = 1;
    float xyz_to_cam[3][3] = {};
    float final_matrix[3][4] = {};  // camera colours to the output space; column 3 for four colours
    std::vector<uint8_t> output_profile;  // built-in output profile bytes
    int output_profile_length = 0;

    // ---- 8. Loading -----------------------------------------------------
    int64_t raw_offset = 0;
    int64_t aux_offset = 0;
    int64_t aux_length = 0;
    std::vector<uint8_t> aux_data;
    int bits_per_sample = 0;
    int compression = 0;
    int samples_per_pixel = 0;
    int kodak_bits_code = 0;
    int ff_stuffing = 0;
    uint32_t dng_version = 0;
    TiffIfd raw_directory;            // the directory the raw data was chosen from
    // The stored values a DNG loader passes in the raw directory's masked
    // areas, counted per value and colour (per sample without a colour
    // filter), for a black level measured there; no areas when none is to
    // be measured.
    struct MaskedSums {
        std::vector<std::array<int, 4>> areas;  // top, left, bottom, right in stored sites
        std::vector<uint64_t> counts;           // 4 x 65536 when areas are given
        bool covers(int row, int col) const {
            for (const auto& a : areas)
                if (row >= a[0] && col >= a[1] && row < a[2] && col < a[3]) return true;
            return false;
        }
        void add(int row, int col, int colour, unsigned v) {
            if (colour < 0 || colour > 3 || v > 65535 || counts.empty() || !covers(row, col)) return;
            ++counts[size_t(colour) << 16 | v];
        }
    } masked_sums;
    // Where the image lies in a DNG's active area (its size here) once a
    // trim of the opcode lists or the default crop took its edges: the
    // black pattern, the later opcode lists and the lens corrections done
    // after demosaic speak of the whole active area.
    struct ActiveFrame {
        int top = 0, left = 0, height = 0, width = 0;
    } dng_frame;
    int packing_flags = 0;
    int foveon_file = 0;
    int merge_greens = 0;
    int zero_is_defect = 0;
    int64_t icc_offset = 0;
    int64_t icc_length = 0;
    int raw_count = 1;
    LoaderId loader = LoaderId::none;
    LoaderId thumb_loader = LoaderId::none;
    ThumbWriterId thumb_writer = ThumbWriterId::jpeg;
    ThumbWriterId image_writer = ThumbWriterId::none;
    // Flash and exposure value of the CIFF shot records (PowerShot 600 loader).
    int flash_used = 0;
    double exposure_value = 0;
    // Private values of a Phase One file, set by its container parser and
    // read by the Phase One loaders and their calibration pass.
    struct PhaseOneState {
        int format = 0;              // storage format code
        int64_t key_offset = 0;      // position of the two 16-bit pixel keys
        int64_t strip_offset = 0;    // per-row offset table (compressed formats)
        int64_t black_offset = 0;    // per-row black table, 0 when absent
        int black = 0;               // block black level
        int split_col = 0;           // first column of the right sensor half
        int tag_21a = 0;             // calibration selector value
        float sensor_temp = 0;       // sensor temperature
    } phase_one;
    int verbose = 0;                  // progress messages on the standard error stream

    // ---- 9. Thumbnail ---------------------------------------------------
    int64_t thumb_offset = 0;
    int64_t thumb_length = 0;
    int thumb_width = 0, thumb_height = 0;
    int thumb_format = 0;
    std::vector<uint8_t> thumb_data;
    int64_t thumb_data_length = 0;    // bytes delivered in thumb_data
    int thumb_kind = 0;               // 0 none, 1 JPEG bytes, 2 BGR0 bitmap
    int thumb_to_memory = 0;
    int thumb_bitmap_height = 0, thumb_bitmap_width = 0;

    // ---- 10. Image ------------------------------------------------------
    LargeBuffer<Pixel4> image;        // image_height x image_width

    // ---- 11. Options and constants -------------------------------------
    float denoise_threshold = 0;
    int half_size = 0;
    double ca_scale[4] = {1, 1, 1, 1};
    int document_mode = 0;
    int use_as_shot_wb = 1;
    int use_auto_balance = 0;
    float custom_mul[4] = {0, 0, 0, 0};
    uint32_t gray_box[4] = {0, 0, 0xFFFFFFFF, 0xFFFFFFFF};
    int output_space = 1;
    int output_bits = 16;
    int output_as_tiff = 0;
    int shot_index = 0;
    int highlight_mode = 0;           // highlight handling switch of the processing steps
    int apply_scaling = 0;            // 0: balance_and_scale only computes multipliers
    int four_color_rgb = 0;           // keep the two greens apart as a fourth colour
    double srgb_to_xyz[3][3] = {{0.412453, 0.357580, 0.180423},
                                {0.212671, 0.715160, 0.072169},
                                {0.019334, 0.119193, 0.950227}};
    float d65_white[3] = {0.950456f, 1.0f, 1.088754f};

    // ---- Shared decoder state --------------------------------------------
    BitReaderState bits;
    int parse_depth = 0;              // nesting depth shared by all parsers
    TiffState tiff;                   // directories of the current TIFF walk

    // ---- Input primitives ----------------------------------------------
    bool little_endian() const { return byte_order == 0x4949; }
    uint16_t get2(const uint8_t* b) const;   // decode two bytes in the file's order
    uint32_t get4(const uint8_t* b) const;
    uint16_t read_u16();
    uint32_t read_u32();
    uint32_t read_uint(int type);
    double read_real(int type);
    // Reads count values; a short read is counted in short_read_count.
    void read_u16_block(uint16_t* buf, size_t count);
    void read_ifd_entry(int64_t base, unsigned& tag, unsigned& type, unsigned& count, int64_t& save);
    void read_date_text(bool reversed);
    // Position of a 4-character string within the first 32 header bytes, or -1.
    static int find_4cc(const uint8_t* header, size_t header_len, const char* four);

    // Stream helpers (bounded by the in-memory file).
    void seek(int64_t offset, int whence = SEEK_SET) { input.seek(offset, whence); }
    int64_t tell() const { return input.tell(); }
    int getc() { return input.getc(); }
    size_t read(void* dest, size_t item, size_t count) { return input.read(dest, item, count); }
    int64_t file_size() const { return input.size(); }

    // Colour filter helpers.
    int filter_color(int row, int col) const {
        return (cfa_pattern >> ((((row << 1) & 14) | (col & 1)) << 1)) & 3;
    }
    int sensor_color(int row, int col) const;
    // Stores value at a visible-area position in the plane of its colour.
    void bayer_store(int row, int col, uint16_t value) {
        if (row < 0 || col < 0 || row >= height || col >= width) return;
        const size_t index = static_cast<size_t>(row >> half_grid) * static_cast<size_t>(image_width) +
                             static_cast<size_t>(col >> half_grid);
        if (index < image.size()) image[index][filter_color(row, col)] = value;
    }
    Pixel4* image_row(int row) { return image.data() + static_cast<size_t>(row) * static_cast<size_t>(image_width); }

    // Resets every per-file field before identification reads anything.
    void reset_for_identification();
};

// The fixed 16x16 colour map used when cfa_pattern is 1.
extern const uint8_t kColorMap16[16][16];

// Copies a C string into a fixed array, always terminated.
template <size_t N>
inline void set_text(char (&dest)[N], const char* src) {
    std::strncpy(dest, src, N - 1);
    dest[N - 1] = 0;
}

}  // namespace ostel::core
