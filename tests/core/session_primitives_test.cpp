// Byte-order input primitives of the decoder session.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

#include "core/session/decoder_session.h"

using ostel::core::ByteSource;
using ostel::core::DecoderSession;

namespace {

void load(DecoderSession& s, std::vector<uint8_t> bytes, uint16_t order) {
    s.input = ByteSource(std::move(bytes));
    s.byte_order = order;
}

}  // namespace

TEST(SessionPrimitives, IntegersInBothOrdersAndPastTheEnd) {
    DecoderSession s;
    load(s, {0x12, 0x34, 0x56, 0x78, 0x9A}, 0x4949);
    EXPECT_EQ(s.read_u16(), 0x3412);
    s.seek(0);
    EXPECT_EQ(s.read_u32(), 0x78563412u);
    s.byte_order = 0x4D4D;
    s.seek(0);
    EXPECT_EQ(s.read_u32(), 0x12345678u);
    // Past the end the missing bytes read as 0xFF.
    s.seek(4);
    EXPECT_EQ(s.read_u16(), 0x9AFF);
    EXPECT_EQ(s.read_u32(), 0xFFFFFFFFu);
    // Any order other than "II" is big-endian, including the 0xFFFF a tiny file gives.
    s.byte_order = 0xFFFF;
    s.seek(0);
    EXPECT_EQ(s.read_u16(), 0x1234);
}

TEST(SessionPrimitives, ReadRealByType) {
    struct Case {
        int type;
        std::vector<uint8_t> bytes;
        double expected;
    };
    const Case cases[] = {
        {3, {0xFF, 0xFE}, 65534},
        {4, {0x00, 0x01, 0x00, 0x00}, 65536},
        {5, {0, 0, 0, 1, 0, 0, 0, 2}, 0.5},
        {8, {0xFF, 0xFE}, -2},
        {9, {0xFF, 0xFF, 0xFF, 0xFD}, -3},
        {10, {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 4}, -0.25},
        {11, {0x3F, 0xC0, 0, 0}, 1.5},
        {12, {0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18}, 3.141592653589793},
        {1, {200}, 200},
    };
    for (const Case& c : cases) {
        DecoderSession s;
        load(s, c.bytes, 0x4D4D);
        EXPECT_DOUBLE_EQ(s.read_real(c.type), c.expected) << "type " << c.type;
    }
    DecoderSession s;
    load(s, {0, 0, 0, 1, 0, 0, 0, 0}, 0x4D4D);
    EXPECT_TRUE(std::isinf(s.read_real(5)));
}

TEST(SessionPrimitives, IfdEntryValueInsideOrAtOffset) {
    // tag 0x0100, type 3 (SHORT), count 2 fits in the entry; count 3 does not.
    const std::vector<uint8_t> inside = {0x01, 0x00, 0x00, 0x03, 0, 0, 0, 2, 0xAA, 0xBB, 0xCC, 0xDD};
    DecoderSession s;
    load(s, inside, 0x4D4D);
    unsigned tag, type, count;
    int64_t save;
    s.read_ifd_entry(0, tag, type, count, save);
    EXPECT_EQ(tag, 0x0100u);
    EXPECT_EQ(type, 3u);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(save, 12);
    EXPECT_EQ(s.tell(), 8);

    std::vector<uint8_t> outside = {0x01, 0x00, 0x00, 0x03, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0};
    load(s, outside, 0x4D4D);
    s.read_ifd_entry(2, tag, type, count, save);
    EXPECT_EQ(s.tell(), 6);  // offset 4 + base 2

    // A count whose byte size overflows 32 bits must still be read as an offset.
    std::vector<uint8_t> huge = {0x01, 0x00, 0x00, 0x0C, 0x20, 0, 0, 0, 0, 0, 0, 9, 0, 0};
    load(s, huge, 0x4D4D);
    s.read_ifd_entry(0, tag, type, count, save);
    EXPECT_EQ(s.tell(), 9);
}

TEST(SessionPrimitives, DateTextFirstWinsAndZeroIgnored) {
    const std::string first = "2009:03:14 15:09:26";
    const std::string second = "2010:01:01 00:00:00";
    std::vector<uint8_t> bytes(first.begin(), first.end());
    bytes.insert(bytes.end(), second.begin(), second.end());
    DecoderSession s;
    load(s, bytes, 0x4949);
    s.read_date_text(false);
    std::tm t{};
    t.tm_year = 109;
    t.tm_mon = 2;
    t.tm_mday = 14;
    t.tm_hour = 15;
    t.tm_min = 9;
    t.tm_sec = 26;
    t.tm_isdst = -1;
    EXPECT_EQ(s.capture_time, static_cast<int64_t>(std::mktime(&t)));
    const int64_t kept = s.capture_time;
    s.read_date_text(false);
    EXPECT_EQ(s.capture_time, kept);

    const std::string zero = "0000:00:00 00:00:00";
    load(s, std::vector<uint8_t>(zero.begin(), zero.end()), 0x4949);
    s.capture_time = 0;
    s.read_date_text(false);
    EXPECT_EQ(s.capture_time, 0);

    // Reversed storage: the first byte read is the last character.
    std::string reversed(first.rbegin(), first.rend());
    load(s, std::vector<uint8_t>(reversed.begin(), reversed.end()), 0x4949);
    s.capture_time = 0;
    s.read_date_text(true);
    EXPECT_EQ(s.capture_time, kept);
}

TEST(SessionPrimitives, BlockReadSwapsAndCountsShortReads) {
    DecoderSession s;
    load(s, {0x01, 0x02, 0x03, 0x04, 0x05}, 0x4D4D);
    uint16_t buf[3] = {9, 9, 9};
    s.read_u16_block(buf, 3);
    EXPECT_EQ(buf[0], 0x0102);
    EXPECT_EQ(buf[1], 0x0304);
    EXPECT_EQ(s.short_read_count, 1);
}

TEST(SessionPrimitives, Find4ccAndFilterColours) {
    const uint8_t header[32] = {'I', 'I', 0, 0, 'C', 'R', 0, 0, 'H', 'E', 'A', 'P'};
    EXPECT_EQ(DecoderSession::find_4cc(header, 32, "HEAP"), 8);
    EXPECT_EQ(DecoderSession::find_4cc(header, 32, "FOVb"), -1);
    DecoderSession s;
    s.cfa_pattern = 0x94949494;  // RGGB-style word: rows alternate 0 1 / 1 2
    EXPECT_EQ(s.filter_color(0, 0), 0);
    EXPECT_EQ(s.filter_color(0, 1), 1);
    EXPECT_EQ(s.filter_color(1, 0), 1);
    EXPECT_EQ(s.filter_color(1, 1), 2);
    s.cfa_pattern = 1;
    s.crop_top = 1;
    s.crop_left = 2;
    EXPECT_EQ(s.sensor_color(0, 0), 0);  // row 1, column 2 of the fixed map
}
