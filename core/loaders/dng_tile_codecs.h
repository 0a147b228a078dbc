#pragma once
// Decoders of one DNG tile (or strip) held in memory: baseline DCT JPEG,
// deflate with the integer and floating-point predictors, and JPEG XL. Each
// fills a tile of stored sample values and says
// whether it could; none of them trusts a size it was not given.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ostel::core {

// A tile larger than this many samples is not a tile but a corrupt header.
constexpr int64_t kMaxDngTileSamples = int64_t(1) << 28;

inline bool dng_tile_size_ok(int64_t width, int64_t height, int64_t samples) {
    return width > 0 && height > 0 && samples > 0 && width * height * samples <= kMaxDngTileSamples;
}

struct DngTile {
    int width = 0, height = 0, samples = 0;
    std::vector<float> values;  // row by row, samples interleaved
    bool damaged = false;       // decoded, but the codec met corrupt or missing data
    float at(int row, int col, int sample) const {
        return values[(size_t(row) * size_t(width) + size_t(col)) * size_t(samples) + size_t(sample)];
    }
};

// What the tile should hold, from the directory.
struct DngTileLayout {
    int width = 0, height = 0, samples = 1;
    int bits = 8;
    bool floating_point = false;
    int predictor = 1;
    bool little_endian = true;
};

// 8-bit DCT JPEG (baseline or progressive). Returns false, with `why` set,
// for anything the JPEG library rejects (12-bit and lossless frames among them).
bool decode_dct_jpeg_tile(const uint8_t* data, size_t size, DngTile& out, std::string& why);

// Deflate data of the given layout.
bool decode_deflate_tile(const uint8_t* data, size_t size, const DngTileLayout& layout, DngTile& out,
                         std::string& why);

// One JPEG XL image (bare codestream or container) of exactly the layout's
// size and sample count. Integer layouts get the stored codes back on their
// own scale (0 to 2^bits - 1), floating-point ones the values themselves.
bool decode_jpeg_xl_tile(const uint8_t* data, size_t size, const DngTileLayout& layout, DngTile& out,
                         std::string& why);

// Uncompressed samples of the given layout (integers packed MSB-first with
// each row starting on a byte boundary, or floating point).
bool decode_plain_tile(const uint8_t* data, size_t size, const DngTileLayout& layout, DngTile& out,
                       std::string& why);

// The 16- and 24-bit floating-point forms widened to 32 bits.
float half_to_float(uint16_t h);
float fp24_to_float(uint32_t v);

}  // namespace ostel::core
