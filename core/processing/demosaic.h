#pragma once
// Demosaicing of the mosaic image in place, and the CIELab conversion that
// guides it (also used by the develop pipeline).
#include <vector>

#include "core/session/decoder_session.h"

namespace ostel::core {

// Camera colours to CIELab through the session's camera-to-working matrix,
// working-to-XYZ matrix and white point.
class CielabConverter {
public:
    explicit CielabConverter(const DecoderSession& s);
    // Floating-point L, a, b.
    void convert(const uint16_t* cam, float lab[3]) const;
    // Fixed-point values as the demosaicing stores them.
    void convert_fixed(const uint16_t* cam, int16_t lab[3]) const;

private:
    void cube_roots(const uint16_t* cam, float f[3]) const;
    std::vector<float> cbrt_;
    float xyz_cam_[3][4] = {};
    int colours_ = 3;
};

// Fills the missing planes of every pixel within border of an edge with the
// mean of same-colour neighbours.
void interpolate_border(DecoderSession& s, int border);
// Adaptive homogeneity-directed demosaicing; four-colour and non-Bayer
// patterns get the neighbour-mean interpolation instead, and full-colour
// data is left alone.
void ahd_demosaic(DecoderSession& s);

}  // namespace ostel::core
