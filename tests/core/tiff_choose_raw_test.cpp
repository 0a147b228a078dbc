// Choosing the raw image, its loader and the thumbnail after a tree walk.
#include <gtest/gtest.h>

#include "core/identify/parsers.h"
#include "tests/core/tiff_fixture_test.h"

using namespace ostel::core;
using namespace ostel::test;

namespace {

std::vector<TiffTag> image_dir(uint32_t width, uint32_t height, uint32_t bits, uint32_t samples,
                               uint32_t compression, uint32_t bytes, uint32_t photometric = 32803) {
    std::vector<uint32_t> bps(samples, bits);
    TiffTag bits_tag = shorts(258, bps);
    return {shorts(256, {width}), shorts(257, {height}), bits_tag, shorts(259, {compression}),
            shorts(262, {photometric}), longs(273, {0}), shorts(277, {samples}), longs(279, {bytes})};
}

}  // namespace

TEST(ChooseRawIfd, LargestImageIsRawAndSmallRgbStripIsPpmThumbnail) {
    TiffFile f;
    f.dir(image_dir(160, 120, 8, 3, 1, 160 * 120 * 3, 2));
    f.dir(image_dir(4000, 3000, 12, 1, 1, 4000 * 3000 * 3 / 2 + 1));
    DecoderSession s;
    load(s, f.build());
    ASSERT_EQ(parse_tiff_file(s, 0), 1);
    EXPECT_EQ(s.stored_width, 4000);
    EXPECT_EQ(s.stored_height, 3000);
    EXPECT_EQ(s.bits_per_sample, 12);
    EXPECT_EQ(s.samples_per_pixel, 1);
    EXPECT_EQ(s.loader, LoaderId::packed_bits_load_raw);
    EXPECT_EQ(s.raw_count, 1);
    EXPECT_EQ(s.thumb_width, 160);
    EXPECT_EQ(s.thumb_height, 120);
    EXPECT_EQ(s.thumb_length, 160 * 120 * 3);
    EXPECT_EQ(s.thumb_format, 8 | 3 << 5);
    EXPECT_EQ(s.thumb_writer, ThumbWriterId::ppm);
}

TEST(ChooseRawIfd, ThreeSampleJpegAndOversizedDirectoriesAreNotRaw) {
    TiffFile f;
    f.dir(image_dir(6000, 4000, 8, 3, 6, 1000));
    f.dir(image_dir(70000, 10, 16, 1, 1, 0));
    f.dir(image_dir(300, 200, 16, 1, 1, 0));
    DecoderSession s;
    load(s, f.build());
    parse_tiff_file(s, 0);
    EXPECT_EQ(s.stored_width, 300);
    EXPECT_EQ(s.stored_height, 200);
}

