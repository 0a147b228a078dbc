#pragma once
// Reads the frame header of a JPEG stream (baseline or lossless) at the
// current position without touching its tables or data: enough to learn the
// size and precision of an embedded strip or preview.
#include "core/session/decoder_session.h"

namespace ostel::core::tiff {

struct JpegFrame {
    int bits = 0;        // precision minus the point transform
    int high = 0;        // lines
    int wide = 0;        // samples per line
    int components = 0;  // components plus the subsampling code
};

// True when a start of image, a frame header and a scan header were found.
bool read_jpeg_frame(DecoderSession& s, JpegFrame& frame);

}  // namespace ostel::core::tiff
