// Identification steps on sessions and headers prepared by hand.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/identify/identify_steps.h"
#include "tests/support/byte_builder.h"

using namespace ostel::core;

namespace {

MagicMatch magic(const std::string& bytes, size_t at = 0) {
    uint8_t header[kHeaderBytes];
    std::memset(header, 0, sizeof header);
    std::memcpy(header + at, bytes.data(), std::min(bytes.size(), kHeaderBytes - at));
    return match_header_magic(header);
}

}  // namespace

TEST(IdentifyMagic, FirstMatchingRowDecides) {
    const std::string s0("\0", 1);
    struct Case {
        std::string bytes;
        size_t at;
        Container expected;
    } cases[] = {
        {"II*" + s0, 0, Container::tiff},
        {"MM" + s0 + "*", 0, Container::tiff},
        {std::string("II\x1a\0\0\0HEAPCCDR", 14), 0, Container::ciff},
        {"\xff\xd8\xff\xe1\x12\x34" "Exif", 0, Container::jpeg_exif},
        {"ARECOYK", 25, Container::contax},
        {"PXN", 0, Container::logitech},
        {"qktk", 0, Container::quicktake_100},
        {"qktn", 0, Container::quicktake_150},
        {"FUJIFILMCCD-RAW", 0, Container::raf},
        {"RIFF", 0, Container::riff},
        {std::string("\0\1\0\1\0\x40", 6), 0, Container::nokia},
        {"DSC-Image", 0, Container::rollei},
        {"PWAD", 0, Container::sinar_ia},
        {std::string("\0MRM", 4), 0, Container::mrw},
        {"FOVb", 0, Container::foveon},
        {"CI", 0, Container::cine},
        {"random bytes", 0, Container::unknown},
        // The short texts only match when a zero byte follows them.
        {"qktk1", 0, Container::unknown},
        {"PXN!", 0, Container::unknown},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(magic(c.bytes, c.at).container, c.expected);
    }
}

TEST(IdentifyMagic, PhaseOneMarkerWinsAnywhereInTheFirst32Bytes) {
    // A TIFF header with the marker further in is still a Phase One file.
    std::string h = "II*" + std::string(9, '\0') + "IIII";
    MagicMatch m = magic(h);
    EXPECT_EQ(m.container, Container::phase_one);
    EXPECT_EQ(m.position, 12);
    m = magic("MMMM");
    EXPECT_EQ(m.position, 0);
    // Position 28 is the last one tested.
    EXPECT_EQ(magic("IIII", 28).position, 28);
    EXPECT_EQ(magic("FUJIFILM" + std::string(4, '\0') + "MMMM").container, Container::phase_one);
}

TEST(IdentifyFileSize, SizeNamesTheCamera) {
    struct Case {
        int64_t size;
        const char* make;
        const char* model;
    } cases[] = {
        {62464, "Kodak", "DC20"},
        {6653280, "Canon", "PowerShot A530"},
        {3884928, "Micron", "2010"},
        {10134608, "AVT", "F-510C"},
        {16098048, "SAMSUNG", "S85"},
        {44390468, "Sinar", ""},
    };
    for (const Case& c : cases) {
        DecoderSession s;
        set_text(s.model, "previous");
        EXPECT_TRUE(apply_file_size_table(s, c.size));
        EXPECT_STREQ(s.make, c.make);
        EXPECT_STREQ(s.model, c.model);
    }
    DecoderSession s;
    EXPECT_FALSE(apply_file_size_table(s, 62465));
    EXPECT_STREQ(s.make, "");
}

