// Bit input with byte stuffing, Huffman tables and the difference decoding.
#include <gtest/gtest.h>

#include "core/ljpeg/bit_reader.h"
#include "core/ljpeg/ljpeg.h"

using namespace ostel::core;

namespace {

void load(DecoderSession& s, std::vector<uint8_t> bytes, bool stuffing) {
    s.input = ByteSource(std::move(bytes));
    s.ff_stuffing = stuffing;
    reset_bits(s);
}

// Counts 0 2 1 ...: codes 00 -> 'a', 01 -> 'b', 100 -> 'c'.
const std::vector<uint8_t> kSmallTable = {0, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c'};

}  // namespace

TEST(LjpegBits, StuffedFfIsDataAndAMarkerStopsTheSupplyUntilReset) {
    DecoderSession s;
    load(s, {0xFF, 0x00, 0x12, 0xFF, 0xD3, 0xAB}, true);
    EXPECT_EQ(read_bits(s, 8), 0xFFu);
    EXPECT_EQ(read_bits(s, 8), 0x12u);
    EXPECT_EQ(s.short_read_count, 0);
    // The marker gives no bits: the request is served with zeros and counted.
    EXPECT_EQ(read_bits(s, 4), 0u);
    EXPECT_EQ(s.short_read_count, 1);
    EXPECT_EQ(read_bits(s, 8), 0u);
    EXPECT_EQ(s.short_read_count, 1);  // once the count is negative nothing more is read or counted
    EXPECT_EQ(s.tell(), 5);            // both marker bytes consumed
    reset_bits(s);
    EXPECT_EQ(read_bits(s, 8), 0xABu);

    // Without the stuffing rule 0xFF is ordinary data.
    load(s, {0xFF, 0xD3}, false);
    EXPECT_EQ(read_bits(s, 16), 0xFFD3u);
}

TEST(LjpegBits, ReadsOnlyTheBytesARequestNeedsAndPadsPartialData) {
    DecoderSession s;
    load(s, {0xA5, 0x0F}, true);
    EXPECT_EQ(read_bits(s, 3), 0x5u);  // 101
    EXPECT_EQ(s.tell(), 1);
    EXPECT_EQ(read_bits(s, 0), 0u);
    // 5 bits left in the first byte, 8 in the second; the request for 16
    // gets 13 real bits and three zeros and runs the count negative.
    EXPECT_EQ(read_bits(s, 16), (0x050Fu << 3) & 0xFFFF);
    EXPECT_EQ(s.short_read_count, 1);
}

TEST(LjpegBits, MakeDecoderExpandsCodesAndAdvancesPastEachDefinition) {
    std::vector<uint8_t> two = kSmallTable;
    two.insert(two.end(), kSmallTable.begin(), kSmallTable.end());
    const uint8_t* cursor = two.data();
    const HuffTable t = make_decoder(cursor, two.data() + two.size());
    EXPECT_EQ(cursor, two.data() + kSmallTable.size());
    const HuffTable expected = {3, 0x200 | 'a', 0x200 | 'a', 0x200 | 'b', 0x200 | 'b', 0x300 | 'c', 0, 0, 0};
    EXPECT_EQ(t, expected);
    const HuffTable second = make_decoder(cursor, two.data() + two.size());
    EXPECT_EQ(second, expected);
    EXPECT_EQ(cursor, two.data() + two.size());

    // A definition cut short never reads past its end.
    const std::vector<uint8_t> cut(kSmallTable.begin(), kSmallTable.begin() + 17);
    cursor = cut.data();
    const HuffTable partial = make_decoder(cursor, cut.data() + cut.size());
    EXPECT_EQ(cursor, cut.data() + cut.size());
    EXPECT_EQ(partial[0], 3);
    EXPECT_EQ(partial[1], 0x200 | 'a');
    EXPECT_EQ(partial[3], 0);

    cursor = cut.data();
    EXPECT_EQ(make_decoder(cursor, cut.data() + 10), HuffTable{0});
}

TEST(LjpegBits, ReadHuffConsumesOnlyTheCodeLength) {
    DecoderSession s;
    const uint8_t* cursor = kSmallTable.data();
    const HuffTable t = make_decoder(cursor, kSmallTable.data() + kSmallTable.size());
    // 01 100 00 1 -> b, c, a, then a lone 1 bit.
    load(s, {0x61}, true);
    EXPECT_EQ(read_huff(s, t), unsigned('b'));
    EXPECT_EQ(read_huff(s, t), unsigned('c'));
    EXPECT_EQ(read_huff(s, t), unsigned('a'));
    EXPECT_EQ(read_bits(s, 1), 1u);
    EXPECT_EQ(s.short_read_count, 0);
}

TEST(LjpegBits, DifferencesIncludingTheLengthSixteenCode) {
    // Table: symbol 16 has code 0 (1 bit), symbol 3 has code 10, symbol 0 has 11.
    const std::vector<uint8_t> params = {1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 3, 0};
    const uint8_t* cursor = params.data();
    const HuffTable t = make_decoder(cursor, params.data() + params.size());

    struct Case {
        uint32_t dng_version;
        std::vector<uint8_t> bytes;
        std::vector<int> expected;
        int64_t position;  // bytes consumed by the differences
    };
    const Case cases[] = {
        // "10" + 101 -> +5, "10" + 010 -> -5, "11" -> 0: 1010 1100 1011 (0000)
        {0, {0xAC, 0xB0}, {5, -5, 0}, 2},
        // Code 16 alone means -32768 outside DNG and in DNG 1.1 and later.
        {0, {0x00}, {-32768, -32768}, 1},
        {0x01010000, {0x00}, {-32768, -32768}, 1},
        // DNG 1.0 follows it with 16 bits: 0 + 1000 0000 0000 0000 0 -> 32768.
        {0x01000000, {0x40, 0x00, 0x00}, {32768}, 3},
        // 0 + 0111 1111 1111 1111 -> -32768, with the 0xFF byte stuffed.
        {0x0100FFFF, {0x3F, 0xFF, 0x00, 0x80}, {-32768}, 4},
    };
    for (const Case& c : cases) {
        DecoderSession s;
        load(s, c.bytes, true);
        s.dng_version = c.dng_version;
        for (int want : c.expected) EXPECT_EQ(read_difference(s, t), want) << "dng " << std::hex << c.dng_version;
        EXPECT_EQ(s.tell(), c.position);
        EXPECT_EQ(s.short_read_count, 0);
    }
}

TEST(LjpegBits, OversizedLengthSymbolIsADataError) {
    // A table whose only symbol is 40, a length no difference can have.
    const std::vector<uint8_t> params = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40};
    const uint8_t* cursor = params.data();
    const HuffTable t = make_decoder(cursor, params.data() + params.size());
    DecoderSession s;
    load(s, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, true);
    EXPECT_EQ(read_difference(s, t), 0);
    EXPECT_EQ(s.short_read_count, 1);
}
