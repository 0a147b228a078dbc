// Directory-based containers: RAF, Minolta blocks, Phase One, Sinar IA, Cine
// and SMaL headers.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "core/identify/parsers.h"
#include "tests/support/byte_builder.h"

using ostel::core::ByteSource;
using ostel::core::DecoderSession;
using ostel::core::LoaderId;
using ostel::test::ByteBuilder;

namespace {

void load(DecoderSession& s, std::vector<uint8_t> bytes, uint16_t order = 0x4949) {
    s.reset_for_identification();
    s.input = ByteSource(std::move(bytes));
    s.byte_order = order;
}

uint32_t float_bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

}  // namespace

TEST(ContainersRaf, DirectoryRecords) {
    ByteBuilder b(false);
    b.zeros(4).u32(5);
    b.u16(0x100).u16(4).u16(2304).u16(4352);
    b.u16(0x121).u16(4).u16(2868).u16(4284);
    b.u16(0x9999).u16(3).zeros(3);  // unknown record, odd length
    b.u16(0x130).u16(2).u8(0x00).u8(0x08);
    b.u16(0x2ff0).u16(8).u16(1).u16(2).u16(3).u16(4);
    DecoderSession s;
    load(s, b.take(), 0x4d4d);
    ostel::core::read_raf_header(s, 4);
    EXPECT_EQ(s.stored_height, 2304);
    EXPECT_EQ(s.stored_width, 4352);
    EXPECT_EQ(s.height, 2868);
    EXPECT_EQ(s.width, 4287);
    EXPECT_EQ(s.loader, LoaderId::unpacked_load_raw);
    EXPECT_EQ(s.diagonal_layout, 0);
    const float expected[4] = {2, 1, 4, 3};
    for (int c = 0; c < 4; ++c) EXPECT_FLOAT_EQ(s.as_shot_mul[c], expected[c]) << c;
}

TEST(ContainersRaf, DiagonalLayoutAndCountLimit) {
    ByteBuilder b(false);
    b.u32(2).u16(0x121).u16(4).u16(1000).u16(2000).u16(0x130).u16(2).u8(0x80).u8(0x00);
    DecoderSession s;
    load(s, b.take(), 0x4d4d);
    ostel::core::read_raf_header(s, 0);
    EXPECT_EQ(s.diagonal_layout, 1);
    EXPECT_EQ(s.loader, LoaderId::fuji_load_raw);
    EXPECT_EQ(s.height, 2000);
    EXPECT_EQ(s.width, 1000);

    ByteBuilder many(false);
    many.u32(256).u16(0x121).u16(4).u16(1000).u16(2000);
    load(s, many.take(), 0x4d4d);
    ostel::core::read_raf_header(s, 0);
    EXPECT_EQ(s.height, 0);
    EXPECT_EQ(s.width, 0);
}

namespace {

// A Minolta block file: header, the blocks given, then pixel data.
std::vector<uint8_t> mrw(const std::function<void(ByteBuilder&)>& blocks, uint32_t* end = nullptr) {
    ByteBuilder b(false);
    b.u8(0).text("MRM").u32(0);
    blocks(b);
    const uint32_t length = static_cast<uint32_t>(b.size() - 8);
    b.patch_u32(4, length);
    if (end) *end = length + 8;
    b.zeros(16);
    return b.take();
}

}  // namespace

TEST(ContainersMrw, BlocksGiveSizeBalanceAndDataOffset) {
    uint32_t end = 0;
    const auto bytes = mrw(
        [](ByteBuilder& b) {
            b.u8(0).text("PRD").u32(24).zeros(8).u16(1544).u16(2056).zeros(12);
            b.u8(0).text("XYZ").u32(4).u32(0);
            b.u8(0).text("WBG").u32(12).u32(0).u16(10).u16(20).u16(30).u16(40);
            b.u8(0).text("TTW").u32(8).zeros(8);
        },
        &end);
    for (const char* model : {"DiMAGE A2", "DiMAGE A200"}) {
        SCOPED_TRACE(model);
        DecoderSession s;
        load(s, bytes);
        ostel::core::set_text(s.model, model);
        ostel::core::read_mrw(s, 0);
        EXPECT_EQ(s.stored_height, 1544);
        EXPECT_EQ(s.stored_width, 2056);
        EXPECT_EQ(s.raw_offset, end);
        EXPECT_EQ(s.byte_order, 0x4949) << "the previous order is restored";
        const bool a200 = std::strcmp(model, "DiMAGE A200") == 0;
        const float plain[4] = {10, 20, 40, 30}, swapped[4] = {30, 40, 20, 10};
        for (int c = 0; c < 4; ++c) EXPECT_FLOAT_EQ(s.as_shot_mul[c], a200 ? swapped[c] : plain[c]) << c;
    }
}

