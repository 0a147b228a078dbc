#include "core/ljpeg/bit_reader.h"

#include <new>

#include "core/session/core_failure.h"

namespace ostel::core {

void reset_bits(DecoderSession& s) { s.bits = BitReaderState{}; }

unsigned read_bits_huff(DecoderSession& s, int nbits, const uint16_t* table) {
    BitReaderState& b = s.bits;
    // Once the data ran out every request yields 0 until the next reset.
    if (nbits <= 0 || b.valid_bits < 0) return 0;
    if (nbits > 25) nbits = 25;  // the 32-bit buffer cannot serve more at once

    // Fill one byte at a time, only as far as this request needs, so that the
    // file position stays where callers that mix bit and byte reads expect it.
    while (!b.marker_reached && b.valid_bits < nbits) {
        const int c = s.getc();
        if (c < 0) break;
        if (c == 0xFF && s.ff_stuffing) {
            // 0xFF 0x00 is a data 0xFF; 0xFF and anything else is a marker,
            // which ends the supply of bits (both bytes are consumed).
            if (s.getc() != 0) {
                b.marker_reached = 1;
                break;
            }
        }
        b.buffer = (b.buffer << 8) | static_cast<uint32_t>(c);
        b.valid_bits += 8;
    }

    // The next nbits of the stream, missing bits as zeros. 64-bit arithmetic
    // keeps the shift defined when no bit is left.
    uint32_t value = 0;
    if (b.valid_bits > 0) {
        const uint64_t aligned = (uint64_t(b.buffer) << (32 - b.valid_bits)) & 0xFFFFFFFFu;
        value = static_cast<uint32_t>(aligned >> (32 - nbits));
    }

    unsigned result;
    if (table) {
        const uint16_t entry = table[value];
        b.valid_bits -= entry >> 8;
        result = entry & 0xFF;
    } else {
        b.valid_bits -= nbits;
        result = value;
    }
    if (b.valid_bits < 0) ++s.short_read_count;
    return result;
}

HuffTable make_decoder(const uint8_t*& cursor, const uint8_t* end) {
    if (end - cursor < 16) {
        cursor = end;
        return HuffTable{0};  // no codes: every lookup yields symbol 0 of length 0
    }
    const uint8_t* counts = cursor;
    int max = 0;
    for (int len = 16; len >= 1; --len) {
        if (counts[len - 1]) {
            max = len;
            break;
        }
    }
    cursor += 16;

    HuffTable table;
    try {
        table.assign((size_t(1) << max) + 1, 0);
    } catch (const std::bad_alloc&) {
        fail_out_of_memory();
    }
    table[0] = static_cast<uint16_t>(max);

    // Each code of length len fills 2^(max - len) consecutive entries, so one
    // lookup of max bits finds any code. Over-full counts stop at the end.
    const size_t limit = size_t(1) << max;
    size_t h = 1;
    for (int len = 1; len <= max; ++len) {
        for (int i = 0; i < counts[len - 1]; ++i) {
            if (cursor >= end) return table;
            const uint16_t entry = static_cast<uint16_t>((len << 8) | *cursor++);
            for (size_t rep = size_t(1) << (max - len); rep > 0 && h <= limit; --rep) table[h++] = entry;
        }
    }
    return table;
}

}  // namespace ostel::core
