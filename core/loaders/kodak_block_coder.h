#pragma once
// The run coder of the Kodak block, YCC and RGB16 formats: a run of values
// is either variable-length differences (lengths in nibbles, then LSB-first
// bits in 16-bit big-endian words) or, when a length is out of range, plain
// 12-bit values packed eight to six shorts.
#include <cstdint>

#include "core/session/decoder_session.h"

namespace ostel::core {

// Longest run any Kodak loader asks for (256 pixels of three values), plus
// room for the plain layout's groups of eight.
inline constexpr int kKodakRunCapacity = 768 + 8;

// Decodes n values (n <= 768) into out. Returns true when the run was stored
// plainly (absolute values), false for differences.
bool kodak_decode_run(DecoderSession& s, int* out, int n);

}  // namespace ostel::core