TEST(ContainersMrw, BadMagicAndRunawayLengths) {
    DecoderSession s;
    load(s, {0, 'M', 'X', 'M', 0, 0, 0, 8, 0, 'P', 'R', 'D'});
    ostel::core::read_mrw(s, 0);
    EXPECT_EQ(s.byte_order, 0x4949);

    // The header claims more than the file holds and a block length jumps
    // far past the end; the walk must stop at the end of the file.
    ByteBuilder b(false);
    b.u8(0).text("MRM").u32(0x7ffffff0);
    b.u8(0).text("PRD").u32(24).zeros(8).u16(100).u16(200).zeros(12);
    b.u8(0).text("ZZZ").u32(0xfffffff0);
    b.u8(0).text("WBG").u32(12).u32(0).u16(9).u16(9).u16(9).u16(9);
    load(s, b.take());
    ostel::core::read_mrw(s, 0);
    EXPECT_EQ(s.stored_height, 100);
    EXPECT_FLOAT_EQ(s.as_shot_mul[1], 1) << "the block after the runaway one is not reached";
}

namespace {

struct PhaseEntry {
    uint32_t tag, length, data;
};

// Container at base (after base bytes of padding): header, then the
// directory, then value blocks appended by the caller (offsets from base).
std::vector<uint8_t> phase_one(size_t base, const std::vector<PhaseEntry>& entries,
                               const std::vector<uint8_t>& values, uint32_t count_override = 0) {
    ByteBuilder b;
    b.zeros(base);
    b.text("IIII").u32(0x52617700 | 'w').u32(static_cast<uint32_t>(12 + values.size()));
    b.raw(values);
    b.u32(count_override ? count_override : static_cast<uint32_t>(entries.size())).u32(0);
    for (const PhaseEntry& e : entries) b.u32(e.tag).u32(1).u32(e.length).u32(e.data);
    return b.take();
}

}  // namespace

TEST(ContainersPhaseOne, DirectoryEntries) {
    // Value blocks: the camera name at 12, the multipliers at 32.
    ByteBuilder values;
    values.text("P 45+ camera").u8(0).pad_to(20);
    values.u32(float_bits(1.5f)).u32(float_bits(1.0f)).u32(float_bits(2.25f));
    const size_t base = 64;
    const auto bytes = phase_one(base,
                                 {{0x100, 0, 1},
                                  {0x108, 0, 7240},
                                  {0x109, 0, 5450},
                                  {0x10a, 0, 24},
                                  {0x222, 0, 3624},
                                  {0x10e, 0, 5},
                                  {0x10f, 0, 0x1000},
                                  {0x110, 700, 0x2000},
                                  {0x112, 0, 0xabcd1234},
                                  {0x21c, 0, 0x3000},
                                  {0x21d, 0, 512},
                                  {0x301, 20, 12},
                                  {0x107, 12, 32}},
                                 values.take());
    DecoderSession s;
    load(s, bytes);
    s.phase_one.black = 99;  // stale value of an earlier file
    ostel::core::read_phase_one(s, base);

    EXPECT_EQ(s.byte_order, 0x4949);
    EXPECT_STREQ(s.make, "Phase One");
    EXPECT_STREQ(s.model, "P 45+");
    EXPECT_EQ(s.orientation, 6);
    EXPECT_EQ(s.stored_width, 7240);
    EXPECT_EQ(s.stored_height, 5450);
    EXPECT_EQ(s.crop_left, 24);
    EXPECT_EQ(s.phase_one.split_col, 3600);
    EXPECT_EQ(s.phase_one.format, 5);
    EXPECT_EQ(s.loader, LoaderId::phase_one_load_raw_c);
    EXPECT_EQ(s.raw_offset, int64_t(base) + 0x1000);
    EXPECT_EQ(s.aux_offset, int64_t(base) + 0x2000);
    EXPECT_EQ(s.aux_length, 700);
    EXPECT_EQ(s.phase_one.strip_offset, int64_t(base) + 0x3000);
    EXPECT_EQ(s.phase_one.black, 512);
    EXPECT_EQ(s.white_level, 0xffff);
    EXPECT_FLOAT_EQ(s.as_shot_mul[0], 1.5f);
    EXPECT_FLOAT_EQ(s.as_shot_mul[2], 2.25f);
    // The key words are the data word of their entry.
    s.seek(s.phase_one.key_offset);
    EXPECT_EQ(s.read_u32(), 0xabcd1234u);
}

