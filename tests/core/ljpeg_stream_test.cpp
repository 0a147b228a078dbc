// Lossless JPEG headers and line decoding, checked by round trips through a
// small independent writer and by hand-made headers.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "core/ljpeg/ljpeg.h"
#include "tests/core/ljpeg_test_stream.h"

using namespace ostel::core;
using ostel::test::LjpegParams;
using ostel::test::LjpegWriter;

namespace {

using Lines = std::vector<std::vector<uint16_t>>;

Lines random_lines(int high, int samples, int bits, unsigned seed) {
    std::mt19937 rng(seed);
    Lines lines(static_cast<size_t>(high), std::vector<uint16_t>(static_cast<size_t>(samples)));
    int v = 1 << (bits - 1);
    for (auto& line : lines)
        for (auto& x : line) {
            // Mostly smooth, with occasional jumps that need long codes.
            v += static_cast<int>(rng() % 64) - 32;
            if (rng() % 16 == 0) v = static_cast<int>(rng() % (1u << bits));
            v = std::clamp(v, 0, (1 << bits) - 1);
            x = static_cast<uint16_t>(v);
        }
    return lines;
}

bool contains(const std::vector<uint8_t>& bytes, std::vector<uint8_t> pattern) {
    return std::search(bytes.begin(), bytes.end(), pattern.begin(), pattern.end()) != bytes.end();
}

// Decodes every line of a stream; the returned lines are empty when the header fails.
Lines decode_all(DecoderSession& s, std::vector<uint8_t> stream) {
    s.input = ByteSource(std::move(stream));
    LjpegHeader jh;
    Lines out;
    if (!parse_ljpeg_header(s, jh, false)) return out;
    reset_bits(s);
    for (int jrow = 0; jrow < jh.high; ++jrow) {
        const uint16_t* rp = decode_ljpeg_row(s, jrow, jh);
        out.emplace_back(rp, rp + size_t(jh.wide) * size_t(jh.clrs));
    }
    release_ljpeg(jh);
    return out;
}

// Hand-made header pieces.
std::vector<uint8_t> segment(int tag, std::vector<uint8_t> body, int length_override = -1) {
    const int len = length_override >= 0 ? length_override : static_cast<int>(body.size()) + 2;
    std::vector<uint8_t> out = {0xFF, static_cast<uint8_t>(tag), static_cast<uint8_t>(len >> 8),
                                static_cast<uint8_t>(len)};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<uint8_t> dht(std::vector<int> ids) {
    std::vector<uint8_t> body;
    for (int id : ids) {
        body.push_back(static_cast<uint8_t>(id));
        const auto params = ostel::test::test_huffman_table();
        body.insert(body.end(), params.begin(), params.end());
    }
    return segment(0xC4, body);
}

std::vector<uint8_t> sof(int bits, int high, int wide, int comps) {
    std::vector<uint8_t> body = {static_cast<uint8_t>(bits), 0, static_cast<uint8_t>(high), 0,
                                 static_cast<uint8_t>(wide), static_cast<uint8_t>(comps)};
    for (int c = 0; c < comps; ++c) body.insert(body.end(), {static_cast<uint8_t>(c + 1), 0x11, 0});
    return segment(0xC3, body);
}

// The same segment under another frame marker.
std::vector<uint8_t> frame_as(int tag, std::vector<uint8_t> frame) {
    frame[1] = static_cast<uint8_t>(tag);
    return frame;
}

std::vector<uint8_t> sos(int comps, int psv = 1, int point_transform = 0) {
    std::vector<uint8_t> body = {static_cast<uint8_t>(comps)};
    for (int c = 0; c < comps; ++c) body.insert(body.end(), {static_cast<uint8_t>(c + 1), 0});
    body.insert(body.end(), {static_cast<uint8_t>(psv), 0, static_cast<uint8_t>(point_transform)});
    return segment(0xDA, body);
}

std::vector<uint8_t> join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out = {0xFF, 0xD8};
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

int parse(std::vector<uint8_t> bytes, LjpegHeader& jh, uint32_t dng_version = 1) {
    DecoderSession s;
    s.dng_version = dng_version;
    s.input = ByteSource(std::move(bytes));
    return parse_ljpeg_header(s, jh, false);
}

}  // namespace

TEST(LjpegStream, RoundTripsEveryPredictorWithAndWithoutRestarts) {
    struct Case {
        int psv, restart_lines, bits, components;
        bool table_per_component;
    };
    const Case cases[] = {
        {1, 0, 12, 2, false}, {2, 0, 14, 2, false}, {3, 0, 12, 3, true}, {4, 3, 16, 2, false},
        {5, 0, 12, 4, true},  {6, 2, 15, 2, false}, {7, 0, 12, 2, false}, {1, 4, 14, 4, false},
    };
    for (const Case& c : cases) {
        LjpegParams params;
        params.psv = c.psv;
        params.restart_lines = c.restart_lines;
        params.bits = c.bits;
        params.components = c.components;
        params.table_per_component = c.table_per_component;
        params.wide = 37;
        params.high = 13;
        const Lines lines = random_lines(params.high, params.wide * params.components, params.bits, 7u + unsigned(c.psv));
        const auto stream = LjpegWriter::encode(params, lines);
        ASSERT_TRUE(contains(stream, {0xFF, 0x00})) << "fixture should exercise byte stuffing";
        if (c.restart_lines) {
            ASSERT_TRUE(contains(stream, {0xFF, 0xD1}));
        }

        DecoderSession s;
        s.dng_version = 1;  // no stray byte after a frame header
        EXPECT_EQ(decode_all(s, stream), lines) << "psv " << c.psv << " restart " << c.restart_lines;
        EXPECT_EQ(s.short_read_count, 0) << "psv " << c.psv;
    }
}

TEST(LjpegStream, FullRangeJumpUsesTheLengthSixteenCode) {
    // 0 -> 32768 is the one difference that needs length code 16.
    LjpegParams params;
    params.bits = 16;
    params.components = 2;
    params.wide = 4;
    params.high = 2;
    const Lines lines = {{0, 32768, 32768, 0, 100, 200, 65535, 1}, {32768, 0, 1, 2, 3, 4, 5, 6}};
    DecoderSession s;
    EXPECT_EQ(decode_all(s, LjpegWriter::encode(params, lines)), lines);

    // DNG 1.0 writers follow the code with 16 more bits.
    params.long_code_bits = true;
    DecoderSession dng10;
    dng10.dng_version = 0x01000000;
    EXPECT_EQ(decode_all(dng10, LjpegWriter::encode(params, lines)), lines);
    EXPECT_EQ(dng10.short_read_count, 0);
}

TEST(LjpegStream, OneComponentFrameSkipsTheStrayByteOutsideDng) {
    LjpegParams params;
    params.components = 1;
    params.wide = 9;
    params.high = 3;
    const Lines lines = random_lines(params.high, params.wide, params.bits, 3);
    params.stray_byte = true;
    DecoderSession s;  // not DNG
    EXPECT_EQ(decode_all(s, LjpegWriter::encode(params, lines)), lines);

    params.stray_byte = false;
    DecoderSession dng;
    dng.dng_version = 0x01040000;
    EXPECT_EQ(decode_all(dng, LjpegWriter::encode(params, lines)), lines);
}

TEST(LjpegStream, HeaderFieldsAndTableSharing) {
    LjpegHeader jh;
    // One table for two components; the AC class (0x10) ends the walk and its
    // bytes are never looked at; a restart interval of 0 means none.
    auto bytes = join({segment(0xC4, [] {
                           auto body = std::vector<uint8_t>{0};
                           const auto params = ostel::test::test_huffman_table();
                           body.insert(body.end(), params.begin(), params.end());
                           body.insert(body.end(), {0x10, 0xFF, 0xFF});
                           return body;
                       }()),
                       sof(14, 5, 6, 2), segment(0xDD, {0, 0}), segment(0xE1, {1, 2, 3}), sos(2, 6, 2)});
    ASSERT_EQ(parse(bytes, jh), 1);
    EXPECT_EQ(jh.bits, 12);  // precision minus point transform
    EXPECT_EQ(jh.high, 5);
    EXPECT_EQ(jh.wide, 6);
    EXPECT_EQ(jh.clrs, 2);
    EXPECT_EQ(jh.psv, 6);
    EXPECT_EQ(jh.restart, 0x7FFFFFFF);
    EXPECT_EQ(jh.huff[0], 0);
    EXPECT_EQ(jh.huff[1], 0);
    EXPECT_EQ(jh.row.size(), 2u * 6 * 2);

    // Subsampled frame: 2x1 luma gives code 1 and four samples per group;
    // 2x2 gives code 3 and six. Luma shares table 0, chroma table 1.
    for (const auto& [sampling, sraw, clrs] : {std::tuple{0x21, 1, 4}, std::tuple{0x22, 3, 6}}) {
        std::vector<uint8_t> body = {15, 0, 4, 0, 8, 3, 1, static_cast<uint8_t>(sampling), 0, 2, 0x11, 0, 3, 0x11, 0};
        ASSERT_EQ(parse(join({dht({0, 1}), segment(0xC3, body), sos(3)}), jh), 1);
        EXPECT_EQ(jh.sraw, sraw);
        EXPECT_EQ(jh.clrs, clrs);
        for (int c = 0; c < clrs; ++c) EXPECT_EQ(jh.huff[c], c <= sraw ? 0 : 1) << c;
    }
}

TEST(LjpegStream, HeaderRefusesWhatCannotBeDecoded) {
    const auto good_tail = std::vector<std::vector<uint8_t>>{dht({0}), sof(12, 4, 4, 2), sos(2)};
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    std::vector<uint8_t> not_soi = join({dht({0}), sof(12, 4, 4, 2), sos(2)});
    not_soi[1] = 0xD9;
    const Case cases[] = {
        {"no start of image", not_soi},
        {"tag not a marker", join({dht({0}), {0x12, 0x34, 0x00, 0x04, 0, 0}, sof(12, 4, 4, 2), sos(2)})},
        {"segment length below two", join({dht({0}), segment(0xE0, {}, 1), sof(12, 4, 4, 2), sos(2)})},
        {"truncated segment", join({dht({0}), segment(0xE0, {1, 2}, 200)})},
        {"end before the scan", join({dht({0}), sof(12, 4, 4, 2)})},
        {"no frame header", join({dht({0}), sos(2)})},
        {"short frame header", join({dht({0}), segment(0xC3, {12, 0, 4, 0, 4}), sos(2)})},
        {"short scan header", join({dht({0}), sof(12, 4, 4, 2), segment(0xDA, {2, 1, 0})})},
        {"precision zero after transform", join({dht({0}), sof(4, 4, 4, 2), sos(2, 1, 4)})},
        {"precision above sixteen", join({dht({0}), sof(17, 4, 4, 2), sos(2)})},
        {"zero lines", join({dht({0}), sof(12, 0, 4, 2), sos(2)})},
        {"zero width", join({dht({0}), sof(12, 4, 0, 2), sos(2)})},
        {"five components", join({dht({0}), sof(12, 4, 4, 5), sos(5)})},
        {"no table at all", join({sof(12, 4, 4, 2), sos(2)})},
        {"only an AC table", join({dht({0x10}), sof(12, 4, 4, 2), sos(2)})},
        {"table cut short", join({segment(0xC4, {0, 0, 0, 9}), sof(12, 4, 4, 2), sos(2)})},
        // Frames of the other JPEG processes, as lossy DNG tiles hold them.
        {"baseline DCT frame", join({dht({0}), frame_as(0xC0, sof(8, 4, 4, 2)), sos(2)})},
        {"extended 12-bit DCT frame", join({dht({0}), frame_as(0xC1, sof(12, 4, 4, 2)), sos(2)})},
        {"progressive DCT frame", join({dht({0}), frame_as(0xC2, sof(12, 4, 4, 2)), sos(2)})},
        {"arithmetic lossless frame", join({dht({0}), frame_as(0xCB, sof(12, 4, 4, 2)), sos(2)})},
        {"DCT frame before a lossless one", join({dht({0}), frame_as(0xC1, sof(12, 4, 4, 2)), sof(12, 4, 4, 2), sos(2)})},
    };
    for (const Case& c : cases) {
        LjpegHeader jh;
        EXPECT_EQ(parse(c.bytes, jh), 0) << c.what;
    }
    LjpegHeader jh;
    EXPECT_EQ(parse(join({good_tail[0], good_tail[1], good_tail[2]}), jh), 1);
}

TEST(LjpegStream, TruncatedDataIsCountedNeverFatal) {
    LjpegParams params;
    params.wide = 64;
    params.high = 16;
    const Lines lines = random_lines(params.high, params.wide * 2, params.bits, 11);
    auto stream = LjpegWriter::encode(params, lines);
    stream.resize(stream.size() / 3);
    DecoderSession s;
    s.dng_version = 1;
    const Lines got = decode_all(s, stream);
    ASSERT_EQ(got.size(), lines.size());
    EXPECT_EQ(got[0], lines[0]);  // the first line is still intact
    EXPECT_GT(s.short_read_count, 0);
}
