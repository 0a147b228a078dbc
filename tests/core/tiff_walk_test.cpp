// The directory walk: byte orders, values inside and outside entries, loops
// in the tree, filter patterns, DNG colour tags and text tags.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "core/identify/parsers.h"
#include "tests/core/tiff_fixture_test.h"

using namespace ostel::core;
using namespace ostel::test;

namespace {

std::vector<TiffTag> raw_dir(uint32_t width, uint32_t height, uint32_t bits) {
    return {shorts(256, {width}), shorts(257, {height}), shorts(258, {bits}), shorts(259, {1}),
            longs(273, {0}), longs(279, {width * height * bits / 8})};
}

}  // namespace

TEST(TiffWalk, BothByteOrdersWithValuesInsideAndOutsideTheEntry) {
    for (const bool little : {true, false}) {
        SCOPED_TRACE(little ? "II" : "MM");
        TiffFile f(little);
        std::vector<TiffTag> tags = raw_dir(640, 480, 16);
        tags.push_back(ascii(271, "Leaf"));                // 5 bytes: outside the entry
        tags.push_back(ascii(272, "A1"));                  // 3 bytes: inside
        tags.push_back(longs(256, {1000}));                 // LONG width replaces the SHORT one
        tags.push_back(rationals(33434, {1, 250}));
        f.dir(tags);
        DecoderSession s;
        load(s, f.build());
        ASSERT_EQ(parse_tiff_file(s, 0), 1);
        EXPECT_STREQ(s.make, "Leaf");
        EXPECT_STREQ(s.model, "A1");
        EXPECT_EQ(s.stored_width, 1000);
        EXPECT_EQ(s.stored_height, 480);
        EXPECT_EQ(s.bits_per_sample, 16);
        EXPECT_FLOAT_EQ(s.exposure_time, 1.0f / 250);
        EXPECT_EQ(s.loader, LoaderId::unpacked_load_raw);
    }
}

TEST(TiffWalk, NotATiffHeader) {
    DecoderSession s;
    load(s, {'I', 'M', 42, 0, 8, 0, 0, 0});
    EXPECT_EQ(parse_tiff_file(s, 0), 0);
}

TEST(TiffWalk, LoopsInTheTreeEnd) {
    // A chain whose next offset points back at its own directory.
    {
        TiffFile f;
        f.dir(raw_dir(100, 100, 16));
        std::vector<uint8_t> bytes = f.build();
        const size_t next = 8 + 2 + 12 * 6;
        bytes[next] = 8;
        DecoderSession s;
        load(s, bytes);
        ASSERT_EQ(parse_tiff_file(s, 0), 1);
        EXPECT_EQ(s.tiff.ifd_count, TiffState::kMaxIfds);
        EXPECT_EQ(s.stored_width, 100);
    }
    // Sub-directory and Exif pointers back at their own directories: the
    // walk ends within the nesting and work limits.
    for (const uint16_t tag : {uint16_t(330), uint16_t(34665), uint16_t(34853)}) {
        SCOPED_TRACE(tag);
        std::vector<TiffTag> self;
        for (int i = 0; i < 40; ++i) self.push_back(dir_pointer(tag, 1));
        std::vector<TiffTag> first = raw_dir(64, 64, 16);
        first.push_back(dir_pointer(tag, 1));
        TiffFile g;
        g.dir(first);
        g.dir(self, false);
        DecoderSession s;
        load(s, g.build());
        EXPECT_EQ(parse_tiff_file(s, 0), 1);
        EXPECT_LE(s.tiff.ifd_count, TiffState::kMaxIfds);
        EXPECT_EQ(s.parse_depth, 0);
    }
}

TEST(TiffWalk, DirectoryWithTooManyEntriesEndsTheChain) {
    TiffFile f;
    f.dir(raw_dir(64, 64, 16));
    std::vector<uint8_t> bytes = f.build();
    bytes[8] = 0x01;  // 513 entries claimed
    bytes[9] = 0x02;
    DecoderSession s;
    load(s, bytes);
    EXPECT_EQ(parse_tiff_file(s, 0), 1);
    EXPECT_EQ(s.stored_width, 0);
}