TEST(ContainersPhaseOne, ModelFromHeightAndHostileHeaders) {
    DecoderSession s;
    load(s, phase_one(0, {{0x109, 0, 4128}, {0x10e, 0, 1}}, {}));
    ostel::core::read_phase_one(s, 0);
    EXPECT_STREQ(s.model, "H 20");
    EXPECT_EQ(s.loader, LoaderId::phase_one_load_raw);

    // An entry count of four billion ends with the file.
    load(s, phase_one(0, {{0x109, 0, 2060}}, {}, 0xffffffff));
    ostel::core::read_phase_one(s, 0);
    EXPECT_STREQ(s.model, "LightPhase");

    // Without the "Raw" mark nothing is set and the byte order is kept.
    auto bytes = phase_one(0, {{0x109, 0, 4128}}, {});
    bytes[5] = 'x';
    load(s, bytes, 0x4d4d);
    ostel::core::read_phase_one(s, 0);
    EXPECT_STREQ(s.make, "");
    EXPECT_EQ(s.byte_order, 0x4d4d);
}

TEST(ContainersSinarIa, SectionsAndCameraName) {
    ByteBuilder b;
    b.text("PWAD").u32(3).u32(16);
    b.pad_to(16);
    b.u32(200).u32(0).text("META").zeros(4);
    b.u32(5000).u32(0).text("THUMB").zeros(3);
    b.u32(9000).u32(0).text("RAW0").zeros(4);
    b.pad_to(220).text("Sinar 54H").pad_to(284);
    b.u16(5440).u16(4080).u32(0).u16(340).u16(256).zeros(16);
    DecoderSession s;
    load(s, b.take(), 0x4d4d);
    ostel::core::read_sinar_ia(s);
    EXPECT_EQ(s.aux_offset, 200);
    EXPECT_EQ(s.thumb_offset, 5000);
    EXPECT_EQ(s.raw_offset, 9000);
    EXPECT_STREQ(s.make, "Sinar");
    EXPECT_STREQ(s.model, "54H");
    EXPECT_EQ(s.stored_width, 5440);
    EXPECT_EQ(s.stored_height, 4080);
    EXPECT_EQ(s.thumb_width, 340);
    EXPECT_EQ(s.thumb_height, 256);
    EXPECT_EQ(s.loader, LoaderId::unpacked_load_raw);
    EXPECT_EQ(s.thumb_writer, ostel::core::ThumbWriterId::ppm);
    EXPECT_EQ(s.white_level, 0x3fff);

    // A huge section count over a short file ends with the file.
    ByteBuilder hostile;
    hostile.text("PWAD").u32(0xffffffff).u32(12).zeros(20);
    load(s, hostile.take());
    ostel::core::read_sinar_ia(s);
    EXPECT_EQ(s.raw_offset, 0);
}

namespace {

struct CineHeader {
    uint16_t compression = 2;
    uint32_t frames = 3;
    uint16_t depth = 16;
    uint32_t pattern = 3;
    uint32_t rotation = 90;
    uint32_t bits = 12;
};

std::vector<uint8_t> cine(const CineHeader& h) {
    const uint32_t header = 44, setup = 64, images = 2000;
    ByteBuilder b;
    b.text("CI").u16(44).u16(h.compression).zeros(14).u32(h.frames);
    b.u32(header).u32(setup).u32(images).u32(1234567).u32(0);
    b.pad_to(header + 4).u32(1280).u32(800).u16(1).u16(h.depth);
    b.pad_to(setup + 792).u32(650).zeros(12).u32(0x7f000000 | h.pattern).zeros(72);
    b.u32(h.rotation).u32(float_bits(1.8f)).u32(float_bits(1.4f)).u32(h.bits).zeros(668).u32(2500000);
    b.pad_to(images);
    for (uint32_t f = 0; f < 3; ++f) b.u32(0x10000 * (f + 1)).u32(f == 2 ? 1 : 0);
    return b.take();
}

}  // namespace

