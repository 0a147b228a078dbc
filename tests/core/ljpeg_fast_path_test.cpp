// The line decoder's fast paths (combined code and difference lookup, bulk
// refills, one precision test per line) against a plain decoder built on
// read_difference: the same samples and the same data-error count for intact
// streams and for damaged ones of every kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>

#include "core/ljpeg/ljpeg.h"
#include "tests/core/ljpeg_test_stream.h"

using namespace ostel::core;
using ostel::test::LjpegParams;
using ostel::test::LjpegWriter;

namespace {

using Lines = std::vector<std::vector<uint16_t>>;
using Bytes = std::vector<uint8_t>;

struct Decoded {
    Lines lines;
    int errors = 0;
    bool header = false;
};

// Smooth runs with jumps of every size, so that every difference length
// (and, at 16 bits, the length-16 code) occurs.
Lines sample_lines(int high, int samples, int bits, unsigned seed) {
    std::mt19937 rng(seed);
    const int top = (1 << bits) - 1;
    Lines lines(static_cast<size_t>(high), std::vector<uint16_t>(static_cast<size_t>(samples)));
    int v = top / 2;
    for (auto& line : lines)
        for (auto& x : line) {
            const int r = static_cast<int>(rng() % 100);
            if (r < 80) v += static_cast<int>(rng() % 9) - 4;
            else if (r < 95) v += static_cast<int>(rng() % 257) - 128;
            else v = static_cast<int>(rng() % (uint32_t(top) + 1));
            v = std::clamp(v, 0, top);
            x = static_cast<uint16_t>(v);
        }
    return lines;
}

// Line-by-line decoding with read_difference over the session's bit reader,
// following the same prediction and restart rules as decode_ljpeg_row.
Decoded reference_decode(const Bytes& stream, uint32_t dng_version) {
    DecoderSession s;
    s.dng_version = dng_version;
    s.input = ByteSource(stream);
    LjpegHeader jh;
    Decoded d;
    if (!parse_ljpeg_header(s, jh, false)) return d;
    d.header = true;
    reset_bits(s);
    const int wide = jh.wide, clrs = jh.clrs, bits = jh.bits, psv = jh.psv, sraw = jh.sraw;
    const size_t line = size_t(wide) * size_t(clrs);
    std::vector<uint16_t> prev(line), out(line);
    for (int jrow = 0; jrow < jh.high; ++jrow) {
        if ((int64_t(jrow) * wide) % jh.restart == 0) {
            jh.vpred.fill(1 << (bits - 1));
            if (jrow > 0) {
                // The restart marker is searched from two bytes back.
                int64_t p = std::max<int64_t>(s.tell() - 2, 0);
                unsigned last = 0;
                int got = 0;
                while (p < s.file_size()) {
                    last = ((last << 8) | stream[size_t(p++)]) & 0xFFFF;
                    if (++got >= 2 && (last >> 4) == 0xFFD) break;
                }
                s.seek(p);
                reset_bits(s);
            }
        }
        int spred = 0;
        for (int col = 0; col < wide; ++col) {
            for (int c = 0; c < clrs; ++c) {
                const size_t at = size_t(col) * size_t(clrs) + size_t(c);
                const int diff = read_difference(s, jh.table_for(c));
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
                if (v >> bits) ++s.short_read_count;
                if (c <= sraw) spred = v;
            }
        }
        d.lines.push_back(out);
        std::swap(prev, out);
    }
    d.errors = s.short_read_count;
    return d;
}

Decoded line_decode(const Bytes& stream, uint32_t dng_version) {
    DecoderSession s;
    s.dng_version = dng_version;
    s.input = ByteSource(stream);
    LjpegHeader jh;
    Decoded d;
    if (!parse_ljpeg_header(s, jh, false)) return d;
    d.header = true;
    reset_bits(s);
    for (int jrow = 0; jrow < jh.high; ++jrow) {
        const uint16_t* rp = decode_ljpeg_row(s, jrow, jh);
        d.lines.emplace_back(rp, rp + size_t(jh.wide) * size_t(jh.clrs));
    }
    d.errors = s.short_read_count;
    return d;
}

// Offset of the first byte after the scan header.
size_t data_start(const Bytes& b) {
    for (size_t i = 0; i + 3 < b.size(); ++i)
        if (b[i] == 0xFF && b[i + 1] == 0xDA) return i + 2 + ((size_t(b[i + 2]) << 8) | b[i + 3]);
    return b.size();
}

// The writer's first table: 16 code-length counts from byte 7, its symbols after them.
constexpr size_t kCounts = 7, kSymbols = kCounts + 16;

struct Stream {
    const char* name;
    LjpegParams params;
    uint32_t dng_version;
};

struct Damage {
    const char* name;
    std::function<void(Bytes&, size_t data)> apply;
};

// Enough samples per stream for the decoder to build its combined lookup.
const Stream kStreams[] = {
    {"two components, 12 bits", {12, 128, 64, 2}, 1},
    {"four components, 14 bits, restarts", {14, 64, 64, 4, 0x11, 0, 1, 8}, 1},
    {"three components, 16 bits, predictor 4", {16, 96, 64, 3, 0x11, 0, 4}, 1},
    {"predictor 6, a table per component", {16, 128, 64, 2, 0x11, 0, 6, 0, true}, 1},
    {"subsampled luma", {15, 64, 64, 3, 0x21, 1, 1}, 1},
    {"one component, 16 bits after code 16", {16, 256, 64, 1, 0x11, 0, 1, 0, false, true}, 0x01000000},
};

std::vector<Damage> damages() {
    auto flips = [](unsigned seed, int count) {
        return [seed, count](Bytes& b, size_t data) {
            std::mt19937 rng(seed);
            for (int i = 0; i < count; ++i) b[data + rng() % (b.size() - data)] = static_cast<uint8_t>(rng());
        };
    };
    auto at_fraction = [](Bytes& b, size_t data, double f) { return data + size_t(double(b.size() - data) * f); };
    return {
        {"intact", [](Bytes&, size_t) {}},
        {"cut at a tenth", [=](Bytes& b, size_t d) { b.resize(at_fraction(b, d, 0.1)); }},
        {"cut in the middle", [=](Bytes& b, size_t d) { b.resize(at_fraction(b, d, 0.5)); }},
        {"end marker missing", [](Bytes& b, size_t) { b.resize(b.size() - 2); }},
        {"last data byte missing", [](Bytes& b, size_t) { b.erase(b.end() - 3); }},
        {"a few bytes changed", flips(7, 3)},
        {"many bytes changed", flips(11, 200)},
        {"a run of 0xFF", [=](Bytes& b, size_t d) {
             const size_t at = at_fraction(b, d, 0.4);
             std::fill(b.begin() + long(at), b.begin() + long(at + 37), 0xFF);
         }},
        {"restart marker in the middle", [=](Bytes& b, size_t d) {
             const size_t at = at_fraction(b, d, 0.3);
             b.insert(b.begin() + long(at), {0xFF, 0xD3});
         }},
        {"end marker in the middle", [=](Bytes& b, size_t d) {
             const size_t at = at_fraction(b, d, 0.6);
             b[at] = 0xFF;
             b[at + 1] = 0xD9;
         }},
        {"stuffed 0xFF without its zero", [](Bytes& b, size_t d) {
             for (size_t i = d; i + 1 < b.size(); ++i)
                 if (b[i] == 0xFF && b[i + 1] == 0) {
                     b[i + 1] = 0x01;
                     break;
                 }
         }},
        {"invalid length symbol", [](Bytes& b, size_t) { b[kSymbols + 8] = 20; }},
        {"over-full code counts", [](Bytes& b, size_t) {
             b[kCounts + 2] = 8;  // the 4-bit code becomes an eighth 3-bit one
             b[kCounts + 3] = 0;
         }},
        {"codes of 12 bits at most", [](Bytes& b, size_t) {
             b[kCounts + 11] = 2;  // the 13-bit code becomes a second 12-bit one
             b[kCounts + 12] = 0;
         }},
    };
}

}  // namespace

