#pragma once
// Calibration pass of the Phase One loaders: tone curves, sensor defects,
// flat fields and the temperature-dependent column curve stored in the
// file's meta block.
#include "core/session/decoder_session.h"

namespace ostel::core {

void phase_one_correct(DecoderSession& s);
// Applies one flat field (float or 16-bit values, 2 or 4 planes) read at the
// current position.
void phase_one_flat_field(DecoderSession& s, bool is_float, int plane_count);

}  // namespace ostel::core
