// Loaders of the older cameras (Rollei, Minolta RD175, PowerShot 600, SMaL),
// and every loader of this family on truncated or hostile input.
#include <gtest/gtest.h>

#include <random>

#include "core/loaders/loaders.h"
#include "loaders_legacy_fixture.h"
#include "tests/support/byte_builder.h"

using ostel::core::DecoderSession;
using ostel::core::LoaderId;
using ostel::test::ByteBuilder;
using ostel::test::plane;
using ostel::test::prepare;

TEST(RolleiLoader, TenBytesGiveFiveFrontAndThreeBackValues) {
    // High six bits of the first bytes: 1..5; low bits and second bytes
    // make the front values. A trailing partial group is ignored.
    ByteBuilder b;
    for (int i = 0; i < 5; ++i) b.u8(((i + 1) << 2) | 1).u8(0x20 + i);
    b.u8(0xFF).u8(0xFF);
    DecoderSession s;
    prepare(s, b.take(), {8, 1, 8, 1});
    ostel::core::rollei_packed_load_raw(s);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(plane(s, 0, i, 0), 0x100 | (0x20 + i)) << i;
    // Back run starts at 8 x 1 x 5 / 8 = 5: buffer 1,2,3,4,5 in 6-bit groups.
    EXPECT_EQ(plane(s, 0, 5, 0), 16);
    EXPECT_EQ(plane(s, 0, 6, 0), 524);
    EXPECT_EQ(plane(s, 0, 7, 0), 261);
    EXPECT_EQ(s.white_level, 1023);
}

TEST(MinoltaRd175Loader, TransposedRowsLandInsideTheImage) {
    auto value = [](int irow) { return irow % 250 + 1; };
    std::vector<uint8_t> bytes;
    for (int irow = 0; irow < 1481; ++irow) bytes.insert(bytes.end(), 768, static_cast<uint8_t>(value(irow)));
    DecoderSession s;
    prepare(s, bytes, {1534, 986, 1534, 986});
    ostel::core::minolta_rd175_loader(s);
    // Input row 984 (box 12) fills even columns of image row 0.
    EXPECT_EQ(plane(s, 0, 0, 0), 2 * value(984));
    // Input row 82 (odd box 1) fills every column of row 1, toggling into
    // row 0 at odd columns; it replaces what input row 0 (box 0) wrote there.
    EXPECT_EQ(plane(s, 1, 0, 0), 2 * value(82));
    EXPECT_EQ(plane(s, 1, 1532, 0), 2 * value(82));
    EXPECT_EQ(plane(s, 0, 1, 0), 2 * value(82));
    // The special last rows: 1476 -> 984, 1478 and then 1480 -> 985.
    EXPECT_EQ(plane(s, 984, 0, 0), 2 * value(1476));
    EXPECT_EQ(plane(s, 985, 0, 0), 2 * value(1478));
    EXPECT_EQ(plane(s, 985, 1, 0), 2 * value(1480));
    EXPECT_EQ(s.white_level, 510);
    EXPECT_EQ(s.short_read_count, 0);
}

TEST(Canon600Loader, InterlacedRowsBlackGainsBalanceAndMatrix) {
    // Three rows of 1120 bytes; every pixel of input row k is 4 x (50 + 10k).
    std::vector<uint8_t> bytes;
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 1120; ++i) bytes.push_back(i % 10 == 1 || i % 10 == 9 ? 0 : uint8_t(50 + 10 * k));
    for (const bool flash : {false, true}) {
        DecoderSession s;
        s.flash_used = flash;
        prepare(s, bytes, {896, 3, 4, 3});
        ostel::core::canon_600_loader(s);
        // Black = mean of columns 4..895 (240) - 4 = 236. Input rows go to
        // image rows 0, 2, 1.
        EXPECT_EQ(plane(s, 0, 0, 0), 0);                  // 200 - 236 < 0
        EXPECT_EQ(plane(s, 2, 0, 0), 4 * 1178 >> 9);      // 240 - 236, gain (2, 0)
        EXPECT_EQ(plane(s, 2, 1, 0), 4 * 1149 >> 9);
        EXPECT_EQ(plane(s, 1, 0, 0), 44 * 1128 >> 9);     // 280 - 236, gain (1, 0)
        EXPECT_EQ(plane(s, 1, 1, 0), 44 * 1109 >> 9);
        EXPECT_EQ(s.white_level, (1134507 - 236 * 1109) >> 9);
        EXPECT_EQ(s.black_level, 0);
        // Daylight balance between the 1119 and 1399 rows.
        const double frac = (1311.0 - 1119) / (1399 - 1119);
        EXPECT_NEAR(s.daylight_mul[0], 1 / (frac * 485 + (1 - frac) * 396), 1e-9);
        EXPECT_NEAR(s.daylight_mul[3], 1 / (frac * 688 + (1 - frac) * 537), 1e-9);
        // Those multipliers select matrix 1; flash always selects matrix 5.
        EXPECT_FLOAT_EQ(s.cam_to_out[0][0], (flash ? -807 : -1203) / 1024.0f);
        EXPECT_FLOAT_EQ(s.cam_to_out[2][3], (flash ? -1555 : -3409) / 1024.0f);
        EXPECT_EQ(s.no_camera_matrix, 0);
    }
}

