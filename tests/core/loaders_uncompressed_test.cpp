// Loaders of uncompressed sensor data: packed bits, 16-bit words, bytes
// through a curve, and the 4-in-5 ten-bit packing.
#include <gtest/gtest.h>

#include <vector>

#include "core/loaders/loaders.h"
#include "tests/core/loaders_fixture.h"

using ostel::test::LoaderSession;
using V = std::vector<uint16_t>;

TEST(PackedBitsLoader, TwelveBitSamplesMsbFirstAfterTheTopMargin) {
    // Raw width counts bytes: 6 bytes hold four 12-bit samples.
    LoaderSession t(6, 3, 4, 2, 1, 0);
    t.s.bits_per_sample = 12;
    t.file({0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE,  // top margin row
            0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0x00, 0x10, 0x02, 0xFF, 0xF0, 0x00});
    ostel::core::packed_bits_load_raw(t.s);
    EXPECT_EQ(t.row(0), (V{0x123, 0x456, 0x789, 0xABC}));
    EXPECT_EQ(t.row(1), (V{0x001, 0x002, 0xFFF, 0x000}));
    EXPECT_EQ(t.s.short_read_count, 0);
}

TEST(PackedBitsLoader, TwentyFourBitUnitsAreLittleEndianAndSwapColumnPairs) {
    LoaderSession t(6, 1, 4, 1);
    t.s.bits_per_sample = 12;
    t.s.packing_flags = 16;  // 24-bit units
    // Units 0x111222 and 0x333444, least significant byte first.
    t.file({0x22, 0x12, 0x11, 0x44, 0x34, 0x33});
    ostel::core::packed_bits_load_raw(t.s);
    EXPECT_EQ(t.row(0), (V{0x222, 0x111, 0x444, 0x333}));
}

TEST(PackedBitsLoader, SixteenBitUnitsAreLittleEndian) {
    LoaderSession t(4, 1, 2, 1);
    t.s.bits_per_sample = 16;
    t.s.packing_flags = 8;
    t.file({0x34, 0x12, 0x78, 0x56});
    ostel::core::packed_bits_load_raw(t.s);
    EXPECT_EQ(t.row(0), (V{0x1234, 0x5678}));
}

TEST(PackedBitsLoader, InterlacedFieldsFindTheOddRows) {
    // Even rows first; with flag 4 the odd field sits at half the file size
    // (rounded down to 4) without compression, or at the data offset plus
    // the even field rounded up to 2048 bytes with it.
    struct Case { int compression; size_t odd_at; };
    for (const Case c : {Case{0, 1028}, Case{1, 2048}}) {
        SCOPED_TRACE(c.compression);
        LoaderSession t(2, 4, 2, 4);
        t.s.bits_per_sample = 8;
        t.s.packing_flags = 2 | 4;
        t.s.compression = c.compression;
        std::vector<uint8_t> f(2056, 0xEE);
        const uint8_t even[] = {1, 2, 3, 4}, odd[] = {5, 6, 7, 8};
        std::copy(even, even + 4, f.begin());
        std::copy(odd, odd + 4, f.begin() + static_cast<long>(c.odd_at));
        t.file(f);
        ostel::core::packed_bits_load_raw(t.s);
        EXPECT_EQ(t.row(0), (V{1, 2}));
        EXPECT_EQ(t.row(1), (V{5, 6}));
        EXPECT_EQ(t.row(2), (V{3, 4}));
        EXPECT_EQ(t.row(3), (V{7, 8}));
    }
}