TEST(IdentifyNames, MakerAndModelAreNormalised) {
    struct Case {
        const char* make_in;
        const char* model_in;
        const char* make;
        const char* model;
    } cases[] = {
        {"NIKON CORPORATION", "NIKON D70", "NIKON", "D70"},
        {"Canon", "Canon EOS 5D", "Canon", "EOS 5D"},
        {"PENTAX Corporation ", "pentax K10D   ", "PENTAX", "K10D"},
        {"OLYMPUS IMAGING CORP.  ", "E-500", "OLYMPUS", "E-500"},
        // A later maker name found in the text overrides an earlier one.
        {"KONICA MINOLTA", "DYNAX 5D", "MINOLTA", "DYNAX 5D"},
        {"EASTMAN KODAK COMPANY", "KODAK DCS Pro 14N DIGITAL CAMERA", "KODAK", "DCS Pro 14N"},
        {"Kodak", "P712 Digital Camera", "Kodak", "P712"},
        {"Foo", "Bar FILE VERSION 3", "Foo", "Bar"},
        {"Panasonic", "Digital Camera DMC-X", "Panasonic", "DMC-X"},
        // The make prefix is only dropped when a blank follows it.
        {"Canon", "CanonEOS", "Canon", "CanonEOS"},
        {"SAMSUNG TECHWIN", "", "SAMSUNG", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.make_in) + "|" + c.model_in);
        DecoderSession s;
        set_text(s.make, c.make_in);
        set_text(s.model, c.model_in);
        normalise_names(s);
        EXPECT_STREQ(s.make, c.make);
        EXPECT_STREQ(s.model, c.model);
    }
}

TEST(IdentifyNames, UnterminatedTextsAreCut) {
    DecoderSession s;
    std::memset(s.make, 'A', sizeof s.make);
    std::memset(s.model, 'B', sizeof s.model);
    std::memset(s.description, 'C', sizeof s.description);
    normalise_names(s);
    EXPECT_EQ(std::strlen(s.make), sizeof s.make - 1);
    EXPECT_EQ(std::strlen(s.model), sizeof s.model - 1);
    EXPECT_EQ(std::strlen(s.description), sizeof s.description - 1);
}

