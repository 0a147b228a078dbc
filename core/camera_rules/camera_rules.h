#pragma once
// Per-camera corrections applied after the container parsers, and the small
// file probes some of them need to tell look-alike cameras apart. Every probe
// reads the file at positions of its own and leaves the read position there.
#include <cstdint>

#include "core/session/decoder_session.h"

namespace ostel::core {

// The chain itself is declared in core/identify/parsers.h:
//   void apply_camera_rules(DecoderSession& s);

// True when the 256 bytes at raw_offset look like Huffman-coded data
// (a non-zero byte at 15, 31, ..., 255).
bool nikon_compressed_test(DecoderSession& s);
// True when the last 2000 bytes hold 0x00, 0x55, 0xAA and 0xFF at least 200
// times each (the test pattern written by one compact model only).
bool nikon_e995_test(DecoderSession& s);
// False as soon as one of the first 1024 12-byte groups breaks the bit
// pattern of the older packing; true otherwise.
bool nikon_e2100_test(DecoderSession& s);
// Reads the 6-bit model code at 3072 and renames the camera when it is known.
void nikon_3700_test(DecoderSession& s);
// True when more than 20 of the last 424 bytes are non-zero.
bool minolta_z2_test(DecoderSession& s);
// True when a byte above 15 sits at 3284 + k * 3340 (below 337284).
bool canon_s2is_test(DecoderSession& s);
// Fills lin_table for 8-bit data with a linear toe of the given slope and a
// logarithmic upper part.
void build_gamma_curve(DecoderSession& s, double toe_slope);
// Compares the two greens of two rows of `width` samples (each `bits` wide,
// refilled `refill_bits` at a time, bytes least significant first) read at
// the two offsets: 100 x ln(sum0 / sum1), 0 when either sum is 0.
double green_balance_test(DecoderSession& s, int bits, int refill_bits, int64_t first_offset,
                          int64_t second_offset);

}  // namespace ostel::core
