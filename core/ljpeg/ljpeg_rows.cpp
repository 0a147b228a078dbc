#include <cstring>
#include <new>

#include "core/ljpeg/ljpeg.h"

namespace ostel::core {

namespace {

// Length code 16 stands for -32768 without further bits, except in DNG files
// of version 1.0.x.x, which follow it with 16 bits.
bool long_code_reads_bits(uint32_t dng_version) { return dng_version != 0 && dng_version <= 0x0100FFFFu; }

int extend(unsigned value, int len) {
    int diff = static_cast<int>(value);
    if ((diff & (1 << (len - 1))) == 0) diff -= (1 << len) - 1;
    return diff;
}

inline bool has_ff_byte(uint64_t x) {
    const uint64_t y = ~x;  // an 0xFF byte becomes a zero byte
    return ((y - 0x0101010101010101ull) & ~y & 0x8080808080808080ull) != 0;
}

// Takes as many whole bytes as fit when eight bytes are left and none of
// those taken is 0xFF; returns false, taking nothing, otherwise.
inline bool refill_bulk(LjpegBits& b) {
    if (b.end - b.pos < 8) return false;
    uint64_t x;
    std::memcpy(&x, b.data + b.pos, 8);
    x = __builtin_bswap64(x);
    const int take = (64 - b.count) >> 3;
    // The bytes not taken are zeroed: only the taken ones may not be 0xFF.
    const uint64_t taken = x & (~uint64_t(0) << (64 - 8 * take));
    if (b.stuffing && has_ff_byte(taken)) return false;
    b.buffer |= taken >> b.count;
    b.count += 8 * take;
    b.pos += static_cast<size_t>(take);
    return true;
}

// Tops the buffer up to at least 57 bits unless a marker or the end of the
// data comes first.
[[gnu::noinline]] void refill_bytes(LjpegBits& b) {
    while (b.count <= 56) {
        if (refill_bulk(b)) return;
        if (b.pos >= b.end) return;
        const unsigned c = b.data[b.pos++];
        if (c == 0xFF && b.stuffing) {
            const int next = b.pos < b.end ? b.data[b.pos++] : -1;
            if (next != 0) {
                b.marker = true;
                return;
            }
        }
        b.buffer |= uint64_t(c) << (56 - b.count);
        b.count += 8;
    }
}

inline void refill(LjpegBits& b) {
    if (b.marker || b.count < 0 || b.count > 56) return;
    if (!refill_bulk(b)) refill_bytes(b);
}

// The next n (1..16) bits, with zeros for bits past the end of the data:
// the bits below the valid ones are always zero.
inline unsigned peek(const LjpegBits& b, int n) { return static_cast<unsigned>(b.buffer >> (64 - n)); }

// Drops n (0..32) bits; the count goes below zero when fewer were left.
inline void consume(LjpegBits& b, int n) {
    b.buffer <<= n;
    b.count -= n;
}

// One difference, with the same results and error counting as
// read_difference over read_bits / read_huff.
[[gnu::noinline]] int next_difference(LjpegBits& b, const uint16_t* table, bool long_reads, int& errors) {
    if (b.count < 32) refill(b);
    int len = 0;
    const int max = table[0];
    if (max > 0 && b.count >= 0) {
        const uint16_t entry = table[1 + peek(b, max)];
        consume(b, entry >> 8);
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
        consume(b, len);
        if (b.count < 0) ++errors;
    }
    return extend(value, len);
}

// Entries for every kFastBits-bit window of the stream. A window decides a
// code when all max-bit lookups that begin with it give the same entry and
// that code is no longer than the window; the difference bits are folded in
// when they fit too. Everything else stays 0: the bit-by-bit path.
FastDiffTable build_fast_table(const HuffTable& table, bool long_reads) {
    FastDiffTable fast;
    const int max = table.empty() ? 0 : table[0];
    if (max <= 0 || table.size() < (size_t(1) << max) + 1) return fast;
    try {
        fast.assign(size_t(1) << kFastBits, FastDiff{});
    } catch (const std::bad_alloc&) {
        return FastDiffTable{};  // the bit-by-bit path needs no table
    }
    for (unsigned window = 0; window < (1u << kFastBits); ++window) {
        uint16_t entry;
        if (max <= kFastBits) {
            entry = table[1 + (window >> (kFastBits - max))];
        } else {
            const size_t first = 1 + (size_t(window) << (max - kFastBits));
            const size_t span = size_t(1) << (max - kFastBits);
            entry = table[first];
            if ((entry >> 8) > kFastBits) continue;
            bool same = true;
            for (size_t k = 1; k < span && same; ++k) same = table[first + k] == entry;
            if (!same) continue;
        }
        const int code = entry >> 8, len = entry & 0xFF;
        if (code == 0 || code > kFastBits || len > 16) continue;
        FastDiff& f = fast[window];
        if (len == 0 || (len == 16 && !long_reads)) {
            f.diff = static_cast<int16_t>(len == 0 ? 0 : -32768);
            f.used = static_cast<uint8_t>(code);
        } else if (code + len <= kFastBits) {
            const unsigned value = (window >> (kFastBits - code - len)) & ((1u << len) - 1);
            f.diff = static_cast<int16_t>(extend(value, len));
            f.used = static_cast<uint8_t>(code + len);
        } else {
            f.used = static_cast<uint8_t>(code);
            f.extra = static_cast<uint8_t>(len);
        }
    }
    return fast;
}

// Windows that no table decides: every lookup goes the bit-by-bit way.
const FastDiff kAllSlow[1 << kFastBits] = {};

// One difference, through the combined lookup while a whole window of real
// bits is buffered, otherwise through next_difference. Both give the same
// results and error counts.
[[gnu::always_inline]] inline int fast_difference(LjpegBits& b, const FastDiff* fast, const uint16_t* table,
                                                  bool long_reads, int& errors) {
    if (b.count < 32) refill(b);
    if (b.count >= kFastBits) {
        const FastDiff e = fast[b.buffer >> (64 - kFastBits)];
        if (e.used) {
            consume(b, e.used);
            if (e.extra == 0) return e.diff;
            const int len = e.extra;
            const unsigned value = peek(b, len);
            consume(b, len);
            if (b.count < 0) ++errors;
            return extend(value, len);
        }
    }
    return next_difference(b, table, long_reads, errors);
}

// Samples of a line with bits above the precision.
int count_out_of_range(const uint16_t* line, size_t n, int bits) {
    int over = 0;
    for (size_t i = 0; i < n; ++i) over += (line[i] >> bits) != 0;
    return over;
}

// Streams shorter than this decode without the combined lookup: building it
// would cost more than it saves.
constexpr int64_t kFastTableMinSamples = int64_t(4) << kFastBits;

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
    if (len == 16 && !long_code_reads_bits(s.dng_version)) return -32768;
    if (len > 16) {
        ++s.short_read_count;
        return 0;
    }
    return extend(read_bits(s, len), len);
}

const uint16_t* decode_ljpeg_row(DecoderSession& s, int jrow, LjpegHeader& jh) {
    LjpegSource in = ljpeg_source(s);
    const uint16_t* line = decode_ljpeg_row(in, jrow, jh);
    s.short_read_count += in.errors;
    s.seek(in.pos);
    return line;
}

const uint16_t* decode_ljpeg_row(LjpegSource& in, int jrow, LjpegHeader& jh) {
    const int wide = jh.wide, clrs = jh.clrs;
    const size_t line = size_t(wide) * size_t(clrs);
    if (jh.row.size() < 2 * line || jrow < 0) return nullptr;
    LjpegBits& b = jh.reader;

    const bool long_reads = long_code_reads_bits(in.dng_version);
    if (jrow == 0) {
        b = LjpegBits{};
        b.data = in.data;
        b.end = static_cast<size_t>(in.size);
        b.pos = static_cast<size_t>(in.pos);
        b.stuffing = in.stuffing;
        for (auto& f : jh.fast) FastDiffTable().swap(f);
        if (int64_t(line) * jh.high >= kFastTableMinSamples) {
            for (int c = 0; c < clrs; ++c) {
                const size_t t = static_cast<size_t>(jh.huff[c]);
                if (t < jh.fast.size() && jh.fast[t].empty()) jh.fast[t] = build_fast_table(jh.tables[t], long_reads);
            }
        }
    }
    if ((int64_t(jrow) * wide) % jh.restart == 0) {
        jh.vpred.fill(1 << (jh.bits - 1));
        if (jrow > 0) skip_to_restart_marker(b);
    }

    uint16_t* out = jh.row.data() + (jrow & 1) * line;           // line being written
    const uint16_t* prev = jh.row.data() + ((jrow + 1) & 1) * line;  // previous line
    uint16_t* const result = out;
    const int bits = jh.bits, psv = jh.psv, sraw = jh.sraw;
    const uint16_t* tab[6];
    const FastDiff* fast[6];
    for (int c = 0; c < clrs; ++c) {
        tab[c] = jh.table_for(c).data();
        const FastDiffTable& f = jh.fast[static_cast<size_t>(jh.huff[c])];
        fast[c] = f.empty() ? kAllSlow : f.data();
    }
    int errors = 0;
    unsigned seen = 0;  // all samples ORed: one test for the precision per line

    if (sraw == 0 && (psv == 1 || jrow == 0)) {
        // The common case: each sample predicted from its left neighbour.
        for (int c = 0; c < clrs; ++c) {
            const int diff = fast_difference(b, fast[c], tab[c], long_reads, errors);
            const int pred = jh.vpred[c];
            jh.vpred[c] += diff;
            const uint16_t v = static_cast<uint16_t>(pred + diff);
            out[c] = v;
            seen |= v;
        }
        if (clrs == 2) {
            // Two components, as most cameras write them.
            for (size_t i = 2; i < line; i += 2) {
                const int d0 = fast_difference(b, fast[0], tab[0], long_reads, errors);
                const uint16_t v0 = static_cast<uint16_t>(out[i - 2] + d0);
                out[i] = v0;
                const int d1 = fast_difference(b, fast[1], tab[1], long_reads, errors);
                const uint16_t v1 = static_cast<uint16_t>(out[i - 1] + d1);
                out[i + 1] = v1;
                seen |= v0 | v1;
            }
        } else {
            for (size_t i = size_t(clrs); i < line; i += size_t(clrs)) {
                for (int c = 0; c < clrs; ++c) {
                    const int diff = fast_difference(b, fast[c], tab[c], long_reads, errors);
                    const uint16_t v = static_cast<uint16_t>(out[i + c - clrs] + diff);
                    out[i + c] = v;
                    seen |= v;
                }
            }
        }
    } else {
        int spred = 0;
        for (int col = 0; col < wide; ++col) {
            for (int c = 0; c < clrs; ++c) {
                const size_t at = size_t(col) * size_t(clrs) + size_t(c);
                const int diff = fast_difference(b, fast[c], tab[c], long_reads, errors);
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
                seen |= v;
                if (c <= sraw) spred = v;
            }
        }
    }
    if (seen >> bits) errors += count_out_of_range(out, line, bits);

    in.errors += errors;
    in.pos = static_cast<int64_t>(b.pos);
    return result;
}

}  // namespace ostel::core
