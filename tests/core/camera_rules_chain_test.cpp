#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/identify/parsers.h"
#include "tests/core/camera_rules_fixture.h"
#include "tests/support/byte_builder.h"

namespace {

using ostel::core::DecoderSession;
using ostel::core::LoaderId;
using ostel::core::apply_camera_rules;
using ostel::test::camera;
using ostel::test::CameraSetup;

TEST(CameraRulesCanon, WidthGroupTrimsMarginsAndLooksUpTheBodyById) {
    auto s = camera({"Canon", "EOS Kiss Digital N", 2328, 3516});
    s->model_id = 0x80000189;
    apply_camera_rules(*s);
    EXPECT_EQ(s->crop_top, 14);
    EXPECT_EQ(s->crop_left, 42);
    EXPECT_EQ(s->height, 2328 - 14);
    EXPECT_EQ(s->width, 3516 - 42);
    EXPECT_EQ(s->no_camera_matrix, 0);
    EXPECT_NEAR(s->xyz_to_cam[0][0], 0.6018, 1e-4);

    // Another id under the same width keeps its own name for the final lookup.
    auto other = camera({"Canon", "EOS Kiss Digital N", 2328, 3516});
    other->model_id = 0x80000001;
    apply_camera_rules(*other);
    EXPECT_EQ(other->width, 3516 - 42);
    EXPECT_EQ(other->no_camera_matrix, 1);
}

TEST(CameraRulesCanon, SlicedSensorWidensBeforeTrimming) {
    auto s = camera({"Canon", "EOS 500D", 3160, 1208});
    s->model_id = 0x80000252;
    apply_camera_rules(*s);
    EXPECT_EQ(s->stored_width, 1208 * 4);
    EXPECT_EQ(s->width, 1208 * 4 - 62);
    EXPECT_EQ(s->crop_top, 26);
    EXPECT_EQ(s->height, 3160 - 26);
    EXPECT_EQ(s->no_camera_matrix, 0);
}

TEST(CameraRulesCanon, CompactsGetTheirPackedLayout) {
    auto a50 = camera({"Canon", "PowerShot A50", 960, 1280});
    apply_camera_rules(*a50);
    EXPECT_EQ(a50->height, 968);
    EXPECT_EQ(a50->width, 1290);
    EXPECT_EQ(a50->stored_width, 1320);
    EXPECT_EQ(a50->color_count, 4);
    EXPECT_EQ(a50->cfa_pattern, 0x1b4e4b1eu);
    EXPECT_EQ(a50->loader, LoaderId::packed_bits_load_raw);
    EXPECT_EQ(a50->packing_flags, 40);
    EXPECT_EQ(a50->zero_is_defect, 0);  // narrow sensor

    auto sd300 = camera({"Canon", "PowerShot SD300"});
    apply_camera_rules(*sd300);
    EXPECT_EQ(sd300->stored_height, 1766);
    EXPECT_EQ(sd300->stored_width, 2400);
    EXPECT_EQ(sd300->crop_top, 12);
    EXPECT_EQ(sd300->bits_per_sample, 10);
    EXPECT_EQ(sd300->zero_is_defect, 1);
    EXPECT_EQ(sd300->color_count, 3);
}

TEST(CameraRulesCanon, A610SizedFileWithBrightDataIsTheS2) {
    std::vector<uint8_t> file(400000, 3);
    file[3284 + 3340 * 50] = 16;
    auto s = camera({"Canon", "PowerShot A610"}, file);
    apply_camera_rules(*s);
    EXPECT_STREQ(s->model, "PowerShot S2 IS");
    EXPECT_EQ(s->width, 2616);

    auto plain = camera({"Canon", "PowerShot A610"}, std::vector<uint8_t>(400000, 15));
    apply_camera_rules(*plain);
    EXPECT_STREQ(plain->model, "PowerShot A610");
}

TEST(CameraRulesNikon, BodyCorrectionsTellExactNamesFromPrefixes) {
    struct Case {
        const char* model;
        int height, width;
    };
    const Case cases[] = {
        {"D70s", 2000, 3007},   // prefix D70
        {"D40X", 1997, 3004},   // exact row before the D40 prefix
        {"D40", 2000, 3007},
        {"D3000", 1997, 3004},  // exact row before the D300 prefix
        {"D300S", 2000, 2976},
        {"D3X", 2000, 3008},    // no rule
    };
    for (const Case& c : cases) {
        auto s = camera({"NIKON", c.model, 2000, 3008});
        apply_camera_rules(*s);
        EXPECT_EQ(s->height, c.height) << c.model;
        EXPECT_EQ(s->width, c.width) << c.model;
    }
}

TEST(CameraRulesNikon, D100UncompressedDataUnderTheCompressedTag) {
    std::vector<uint8_t> file(1000, 0);
    auto s = camera({"NIKON", "D100", 2000, 3037}, file);
    s->compression = 34713;
    s->raw_offset = 100;
    s->loader = LoaderId::nikon_huffman_load_raw;
    apply_camera_rules(*s);
    EXPECT_EQ(s->loader, LoaderId::packed_bits_load_raw);
    EXPECT_EQ(s->packing_flags & 1, 1);
    EXPECT_EQ(s->width, 3040);
    EXPECT_EQ(s->stored_width, 3043);

    file[100 + 31] = 7;  // coded data has no zero runs at these places
    auto coded = camera({"NIKON", "D100", 2000, 3037}, file);
    coded->compression = 34713;
    coded->raw_offset = 100;
    coded->loader = LoaderId::nikon_huffman_load_raw;
    apply_camera_rules(*coded);
    EXPECT_EQ(coded->loader, LoaderId::nikon_huffman_load_raw);
    EXPECT_EQ(coded->width, 3037);
}

std::vector<uint8_t> e995_file(int count_of_aa) {
    std::vector<uint8_t> file(4771840, 0x11);
    const size_t tail = file.size() - 2000;
    const uint8_t values[4] = {0x00, 0x55, 0xAA, 0xFF};
    for (int v = 0; v < 4; ++v) {
        const int count = values[v] == 0xAA ? count_of_aa : 300;
        for (int i = 0; i < count; ++i) file[tail + v * 400 + i] = values[v];
    }
    return file;
}

TEST(CameraRulesNikon, E995IsToldFromE990ByItsTestPattern) {
    auto s = camera({"NIKON", "E990"}, e995_file(200));
    apply_camera_rules(*s);
    EXPECT_STREQ(s->model, "E995");
    EXPECT_EQ(s->cfa_pattern, 0xe1e1e1e1u);
    EXPECT_EQ(s->no_camera_matrix, 1);  // left to the table under its own name
    EXPECT_EQ(s->height, 1540);
    EXPECT_EQ(s->width, 2064);
    EXPECT_EQ(s->color_count, 4);
    EXPECT_EQ(s->packing_flags, 6);

    auto e990 = camera({"NIKON", "E990"}, e995_file(199));
    apply_camera_rules(*e990);
    EXPECT_STREQ(e990->model, "E990");
    EXPECT_EQ(e990->cfa_pattern, 0xb4b4b4b4u);
    EXPECT_EQ(e990->no_camera_matrix, 0);
    EXPECT_FLOAT_EQ(e990->daylight_mul[0], 1.196f);

    // A dated file is never renamed, whatever its last bytes hold.
    auto dated = camera({"NIKON", "E990"}, e995_file(300));
    dated->capture_time = 1000000000;
    apply_camera_rules(*dated);
    EXPECT_STREQ(dated->model, "E990");
}

TEST(CameraRulesNikon, SharedSizeCompactsAreRenamedByTheirModelCode) {
    struct Case {
        uint8_t byte8, byte20;
        const char* make;
        const char* model;
        uint32_t cfa;
    };
    const Case cases[] = {
        {0x03, 0x02, "NIKON", "E3700", 0xffffffffu},
        {0x00, 0x03, "NIKON", "E3200", 0x49494949u},
        {0x00, 0x00, "PENTAX", "Optio 33WR", 0x16161616u},
        {0x01, 0x01, "NIKON", "E3700", 0xffffffffu},  // unknown code: unchanged
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> file(4775936, 0);
        file[3072 + 8] = c.byte8;
        file[3072 + 20] = c.byte20;
        auto s = camera({"NIKON", "E3700"}, file);
        apply_camera_rules(*s);
        EXPECT_STREQ(s->make, c.make) << c.model;
        EXPECT_STREQ(s->model, c.model);
        EXPECT_EQ(s->cfa_pattern, c.cfa) << c.model;
        EXPECT_EQ(s->packing_flags, 30);
    }
}

TEST(CameraRulesNikon, Z2IsToldFromE4300ByItsTail) {
    for (int non_zero : {20, 21}) {
        std::vector<uint8_t> file(5869568, 0);
        for (int i = 0; i < non_zero; ++i) file[file.size() - 1 - i * 3] = 1;
        auto s = camera({"NIKON", "E4300"}, file);
        apply_camera_rules(*s);
        const bool renamed = non_zero > 20;
        EXPECT_STREQ(s->make, renamed ? "Minolta" : "NIKON");
        EXPECT_EQ(s->packing_flags, renamed ? 30 : 6);
        EXPECT_EQ(s->loader, LoaderId::packed_bits_load_raw);
    }
}

TEST(CameraRulesFuji, SecondImageOfTwoIsReachedPastTheFirst) {
    struct Case {
        int layout, shot;
        int64_t offset;
        int stored_width;
    };
    const Case cases[] = {
        {0, 1, 1000 + int64_t(2000) * 3000 * 2, 3000},
        {1, 1, 1000 + 6000 * 2, 6000},
        {0, 0, 1000, 3000},
    };
    for (const Case& c : cases) {
        auto s = camera({"FUJIFILM", "FinePix S5Pro", 2000, 2800, 2000, 3000});
        s->raw_count = 2;
        s->shot_index = c.shot;
        s->diagonal_layout = c.layout;
        s->raw_offset = 1000;
        s->loader = LoaderId::unpacked_load_raw;
        apply_camera_rules(*s);
        EXPECT_EQ(s->raw_offset, c.offset) << c.layout << c.shot;
        EXPECT_EQ(s->stored_width, c.stored_width);
        EXPECT_EQ(s->white_level, c.shot ? 0x2f00 : 0x3e00);
        EXPECT_EQ(s->crop_left, 100);
    }
}

TEST(CameraRulesFuji, DiagonalSensorGeometry) {
    auto s = camera({"FUJIFILM", "FinePix S5600", 1444, 2880, 1444, 2944});
    s->loader = LoaderId::fuji_load_raw;
    apply_camera_rules(*s);
    EXPECT_EQ(s->diagonal_width, 1440);
    EXPECT_EQ(s->width, 1440 + 1444);
    EXPECT_EQ(s->height, 1440 + 1444 - 1);
    EXPECT_EQ(s->stored_height, 1444);
    EXPECT_EQ(s->cfa_pattern, 0x49494949u);
    EXPECT_EQ(s->crop_left, 32);

    auto s2 = camera({"FUJIFILM", "FinePixS2Pro", 2000, 3000});
    apply_camera_rules(*s2);
    EXPECT_STREQ(s2->model, "FinePix S2Pro");
    EXPECT_EQ(s2->orientation, 6);
    EXPECT_EQ(s2->height, 2144);
}

TEST(CameraRulesPanasonic, WidthVariantsContinueWithTheirBaseSettings) {
    struct Case {
        const char* make;
        int height, width;
        int out_height, out_width, crop_top, crop_left;
        uint32_t cfa;
    };
    const Case cases[] = {
        {"Panasonic", 2760, 3724, 2760, 3668, 0, 0, 0x16161616u},
        {"Panasonic", 2400, 3130, 2326, 3096, 13, 4, 0x49494949u},
        {"Panasonic", 2439, 4330, 2400, 4248, 15, 17, 0xffffffffu},
        {"Panasonic", 2799, 3770, 2760, 3672, 15, 17, 0xffffffffu},
        {"Panasonic", 2250, 4060, 2250, 3982, 0, 0, 0x16161616u},  // joins 3836 after its width step
        {"LEICA", 2760, 3836, 2760, 3794, 0, 0, 0x16161616u},
    };
    for (const Case& c : cases) {
        auto s = camera({c.make, "DMC-X", c.height, c.width});
        apply_camera_rules(*s);
        EXPECT_EQ(s->height, c.out_height) << c.width;
        EXPECT_EQ(s->width, c.out_width) << c.width;
        EXPECT_EQ(s->crop_top, c.crop_top) << c.width;
        EXPECT_EQ(s->crop_left, c.crop_left) << c.width;
        EXPECT_EQ(s->cfa_pattern, c.cfa) << c.width;
        EXPECT_EQ(s->white_level, 0xfff0);
        EXPECT_EQ(s->loader, LoaderId::unpacked_load_raw);
    }
    auto leica = camera({"LEICA", "D-LUX 4", 2760, 3836});
    apply_camera_rules(*leica);
    EXPECT_EQ(leica->no_camera_matrix, 0);  // looked up as the Panasonic twin
}

TEST(CameraRulesPanasonic, BlockLoaderChosenWhenTheDataFillsTheRows) {
    const int height = 30, width = 70;  // rows of 80 bytes
    auto s = camera({"Panasonic", "DMC-X", height, width}, std::vector<uint8_t>(512 + height * 80));
    s->raw_offset = 512;
    apply_camera_rules(*s);
    EXPECT_EQ(s->loader, LoaderId::panasonic_block_load_raw);

    // No width, or data starting past the end, must not select (or divide by) anything.
    auto empty = camera({"Panasonic", "DMC-X", height, 0}, std::vector<uint8_t>(100));
    apply_camera_rules(*empty);
    EXPECT_EQ(empty->loader, LoaderId::unpacked_load_raw);
    auto beyond = camera({"Panasonic", "DMC-X", 0, width}, std::vector<uint8_t>(100));
    beyond->raw_offset = 5000;
    apply_camera_rules(*beyond);
    EXPECT_EQ(beyond->loader, LoaderId::unpacked_load_raw);
}

TEST(CameraRulesMinolta, ThreeMarketNamesShareOneColourEntry) {
    for (const char* model : {"DYNAX 7D", "MAXXUM 7D", "ALPHA-7 DIGITAL"}) {
        auto s = camera({"MINOLTA", model, 2000, 3000});
        apply_camera_rules(*s);
        EXPECT_EQ(s->no_camera_matrix, 0) << model;
        EXPECT_EQ(s->loader, LoaderId::packed_bits_load_raw) << model;
        EXPECT_EQ(s->white_level, 4095);
    }
    // A bare name has no number after it: nothing to look up, nothing read past it.
    auto bare = camera({"MINOLTA", "DYNAX", 2000, 3000});
    apply_camera_rules(*bare);
    EXPECT_EQ(bare->no_camera_matrix, 1);
}

TEST(CameraRulesOthers, RepresentativeRulesPerMaker) {
    auto kd = camera({"Konica", "KD-510Z"});
    kd->raw_offset = 100;
    apply_camera_rules(*kd);
    EXPECT_EQ(kd->raw_offset, 114);
    EXPECT_EQ(kd->stored_width, 2624);
    EXPECT_EQ(kd->byte_order, 0x4d4d);
    EXPECT_EQ(kd->white_level, 991);
    EXPECT_EQ(kd->loader, LoaderId::unpacked_load_raw);

    auto optio = camera({"PENTAX", "Optio S"}, std::vector<uint8_t>(3178560));
    optio->as_shot_mul[0] = 1.5f;
    apply_camera_rules(*optio);
    EXPECT_EQ(optio->loader, LoaderId::eight_bit_load_raw);
    EXPECT_FLOAT_EQ(optio->as_shot_mul[0], 6.0f);
    EXPECT_EQ(optio->width, 2064);

    auto hb = camera({"Hasselblad", "CFV", 4096, 4090});
    hb->loader = LoaderId::lossless_image_load_raw;
    apply_camera_rules(*hb);
    EXPECT_EQ(hb->loader, LoaderId::hasselblad_ljpeg_load_raw);
    EXPECT_STREQ(hb->model, "V96C");
    EXPECT_EQ(hb->height, 4090);
    EXPECT_EQ(hb->width, 4087);

    auto leaf = camera({"Leaf", "", 2048, 2048});
    leaf->samples_per_pixel = 1;
    apply_camera_rules(*leaf);
    EXPECT_STREQ(leaf->model, "CatchLight");
    EXPECT_EQ(leaf->cfa_pattern, 1u);
    EXPECT_STREQ(leaf->color_letters, "RBTG");
    EXPECT_EQ(leaf->width, 2016);

    auto sony = camera({"SONY", "DSLR-A100", 2616, 3872});
    apply_camera_rules(*sony);
    EXPECT_EQ(sony->height, 2615);
    EXPECT_EQ(sony->width, 3873);
    EXPECT_EQ(sony->stored_width, 3873);

    auto casio = camera({"CASIO", "EX-Z60"});
    apply_camera_rules(*casio);
    EXPECT_EQ(casio->stored_width, 3584);
    EXPECT_EQ(casio->bits_per_sample, 10);
    EXPECT_EQ(casio->cfa_pattern, 0x16161616u);

    auto p600 = camera({"CASIO", "EX-P600"}, std::vector<uint8_t>(9313536));
    apply_camera_rules(*p600);
    EXPECT_EQ(p600->stored_width, 4288);

    // A Rollei whose container already chose a loader is left as it is.
    auto rollei = camera({"Rollei", "d530flex", 1000, 1316});
    rollei->loader = LoaderId::unpacked_load_raw;
    apply_camera_rules(*rollei);
    EXPECT_EQ(rollei->cfa_pattern, 0xffffffffu);
}

TEST(CameraRulesOthers, SinarLayeredFileTakesItsSizeFromTheHeader) {
    ostel::test::ByteBuilder b(false);
    b.text("8BPS").pad_to(14).u32(2048).u32(3072);
    auto s = camera({"Sinar", "", 0, 0}, b.take());
    s->byte_order = 0x4d4d;
    apply_camera_rules(*s);
    EXPECT_EQ(s->height, 2048);
    EXPECT_EQ(s->width, 3072);
    EXPECT_EQ(s->raw_offset, 68);
    EXPECT_EQ(s->loader, LoaderId::unpacked_load_raw);
    EXPECT_EQ(s->white_level, 0x3fff);
}

TEST(CameraRulesOthers, OlympusPreviewOnlyInsideTheFile) {
    auto big = camera({"OLYMPUS", "SP550UZ", 2325, 3088}, std::vector<uint8_t>(0xa39800 + 5000));
    big->exif_cfa_pattern = 0x94949494;
    apply_camera_rules(*big);
    EXPECT_EQ(big->thumb_offset, 0xa39800);
    EXPECT_EQ(big->thumb_length, 5000);
    EXPECT_EQ(big->height, 2326);
    EXPECT_EQ(big->cfa_pattern, 0x94949494u);

    auto small = camera({"OLYMPUS", "SP550UZ", 2326, 3088}, std::vector<uint8_t>(1000));
    apply_camera_rules(*small);
    EXPECT_EQ(small->thumb_length, 0);
}

TEST(CameraRulesKodak, EightBitDataTakesItsCurveFromTheFile) {
    // 3160 bytes of header before a full frame: the stored curve is used.
    ostel::test::ByteBuilder b(true);
    b.pad_to(168);
    for (int i = 0; i < 256; ++i) b.u16(i * 100);
    b.pad_to(3160 + 2152 * 2864);
    auto s = camera({"Kodak", "C603"}, b.take());
    s->byte_order = 0x4d4d;
    apply_camera_rules(*s);
    EXPECT_EQ(s->raw_offset, 3160);
    EXPECT_EQ(s->byte_order, 0x4949);
    EXPECT_EQ(s->loader, LoaderId::eight_bit_load_raw);
    EXPECT_EQ(s->lin_table[255], 25500);

    // A bare frame uses the built curve.
    auto bare = camera({"Kodak", "C603"}, std::vector<uint8_t>(2152 * 2864));
    apply_camera_rules(*bare);
    EXPECT_EQ(bare->raw_offset, 0);
    EXPECT_EQ(bare->lin_table[255], 0xffff);

    // Shorter than one frame: refused rather than reading before the file.
    auto short_file = camera({"Kodak", "C603"}, std::vector<uint8_t>(1000));
    apply_camera_rules(*short_file);
    EXPECT_EQ(short_file->raw_count, 0);
}

TEST(CameraRules, CorrectionsNeverLeaveANegativeSize) {
    auto s = camera({"NIKON", "D5000", 1, 10});
    apply_camera_rules(*s);
    EXPECT_EQ(s->width, 0);
}

}  // namespace
