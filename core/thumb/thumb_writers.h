#pragma once
// Thumbnail writers. In this program they never write files: with
// thumb_to_memory set they deliver the preview into thumb_data.
#include "core/session/decoder_session.h"

namespace ostel::core {

// Runs the writer at the current file position (the thumbnail's offset).
void run_thumb_writer(DecoderSession& s, ThumbWriterId id);

// The JPEG writer: thumb_length bytes as they are, first byte forced to 0xFF.
void jpeg_thumb_writer(DecoderSession& s);
// The PPM writer: thumb_width x thumb_height RGB pixels as a BGR0 bitmap.
void ppm_thumb_writer(DecoderSession& s);

}  // namespace ostel::core
