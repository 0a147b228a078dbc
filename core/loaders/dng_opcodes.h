#pragma once
// DNG opcode lists applied to the loaded image. List 1 works on the stored
// values, before linearisation, black and white: its coordinates are those
// of the whole stored raw array (the image holds its active area), and the
// opcodes that speak of normalised values take the full 16-bit range of a
// stored sample as 0 to 1, whatever the bit depth. Lists 2 and 3 work on
// the active area with samples in the 16-bit range, 0 at black and 65535 at
// white. The lists are stored big-endian whatever the file's byte order.
//
// Applied: MapTable, MapPolynomial, GainMap, the per-row and per-column
// deltas and scales, FixVignetteRadial, TrimBounds, the bad-pixel repairs
// on colour-filter data (lists 1 and 2), and WarpRectilinear (lists 2 and
// 3; on colour-filter data it waits for the demosaic, see
// apply_dng_warps_after_demosaic). The per-pixel opcodes of the list meant
// for after demosaic are applied before it, which is the same up to
// rounding since they vary slowly over the picture. Anything else is left
// out with a warning naming it; an opcode list never makes a file
// unreadable.
#include <cstdint>
#include <string>
#include <vector>

#include "core/session/decoder_session.h"

namespace ostel::core {

// Applies opcode list 1, 2 or 3 of the bytes given; returns the names of
// the opcodes left out (empty when every one was applied or skippable).
// On colour-filter data the warps of list 3 are left for
// apply_dng_warps_after_demosaic (and named nowhere); `after_demosaic`
// applies those alone.
std::vector<std::string> apply_dng_opcodes(DecoderSession& s, const std::vector<uint8_t>& list, int list_number,
                                           bool after_demosaic = false);

// Applies the raw directory's list `list_number`, warning about each opcode
// left out.
void apply_dng_opcode_list(DecoderSession& s, int list_number);

// For a colour-filter DNG once demosaiced: applies the warps of list 3 to
// the full-colour image, in the coordinates of the active area whatever
// the default crop took. Nothing for other files.
void apply_dng_warps_after_demosaic(DecoderSession& s);

// Tells the user about a part of a DNG that is not used ("FILE: text" on
// the standard error), the one form every DNG stage warns in.
void warn_dng(const DecoderSession& s, const std::string& text);

// Reads the bytes of an opcode list entry (empty when absent or outside the file).
std::vector<uint8_t> read_opcode_bytes(DecoderSession& s, const TagRef& ref);

}  // namespace ostel::core
