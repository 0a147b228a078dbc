// Loaders of the medium-format backs: Phase One (keyed and compressed, with
// calibration), Sinar four-shot and Leaf planes.
#include <gtest/gtest.h>

#include <cstring>

#include "core/loaders/loaders.h"
#include "loaders_legacy_fixture.h"
#include "tests/support/byte_builder.h"

using ostel::core::DecoderSession;
using ostel::test::BitPacker;
using ostel::test::ByteBuilder;
using ostel::test::plane;
using ostel::test::prepare;

namespace {

uint32_t float_bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

}  // namespace

TEST(PhaseOneLoader, UnmasksWordPairsAndLeavesAnOddLastWord) {
    // Keys at 0, three raw words at 4: a pair and a lone last word.
    ByteBuilder b;
    b.u16(0x1111).u16(0x2222).u16(0x1234).u16(0xABCD).u16(0x7777);
    DecoderSession s;
    s.raw_offset = 4;
    s.phase_one.key_offset = 0;
    s.phase_one.format = 1;  // mask 0x5555
    prepare(s, b.take(), {3, 1, 3, 1});
    ostel::core::phase_one_load_raw(s);
    // x = 0x0325, y = 0x89EF: p0 = x&0x5555 | y&0xAAAA, p1 = y&0x5555 | x&0xAAAA.
    EXPECT_EQ(plane(s, 0, 0, 0), 0x89AF);
    EXPECT_EQ(plane(s, 0, 1, 0), 0x0365);
    EXPECT_EQ(plane(s, 0, 2, 0), 0x7777);
    EXPECT_EQ(s.short_read_count, 0);
}

TEST(PhaseOneLoader, CompressedRowWithLengthCodesRowBlackAndSplit) {
    // Parity 0 keeps its initial absolute length (no zeros before the 1);
    // parity 1 gets "01"+"0" = length 8.
    BitPacker bits;
    bits.code("1").code("010");
    bits.put(1000, 16).put(200, 8).put(500, 16).put(128, 8);
    bits.put(0, 16).put(127, 8).put(65535, 16).put(128, 8);
    ByteBuilder b;
    b.u32(0);            // row 0 offset, relative to the data
    b.u16(10).u16(20);   // row black left / right of the split
    b.raw(bits.words_le());
    DecoderSession s;
    s.raw_offset = 8;
    s.phase_one.strip_offset = 0;
    s.phase_one.black_offset = 4;
    s.phase_one.split_col = 4;
    s.phase_one.format = 3;
    prepare(s, b.take(), {8, 1, 8, 1});
    ostel::core::phase_one_load_raw_c(s);
    // Samples 1000, 73, 500, 74, 0, 74, 65535, 75; value = 4 x sample + row black.
    const int expected[8] = {4010, 302, 2010, 306, 20, 316, 65535, 320};
    for (int col = 0; col < 8; ++col) EXPECT_EQ(plane(s, 0, col, 0), expected[col]) << "column " << col;
    EXPECT_EQ(s.white_level, 0xFFFC);
}

TEST(PhaseOneCalibration, BadPixelFromSameColourNeighboursThenCurve) {
    // 3x3 image of 100 with a dead pixel in the corner (keys 0; the pair
    // unmasking mixes the dead word with its neighbour, which the repair
    // then overwrites).
    ByteBuilder b;
    b.u16(0).u16(0);                                   // keys
    for (int i = 0; i < 9; ++i) b.u16(i == 0 ? 0 : 100);  // raw data at 4
    const size_t meta = b.size();
    b.u16(0x4949).zeros(6).u32(12);                    // directory at meta + 12
    b.u32(3).u32(0);                                   // three entries
    b.u32(0x400).u32(8).u32(12 + 8 + 36);               // defects
    b.u32(0x41A).u32(16).u32(12 + 8 + 36 + 8);          // cubic curve
    b.u32(0x401).u32(16).u32(12 + 8 + 36 + 24);         // flat field with zero block size
    b.u16(0).u16(0).u16(129).u16(0);                   // bad pixel at (0, 0)
    b.u32(float_bits(10)).u32(0).u32(0).u32(0);        // curve[i] = i + 10
    b.zeros(16);                                       // flat-field head, all zero
    DecoderSession s;
    s.raw_offset = 4;
    s.aux_offset = int64_t(meta);
    s.aux_length = int64_t(b.size() - meta);
    prepare(s, b.take(), {3, 3, 3, 3});
    ostel::core::phase_one_load_raw(s);
    // Neighbours at distance 2 inside the image: (0,2), (2,0), (2,2);
    // the other five count as 0: (300 + 4) >> 3 = 38, then + 10.
    EXPECT_EQ(plane(s, 0, 0, 0), 48);
    EXPECT_EQ(plane(s, 1, 1, 0), 110);
    EXPECT_EQ(plane(s, 2, 2, 0), 110);
}

TEST(SinarFourShot, ShiftedShotsFillEveryColourOfEveryPixel) {
    // Raw 3x3 per shot, RGGB, visible 2x2. Sample value = shot x 100 + row x 10 + col.
    ByteBuilder b;
    for (int shot = 0; shot < 4; ++shot) b.u32(16 + shot * 18);
    for (int shot = 0; shot < 4; ++shot)
        for (int row = 0; row < 3; ++row)
            for (int col = 0; col < 3; ++col) b.u16(shot * 100 + row * 10 + col);
    DecoderSession s;
    prepare(s, b.take(), {3, 3, 2, 2, 0, 0, 0x94949494});
    s.half_grid = 1;  // the loader makes its own full-size buffer
    ostel::core::sinar_4shot_load_raw(s);
    ASSERT_EQ(s.image.size(), 4u);
    EXPECT_EQ(s.cfa_pattern, 0u);
    EXPECT_EQ(s.half_grid, 0);
    // Pixel (0,0): red from shot 0 at raw (0,0); green last written by shot 2
    // from raw (1,0); blue from shot 3 at raw (1,1).
    EXPECT_EQ(plane(s, 0, 0, 0), 0);
    EXPECT_EQ(plane(s, 0, 0, 1), 210);
    EXPECT_EQ(plane(s, 0, 0, 2), 311);
    EXPECT_EQ(plane(s, 1, 1, 0), 322);  // red from shot 3 at raw (2,2)
    EXPECT_EQ(plane(s, 1, 1, 2), 11);   // blue from shot 0 at raw (1,1)
}

TEST(LeafPlanes, PlanarStripsGiveFullColourWithAnyTileLength) {
    for (const int tile_length : {0x7FFFFFFF, 0}) {
        ByteBuilder b;
        b.u32(12).u32(16).u32(20);  // one strip per plane
        for (int c = 0; c < 3; ++c) b.u16(100 * c + 1).u16(100 * c + 2);
        DecoderSession s;
        s.samples_per_pixel = 3;
        s.tile_length = tile_length;
        prepare(s, b.take(), {2, 1, 2, 1});
        ostel::core::leaf_planes_load_raw(s);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(plane(s, 0, 0, c), 100 * c + 1) << "tile length " << tile_length;
            EXPECT_EQ(plane(s, 0, 1, c), 100 * c + 2) << "tile length " << tile_length;
        }
        EXPECT_EQ(s.white_level, 0xFFFF);
        EXPECT_EQ(s.no_camera_matrix, 1);
    }
}