TEST(SmalV9Loader, HoleRowsAreInterpolated) {
    // No coded segments; hole mask bit 4 marks row 4 of 8 as a hole.
    ByteBuilder b;
    b.zeros(67).u32(92).u8(0).zeros(6).u8(0x10).zeros(9).u32(0);
    DecoderSession s;
    prepare(s, b.take(), {8, 8, 8, 8});
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) s.image[size_t(r) * 8 + c][0] = uint16_t(r == 4 ? 0 : 10 * r + c);
    ostel::core::smal_v9_loader(s);
    // Columns 1, 5: median of the diagonal neighbours (30, 32, 50, 52) -> 41.
    EXPECT_EQ(plane(s, 4, 1, 0), 41);
    EXPECT_EQ(plane(s, 4, 5, 0), 45);
    // Column 2: median of left/right (0, 0) and up/down (22, 62) -> 11.
    EXPECT_EQ(plane(s, 4, 2, 0), 11);
    EXPECT_EQ(plane(s, 4, 3, 0), 0);
    EXPECT_EQ(plane(s, 3, 1, 0), 31);
    EXPECT_EQ(s.white_level, 255);
}

// Every loader of the family, on data that is too short or random, must end
// without touching memory outside the image, without hanging, and with the
// data errors counted: a short file never passes for a decoded image.
TEST(LegacyLoadersHostile, TruncatedAndRandomInputEndsCleanly) {
    const LoaderId ids[] = {
        LoaderId::phase_one_load_raw,   LoaderId::phase_one_load_raw_c,      LoaderId::sinar_4shot_load_raw,
        LoaderId::leaf_planes_load_raw, LoaderId::rgb48_load_raw,            LoaderId::hasselblad_ljpeg_load_raw,
        LoaderId::kodak_yrgb_load_raw,  LoaderId::kodak_262_load_raw,        LoaderId::kodak_block_load_raw,
        LoaderId::kodak_ycc_load_raw,   LoaderId::kodak_rgb16_load_raw,      LoaderId::kodak_thumb_rgb_load_raw,
        LoaderId::minolta_rd175_loader, LoaderId::rollei_packed_load_raw,    LoaderId::smal_v6_loader,
        LoaderId::smal_v9_loader,       LoaderId::canon_600_loader,
    };
    std::mt19937 rng(7);
    for (const LoaderId id : ids)
        for (const size_t size : {size_t(0), size_t(5), size_t(3000)}) {
            std::vector<uint8_t> bytes(size);
            for (auto& v : bytes) v = static_cast<uint8_t>(rng());
            DecoderSession s;
            s.raw_offset = 0;
            s.phase_one.key_offset = 1;
            s.phase_one.strip_offset = 2;
            s.phase_one.black_offset = 3;
            s.aux_offset = 4;
            s.aux_length = size > 4 ? int64_t(size - 4) : 0;
            s.samples_per_pixel = 3;
            s.tile_length = 3;
            s.thumb_format = (7 << 5) | 31;
            prepare(s, bytes, {40, 24, 36, 22, 1, 2, 0x94949494});
            ostel::core::run_loader(s, id);
            const std::string what = std::string(ostel::core::loader_name(id)) + " size " + std::to_string(size);
            EXPECT_EQ(s.image.size(), size_t(s.image_width) * size_t(s.image_height)) << what;
            if (size < 3000) {
                EXPECT_GT(s.short_read_count, 0) << what;
            }
        }
}
