#pragma once
// Raw-domain processing between loading and demosaicing.
#include "core/session/decoder_session.h"

namespace ostel::core {

// Repairs the positions listed in a ".badpixels" file found in
// s.bad_pixel_folder (the current directory when empty) or one of its parents.
void repair_bad_pixels(DecoderSession& s);
// Same, with the list read from the given text (one "col row time" per line).
void repair_bad_pixels_from_text(DecoderSession& s, const std::string& text);

// Chooses the white-balance multipliers and, when apply_scaling is set,
// denoises, subtracts black, scales to 16 bits and corrects chromatic
// aberration of the red and blue planes.
void balance_and_scale(DecoderSession& s);

// Expands the half-grid storage to full size and merges or keeps the second green.
void prepare_for_interpolation(DecoderSession& s);

// Raw-domain filters.
void wavelet_denoise(DecoderSession& s);
void blend_clipped_highlights(DecoderSession& s);
void hat_filter_line(float* out, const float* base, int stride, int size, int step);

// The sample of one visible-area position, read in the plane of its colour at
// the (possibly shrunken) record that holds it.
inline uint16_t& raw_sample(DecoderSession& s, int row, int col) {
    return s.image[static_cast<size_t>(row >> s.half_grid) * static_cast<size_t>(s.image_width) +
                   static_cast<size_t>(col >> s.half_grid)][s.sensor_color(row, col)];
}

}  // namespace ostel::core
