// Heap-structured raw files and the JPEG marker walk that finds heaps and
// Exif trees inside JPEG files.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/identify/parsers.h"
#include "tests/support/byte_builder.h"

using ostel::core::ByteSource;
using ostel::core::DecoderSession;
using ostel::test::ByteBuilder;

namespace {

// One heap record: either data stored in the heap or a value carried in the
// length word.
struct Record {
    uint16_t type;
    std::vector<uint8_t> data;
    uint32_t length_value = 0;  // used when data is empty
    int64_t offset_override = -1;
};

// Data blocks first, then the table, then the table's offset in the last word.
std::vector<uint8_t> heap(const std::vector<Record>& records) {
    ByteBuilder b;
    std::vector<uint32_t> offsets;
    for (const Record& r : records) {
        offsets.push_back(static_cast<uint32_t>(b.size()));
        b.raw(r.data);
    }
    const uint32_t table = static_cast<uint32_t>(b.size());
    b.u16(static_cast<uint32_t>(records.size()));
    for (size_t i = 0; i < records.size(); ++i) {
        const Record& r = records[i];
        b.u16(r.type).u32(r.data.empty() ? r.length_value : static_cast<uint32_t>(r.data.size()));
        b.u32(r.offset_override >= 0 ? static_cast<uint32_t>(r.offset_override) : offsets[i]);
    }
    b.u32(table);
    return b.take();
}

void load(DecoderSession& s, std::vector<uint8_t> bytes) {
    s.reset_for_identification();
    s.input = ByteSource(std::move(bytes));
    s.byte_order = 0x4949;
}

// Shot record: ISO 100, f/4, logarithmic shutter field, balance index.
std::vector<uint8_t> shot_record(int16_t shutter_field, uint16_t balance_index, uint16_t tenths) {
    ByteBuilder b;
    b.zeros(4).u16(160).u16(0).u16(128).u16(static_cast<uint16_t>(shutter_field)).u16(0).u16(balance_index);
    b.zeros(32).u16(tenths);
    return b.take();
}

// Balance block 0x10a9: row r holds the four values 10r+1 .. 10r+4.
std::vector<uint8_t> balance_rows() {
    ByteBuilder b;
    b.u16(0);
    for (int row = 0; row < 10; ++row)
        for (int c = 1; c <= 4; ++c) b.u16(10 * row + c);
    return b.take();
}

}  // namespace

TEST(ContainersHeap, NestedTablesGiveNamesShotDataAndGeometry) {
    ByteBuilder names;
    names.cstr("Canon").cstr("PowerShot G2").pad_to(70);
    ByteBuilder sensor;
    sensor.u16(0).u16(2376).u16(1728);
    const std::vector<uint8_t> inner = heap({
        {0x080a, names.take()},
        {0x102a, shot_record(-640, 0, 300)},
        {0x1031, sensor.take()},
    });
    const std::vector<uint8_t> thumb(100, 0xAB);
    const std::vector<uint8_t> top = heap({
        {0x300a, inner},
        {0x2007, thumb},
        {0x5029, {}, (70u << 16) | 2},
        {0x5817, {}, 4321},
        {0x5834, {}, 0x80000123},
    });
    // The heap starts after a 26-byte file header, as in a real file.
    ByteBuilder file;
    file.zeros(26).raw(top);
    DecoderSession s;
    load(s, file.take());
    ostel::core::read_ciff(s, 26, static_cast<int64_t>(top.size()));

    EXPECT_STREQ(s.make, "Canon");
    EXPECT_STREQ(s.model, "PowerShot G2");
    EXPECT_FLOAT_EQ(s.iso, 100);
    EXPECT_FLOAT_EQ(s.f_number, 4);
    // 2^20 s is beyond any real exposure: the tenths field 32 bytes on is used.
    EXPECT_FLOAT_EQ(s.exposure_time, 30);
    EXPECT_EQ(s.stored_width, 2376);
    EXPECT_EQ(s.stored_height, 1728);
    EXPECT_EQ(s.thumb_offset, 26 + static_cast<int64_t>(inner.size()));
    EXPECT_EQ(s.thumb_length, 100);
    EXPECT_FLOAT_EQ(s.focal_length, 70.0f / 32);
    EXPECT_EQ(s.frame_number, 4321u);
    EXPECT_EQ(s.model_id, 0x80000123u);
}