TEST(LjpegFastPath, SamplesAndErrorCountsMatchTheReferenceDecoder) {
    for (const Stream& st : kStreams) {
        const LjpegParams& p = st.params;
        const int clrs = p.components + p.sraw;
        const Lines lines = sample_lines(p.high, p.wide * clrs, p.bits, 99);
        const Bytes intact = LjpegWriter::encode(p, lines);
        for (const Damage& dmg : damages()) {
            Bytes stream = intact;
            dmg.apply(stream, data_start(stream));
            const Decoded want = reference_decode(stream, st.dng_version);
            const Decoded got = line_decode(stream, st.dng_version);
            SCOPED_TRACE(std::string(st.name) + ", " + dmg.name);
            ASSERT_TRUE(want.header);
            ASSERT_TRUE(got.header);
            EXPECT_EQ(got.errors, want.errors);
            ASSERT_EQ(got.lines.size(), want.lines.size());
            for (size_t r = 0; r < want.lines.size(); ++r) ASSERT_EQ(got.lines[r], want.lines[r]) << "line " << r;
            if (std::string(dmg.name) == "intact") {
                EXPECT_EQ(got.errors, 0);
                EXPECT_EQ(got.lines, lines);
            } else if (std::string(dmg.name).rfind("cut", 0) == 0) {
                EXPECT_GT(got.errors, 0);  // the data ran out
            }
        }
    }
}
