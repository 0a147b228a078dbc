#pragma once
// MSB-first bit input with the JPEG byte-stuffing rule, and Huffman tables
// expanded for one lookup per code. State lives in session.bits.
#include <cstdint>
#include <vector>

#include "core/session/decoder_session.h"

namespace ostel::core {

// A lookup table: entry 0 holds the longest code length, entries 1..2^max
// hold (length << 8) | symbol.
using HuffTable = std::vector<uint16_t>;

void reset_bits(DecoderSession& s);
// Shared routine: n bits, or one Huffman code when table is non-null.
unsigned read_bits_huff(DecoderSession& s, int nbits, const uint16_t* table);
inline unsigned read_bits(DecoderSession& s, int nbits) { return read_bits_huff(s, nbits, nullptr); }
inline unsigned read_huff(DecoderSession& s, const HuffTable& table) {
    return read_bits_huff(s, table[0], table.data() + 1);
}
// Builds a table from 16 code-length counts followed by the symbols; advances
// cursor past the definition and never reads at or past end.
HuffTable make_decoder(const uint8_t*& cursor, const uint8_t* end);

}  // namespace ostel::core