TEST(ContainersCine, HeaderFields) {
    DecoderSession s;
    load(s, cine({}));
    s.shot_index = 2;
    ostel::core::read_cine(s);
    EXPECT_STREQ(s.make, "CINE");
    EXPECT_STREQ(s.model, "650");
    EXPECT_EQ(s.raw_count, 3);
    EXPECT_EQ(s.stored_width, 1280);
    EXPECT_EQ(s.stored_height, 800);
    EXPECT_EQ(s.loader, LoaderId::unpacked_load_raw);
    EXPECT_EQ(s.cfa_pattern, 0x94949494u);
    EXPECT_EQ(s.orientation, 7);
    EXPECT_EQ(s.white_level, 4095);
    EXPECT_FLOAT_EQ(s.as_shot_mul[0], 1.8f);
    EXPECT_FLOAT_EQ(s.as_shot_mul[2], 1.4f);
    EXPECT_FLOAT_EQ(s.exposure_time, 0.0025f);
    EXPECT_EQ(s.capture_time, 1234567);
    // Third frame: its 64-bit offset has a high word of 1.
    EXPECT_EQ(s.raw_offset, (int64_t(1) << 32) + 0x30000 + 8);
}

TEST(ContainersCine, VariantsAndRefusals) {
    struct Case {
        CineHeader header;
        int raw_count;
        int orientation;
        uint32_t pattern;
    };
    CineHeader single, eight, pattern5, deep, rot270;
    single.compression = 0;
    eight.depth = 8;
    eight.pattern = 4;
    eight.rotation = 180 + 3600;
    pattern5.pattern = 5;
    deep.bits = 40;  // a shift this wide has no white level
    rot270.rotation = static_cast<uint32_t>(-90);
    const Case cases[] = {
        {single, 0, 7, 0x94949494u},  {eight, 3, 1, 0x49494949u}, {pattern5, 0, 7, 0xffffffffu},
        {deep, 0, 7, 0x94949494u},    {rot270, 3, 4, 0x94949494u},
    };
    for (const Case& c : cases) {
        DecoderSession s;
        load(s, cine(c.header));
        ostel::core::read_cine(s);
        EXPECT_EQ(s.raw_count, c.raw_count);
        EXPECT_EQ(s.orientation, c.orientation);
        EXPECT_EQ(s.cfa_pattern, c.pattern);
    }
    DecoderSession s;
    load(s, cine(eight));
    ostel::core::read_cine(s);
    EXPECT_EQ(s.loader, LoaderId::eight_bit_load_raw);

    // Block offsets beyond the file refuse it.
    auto bytes = cine({});
    bytes[28] = 0xff;
    bytes[31] = 0x7f;
    load(s, bytes);
    ostel::core::read_cine(s);
    EXPECT_EQ(s.raw_count, 0);
}

TEST(ContainersSmal, SizeCheckedHeader) {
    ByteBuilder b;
    b.zeros(2).u8(9).u32(0).u32(0x200).u16(1200).u16(1600).pad_to(64);
    b.patch_u32(3, 64);
    DecoderSession s;
    load(s, b.take(), 0x4d4d);
    ostel::core::read_smal(s, 0, s.file_size());
    EXPECT_STREQ(s.make, "SMaL");
    EXPECT_STREQ(s.model, "v9 1600x1200");
    EXPECT_EQ(s.raw_offset, 0x200);
    EXPECT_EQ(s.height, 1200);
    EXPECT_EQ(s.stored_width, 1600);
    EXPECT_EQ(s.loader, LoaderId::smal_v9_loader);

    ByteBuilder v6;
    v6.zeros(2).u8(6).zeros(5).u32(40).u16(480).u16(640).pad_to(40);
    load(s, v6.take());
    ostel::core::read_smal(s, 0, s.file_size());
    EXPECT_STREQ(s.model, "v6 640x480");
    EXPECT_EQ(s.raw_offset, 0);
    EXPECT_EQ(s.loader, LoaderId::smal_v6_loader);

    // A size field that does not match the file: not a SMaL file.
    ByteBuilder other;
    other.zeros(2).u8(9).u32(12345).zeros(20);
    load(s, other.take(), 0x4d4d);
    ostel::core::read_smal(s, 0, s.file_size());
    EXPECT_STREQ(s.make, "");
    EXPECT_EQ(s.byte_order, 0x4d4d);
}
