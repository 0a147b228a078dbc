// Maker notes, the Kodak, Exif and GPS directories and the enciphered
// private block.
#include <gtest/gtest.h>

#include <cmath>

#include "core/identify/parsers.h"
#include "core/tiff/tiff_walk.h"
#include "tests/core/tiff_fixture_test.h"

using namespace ostel::core;
using namespace ostel::test;

namespace {

// One directory entry with its value field given as is.
void entry(ByteBuilder& b, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    b.ifd_entry(tag, type, count, value);
}

}  // namespace

TEST(MakerNote, OwnTiffHeaderUsesItsOwnOrderAndBaseAndRestoresTheOrder) {
    ByteBuilder b(false);
    b.zeros(20);
    const size_t note = b.size();
    b.text("Nikon").u8(0).u8(2).u8(0x10).u8(0).u8(0);
    const size_t base = b.size();
    b.text("MM").u16(42).u32(8);
    b.u16(2);
    entry(b, 0x0c, 5, 4, 8 + 2 + 24 + 4);  // rationals just after the directory, relative to base
    entry(b, 0x88, 4, 1, 100);
    b.u32(0);
    b.u32(3).u32(2).u32(1).u32(1).u32(5).u32(4).u32(1).u32(1);
    DecoderSession s;
    load(s, b.take());
    s.byte_order = 0x4949;
    s.seek(int64_t(note));
    read_maker_note(s, 0, 0);
    EXPECT_EQ(s.byte_order, 0x4949);
    EXPECT_FLOAT_EQ(s.as_shot_mul[0], 1.5f);
    EXPECT_FLOAT_EQ(s.as_shot_mul[2], 1.0f);
    EXPECT_EQ(s.thumb_offset, int64_t(base) + 100);
}

TEST(MakerNote, NestedDirectoryTagsCarryTheParentTag) {
    ByteBuilder b(true);
    b.zeros(16);
    const size_t note = b.size();
    b.text("OLYMPUS").u8(0).text("II").u16(3);
    b.u16(1);
    entry(b, 0x2040, 4, 1, 12 + 2 + 12 + 4);  // sub-directory relative to the note start
    b.u32(0);
    b.u16(1);
    entry(b, 0x0100, 3, 2, 0);
    b.patch_u16(b.size() - 4, 512);
    b.patch_u16(b.size() - 2, 384);
    b.u32(0);
    DecoderSession s;
    load(s, b.take());
    s.byte_order = 0x4D4D;
    s.seek(int64_t(note));
    read_maker_note(s, 0, 0);
    EXPECT_FLOAT_EQ(s.as_shot_mul[0], 2.0f);
    EXPECT_FLOAT_EQ(s.as_shot_mul[2], 1.5f);
    EXPECT_EQ(s.byte_order, 0x4D4D);
}

TEST(MakerNote, BalanceWordWindowEndsAtTheEndOfTheFile) {
    ByteBuilder b(false);
    b.text("KC").zeros(8);
    for (uint32_t w : {7u, 9u, 300u, 256u, 400u, 256u, 5u}) b.u16(w);
    DecoderSession s;
    load(s, b.take());
    s.raw_offset = 1 << 20;  // beyond the file: the end of the data must stop the scan
    s.seek(0);
    read_maker_note(s, 0, 0);
    EXPECT_FLOAT_EQ(s.as_shot_mul[0], 300);
    EXPECT_FLOAT_EQ(s.as_shot_mul[1], 256);
    EXPECT_FLOAT_EQ(s.as_shot_mul[2], 400);
    EXPECT_FLOAT_EQ(s.as_shot_mul[3], 256);
}

TEST(MakerNote, BareDirectoryShotInformationAndIndexedBalance) {
    ByteBuilder b(true);
    b.u16(2);
    const uint32_t shot = 2 + 24 + 4;
    const uint32_t balance = shot + 30 * 2;
    entry(b, 4, 3, 30, shot);
    entry(b, 0xa4, 3, 60, balance);
    b.u32(0);
    // Base ISO code 160 (ISO 100), aperture code 192 (f/8), shutter code 256
    // (1/256 s), white-balance index 2, frame 77.
    const uint32_t info[10] = {60, 0, 160, 0, 192, 256, 0, 2, 0, 77};
    for (int i = 0; i < 30; ++i) b.u16(i < 10 ? info[i] : 0);
    for (int i = 0; i < 60; ++i) b.u16(i == 48 ? 1100 : i == 49 ? 1024 : i == 50 ? 1600 : 1);
    DecoderSession s;
    load(s, b.take());
    set_text(s.make, "Canon");
    s.seek(0);
    read_maker_note(s, 0, 0);
    EXPECT_FLOAT_EQ(s.iso, 100);
    EXPECT_FLOAT_EQ(s.f_number, 8);
    EXPECT_FLOAT_EQ(s.exposure_time, 1.0f / 256);
    EXPECT_EQ(s.frame_number, 77u);
    EXPECT_FLOAT_EQ(s.as_shot_mul[0], 1100);
    EXPECT_FLOAT_EQ(s.as_shot_mul[1], 1024);
    EXPECT_FLOAT_EQ(s.as_shot_mul[2], 1600);
}