TEST(TiffWalk, OrientationCodes) {
    struct Case { uint32_t value; int expected; };
    for (const Case c : {Case{8, 5}, Case{6, 6}, Case{3, 3}, Case{1, 0}, Case{5, 4}}) {
        SCOPED_TRACE(c.value);
        TiffFile f;
        std::vector<TiffTag> tags = raw_dir(64, 64, 16);
        tags.push_back(shorts(274, {c.value}));
        f.dir(tags);
        DecoderSession s;
        load(s, f.build());
        parse_tiff_file(s, 0);
        EXPECT_EQ(s.container_orientation, c.expected);
    }
}

TEST(TiffWalk, FilterPatternWords) {
    struct Case {
        const char* name;
        std::vector<uint32_t> pattern;
        std::vector<uint32_t> planes;  // empty: no plane-colour tag
        uint32_t word;
        int colors;
    };
    const Case cases[] = {
        {"RGGB", {0, 1, 1, 2}, {}, 0x94949494, 3},
        {"RGGB with planes G R B", {0, 1, 1, 2}, {1, 0, 2}, 0x81818181, 3},
        {"CMY values", {3, 4, 4, 5}, {}, 0x94949494, 3},
        {"value without a plane", {0, 7, 1, 2}, {}, 0xFFFFFFFF, 3},
        {"five colours", {0, 1, 2, 3, 4}, {}, 0xFFFFFFFF, 3},
        {"no values", {}, {}, 0xFFFFFFFF, 3},
        {"plane map lacking a value", {0, 1, 1, 2}, {0, 1}, 0x94949494, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TiffFile f;
        std::vector<TiffTag> tags = raw_dir(64, 64, 16);
        tags.push_back(bytes_tag(33422, c.pattern));
        if (!c.planes.empty()) tags.push_back(bytes_tag(50710, c.planes));
        f.dir(tags);
        DecoderSession s;
        load(s, f.build());
        parse_tiff_file(s, 0);
        EXPECT_EQ(s.cfa_pattern, c.word);
        EXPECT_EQ(s.color_count, c.colors);
    }
}

TEST(TiffWalk, DngColourMatrixAndAsShotNeutral) {
    TiffFile f;
    std::vector<TiffTag> tags = raw_dir(64, 64, 16);
    tags.push_back(bytes_tag(50706, {1, 4, 0, 0}));
    // An identity colour matrix and a neutral of (0.5, 1, 0.8).
    tags.push_back(rationals(50721, {1, 1, 0, 1, 0, 1, 0, 1, 1, 1, 0, 1, 0, 1, 0, 1, 1, 1}, 10));
    tags.push_back(rationals(50728, {1, 2, 1, 1, 4, 5}));
    f.dir(tags);
    DecoderSession s;
    load(s, f.build());
    ASSERT_EQ(parse_tiff_file(s, 0), 1);
    EXPECT_STREQ(s.make, "DNG");
    EXPECT_EQ(s.dng_version, 0x01040000u);
    EXPECT_FLOAT_EQ(s.as_shot_mul[0], 2.0f);
    EXPECT_FLOAT_EQ(s.as_shot_mul[1], 1.0f);
    EXPECT_FLOAT_EQ(s.as_shot_mul[2], 1.25f);
    EXPECT_FLOAT_EQ(s.as_shot_mul[3], 0.0f);
    EXPECT_EQ(s.no_camera_matrix, 0);
    EXPECT_FLOAT_EQ(s.xyz_to_cam[0][0], 1.0f);
    EXPECT_FLOAT_EQ(s.xyz_to_cam[1][0], 0.0f);
}

TEST(TiffWalk, DngValuesThatWouldPoisonTheLevels) {
    TiffFile f;
    std::vector<TiffTag> tags = raw_dir(64, 64, 16);
    tags.push_back(bytes_tag(50706, {1, 1, 0, 0}));
    tags.push_back(rationals(50714, {}));                   // no values
    tags.push_back(rationals(50715, {10, 1, 21, 1}));       // mean 15.5 -> 16
    tags.push_back(rationals(50716, {1, 0}));               // division by zero
    tags.push_back(rationals(50728, {1, 1, 0, 1, 2, 1}));   // a zero green neutral
    tags.push_back(longs(50829, {10, 20, 5, 100}));         // bottom above top
    f.dir(tags);
    DecoderSession s;
    load(s, f.build());
    parse_tiff_file(s, 0);
    EXPECT_EQ(s.black_level, 16);
    EXPECT_FLOAT_EQ(s.as_shot_mul[0], 1.0f);
    EXPECT_FLOAT_EQ(s.as_shot_mul[1], 1.0f);  // unchanged rather than infinite
    EXPECT_FLOAT_EQ(s.as_shot_mul[2], 0.5f);
    EXPECT_EQ(s.height, 0);
    EXPECT_EQ(s.width, 80);
    EXPECT_EQ(s.crop_top, 10);
}

TEST(TiffWalk, ConverterSoftwareIsRefused) {
    struct Case { const char* software; int raw_count; };
    for (const Case c : {Case{"Adobe Photoshop Lightroom", 0}, Case{"UFRaw 0.15", 0}, Case{"Nikon Scan 4.0", 0},
                         Case{"Digital Photo Professional", 0}, Case{"Digital Photo Professional 4", 1},
                         Case{"Firmware 1.02", 1}}) {
        SCOPED_TRACE(c.software);
        TiffFile f;
        std::vector<TiffTag> tags = raw_dir(64, 64, 16);
        tags.push_back(ascii(305, c.software));
        f.dir(tags);
        DecoderSession s;
        load(s, f.build());
        parse_tiff_file(s, 0);
        EXPECT_EQ(s.raw_count, c.raw_count);
    }
    // A DNG written by a converter is still a DNG.
    TiffFile f;
    std::vector<TiffTag> tags = raw_dir(64, 64, 16);
    tags.push_back(ascii(305, "Adobe DNG Converter"));
    tags.push_back(bytes_tag(50706, {1, 1, 0, 0}));
    f.dir(tags);
    DecoderSession s;
    load(s, f.build());
    parse_tiff_file(s, 0);
    EXPECT_EQ(s.raw_count, 1);
}

TEST(TiffWalk, LinearisationTable) {
    TiffFile f;
    std::vector<TiffTag> tags = raw_dir(64, 64, 16);
    tags.push_back(shorts(291, {0, 10, 400}));
    f.dir(tags);
    DecoderSession s;
    load(s, f.build());
    parse_tiff_file(s, 0);
    EXPECT_EQ(s.lin_table[1], 10);
    EXPECT_EQ(s.lin_table[2], 400);
    EXPECT_EQ(s.lin_table[4095], 400);
    EXPECT_EQ(s.white_level, 400);

    // An empty table leaves the identity in place.
    TiffFile g;
    tags = raw_dir(64, 64, 16);
    tags.push_back(TiffTag{291, 3, 0, {}, {}, -1});
    g.dir(tags);
    load(s, g.build());
    parse_tiff_file(s, 0);
    EXPECT_EQ(s.lin_table[4095], 4095);
    EXPECT_EQ(s.white_level, 0);
}

TEST(TiffWalk, TextTagsAreTerminatedAndBounded) {
    TiffFile f;
    std::vector<TiffTag> tags = raw_dir(64, 64, 16);
    tags.push_back(ascii(270, std::string(700, 'd')));
    tags.push_back(undefined(315, std::vector<uint8_t>(80, 'a')));  // no terminator of its own
    tags.push_back(ascii(271, "Maker\nrest"));
    f.dir(tags);
    DecoderSession s;
    load(s, f.build());
    parse_tiff_file(s, 0);
    EXPECT_EQ(std::strlen(s.description), 511u);
    EXPECT_EQ(std::strlen(s.artist), 63u);
    EXPECT_STREQ(s.make, "Maker\n");
}

TEST(TiffWalk, ValuesOutsideTheFileAreIgnored) {
    TiffFile f;
    std::vector<TiffTag> tags = raw_dir(64, 64, 16);
    tags.push_back(tail_pointer(271, 0x7FFFFF00, 2, 20));   // make far past the end
    tags.push_back(tail_pointer(291, 0x7FFFFF00, 3, 4000));  // table far past the end
    f.dir(tags);
    DecoderSession s;
    load(s, f.build());
    parse_tiff_file(s, 0);
    EXPECT_STREQ(s.make, "");
    EXPECT_EQ(s.lin_table[4095], 4095);
    EXPECT_EQ(s.stored_width, 64);
}