TEST(ContainersHeap, BalanceRecordsFollowTheShotIndex) {
    struct Case {
        uint16_t index;
        float expected[4];
    };
    // Index 3 selects row 4 of the 0x10a9 block; indexes from 10 on have no
    // row and must leave the multipliers alone.
    const Case cases[] = {
        {3, {41, 42, 44, 43}},
        {7, {1, 2, 4, 3}},  // the table maps index 7 back to row 0
        {0, {1, 2, 4, 3}},
        {12, {0, 1, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        DecoderSession s;
        load(s, heap({{0x102a, shot_record(0, c.index, 0)}, {0x10a9, balance_rows()}}));
        ostel::core::read_ciff(s, 0, s.file_size());
        for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(s.as_shot_mul[i], c.expected[i]) << i;
    }
}

TEST(ContainersHeap, PlainBalanceBlockTakesReciprocals) {
    ByteBuilder block;
    block.zeros(72).u16(512).u16(1024).u16(0).u16(256).pad_to(768);
    DecoderSession s;
    load(s, heap({{0x102a, shot_record(0, 2, 0)}, {0x0032, block.take()}}));
    ostel::core::read_ciff(s, 0, s.file_size());
    EXPECT_FLOAT_EQ(s.as_shot_mul[0], 2);
    EXPECT_FLOAT_EQ(s.as_shot_mul[1], 1);
    EXPECT_FLOAT_EQ(s.as_shot_mul[2], 4);
    // A zero has no reciprocal: that multiplier keeps its reset value.
    EXPECT_FLOAT_EQ(s.as_shot_mul[3], 0);

    // Balance index 0 means the camera balanced automatically.
    ByteBuilder automatic;
    automatic.zeros(72).u16(512).u16(1024).u16(512).u16(256).pad_to(768);
    load(s, heap({{0x102a, shot_record(0, 0, 0)}, {0x0032, automatic.take()}}));
    ostel::core::read_ciff(s, 0, s.file_size());
    EXPECT_FLOAT_EQ(s.as_shot_mul[0], -1);
}

TEST(ContainersHeap, HostileTablesEndCleanly) {
    {
        // Fifty sub-tables that each point back at the whole heap: the walk
        // must end (depth and record budget) and still read plain records.
        std::vector<Record> records(50, Record{0x300a, {}, 0, 0});
        records.push_back({0x5817, {}, 77});
        std::vector<uint8_t> bytes = heap(records);
        for (size_t i = 0; i < 50; ++i) {
            // Length of each self-reference = the whole heap.
            const size_t at = bytes.size() - 4 - (records.size() - i) * 10 + 2;
            const uint32_t n = static_cast<uint32_t>(bytes.size());
            std::memcpy(&bytes[at], &n, 4);
        }
        DecoderSession s;
        load(s, bytes);
        ostel::core::read_ciff(s, 0, s.file_size());
        EXPECT_EQ(s.frame_number, 77u);
        EXPECT_EQ(s.parse_depth, 0);
    }
    {
        // 101 records is above the limit: nothing is read.
        std::vector<Record> records(101, Record{0x5817, {}, 9});
        DecoderSession s;
        load(s, heap(records));
        ostel::core::read_ciff(s, 0, s.file_size());
        EXPECT_EQ(s.frame_number, 0u);
    }
    {
        // Records whose data lies outside the file, and a table offset past the end.
        ByteBuilder names;
        names.cstr("Canon").cstr("X");
        DecoderSession s;
        load(s, heap({{0x080a, names.take(), 0, 0x7fffff00}, {0x5817, {}, 5}}));
        ostel::core::read_ciff(s, 0, s.file_size());
        EXPECT_STREQ(s.make, "");
        EXPECT_EQ(s.frame_number, 5u);

        ByteBuilder b;
        b.zeros(16).u32(0xfffffff0);
        load(s, b.take());
        ostel::core::read_ciff(s, 0, s.file_size());
        ostel::core::read_ciff(s, 8, 1 << 30);
        EXPECT_EQ(s.frame_number, 0u);
    }
}

TEST(ContainersJpeg, FrameSizeAndSegmentWalk) {
    ByteBuilder b(false);
    b.u8(0xff).u8(0xd8);
    b.u8(0xff).u8(0xe0).u16(8).text("JFIF").u16(0);
    b.u8(0xff).u8(0xc0).u16(10).u8(8).u16(480).u16(640).u8(3).u16(0);
    b.u8(0xff).u8(0xda).u16(2);
    DecoderSession s;
    load(s, b.take());
    EXPECT_EQ(ostel::core::read_jpeg_markers(s, 0), 1);
    EXPECT_EQ(s.stored_height, 480);
    EXPECT_EQ(s.stored_width, 640);

    // Not a JPEG.
    load(s, {0xff, 0xd9, 0xff, 0xc0});
    EXPECT_EQ(ostel::core::read_jpeg_markers(s, 0), 0);

    // Segment lengths of 0 and 1 would not advance; one past the end cannot be read.
    for (uint32_t length : {0u, 1u, 0xfff0u}) {
        SCOPED_TRACE(length);
        ByteBuilder h(false);
        h.u8(0xff).u8(0xd8).u8(0xff).u8(0xe1).u16(length).zeros(8);
        load(s, h.take());
        EXPECT_EQ(ostel::core::read_jpeg_markers(s, 0), 1);
    }
}
