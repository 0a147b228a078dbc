#pragma once
// Repairs applied once to the interpolated image before any develop stage:
// green imbalance at the red and blue sites, a median pre-filter of the
// colour differences, and colour-moire suppression by exchanging the fine
// detail of red and blue for that of green.
//
// Call contract (all three stages):
//  - `planes` holds the demosaiced image as the square root of the linear
//    16-bit value, so samples lie in 0..256.
//  - planes.width and planes.height are the image size; each plane is
//    indexed row * width + column and must hold at least width * height
//    floats (the document's (width+5)*(height+5) planes qualify). Elements
//    past width * height are neither read nor written.
//  - Images too small for a stage's window are left unchanged.
//  - Results do not depend on the number of OpenMP threads.
//
// The document runs them in this order when the raw data was a colour
// filter mosaic (not for three-samples-per-pixel files): GreenRepair, then
// ChromaPreFilter three times when the "CPF" option is on, then
// ArtifactSuppression with the "CHRec" level.
#include "develop/rgb_planes.h"

namespace ostel::develop {

// Row and column parity (0 or 1) of one colour's samples in the 2x2 pattern.
struct SiteParity {
    int row = 0;
    int col = 0;
};

// Replaces G at red and blue sites where the four green neighbours form a
// ridge (one vertical and one horizontal neighbour above their mean) by the
// mean of the two middle neighbours. Reads and writes only the G plane.
void GreenRepair(RgbPlanes& planes, SiteParity red, SiteParity blue);

// One pass: R and B become G plus the median of (plane - G) over the 3x3
// neighbourhood, for rows and columns 5 .. size - 6. Within a row the pass
// works left to right in place, so a pixel sees its updated left neighbour;
// the rows above and below are read as they were before the pass. That keeps
// every row independent of the others and of how rows are split among
// threads.
void ChromaPreFilter(RgbPlanes& planes);

// Rebuilds R and B from their own low band and the three detail bands of G
// (undecimated 3-tap analysis, 5-tap synthesis, zero outside the image).
// `level` is the number of exchanges, clamped to 1..3. G is not changed.
void ArtifactSuppression(RgbPlanes& planes, int level);

}  // namespace ostel::develop
