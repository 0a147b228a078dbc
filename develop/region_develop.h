#pragma once
// One develop run resolved into a recipe (gains, tables, colour transform,
// the whole-image statistics of levels and fill light), and the develop of
// any rectangle of planes with it. Every stage of a develop works on one
// pixel at a time once the statistics are known, so a rectangle developed
// here holds exactly the values the same pixels have in a develop of the
// whole image; the stages run back to back on one row while it is in the
// cache.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "develop/colour_management.h"
#include "develop/rgb_planes.h"
#include "develop/tone.h"

namespace ostel::develop {

struct DevelopRecipe {
    std::array<double, 3> gain{1.0, 1.0, 1.0};  // exposure times white-balance multiplier
    Table16 levels;                             // levels correction; empty when off
    std::shared_ptr<const ColourTransform> transform;
    // The same conversion at screen precision, for reduced screen images
    // and the histogram; null where it would be the exact one.
    std::shared_ptr<const ColourTransform> screen_transform;
    ColourTransform::StageMatrix matrix{};      // working RGB to XYZ of the matrix stage
    bool fill_light = false;
    double fill_scale = 0;                      // fill-light scale from the whole image
    Table16 curve, contrast, final_table;       // final_table: the whole final pass, when per channel
    FinalPass pass;

    bool runs_matrix_stage() const { return transform && transform->runs_matrix_stage(); }
};

// Histograms of the three channels after exposure and white balance, over
// the whole planes (the input of the levels correction).
LevelCounts exposure_histograms(const RgbPlanes& planes, const std::array<double, 3>& gain);

// Sum of ln(Y + 0.00001) of every row after exposure, levels and the
// matrix stage (the input of the fill-light scale).
std::vector<double> luminance_row_sums(const DevelopRecipe& recipe, const RgbPlanes& planes);

// Develops the rectangle (x, y, width, height) of the planes into `out`,
// width * height pixels of R, G, B, rows in parallel.
void develop_area(const DevelopRecipe& recipe, const RgbPlanes& planes, int x, int y, int width, int height,
                  uint16_t* out);

// The planes reduced by `factor` in each direction: each value is the mean
// of its factor x factor block (fewer at the right and bottom edges).
RgbPlanes downscale_planes(const RgbPlanes& planes, int factor);

}  // namespace ostel::develop
