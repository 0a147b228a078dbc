#pragma once
// The image id: a 32-bit hash of the first decoded sensor samples. The
// settings database keys every row by it, so a raw file that is copied or
// renamed keeps its settings.
#include <cstddef>
#include <cstdint>

namespace ostel::core {
class DecoderSession;
}

namespace ostel::persistence {

// Number of samples that enter the hash (4096 bytes, little-endian).
inline constexpr int kImageIdSamples = 2048;
// The grid of further samples for images whose first samples are flat.
inline constexpr int kSpreadRows = 32;
inline constexpr int kSpreadColumns = 64;

// The hash over `length` bytes starting from `initial`. Bytes are taken in
// 16-bit little-endian halves, so the result does not depend on the host.
uint32_t super_fast_hash(const uint8_t* data, size_t length, uint32_t initial);

// Id of the session's decoded sensor image, 0 when it holds none.
//
// Sample k is the raw value at visible position (k / width, k % width), read
// from the plane of that position's filter colour at its (possibly halved)
// storage position, and 0 past the end of the image. For sensors at least
// 2048 pixels wide this is simply the first 2048 samples of row 0. Counting
// positions rather than storage records keeps the id the same whether or
// not the image was loaded on the halved grid, which depends on the
// pre-filter controls and not on the file.
//
// When those samples hold a single level per filter colour (a clipped sky,
// a black frame edge), they say nothing about the photo, and two different
// photos would share an id and their settings. The hash then also covers
// 2048 samples on a 32 x 64 grid over the whole visible image: the sample
// of grid cell (i, j) is the one at row (2i + 1) * height / 64, column
// (2j + 1) * width / 128, and the 8192 bytes are hashed from 8192. Ids of
// images with any variation in their first samples are unchanged.
int32_t image_id(const core::DecoderSession& session);

}  // namespace ostel::persistence
