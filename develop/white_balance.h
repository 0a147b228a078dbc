#pragma once
// White-balance measurements of the document.
#include <array>

#include "develop/rgb_planes.h"

namespace ostel::develop {

// Grey-world multipliers {G/R, 1, G/B} from the sums of the planes over rows
// margin .. height - margin - 1 and columns margin .. width - margin - 1
// (the margin is 20 image pixels; a reduced copy of the image passes it
// reduced alike). A multiplier whose sum is zero (dark or tiny image)
// stays 1.
std::array<double, 3> automatic_white_balance(const RgbPlanes& planes, int margin = 20);

// Neutral point under a click: G/R and G/B of the sums over the 10 x 10
// window rows row - 5 .. row + 4, columns col - 5 .. col + 4 (positions
// outside the image are left out). A ratio whose sum is zero is 1.
std::array<double, 2> measure_white_point(const RgbPlanes& planes, int col, int row);

}  // namespace ostel::develop
