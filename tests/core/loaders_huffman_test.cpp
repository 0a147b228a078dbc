// Loaders of Huffman-coded and adaptive-coded sensor data. Every stream here
// is written by hand from the format rules, with the expected samples worked
// out from the difference and predictor rules.
#include <gtest/gtest.h>

#include <vector>

#include "core/loaders/loaders.h"
#include "tests/core/loaders_fixture.h"

using ostel::test::BitWriter;
using ostel::test::canonical_codes;
using ostel::test::LoaderSession;
using V = std::vector<uint16_t>;

namespace {

// Bits of a signed difference of len bits: negatives are stored as
// value + 2^len - 1, so that their top bit is clear.
uint32_t diff_bits(int diff, int len) { return diff >= 0 ? uint32_t(diff) : uint32_t(diff + (1 << len) - 1); }
int diff_len(int diff) {
    int len = 0;
    for (int m = diff < 0 ? -diff : diff; m; m >>= 1) ++len;
    return len;
}

constexpr uint8_t kCrwFirst0[] = {0, 1, 4, 2, 3, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 3, 5, 6, 2, 7, 1, 8, 9, 0, 10, 11, 255};
// Only the counts and the first symbols matter for the codes used here.
constexpr uint8_t kCrwSecond0[] = {0x00, 0x02, 0x02, 0x02, 0x01, 0x04, 0x02, 0x01, 0x02, 0x05, 0x01, 0x01, 0x00, 0x00,
                                   0x00, 0x8b, 0x03, 0x04, 0x02, 0x05, 0x01, 0x06, 0x07, 0x08, 0x12, 0x13, 0x11, 0x14,
                                   0x09, 0x15, 0x22, 0x00};

std::vector<uint8_t> crw_file(size_t data_at, const std::vector<uint8_t>& stream, size_t size) {
    std::vector<uint8_t> f(size, 0);
    std::copy(stream.begin(), stream.end(), f.begin() + static_cast<long>(data_at));
    return f;
}

}  // namespace

TEST(CanonCompressedLoader, BlocksCarryTheFirstDifferenceAndMaskedColumnsSetBlack) {
    const auto first = canonical_codes(kCrwFirst0);
    const auto second = canonical_codes(kCrwSecond0);
    BitWriter w(true);
    w.code(first.at(3)).put(0b101, 3).code(second.at(0));  // block 1: first difference +5, then end
    w.code(first.at(0)).code(second.at(0));                // block 2: no new difference
    auto f = crw_file(540, w.finish(), 1100);
    f[1000] = 0xFF;  // a stuffed 0xFF 0x00 pair: no low-bit block
    f[1001] = 0x00;

    LoaderSession t(128, 1, 64, 1);
    t.file(f);
    ostel::core::canon_compressed_load_raw(t.s);
    // Even columns 517; odd 512, raised by 10 = mean of the even masked
    // columns (522) minus that of the odd ones (512).
    for (int col = 0; col < 64; ++col) ASSERT_EQ(t.at(0, col), col % 2 ? 522 : 517) << col;
    EXPECT_EQ(t.s.black_level, 522);
    EXPECT_EQ(t.s.white_level, 1023);
    EXPECT_EQ(t.s.short_read_count, 0);
}

TEST(CanonCompressedLoader, LowBitsExtendSamplesAndWidth2672RaisesSmallValues) {
    const auto first = canonical_codes(kCrwFirst0);
    const auto second = canonical_codes(kCrwSecond0);
    BitWriter w(true);
    w.code(first.at(9)).put(diff_bits(-400, 9), 9).code(second.at(0));
    w.code(first.at(9)).put(diff_bits(400, 9), 9).code(second.at(0));
    for (int block = 2; block < 41; ++block) w.code(first.at(0)).code(second.at(0));
    // No 0xFF anywhere: the low-bit block is taken as present.
    auto f = crw_file(540 + 2672 / 4, w.finish(), 8000);
    f[26] = 0x03;  // low bits of samples 0..3: 3, 0, 0, 0

    LoaderSession t(2672, 1, 2672, 1);
    t.file(f);
    ostel::core::canon_compressed_load_raw(t.s);
    EXPECT_EQ(t.at(0, 0), (112 << 2) + 3 + 2);
    EXPECT_EQ(t.at(0, 2), (112 << 2) + 2);
    EXPECT_EQ(t.at(0, 1), 512 << 2);
    // The second block's +400 brings the running first difference back to 0,
    // so the even columns keep 112.
    EXPECT_EQ(t.at(0, 64), (112 << 2) + 2);
    EXPECT_EQ(t.at(0, 65), 512 << 2);
    EXPECT_EQ(t.at(0, 2671), 2);  // beyond the last whole block: 0, raised by 2
    EXPECT_EQ(t.s.white_level, 0);
}

namespace {

constexpr uint8_t kNikonTree0[] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 0, 5, 4, 3, 6, 2, 7, 1, 0, 8, 9, 11, 10, 12, 0};
constexpr uint8_t kNikonTree1[] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 0, 0x39, 0x5A, 0x38, 0x27, 0x16, 5, 4, 3, 2, 1, 0, 11, 12, 12};

}  // namespace

