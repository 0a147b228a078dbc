#include <cstring>

#include "core/ljpeg/ljpeg.h"

namespace ostel::core {

namespace {

// Length code 16 stands for -32768 without further bits, except in DNG files
// of version 1.0.x.x, which follow it with 16 bits.
bool long_code_reads_bits(const DecoderSession& s) { return s.dng_version != 0 && s.dng_version <= 0x0100FFFFu; }

int extend(unsigned value, int len) {
    int diff = static_cast<int>(value);
    if ((diff & (1 << (len - 1))) == 0) diff -= (1 << len) - 1;
    return diff;
}

inline bool has_ff_byte(uint64_t x) {
    const uint64_t y = ~x;  // an 0xFF byte becomes a zero byte
    return ((y - 0x0101010101010101ull) & ~y & 0x8080808080808080ull) != 0;
}

// Tops the buffer up to at least 57 bits unless a marker or the end of the
// data comes first. Eight bytes are taken at once when none of them is 0xFF.
inline void refill(LjpegBits& b) {
    if (b.marker || b.count < 0) return;
    while (b.count <= 56) {
        if (b.end - b.pos >= 8) {
            uint64_t x;
            std::memcpy(&x, b.data + b.pos, 8);
            x = __builtin_bswap64(x);
            if (!b.stuffing || !has_ff_byte(x)) {
                const int take = (64 - b.count) >> 3;
                if (take >= 8) {
                    b.buffer = x;
                } else {
                    b.buffer = (b.buffer << (8 * take)) | (x >> (64 - 8 * take));
                }
                b.count += 8 * take;
                b.pos += static_cast<size_t>(take);
                return;
            }
        }
        if (b.pos >= b.end) return;
        const unsigned c = b.data[b.pos++];
        if (c == 0xFF && b.stuffing) {
            const int next = b.pos < b.end ? b.data[b.pos++] : -1;
            if (next != 0) {
                b.marker = true;
                return;
            }
        }
        b.buffer = (b.buffer << 8) | c;
        b.count += 8;
    }
}

// The next n (1..16) bits with zeros for bits past the end of the data.
inline unsigned peek(const LjpegBits& b, int n) {
    if (b.count >= n) return static_cast<unsigned>(b.buffer >> (b.count - n)) & ((1u << n) - 1);
    if (b.count <= 0) return 0;
    return static_cast<unsigned>(b.buffer << (n - b.count)) & ((1u << n) - 1);
}

// One difference, with the same results and error counting as
// read_difference over read_bits / read_huff.
inline int next_difference(LjpegBits& b, const uint16_t* table, bool long_reads, int& errors) {
    if (b.count < 32) refill(b);
    int len = 0;
    const int max = table[0];
    if (max > 0 && b.count >= 0) {
        const uint16_t entry = table[1 + peek(b, max)];
        b.count -= entry >> 8;
        if (b.count < 0) ++errors;
        len = entry & 0xFF;
    }
    if (len == 0) return 0;
    if (len == 16 && !long_reads) return -32768;
    if (len > 16) {
        ++errors;  // no such length in a valid stream
        return 0;
    }
    unsigned value = 0;
    if (b.count >= 0) {
        value = peek(b, len);
        b.count -= len;
        if (b.count < 0) ++errors;
    }
    return extend(value, len);
}

// After a restart interval: find the RSTn marker (starting two bytes back,
// where a reader stopped by it left off) and start the bits afresh after it.
void skip_to_restart_marker(LjpegBits& b) {
    size_t p = b.pos >= 2 ? b.pos - 2 : 0;
    unsigned last = 0;
    int got = 0;
    while (p < b.end) {
        last = ((last << 8) | b.data[p++]) & 0xFFFF;
        if (++got >= 2 && (last >> 4) == 0xFFD) break;
    }
    b.pos = p;
    b.buffer = 0;
    b.count = 0;
    b.marker = false;
}

}  // namespace

int read_difference(DecoderSession& s, const HuffTable& table) {
    const int len = static_cast<int>(read_huff(s, table));
    if (len == 0) return 0;
    if (len == 16 && !long_code_reads_bits(s)) return -32768;
    if (len > 16) {
        ++s.short_read_count;
        return 0;
    }
    return extend(read_bits(s, len), len);
}

const uint16_t* decode_ljpeg_row(DecoderSession& s, int jrow, LjpegHeader& jh) {
    const int wide = jh.wide, clrs = jh.clrs;
    const size_t line = size_t(wide) * size_t(clrs);
    if (jh.row.size() < 2 * line || jrow < 0) return nullptr;
    LjpegBits& b = jh.reader;

    if (jrow == 0) {
        b = LjpegBits{};
        b.data = s.input.data();
        b.end = static_cast<size_t>(s.file_size());
        b.pos = static_cast<size_t>(s.tell());
        b.stuffing = s.ff_stuffing != 0;
    }
    if ((int64_t(jrow) * wide) % jh.restart == 0) {
        jh.vpred.fill(1 << (jh.bits - 1));
        if (jrow > 0) skip_to_restart_marker(b);
    }

    uint16_t* out = jh.row.data() + (jrow & 1) * line;           // line being written
    const uint16_t* prev = jh.row.data() + ((jrow + 1) & 1) * line;  // previous line
    uint16_t* const result = out;
    const bool long_reads = long_code_reads_bits(s);
    const int bits = jh.bits, psv = jh.psv, sraw = jh.sraw;
    const uint16_t* tab[6];
    for (int c = 0; c < clrs; ++c) tab[c] = jh.table_for(c).data();
    int errors = 0;

    if (sraw == 0 && (psv == 1 || jrow == 0)) {
        // The common case: each sample predicted from its left neighbour.
        for (int c = 0; c < clrs; ++c) {
            const int diff = next_difference(b, tab[c], long_reads, errors);
            const int pred = jh.vpred[c];
            jh.vpred[c] += diff;
            const uint16_t v = static_cast<uint16_t>(pred + diff);
            out[c] = v;
            if (v >> bits) ++errors;
        }
        for (size_t i = size_t(clrs); i < line; i += size_t(clrs)) {
            for (int c = 0; c < clrs; ++c) {
                const int diff = next_difference(b, tab[c], long_reads, errors);
                const uint16_t v = static_cast<uint16_t>(out[i + c - clrs] + diff);
                out[i + c] = v;
                if (v >> bits) ++errors;
            }
        }
    } else {
        int spred = 0;
        for (int col = 0; col < wide; ++col) {
            for (int c = 0; c < clrs; ++c) {
                const size_t at = size_t(col) * size_t(clrs) + size_t(c);
                const int diff = next_difference(b, tab[c], long_reads, errors);
                int pred;
                if (sraw && c <= sraw && (col | c)) {
                    pred = spred;
                } else if (col) {
                    pred = out[at - clrs];
                } else {
                    pred = jh.vpred[c];
                    jh.vpred[c] += diff;
                }
                if (jrow && col) {
                    const int above = prev[at], corner = prev[at - clrs];
                    switch (psv) {
                        case 1: break;
                        case 2: pred = above; break;
                        case 3: pred = corner; break;
                        case 4: pred = pred + above - corner; break;
                        case 5: pred = pred + ((above - corner) >> 1); break;
                        case 6: pred = above + ((pred - corner) >> 1); break;
                        case 7: pred = (pred + above) >> 1; break;
                        default: pred = 0; break;
                    }
                }
                const uint16_t v = static_cast<uint16_t>(pred + diff);
                out[at] = v;
                if (v >> bits) ++errors;
                if (c <= sraw) spred = v;
            }
        }
    }

    s.short_read_count += errors;
    s.seek(static_cast<int64_t>(b.pos));
    return result;
}

}  // namespace ostel::core
