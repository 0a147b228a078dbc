// Kodak loaders: the run coder (difference and plain runs) through the block,
// YCC and RGB16 loaders, the 262 Huffman loader and the luma/chroma rows.
#include <gtest/gtest.h>

#include "core/loaders/loaders.h"
#include "loaders_legacy_fixture.h"
#include "tests/support/byte_builder.h"

using ostel::core::DecoderSession;
using ostel::test::ByteBuilder;
using ostel::test::plane;
using ostel::test::prepare;

TEST(KodakBlockLoader, DifferenceAndPlainRuns) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        std::vector<int> expected;
        int errors;
    };
    const Case cases[] = {
        // Lengths 3, 2, 0, 4; a run of four primes 16 bits (first byte high):
        // differences +5, -2, 0, +9 summed per column parity. The negative
        // sum of column 1 is clamped and counted.
        {"primed differences", {0x23, 0x40, 0x01, 0x2D}, {5, 0, 5, 7}, 1},
        // Two 12-bit lengths need one refill of two big-endian words, the
        // first one lower: 0x800 and 0x801, then zero differences.
        {"refilled differences",
         {0xCC, 0x00, 0x00, 0x00, 0x18, 0x00, 0x00, 0x80},
         {2048, 2049, 2048, 2049, 2048, 2049, 2048, 2049},
         0},
        // A length nibble above 12 makes the run plain: eight values in six
        // little-endian shorts, absolute.
        {"plain run",
         {0xBF, 0x1A, 0xEF, 0x2D, 0x23, 0x31, 0x56, 0x44, 0x89, 0x57, 0xBC, 0x6A},
         {0x135, 0x246, 0xABF, 0xDEF, 0x123, 0x456, 0x789, 0xABC},
         0},
    };
    for (const Case& c : cases) {
        DecoderSession s;
        const int width = static_cast<int>(c.expected.size());
        prepare(s, c.bytes, {width, 1, width, 1});
        ostel::core::kodak_block_load_raw(s);
        for (int col = 0; col < width; ++col) EXPECT_EQ(plane(s, 0, col, 0), c.expected[col]) << c.name << " col " << col;
        EXPECT_EQ(s.short_read_count, c.errors) << c.name;
    }
}

TEST(KodakYccLoader, LumaPairsShareOneChromaPair) {
    // One plain run of six values e = 100, 4, 200, 3328, 8 (cb), 4 (cr).
    ByteBuilder b;
    b.u16(0x00C8).u16(0x0D00).u16(0x6008).u16(0x0004).u16(0x4000).u16(0x4000);
    DecoderSession s;
    prepare(s, b.take(), {2, 2, 2, 2});
    ostel::core::kodak_ycc_load_raw(s);
    // g = -((8 + 4 + 2) >> 2) = -3, b = 5, r = 1; lumas 100, 104, 200, 3528.
    const int luma[2][2] = {{100, 104}, {200, 3528}};
    for (int j = 0; j < 2; ++j)
        for (int k = 0; k < 2; ++k) {
            EXPECT_EQ(plane(s, j, k, 0), luma[j][k] + 1);
            EXPECT_EQ(plane(s, j, k, 1), luma[j][k] - 3);
            EXPECT_EQ(plane(s, j, k, 2), luma[j][k] + 5);
        }
    EXPECT_EQ(s.short_read_count, 1);  // luma above 1023
}

TEST(KodakRgb16Loader, RunningSumsPerPlane) {
    // Two pixels: differences +3 +5 +7, then -1 +0 +2, with lengths
    // 2, 3, 3, 1, 0, 2 (two unused). Bits are taken LSB first from one
    // refill of two big-endian words, the first one lower.
    const uint32_t stream = 3 | (5u << 2) | (7u << 5) | (0u << 8) | (2u << 9);
    const uint16_t w0 = stream & 0xFFFF, w1 = stream >> 16;
    ByteBuilder b;
    b.u8(0x32).u8(0x13).u8(0x20).u8(0x00);
    b.u8(w0 >> 8).u8(w0 & 0xFF).u8(w1 >> 8).u8(w1 & 0xFF);
    DecoderSession s;
    prepare(s, b.take(), {2, 1, 2, 1});
    ostel::core::kodak_rgb16_load_raw(s);
    const int expected[2][3] = {{3, 5, 7}, {2, 5, 9}};
    for (int col = 0; col < 2; ++col)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(plane(s, 0, col, c), expected[col][c]) << col << "," << c;
    EXPECT_EQ(s.short_read_count, 0);
}

TEST(Kodak262Loader, ChessboardPredictionStoresTheDecodedByteAndSumsBlack) {
    // Big-endian strip table (two entries for one row), then one strip:
    // +100 (table 0), +50 (table 1), -3 (table 0), +1 (table 1).
    ByteBuilder b(false);
    b.u32(8).u32(0).u8(0xF6).u8(0x4F).u8(0xB2).u8(0x63);
    DecoderSession s;
    // Visible width 3: raw column 3 feeds the black level. One raw row more
    // than the visible height must not be stored.
    prepare(s, b.take(), {4, 1, 3, 1});
    ostel::core::kodak_262_load_raw(s);
    EXPECT_EQ(plane(s, 0, 0, 0), 100);  // no neighbours: prediction 0
    EXPECT_EQ(plane(s, 0, 1, 0), 50);
    EXPECT_EQ(plane(s, 0, 2, 0), 97);   // predicted from column 0
    EXPECT_EQ(s.black_level, 51);       // column 3: predicted from column 1, + 1
    EXPECT_EQ(s.byte_order, 0x4D4D);
    EXPECT_EQ(s.short_read_count, 0);
}

TEST(KodakYrgbLoader, ChromaPairSharedByTwoColumnsAndTwoRows) {
    ByteBuilder b;
    b.u8(100).u8(110);          // luma row 0
    b.u8(128 + 8).u8(128 + 4);  // cb, cr
    b.u8(200).u8(250);          // luma row 1
    DecoderSession s;
    prepare(s, b.take(), {2, 2, 2, 2});
    for (int i = 0; i < 256; ++i) s.lin_table[i] = static_cast<uint16_t>(i * 2);
    ostel::core::kodak_yrgb_load_raw(s);
    // G = y - 3, B = G + 8, R = G + 4, each clamped to 0..255 and doubled.
    EXPECT_EQ(plane(s, 0, 0, 1), 2 * 97);
    EXPECT_EQ(plane(s, 0, 1, 0), 2 * 111);
    EXPECT_EQ(plane(s, 1, 0, 2), 2 * 205);
    EXPECT_EQ(plane(s, 1, 1, 2), 2 * 255);  // 255 after clamping 255 + 0
    EXPECT_EQ(s.white_level, 510);
}

TEST(KodakRadcLoader, CountsTheFileAsNotDecodable) {
    DecoderSession s;
    prepare(s, std::vector<uint8_t>(64, 0x5A), {8, 8, 8, 8});
    ostel::core::kodak_radc_stream_load_raw(s);
    EXPECT_EQ(s.raw_count, 0);
    for (const auto& p : s.image) EXPECT_EQ(p[0], 0);
}