TEST(IdentifyDimensions, VisibleSizeAndFixedCorrections) {
    struct Case {
        int stored_h, stored_w, diagonal;
        int h, w, crop_top;
        uint32_t cfa;
    } cases[] = {
        {1000, 1500, 0, 1000, 1500, 0, 0xFFFFFFFF},
        {2624, 3936, 0, 2616, 3896, 0, 0xFFFFFFFF},
        {3136, 4864, 0, 3124, 4688, 0, 0xFFFFFFFF},
        {3136, 4736, 0, 3122, 4684, 2, 0x16161616},
        {3014, 4096, 0, 3014, 4014, 0, 0xFFFFFFFF},
        // Diagonal layout: width = height + diagonal, height = width - 1.
        {1440, 1440, 1000, 2439, 2440, 0, 0xFFFFFFFF},
        // A hostile diagonal extent leaves no usable width.
        {1440, 1440, 0x7FFFFFF0, -1, 0, 0, 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        DecoderSession s;
        s.reset_for_identification();
        s.stored_height = c.stored_h;
        s.stored_width = c.stored_w;
        s.diagonal_width = c.diagonal;
        s.pixel_aspect = 2;
        fix_dimensions(s);
        EXPECT_EQ(s.height, c.h);
        EXPECT_EQ(s.width, c.w);
        EXPECT_EQ(s.crop_top, c.crop_top);
        EXPECT_EQ(s.cfa_pattern, c.cfa);
        EXPECT_EQ(s.pixel_aspect, c.diagonal ? 1.0 : 2.0);
    }
}

TEST(IdentifyDng, PatternDecidesShotsOrColours) {
    struct Case {
        uint32_t cfa;
        int samples, compression;
        int raw_count, colours;
        uint32_t cfa_out;
        LoaderId loader;
    } cases[] = {
        {0x94949494, 1, 7, 1, 3, 0x94949494, LoaderId::dng_lossless_tiles_load_raw},
        {0xFFFFFFFF, 3, 1, 1, 3, 0, LoaderId::adobe_dng_load_raw_nc},
        {0xFFFFFFFF, 4, 1, 1, 4, 0, LoaderId::adobe_dng_load_raw_nc},
        {0x16161616, 0, 34892, 0, 3, 0x16161616, LoaderId::none},
    };
    for (const Case& c : cases) {
        DecoderSession s;
        s.reset_for_identification();
        s.dng_version = 0x01010000;
        s.cfa_pattern = c.cfa;
        s.samples_per_pixel = c.samples;
        s.compression = c.compression;
        apply_dng_rules(s);
        EXPECT_EQ(s.raw_count, c.raw_count);
        EXPECT_EQ(s.color_count, c.colours);
        EXPECT_EQ(s.cfa_pattern, c.cfa_out);
        EXPECT_EQ(s.loader, c.loader);
    }
}

namespace {

void prepare(DecoderSession& s, const char* make, const char* model) {
    s.reset_for_identification();
    set_text(s.make, make);
    set_text(s.model, model);
}

}  // namespace

TEST(IdentifyMakerRules, MakerWideSettings) {
    uint8_t plain[kHeaderBytes] = {'I', 'I'};
    uint8_t ciff[kHeaderBytes] = {'I', 'I', 0, 0, 0, 0, 'H', 'E', 'A', 'P', 'C', 'C', 'D', 'R'};

    DecoderSession s;
    prepare(s, "Canon", "EOS D30");
    EXPECT_TRUE(apply_maker_rules(s, ciff));
    EXPECT_EQ(s.loader, LoaderId::canon_compressed_load_raw);
    prepare(s, "Canon", "EOS 20D");
    EXPECT_TRUE(apply_maker_rules(s, plain));
    EXPECT_EQ(s.loader, LoaderId::lossless_image_load_raw);

    // Nikon compacts: packing flags; an already chosen loader is kept.
    prepare(s, "NIKON", "E5700");
    EXPECT_TRUE(apply_maker_rules(s, plain));
    EXPECT_EQ(s.loader, LoaderId::packed_bits_load_raw);
    EXPECT_EQ(s.packing_flags, 6);
    prepare(s, "NIKON", "E5700");
    s.raw_offset = 4096;
    apply_maker_rules(s, plain);
    EXPECT_EQ(s.packing_flags, 2);
    prepare(s, "NIKON", "D70");
    s.loader = LoaderId::nikon_huffman_load_raw;
    apply_maker_rules(s, plain);
    EXPECT_EQ(s.loader, LoaderId::nikon_huffman_load_raw);
    EXPECT_EQ(s.packing_flags, 0);

    prepare(s, "CASIO", "QV-R51");
    apply_maker_rules(s, plain);
    EXPECT_EQ(s.loader, LoaderId::packed_bits_load_raw);
    EXPECT_EQ(s.white_level, 3967);
}

TEST(IdentifyMakerRules, FoveonIsRefusedAndSmallRawEndsTheChain) {
    uint8_t plain[kHeaderBytes] = {};
    DecoderSession s;
    prepare(s, "SIGMA", "SD10");
    s.foveon_file = 1;
    s.height = 1512;
    s.width = 3048;
    s.loader = LoaderId::unpacked_load_raw;
    apply_maker_rules(s, plain);
    EXPECT_EQ(s.raw_count, 0);
    EXPECT_EQ(s.loader, LoaderId::none);
    EXPECT_EQ(s.pixel_aspect, 0.5);

    prepare(s, "Canon", "EOS 40D");
    s.bits_per_sample = 15;
    s.width = 3344;
    EXPECT_FALSE(apply_maker_rules(s, plain));
    EXPECT_EQ(s.width, 3272);
    EXPECT_EQ(s.cfa_pattern, 0u);
    EXPECT_EQ(s.loader, LoaderId::sraw_ycc_load_raw);
}

TEST(IdentifyFinishing, SecondGreenGetsItsOwnIndex) {
    EXPECT_EQ(split_second_green(0x94949494), 0xb4b4b4b4u);
    EXPECT_EQ(split_second_green(0x16161616), 0x1e1e1e1eu);
    EXPECT_EQ(split_second_green(0x61616161), 0xe1e1e1e1u);
    EXPECT_EQ(split_second_green(0x49494949), 0x4b4b4b4bu);
    EXPECT_EQ(split_second_green(0x1e1e1e1e), 0x1e1e1e1eu);

    DecoderSession s;
    s.reset_for_identification();
    s.loader = LoaderId::unpacked_load_raw;
    s.height = 100;
    s.width = 150;
    s.cfa_pattern = 0x94949494;
    finish_common(s);
    EXPECT_EQ(s.cfa_pattern, 0xb4b4b4b4u);
    EXPECT_EQ(s.bits_per_sample, 12);
    EXPECT_EQ(s.white_level, 4095);
    EXPECT_STREQ(s.color_letters, "RGB");
    EXPECT_EQ(s.stored_height, 100);
    EXPECT_EQ(s.stored_width, 150);
    EXPECT_EQ(s.raw_count, 1);

    // Four colours: the pattern already names every plane.
    s.reset_for_identification();
    s.loader = LoaderId::unpacked_load_raw;
    s.height = 100;
    s.color_count = 4;
    s.cfa_pattern = 0x94949494;
    s.bits_per_sample = 10;
    finish_common(s);
    EXPECT_EQ(s.cfa_pattern, 0x94949494u);
    EXPECT_EQ(s.white_level, 1023);
    EXPECT_STREQ(s.color_letters, "GMCY");
}

TEST(IdentifyFinishing, RefusalsAtTheEnd) {
    struct Case {
        LoaderId loader;
        int height;
        int raw_count;
    } cases[] = {
        {LoaderId::unpacked_load_raw, 22, 1},
        {LoaderId::unpacked_load_raw, 21, 0},
        {LoaderId::none, 1000, 0},
        {LoaderId::kodak_jpeg_loader, 1000, 0},
    };
    for (const Case& c : cases) {
        DecoderSession s;
        s.reset_for_identification();
        s.loader = c.loader;
        s.height = c.height;
        finish_common(s);
        EXPECT_EQ(s.raw_count, c.raw_count);
    }
}

TEST(IdentifyFinishing, NonDngDefaults) {
    DecoderSession s;
    s.reset_for_identification();
    set_text(s.make, "Canon");
    s.width = 2048;
    s.height = 1536;
    finish_non_dng(s);
    EXPECT_STREQ(s.model, "2048x1536");
    EXPECT_EQ(s.cfa_pattern, 0x94949494u);
    // "Canon 2048x1536" falls back to no row, so the matrix stays unset.
    EXPECT_EQ(s.no_camera_matrix, 1);

    // A matrix the file supplied takes precedence over the table; the
    // table's levels still apply.
    s.reset_for_identification();
    set_text(s.make, "Canon");
    set_text(s.model, "EOS 5D Mark II");
    s.no_camera_matrix = 0;
    s.xyz_to_cam[0][0] = 0.25f;
    finish_non_dng(s);
    EXPECT_EQ(s.xyz_to_cam[0][0], 0.25f);
    EXPECT_EQ(s.white_level, 0);
    s.no_camera_matrix = 1;
    finish_non_dng(s);
    EXPECT_FLOAT_EQ(s.xyz_to_cam[0][0], 0.4716f);
    EXPECT_EQ(s.white_level, 15600);
}

TEST(IdentifyFinishing, ThumbnailSizeFromItsFrameHeader) {
    ostel::test::ByteBuilder b(false);
    b.zeros(8).u16(0xFFD8).u16(0xFFE0).u16(6).u16(0).u16(0);
    b.u16(0xFFC0).u16(11).u8(8).u16(120).u16(160).u8(3).u16(0).u16(0);
    std::vector<uint8_t> bytes = b.take();

    DecoderSession s;
    s.input = ByteSource(bytes);
    int w = 0, h = 0;
    ASSERT_TRUE(read_jpeg_frame_size(s, 8, w, h));
    EXPECT_EQ(w, 160);
    EXPECT_EQ(h, 120);

    // No start of image there, a segment running past the end, a zero length.
    EXPECT_FALSE(read_jpeg_frame_size(s, 0, w, h));
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + 16);
    s.input = ByteSource(cut);
    EXPECT_FALSE(read_jpeg_frame_size(s, 8, w, h));
    bytes[13] = 0;
    s.input = ByteSource(bytes);
    EXPECT_FALSE(read_jpeg_frame_size(s, 8, w, h));
}