TEST(PackedBitsLoader, ByteAfterEveryTenSamplesIsSkippedAndMustBeZero) {
    LoaderSession t(10, 2, 10, 2);
    t.s.bits_per_sample = 8;
    t.s.packing_flags = 1;
    t.file({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 7});
    ostel::core::packed_bits_load_raw(t.s);
    EXPECT_EQ(t.row(0), (V{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(t.row(1), (V{11, 12, 13, 14, 15, 16, 17, 18, 19, 20}));
    EXPECT_EQ(t.s.short_read_count, 1);  // the non-zero stuffed byte
}

TEST(PackedBitsLoader, MaskedColumnsGiveBlackAndValuesAreShifted) {
    // Flag 32: columns outside the visible width are summed into black;
    // flags >> 6 = 1 shifts stored values left by one.
    LoaderSession t(4, 2, 2, 2, 0, 1);
    t.s.bits_per_sample = 8;
    t.s.packing_flags = 32 | 64;
    t.file({10, 1, 2, 30, 20, 3, 4, 40});
    ostel::core::packed_bits_load_raw(t.s);
    EXPECT_EQ(t.row(0), (V{2, 4}));
    EXPECT_EQ(t.row(1), (V{6, 8}));
    EXPECT_EQ(t.s.black_level, 25);  // 100 / (2 masked columns x 2 rows)
}

TEST(PackedBitsLoader, TruncatedDataCountsAnErrorAndKeepsEarlierRows) {
    LoaderSession t(2, 3, 2, 3);
    t.s.bits_per_sample = 8;
    t.file({1, 2, 3});
    ostel::core::packed_bits_load_raw(t.s);
    EXPECT_EQ(t.row(0), (V{1, 2}));
    EXPECT_EQ(t.row(1), (V{3, 0}));
    EXPECT_GE(t.s.short_read_count, 1);
}

TEST(PackedBitsLoader, UnusableSampleWidthsLeaveTheImageUntouched) {
    for (int bps : {0, 17, 64, -3}) {
        LoaderSession t(4, 1, 2, 1);
        t.s.bits_per_sample = bps;
        t.file({0xFF, 0xFF, 0xFF, 0xFF});
        ostel::core::packed_bits_load_raw(t.s);
        EXPECT_TRUE(t.image_is_zero()) << bps;
    }
}

TEST(UnpackedLoader, WordsAfterTheMarginsInFileOrder) {
    LoaderSession t(3, 3, 2, 2, 1, 1);
    t.s.bits_per_sample = 12;
    t.file({0, 0, 0, 0, 0, 0,                      // top margin row
            0, 0, 0x01, 0x02, 0x03, 0x04,          // left margin word, then row 0
            0, 0, 0x05, 0x06, 0x00, 0x10,          // row 1, last word too wide for 12 bits
            0, 0},
           0, false);
    ostel::core::unpacked_load_raw(t.s);
    EXPECT_EQ(t.row(0), (V{0x0102, 0x0304}));
    EXPECT_EQ(t.row(1), (V{0x0506, 0x0010}));
    EXPECT_EQ(t.s.short_read_count, 0);

    LoaderSession wide(2, 1, 2, 1);
    wide.s.bits_per_sample = 12;
    wide.file({0x10, 0x00, 0x00, 0x00}, 0, false);
    ostel::core::unpacked_load_raw(wide.s);
    EXPECT_EQ(wide.at(0, 0), 0x1000);
    EXPECT_EQ(wide.s.short_read_count, 1);
}

TEST(UnpackedLoader, FixedColourMapUsesTheMarginOffsetPosition) {
    LoaderSession t(3, 2, 2, 1, 1, 1);
    t.s.cfa_pattern = 1;
    t.file({0, 0, 0, 0, 0, 0, 0, 0, 7, 0, 9, 0});
    ostel::core::unpacked_load_raw(t.s);
    // Map row 1 (top margin 1), columns 1 and 2 (left margin 1): colours 3 and 0.
    EXPECT_EQ(t.s.image[0][ostel::core::kColorMap16[1][1]], 7);
    EXPECT_EQ(t.s.image[1][ostel::core::kColorMap16[1][2]], 9);
}

TEST(EightBitLoader, CurveBlackAndWhite) {
    struct Case { const char* model; int black; };
    for (const Case c : {Case{"X100", 50}, Case{"DC25", 0}}) {
        LoaderSession t(4, 3, 2, 2, 1, 0);
        ostel::core::set_text(t.s.model, c.model);
        for (int i = 0; i < 256; ++i) t.s.lin_table[i] = static_cast<uint16_t>(i * 2);
        t.file({9, 9, 9, 9, 1, 2, 20, 20, 3, 4, 30, 30});
        ostel::core::eight_bit_load_raw(t.s);
        EXPECT_EQ(t.row(0), (V{2, 4}));
        EXPECT_EQ(t.row(1), (V{6, 8}));
        EXPECT_EQ(t.s.black_level, c.black) << c.model;  // 2 x (40 + 60) / (2 columns x 2 rows)
        EXPECT_EQ(t.s.white_level, 510);
    }
}

TEST(NokiaLoader, FourSamplesInFiveBytesWithBlackFromTheTopRows) {
    LoaderSession t(4, 2, 4, 1, 1, 0);
    t.file({0x10, 0x20, 0x30, 0x40, 0xE4,    // masked row: 0x40 0x81 0xC2 0x103
            0xFF, 0x00, 0x00, 0x01, 0x03});
    ostel::core::nokia_load_raw(t.s);
    EXPECT_EQ(t.row(0), (V{0x3FF, 0, 0, 4}));
    EXPECT_EQ(t.s.black_level, (0x40 + 0x81 + 0xC2 + 0x103) / 4);
    EXPECT_EQ(t.s.white_level, 1023);

    LoaderSession cut(4, 2, 4, 1, 1, 0);
    cut.file({0x10, 0x20, 0x30});
    ostel::core::nokia_load_raw(cut.s);
    EXPECT_GE(cut.s.short_read_count, 2);
}
