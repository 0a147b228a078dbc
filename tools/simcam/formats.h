#pragma once
// Raw file writers of the simulated camera. Each returns the whole file in
// memory; the mosaic is stored so that the camera's loader gives it back
// exactly (all formats here are lossless, except the DCT JPEG and the
// three-sample JPEG XL ones, and the floating-point one holds values
// normalised between black and white).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/simcam/camera.h"

namespace ostel::simcam {

enum class Format : uint8_t {
    cr2,             // TIFF tree, lossless JPEG in vertical slices, 2 components
    dng,             // uncompressed strip (16-bit words, or packed below 16 bits)
    dng_ljpeg,       // lossless JPEG tiles
    nef,             // uncompressed 12-bit, packed MSB first
    nef_compressed,  // Huffman-coded differences (12 or 14 bits)
    pef,             // uncompressed 16-bit words
    pef_compressed,  // Huffman-coded differences with the table in the maker note
    crw_packed,      // four-colour compact (Canon heap), 10-bit packed rows, covered columns
    nef_cmyg,        // four-colour compact (Nikon TIFF) known by its file size, 12-bit rows in two fields
    dng_deflate_float,  // deflate tiles of 32-bit floats with the floating-point predictor
    dng_linear_lossy,   // three samples per pixel in 8-bit DCT JPEG tiles, linearisation table
    dng_jxl,            // lossless JPEG XL tiles of the stored codes
    dng_linear_jxl,     // three samples per pixel in lossy JPEG XL tiles (distance 1)
    count_
};

std::string_view format_name(Format f);
// Parses a name as printed by format_name; false when unknown.
bool parse_format(std::string_view name, Format& out);
// A camera that identification accepts for the format (make, model, pattern,
// bits). The four-colour compacts have one sensor size each, which their
// identification requires: they ignore the size asked for.
Camera camera_for(Format f, int width = 256, int height = 192);

std::vector<uint8_t> write_raw(Format f, const Mosaic& m, const Camera& cam);

std::vector<uint8_t> write_cr2(const Mosaic& m, const Camera& cam);
std::vector<uint8_t> write_dng(const Mosaic& m, const Camera& cam);
std::vector<uint8_t> write_dng_ljpeg(const Mosaic& m, const Camera& cam, int tile_width = 0, int tile_length = 0);
// Uncompressed 16-bit samples in a grid of tiles (read by the DNG tile loader).
std::vector<uint8_t> write_dng_plain_tiles(const Mosaic& m, const Camera& cam, int tile_width = 0, int tile_length = 0);
std::vector<uint8_t> write_dng_deflate_float(const Mosaic& m, const Camera& cam, int float_bits = 32);
std::vector<uint8_t> write_dng_linear_lossy(const Mosaic& m, const Camera& cam);
// JPEG XL tiles of one or three samples per site; distance 0 is lossless.
std::vector<uint8_t> write_dng_jxl(const Mosaic& m, const Camera& cam, float distance = 0);
std::vector<uint8_t> write_nef(const Mosaic& m, const Camera& cam);
std::vector<uint8_t> write_nef_compressed(const Mosaic& m, const Camera& cam);
std::vector<uint8_t> write_pef(const Mosaic& m, const Camera& cam);
std::vector<uint8_t> write_pef_compressed(const Mosaic& m, const Camera& cam);
std::vector<uint8_t> write_crw_packed(const Mosaic& m, const Camera& cam);
std::vector<uint8_t> write_nef_cmyg(const Mosaic& m, const Camera& cam);

// Writes bytes to a file; false on any error.
bool save_file(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace ostel::simcam
