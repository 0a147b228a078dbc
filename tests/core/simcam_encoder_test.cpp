// The simulated camera's own pieces: its lossless JPEG streams decode with
// the core's decoder, and the sensor model keeps to its levels and seed.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/ljpeg/ljpeg.h"
#include "core/session/decoder_session.h"
#include "tools/simcam/camera.h"
#include "tools/simcam/ljpeg_encoder.h"

namespace {

using namespace ostel::simcam;

struct LjpegCase {
    int components, bits, predictor, restart_lines;
};

class SimcamLjpeg : public ::testing::TestWithParam<LjpegCase> {};

TEST_P(SimcamLjpeg, CoreDecoderReadsBackEverySample) {
    const LjpegCase& c = GetParam();
    LjpegFrame f;
    f.wide = 37;
    f.high = 23;
    f.components = c.components;
    f.bits = c.bits;
    f.predictor = c.predictor;
    f.restart_interval = c.restart_lines * f.wide;
    // Random values over the full range: every difference length, 0xFF
    // bytes to stuff, and for 16 bits the difference of -32768.
    Rng rng(42 + static_cast<uint64_t>(c.bits));
    const size_t line = size_t(f.wide) * size_t(f.components);
    std::vector<uint16_t> samples(line * size_t(f.high));
    for (auto& v : samples) v = static_cast<uint16_t>(rng.next() & ((1u << c.bits) - 1));
    if (c.bits == 16) {
        samples[0] = 0;
        samples[size_t(f.components)] = 0x8000;
    }
    const auto stream = encode_ljpeg(f, samples);

    ostel::core::DecoderSession s;
    s.dng_version = 0x01040000;  // one-component frames are read as written only in DNG files
    s.input = ostel::core::ByteSource(stream);
    ostel::core::LjpegHeader jh;
    ASSERT_EQ(ostel::core::parse_ljpeg_header(s, jh, false), 1);
    ASSERT_EQ(jh.wide, f.wide);
    ASSERT_EQ(jh.high, f.high);
    ASSERT_EQ(jh.clrs, f.components);
    ASSERT_EQ(jh.bits, f.bits);
    for (int row = 0; row < f.high; ++row) {
        const uint16_t* got = ostel::core::decode_ljpeg_row(s, row, jh);
        ASSERT_NE(got, nullptr);
        ASSERT_TRUE(std::equal(got, got + line, samples.begin() + static_cast<long>(line * size_t(row))))
            << "line " << row;
    }
    ostel::core::release_ljpeg(jh);
    EXPECT_EQ(s.short_read_count, 0);
}

INSTANTIATE_TEST_SUITE_P(Frames, SimcamLjpeg,
                         ::testing::Values(LjpegCase{2, 12, 1, 0}, LjpegCase{2, 14, 1, 0}, LjpegCase{1, 16, 1, 0},
                                           LjpegCase{4, 8, 1, 0}, LjpegCase{2, 12, 4, 0}, LjpegCase{3, 10, 7, 0},
                                           LjpegCase{2, 12, 6, 5}, LjpegCase{1, 16, 1, 3}),
                         [](const ::testing::TestParamInfo<LjpegCase>& i) {
                             const auto& c = i.param;
                             return "c" + std::to_string(c.components) + "_b" + std::to_string(c.bits) + "_p" +
                                    std::to_string(c.predictor) + "_r" + std::to_string(c.restart_lines);
                         });

TEST(SimcamSensor, MosaicKeepsLevelsPatternAndSeed) {
    Camera cam;
    cam.width = 96;
    cam.height = 64;
    cam.black = 200;
    cam.white = 3000;
    cam.noise_sigma = 40;
    cam.seed = 7;
    Scene bright;
    bright.exposure = 4;  // clips the light patches at the white level
    const Mosaic m = render_mosaic(bright, cam);
    const auto [lo, hi] = std::minmax_element(m.values.begin(), m.values.end());
    EXPECT_GE(*lo, 0);
    EXPECT_EQ(*hi, 3000);

    // Same seed, same readout; another seed changes it.
    EXPECT_EQ(render_mosaic(bright, cam).values, m.values);
    Camera other = cam;
    other.seed = 8;
    EXPECT_NE(render_mosaic(bright, other).values, m.values);

    // Noise-free flat field: every site of one colour has one value, the
    // black level sits under a black scene.
    cam.noise_sigma = 0;
    Scene flat;
    flat.kind = SceneKind::flat;
    const Mosaic f = render_mosaic(flat, cam);
    for (int r = 2; r < cam.height; ++r)
        for (int c = 0; c < cam.width; ++c) ASSERT_EQ(f.at(r, c), f.at(r & 1, c & 1)) << r << "," << c;
    flat.flat_level = 0;
    EXPECT_EQ(render_mosaic(flat, cam).at(5, 5), 200);
}

TEST(SimcamSensor, ChartPatchesLandOnTheirFilterColours) {
    Camera cam;  // red-green-green-blue
    cam.width = 120;
    cam.height = 80;
    cam.black = 0;
    Scene chart;
    chart.kind = SceneKind::chart;
    const Mosaic m = render_mosaic(chart, cam);
    // Centre of patch (row, col) of the 6 x 4 chart, on an even site.
    auto patch = [&](int pr, int pc, int dr, int dc) {
        const int r = (pr * 20 + 10) & ~1, c = (pc * 20 + 10) & ~1;
        return m.at(r + dr, c + dc);
    };
    // Red patch (third row, fifth column): red sites beat blue sites.
    EXPECT_GT(patch(2, 2, 0, 0), 2 * patch(2, 2, 1, 1));
    // Blue patch (third row, first column): the other way round.
    EXPECT_GT(patch(2, 0, 1, 1), 2 * patch(2, 0, 0, 0));
    // Grey row gets darker from white to black on the green sites.
    for (int pc = 1; pc < 6; ++pc) EXPECT_LT(patch(3, pc, 0, 1), patch(3, pc - 1, 0, 1));
}

}  // namespace