TEST(ChooseRawIfd, LoaderByCompression) {
    struct Case {
        const char* name;
        uint32_t compression, bits, photometric;
        int64_t bytes;  // -1: width x height x bits / 8
        const char* make;
        LoaderId loader;
        int raw_count, packing_flags, bits_after, height_after;
    };
    constexpr uint32_t W = 100, H = 80;
    const Case cases[] = {
        {"8-bit Kodak", 1, 8, 32803, -1, "Kodak", LoaderId::eight_bit_load_raw, 1, 0, 8, H},
        {"12-bit packed RGB-tagged", 1, 12, 2, -1, "X", LoaderId::packed_bits_load_raw, 1, 6, 12, H},
        {"12-bit Pentax", 1, 12, 32803, -1, "PENTAX Corp", LoaderId::unpacked_load_raw, 1, 0, 12, H},
        {"16-bit", 1, 16, 32803, -1, "X", LoaderId::unpacked_load_raw, 1, 0, 16, H},
        {"16-bit holding 12 packed", 1, 16, 32803, W * H * 8 / 5, "X", LoaderId::packed_bits_load_raw, 1, 273, 12, H},
        {"lossless JPEG", 7, 12, 32803, -1, "X", LoaderId::lossless_image_load_raw, 1, 0, 12, H},
        {"Kodak 262", 262, 12, 32803, -1, "X", LoaderId::kodak_262_load_raw, 1, 0, 12, H},
        {"ARW2", 32767, 8, 32803, W * H, "X", LoaderId::sony_arw2_load_raw, 1, 0, 12, H},
        {"ARW1 size mismatch", 32767, 12, 32803, 1234, "X", LoaderId::sony_arw_huffman_load_raw, 1, 0, 12, H + 8},
        {"ARW packed", 32767, 12, 32803, -1, "X", LoaderId::packed_bits_load_raw, 1, 80, 12, H},
        {"32769", 32769, 12, 32803, -1, "X", LoaderId::packed_bits_load_raw, 1, 1, 12, H},
        {"32773", 32773, 12, 32803, -1, "X", LoaderId::packed_bits_load_raw, 1, 0, 12, H},
        {"Nikon", 34713, 12, 32803, -1, "X", LoaderId::nikon_huffman_load_raw, 1, 0, 12, H},
        {"Pentax table", 65535, 12, 32803, -1, "X", LoaderId::pentax_table_load_raw, 1, 0, 12, H},
        {"Kodak RGB", 65000, 12, 2, -1, "X", LoaderId::kodak_rgb16_load_raw, 1, 0, 12, H},
        {"Kodak YCC", 65000, 12, 6, -1, "X", LoaderId::kodak_ycc_load_raw, 1, 0, 12, H},
        {"Kodak block", 65000, 12, 32803, -1, "X", LoaderId::kodak_block_load_raw, 1, 0, 12, H},
        {"left to the rules", 32867, 12, 32803, -1, "X", LoaderId::none, 1, 0, 12, H},
        {"unknown compression", 5, 12, 32803, -1, "X", LoaderId::none, 0, 0, 12, H},
        {"8-bit, not Kodak", 1, 8, 32803, -1, "Other", LoaderId::eight_bit_load_raw, 0, 0, 8, H},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t bytes = c.bytes < 0 ? W * H * c.bits / 8 : uint32_t(c.bytes);
        TiffFile f;
        std::vector<TiffTag> tags = image_dir(W, H, c.bits, 1, c.compression, bytes, c.photometric);
        tags.push_back(ascii(271, c.make));
        f.dir(tags);
        DecoderSession s;
        load(s, f.build());
        parse_tiff_file(s, 0);
        EXPECT_EQ(s.loader, c.loader) << loader_name(s.loader);
        EXPECT_EQ(s.raw_count, c.raw_count);
        EXPECT_EQ(s.packing_flags, c.packing_flags);
        EXPECT_EQ(s.bits_per_sample, c.bits_after);
        EXPECT_EQ(s.stored_height, int(c.height_after));
        if (c.compression == 65000 && c.photometric != 32803) EXPECT_EQ(s.cfa_pattern, 0u);
    }
}

TEST(ChooseRawIfd, ThreeSampleRawWithByteCountIsRefusedExceptDng) {
    for (const bool dng : {false, true}) {
        SCOPED_TRACE(dng ? "DNG" : "TIFF");
        TiffFile f;
        std::vector<TiffTag> tags = image_dir(100, 80, 16, 3, 1, 100 * 80 * 6, 2);
        if (dng) tags.push_back(bytes_tag(50706, {1, 1, 0, 0}));
        f.dir(tags);
        DecoderSession s;
        load(s, f.build());
        parse_tiff_file(s, 0);
        EXPECT_EQ(s.samples_per_pixel, 3);
        EXPECT_EQ(s.raw_count, dng ? 1 : 0);
    }
}

TEST(ChooseRawIfd, FirstDirectoryOrientationWinsAndLoaderSetEarlierStays) {
    TiffFile f;
    std::vector<TiffTag> first = image_dir(160, 120, 8, 3, 1, 160 * 120 * 3, 2);
    first.push_back(shorts(274, {6}));
    first.push_back(longs(280, {0}));  // a LONG here chooses the block loader before the table
    f.dir(first);
    std::vector<TiffTag> raw = image_dir(400, 300, 12, 1, 34713, 1000);
    raw.push_back(shorts(274, {3}));
    f.dir(raw);
    DecoderSession s;
    load(s, f.build());
    parse_tiff_file(s, 0);
    EXPECT_EQ(s.container_orientation, 6);
    EXPECT_EQ(s.loader, LoaderId::panasonic_block_load_raw);
    EXPECT_EQ(s.packing_flags, 0x2008);
}
