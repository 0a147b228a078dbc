#pragma once
// Sensor geometry corrections made once per load, after the refinement
// stages and before the planes become linear: turning the image of a
// 45-degree sensor upright, and doubling the rows of a sensor whose pixels
// are twice as wide as high.
//
// Call contract: `refined` holds the refined square-root planes (values
// 0..256), width x height pixels indexed row * width + column, at least
// width * height floats per plane. The result replaces them as the source
// planes; the caller then makes fresh working planes of the new size
// (width' * height' floats after the rotation, (width+5) * (height'+5)
// after the stretch) and adopts the new width and height. Neither function
// changes `refined`.
#include <string>

#include "develop/rgb_planes.h"

namespace ostel::develop {

struct DiagonalSize {
    int width = 0;
    int height = 0;
};

// Size of the upright image of a 45-degree sensor with `diagonal_width` as
// the core reports it, for an image of `height` rows. Width or height is 0
// (or less) when the reported value does not describe a usable image.
DiagonalSize diagonal_target_size(int diagonal_width, int height);

// Turns a 45-degree sensor image upright by bilinear sampling along the
// diagonals; target pixels whose source lies outside the sensor are 0.
// `out` gets the target size with (width'+5) * (height'+5) floats per plane.
// Returns false, leaving `out` untouched, when the target would be empty or
// the input planes are too small; the caller keeps the image as it is.
bool rotate_diagonal_sensor(const RgbPlanes& refined, int diagonal_width, RgbPlanes& out);

// True for the camera whose pixels are twice as wide as high.
bool has_half_height_pixels(const std::string& make, const std::string& model);

// Doubles the number of rows: even rows are the source rows, odd rows the
// mean of their neighbours, and the last row repeats the one above it.
// `out` gets width x 2*height with (width+5) * (2*height+5) floats per plane.
// Returns false, leaving `out` untouched, when the input planes are too small.
bool stretch_pixel_aspect(const RgbPlanes& refined, RgbPlanes& out);

}  // namespace ostel::develop
