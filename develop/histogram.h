#pragma once
// The two small histogram pictures shown on the bars, and the 8-bit display
// image with its clipping warnings.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ostel::core {
class DecoderSession;
}

namespace ostel::develop {

// 128 columns x 70 rows, four bytes per pixel (blue, green, red, 0), rows
// of 512 bytes, row 0 at the top.
struct HistogramImage {
    static constexpr int kWidth = 128;
    static constexpr int kHeight = 70;
    static constexpr int kBins = 128;
    std::vector<uint8_t> pixels = std::vector<uint8_t>(size_t(kWidth) * kHeight * 4, 0);
};

// Counts per channel (R, G, B), bin = 16-bit value >> 9.
using HistogramCounts = std::array<std::array<uint64_t, HistogramImage::kBins>, 3>;

// Draws the counts as square-root scaled bars, each channel into its own
// byte, so overlapping bars mix. All-zero counts give a blank picture.
void draw_histogram(const HistogramCounts& counts, HistogramImage& image);

// RAW histogram: the sensor value of every position of the document's
// width x height, taken from the core's (demosaiced) image in the plane of
// the position's filter colour; full-colour data counts all three planes.
void draw_raw_histogram(const core::DecoderSession& s, int width, int height, HistogramImage& image);

// Output histogram over the interleaved 16-bit buffer without its outer
// 10-pixel frame (nothing counted for images of 20 pixels or less).
void draw_output_histogram(const uint16_t* rgb, int width, int height, HistogramImage& image);

// Display image: the buffer without its outer 4-pixel frame, as
// (width - 8) x (height - 8) pixels of blue, green, red, 0 (the high byte
// of each sample). With warnings, pixels whose luma is 246 or more turn
// pure red and those below 15 pure blue.
inline constexpr int kDisplayBorder = 4;
void build_display_buffer(const uint16_t* rgb, int width, int height, bool warnings, std::vector<uint8_t>& out);
// The same conversion for `pixels` consecutive pixels, without a frame.
void display_span(const uint16_t* rgb, size_t pixels, bool warnings, uint8_t* out);

}  // namespace ostel::develop