TEST(NikonHuffmanLoader, PredictorsCurveAndTheSplitRowTable) {
    // Split row 0 never switches; split row 1 decodes row 1 with the next table.
    for (const int split : {0, 1}) {
        SCOPED_TRACE(split);
        std::vector<uint8_t> f(700, 0);
        // Version, four vertical predictors (100, 200, 300, 400), curve size 2, curve 0 and 8192.
        const uint8_t meta[] = {0x44, 0x20, 0, 100, 0, 200, 0x01, 0x2C, 0x01, 0x90, 0, 2, 0, 0, 0x20, 0x00};
        std::copy(meta, meta + sizeof meta, f.begin());
        f[562] = 0;
        f[563] = static_cast<uint8_t>(split);
        const auto t0 = canonical_codes(kNikonTree0);
        const auto t1 = split ? canonical_codes(kNikonTree1) : t0;
        BitWriter w;
        for (int d : {5, -3, 2, 0}) w.code(t0.at(diff_len(d))).put(diff_bits(d, diff_len(d)), diff_len(d));
        for (int d : {0, 1, -1, 0}) w.code(t1.at(diff_len(d))).put(diff_bits(d, diff_len(d)), diff_len(d));
        const auto stream = w.finish();
        std::copy(stream.begin(), stream.end(), f.begin() + 600);

        LoaderSession t(4, 2, 4, 2);
        t.s.bits_per_sample = 12;
        t.s.aux_offset = 0;
        t.file(f, 600, false);
        ostel::core::nikon_huffman_load_raw(t.s);
        // The curve runs from 0 at 0 to 8192 at 4096: every value doubles.
        EXPECT_EQ(t.row(0), (V{210, 394, 214, 394}));
        EXPECT_EQ(t.row(1), (V{600, 802, 598, 802}));
        EXPECT_EQ(t.s.short_read_count, 0);
    }
}

TEST(NikonHuffmanLoader, DegenerateCurveSizesDoNotUnderrun) {
    for (int csize : {0, 1, 2}) {
        std::vector<uint8_t> f(64, 0);
        f[0] = 0x44;  // not the interpolated-curve version
        f[11] = static_cast<uint8_t>(csize);
        LoaderSession t(4, 1, 4, 1);
        t.s.bits_per_sample = 12;
        t.file(f, 32, false);
        ostel::core::nikon_huffman_load_raw(t.s);
        EXPECT_EQ(t.s.short_read_count, 4) << csize;  // every sample reaches the white point
    }
}

TEST(PentaxTableLoader, CodesFromTheMakerNoteAndVerticalPredictors) {
    std::vector<uint8_t> f(200, 0);
    const uint16_t starts[13] = {0, 2048, 3072, 3584, 4095, 4095, 4095, 4095, 4095, 4095, 4095, 4095, 4095};
    const uint8_t lengths[13] = {1, 2, 3, 3, 12, 12, 12, 12, 12, 12, 12, 12, 12};
    for (int c = 0; c < 13; ++c) {
        f[2 * c] = static_cast<uint8_t>(starts[c]);
        f[2 * c + 1] = static_cast<uint8_t>(starts[c] >> 8);
        f[26 + c] = lengths[c];
    }
    // Prefixes 0, 10, 110, 111 for difference lengths 0, 1, 2 and 3.
    const std::pair<uint32_t, int> code[4] = {{0, 1}, {2, 2}, {6, 3}, {7, 3}};
    BitWriter w;
    for (int d : {3, 1, 0, 5, 1, 0, -2, 2, 0}) w.code(code[diff_len(d)]).put(diff_bits(d, diff_len(d)), diff_len(d));
    const auto stream = w.finish();
    std::copy(stream.begin(), stream.end(), f.begin() + 100);

    LoaderSession t(3, 3, 2, 2, 1, 0);
    t.s.aux_offset = 0;
    t.file(f, 100);
    ostel::core::pentax_table_load_raw(t.s);
    EXPECT_EQ(t.row(0), (V{5, 1}));
    EXPECT_EQ(t.row(1), (V{1, 3}));  // 3 - 2 and 1 + 2 on the vertical predictors of row 0
    EXPECT_EQ(t.s.short_read_count, 0);
}

TEST(OlympusAdaptiveLoader, NeighbourPredictionAndFirstRowsFromZero) {
    struct Sample { int sign; int m; };
    const Sample samples[9] = {{0, 3}, {0, 2}, {1, 1}, {0, 2}, {0, 2}, {0, 2}, {0, 1}, {0, 0}, {0, 0}};
    BitWriter w;
    for (const Sample& s : samples) w.put(uint32_t(s.sign << 2), 3).put(1, 1).put(uint32_t(s.m), 4);
    auto stream = w.finish();
    stream.insert(stream.begin(), 7, 0xAA);  // skipped header bytes

    LoaderSession t(3, 3, 3, 3);
    t.file(stream);
    ostel::core::olympus_adaptive_load_raw(t.s);
    EXPECT_EQ(t.row(0), (V{12, 8, 4}));   // columns 0-1 from 0, then from the left
    EXPECT_EQ(t.row(1), (V{8, 8, 16}));
    EXPECT_EQ(t.row(2), (V{16, 8, 10}));  // above for columns 0-1; mean of left and above
    EXPECT_EQ(t.s.short_read_count, 0);
}

TEST(SonyArwHuffmanLoader, ColumnsFromTheRightEvenRowsFirstOneRunningSum) {
    BitWriter w;
    w.put(0b10, 2).put(0b11, 2);   // +3  col 1 row 0
    w.put(0b11, 2).put(1, 1);      // +1  col 1 row 2
    w.put(0b011, 3);               //  0  col 1 row 1
    w.put(0b010, 3).put(0b110, 3); // +6  col 0 row 0
    w.put(0b11, 2).put(0, 1);      // -1  col 0 row 2
    w.put(0b011, 3);               //  0  col 0 row 1
    // Three raw rows; only two are visible.
    LoaderSession t(2, 3, 2, 2);
    t.file(w.finish());
    ostel::core::sony_arw_huffman_load_raw(t.s);
    EXPECT_EQ(t.row(0), (V{10, 3}));
    EXPECT_EQ(t.row(1), (V{9, 4}));
    EXPECT_EQ(t.s.short_read_count, 0);
}
