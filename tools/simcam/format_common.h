#pragma once
// Pieces shared by the container writers.
#include <cstdint>
#include <functional>
#include <vector>

#include "tools/simcam/camera.h"
#include "tools/simcam/tiff_writer.h"

namespace ostel::simcam::detail {

// CFA repeat dimensions and the 2 x 2 pattern bytes (0 red, 1 green, 2 blue).
std::vector<TiffEntry> cfa_entries(const TiffWriter& w, const Camera& cam);

// The DNG tags of the camera: version, names, levels, colour profile and,
// with lens falloff, the gain map that undoes it.
std::vector<TiffEntry> dng_entries(const TiffWriter& w, const Camera& cam);

// Writes an Exif directory with shooting data and, when given, a maker
// note; returns its offset.
uint32_t write_exif(TiffWriter& w, const std::vector<uint8_t>& maker_note);

// Entries every raw directory carries: size, bits, compression, pattern.
std::vector<TiffEntry> raw_image_entries(const TiffWriter& w, const Mosaic& m, int bits, int compression);

// Lays a file out as metadata followed by the data blocks, as cameras do,
// so that a file cut short loses pixel data first. build(offsets) writes the
// metadata given the final offset of each block; it is called until the
// metadata size no longer moves the blocks.
std::vector<uint8_t> layout(const std::function<TiffWriter(const std::vector<uint32_t>&)>& build,
                            const std::vector<std::vector<uint8_t>>& blocks);

// Mosaic rows packed MSB first at the given bit width, each row padded to a byte.
std::vector<uint8_t> pack_msb(const Mosaic& m, int bits);
// Mosaic as 16-bit words in the writer's byte order.
std::vector<uint8_t> words(const TiffWriter& w, const Mosaic& m);

}  // namespace ostel::simcam::detail
