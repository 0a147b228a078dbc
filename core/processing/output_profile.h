#pragma once
#include "core/session/decoder_session.h"

namespace ostel::core {

// Computes final_matrix (camera colours to the output space, always XYZ
// here; one column per camera colour, so four for four-colour sensors) and
// builds the matching 1024-byte ICC profile in output_profile.
void convert_to_output(DecoderSession& s);

}  // namespace ostel::core