TEST(MakerNote, RecordWalksThatCannotAdvanceEnd) {
    // A capture note whose record claims a size below its own header, and a
    // serial number without a terminator running into the end of the file.
    ByteBuilder b(true);
    b.u16(2);
    const uint32_t capture = 2 + 24 + 4;
    entry(b, 0x1d, 2, 64, capture + 64);
    entry(b, 0xe01, 7, 64, capture);
    b.u32(0);
    b.zeros(22).u32(0x76a43207).zeros(14).u32(0).zeros(22);
    b.text("12345");
    b.pad_to(capture + 64 + 5);
    DecoderSession s;
    load(s, b.take());
    s.seek(0);
    read_maker_note(s, 0, 0);  // returns: nothing here may loop
    EXPECT_EQ(s.orientation, -1);

    ByteBuilder c(true);
    c.u16(1);
    entry(c, 0xe01, 7, 200, 2 + 12 + 4);
    c.u32(0);
    c.zeros(22);
    c.u32(0x11111111).zeros(14).u32(4 + 6).zeros(6);  // a record with six data bytes
    c.u32(0x76a43207).zeros(14).u32(4 + 2).u16(6);
    c.zeros(150);
    load(s, c.take());
    s.seek(0);
    read_maker_note(s, 0, 0);
    EXPECT_EQ(s.orientation, 6);
}

TEST(KodakIfd, WhiteBalanceByIndexAndByTemperature) {
    struct Case {
        const char* name;
        bool with_multipliers;
        uint32_t first_coefficient;
        float expected0;
    };
    for (const Case c : {Case{"multipliers and formula", true, 512, 2048.0f / (512 * 2)},
                         Case{"formula alone", false, 512, 2048.0f / 512},
                         Case{"zero formula", false, 0, 0.0f}}) {
        SCOPED_TRACE(c.name);
        ByteBuilder b(true);
        const int n = c.with_multipliers ? 3 : 2;
        b.u16(n);
        const uint32_t data = 2 + 12 * n + 4;
        entry(b, 1020, 3, 1, 1);
        if (c.with_multipliers) entry(b, 2131, 3, 3, data);
        entry(b, 2141, 3, 12, data + 6);
        b.u32(0);
        b.u16(2).u16(1).u16(4);
        for (int col = 0; col < 3; ++col) {
            b.u16(c.first_coefficient);
            b.u16(0).u16(0).u16(0);
        }
        DecoderSession s;
        load(s, b.take());
        s.seek(0);
        read_kodak_ifd(s, 0);
        EXPECT_FLOAT_EQ(s.as_shot_mul[0], c.expected0);
        EXPECT_TRUE(std::isfinite(s.as_shot_mul[1]));
    }
}

TEST(ExifIfd, ApexShutterApertureAndFilterPattern) {
    ByteBuilder b(true);
    b.u16(3);
    const uint32_t data = 2 + 36 + 4;
    entry(b, 37377, 10, 1, data);
    entry(b, 37378, 5, 1, data + 8);
    entry(b, 41730, 7, 8, data + 16);
    b.u32(0);
    b.u32(8).u32(1).u32(6).u32(1);
    b.u16(2).u16(2).u8(0).u8(1).u8(1).u8(2);
    DecoderSession s;
    load(s, b.take());
    s.seek(0);
    read_exif_ifd(s, 0);
    EXPECT_FLOAT_EQ(s.exposure_time, 1.0f / 256);
    EXPECT_FLOAT_EQ(s.f_number, 8);
    EXPECT_EQ(s.exif_cfa_pattern, 0x94949494u);
}

TEST(PrivateBlock, DecipheredBlockIsWalkedWithFileOffsets) {
    // The private directory lies at block_at; its out-of-line value is
    // addressed with a file offset, as the camera writes it.
    const uint32_t block_at = 128, key = 0x12345678;
    ByteBuilder blk(true);
    blk.u16(2);
    entry(blk, 271, 2, 9, block_at + 2 + 24 + 4);
    entry(blk, 36, 3, 1, 777);
    blk.u32(0).cstr("Privmake").zeros(3);
    std::vector<uint8_t> block = blk.take();
    tiff::decipher_words(block.data(), block.size() / 4, key);

    TiffFile f;
    f.dir({shorts(256, {64}), shorts(257, {64}), longs(29184, {block_at}), longs(29185, {uint32_t(block.size())}),
           longs(29217, {key})});
    std::vector<uint8_t> bytes = f.build();
    ASSERT_LE(bytes.size(), block_at);
    bytes.resize(block_at);
    bytes.insert(bytes.end(), block.begin(), block.end());
    const int64_t size = int64_t(bytes.size());
    DecoderSession s;
    load(s, bytes);
    ASSERT_EQ(parse_tiff_file(s, 0), 1);
    EXPECT_STREQ(s.make, "Privmake");
    EXPECT_FLOAT_EQ(s.as_shot_mul[0], 777);
    EXPECT_EQ(s.file_size(), size);  // the real file is back in place
}
