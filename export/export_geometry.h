#pragma once
// The geometry of an export: the developed image loses its 4-pixel margin,
// is turned by a quarter turn when the view shows it turned, is cut to the
// crop rectangle and is finally resampled to the chosen output size.
#include <cstdint>
#include <string>
#include <vector>

#include "core/session/large_buffer.h"

namespace ostel::exporting {

// Pixels never exported on each side of the developed image.
inline constexpr int kExportMargin = 4;

// The view's rotation state; the half turn is the command line's.
enum class Rotation : int { none = 0, clockwise = 1, counter_clockwise = 2, half_turn = 3 };

// The camera's orientation as the decoder records it: 0 as stored; bit 1
// mirrors left to right, bit 2 top to bottom, and bit 4 then swaps rows and
// columns (6 is a quarter turn clockwise, 5 counter-clockwise, 3 a half
// turn). A value in degrees (90, 180, 270) becomes its code; anything else
// is taken as "as stored".
int orientation_code(int orientation);
// Whether the orientation swaps width and height.
inline bool orientation_swaps_axes(int orientation) { return (orientation_code(orientation) & 4) != 0; }

// A rectangle in pixels. The crop rectangle is given in the unrotated
// exported area (margin removed, set upright by the camera's orientation),
// so it stays on the same picture content whichever way the view is turned.
struct CropRect {
    int x = 0, y = 0, width = 0, height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
};

// Interleaved R, G, B 16-bit samples, width x height, rows top to bottom.
struct RgbImage16 {
    int width = 0, height = 0;
    core::LargeBuffer<uint16_t> samples;
};

struct ExportSize {
    int width = 0, height = 0;
};

// Size of the exported area of a developed image of width x height pixels
// (0 x 0 when the image is no larger than its margins).
ExportSize exported_area(int width, int height);

// The crop rectangle clamped into an exported area of `area` size; an
// empty result means "no crop".
CropRect clamp_crop(const CropRect& crop, ExportSize area);

// The crop rectangle (unrotated, already clamped) in the coordinates of the
// turned exported area.
CropRect rotate_crop(const CropRect& crop, ExportSize area, Rotation rotation);

// Default output size: the exported area (upright by `orientation`), or the
// crop rectangle when crop mode is on and a rectangle is drawn, with width
// and height swapped for a quarter turn.
ExportSize default_output_size(int width, int height, Rotation rotation, bool crop_mode, const CropRect& crop,
                               int orientation = 0);

// Copies the exported area out of the developed image (`rgb` holds
// width * height interleaved pixels).
RgbImage16 copy_exported_area(const uint16_t* rgb, int width, int height);

// A quarter turn: clockwise moves the top row to the right-hand column; a
// half turn puts the image upside down.
RgbImage16 rotate_image(const RgbImage16& image, Rotation rotation);

// The image as the camera's orientation code says it is seen upright.
RgbImage16 orient_image(const RgbImage16& image, int orientation);

// Cuts `rect` (inside the image) out of it.
RgbImage16 crop_image(const RgbImage16& image, const CropRect& rect);

// Resamples to width x height with cubic B-spline interpolation (band
// limited when shrinking). Images too small for the spline are scaled by
// nearest neighbour. Returns false with `error` set when resampling fails.
bool resample_image(const RgbImage16& image, int width, int height, RgbImage16& out, std::string& error);

}  // namespace ostel::exporting
