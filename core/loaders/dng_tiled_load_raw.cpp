// DNG data in tiles or strips that the lossless-JPEG and plain-row loaders
// do not read: DCT JPEG, deflate (integer or floating point, with the
// predictors), JPEG XL, tiled plain data and samples deeper than 16 bits.
// Every sample goes through the directory's own levels (linearisation,
// black with its pattern and deltas, white per sample) onto the 16-bit
// range, so the image leaves here with black 0 and white 65535; opcode
// list 1 applies to the stored values before that, lists 2 and 3 after.
#include <algorithm>
#include <cmath>
#include <exception>

#include "core/loaders/dng_levels.h"
#include "core/loaders/dng_opcodes.h"
#include "core/loaders/dng_tile_codecs.h"
#include "core/loaders/loaders.h"

namespace ostel::core {

namespace {

// More tiles than this cannot belong to an image of the allowed size.
constexpr int64_t kMaxTiles = int64_t(1) << 20;

// Tiles decoded side by side before they are placed: at most this many,
// of at most this many samples together (a single larger tile makes a
// batch of its own).
constexpr size_t kBatchTiles = 256;
constexpr int64_t kBatchSamples = int64_t(1) << 25;

// One tile's data, where it goes, and what decoding it gave.
struct TileJob {
    int64_t y0 = 0, x0 = 0;      // stored position of its first sample
    int64_t at = 0, length = 0;  // its data in the file; no length: none
    bool cut = false;            // the data ran past the end of the file
    DngTileLayout layout;
    DngTile tile;
    bool decoded = false;
    std::string why;
    std::exception_ptr failure;
};

uint16_t level16(double fraction) {
    if (!(fraction > 0)) return 0;
    if (fraction >= 1) return 65535;
    return static_cast<uint16_t>(fraction * 65535.0 + 0.5);
}

int first_value(DecoderSession& s, const TagRef& ref, int fallback) {
    const std::vector<double> v = read_entry_numbers(s, ref, 1);
    return v.empty() ? fallback : static_cast<int>(v[0]);
}

bool decode_tile(int compression, const uint8_t* data, size_t size, const DngTileLayout& layout, DngTile& tile,
                 std::string& why) {
    switch (compression) {
        case 1: return decode_plain_tile(data, size, layout, tile, why);
        case 8: case 32946: return decode_deflate_tile(data, size, layout, tile, why);
        case 34892: return decode_dct_jpeg_tile(data, size, tile, why);
        case 52546: return decode_jpeg_xl_tile(data, size, layout, tile, why);
        default: why = "compression " + std::to_string(compression); return false;
    }
}

// Writes one tile's samples into the image at stored position (y0, x0):
// mapped between black and white, or as stored (clamped to 16 bits) when
// opcode list 1 or a measured black are still to come. Samples of the
// masked areas are counted for the black measured there.
void place_tile(DecoderSession& s, const DngTile& tile, const DngLevels& levels, int64_t y0, int64_t x0, int samples,
                bool as_stored) {
    const int64_t rows = std::min<int64_t>(tile.height, s.stored_height - y0);
    const int64_t cols = std::min<int64_t>(tile.width, s.stored_width - x0);
    const int planes = std::min(samples, tile.samples);
    const auto value = [&](int row, int col, int k, double v) {
        return as_stored ? uint16_t(std::clamp(v, 0.0, 65535.0)) : level16(levels.fraction(row, col, k, v));
    };
    const bool measuring = !s.masked_sums.areas.empty();
    for (int64_t r = 0; r < rows; ++r) {
        const int row = static_cast<int>(y0 + r - s.crop_top);
        const bool row_visible = row >= 0 && row < s.height;
        if (!row_visible && !measuring) continue;
        for (int64_t c = 0; c < cols; ++c) {
            const int col = static_cast<int>(x0 + c - s.crop_left);
            if (!row_visible || col < 0 || col >= s.width) {
                if (measuring)
                    for (int k = 0; k < (s.cfa_pattern ? 1 : std::min(planes, 4)); ++k)
                        s.masked_sums.add(int(y0 + r), int(x0 + c), s.cfa_pattern ? s.filter_color(row & 15, col & 15) : k,
                                          unsigned(std::clamp(double(tile.at(int(r), int(c), k)), 0.0, 65535.0)));
                continue;
            }
            if (s.cfa_pattern) {
                s.bayer_store(row, col, value(row, col, 0, tile.at(int(r), int(c), 0)));
                continue;
            }
            const size_t index = size_t(row) * size_t(s.image_width) + size_t(col);
            if (index >= s.image.size()) continue;
            for (int k = 0; k < planes && k < 4; ++k)
                s.image[index][size_t(k)] = value(row, col, k, tile.at(int(r), int(c), k));
        }
    }
}

// A decoded tile must fill the part of its place that lies inside the
// image. Codecs that take their size from the stream (DCT JPEG) may hand
// back less, which would leave pixels empty without a word.
bool covers_its_place(const DecoderSession& s, const TileJob& job) {
    const int64_t rows = std::min<int64_t>(job.layout.height, s.stored_height - job.y0);
    const int64_t cols = std::min<int64_t>(job.layout.width, s.stored_width - job.x0);
    return job.tile.height >= rows && job.tile.width >= cols;
}

}  // namespace

void dng_tiled_load_raw(DecoderSession& s) {
    const TiffIfd& d = s.raw_directory;
    if (s.image.empty() || s.stored_width < 1 || s.stored_height < 1) {
        count_undecodable(s);
        return;
    }
    DngTileLayout layout;
    layout.floating_point = first_value(s, d.ref(DngRef::sample_format), 1) == 3;
    layout.predictor = first_value(s, d.ref(DngRef::predictor), 1);
    layout.bits = d.bits;
    layout.samples = std::clamp(d.samples, 1, 4);
    layout.little_endian = s.little_endian();
    const bool tiled = d.tile_width > 0 && d.tile_length > 0;
    layout.width = tiled ? d.tile_width : s.stored_width;
    const int strip_rows = d.rows_per_strip > 0 ? std::min(d.rows_per_strip, s.stored_height) : s.stored_height;
    const int tile_rows = tiled ? d.tile_length : strip_rows;
    const int64_t across = (int64_t(s.stored_width) + layout.width - 1) / layout.width;
    const int64_t down = (int64_t(s.stored_height) + tile_rows - 1) / tile_rows;
    const int64_t tiles = across * down;
    if (tiles > kMaxTiles) {
        count_undecodable(s);
        return;
    }
    const std::vector<double> offsets = read_entry_numbers(s, d.ref(DngRef::tile_offsets), size_t(tiles));
    const std::vector<double> counts = read_entry_numbers(s, d.ref(DngRef::tile_counts), size_t(tiles));
    if (int64_t(offsets.size()) < tiles) count_undecodable(s);  // tiles without data stay empty

    DngLevels levels = read_dng_levels(s, d, layout.floating_point);
    // Opcode list 1 and a black measured in the masked areas need the
    // stored values first; only integer samples of up to 16 bits are kept
    // that way.
    const bool list1 = d.ref(DngRef::opcodes1).present();
    const bool storable = !layout.floating_point && d.bits <= 16;
    if (!storable) s.masked_sums = DecoderSession::MaskedSums{};
    const bool as_stored = storable && (list1 || !s.masked_sums.areas.empty());
    if (list1 && !storable)
        warn_dng(s, "DNG opcode list 1: not applied, it needs integer samples of up to 16 bits");
    const double file_size = double(s.file_size());
    bool told = false;
    for (size_t first = 0; first < offsets.size();) {
        // A batch of tiles is decoded side by side, then placed and counted
        // in file order: the image and the counts do not depend on how many
        // threads decoded them.
        std::vector<TileJob> jobs;
        int64_t batch_samples = 0;
        for (size_t i = first;
             i < offsets.size() && jobs.size() < kBatchTiles && (jobs.empty() || batch_samples < kBatchSamples); ++i) {
            TileJob job;
            job.y0 = int64_t(i) / across * tile_rows;
            job.x0 = int64_t(i) % across * layout.width;
            job.layout = layout;
            job.layout.height = tiled ? tile_rows : int(std::min<int64_t>(tile_rows, s.stored_height - job.y0));
            const double at = offsets[i];
            const double length = i < counts.size() ? counts[i] : file_size - at;
            if (at > 0 && at < file_size && length > 0) {
                job.at = int64_t(at);
                job.cut = length > file_size - at;  // cut off: decode what is there
                job.length = job.cut ? s.file_size() - job.at : int64_t(length);
            }
            batch_samples += int64_t(job.layout.width) * job.layout.height * job.layout.samples;
            jobs.push_back(std::move(job));
        }
        first += jobs.size();
        const int compression = s.compression;
        const uint8_t* const data = s.input.data();
#pragma omp parallel for schedule(dynamic)
        for (int64_t j = 0; j < int64_t(jobs.size()); ++j) {
            TileJob& job = jobs[size_t(j)];
            if (job.length == 0) continue;
            // Nothing may leave a parallel region by an exception: it is
            // kept and thrown again once the batch is done.
            try {
                job.decoded =
                    decode_tile(compression, data + job.at, size_t(job.length), job.layout, job.tile, job.why);
            } catch (...) {
                job.failure = std::current_exception();
            }
        }
        for (TileJob& job : jobs) {
            if (job.failure) std::rethrow_exception(job.failure);
            if (job.length == 0) {
                count_undecodable(s);
                continue;
            }
            if (job.cut) ++s.short_read_count;
            if (!job.decoded) {
                if (!told) warn_dng(s, "DNG tile not decoded: " + job.why);
                told = true;
                count_undecodable(s);
                continue;
            }
            if (job.tile.damaged || !covers_its_place(s, job)) ++s.short_read_count;
            place_tile(s, job.tile, levels, job.y0, job.x0, layout.samples, as_stored);
            job.tile = DngTile{};
        }
    }
    if (as_stored) {
        if (list1) apply_dng_opcode_list(s, 1);
        take_masked_black(s, levels, [&levels](unsigned v) { return levels.linear(v); });
        // Levels are placed in the active area, which a trim may have cut.
        const int top = s.dng_frame.top, left = s.dng_frame.left;
        for_each_stored_sample(s, layout.samples, [&](int row, int col, int k, uint16_t& v) {
            v = level16(levels.fraction(row + top, col + left, k, v));
        });
    }
    s.masked_sums = DecoderSession::MaskedSums{};
    s.black_level = 0;
    s.white_level = 65535;
    apply_dng_opcode_lists(s);
}

void apply_dng_opcode_lists(DecoderSession& s) {
    const TiffIfd& d = s.raw_directory;
    if (!s.dng_version || s.image.empty()) return;
    if (!d.ref(DngRef::opcodes2).present() && !d.ref(DngRef::opcodes3).present()) return;
    if (s.black_level != 0 || s.white_level != 65535) {
        // The opcodes work on values between black and white: bring the
        // loaded image onto that range first.
        const double black = s.black_level, range = double(s.white_level) - black;
        if (!(range > 0)) return;
        for (Pixel4& p : s.image)
            for (uint16_t& v : p) v = level16((double(v) - black) / range);
        s.black_level = 0;
        s.white_level = 65535;
    }
    apply_dng_opcode_list(s, 2);
    apply_dng_opcode_list(s, 3);
}

}  // namespace ostel::core
